// The session on Linux: the host's graph, file source and class table.
#include "filter_session.h"

#include "host/file_reader.h"

namespace flvdmx::cli {

FilterSession::~FilterSession() {
  for (OutputPinInfo& pin : m_Pins) pin.pPin->Release();
  m_Pins.clear();
  if (m_pGraph != nullptr) {
    m_pGraph->RemoveAllFilters();
    m_pGraph->Release();
  }
  if (m_pFilter != nullptr) m_pFilter->Release();
  if (m_pSource != nullptr) m_pSource->Release();
  if (m_pReader != nullptr) m_pReader->Release();
}

bool FilterSession::Open(const std::string& file, SessionError* pError) {
  if (!OpenFile(file, pError)) return false;
  HRESULT hr = CFileSource::Create(m_pReader, &m_pSource);
  if (SUCCEEDED(hr)) hr = CreateFlvFilter(&m_pFilter);
  if (SUCCEEDED(hr)) hr = CHostGraph::Create(&m_pGraph);
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pSource->AsBaseFilter(), L"Source");
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pFilter, L"Orvex FLV Demultiplexer");
  if (FAILED(hr)) {
    *pError = {"cannot build the filter graph", hr};
    return false;
  }
  IPin* pInput = FirstPin(m_pFilter, PINDIR_INPUT);
  hr = pInput != nullptr ? m_pGraph->Connect(m_pSource->OutputPin(), pInput) : E_UNEXPECTED;
  if (pInput != nullptr) pInput->Release();
  if (FAILED(hr)) {
    *pError = DescribeConnectFailure(hr);
    return false;
  }
  return ListOutputPins(pError);
}

HRESULT FilterSession::ConnectSink(IPin* pOutput, IBaseFilter* pSink, IPin* pSinkInput) {
  HRESULT hr = m_pGraph->AddFilter(pSink, nullptr);
  if (FAILED(hr)) return hr;
  return m_pGraph->Connect(pOutput, pSinkInput);
}

HRESULT FilterSession::GetSeeking(IMediaSeeking** ppSeeking) { return m_pGraph->GetSeeking(ppSeeking); }

HRESULT FilterSession::Play(const std::function<void()>& onTick, DWORD dwTickMs) {
  HRESULT hr = m_pGraph->Run();
  if (FAILED(hr)) return hr;
  LONG lCode = 0;
  for (;;) {
    hr = m_pGraph->WaitForCompletion(dwTickMs, &lCode);
    if (hr != E_ABORT) break;
    if (onTick) onTick();
  }
  m_pGraph->Stop();
  if (FAILED(hr)) return hr;
  if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX) {
    for (const CHostGraph::Event& event : m_pGraph->PeekEvents()) {
      if (event.lCode == EC_ERRORABORT || event.lCode == EC_ERRORABORTEX)
        return FAILED(static_cast<HRESULT>(event.lParam1)) ? static_cast<HRESULT>(event.lParam1) : E_FAIL;
    }
    return E_FAIL;
  }
  return S_OK;
}

void FilterSession::RequestEnd() { m_pGraph->Notify(EC_USERABORT, 0, 0); }

}  // namespace flvdmx::cli

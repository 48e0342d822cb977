// The session on Linux: the host's graph, file source and class table.
#include "filter_session.h"

#include "flv_filter.h"

namespace flvdmx::cli {

FilterSession::~FilterSession() {
  m_Pins.clear();
  if (m_pGraph) m_pGraph->RemoveAllFilters();
  m_pGraph.Reset();
  m_pFilter.Reset();
  m_pSource.Reset();
  m_pReader.Reset();
}

bool FilterSession::Open(const std::string& file, SessionError* pError) {
  if (!OpenFile(file, pError)) return false;
  HRESULT hr = CFileSource::Create(m_pReader.Get(), m_pSource.Put());
  if (SUCCEEDED(hr)) hr = CreateFlvFilter(m_pFilter.Put());
  if (SUCCEEDED(hr)) hr = CHostGraph::Create(m_pGraph.Put());
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pSource->AsBaseFilter(), L"Source");
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pFilter.Get(), L"Orvex FLV Demultiplexer");
  if (FAILED(hr)) {
    *pError = {"cannot build the filter graph", hr};
    return false;
  }
  const ComPtr<IPin> pInput = FirstPin(m_pFilter.Get(), PINDIR_INPUT);
  hr = pInput ? m_pGraph->Connect(m_pSource->OutputPin(), pInput.Get()) : E_UNEXPECTED;
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

HRESULT FilterSession::GetSeeking(IMediaSeeking** ppSeeking) {
  return m_pGraph->GetSeeking(ppSeeking);
}

HRESULT FilterSession::RunGraph(const std::function<void()>& onTick, DWORD dwTickMs) {
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
        return FAILED(static_cast<HRESULT>(event.lParam1)) ? static_cast<HRESULT>(event.lParam1)
                                                           : E_FAIL;
    }
    return E_FAIL;
  }
  return S_OK;
}

void FilterSession::RequestEnd() { m_pGraph->Notify(EC_USERABORT, 0, 0); }

}  // namespace flvdmx::cli

// The session on Windows: the platform's graph manager, its file source and
// the filter from its registration, as a player builds the graph.
#include "filter_session.h"

#include <string>
#include <utility>

#include "flv_filter.h"
#include "counting_source_pin.h"
#include "host/file_reader.h"

namespace flvdmx::cli {

namespace {

std::wstring WidePath(const std::string& file) {
  const int cch = MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, nullptr, 0);
  if (cch <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(cch), L'\0');
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide.data(), cch);
  wide.resize(static_cast<size_t>(cch - 1));
  return wide;
}

// Connects the source's pin to the filter through a CCountingSourcePin, so
// that the filter reads the source's reader through a counting one, which
// *ppReader receives.
HRESULT ConnectCounted(IGraphBuilder* pBuilder, IPin* pOutput, IPin* pInput,
                       ComPtr<CCountingReader>* ppReader) {
  ComPtr<IAsyncReader> pSourceReader;
  HRESULT hr =
      pOutput->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(pSourceReader.Put()));
  if (FAILED(hr)) return hr;
  auto pReader = ComPtr<CCountingReader>::Attach(new CCountingReader(pSourceReader.Get()));
  // The filter's input pin holds the pin while connected.
  auto pPin = ComPtr<CCountingSourcePin>::Attach(new CCountingSourcePin(pOutput, pReader.Get()));
  hr = pBuilder->ConnectDirect(pPin.Get(), pInput, nullptr);
  if (FAILED(hr)) return hr;
  *ppReader = std::move(pReader);
  return S_OK;
}

}  // namespace

FilterSession::~FilterSession() {
  m_Pins.clear();
  if (m_pControl) m_pControl->Stop();
  // Taking the filters out disconnects them, so nothing holds the graph's
  // filters in a cycle of pin references.
  if (m_pBuilder) {
    if (m_pFilter) m_pBuilder->RemoveFilter(m_pFilter.Get());
    if (m_pSource) m_pBuilder->RemoveFilter(m_pSource.Get());
  }
  m_pEvent.Reset();
  m_pControl.Reset();
  m_pFilter.Reset();
  m_pSource.Reset();
  m_pBuilder.Reset();
  m_pReader.Reset();
}

bool FilterSession::Open(const std::string& file, SessionError* pError) {
  if (!OpenFile(file, pError)) return false;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(m_pBuilder.Put()));
  if (SUCCEEDED(hr))
    hr = m_pBuilder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(m_pControl.Put()));
  if (SUCCEEDED(hr))
    hr = m_pBuilder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(m_pEvent.Put()));
  if (FAILED(hr)) {
    *pError = {"cannot create the platform's filter graph", hr};
    return false;
  }
  hr = CreateFlvFilter(m_pFilter.Put());
  if (FAILED(hr)) {
    *pError = {hr == REGDB_E_CLASSNOTREG
                   ? "the Orvex FLV Demultiplexer is not registered (regsvr32 OXFLVDmxx.dll)"
                   : "cannot create the Orvex FLV Demultiplexer",
               hr};
    return false;
  }
  const std::wstring path = WidePath(file);
  hr = m_pBuilder->AddSourceFilter(path.c_str(), L"Source", m_pSource.Put());
  if (SUCCEEDED(hr)) hr = m_pBuilder->AddFilter(m_pFilter.Get(), L"Orvex FLV Demultiplexer");
  if (FAILED(hr)) {
    *pError = {"cannot build the filter graph", hr};
    return false;
  }
  const ComPtr<IPin> pOutput = FirstPin(m_pSource.Get(), PINDIR_OUTPUT);
  const ComPtr<IPin> pInput = FirstPin(m_pFilter.Get(), PINDIR_INPUT);
  ComPtr<CCountingReader> pCounted;
  hr = pOutput && pInput ? ConnectCounted(m_pBuilder.Get(), pOutput.Get(), pInput.Get(), &pCounted)
                         : E_UNEXPECTED;
  if (FAILED(hr)) {
    *pError = DescribeConnectFailure(hr);
    return false;
  }
  // From here on the tool reads, and counts, what the filter reads.
  m_pReader = std::move(pCounted);
  return ListOutputPins(pError);
}

HRESULT FilterSession::ConnectSink(IPin* pOutput, IBaseFilter* pSink, IPin* pSinkInput) {
  const std::wstring name = L"Sink " + std::to_wstring(++m_cSinks);
  HRESULT hr = m_pBuilder->AddFilter(pSink, name.c_str());
  if (FAILED(hr)) return hr;
  return m_pBuilder->ConnectDirect(pOutput, pSinkInput, nullptr);
}

HRESULT FilterSession::GetSeeking(IMediaSeeking** ppSeeking) {
  if (ppSeeking == nullptr) return E_POINTER;
  return m_pBuilder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
}

HRESULT FilterSession::RunGraph(const std::function<void()>& onTick, DWORD dwTickMs) {
  m_bEndRequested = false;
  HRESULT hr = m_pControl->Run();
  if (FAILED(hr)) return hr;
  HRESULT hrResult = S_OK;
  while (!m_bEndRequested) {
    LONG lCode = 0;
    LONG_PTR lParam1 = 0;
    LONG_PTR lParam2 = 0;
    hr = m_pEvent->GetEvent(&lCode, &lParam1, &lParam2, static_cast<LONG>(dwTickMs));
    if (hr == E_ABORT) {
      if (onTick) onTick();
      continue;
    }
    if (FAILED(hr)) {
      hrResult = hr;
      break;
    }
    m_pEvent->FreeEventParams(lCode, lParam1, lParam2);
    if (lCode == EC_COMPLETE || lCode == EC_USERABORT) break;
    if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX) {
      hrResult = FAILED(static_cast<HRESULT>(lParam1)) ? static_cast<HRESULT>(lParam1) : E_FAIL;
      break;
    }
  }
  m_pControl->Stop();
  return hrResult;
}

// Called on a sink's delivery thread: only flags the wait, which looks at the
// flag between events; stopping the graph from here would wait for this very
// thread.
void FilterSession::RequestEnd() { m_bEndRequested = true; }

}  // namespace flvdmx::cli

#include "framework/base_dmx.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "diag/result_name.h"
#include "diag/trace.h"
#include "framework/dmx_input_pin.h"
#include "framework/dmx_output_pin.h"

namespace flvdmx {

namespace {

constexpr size_t kPinNameChars = 16;
constexpr LONG kMinBuffers = 1;
constexpr LONG kMinBufferBytes = 8192;
constexpr LONG kBufferAlign = 4;

}  // namespace

CBaseDmx::CBaseDmx(REFCLSID clsid, const wchar_t* pName, IUnknown* pUnk, HRESULT* phr,
                   int nMaxOutputPins)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid, phr),
      m_nMaxOutputPins(std::max(nMaxOutputPins, 0)),
      m_ppOutputPins(new (std::nothrow) CBaseDmxOutputPin*[std::max(nMaxOutputPins, 1)]()),
      m_ppSparePins(new (std::nothrow) CBaseDmxOutputPin*[std::max(nMaxOutputPins, 1)]()) {
  if ((!m_ppOutputPins || !m_ppSparePins) && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CBaseDmx::~CBaseDmx() {
  delete m_pInputPin;
  m_pInputPin = nullptr;
  RemoveAllOutputPins();
}

int CBaseDmx::GetPinCount() {
  CAutoLock lock(&m_csPinList);
  return m_nOutputPins + 1;
}

CBasePin* CBaseDmx::GetPin(int n) {
  CAutoLock lock(&m_csPinList);
  if (n < 0) return nullptr;
  if (n == 0) {
    if (m_pInputPin == nullptr) {
      wchar_t szName[kPinNameChars];
      std::swprintf(szName, kPinNameChars, L"Input %.2d", 1);
      HRESULT hr = S_OK;
      auto* pPin = new (std::nothrow) CBaseDmxInputPin(this, &m_csFilter, &hr, szName);
      if (pPin == nullptr) return nullptr;
      if (FAILED(hr)) {
        delete pPin;
        return nullptr;
      }
      m_pInputPin = pPin;
    }
    return m_pInputPin;
  }
  if (n > m_nOutputPins || !m_ppOutputPins) return nullptr;
  CBaseDmxOutputPin*& pSlot = m_ppOutputPins[n - 1];
  if (pSlot == nullptr) {
    wchar_t szName[kPinNameChars];
    std::swprintf(szName, kPinNameChars, L"Output %.2d", n);
    HRESULT hr = S_OK;
    auto* pPin = new (std::nothrow) CBaseDmxOutputPin(this, n - 1, &hr, szName);
    if (pPin == nullptr) return nullptr;
    pPin->AddOwnerReference();  // the table's
    pPin->SetInlineDelivery(m_bInlineDelivery);
    if (FAILED(hr)) {
      pPin->ReleaseOwnerReference();
      return nullptr;
    }
    pSlot = pPin;
  }
  return pSlot;
}

IPin* CBaseDmx::AcquirePin(int n) {
  CAutoLock lock(&m_csPinList);
  return CBaseFilter::AcquirePin(n);
}

STDMETHODIMP CBaseDmx::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  const FILTER_STATE previous = m_State;
  m_bStoppingPins = TRUE;
  const HRESULT hrStop = CBaseFilter::Stop();
  m_bStoppingPins = FALSE;
  if (SUCCEEDED(hrStop)) {
    CBaseDmxInputPin* pInput = ExistingInputPin();
    if (pInput != nullptr) pInput->StopStreaming();
    if (FAILED(StopStreaming())) m_State = previous;
  }
  return S_OK;
}

STDMETHODIMP CBaseDmx::Pause() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Paused) return S_OK;
  if (m_State == State_Running) return CBaseFilter::Pause();

  HRESULT hr = StartStreaming();
  if (FAILED(hr)) return hr;
  hr = CBaseFilter::Pause();
  if (FAILED(hr)) {
    // The base stops at the first pin that fails; the ones before it have
    // threads running that a later Stop (already stopped) would not end.
    m_bStoppingPins = TRUE;
    const int cPins = GetPinCount();
    for (int i = 0; i < cPins; ++i) {
      CBasePin* pPin = GetPin(i);
      if (pPin != nullptr && pPin->IsConnected()) pPin->Inactive();
    }
    m_bStoppingPins = FALSE;
    StopStreaming();
    return hr;
  }
  CBaseDmxInputPin* pInput = ExistingInputPin();
  if (pInput != nullptr) pInput->StartStreaming();
  return S_OK;
}

STDMETHODIMP CBaseDmx::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(&m_csFilter);
  return CBaseFilter::Run(tStart);
}

HRESULT CBaseDmx::ReportStreamError(HRESULT hr) {
  if (m_bFlushing || m_bStoppingPins) return S_OK;
  NotifyEvent(EC_ERRORABORT, hr, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  return hr;
}

HRESULT CBaseDmx::NotifyGraphOfError(HRESULT hr) {
  Trace("\n\n### NotifyGraphOfError(%p, %S): hr=%s\n", static_cast<void*>(this),
        GetName() != nullptr ? GetName() : L"NULL", GetResultName(hr));
  if (GetEventSink() != nullptr) NotifyEvent(EC_ERRORABORT, hr, 0);
  return hr;
}

HRESULT CBaseDmx::StartStreaming() { return S_OK; }

HRESULT CBaseDmx::StopStreaming() { return S_OK; }

HRESULT CBaseDmx::PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) {
  return S_OK;
}

HRESULT CBaseDmx::PinSetMediaType(int iPin, const CMediaType* pmt) { return S_OK; }

HRESULT CBaseDmx::PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) {
  return VFW_S_NO_MORE_ITEMS;
}

HRESULT CBaseDmx::PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                                      ALLOCATOR_PROPERTIES* pRequest) {
  if (pAlloc == nullptr || pRequest == nullptr) return E_POINTER;
  pRequest->cBuffers = std::max(pRequest->cBuffers, kMinBuffers);
  pRequest->cbBuffer = std::max(pRequest->cbBuffer, kMinBufferBytes);
  pRequest->cbAlign = kBufferAlign;
  ALLOCATOR_PROPERTIES actual{};
  return pAlloc->SetProperties(pRequest, &actual);
}

HRESULT CBaseDmx::PinCheckConnect(int iPin, IPin* pPeer) { return S_OK; }

HRESULT CBaseDmx::PinCompleteConnect(int iPin, IPin* pPeer) {
  SetMainSeekingPin(nullptr);
  return S_OK;
}

HRESULT CBaseDmx::PinBreakConnect(int iPin) {
  SetMainSeekingPin(nullptr);
  return S_OK;
}

HRESULT CBaseDmx::PinReceive(int iPin, IMediaSample* pSample) { return S_OK; }

HRESULT CBaseDmx::PinEndOfStream(int iPin) {
  CBaseDmxInputPin* pInput = GetInputPin();
  if (pInput != nullptr && pInput->IsConnected() && !pInput->IsEndOfStream()) return S_OK;
  return DeliverEndOfStream();
}

CBaseDmxOutputPin* CBaseDmx::AcquireOutputPin(int iIndex) {
  CAutoLock lock(&m_csPinList);
  CBaseDmxOutputPin* pPin = GetOutputPin(iIndex);
  if (pPin != nullptr) pPin->NonDelegatingAddRef();
  return pPin;
}

HRESULT CBaseDmx::DeliverEndOfStream() {
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    if (pPin->IsConnected()) pPin->DeliverEndOfStream();
    pPin->NonDelegatingRelease();
  }
  return S_OK;
}

HRESULT CBaseDmx::DeliverEndFlush() {
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    if (pPin->IsConnected()) pPin->DeliverEndFlush();
    pPin->NonDelegatingRelease();
  }
  m_bFlushing = FALSE;
  return S_OK;
}

HRESULT CBaseDmx::DeliverBeginFlush() {
  m_bFlushing = TRUE;
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    if (pPin->IsConnected()) pPin->DeliverBeginFlush();
    pPin->NonDelegatingRelease();
  }
  return S_OK;
}

HRESULT CBaseDmx::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    if (pPin->IsConnected()) pPin->DeliverNewSegment(tStart, tStop, dRate);
    pPin->NonDelegatingRelease();
  }
  return S_OK;
}

HRESULT CBaseDmx::AddOutputPin() {
  CAutoLock lock(&m_csPinList);
  if (m_nOutputPins >= m_nMaxOutputPins || !m_ppOutputPins) return E_FAIL;
  ++m_nOutputPins;
  IncrementPinVersion();
  return S_OK;
}

void CBaseDmx::RemoveOutputPin(int iIndex) {
  CBaseDmxOutputPin* pRemoved = nullptr;
  {
    CAutoLock lock(&m_csPinList);
    if (iIndex < 0 || iIndex >= m_nOutputPins) return;
    pRemoved = m_ppOutputPins[iIndex];
    for (int i = iIndex; i + 1 < m_nOutputPins; ++i) {
      m_ppOutputPins[i] = m_ppOutputPins[i + 1];
      if (m_ppOutputPins[i] != nullptr) m_ppOutputPins[i]->SetOutputIndex(i);
    }
    m_ppOutputPins[m_nOutputPins - 1] = nullptr;
    --m_nOutputPins;
  }
  if (pRemoved == nullptr) return;
  {
    CAutoLock lock(&m_csMainSeekingPin);
    if (m_pMainSeekingPin == pRemoved) m_pMainSeekingPin = nullptr;
  }
  pRemoved->ReleaseOwnerReference();
}

HRESULT CBaseDmx::RemoveAllOutputPins() {
  // The filter lock keeps a second caller off the spare table.
  CAutoLock filterLock(&m_csFilter);
  int cPins = 0;
  {
    // Emptied in one step, so an enumerator can neither see a half-empty
    // table nor make a pin for a slot that is about to be forgotten.
    CAutoLock lock(&m_csPinList);
    if (!m_ppOutputPins || !m_ppSparePins) return S_OK;
    cPins = m_nOutputPins;
    for (int i = 0; i < cPins; ++i) std::swap(m_ppSparePins[i], m_ppOutputPins[i]);
    m_nOutputPins = 0;
  }
  if (cPins == 0) return S_OK;
  IncrementPinVersion();
  m_pVideoPin = nullptr;
  m_pAudioPin = nullptr;
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = m_ppSparePins[i];
    m_ppSparePins[i] = nullptr;
    if (pPin == nullptr) continue;
    DisconnectRemovedPin(pPin);
    {
      CAutoLock lock(&m_csMainSeekingPin);
      if (m_pMainSeekingPin == pPin) m_pMainSeekingPin = nullptr;
    }
    pPin->ReleaseOwnerReference();
  }
  return S_OK;
}

void CBaseDmx::DisconnectRemovedPin(CBaseDmxOutputPin* pPin) {
  IFilterGraph* pGraph = GetFilterGraph();
  IPin* pPeer = pPin->GetConnected();
  if (pGraph == nullptr || pPeer == nullptr) return;
  pPeer->AddRef();
  pGraph->Disconnect(pPeer);
  pGraph->Disconnect(static_cast<IPin*>(pPin));
  pPeer->Release();
}

CBaseDmxInputPin* CBaseDmx::GetInputPin() {
  CAutoLock lock(&m_csPinList);
  return static_cast<CBaseDmxInputPin*>(GetPin(0));
}

CBaseDmxInputPin* CBaseDmx::ExistingInputPin() {
  CAutoLock lock(&m_csPinList);
  return m_pInputPin;
}

IAsyncReader* CBaseDmx::GetReader() {
  CBaseDmxInputPin* pInput = ExistingInputPin();
  return pInput != nullptr ? pInput->GetReader() : nullptr;
}

int CBaseDmx::GetOutputPinCount() {
  CAutoLock lock(&m_csPinList);
  return m_nOutputPins;
}

CBaseDmxOutputPin* CBaseDmx::GetOutputPin(int iIndex) {
  CAutoLock lock(&m_csPinList);
  if (iIndex < 0 || iIndex >= m_nOutputPins) return nullptr;
  return static_cast<CBaseDmxOutputPin*>(GetPin(iIndex + 1));
}

HRESULT CBaseDmx::PinProcess(int iPin, CBaseDmxOutputPin* pPin) {
  if (pPin == nullptr) return E_POINTER;
  const HRESULT hr = pPin->DeliverEndOfStream();
  if (FAILED(hr)) ReportStreamError(hr);
  return S_OK;
}

CBaseDmxOutputPin* CBaseDmx::GetMainSeekingPin() {
  CAutoLock lock(&m_csMainSeekingPin);
  return m_pMainSeekingPin;
}

void CBaseDmx::SetMainSeekingPin(CBaseDmxOutputPin* pPin) {
  CAutoLock lock(&m_csMainSeekingPin);
  m_pMainSeekingPin = pPin;
}

BOOL CBaseDmx::ClaimMainSeekingPin(CBaseDmxOutputPin* pPin) {
  CAutoLock lock(&m_csMainSeekingPin);
  if (m_pMainSeekingPin == nullptr) m_pMainSeekingPin = pPin;
  return m_pMainSeekingPin == pPin ? TRUE : FALSE;
}

HRESULT CBaseDmx::RestartOutputPins(BOOL bFlush) {
  if (!bFlush) {
    const int cPins = GetOutputPinCount();
    for (int i = 0; i < cPins; ++i) {
      CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
      if (pPin == nullptr) continue;
      pPin->RequestRestart();
      pPin->NonDelegatingRelease();
    }
    return S_OK;
  }

  CAutoLock lock(&m_csFilter);
  if (IsStopped()) return S_OK;  // no thread to restart; Pause starts them afresh
  DeliverBeginFlush();
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    pPin->Inactive();
    pPin->NonDelegatingRelease();
  }
  DeliverEndFlush();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    pPin->Active();  // unconnected pins refuse; nothing to restart there
    pPin->NonDelegatingRelease();
  }
  return S_OK;
}

void CBaseDmx::SetInlineDelivery(bool bInline) {
  CAutoLock lock(&m_csPinList);
  m_bInlineDelivery = bInline;
  for (int i = 0; i < m_nOutputPins; ++i) {
    if (m_ppOutputPins[i] != nullptr) m_ppOutputPins[i]->SetInlineDelivery(bInline);
  }
}

HRESULT CBaseDmx::RunInlineDelivery() {
  HRESULT hr = S_FALSE;
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = AcquireOutputPin(i);
    if (pPin == nullptr) continue;
    if (pPin->RunDueDelivery() != S_FALSE) hr = S_OK;
    pPin->NonDelegatingRelease();
  }
  return hr;
}

}  // namespace flvdmx

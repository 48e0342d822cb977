#include "framework/dmx_input_pin.h"

#include "framework/base_dmx.h"

namespace flvdmx {

CBaseDmxInputPin::CBaseDmxInputPin(CBaseDmx* pFilter, CCritSec* pLock, HRESULT* phr,
                                   const wchar_t* pName)
    : CBaseInputPin(L"CBaseDmxInputPin", pFilter, pLock, phr, pName), m_pDmx(pFilter) {}

CBaseDmxInputPin::~CBaseDmxInputPin() { ReleaseReader(); }

void CBaseDmxInputPin::ReleaseReader() {
  IAsyncReader* pReader = nullptr;
  {
    CAutoLock lock(&m_csReader);
    pReader = m_pReader;
    m_pReader = nullptr;
  }
  if (pReader != nullptr) pReader->Release();
}

STDMETHODIMP CBaseDmxInputPin::Disconnect() {
  CAutoLock lock(m_pLock);
  const HRESULT hr = CBaseInputPin::Disconnect();
  if (hr == S_OK) ReleaseReader();
  return hr;
}

STDMETHODIMP CBaseDmxInputPin::EndOfStream() {
  CAutoLock lock(m_pDmx->ReceiveLock());
  if (m_bEndOfStream) return S_OK;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  m_bEndOfStream = TRUE;
  return m_pDmx->PinEndOfStream(m_iPin);
}

STDMETHODIMP CBaseDmxInputPin::BeginFlush() {
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pDmx->DeliverBeginFlush();
}

STDMETHODIMP CBaseDmxInputPin::EndFlush() {
  const HRESULT hr = CBaseInputPin::EndFlush();
  if (FAILED(hr)) return hr;
  return m_pDmx->DeliverEndFlush();
}

STDMETHODIMP CBaseDmxInputPin::Receive(IMediaSample* pSample) {
  CAutoLock lock(m_pDmx->ReceiveLock());
  const HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  return m_pDmx->PinReceive(m_iPin, pSample);
}

HRESULT CBaseDmxInputPin::CheckConnect(IPin* pPin) {
  const HRESULT hr = m_pDmx->PinCheckConnect(m_iPin, pPin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CBaseDmxInputPin::CheckMediaType(const CMediaType* pmt) {
  return m_pDmx->PinCheckMediaType(m_iPin, pmt, this);
}

HRESULT CBaseDmxInputPin::GetMediaType(int iPosition, CMediaType* pmt) { return E_UNEXPECTED; }

HRESULT CBaseDmxInputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBaseInputPin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pDmx->PinSetMediaType(m_iPin, pmt);
}

HRESULT CBaseDmxInputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  {
    CAutoLock lock(&m_csReader);
    if (m_pReader != nullptr) return VFW_E_ALREADY_CONNECTED;
  }
  IAsyncReader* pReader = nullptr;
  hr = pReceivePin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&pReader));
  if (FAILED(hr)) return hr;
  if (pReader == nullptr) return E_NOINTERFACE;
  {
    CAutoLock lock(&m_csReader);
    m_pReader = pReader;
  }
  hr = m_pDmx->PinCompleteConnect(m_iPin, pReceivePin);
  if (FAILED(hr)) ReleaseReader();
  return hr;
}

HRESULT CBaseDmxInputPin::BreakConnect() {
  m_pDmx->PinBreakConnect(m_iPin);
  return CBaseInputPin::BreakConnect();
}

HRESULT CBaseDmxInputPin::Active() { return S_OK; }

HRESULT CBaseDmxInputPin::Inactive() { return S_OK; }

HRESULT CBaseDmxInputPin::StartStreaming() {
  m_bEndOfStream = FALSE;
  return S_OK;
}

HRESULT CBaseDmxInputPin::StopStreaming() { return CBaseInputPin::Inactive(); }

BOOL CBaseDmxInputPin::IsEndOfStream() { return m_bEndOfStream; }

HRESULT CBaseDmxInputPin::ReportStreamError(HRESULT hr) { return m_pDmx->ReportStreamError(hr); }

IAsyncReader* CBaseDmxInputPin::GetReader() {
  CAutoLock lock(&m_csReader);
  if (m_pReader != nullptr) m_pReader->AddRef();
  return m_pReader;
}

}  // namespace flvdmx

#include "counting_source_pin.h"

namespace flvdmx::cli {

CCountingSourcePin::CCountingSourcePin(IPin* pSourcePin, CCountingReader* pReader)
    : m_pSourcePin(pSourcePin), m_pReader(pReader) {
  m_pSourcePin->AddRef();
  m_pReader->AddRef();
}

CCountingSourcePin::~CCountingSourcePin() {
  if (m_pPeer != nullptr) m_pPeer->Release();
  m_pReader->Release();
  m_pSourcePin->Release();
}

STDMETHODIMP CCountingSourcePin::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) {
    *ppv = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  if (riid == IID_IAsyncReader) return m_pReader->QueryInterface(riid, ppv);
  return m_pSourcePin->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CCountingSourcePin::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CCountingSourcePin::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

HRESULT CCountingSourcePin::TryConnect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  const HRESULT hr = pReceivePin->ReceiveConnection(this, pmt);
  if (FAILED(hr)) return hr;
  m_mt = *pmt;
  m_pPeer = pReceivePin;
  m_pPeer->AddRef();
  return S_OK;
}

STDMETHODIMP CCountingSourcePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (pReceivePin == nullptr) return E_POINTER;
  if (m_pPeer != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (pmt != nullptr && !CMediaType(*pmt).IsPartiallySpecified())
    return TryConnect(pReceivePin, pmt);
  IEnumMediaTypes* pEnum = nullptr;
  HRESULT hr = m_pSourcePin->EnumMediaTypes(&pEnum);
  if (FAILED(hr)) return hr;
  hr = VFW_E_NO_ACCEPTABLE_TYPES;
  AM_MEDIA_TYPE* pType = nullptr;
  while (hr != S_OK && pEnum->Next(1, &pType, nullptr) == S_OK) {
    const HRESULT hrTry = TryConnect(pReceivePin, pType);
    DeleteMediaType(pType);
    // A refused type says nothing; any other failure (a read that failed
    // while the filter scanned the file) is the reason the user needs.
    if (hrTry == S_OK || (hrTry != E_FAIL && hrTry != E_INVALIDARG &&
                          hrTry != VFW_E_TYPE_NOT_ACCEPTED && hrTry != VFW_E_NO_ACCEPTABLE_TYPES))
      hr = hrTry;
  }
  pEnum->Release();
  return hr;
}

STDMETHODIMP CCountingSourcePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  return E_UNEXPECTED;  // an output pin
}

STDMETHODIMP CCountingSourcePin::Disconnect() {
  if (m_pPeer == nullptr) return S_FALSE;
  m_pPeer->Release();
  m_pPeer = nullptr;
  return S_OK;
}

STDMETHODIMP CCountingSourcePin::ConnectedTo(IPin** ppPin) {
  if (ppPin == nullptr) return E_POINTER;
  *ppPin = m_pPeer;
  if (m_pPeer == nullptr) return VFW_E_NOT_CONNECTED;
  m_pPeer->AddRef();
  return S_OK;
}

STDMETHODIMP CCountingSourcePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  if (m_pPeer == nullptr) return VFW_E_NOT_CONNECTED;
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CCountingSourcePin::QueryPinInfo(PIN_INFO* pInfo) {
  return m_pSourcePin->QueryPinInfo(pInfo);
}

STDMETHODIMP CCountingSourcePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (pPinDir == nullptr) return E_POINTER;
  *pPinDir = PINDIR_OUTPUT;
  return S_OK;
}

STDMETHODIMP CCountingSourcePin::QueryId(LPWSTR* pId) { return m_pSourcePin->QueryId(pId); }

STDMETHODIMP CCountingSourcePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  return m_pSourcePin->QueryAccept(pmt);
}

STDMETHODIMP CCountingSourcePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  return m_pSourcePin->EnumMediaTypes(ppEnum);
}

STDMETHODIMP CCountingSourcePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CCountingSourcePin::EndOfStream() { return E_UNEXPECTED; }

STDMETHODIMP CCountingSourcePin::BeginFlush() { return E_UNEXPECTED; }

STDMETHODIMP CCountingSourcePin::EndFlush() { return E_UNEXPECTED; }

STDMETHODIMP CCountingSourcePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

}  // namespace flvdmx::cli

#include "baseclasses/unknown.h"

namespace flvdmx {

namespace {
std::atomic<LONG> g_cActiveObjects{0};
}  // namespace

CUnknown::CUnknown(const wchar_t* pName, IUnknown* pUnkOuter)
    : m_pUnknown(pUnkOuter != nullptr ? pUnkOuter : &m_NonDelegating) {
  ++g_cActiveObjects;
}

CUnknown::~CUnknown() { --g_cActiveObjects; }

LONG CUnknown::ObjectsActive() { return g_cActiveObjects.load(); }
void CUnknown::IncrementObjectsActive() { ++g_cActiveObjects; }
void CUnknown::DecrementObjectsActive() { --g_cActiveObjects; }

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&m_NonDelegating, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() {
  const LONG lRef = ++m_cRef;
  return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
  const LONG lRef = --m_cRef;
  if (lRef == 0) {
    // A destructor that takes and drops a reference must not delete again.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return static_cast<ULONG>(lRef > 1 ? lRef : 1);
}

HRESULT GetInterface(IUnknown* pUnk, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = pUnk;
  pUnk->AddRef();
  return S_OK;
}

}  // namespace flvdmx

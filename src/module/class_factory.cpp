#include "module/class_factory.h"

#include "baseclasses/unknown.h"
#include "diag/trace.h"

namespace flvdmx {
namespace {
std::atomic<LONG> g_cServerLocks{0};
}  // namespace

CClassFactory::CClassFactory(const ClassTableEntry* pEntry) : m_pEntry(pEntry) {
  CUnknown::IncrementObjectsActive();
}

CClassFactory::~CClassFactory() { CUnknown::DecrementObjectsActive(); }

LONG CClassFactory::ServerLocks() { return g_cServerLocks.load(); }

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() { return static_cast<ULONG>(++m_cRef); }

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  const LONG lRef = --m_cRef;
  if (lRef == 0) delete this;
  return static_cast<ULONG>(lRef);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can only hand its non-delegating unknown to its
  // owner.
  if (pUnkOuter != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
  if (m_pEntry->m_pfnCreate == nullptr) {
    Trace("\nCClassFactory::CreateInstance - %ls cannot be created in this build",
          m_pEntry->m_pszName);
    return E_NOTIMPL;
  }

  HRESULT hr = S_OK;
  CUnknown* pObject = m_pEntry->m_pfnCreate(pUnkOuter, &hr);
  if (pObject == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete pObject;
    return hr;
  }
  // The temporary reference lets a failed query destroy the object.
  pObject->NonDelegatingAddRef();
  hr = pObject->NonDelegatingQueryInterface(riid, ppv);
  pObject->NonDelegatingRelease();
  return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL bLock) {
  if (bLock) {
    ++g_cServerLocks;
  } else {
    --g_cServerLocks;
  }
  return S_OK;
}

}  // namespace flvdmx

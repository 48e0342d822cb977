#include "host/class_table.h"

#include <atomic>
#include <new>

#include "base/com_ptr.h"

namespace flvdmx {

namespace {

// A class factory over a creation function, for the component runtime's
// table of registered class objects.
class CCreatorFactory final : public IClassFactory {
 public:
  explicit CCreatorFactory(HostClassCreator pfnCreate) : m_pfnCreate(pfnCreate) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG lRef = --m_cRef;
    if (lRef == 0) delete this;
    return static_cast<ULONG>(lRef);
  }
  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    return m_pfnCreate(pUnkOuter, riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL fLock) override { return S_OK; }

 private:
  ~CCreatorFactory() = default;

  std::atomic<LONG> m_cRef{0};
  const HostClassCreator m_pfnCreate;
};

}  // namespace

HRESULT RegisterHostClass(REFCLSID clsid, HostClassCreator pfnCreate, DWORD* pdwCookie) {
  if (pfnCreate == nullptr) return E_POINTER;
  const ComPtr<CCreatorFactory> pFactory(new (std::nothrow) CCreatorFactory(pfnCreate));
  if (!pFactory) return E_OUTOFMEMORY;
  return RegisterHostClassFactory(clsid, pFactory.Get(), pdwCookie);
}

HRESULT RegisterHostClassFactory(REFCLSID clsid, IClassFactory* pFactory, DWORD* pdwCookie) {
  if (pFactory == nullptr || pdwCookie == nullptr) return E_POINTER;
  return CoRegisterClassObject(clsid, pFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                               pdwCookie);
}

HRESULT RevokeHostClass(DWORD dwCookie) { return CoRevokeClassObject(dwCookie); }

}  // namespace flvdmx

#include "host/class_table.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "base/com_ptr.h"
#include "host/allocator.h"
#include "module/class_table.h"
#include "module/module_entry.h"
#include "module/module_ids.h"
#include "platform/dshow.h"

namespace flvdmx {

namespace {

// The module's filter, built through its own class factory as the component
// runtime would after loading the DLL.
HRESULT CreateModuleFilter(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  ComPtr<IClassFactory> pFactory;
  const HRESULT hr = GetClassObject(GetModuleClassTable(), kClsidFlvDmx, IID_IClassFactory,
                                    reinterpret_cast<void**>(pFactory.Put()));
  if (FAILED(hr)) return hr;
  return pFactory->CreateInstance(pUnkOuter, riid, ppv);
}

struct Registration {
  DWORD m_dwCookie;
  CLSID m_Clsid;
  HostClassCreator m_pfnCreate;  // or
  ComPtr<IClassFactory> m_pFactory;
};

class CClassTable {
 public:
  // The cookie of the classes the table starts with, which stay.
  static constexpr DWORD kBuiltIn = 0;

  static CClassTable& Instance() {
    // Never destroyed: objects may be created during static destruction.
    static CClassTable* s_pTable = new CClassTable();
    return *s_pTable;
  }

  HRESULT Add(REFCLSID clsid, HostClassCreator pfnCreate, IClassFactory* pFactory,
              DWORD* pdwCookie) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const DWORD dwCookie = ++m_dwLastCookie;
    m_Entries.push_back(Registration{dwCookie, clsid, pfnCreate, ComPtr<IClassFactory>(pFactory)});
    if (pdwCookie != nullptr) *pdwCookie = dwCookie;
    return S_OK;
  }

  HRESULT Remove(DWORD dwCookie) {
    if (dwCookie == kBuiltIn) return E_INVALIDARG;
    ComPtr<IClassFactory> pFactory;  // released outside the lock
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      auto it = std::find_if(m_Entries.begin(), m_Entries.end(), [dwCookie](const Registration& r) {
        return r.m_dwCookie == dwCookie;
      });
      if (it == m_Entries.end()) return E_INVALIDARG;
      pFactory = std::move(it->m_pFactory);
      m_Entries.erase(it);
    }
    return S_OK;
  }

  // A copy of the newest registration of clsid.
  bool Find(REFCLSID clsid, Registration* pFound) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    for (auto it = m_Entries.rbegin(); it != m_Entries.rend(); ++it) {
      if (it->m_Clsid != clsid) continue;
      *pFound = *it;
      return true;
    }
    return false;
  }

 private:
  CClassTable() {
    m_Entries.push_back(
        Registration{kBuiltIn, CLSID_MemoryAllocator, &CMemAllocator::CreateInstance, nullptr});
    m_Entries.push_back(Registration{kBuiltIn, kClsidFlvDmx, &CreateModuleFilter, nullptr});
  }

  std::mutex m_Mutex;
  std::vector<Registration> m_Entries;
  DWORD m_dwLastCookie = 0;
};

}  // namespace

HRESULT RegisterHostClass(REFCLSID clsid, HostClassCreator pfnCreate, DWORD* pdwCookie) {
  if (pfnCreate == nullptr) return E_POINTER;
  return CClassTable::Instance().Add(clsid, pfnCreate, nullptr, pdwCookie);
}

HRESULT RegisterHostClassFactory(REFCLSID clsid, IClassFactory* pFactory, DWORD* pdwCookie) {
  if (pFactory == nullptr) return E_POINTER;
  return CClassTable::Instance().Add(clsid, nullptr, pFactory, pdwCookie);
}

HRESULT RevokeHostClass(DWORD dwCookie) { return CClassTable::Instance().Remove(dwCookie); }

}  // namespace flvdmx

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((dwClsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  // Aggregation hands out the inner object's own IUnknown only.
  if (pUnkOuter != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  flvdmx::Registration found{};
  if (!flvdmx::CClassTable::Instance().Find(rclsid, &found)) return REGDB_E_CLASSNOTREG;
  if (!found.m_pFactory) return found.m_pfnCreate(pUnkOuter, riid, ppv);
  return found.m_pFactory->CreateInstance(pUnkOuter, riid, ppv);
}

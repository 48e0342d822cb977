#include "module/module_entry.h"

#include <new>

#include "baseclasses/unknown.h"
#include "diag/trace.h"
#include "module/class_factory.h"

namespace flvdmx {

HRESULT GetClassObject(const ClassTable& classes, REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  const ClassTableEntry* pEntry = classes.Find(rclsid);
  if (pEntry == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  auto* pFactory = new (std::nothrow) CClassFactory(pEntry);
  if (pFactory == nullptr) return E_OUTOFMEMORY;
  pFactory->AddRef();
  *ppv = static_cast<IClassFactory*>(pFactory);
  return S_OK;
}

HRESULT CanUnloadModule() {
  if (CClassFactory::ServerLocks() > 0 || CUnknown::ObjectsActive() != 0) return S_FALSE;
  CloseTraceWriter();
  return S_OK;
}

void CallLoadHooks(const ClassTable& classes, BOOL bLoading) {
  for (const auto& entry : classes)
    if (entry.m_pfnLoadHook != nullptr) entry.m_pfnLoadHook(bLoading, &entry.m_Clsid);
}

}  // namespace flvdmx

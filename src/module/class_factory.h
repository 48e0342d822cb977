// CClassFactory: the IClassFactory handed out by DllGetClassObject, one per
// request, for one class table entry (not owned; entries are static). Its
// reference count starts at 0 and it deletes itself on the last Release;
// while it exists it counts in the module's live-object count, so a held
// factory keeps the module loaded. The objects it creates are independent of
// it: it holds no reference to them.
#pragma once

#include <atomic>

#include "module/class_table.h"
#include "platform/com.h"

namespace flvdmx {

class CClassFactory final : public IClassFactory {
 public:
  explicit CClassFactory(const ClassTableEntry* pEntry);
  CClassFactory(const CClassFactory&) = delete;
  CClassFactory& operator=(const CClassFactory&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL bLock) override;

  // The module-wide server lock count changed by LockServer.
  static LONG ServerLocks();

 private:
  ~CClassFactory();  // through Release only

  const ClassTableEntry* const m_pEntry;
  std::atomic<LONG> m_cRef{0};
};

}  // namespace flvdmx

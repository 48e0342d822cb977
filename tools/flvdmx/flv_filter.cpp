#include "flv_filter.h"

#include <atomic>

#include "base/com_ptr.h"
#include "module/class_table.h"
#include "module/module_entry.h"
#include "module/module_ids.h"

namespace flvdmx::cli {

namespace {
std::atomic<bool> g_bUseLinkedFilter{false};
}  // namespace

void UseLinkedFilter(bool bLinked) { g_bUseLinkedFilter = bLinked; }

HRESULT CreateFlvFilter(IBaseFilter** ppFilter) {
  if (g_bUseLinkedFilter) {
    ComPtr<IClassFactory> pFactory;
    const HRESULT hr = GetClassObject(GetModuleClassTable(), kClsidFlvDmx, IID_IClassFactory,
                                      reinterpret_cast<void**>(pFactory.Put()));
    if (FAILED(hr)) return hr;
    return pFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
  }
  return CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(ppFilter));
}

}  // namespace flvdmx::cli

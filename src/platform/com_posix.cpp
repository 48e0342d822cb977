#include "platform/com.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }
void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(void* pv) { std::free(pv); }

namespace {

// Per-thread initialisation, counted like the platform counts it: the first
// call gives S_OK, later ones S_FALSE, and a later call asking for the other
// threading model RPC_E_CHANGED_MODE.
struct ThreadComState {
  int m_iCount = 0;
  bool m_bApartment = false;
};
thread_local ThreadComState t_ComState;

}  // namespace

HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  const bool bApartment = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
  if (t_ComState.m_iCount > 0) {
    if (t_ComState.m_bApartment != bApartment) return RPC_E_CHANGED_MODE;
    ++t_ComState.m_iCount;
    return S_FALSE;
  }
  t_ComState.m_iCount = 1;
  t_ComState.m_bApartment = bApartment;
  return S_OK;
}

void CoUninitialize() {
  if (t_ComState.m_iCount > 0) --t_ComState.m_iCount;
}

void CoFreeUnusedLibraries() {}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (lpsz == nullptr || cchMax < 39) return 0;
  char text[39];
  flvdmx::FormatGuid(rguid, text);
  for (int i = 0; i < 39; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return 39;
}

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (lplpsz == nullptr) return E_INVALIDARG;
  *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (*lplpsz == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(rclsid, *lplpsz, 39);
  return S_OK;
}

#include "baseclasses/wide_string.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace flvdmx {

WCHAR* DuplicateWideString(const WCHAR* pSrc) {
  if (pSrc == nullptr) return nullptr;
  const size_t cch = std::wcslen(pSrc) + 1;
  WCHAR* pCopy = new (std::nothrow) WCHAR[cch];
  if (pCopy != nullptr) std::memcpy(pCopy, pSrc, cch * sizeof(WCHAR));
  return pCopy;
}

WCHAR* TaskMemWideString(const WCHAR* pSrc) {
  const size_t cch = (pSrc == nullptr ? 0 : std::wcslen(pSrc)) + 1;
  auto* pCopy = static_cast<WCHAR*>(CoTaskMemAlloc(cch * sizeof(WCHAR)));
  if (pCopy == nullptr) return nullptr;
  if (pSrc != nullptr) std::memcpy(pCopy, pSrc, (cch - 1) * sizeof(WCHAR));
  pCopy[cch - 1] = L'\0';
  return pCopy;
}

void CopyWideName(WCHAR* pDest, size_t cchDest, const WCHAR* pSrc) {
  if (cchDest == 0) return;
  size_t i = 0;
  if (pSrc != nullptr)
    for (; i + 1 < cchDest && pSrc[i] != L'\0'; ++i) pDest[i] = pSrc[i];
  pDest[i] = L'\0';
}

}  // namespace flvdmx

// Wide-string copies for names that the base layer owns or hands out.
#pragma once

#include "platform/com.h"

namespace flvdmx {

// A copy on the C++ heap (delete[]), or null when pSrc is null or memory runs
// out.
WCHAR* DuplicateWideString(const WCHAR* pSrc);
// A task-allocated copy for the caller to free, or null when memory runs out;
// null pSrc gives an empty string.
WCHAR* TaskMemWideString(const WCHAR* pSrc);
// Copies at most cchDest - 1 characters and always terminates; null pSrc
// gives an empty string.
void CopyWideName(WCHAR* pDest, size_t cchDest, const WCHAR* pSrc);

}  // namespace flvdmx

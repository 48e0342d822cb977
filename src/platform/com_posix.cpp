#include "platform/com.h"

#include <cstdlib>

void* CoTaskMemAlloc(size_t cb) { return std::malloc(cb == 0 ? 1 : cb); }
void* CoTaskMemRealloc(void* pv, size_t cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(void* pv) { std::free(pv); }

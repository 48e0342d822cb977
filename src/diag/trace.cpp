#include "diag/trace.h"

#include <cstdio>

namespace flvdmx {

uint32_t g_dwTraceFlags = kTraceGroupedBytes;

void TraceV(const char* format, va_list args) {
  char line[2048];
  std::vsnprintf(line, sizeof line, format, args);
  std::fputs(line, stderr);
}

}  // namespace flvdmx

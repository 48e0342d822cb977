// The module-wide trace call. Off unless the flags word turns it on; with it
// off a call costs one flag test.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace flvdmx {

enum TraceFlag : uint32_t {
  kTraceFile = 0x01,
  kTraceTime = 0x02,
  kTraceThread = 0x04,
  kTraceOn = 0x08,
  kTraceGroupedBytes = 0x10,
  kTraceHandleCount = 0x20,
  kTraceDebugger = 0x40,
};

// Initial value 0x10: grouped byte counts, tracing off.
extern uint32_t g_dwTraceFlags;

inline bool TraceEnabled() { return (g_dwTraceFlags & kTraceOn) != 0; }

void TraceV(const char* format, va_list args);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void Trace(const char* format, ...) {
  if (!TraceEnabled() || format == nullptr) return;
  va_list args;
  va_start(args, format);
  TraceV(format, args);
  va_end(args);
}

}  // namespace flvdmx

// The module-wide trace call. Off unless the flags word turns it on; with it
// off a call costs one flag test. When on, a message that begins with a line
// feed gets a prefix (time of day, handle count, thread) and goes to the
// debugger output and/or the shared trace file (trace_writer.h).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/com.h"

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

// Initial value 0x10: grouped byte counts, tracing off. No setting of the
// product changes it; a host or a test may.
extern uint32_t g_dwTraceFlags;

inline bool TraceEnabled() { return (g_dwTraceFlags & kTraceOn) != 0; }

// Formats into 2048 characters at most and sends the line to the sinks.
void TraceV(const char* format, va_list args);

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void
Trace(const char* format, ...) {
  if (!TraceEnabled() || format == nullptr) return;
  va_list args;
  va_start(args, format);
  TraceV(format, args);
  va_end(args);
}

// The trace file, initially "c:\OrvexTrace.txt". Changing it lets go of the
// current writer first, so text already traced goes to the old file.
// E_POINTER, E_INVALIDARG (empty or longer than 511 characters) or S_OK.
HRESULT SetTraceFilePath(const wchar_t* pszPath);
// The same from a narrow path (UTF-8 on Linux, the ANSI code page on Windows).
HRESULT SetTraceFilePath(const char* pszPath);

// Writes out what is pending and lets go of the module's trace writer: from
// DllCanUnloadNow, and at the end of a program that traced to the file.
void CloseTraceWriter();

}  // namespace flvdmx

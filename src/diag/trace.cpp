#include "diag/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "diag/trace_line.h"
#include "diag/trace_os.h"
#include "diag/trace_writer.h"

namespace flvdmx {

uint32_t g_dwTraceFlags = kTraceGroupedBytes;

namespace {

constexpr size_t kMaxMessage = 2048;
constexpr int64_t kExtraLineGapMs = 100;

// The time of day of the first stamped line, carried on by a stopwatch so
// that stamps stay monotonic when the wall clock is adjusted.
struct TimeBase {
  uint32_t dwTimeOfDayMs;
  std::chrono::steady_clock::time_point start;
};

const TimeBase& GetTimeBase() {
  static const TimeBase base{traceos::LocalTimeOfDayMs(), std::chrono::steady_clock::now()};
  return base;
}

std::atomic<int64_t> g_llLastStampMs{-1};

}  // namespace

CTraceHolder& TheTraceHolder() {
  // Made on first use and never destroyed: a trace call may come from another
  // static's constructor or destructor.
  static CTraceHolder* holder = new CTraceHolder;
  return *holder;
}

void TraceV(const char* format, va_list args) {
  const uint32_t flags = g_dwTraceFlags;
  if (!(flags & kTraceOn) || format == nullptr) return;

  char message[kMaxMessage];
  if (std::vsnprintf(message, sizeof message, format, args) < 0) return;

  char line[kMaxTracePrefix + kMaxMessage];
  TraceLinePrefix prefix;
  prefix.dwFlags = flags;
  if (message[0] == '\n') {
    if (flags & kTraceTime) {
      const TimeBase& base = GetTimeBase();
      const int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - base.start)
                                  .count();
      const int64_t previous = g_llLastStampMs.exchange(elapsed);
      prefix.bExtraLine = previous >= 0 && elapsed - previous > kExtraLineGapMs;
      prefix.dwTimeOfDayMs = AdvanceTimeOfDay(base.dwTimeOfDayMs, elapsed);
    }
    if (flags & kTraceHandleCount) prefix.iHandleCount = traceos::ProcessHandleCount();
    if (flags & kTraceThread) prefix.dwThreadId = traceos::CurrentThreadId();
  }
  const size_t length = ComposeTraceLine(message, prefix, line, sizeof line);

  if (flags & kTraceDebugger) traceos::DebuggerOutput(line);
  if (flags & kTraceFile)
    TheTraceHolder().Append(line, length);
  else if (flags & kTraceDebugger)
    traceos::YieldThread();
}

HRESULT SetTraceFilePath(const wchar_t* pszPath) { return TheTraceHolder().SetPath(pszPath); }

HRESULT SetTraceFilePath(const char* pszPath) {
  if (!pszPath) return E_POINTER;
  return TheTraceHolder().SetPath(traceos::WidenPath(pszPath).c_str());
}

void CloseTraceWriter() { TheTraceHolder().Close(); }

}  // namespace flvdmx

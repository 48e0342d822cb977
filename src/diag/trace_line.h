// Building one trace line: the prefix in front of a message and the line-end
// conversion for the file. Pure functions; the caller gathers the clock,
// handle count and thread so that these can be checked with fixed values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

// Longest prefix in characters; what does not fit is cut off, so messages
// with more than 24 leading line feeds lose the rest of them.
constexpr size_t kMaxTracePrefix = 49;

struct TraceLinePrefix {
  uint32_t dwFlags = 0;        // the trace flags word (kTraceTime, ...)
  bool bExtraLine = false;     // more than 100 ms since the previous stamped line
  uint32_t dwTimeOfDayMs = 0;  // milliseconds since local midnight
  int iHandleCount = -1;
  uint32_t dwThreadId = 0;
};

// A message that begins with a line feed gets the prefix: each leading line
// feed as CR LF, then what the flags ask for (an extra line feed, the time
// "hh:mm:ss.mmm: ", the handle count "%4d ", the thread "%08x: "), then the
// message without its leading line feeds. Any other message is copied as it
// is. Writes at most cap - 1 characters and a terminator; returns the length.
size_t ComposeTraceLine(const char* pszMessage, const TraceLinePrefix& prefix, char* pszOut,
                        size_t cap);

// Every line end of the file's text as CR LF: LF and a lone CR each become
// CR LF, an existing CR LF stays one pair. pDst needs room for 2 * n bytes.
// Returns the bytes written.
size_t ConvertToCrLf(const char* pSrc, size_t n, char* pDst);

// The time of day `elapsedMs` after `baseMs`, back to 0 after 23:59:59.999.
uint32_t AdvanceTimeOfDay(uint32_t baseMs, int64_t elapsedMs);

}  // namespace flvdmx

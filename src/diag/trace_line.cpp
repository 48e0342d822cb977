#include "diag/trace_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "diag/trace.h"

namespace flvdmx {
namespace {

constexpr uint32_t kDayMs = 24u * 60 * 60 * 1000;

// Appends printf output to a bounded prefix, cutting off what does not fit.
class CPrefix {
 public:
  void Add(const char* text) { Printf("%s", text); }

#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void
  Printf(const char* format, ...) {
    const size_t room = sizeof m_szText - m_cch;
    if (room <= 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(m_szText + m_cch, room, format, args);
    va_end(args);
    if (n > 0) m_cch += static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
  }

  const char* Text() const { return m_szText; }
  size_t Length() const { return m_cch; }

 private:
  char m_szText[kMaxTracePrefix + 1] = {};
  size_t m_cch = 0;
};

}  // namespace

size_t ComposeTraceLine(const char* pszMessage, const TraceLinePrefix& prefix, char* pszOut,
                        size_t cap) {
  if (cap == 0) return 0;
  const char* body = pszMessage;
  CPrefix head;
  if (*body == '\n') {
    for (; *body == '\n'; ++body) head.Add("\r\n");
    if (prefix.dwFlags & kTraceTime) {
      if (prefix.bExtraLine) head.Add("\n");
      const uint32_t t = prefix.dwTimeOfDayMs % kDayMs;
      head.Printf("%02u:%02u:%02u.%03u: ", t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000);
    }
    if (prefix.dwFlags & kTraceHandleCount) head.Printf("%4d ", prefix.iHandleCount);
    if (prefix.dwFlags & kTraceThread) head.Printf("%08x: ", prefix.dwThreadId);
  }
  size_t length = head.Length() < cap - 1 ? head.Length() : cap - 1;
  std::memcpy(pszOut, head.Text(), length);
  const size_t bodyLength = std::strlen(body);
  const size_t take = bodyLength < cap - 1 - length ? bodyLength : cap - 1 - length;
  std::memcpy(pszOut + length, body, take);
  length += take;
  pszOut[length] = '\0';
  return length;
}

size_t ConvertToCrLf(const char* pSrc, size_t n, char* pDst) {
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = pSrc[i];
    if (c == '\r' || c == '\n') {
      pDst[out++] = '\r';
      pDst[out++] = '\n';
      if (c == '\r' && i + 1 < n && pSrc[i + 1] == '\n') ++i;
    } else {
      pDst[out++] = c;
    }
  }
  return out;
}

uint32_t AdvanceTimeOfDay(uint32_t baseMs, int64_t elapsedMs) {
  int64_t t = (static_cast<int64_t>(baseMs) + elapsedMs) % kDayMs;
  if (t < 0) t += kDayMs;
  return static_cast<uint32_t>(t);
}

}  // namespace flvdmx

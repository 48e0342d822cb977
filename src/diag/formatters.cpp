#include "diag/formatters.h"

#include <cinttypes>
#include <cstdio>

#include "diag/trace.h"

namespace flvdmx {
namespace {

template <int kCount, int kSize>
class CRotatingText {
 public:
  char* Next() {
    m_iNext = (m_iNext + 1) % kCount;
    return m_szText[m_iNext];
  }
  static constexpr int kBytes = kSize;

 private:
  char m_szText[kCount][kSize] = {};
  int m_iNext = 0;
};

thread_local CRotatingText<16, 30> t_Milliseconds;
thread_local CRotatingText<8, 30> t_ByteCounts;

constexpr int64_t kMaxInt64 = INT64_MAX;

}  // namespace

const char* FormatMilliseconds(int64_t ms) {
  char* text = t_Milliseconds.Next();
  text[0] = '\0';
  if (!TraceEnabled()) return text;
  const size_t size = decltype(t_Milliseconds)::kBytes;
  if (ms > -1000 && ms < 1000) {
    std::snprintf(text, size, "%dms", static_cast<int>(ms));
  } else {
    const int64_t rest = ms % 1000;
    std::snprintf(text, size, "%" PRId64 ".%03ds", ms / 1000,
                  static_cast<int>(rest < 0 ? -rest : rest));
  }
  return text;
}

const char* FormatByteCount(int64_t cb) {
  char* text = t_ByteCounts.Next();
  const size_t size = decltype(t_ByteCounts)::kBytes;
  if (cb == kMaxInt64) {
    std::snprintf(text, size, "MAX_INT64");
  } else if (cb >= kMaxInt64 / 2) {
    std::snprintf(text, size, "MAX_INT64/2+");
  } else if (cb >= kMaxInt64 / 4) {
    std::snprintf(text, size, "MAX_INT64/4+");
  } else if (cb == -kMaxInt64) {
    std::snprintf(text, size, "MIN_INT64");
  } else if (cb < -(kMaxInt64 / 2 - 1)) {
    std::snprintf(text, size, "MIN_INT64/2-");
  } else if (g_dwTraceFlags & kTraceGroupedBytes) {
    // Safe to negate: the named values above took the extremes.
    const int64_t magnitude = cb < 0 ? -cb : cb;
    const char* sign = cb < 0 ? "-" : "";
    const int ones = static_cast<int>(magnitude % 1000);
    const int thousands = static_cast<int>(magnitude / 1000 % 1000);
    const int millions = static_cast<int>(magnitude / 1000000 % 1000);
    if (magnitude < 1000)
      std::snprintf(text, size, "%d", static_cast<int>(cb));
    else if (magnitude < 1000000)
      std::snprintf(text, size, "%s%d %03d", sign, static_cast<int>(magnitude / 1000), ones);
    else if (magnitude < 1000000000)
      std::snprintf(text, size, "%s%" PRId64 " %03d %03d", sign, magnitude / 1000000, thousands,
                    ones);
    else
      std::snprintf(text, size, "%s%" PRId64 " %03d %03d %03d", sign, magnitude / 1000000000,
                    millions, thousands, ones);
  } else if (cb >= -10000 && cb <= 9999) {
    std::snprintf(text, size, "%d bytes", static_cast<int>(cb));
  } else {
    const int64_t magnitude = cb < 0 ? -cb : cb;
    const char* sign = cb < 0 ? "-" : "";
    const int64_t kbLimit = cb < 0 ? 1048576 : 1023999;
    if (magnitude <= kbLimit)
      std::snprintf(text, size, "%s%" PRId64 "KB", sign, magnitude >> 10);
    else
      std::snprintf(text, size, "%s%" PRId64 ".%03" PRId64 "MB", sign, magnitude >> 20,
                    ((magnitude >> 10) % 1024) * 1000 / 1024);
  }
  return text;
}

}  // namespace flvdmx

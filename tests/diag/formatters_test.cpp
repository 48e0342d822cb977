// The value texts of trace and error messages: milliseconds and byte counts.
#include "diag/formatters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/trace.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

class FlagsScope {
 public:
  explicit FlagsScope(uint32_t flags) : m_saved(g_dwTraceFlags) { g_dwTraceFlags = flags; }
  ~FlagsScope() { g_dwTraceFlags = m_saved; }

 private:
  uint32_t m_saved;
};

struct TextCase {
  int64_t value;
  const char* text;
};

TEST(FormattersTest, MillisecondsBelowASecondElseSecondsWithThreeDecimals) {
  FlagsScope on(kTraceOn);
  const TextCase cases[] = {
      {0, "0ms"},
      {999, "999ms"},
      {-999, "-999ms"},
      {1000, "1.000s"},
      {-1000, "-1.000s"},
      {-1001, "-1.001s"},
      {3600001, "3600.001s"},
      {INT64_MAX, "9223372036854775.807s"},
      {INT64_MIN, "-9223372036854775.808s"},
  };
  for (const TextCase& c : cases) EXPECT_STREQ(FormatMilliseconds(c.value), c.text) << c.value;
  // Sixteen results stand side by side.
  const char* results[16];
  for (int i = 0; i < 16; ++i) results[i] = FormatMilliseconds(i);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(results[i], std::to_string(i) + "ms");
  g_dwTraceFlags = kTraceGroupedBytes;
  EXPECT_STREQ(FormatMilliseconds(1500), "") << "empty while tracing is off";
}

TEST(FormattersTest, ByteCountsGroupedWithFlag0x10ElseInUnits) {
  const std::vector<TextCase> grouped = {
      {0, "0"},
      {999, "999"},
      {-999, "-999"},
      {1000, "1 000"},
      {-1234567, "-1 234 567"},
      {1000000000, "1 000 000 000"},
      {-1000005, "-1 000 005"},
      {1234567890123, "1234 567 890 123"},  // groups of three below the billions only
      {-0x3FFFFFFFFFFFFFFE, "-4611686018 427 387 902"},
  };
  const std::vector<TextCase> units = {
      {0, "0 bytes"},        {9999, "9999 bytes"},
      {10000, "9KB"},        {-10000, "-10000 bytes"},
      {-10001, "-9KB"},      {1023999, "999KB"},
      {1024000, "0.976MB"},  {3 * 1048576 + 512 * 1024, "3.500MB"},
      {-1048576, "-1024KB"}, {-1048577, "-1.000MB"},
  };
  // Values near the limits are named in both modes.
  const std::vector<TextCase> limits = {
      {INT64_MAX, "MAX_INT64"},
      {INT64_MAX - 1, "MAX_INT64/2+"},
      {0x3FFFFFFFFFFFFFFF, "MAX_INT64/2+"},
      {0x3FFFFFFFFFFFFFFE, "MAX_INT64/4+"},
      {0x1FFFFFFFFFFFFFFF, "MAX_INT64/4+"},
      {-INT64_MAX, "MIN_INT64"},
      {INT64_MIN, "MIN_INT64/2-"},
      {-0x3FFFFFFFFFFFFFFF, "MIN_INT64/2-"},
  };
  for (uint32_t flags : {kTraceGroupedBytes | 0u, kTraceOn | 0u}) {
    FlagsScope mode(flags);
    for (const TextCase& c : flags == kTraceGroupedBytes ? grouped : units)
      EXPECT_STREQ(FormatByteCount(c.value), c.text) << c.value;
    for (const TextCase& c : limits)
      EXPECT_STREQ(FormatByteCount(c.value), c.text) << flags << " " << c.value;
  }
}

}  // namespace
}  // namespace flvdmx

#include "diag/trace_line.h"

#include <gtest/gtest.h>

#include <string>

#include "diag/trace.h"

namespace flvdmx {
namespace {

constexpr uint32_t kTime = 12 * 3600000 + 34 * 60000 + 56 * 1000 + 789;  // 12:34:56.789

std::string Compose(const char* message, uint32_t flags, bool extra = false,
                    uint32_t timeMs = kTime) {
  TraceLinePrefix prefix;
  prefix.dwFlags = flags;
  prefix.bExtraLine = extra;
  prefix.dwTimeOfDayMs = timeMs;
  prefix.iHandleCount = 37;
  prefix.dwThreadId = 0xBEEF;
  char line[kMaxTracePrefix + 2048];
  const size_t length = ComposeTraceLine(message, prefix, line, sizeof line);
  EXPECT_EQ(length, std::string(line).size());
  return line;
}

TEST(TraceLineTest, PrefixRules) {
  const uint32_t on = kTraceOn;
  struct Case {
    const char* message;
    uint32_t flags;
    bool extra;
    const char* line;
  } cases[] = {
      {"no line feed first", on | kTraceTime | kTraceThread, true, "no line feed first"},
      {"\nX", on, false, "\r\nX"},
      {"\n\nX\n", on, false, "\r\n\r\nX\n"},
      {"\nX", on | kTraceTime, false, "\r\n12:34:56.789: X"},
      {"\nX", on | kTraceTime, true, "\r\n\n12:34:56.789: X"},
      {"\nX", on, true, "\r\nX"},  // the extra line belongs to the stamp
      {"\nX", on | kTraceHandleCount, false, "\r\n  37 X"},
      {"\nX", on | kTraceThread, false, "\r\n0000beef: X"},
      {"\nX", on | kTraceTime | kTraceHandleCount | kTraceThread, true,
       "\r\n\n12:34:56.789:   37 0000beef: X"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Compose(c.message, c.flags, c.extra), c.line) << c.message << " " << c.flags;
}

TEST(TraceLineTest, TimeOfDayFieldsAndMidnight) {
  EXPECT_EQ(Compose("\nX", kTraceTime, false, 0), "\r\n00:00:00.000: X");
  EXPECT_EQ(Compose("\nX", kTraceTime, false, 86399999), "\r\n23:59:59.999: X");
  EXPECT_EQ(AdvanceTimeOfDay(86399999, 1), 0u);
  EXPECT_EQ(AdvanceTimeOfDay(86399000, 3000), 2000u);
  EXPECT_EQ(AdvanceTimeOfDay(1000, 5), 1005u);
}

TEST(TraceLineTest, PrefixIsCutAtFortyNineCharacters) {
  const std::string many(30, '\n');
  std::string expected;
  for (int i = 0; i < 24; ++i) expected += "\r\n";
  expected += "\r";  // the 49th character
  EXPECT_EQ(Compose((many + "body").c_str(), kTraceTime | kTraceThread), expected + "body");

  // 22 line feeds leave 5 characters for the time of day.
  const std::string some(22, '\n');
  const std::string line = Compose((some + "body").c_str(), kTraceTime);
  EXPECT_EQ(line.substr(44), "12:34body");
}

TEST(TraceLineTest, LongMessageIsCutToTheBuffer) {
  TraceLinePrefix prefix;
  prefix.dwFlags = kTraceTime;
  prefix.dwTimeOfDayMs = kTime;
  char line[16];
  EXPECT_EQ(ComposeTraceLine("\nabcdefghij", prefix, line, sizeof line), 15u);
  EXPECT_STREQ(line, "\r\n12:34:56.789:");
  EXPECT_EQ(ComposeTraceLine("abcdefghijklmnopqrstuvwxyz", prefix, line, sizeof line), 15u);
  EXPECT_STREQ(line, "abcdefghijklmno");
}

TEST(TraceLineTest, LineEndsBecomeCrLfAndPairsStayPairs) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"\n", "\r\n"},
      {"\r", "\r\n"},
      {"\r\n", "\r\n"},
      {"\n\r", "\r\n\r\n"},
      {"\r\r\n\n", "\r\n\r\n\r\n"},
      {"a\nb\r\nc\rd", "a\r\nb\r\nc\r\nd"},
  };
  for (const Case& c : cases) {
    std::string out(2 * c.in.size(), '?');
    out.resize(ConvertToCrLf(c.in.data(), c.in.size(), &out[0]));
    EXPECT_EQ(out, c.out);
  }
}

}  // namespace
}  // namespace flvdmx

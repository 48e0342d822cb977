#include "diag/trace_line.h"

#include <gtest/gtest.h>

#include <string>

#include "diag/trace.h"

namespace flvdmx {
namespace {

constexpr uint32_t kTime = 12 * 3600000 + 34 * 60000 + 56 * 1000 + 789;  // 12:34:56.789

std::string Compose(const std::string& message, uint32_t flags, bool extra = false,
                    uint32_t timeMs = kTime, size_t cap = kMaxTracePrefix + 2048) {
  TraceLinePrefix prefix;
  prefix.dwFlags = flags;
  prefix.bExtraLine = extra;
  prefix.dwTimeOfDayMs = timeMs;
  prefix.iHandleCount = 37;
  prefix.dwThreadId = 0xBEEF;
  char line[kMaxTracePrefix + 2048];
  const size_t length = ComposeTraceLine(message.c_str(), prefix, line, cap);
  EXPECT_EQ(length, std::string(line).size());
  return line;
}

TEST(TraceLineTest, PrefixRules) {
  const uint32_t on = kTraceOn;
  struct Case {
    std::string message;
    uint32_t flags;
    bool extra;
    uint32_t timeMs;
    std::string line;
  } cases[] = {
      {"no line feed first", on | kTraceTime | kTraceThread, true, kTime, "no line feed first"},
      {"\n\nX\n", on, false, kTime, "\r\n\r\nX\n"},
      {"\nX", on | kTraceTime, false, kTime, "\r\n12:34:56.789: X"},
      {"\nX", on | kTraceTime, false, 0, "\r\n00:00:00.000: X"},
      {"\nX", on | kTraceTime, false, 86399999, "\r\n23:59:59.999: X"},
      {"\nX", on | kTraceTime, true, kTime, "\r\n\n12:34:56.789: X"},
      {"\nX", on, true, kTime, "\r\nX"},  // the extra line belongs to the stamp
      {"\nX", on | kTraceHandleCount, false, kTime, "\r\n  37 X"},
      {"\nX", on | kTraceThread, false, kTime, "\r\n0000beef: X"},
      {"\nX", on | kTraceTime | kTraceHandleCount | kTraceThread, true, kTime,
       "\r\n\n12:34:56.789:   37 0000beef: X"},
      // The prefix is cut at 49 characters: 24 line feeds and a CR of the 25th,
      {std::string(30, '\n') + "body", kTraceTime | kTraceThread, false, kTime,
       [] {
         std::string s;
         for (int i = 0; i < 24; ++i) s += "\r\n";
         return s + "\rbody";
       }()},
      // and 22 line feeds leave 5 characters of the time of day.
      {std::string(22, '\n') + "body", kTraceTime, false, kTime,
       [] {
         std::string s;
         for (int i = 0; i < 22; ++i) s += "\r\n";
         return s + "12:34body";
       }()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Compose(c.message, c.flags, c.extra, c.timeMs), c.line) << c.line;
  // A small buffer cuts the line, prefix or message.
  EXPECT_EQ(Compose("\nabcdefghij", kTraceTime, false, kTime, 16), "\r\n12:34:56.789:");
  EXPECT_EQ(Compose("abcdefghijklmnopqrstuvwxyz", kTraceTime, false, kTime, 16), "abcdefghijklmno");
}

}  // namespace
}  // namespace flvdmx

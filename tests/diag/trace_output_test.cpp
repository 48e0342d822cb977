// The trace call end to end: flags, prefixes, the debugger sink and the
// shared file writer with its timer.
#include "diag/trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "diag/trace_os.h"
#include "diag/trace_slot.h"
#include "diag/trace_writer.h"
#include "support/media.h"

namespace flvdmx {
namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kStamp = "##:##:##.###: ";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The file's text after its byte-order mark, which must be there.
std::string TextAfterBom(const std::string& path) {
  const std::string all = ReadFile(path);
  EXPECT_EQ(all.substr(0, 3), kBom) << path;
  return all.size() >= 3 ? all.substr(3) : std::string();
}

// In `pattern`, '#' stands for a digit, '~' for a digit or a blank and '%'
// for a lower-case hex digit; every other character for itself.
bool WholeMatch(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i], p = pattern[i];
    const bool digit = c >= '0' && c <= '9';
    if (p == '#' ? !digit : p == '~' ? !digit && c != ' ' : p == '%' ? !digit && !(c >= 'a' && c <= 'f') : c != p)
      return false;
  }
  return true;
}

class TraceOutputTest : public testing::Test {
 protected:
  void SetUp() override {
    m_savedFlags = g_dwTraceFlags;
    m_savedPath = GetTraceFilePath();
    m_file = m_dir.File("trace.txt");
    ASSERT_EQ(SetTraceFilePath(m_file.c_str()), S_OK);
  }
  void TearDown() override {
    CloseTraceWriter();
    g_dwTraceFlags = m_savedFlags;
    SetTraceFilePath(m_savedPath.c_str());
  }

  TempDir m_dir;
  std::string m_file;
  uint32_t m_savedFlags = 0;
  std::wstring m_savedPath;
};

TEST_F(TraceOutputTest, InitialFlagsWriteNothingAnywhere) {
  g_dwTraceFlags = kTraceGroupedBytes;
  testing::internal::CaptureStderr();
  Trace("\nCFlvDmx::Test - %d", 1);
  CloseTraceWriter();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(std::filesystem::exists(m_file));
}

// Stamped lines in CR LF, an empty line after a pause of more than 100 ms.
TEST_F(TraceOutputTest, FileGetsStampedCrLfLinesAndAnEmptyLineAfterAPause) {
  g_dwTraceFlags = kTraceOn | kTraceTime;
  Trace("\n");  // a stamped line that goes nowhere, so that A follows no pause
  g_dwTraceFlags = kTraceOn | kTraceTime | kTraceFile;
  Trace("\nA");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Trace("\nB\nc\rd");
  Trace("\nC");
  CloseTraceWriter();
  const std::string line = "\r\n" + kStamp;
  EXPECT_TRUE(WholeMatch(TextAfterBom(m_file), line + "A\r\n" + line + "B\r\nc\r\nd" + line + "C")) << ReadFile(m_file);
}

TEST_F(TraceOutputTest, TimerWritesThePendingTextWithoutAClose) {
  g_dwTraceFlags = kTraceOn | kTraceFile;
  Trace("\nX");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ReadFile(m_file).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ReadFile(m_file), kBom + "\r\nX");
}

// Lines "\r\n%08x: T<t> L<i>": whole, once, each thread's in order and with
// its own id.
TEST_F(TraceOutputTest, LinesFromManyThreadsArriveWholeOnceAndInOrder) {
  g_dwTraceFlags = kTraceOn | kTraceFile | kTraceThread;
  constexpr int kThreads = 4, kLines = 200;
  std::vector<uint32_t> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      ids[t] = traceos::CurrentThreadId();
      for (int i = 0; i < kLines; ++i) Trace("\nT%d L%d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  CloseTraceWriter();

  const std::string text = TextAfterBom(m_file);
  std::vector<int> next(kThreads, 0);
  for (size_t pos = 0, end; pos < text.size(); pos = end) {
    end = std::min(text.find("\r\n", pos + 2), text.size());
    const std::string line = text.substr(pos, end - pos);
    unsigned id = 0;
    int t = -1, i = -1, used = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "\r\n%8x: T%d L%d%n", &id, &t, &i, &used), 3) << line;
    ASSERT_EQ(static_cast<size_t>(used), line.size()) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(id, ids[t]) << line;
    EXPECT_EQ(i, next[t]++) << "thread " << t << " out of order";
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

TEST_F(TraceOutputTest, DebuggerSinkGetsTheLineAsComposed) {
  g_dwTraceFlags = kTraceOn | kTraceDebugger | kTraceHandleCount | kTraceFile;
  testing::internal::CaptureStderr();
  Trace("\nboth");
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(WholeMatch(out, "\r\n~~~# both")) << out;
  CloseTraceWriter();
  EXPECT_TRUE(WholeMatch(TextAfterBom(m_file), "\r\n~~~# both"));
}

// Two modules of one process that trace to the same file: one writer, kept
// until the last of them lets go.
TEST(TraceHolderTest, ModulesShareOneWriterUntilTheLastLetsGo) {
  TempDir dir;
  const std::wstring path = traceos::WidenPath(dir.File("shared.txt").c_str());
  CTraceHolder first, second;
  ASSERT_EQ(first.SetPath(path.c_str()), S_OK);
  ASSERT_EQ(second.SetPath(path.c_str()), S_OK);

  TraceSlotHandle slot = OpenTraceSlot(TraceSlotName(traceos::CurrentProcessId(), path.c_str()));
  TraceSlotData* data = MapTraceSlot(slot);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->pWriter, nullptr);
  first.Append("\r\none", 5);
  void* writer = data->pWriter;
  ASSERT_NE(writer, nullptr);
  second.Append("\r\ntwo", 5);
  EXPECT_EQ(data->pWriter, writer);
  EXPECT_EQ(static_cast<CTraceWriter*>(writer)->m_lUsers, 2);
  first.Close();
  EXPECT_EQ(data->pWriter, writer);
  second.Append("\r\nthree", 7);
  second.Close();
  EXPECT_EQ(data->pWriter, nullptr);
  EXPECT_EQ(data->lSpin.load(), 0);
  UnmapTraceSlot(data);
  CloseTraceSlot(slot);
  EXPECT_EQ(TextAfterBom(dir.File("shared.txt")), "\r\none\r\ntwo\r\nthree");
}

}  // namespace
}  // namespace flvdmx

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
const char* const kStamp = "##:##:##.###: ";

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
    const char c = text[i];
    const bool digit = c >= '0' && c <= '9';
    switch (pattern[i]) {
      case '#':
        if (!digit) return false;
        break;
      case '~':
        if (!digit && c != ' ') return false;
        break;
      case '%':
        if (!digit && !(c >= 'a' && c <= 'f')) return false;
        break;
      default:
        if (c != pattern[i]) return false;
    }
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

  // A stamped line that goes nowhere, so that the next stamped line does not
  // follow a long pause (the previous test's last line).
  static void StampNow() {
    g_dwTraceFlags = kTraceOn | kTraceTime;
    Trace("\n");
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

TEST_F(TraceOutputTest, StampedLineInFileThatStartsWithByteOrderMark) {
  StampNow();
  g_dwTraceFlags = 0x0B;
  Trace("\nX");
  CloseTraceWriter();
  EXPECT_TRUE(WholeMatch(TextAfterBom(m_file), std::string("\r\n") + kStamp + "X"))
      << ReadFile(m_file);
}

TEST_F(TraceOutputTest, PauseOfMoreThan100MsGetsAnEmptyLine) {
  StampNow();
  g_dwTraceFlags = 0x0B;
  Trace("\nA");
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Trace("\nB");
  Trace("\nC");
  CloseTraceWriter();
  const std::string line = std::string("\r\n") + kStamp;
  EXPECT_TRUE(WholeMatch(TextAfterBom(m_file), line + "A\r\n" + line + "B" + line + "C"))
      << ReadFile(m_file);
}

TEST_F(TraceOutputTest, MessageWithoutLeadingLineFeedHasNoPrefix) {
  g_dwTraceFlags = kTraceOn | kTraceFile | kTraceTime | kTraceThread | kTraceHandleCount;
  Trace("plain %s", "text");
  CloseTraceWriter();
  EXPECT_EQ(TextAfterBom(m_file), "plain text");
}

TEST_F(TraceOutputTest, EveryLineEndInTheFileIsCrLf) {
  g_dwTraceFlags = kTraceOn | kTraceFile;
  Trace("\na\nb\rc\r\nd");
  Trace("\r");
  Trace("\n");
  CloseTraceWriter();
  EXPECT_EQ(TextAfterBom(m_file), "\r\na\r\nb\r\nc\r\nd\r\n\r\n");
}

TEST_F(TraceOutputTest, TimerWritesThePendingTextWithoutAClose) {
  g_dwTraceFlags = kTraceOn | kTraceFile;
  Trace("\nX");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ReadFile(m_file).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ReadFile(m_file), kBom + "\r\nX");
}

TEST_F(TraceOutputTest, LinesFromManyThreadsArriveWholeAndOnce) {
  g_dwTraceFlags = kTraceOn | kTraceFile | kTraceThread;
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) Trace("\nT%d L%d", t, i);
    });
  }
  for (std::thread& t : threads) t.join();
  CloseTraceWriter();

  // Lines "\r\n%08x: T<t> L<i>", each thread's in order.
  const std::string text = TextAfterBom(m_file);
  std::vector<int> next(kThreads, 0);
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos + 2);
    const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
    int t = -1, i = -1, used = 0;
    ASSERT_TRUE(WholeMatch(line.substr(0, 12), "\r\n%%%%%%%%: ")) << line;
    ASSERT_EQ(std::sscanf(line.c_str() + 12, "T%d L%d%n", &t, &i, &used), 2) << line;
    ASSERT_EQ(static_cast<size_t>(used), line.size() - 12) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(i, next[t]++) << "thread " << t << " out of order";
    pos = end == std::string::npos ? text.size() : end;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}

TEST_F(TraceOutputTest, ChangingThePathSendsLaterLinesToTheNewFile) {
  g_dwTraceFlags = kTraceOn | kTraceFile;
  Trace("\nold");
  const std::string second = m_dir.File("second.txt");
  ASSERT_EQ(SetTraceFilePath(second.c_str()), S_OK);
  Trace("\nnew");
  CloseTraceWriter();
  EXPECT_EQ(TextAfterBom(m_file), "\r\nold");
  EXPECT_EQ(TextAfterBom(second), "\r\nnew");
}

TEST_F(TraceOutputTest, PathThatIsADirectoryGetsTheFileInside) {
  std::filesystem::create_directory(m_dir.File("dir.txt"));
  ASSERT_EQ(SetTraceFilePath(m_dir.File("dir.txt").c_str()), S_OK);
  g_dwTraceFlags = kTraceOn | kTraceFile;
  Trace("\nX");
  CloseTraceWriter();
  EXPECT_EQ(TextAfterBom(m_dir.File("dir.txt/dir.txt")), "\r\nX");
}

TEST_F(TraceOutputTest, DebuggerSinkGetsTheLineAsComposed) {
  struct Case {
    uint32_t flags;
    const char* message;
    std::string pattern;
  } cases[] = {
      {kTraceOn | kTraceDebugger, "\nX", "\r\nX"},
      {kTraceOn | kTraceDebugger, "X\n", "X\n"},
      {kTraceOn | kTraceDebugger | kTraceHandleCount, "\nX", "\r\n~~~# X"},
      {kTraceOn | kTraceDebugger | kTraceThread, "\nX", "\r\n%%%%%%%%: X"},
  };
  for (const Case& c : cases) {
    g_dwTraceFlags = c.flags;
    testing::internal::CaptureStderr();
    Trace("%s", c.message);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(WholeMatch(out, c.pattern)) << c.flags << ": " << out;
  }
  EXPECT_FALSE(std::filesystem::exists(m_file));
}

TEST_F(TraceOutputTest, BothSinksAtOnce) {
  g_dwTraceFlags = kTraceOn | kTraceDebugger | kTraceFile;
  testing::internal::CaptureStderr();
  Trace("\nboth");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\r\nboth");
  CloseTraceWriter();
  EXPECT_EQ(TextAfterBom(m_file), "\r\nboth");
}

TEST_F(TraceOutputTest, ThreadPrefixIsTheCallersThread) {
  g_dwTraceFlags = kTraceOn | kTraceFile | kTraceThread;
  Trace("\nX");
  CloseTraceWriter();
  char expected[32];
  std::snprintf(expected, sizeof expected, "\r\n%08x: X", traceos::CurrentThreadId());
  EXPECT_EQ(TextAfterBom(m_file), expected);
}

TEST(TracePathTest, InitialPathAndRefusedPaths) {
  EXPECT_EQ(GetTraceFilePath(), L"c:\\OrvexTrace.txt");
  EXPECT_EQ(SetTraceFilePath(static_cast<const wchar_t*>(nullptr)), E_POINTER);
  EXPECT_EQ(SetTraceFilePath(static_cast<const char*>(nullptr)), E_POINTER);
  EXPECT_EQ(SetTraceFilePath(L""), E_INVALIDARG);
  EXPECT_EQ(SetTraceFilePath(std::wstring(600, L'x').c_str()), E_INVALIDARG);
  EXPECT_EQ(GetTraceFilePath(), L"c:\\OrvexTrace.txt");
}

TEST(TraceSlotTest, NameHasProcessNumberAndSlashes) {
  EXPECT_EQ(TraceSlotName(0x1A2B, L"c:\\OrvexTrace.txt"), L"00001A2B.642.c:/OrvexTrace.txt");
  EXPECT_EQ(TraceSlotName(0xFFFFFFFF, L"\\\\srv\\a/b"), L"FFFFFFFF.642.//srv/a/b");
}

// Two modules of one process that trace to the same file: one writer, kept
// until the last of them lets go.
TEST(TraceHolderTest, ModulesShareOneWriterUntilTheLastLetsGo) {
  TempDir dir;
  const std::wstring path = std::wstring(L"") + traceos::WidenPath(dir.File("shared.txt").c_str());
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

#include "diag/trace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "support/media.h"

namespace flvdmx {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::wstring Wide(const std::string& narrow) { return std::wstring(narrow.begin(), narrow.end()); }

// A path buffer of the size the writer keeps.
struct PathBuffer {
  explicit PathBuffer(const std::string& path) {
    text[Wide(path).copy(text, kMaxTracePath - 1)] = L'\0';
  }
  std::wstring str() const { return text; }
  wchar_t text[kMaxTracePath];
};

// The real file system, but Open answers scripted errors first and sleeps are only counted.
class CScriptedFileSystem : public CTraceFileSystem {
 public:
  DWORD Open(const wchar_t* pszPath, intptr_t* phFile) override {
    ++opens;
    if (!errors.empty()) {
      const DWORD error = errors.front();
      if (errors.size() > 1 || !sticky) errors.pop_front();
      return error;
    }
    return Platform().Open(pszPath, phFile);
  }
  int64_t Size(intptr_t h) override { return Platform().Size(h); }
  bool Append(intptr_t h, const void* p, size_t cb) override { return Platform().Append(h, p, cb); }
  void Close(intptr_t h) override { Platform().Close(h); }
  PathKind Kind(const wchar_t* p) override { return Platform().Kind(p); }
  bool MakeDirectory(const wchar_t* p) override {
    ++directoriesMade;
    return Platform().MakeDirectory(p);
  }
  // A sleep lasts at least msPerSleep on the clock, as Sleep(1) does on Windows.
  void SleepMs(uint32_t ms) override {
    sleptMs += ms;
    clockMs += std::max(ms, msPerSleep);
  }
  uint64_t NowMs() override { return clockMs; }

  std::deque<DWORD> errors;
  uint32_t msPerSleep = 1;
  uint64_t clockMs = 5000;
  bool sticky = false;  // the last scripted error repeats for ever
  int opens = 0;
  int directoriesMade = 0;
  uint32_t sleptMs = 0;
};

// A directory in the way (refused even to root) or a refused file: the path
// moves into a directory of its name, once.
TEST(TraceFileTest, RefusedFileMovesIntoADirectoryOfItsName) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("Dir.txt"));
  for (const char* name : {"Dir.txt", "Refused.txt"}) {
    SCOPED_TRACE(name);
    CScriptedFileSystem fs;
    if (name == std::string("Refused.txt")) fs.errors = {ERROR_ACCESS_DENIED};
    PathBuffer path(dir.File(name));
    BOOL first = TRUE;
    ASSERT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), S_OK);
    EXPECT_FALSE(first);
    EXPECT_EQ(path.str(), Wide(dir.File(name) + "/" + name));
    EXPECT_EQ(ReadFile(dir.File(name) + "/" + name), kBom + "x");
  }
}

TEST(TraceFileTest, FailuresDropTheTextAfterRetriesOnlyWhileAnotherWriterHoldsTheFile) {
  TempDir dir;
  std::ofstream(dir.File("file.txt")) << "";
  const struct {
    const char* what;
    std::string path;
    DWORD error;  // what Open answers the first cErrors times (every time when sticky)
    int cErrors;
    bool sticky;
    BOOL first;
    HRESULT expected;
    int opens, directoriesMade;
    uint32_t sleptMs;
    uint32_t msPerSleep = 1;
  } cases[] = {
      {"rule used once already", "a.txt", ERROR_ACCESS_DENIED, 1, false, FALSE, E_ACCESSDENIED, 1,
       0, 0},
      {"a file in the way of the directory", "file.txt", ERROR_ACCESS_DENIED, 1, false, TRUE,
       E_ACCESSDENIED, 1, 0, 0},
      {"directory cannot be made", "missing/c.txt", ERROR_ACCESS_DENIED, 1, false, TRUE,
       E_ACCESSDENIED, 1, 1, 0},
      {"other failures at once", "no/such/t.txt", 0, 0, false, TRUE,
       HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), 1, 0, 0},
      {"sharing retried every ms", "s.txt", ERROR_SHARING_VIOLATION, 2, false, TRUE, S_OK, 3, 0, 2},
      {"lock for a second", "l.txt", ERROR_LOCK_VIOLATION, 1, true, TRUE,
       HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION), 1001, 0, 1000},
      // The wait is a second of clock time, however long each sleep takes.
      {"lock for a second of 15 ms sleeps", "l15.txt", ERROR_LOCK_VIOLATION, 1, true, TRUE,
       HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION), 68, 0, 67, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CScriptedFileSystem fs;
    fs.errors.assign(static_cast<size_t>(c.cErrors), c.error);
    fs.sticky = c.sticky;
    fs.msPerSleep = c.msPerSleep;
    PathBuffer path(dir.File(c.path));
    BOOL first = c.first;
    EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), c.expected);
    EXPECT_EQ(fs.opens, c.opens);
    EXPECT_EQ(fs.directoriesMade, c.directoriesMade);
    EXPECT_EQ(fs.sleptMs, c.sleptMs);
    EXPECT_EQ(path.str(), Wide(dir.File(c.path))) << "the path stays";
  }
  EXPECT_EQ(ReadFile(dir.File("s.txt")), kBom + "x");
}

// Another writer's exclusive lock: the block waits instead of being lost.
TEST(TraceFileTest, WaitsForAnotherWriterToLetGo) {
  TempDir dir;
  const std::string file = dir.File("held.txt");
  const int other = ::open(file.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::close(other);
  });
  PathBuffer path(file);
  BOOL first = TRUE;
  EXPECT_EQ(WriteTraceBlock(CTraceFileSystem::Platform(), path.text, &first, "x", 1), S_OK);
  release.join();
  EXPECT_EQ(ReadFile(file), kBom + "x");
}

TEST(TraceFileTest, MovePathIntoDirectory) {
  const std::wstring tooLong = L"/" + std::wstring(600, L'x');
  struct Case {
    std::wstring in, out;  // out empty: refused, path unchanged
  } cases[] = {
      {L"/tmp/OrvexTrace.txt", L"/tmp/OrvexTrace.txt/OrvexTrace.txt"},
      {L"trace", L"trace/trace"},
      {L"/a/b/", L""},  // no file name to repeat
      {tooLong, L""},
  };
  for (const Case& c : cases) {
    wchar_t path[kMaxTracePath];
    path[c.in.copy(path, kMaxTracePath - 1)] = L'\0';
    EXPECT_EQ(MovePathIntoDirectory(path), !c.out.empty());
    EXPECT_EQ(std::wstring(path), c.out.empty() ? c.in : c.out);
  }
}

}  // namespace
}  // namespace flvdmx

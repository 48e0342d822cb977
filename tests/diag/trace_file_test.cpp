#include "diag/trace_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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
    const std::wstring wide = Wide(path);
    wide.copy(text, wide.size());
    text[wide.size()] = L'\0';
  }
  std::wstring str() const { return text; }
  wchar_t text[kMaxTracePath];
};

// The real file system, except that Open answers with scripted errors first
// and sleeps are only counted.
class CScriptedFileSystem : public CTraceFileSystem {
 public:
  DWORD Open(const wchar_t* pszPath, intptr_t* phFile) override {
    opens.push_back(pszPath);
    auto it = errors.find(pszPath);
    if (it != errors.end() && !it->second.empty()) {
      const DWORD error = it->second.front();
      if (it->second.size() > 1 || !sticky) it->second.pop_front();
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
  void SleepMs(uint32_t ms) override { sleptMs += ms; }

  std::map<std::wstring, std::deque<DWORD>> errors;
  bool sticky = false;  // the last scripted error repeats for ever
  std::deque<std::wstring> opens;
  int directoriesMade = 0;
  uint32_t sleptMs = 0;
};

TEST(TraceFileTest, NewFileStartsWithByteOrderMarkAndLaterBlocksAppend) {
  TempDir dir;
  PathBuffer path(dir.File("trace.txt"));
  BOOL first = TRUE;
  CTraceFileSystem& fs = CTraceFileSystem::Platform();
  ASSERT_EQ(WriteTraceBlock(fs, path.text, &first, "one\r\n", 5), S_OK);
  ASSERT_EQ(WriteTraceBlock(fs, path.text, &first, "two", 3), S_OK);
  EXPECT_EQ(ReadFile(dir.File("trace.txt")), kBom + "one\r\ntwo");
  EXPECT_TRUE(first);
}

TEST(TraceFileTest, ExistingTextGetsNoByteOrderMark) {
  TempDir dir;
  std::ofstream(dir.File("trace.txt")) << "old";
  PathBuffer path(dir.File("trace.txt"));
  BOOL first = TRUE;
  ASSERT_EQ(WriteTraceBlock(CTraceFileSystem::Platform(), path.text, &first, "new", 3), S_OK);
  EXPECT_EQ(ReadFile(dir.File("trace.txt")), "oldnew");
}

// Opening a directory as a file is refused for lack of rights even as root,
// so this takes the real road of the directory rule.
TEST(TraceFileTest, PathThatIsADirectoryGetsTheFileInside) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("Trace.txt"));
  PathBuffer path(dir.File("Trace.txt"));
  BOOL first = TRUE;
  ASSERT_EQ(WriteTraceBlock(CTraceFileSystem::Platform(), path.text, &first, "x", 1), S_OK);
  EXPECT_EQ(path.str(), Wide(dir.File("Trace.txt/Trace.txt")));
  EXPECT_FALSE(first);
  EXPECT_EQ(ReadFile(dir.File("Trace.txt/Trace.txt")), kBom + "x");
}

TEST(TraceFileTest, FileThatMayNotBeCreatedMovesIntoADirectoryOfItsName) {
  TempDir dir;
  CScriptedFileSystem fs;
  PathBuffer path(dir.File("OrvexTrace.txt"));
  fs.errors[path.str()] = {ERROR_ACCESS_DENIED};
  BOOL first = TRUE;
  ASSERT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), S_OK);
  EXPECT_EQ(fs.directoriesMade, 1);
  EXPECT_FALSE(first);
  EXPECT_EQ(path.str(), Wide(dir.File("OrvexTrace.txt/OrvexTrace.txt")));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("OrvexTrace.txt")));
  EXPECT_EQ(ReadFile(dir.File("OrvexTrace.txt/OrvexTrace.txt")), kBom + "x");
}

TEST(TraceFileTest, AccessDeniedDropsTheTextWhenTheRuleCannotHelp) {
  TempDir dir;
  {  // the rule was used once already
    CScriptedFileSystem fs;
    PathBuffer path(dir.File("a.txt"));
    fs.errors[path.str()] = {ERROR_ACCESS_DENIED};
    BOOL first = FALSE;
    EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), E_ACCESSDENIED);
    EXPECT_EQ(fs.directoriesMade, 0);
    EXPECT_EQ(path.str(), Wide(dir.File("a.txt")));
  }
  {  // a file is in the way of the directory
    std::ofstream(dir.File("b.txt")) << "";
    CScriptedFileSystem fs;
    PathBuffer path(dir.File("b.txt"));
    fs.errors[path.str()] = {ERROR_ACCESS_DENIED};
    BOOL first = TRUE;
    EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), E_ACCESSDENIED);
    EXPECT_EQ(fs.directoriesMade, 0);
    EXPECT_TRUE(first);
  }
  {  // the directory cannot be made (its parent is missing)
    CScriptedFileSystem fs;
    PathBuffer path(dir.File("missing/c.txt"));
    fs.errors[path.str()] = {ERROR_ACCESS_DENIED};
    BOOL first = TRUE;
    EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), E_ACCESSDENIED);
    EXPECT_EQ(fs.directoriesMade, 1);
    EXPECT_TRUE(first);
  }
}

TEST(TraceFileTest, SharingViolationIsRetriedEveryMillisecondForUpToASecond) {
  TempDir dir;
  for (DWORD error : {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}) {
    CScriptedFileSystem fs;
    PathBuffer path(dir.File("shared.txt"));
    fs.errors[path.str()] = {error, error, error};
    BOOL first = TRUE;
    EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1), S_OK);
    EXPECT_EQ(fs.sleptMs, 3u);
    EXPECT_EQ(fs.opens.size(), 4u);

    CScriptedFileSystem busy;
    busy.errors[path.str()] = {error};
    busy.sticky = true;
    EXPECT_EQ(WriteTraceBlock(busy, path.text, &first, "y", 1), HRESULT_FROM_WIN32(error));
    EXPECT_EQ(busy.sleptMs, 1000u);
  }
  EXPECT_EQ(ReadFile(dir.File("shared.txt")), kBom + "xx");
}

TEST(TraceFileTest, OtherFailuresDropTheTextAtOnce) {
  TempDir dir;
  CScriptedFileSystem fs;
  PathBuffer path(dir.File("no/such/dir/t.txt"));
  BOOL first = TRUE;
  EXPECT_EQ(WriteTraceBlock(fs, path.text, &first, "x", 1),
            HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(fs.opens.size(), 1u);
  EXPECT_EQ(fs.sleptMs, 0u);
}

// Here another writer's hold on the file is an exclusive lock; the block
// waits for it to go instead of being lost.
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
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  } cases[] = {
      {L"/tmp/OrvexTrace.txt", L"/tmp/OrvexTrace.txt/OrvexTrace.txt"},
      {L"trace", L"trace/trace"},
      {L"/a/b/", nullptr},  // no file name to repeat
  };
  for (const Case& c : cases) {
    wchar_t path[kMaxTracePath];
    std::wcscpy(path, c.in);
    EXPECT_EQ(MovePathIntoDirectory(path), c.out != nullptr);
    if (c.out) {
      EXPECT_EQ(std::wstring(path), c.out);
    }
  }
  wchar_t longPath[kMaxTracePath];
  std::wstring tooLong = L"/" + std::wstring(600, L'x');
  tooLong.copy(longPath, tooLong.size());
  longPath[tooLong.size()] = L'\0';
  EXPECT_FALSE(MovePathIntoDirectory(longPath));
  EXPECT_EQ(std::wstring(longPath), tooLong);
}

}  // namespace
}  // namespace flvdmx

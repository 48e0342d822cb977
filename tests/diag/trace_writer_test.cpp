// Modules of one process writing one trace file: each has its own writer, so
// a module that closes (and unloads) leaves nothing another module's lines
// go through, and every line of both reaches the file.
#include "diag/trace_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>

#include "support/media.h"

namespace flvdmx {
namespace {

// The platform's file system, counting the opens that go through it.
class CCountingFileSystem : public CTraceFileSystem {
 public:
  DWORD Open(const wchar_t* pszPath, intptr_t* phFile) override {
    ++opens;
    return Platform().Open(pszPath, phFile);
  }
  int64_t Size(intptr_t h) override { return Platform().Size(h); }
  bool Append(intptr_t h, const void* p, size_t cb) override { return Platform().Append(h, p, cb); }
  void Close(intptr_t h) override { Platform().Close(h); }
  PathKind Kind(const wchar_t* p) override { return Platform().Kind(p); }
  bool MakeDirectory(const wchar_t* p) override { return Platform().MakeDirectory(p); }
  void SleepMs(uint32_t ms) override { Platform().SleepMs(ms); }
  uint64_t NowMs() override { return Platform().NowMs(); }

  std::atomic<int> opens{0};
};

TEST(TraceWriterTest, ModulesShareTheFileButNotTheWriter) {
  TempDir dir;
  const std::string file = dir.File("trace.txt");
  const std::wstring path(file.begin(), file.end());
  CTraceHolder first, second;  // two modules
  CCountingFileSystem firstFs, secondFs;
  first.SetFileSystem(&firstFs);
  second.SetFileSystem(&secondFs);
  ASSERT_EQ(first.SetPath(path.c_str()), S_OK);
  ASSERT_EQ(second.SetPath(path.c_str()), S_OK);

  const std::string a = "first module\n", b = "second module\n";
  first.Append(a.data(), a.size());
  second.Append(b.data(), b.size());
  first.Close();  // the first module unloads
  const int firstOpens = firstFs.opens;
  second.Close();
  EXPECT_EQ(firstFs.opens, firstOpens) << "the second module wrote through the first's code";
  EXPECT_GT(secondFs.opens, 0);

  std::ifstream in(file, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(text.find("first module\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("second module\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "one byte-order mark, at the start";
  EXPECT_EQ(text.find("\xEF\xBB\xBF", 1), std::string::npos);
}

}  // namespace
}  // namespace flvdmx

// The reader contract, checked on both readers of the host: whole and short
// reads, argument checks, and flushes racing concurrent reads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/file_reader.h"
#include "host/memory_reader.h"
#include "support/media.h"

namespace flvdmx {
namespace {

// Makes a reader over `bytes` with the caller's reference.
struct ReaderKind {
  const char* name;
  CAsyncReaderBase* (*make)(const std::vector<uint8_t>& bytes);
};

class ReaderContract : public ::testing::TestWithParam<ReaderKind> {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < m_bytes.size(); ++i)
      m_bytes[i] = static_cast<uint8_t>((i * 131) ^ (i >> 8));
    m_reader = GetParam().make(m_bytes);
    ASSERT_NE(m_reader, nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(m_reader->Release(), 0u) << "a reference was not given back";
  }

  std::vector<uint8_t> m_bytes = std::vector<uint8_t>(300000);
  CAsyncReaderBase* m_reader = nullptr;
};

TEST_P(ReaderContract, SyncReadResults) {
  const int64_t size = static_cast<int64_t>(m_bytes.size());
  const struct {
    int64_t position;
    int32_t length;
    HRESULT expected;
    int32_t copied;  // bytes that arrive
  } cases[] = {
      {1000, 100000, S_OK, 100000}, {size - 10, 15, S_FALSE, 10},  // short read at the end
      {size + 1000, 4, S_FALSE, 0}, {5, 0, S_OK, 0},
      {-1, 4, E_INVALIDARG, 0},     {0, -4, E_INVALIDARG, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + "+" + std::to_string(c.length));
    std::vector<uint8_t> buf(c.length > 0 ? c.length : 1, 0xCC);
    EXPECT_EQ(m_reader->SyncRead(c.position, c.length, buf.data()), c.expected);
    for (int32_t i = 0; i < c.copied; ++i) {
      ASSERT_EQ(buf[i], m_bytes[static_cast<size_t>(c.position + i)]) << i;
    }
    if (c.copied < static_cast<int32_t>(buf.size())) {
      EXPECT_EQ(buf[c.copied], 0xCC) << "nothing is written past the bytes that came";
    }
  }
  EXPECT_EQ(m_reader->SyncRead(0, 4, nullptr), E_POINTER);
}

TEST_P(ReaderContract, FlushDuringConcurrentReadsFailsThemPromptly) {
  std::atomic<bool> stop{false};
  std::atomic<int> wrongBytes{0}, failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint8_t> buf(65536);
      int64_t pos = t * 1000;
      while (!stop) {
        const HRESULT hr = m_reader->SyncRead(pos, 65536, buf.data());
        if (hr == VFW_E_WRONG_STATE) {
          ++failed;
        } else if (hr != S_OK || !std::equal(buf.begin(), buf.end(), m_bytes.begin() + pos)) {
          ++wrongBytes;
        }
        pos = (pos + 7919) % 200000;
      }
    });
  }
  uint8_t b[4];
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(m_reader->BeginFlush(), S_OK);
    EXPECT_EQ(m_reader->SyncRead(0, 4, b), VFW_E_WRONG_STATE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(m_reader->EndFlush(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrongBytes.load(), 0) << "a read either fails or brings the right bytes";
  EXPECT_EQ(m_reader->SyncRead(0, 4, b), S_OK);
}

CAsyncReaderBase* MakeMemoryReader(const std::vector<uint8_t>& bytes) {
  return new CMemoryReader(bytes);
}

CAsyncReaderBase* MakeFileReader(const std::vector<uint8_t>& bytes) {
  // Each reader gets its own file; it stays open (and readable) after unlink.
  static TempDir dir;
  static std::atomic<int> counter{0};
  const std::string path = dir.File("reader" + std::to_string(counter++) + ".bin");
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  CFileReader* reader = nullptr;
  EXPECT_EQ(CFileReader::Open(path.c_str(), &reader), S_OK);
  std::remove(path.c_str());
  return reader;
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderContract,
                         ::testing::Values(ReaderKind{"Memory", MakeMemoryReader},
                                           ReaderKind{"File", MakeFileReader}),
                         [](const auto& info) { return info.param.name; });

TEST(FileReader, OpenGivesWin32StyleErrors) {
  TempDir dir;
  const std::string file = dir.File("plain.flv");
  std::ofstream(file).put('F');
  const struct {
    std::string path;
    HRESULT expected;
  } cases[] = {
      {file + "/x.flv", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
      {dir.path(), E_ACCESSDENIED},
      {"", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    CFileReader* reader = reinterpret_cast<CFileReader*>(0x1);
    EXPECT_EQ(CFileReader::Open(c.path.c_str(), &reader), c.expected);
    EXPECT_EQ(reader, nullptr);
  }
}

}  // namespace
}  // namespace flvdmx

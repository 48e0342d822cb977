#include "framework/buffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace flvdmx {
namespace {

// A heap whose growth can be refused, to check that a failed growth leaves
// the buffer as it was.
struct CountingHeap {
  static inline int resizes = 0;
  static inline bool refuse = false;
  static void Free(void* p) { std::free(p); }
  static void* Resize(void* p, size_t n) {
    ++resizes;
    return refuse ? nullptr : std::realloc(p, n == 0 ? 1 : n);
  }
};

class CountingBuffer : public CBaseBuffer {
 public:
  CountingBuffer() : CBaseBuffer(CountingHeap::Free, CountingHeap::Resize) {
    CountingHeap::resizes = 0;
    CountingHeap::refuse = false;
  }
};

TEST(BufferTest, GrowthAsksForExactlyTheBytesNeeded) {
  CountingBuffer b;
  EXPECT_EQ(b.Append("x", 0), S_OK);
  EXPECT_EQ(CountingHeap::resizes, 0) << "nothing to hold, nothing allocated";
  ASSERT_EQ(b.Assign(nullptr, 4), S_OK);
  EXPECT_EQ(std::memcmp(b.Data(), "\0\0\0\0", 4), 0);
  ASSERT_EQ(b.Append("abc", 3), S_OK);
  EXPECT_EQ(b.Capacity(), 7);
  const int before = CountingHeap::resizes;
  ASSERT_EQ(b.Assign("1234567", 7), S_OK);
  EXPECT_EQ(CountingHeap::resizes, before) << "the same size again does not allocate";
}

TEST(BufferTest, RefusedGrowthLeavesTheBufferUnchanged) {
  CountingBuffer b;
  ASSERT_EQ(b.Assign("ab", 2), S_OK);
  CountingHeap::refuse = true;
  EXPECT_EQ(b.Append("cd", 2), E_OUTOFMEMORY);
  EXPECT_EQ(b.ReserveTail(10, nullptr), E_OUTOFMEMORY);
  EXPECT_EQ(b.Format("%s", "longer than two"), E_OUTOFMEMORY);
  EXPECT_FALSE(b.Reserve(3));
  EXPECT_EQ(b.Size(), 2);
  EXPECT_EQ(b.Capacity(), 2);
  EXPECT_EQ(std::memcmp(b.Data(), "ab", 2), 0);
}

TEST(BufferTest, ReserveTailAndAppendAndGetWorkOnTheEnd) {
  CBuffer b;
  ASSERT_EQ(b.Assign("ab", 2), S_OK);
  uint8_t* tail = nullptr;
  ASSERT_EQ(b.ReserveTail(3, &tail), S_OK);
  EXPECT_EQ(tail, b.Data() + 2);
  EXPECT_EQ(b.Size(), 2);
  EXPECT_EQ(b.ReserveTail(-1, &tail), E_INVALIDARG);
  const uint8_t* p = reinterpret_cast<const uint8_t*>("cd");
  int n = 2;
  ASSERT_EQ(b.AppendAndGet(&p, &n), S_OK);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(std::memcmp(p, "abcd", 4), 0);
}

}  // namespace
}  // namespace flvdmx

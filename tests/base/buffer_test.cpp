#include "base/buffer.h"

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

}  // namespace
}  // namespace flvdmx

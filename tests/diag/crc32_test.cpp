#include "diag/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace flvdmx {
namespace {

uint32_t Crc(const std::string& text) {
  return Crc32(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32Test, KnownValuesOfZlibsCrc) {
  struct Case {
    std::string data;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000},
      {"a", 0xE8B7BE43},
      {"123456789", 0xCBF43926},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339},
      {std::string(4, '\0'), 0x2144DF1C},
      {std::string(4, '\xFF'), 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(Crc(c.data), c.crc) << c.data;
}

TEST(Crc32Test, ContinuingOverPiecesEqualsTheWhole) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  const uint32_t whole = Crc32(data.data(), data.size());
  for (size_t split : {0, 1, 499, 999, 1000}) {
    const uint32_t first = Crc32(data.data(), split);
    EXPECT_EQ(Crc32(data.data() + split, data.size() - split, first), whole) << split;
  }
}

}  // namespace
}  // namespace flvdmx

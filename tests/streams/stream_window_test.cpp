// The stream window: bit headers fetched a piece at a time only as far as
// the parse needs, byte runs in one read, and the statuses of each way out.
#include "streams/stream_window.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "streams_test_util.h"

namespace flvdmx {
namespace {

// Reads `bits` bits; a value of 0 in the first byte is refused as bad data.
HRESULT ReadAndCheck(BitReader& r, int bits) {
  uint32_t first = 0;
  if (!r.ReadBits(8, &first)) return kStreamDataShort;
  if (first == 0) return VFW_E_INVALID_FILE_FORMAT;
  for (int left = bits - 8; left > 0; left -= 8) {
    uint32_t v = 0;
    if (!r.ReadBits(left < 8 ? left : 8, &v)) return kStreamDataShort;
  }
  return S_OK;
}

TEST(StreamWindow, BitHeadersFetchPiecesAsFarAsNeeded) {
  const std::vector<uint8_t> file = {0x11, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const struct {
    const char* name;
    uint32_t window;
    int bits;
    int64_t failAt;  // -1: no failure
    HRESULT hr;
    uint64_t reads;
  } cases[] = {
      {"OnePiece", 10, 32, -1, S_OK, 1},
      {"ThreePieces", 10, 80, -1, S_OK, 3},
      {"WindowRunsOut", 6, 56, -1, kStreamDataShort, 2},
      {"EmptyWindow", 0, 8, -1, kStreamDataShort, 0},
      {"ReadFailureUnchanged", 10, 40, 4, E_FAIL, 2},
      {"BadDataBeforeTheFailingPiece", 10, 40, 4, VFW_E_INVALID_FILE_FORMAT, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = file;
    if (c.hr == VFW_E_INVALID_FILE_FORMAT) bytes[0] = 0;
    auto reader = MakeReader(bytes);
    if (c.failAt >= 0) reader->FailReadsAt(c.failAt, E_FAIL);
    StreamWindow window;
    ASSERT_EQ(window.Init(reader.get(), 0, c.window), S_OK);
    EXPECT_EQ(window.ParseBits([&c](BitReader& r) { return ReadAndCheck(r, c.bits); }), c.hr);
    EXPECT_EQ(reader->ReadCount(), c.reads);
  }
}

TEST(StreamWindow, ByteRunsComeInOneRead) {
  const std::vector<uint8_t> file = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  auto reader = MakeReader(file);
  StreamWindow window;
  ASSERT_EQ(window.Init(reader.get(), 1, 7), S_OK);
  EXPECT_EQ(window.Fetch(8), kStreamDataShort) << "more than the window holds";
  EXPECT_EQ(reader->ReadCount(), 0u);
  ASSERT_EQ(window.Fetch(7), S_OK);
  ASSERT_EQ(window.Fetch(3), S_OK) << "already there";
  EXPECT_EQ(reader->ReadCount(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(window.Data(), window.Data() + 7),
            std::vector<uint8_t>(file.begin() + 1, file.end() - 1));
  StreamWindow none;
  EXPECT_EQ(none.Init(nullptr, 0, 4), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

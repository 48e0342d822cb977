#include "streams/stream_bit_reader.h"

#include <gtest/gtest.h>

#include "streams_test_util.h"

namespace flvdmx {
namespace {

TEST(StreamBitReaderTest, ReadsBitsMostSignificantFirstAcrossFetches) {
  auto reader = MakeReader({0xA5, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 9), S_OK);
  uint32_t v = 0;
  ASSERT_EQ(br.ReadBits(0, &v), S_OK);
  EXPECT_EQ(v, 0u);
  ASSERT_EQ(br.ReadBits(3, &v), S_OK);
  EXPECT_EQ(v, 0x5u);  // 101
  ASSERT_EQ(br.ReadBits(13, &v), S_OK);
  EXPECT_EQ(v, 0x050Fu);
  ASSERT_EQ(br.ReadBits(24, &v), S_OK);  // crosses into the second fetch
  EXPECT_EQ(v, 0xF01234u);
  ASSERT_EQ(br.ReadBits(32, &v), S_OK);
  EXPECT_EQ(v, 0x56789ABCu);
  // Three reads of at most four bytes each.
  EXPECT_EQ(reader->ReadCount(), 3u);
  EXPECT_EQ(br.ReadBits(1, &v), kStreamDataShort);
}

TEST(StreamBitReaderTest, ThreeByteWindowRunsOutAtTheTwentyFifthBit) {
  auto reader = MakeReader({1, 2, 3, 4, 5, 6});
  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 3), S_OK);
  uint32_t v = 0;
  ASSERT_EQ(br.ReadBits(24, &v), S_OK);
  EXPECT_EQ(v, 0x010203u);
  EXPECT_EQ(br.ReadBits(1, &v), kStreamDataShort);
  EXPECT_EQ(reader->BytesRead(), 3u);  // never past the window
}

TEST(StreamBitReaderTest, ReadBytesBeyondTheWindowConsumesNothing) {
  auto reader = MakeReader({1, 2, 3, 4, 5, 6});
  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 3), S_OK);
  uint8_t out[4] = {};
  EXPECT_EQ(br.ReadBytes(4, out), kStreamDataShort);
  EXPECT_EQ(reader->ReadCount(), 0u);
  ASSERT_EQ(br.ReadBytes(3, out), S_OK);
  EXPECT_EQ(Hex(out, 3), "010203");
}

TEST(StreamBitReaderTest, ReadBytesTakesCachedBytesFirstThenReadsTheRestOnce) {
  auto reader = MakeReader({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0});
  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 10), S_OK);
  uint32_t v = 0;
  ASSERT_EQ(br.ReadBits(8, &v), S_OK);  // fetches 4 bytes, 3 stay cached
  reader->ResetCounters();
  uint8_t out[8] = {};
  ASSERT_EQ(br.ReadBytes(8, out), S_OK);
  EXPECT_EQ(Hex(out, 8), "2030405060708090");
  EXPECT_EQ(reader->ReadCount(), 1u);
  EXPECT_EQ(br.BytesRemaining(), 1u);
  ASSERT_EQ(br.ReadBits(8, &v), S_OK);
  EXPECT_EQ(v, 0xA0u);
}

TEST(StreamBitReaderTest, ReadResultsOtherThanOkArePassedThrough) {
  {
    auto reader = MakeReader({1, 2, 3, 4, 5, 6, 7, 8});
    reader->FailReadsAt(5, E_FAIL);
    StreamBitReader br;
    ASSERT_EQ(br.Init(reader.get(), 0, 8), S_OK);
    uint32_t v = 0;
    ASSERT_EQ(br.ReadBits(32, &v), S_OK);
    EXPECT_EQ(br.ReadBits(8, &v), E_FAIL);
  }
  {
    // The window claims more than the file holds: the short read's S_FALSE.
    auto reader = MakeReader({1, 2});
    StreamBitReader br;
    ASSERT_EQ(br.Init(reader.get(), 0, 8), S_OK);
    uint32_t v = 0;
    EXPECT_EQ(br.ReadBits(8, &v), S_FALSE);
    uint8_t out[8];
    EXPECT_EQ(br.ReadBytes(8, out), S_FALSE);
  }
  StreamBitReader br;
  EXPECT_EQ(br.Init(nullptr, 0, 8), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

#include "streams/stream_bit_reader.h"

#include <gtest/gtest.h>

#include "streams_test_util.h"

namespace flvdmx {
namespace {

TEST(StreamBitReaderTest, ReadsBitsMostSignificantFirstInFourByteFetches) {
  auto reader = MakeReader({0xA5, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 9), S_OK);
  uint32_t v = 0;
  const uint32_t reads[][2] = {{0, 0}, {3, 0x5}, {13, 0x050F}, {24, 0xF01234}, {32, 0x56789ABC}};
  for (const auto& [bits, expected] : reads) {
    ASSERT_EQ(br.ReadBits(bits, &v), S_OK);
    EXPECT_EQ(v, expected) << bits;
  }
  EXPECT_EQ(reader->ReadCount(), 3u);
  EXPECT_EQ(br.ReadBits(1, &v), kStreamDataShort);
}

TEST(StreamBitReaderTest, WindowIsNeverReadPastAndBytesComeFromTheCacheFirst) {
  auto reader = MakeReader({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0});
  StreamBitReader small;
  ASSERT_EQ(small.Init(reader.get(), 0, 3), S_OK);
  uint8_t out[8] = {};
  EXPECT_EQ(small.ReadBytes(4, out), kStreamDataShort);
  EXPECT_EQ(reader->ReadCount(), 0u) << "a refused read consumes nothing";
  uint32_t v = 0;
  ASSERT_EQ(small.ReadBits(24, &v), S_OK);
  EXPECT_EQ(small.ReadBits(1, &v), kStreamDataShort);
  EXPECT_EQ(reader->BytesRead(), 3u);

  StreamBitReader br;
  ASSERT_EQ(br.Init(reader.get(), 0, 10), S_OK);
  ASSERT_EQ(br.ReadBits(8, &v), S_OK);  // fetches 4 bytes, 3 stay cached
  reader->ResetCounters();
  ASSERT_EQ(br.ReadBytes(8, out), S_OK);
  EXPECT_EQ(Hex(out, 8), "2030405060708090");
  EXPECT_EQ(reader->ReadCount(), 1u);
  EXPECT_EQ(br.BytesRemaining(), 1u);
}

TEST(StreamBitReaderTest, ReadResultsOtherThanOkArePassedThrough) {
  auto failing = MakeReader({1, 2, 3, 4, 5, 6, 7, 8});
  failing->FailReadsAt(5, E_FAIL);
  StreamBitReader br;
  ASSERT_EQ(br.Init(failing.get(), 0, 8), S_OK);
  uint32_t v = 0;
  ASSERT_EQ(br.ReadBits(32, &v), S_OK);
  EXPECT_EQ(br.ReadBits(8, &v), E_FAIL);
  auto shortFile = MakeReader({1, 2});  // the window claims more than the file holds
  StreamBitReader past;
  ASSERT_EQ(past.Init(shortFile.get(), 0, 8), S_OK);
  EXPECT_EQ(past.ReadBits(8, &v), S_FALSE);
  EXPECT_EQ(past.Init(nullptr, 0, 8), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

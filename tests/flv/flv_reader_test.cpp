#include "flv/flv_reader.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "test_reader.h"

namespace flvdmx {
namespace {

TEST(FlvHeader, IsValidatedInOneRead) {
  const struct {
    std::vector<uint8_t> bytes;  // "FLV", version, flags, data offset
    HRESULT expected;
  } cases[] = {
      {{'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9}, S_OK},
      {{'F', 'L', 'V', 1, 0x01, 0, 0, 0, 9}, S_OK},
      {{'F', 'L', 'V', 2, 0x04, 0, 0, 1, 0}, S_OK},  // any version, a larger offset
      {{'F', 'L', 'V', 1, 0x00, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
      {{'F', 'L', 'V', 1, 0x02, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
      {{'F', 'L', 'V', 1, 0x05, 0, 0, 0, 8}, VFW_E_INVALID_FILE_FORMAT},
      {{'f', 'l', 'v', 1, 0x05, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
      {{'F', 'L', 'X', 1}, VFW_E_INVALID_FILE_FORMAT},  // the signature before the length
      {{}, S_FALSE},
      {{'F', 'L', 'V', 1, 0x05, 0, 0, 0}, S_FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    TestReader r(c.bytes);
    CFlvReader reader(r.get(), 0, nullptr);
    FlvHeader header;
    EXPECT_EQ(ReadFlvHeader(reader, header), c.expected);
    if (c.bytes.size() >= 9) { EXPECT_EQ(r->ReadCount(), 1u); }
  }
}

// Any length result but S_OK counts as no length at all.
TEST(FlvReaderObject, EstimatedLengthCountsAsNone) {
  TestReader r(std::vector<uint8_t>(100));
  r->SetLength(100, 40);
  EXPECT_EQ(CFlvReader(r.get(), 0, nullptr).Available(), 40);
  r->FailLength(VFW_S_ESTIMATED);
  EXPECT_EQ(CFlvReader(r.get(), 0, nullptr).Available(), 0);
  CFlvReader empty(nullptr, 0, nullptr);
  FlvTag t;
  EXPECT_EQ(ReadTagHeader(empty, 9, t), E_POINTER);
}

// The record after the first `bytes` of the 15 header bytes at position 9 of
// a file whose fields all differ: PreviousTagSize 0x01020304, type 9,
// DataSize 0x506, timestamp 0x070809, extended + stream 0x0A0B0C0D.
auto PartlyFilled(int bytes) {
  FlvTag t{0xEEEEEEEE, 0xEE, 0xEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE};
  if (bytes >= 4) t.PreviousTagSize = 0x01020304;
  if (bytes >= 5) t.TagType = 9;
  if (bytes >= 8) t.DataSize = 0x506;
  if (bytes >= 11) t.TimeStamp = 0x070809;
  if (bytes >= 15) t.ExtendedTimeStampAndStreamId = 0x0A0B0C0D;
  return t;
}

auto Fields(const FlvTag& t) {
  return std::make_tuple(t.PreviousTagSize, t.TagType, t.DataSize, t.TimeStamp, t.ExtendedTimeStampAndStreamId);
}

TEST(TagHeader, OneReadAndOnlyWholeFieldsBeforeACutOrAFailure) {
  std::vector<uint8_t> file = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 1, 2, 3, 4, 9, 0, 5, 6, 7, 8, 9, 0x0A, 0x0B, 0x0C, 0x0D};
  file.resize(file.size() + 0x506);
  {
    TestReader r(file);
    CFlvReader reader(r.get(), 0, nullptr);
    FlvTag t;
    ASSERT_EQ(ReadTagHeader(reader, 9, t), S_OK);
    EXPECT_EQ(r->ReadCount(), 1u);
    EXPECT_EQ(Fields(t), Fields(PartlyFilled(15)));
  }
  for (int n = 0; n < 15; ++n) {
    SCOPED_TRACE(n);
    TestReader cut(std::vector<uint8_t>(file.begin(), file.begin() + 9 + n));
    CFlvReader cutReader(cut.get(), 0, nullptr);
    FlvTag t = PartlyFilled(0);
    EXPECT_EQ(ReadTagHeader(cutReader, 9, t), S_FALSE);
    EXPECT_EQ(Fields(t), Fields(PartlyFilled(n)));

    TestReader failing(file);
    failing->FailReadsAt(9 + n, E_ABORT);
    CFlvReader failingReader(failing.get(), 0, nullptr);
    t = PartlyFilled(0);
    EXPECT_EQ(ReadTagHeader(failingReader, 9, t), E_ABORT);
    EXPECT_EQ(Fields(t), Fields(PartlyFilled(n)));
  }
}

}  // namespace
}  // namespace flvdmx

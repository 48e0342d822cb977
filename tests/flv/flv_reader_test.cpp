#include "flv/flv_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_reader.h"

namespace flvdmx {
namespace {

struct HeaderCase {
  const char* name;
  std::vector<uint8_t> bytes;  // "FLV", version, flags, data offset (big-endian)
  HRESULT expected;
};

class FlvHeaderValidation : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FlvHeaderValidation, GivesExpectedResultInOneRead) {
  TestReader r(GetParam().bytes);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvHeader header;
  EXPECT_EQ(ReadFlvHeader(reader, header), GetParam().expected);
  if (GetParam().bytes.size() >= 9) {
    EXPECT_EQ(r->ReadCount(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FlvHeaderValidation,
    ::testing::Values(
        HeaderCase{"AudioAndVideo", {'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9}, S_OK},
        HeaderCase{"VideoOnly", {'F', 'L', 'V', 1, 0x01, 0, 0, 0, 9}, S_OK},
        HeaderCase{"AudioOnly", {'F', 'L', 'V', 1, 0x04, 0, 0, 0, 9}, S_OK},
        HeaderCase{"Version0", {'F', 'L', 'V', 0, 0x05, 0, 0, 0, 9}, S_OK},
        HeaderCase{"Version2", {'F', 'L', 'V', 2, 0x05, 0, 0, 1, 0}, S_OK},
        HeaderCase{
            "NoStreamFlags", {'F', 'L', 'V', 1, 0x00, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
        HeaderCase{"OnlyFlag2", {'F', 'L', 'V', 1, 0x02, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
        HeaderCase{"Offset8", {'F', 'L', 'V', 1, 0x05, 0, 0, 0, 8}, VFW_E_INVALID_FILE_FORMAT},
        HeaderCase{"LowerCase", {'f', 'l', 'v', 1, 0x05, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
        HeaderCase{"BadSignatureShortFile", {'F', 'L', 'X', 1}, VFW_E_INVALID_FILE_FORMAT},
        HeaderCase{"Empty", {}, S_FALSE},
        HeaderCase{"OffsetCutOff", {'F', 'L', 'V', 1, 0x05, 0, 0, 0}, S_FALSE}),
    [](const auto& info) { return info.param.name; });

TEST(FlvReaderObject, LengthsFromLengthOrZeroAndOwnReference) {
  TestReader r(std::vector<uint8_t>(100));
  r->SetLength(100, 40);
  {
    CFlvReader reader(r.get(), 0, nullptr);
    EXPECT_EQ(reader.Total(), 100);
    EXPECT_EQ(reader.Available(), 40);
    EXPECT_EQ(r->RefCount(), 2u);
  }
  r->FailLength(VFW_S_ESTIMATED);  // any result but S_OK counts as no length
  CFlvReader reader(r.get(), 0, nullptr);
  EXPECT_EQ(reader.Total(), 0);
  EXPECT_EQ(reader.Available(), 0);

  CFlvReader empty(nullptr, 0, nullptr);
  FlvHeader h;
  FlvTag t;
  EXPECT_EQ(ReadFlvHeader(empty, h), E_POINTER);
  EXPECT_EQ(ReadTagHeader(empty, 9, t), E_POINTER);
}

// A tag at position 9 whose fields all differ: PreviousTagSize 0x01020304,
// type 9, DataSize 0x000506, timestamp 0x070809, extended + stream 0x0A0B0C0D.
std::vector<uint8_t> OneTagFile() {
  std::vector<uint8_t> f = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9,    1,    2,    3,
                            4,   9,   0,   5, 6, 7, 8, 9, 0x0A, 0x0B, 0x0C, 0x0D};
  f.resize(f.size() + 0x506);
  return f;
}

// The record as reading its five fields one by one leaves it when the first
// `bytes` of the 15 header bytes can be read.
FlvTag PartlyFilled(int bytes) {
  FlvTag t{0xEEEEEEEE, 0xEE, 0xEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE};
  if (bytes >= 4) t.PreviousTagSize = 0x01020304;
  if (bytes >= 5) t.TagType = 9;
  if (bytes >= 8) t.DataSize = 0x506;
  if (bytes >= 11) t.TimeStamp = 0x070809;
  if (bytes >= 15) t.ExtendedTimeStampAndStreamId = 0x0A0B0C0D;
  return t;
}

void ExpectSameTag(const FlvTag& a, const FlvTag& b) {
  EXPECT_EQ(a.PreviousTagSize, b.PreviousTagSize);
  EXPECT_EQ(a.TagType, b.TagType);
  EXPECT_EQ(a.DataSize, b.DataSize);
  EXPECT_EQ(a.TimeStamp, b.TimeStamp);
  EXPECT_EQ(a.ExtendedTimeStampAndStreamId, b.ExtendedTimeStampAndStreamId);
}

TEST(TagHeader, WholeHeaderTakesOneRead) {
  TestReader r(OneTagFile());
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag t;
  ASSERT_EQ(ReadTagHeader(reader, 9, t), S_OK);
  EXPECT_EQ(r->ReadCount(), 1u);
  ExpectSameTag(t, PartlyFilled(15));
}

class TagHeaderCutOff : public ::testing::TestWithParam<int> {};

TEST_P(TagHeaderCutOff, IsShortReadWithTheFieldsThatArrived) {
  std::vector<uint8_t> f = OneTagFile();
  f.resize(9 + GetParam());
  TestReader r(f);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag t = PartlyFilled(0);
  EXPECT_EQ(ReadTagHeader(reader, 9, t), S_FALSE);
  ExpectSameTag(t, PartlyFilled(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(EveryLength, TagHeaderCutOff, ::testing::Range(0, 15));

class TagHeaderReadFailure : public ::testing::TestWithParam<int> {};

TEST_P(TagHeaderReadFailure, IsReturnedWithTheFieldsBeforeIt) {
  TestReader r(OneTagFile());
  r->FailReadsAt(9 + GetParam(), E_ABORT);
  CFlvReader reader(r.get(), 0, nullptr);
  FlvTag t = PartlyFilled(0);
  EXPECT_EQ(ReadTagHeader(reader, 9, t), E_ABORT);
  int whole = 0;  // bytes of the fields wholly before the failing byte
  for (int end : {4, 5, 8, 11, 15})
    if (end <= GetParam()) whole = end;
  ExpectSameTag(t, PartlyFilled(whole));
}

INSTANTIATE_TEST_SUITE_P(EveryByte, TagHeaderReadFailure, ::testing::Range(0, 15));

}  // namespace
}  // namespace flvdmx

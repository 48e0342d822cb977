#include "flv/flv_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_reader.h"

namespace flvdmx {
namespace {

TEST(FlvHeader, IsValidatedInOneRead) {
  const struct {
    std::vector<uint8_t> bytes;  // "FLV", version, flags, data offset
    HRESULT expected;
  } cases[] = {
      {{'F', 'L', 'V', 1, 0x01, 0, 0, 0, 9}, S_OK},
      {{'F', 'L', 'V', 2, 0x04, 0, 0, 1, 0}, S_OK},  // any version, a larger offset
      {{'F', 'L', 'V', 1, 0x00, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT},
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
    if (c.bytes.size() >= 9) {
      EXPECT_EQ(r->ReadCount(), 1u);
    }
  }
}

}  // namespace
}  // namespace flvdmx

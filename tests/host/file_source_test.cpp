// The host's file source: the stream type it offers by the file's first bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "host/file_source.h"
#include "host/memory_reader.h"
#include "platform/mediatypes.h"

namespace flvdmx {
namespace {

TEST(FileSource, OffersOneStreamTypeWithTheSubtypeOfItsFirstBytes) {
  const struct {
    std::vector<uint8_t> bytes;
    GUID subtype;
  } cases[] = {{{'F', 'L', 'V'}, flvdmx::MEDIASUBTYPE_QFLV},
               {{'f', 'l', 'v', 1}, MEDIASUBTYPE_NULL},
               {{'F', 'L'}, MEDIASUBTYPE_NULL},
               {{}, MEDIASUBTYPE_NULL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bytes.begin(), c.bytes.end()));
    auto* reader = new CMemoryReader(c.bytes);
    CFileSource* source = nullptr;
    ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);
    EXPECT_EQ(*source->OfferedType().Type(), MEDIATYPE_Stream);
    EXPECT_EQ(*source->OfferedType().Subtype(), c.subtype);
    source->Release();
    EXPECT_EQ(reader->Release(), 0u);
  }
}

}  // namespace
}  // namespace flvdmx

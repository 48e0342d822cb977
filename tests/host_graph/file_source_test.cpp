// The host's file source: the stream type it offers by the file's first bytes,
// the reader behind its pin, and references.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "baseclasses/unknown.h"
#include "host/file_source.h"
#include "host/memory_reader.h"
#include "platform/mediatypes.h"
#include "support/media.h"

namespace flvdmx {
namespace {

TEST(FileSource, OffersOneStreamTypeWithTheSubtypeOfItsFirstBytes) {
  const struct {
    std::vector<uint8_t> bytes;
    GUID subtype;
  } cases[] = {{{'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, flvdmx::MEDIASUBTYPE_QFLV},
               {{'F', 'L', 'V'}, flvdmx::MEDIASUBTYPE_QFLV},
               {{'f', 'l', 'v', 1}, MEDIASUBTYPE_NULL},
               {{'F', 'L'}, MEDIASUBTYPE_NULL},
               {{}, MEDIASUBTYPE_NULL}};
  const LONG cBefore = CUnknown::ObjectsActive();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.bytes.begin(), c.bytes.end()));
    auto* reader = new CMemoryReader(c.bytes);
    CFileSource* source = nullptr;
    ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);
    IEnumMediaTypes* pEnum = nullptr;
    ASSERT_EQ(source->OutputPin()->EnumMediaTypes(&pEnum), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ULONG cFetched = 0;
    ASSERT_EQ(pEnum->Next(1, &pmt, &cFetched), S_OK);
    EXPECT_EQ(pmt->majortype, MEDIATYPE_Stream);
    EXPECT_EQ(pmt->subtype, c.subtype);
    EXPECT_EQ(source->OutputPin()->QueryAccept(pmt), S_OK);
    DeleteMediaType(pmt);
    EXPECT_EQ(pEnum->Next(1, &pmt, &cFetched), S_FALSE) << "only one";
    pEnum->Release();
    source->Release();
    EXPECT_EQ(reader->Release(), 0u);
  }
  EXPECT_EQ(CUnknown::ObjectsActive(), cBefore);
}

TEST(FileSource, PinHandsOutTheReaderOfTheFileOnDiskAndTheFilterDoesNot) {
  TempDir dir;
  const std::string path = dir.File("clip.flv");
  std::ofstream(path, std::ios::binary) << "FLV" << '\x01' << std::string(100, '\0');
  CFileSource* source = nullptr;
  ASSERT_EQ(CFileSource::Open(path.c_str(), &source), S_OK);
  EXPECT_EQ(*source->OfferedType().Subtype(), flvdmx::MEDIASUBTYPE_QFLV);
  IAsyncReader* pReader = nullptr;
  ASSERT_EQ(source->OutputPin()->QueryInterface(IID_IAsyncReader, reinterpret_cast<void**>(&pReader)), S_OK);
  LONGLONG llTotal = 0, llAvailable = 0;
  EXPECT_EQ(pReader->Length(&llTotal, &llAvailable), S_OK);
  EXPECT_EQ(llTotal, 104);
  pReader->Release();
  void* pv = nullptr;
  EXPECT_EQ(source->AsBaseFilter()->QueryInterface(IID_IAsyncReader, &pv), E_NOINTERFACE);
  EXPECT_EQ(source->OutputPin()->EndOfStream(), E_UNEXPECTED) << "nothing travels into it";
  source->Release();

  source = reinterpret_cast<CFileSource*>(1);
  EXPECT_EQ(CFileSource::Open(dir.File("missing.flv").c_str(), &source), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(source, nullptr);
}

}  // namespace
}  // namespace flvdmx

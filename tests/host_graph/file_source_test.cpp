// The host's file source: the stream type it offers by the file's first bytes,
// the reader behind its pin, what an output pin refuses, and references.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "baseclasses/unknown.h"
#include "host/file_source.h"
#include "host/memory_reader.h"
#include "host/sink.h"
#include "platform/mediatypes.h"
#include "support/media.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

struct SubtypeCase {
  const char* name;
  std::vector<uint8_t> bytes;
  GUID subtype;
};

void PrintTo(const SubtypeCase& c, std::ostream* os) { *os << c.name; }

class FileSourceSubtype : public ::testing::TestWithParam<SubtypeCase> {};

TEST_P(FileSourceSubtype, OffersOneStreamTypeWithTheSubtypeOfItsFirstBytes) {
  const LONG cBefore = CUnknown::ObjectsActive();
  auto* reader = new CMemoryReader(GetParam().bytes);
  CFileSource* source = nullptr;
  ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);

  IEnumMediaTypes* pEnum = nullptr;
  ASSERT_EQ(source->OutputPin()->EnumMediaTypes(&pEnum), S_OK);
  AM_MEDIA_TYPE* pmt = nullptr;
  ULONG cFetched = 0;
  ASSERT_EQ(pEnum->Next(1, &pmt, &cFetched), S_OK);
  EXPECT_EQ(pmt->majortype, MEDIATYPE_Stream);
  EXPECT_EQ(pmt->subtype, GetParam().subtype);
  EXPECT_EQ(source->OutputPin()->QueryAccept(pmt), S_OK);
  DeleteMediaType(pmt);
  pmt = nullptr;
  EXPECT_EQ(pEnum->Next(1, &pmt, &cFetched), S_FALSE);
  EXPECT_EQ(cFetched, 0u);
  pEnum->Release();

  source->Release();
  EXPECT_EQ(reader->Release(), 0u);
  EXPECT_EQ(CUnknown::ObjectsActive(), cBefore);
}

INSTANTIATE_TEST_SUITE_P(
    FirstBytes, FileSourceSubtype,
    ::testing::Values(
        SubtypeCase{"Flv", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, flvdmx::MEDIASUBTYPE_QFLV},
        SubtypeCase{"FlvSignatureOnly", {'F', 'L', 'V'}, flvdmx::MEDIASUBTYPE_QFLV},
        SubtypeCase{"OtherSignature", {'T', 'O', 'Y', 'F', 0, 0}, MEDIASUBTYPE_NULL},
        SubtypeCase{"LowerCase", {'f', 'l', 'v', 1}, MEDIASUBTYPE_NULL},
        SubtypeCase{"ShorterThanSignature", {'F', 'L'}, MEDIASUBTYPE_NULL},
        SubtypeCase{"Empty", {}, MEDIASUBTYPE_NULL}),
    [](const ::testing::TestParamInfo<SubtypeCase>& info) { return std::string(info.param.name); });

TEST(FileSource, PinHandsOutItsReaderAndTheFilterDoesNot) {
  auto* reader = new CMemoryReader(std::vector<uint8_t>{'F', 'L', 'V'});
  CFileSource* source = nullptr;
  ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);
  EXPECT_EQ(reader->RefCount(), 2u);

  IAsyncReader* pFromPin = nullptr;
  ASSERT_EQ(source->OutputPin()->QueryInterface(IID_IAsyncReader,
                                                reinterpret_cast<void**>(&pFromPin)),
            S_OK);
  EXPECT_EQ(pFromPin, static_cast<IAsyncReader*>(reader));
  EXPECT_EQ(reader->RefCount(), 3u);
  pFromPin->Release();

  void* pv = reinterpret_cast<void*>(1);
  EXPECT_EQ(source->AsBaseFilter()->QueryInterface(IID_IAsyncReader, &pv), E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(source->OutputPin()->QueryInterface(IID_IMemInputPin, &pv), E_NOINTERFACE);
  EXPECT_EQ(source->OutputPin()->QueryInterface(IID_IAsyncReader, nullptr), E_POINTER);

  source->Release();
  EXPECT_EQ(reader->Release(), 0u);
}

TEST(FileSource, OutputPinRefusesWhatTravelsDownstream) {
  auto* reader = new CMemoryReader(std::vector<uint8_t>{'F', 'L', 'V'});
  CFileSource* source = nullptr;
  ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);
  IPin* pPin = source->OutputPin();
  EXPECT_EQ(pPin->EndOfStream(), E_UNEXPECTED);
  EXPECT_EQ(pPin->BeginFlush(), E_UNEXPECTED);
  EXPECT_EQ(pPin->EndFlush(), E_UNEXPECTED);
  PIN_DIRECTION dir = PINDIR_INPUT;
  EXPECT_EQ(pPin->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
  CMediaType other = MakeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_NULL);
  EXPECT_EQ(pPin->QueryAccept(&other), S_FALSE);
  source->Release();
  reader->Release();
}

TEST(FileSource, CreateChecksItsArguments) {
  CFileSource* source = reinterpret_cast<CFileSource*>(1);
  EXPECT_EQ(CFileSource::Create(nullptr, &source), E_POINTER);
  EXPECT_EQ(source, nullptr);
  auto* reader = new CMemoryReader(std::vector<uint8_t>{});
  EXPECT_EQ(CFileSource::Create(reader, nullptr), E_POINTER);
  EXPECT_EQ(reader->Release(), 0u);
}

TEST(FileSource, OpenReadsTheFileOnDiskAndReportsAMissingOne) {
  TempDir dir;
  const std::string path = dir.File("clip.flv");
  {
    std::ofstream out(path, std::ios::binary);
    out << "FLV" << '\x01' << std::string(100, '\0');
  }
  CFileSource* source = nullptr;
  ASSERT_EQ(CFileSource::Open(path.c_str(), &source), S_OK);
  EXPECT_EQ(*source->OfferedType().Subtype(), flvdmx::MEDIASUBTYPE_QFLV);
  IAsyncReader* pReader = nullptr;
  ASSERT_EQ(source->OutputPin()->QueryInterface(IID_IAsyncReader,
                                                reinterpret_cast<void**>(&pReader)),
            S_OK);
  LONGLONG llTotal = 0;
  LONGLONG llAvailable = 0;
  EXPECT_EQ(pReader->Length(&llTotal, &llAvailable), S_OK);
  EXPECT_EQ(llTotal, 104);
  pReader->Release();
  source->Release();

  source = reinterpret_cast<CFileSource*>(1);
  EXPECT_EQ(CFileSource::Open(dir.File("missing.flv").c_str(), &source),
            static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(source, nullptr);
}

TEST(FileSource, ConnectsToAnyInputThatTakesItsType) {
  const LONG cBefore = CUnknown::ObjectsActive();
  auto* reader = new CMemoryReader(std::vector<uint8_t>{'F', 'L', 'V', 1});
  CFileSource* source = nullptr;
  CRecordingSink* sink = nullptr;
  ASSERT_EQ(CFileSource::Create(reader, &source), S_OK);
  ASSERT_EQ(CRecordingSink::Create(&sink), S_OK);

  ASSERT_EQ(source->OutputPin()->Connect(sink->InputPin(), nullptr), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(sink->InputPin()->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Stream);
  EXPECT_EQ(mt.subtype, flvdmx::MEDIASUBTYPE_QFLV);
  FreeMediaType(mt);
  // A pull source gives no allocator; its sink still stops cleanly.
  EXPECT_EQ(sink->Pause(), S_OK);
  EXPECT_EQ(sink->Stop(), S_OK);

  EXPECT_EQ(source->OutputPin()->Disconnect(), S_OK);
  EXPECT_EQ(sink->InputPin()->Disconnect(), S_OK);
  sink->Release();
  source->Release();
  EXPECT_EQ(reader->Release(), 0u);
  EXPECT_EQ(CUnknown::ObjectsActive(), cBefore);
}

}  // namespace
}  // namespace flvdmx

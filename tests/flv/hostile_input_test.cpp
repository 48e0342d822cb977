// Damaged and hostile files through every container operation: each call
// returns a result of its documented kind, without a crash, hang or stray read.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "flv/amf0.h"
#include "flv/flv_file_state.h"
#include "flv/flv_header_scan.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"
#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

bool IsSeekResult(HRESULT hr) {
  return hr == S_OK || hr == S_FALSE || hr == VFW_E_INVALID_FILE_FORMAT || hr == E_INVALIDARG;
}

// The header scan, a walk of the tag chain with every metadata tag parsed,
// the tail search, and positioning of both streams from the start and a
// cached point. *header is the file header's result.
void Exercise(const std::vector<uint8_t>& bytes, HRESULT* header) {
  TestReader r(bytes);
  CFlvFileState state;
  {
    CFlvReader reader(r.get(), 0, nullptr);
    FlvHeader flvHeader;
    const HRESULT hr = ReadFlvHeader(reader, flvHeader);
    *header = hr;
    EXPECT_TRUE(hr == S_OK || hr == S_FALSE || hr == VFW_E_INVALID_FILE_FORMAT);
    const HRESULT hrScan = ReadAndParseHeader(r.get(), state);
    EXPECT_TRUE(hrScan == S_OK || hrScan == S_FALSE || hrScan == VFW_E_INVALID_FILE_FORMAT)
        << std::hex << hrScan;
    if (hr != S_OK) return;
    for (int64_t p = flvHeader.DataOffset; p < reader.Available();) {
      FlvTag t;
      if (ReadTagHeader(reader, p, t) != S_OK) break;
      if (t.TagType == kFlvTagScript && t.DataSize > 0) {
        uint32_t duration = 0;
        int32_t audio = -1, video = -1;
        const HRESULT hrMeta = ParseScriptDataTag(reader, p, t, &duration, &audio, &video);
        EXPECT_TRUE(hrMeta == S_OK || hrMeta == E_OUTOFMEMORY) << std::hex << hrMeta;
      }
      p = NextTagPosition(p, t);
    }
    uint32_t duration = state.Duration();
    const HRESULT tail =
        FindTimestampOfLastSample(reader, flvHeader.DataOffset, &duration, state.TagLinkFixups());
    EXPECT_TRUE(tail == S_OK || tail == E_FAIL);
  }
  const uint32_t dwDuration = state.Duration();
  const int64_t llDataOffset = state.Header().DataOffset;
  CFlvReader reader(r.get(), dwDuration, &state.TagLinkFixups());
  for (uint8_t type : {kFlvTagAudio, kFlvTagVideo}) {
    FlvTag first;
    int64_t firstPos = 0;
    const HRESULT hrFirst = FindNextTagOfType(reader, llDataOffset, 0, 0, type, first, firstPos);
    EXPECT_TRUE(IsSeekResult(hrFirst)) << std::hex << hrFirst;
    for (uint32_t target : {0u, 1500u, dwDuration / 2, dwDuration, 0xFFFFFFF0u}) {
      for (bool cached : {false, true}) {
        if (cached && hrFirst != S_OK) continue;
        int64_t pos = cached ? firstPos : llDataOffset, count = 0;
        uint32_t t = target;
        FlvTag tag;
        const HRESULT hr = FindPreviousFrame(reader, type, pos, cached ? 7000 : 0, t, tag, count);
        EXPECT_TRUE(IsSeekResult(hr)) << std::hex << hr;
        if (hr == S_OK) (void)FindPrevTagOfType(reader, pos, type, tag, pos, tag.TimeStamp);
      }
    }
  }
}

std::vector<uint8_t> SmallFile() {
  FlvWriter w;
  w.Script(OnMetaData(1.2, 2, 7));
  for (uint32_t t = 0, a = 0; t < 1200; t += 40) {
    w.Video(t, VideoPayload(t % 400 == 0, 4 + t % 7));
    for (; a <= t; a += 23) w.Audio(a, AudioPayload(3 + a % 5));
  }
  return w.Bytes();
}

TEST(HostileInput, CraftedFilesAreHandledWithoutHarm) {
  std::vector<uint8_t> farOffset = {'F', 'L', 'V', 1, kFlvHasAudio, 0xFF, 0xFF, 0xFF, 0xF0};
  const std::vector<uint8_t> small = SmallFile();
  farOffset.insert(farOffset.end(), small.begin() + 9, small.end());
  const auto crafted = [](void (*write)(FlvWriter&)) {
    FlvWriter w;
    write(w);
    return w.Bytes();
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"DataOffsetPastTheEnd", farOffset},
      {"DataSizePastTheEnd", crafted([](FlvWriter& w) {
         w.Audio(0, AudioPayload(5));
         w.Tag(kFlvTagVideo, 40, VideoPayload(true, 5), {std::nullopt, 0xFFFFFF});
       })},
      {"EveryTagMaximal", crafted([](FlvWriter& w) {
         for (int i = 0; i < 20; ++i) w.Tag(kFlvTagVideo, 0xFFFFFFFF, {}, {0xFFFFFFFF, 0xFFFFFF});
       })},
      {"GarbageBetweenTags", crafted([](FlvWriter& w) {
         WriteAvTags(w, {20000});
         std::mt19937 rng(7);
         std::vector<uint8_t> junk(3000);
         for (auto& b : junk) b = static_cast<uint8_t>(rng());
         w.Raw(junk);
         WriteAvTags(w, {20000, 20000, 40, 50, 44100, false});
       })},
      {"TimesAroundTheWrap", crafted([](FlvWriter& w) {
         WriteAvTags(w, {25000, 0xFFFFFFFF - 30000});
       })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HRESULT header = E_UNEXPECTED;
    Exercise(c.bytes, &header);
    EXPECT_EQ(header, S_OK);
  }
}

}  // namespace
}  // namespace flvdmx

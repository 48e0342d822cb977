// CFlvHeaderScan on crafted files: durations, frame times, broken back-links
// and the result of every way the scan can fail.
#include "flv/flv_header_scan.h"

#include <gtest/gtest.h>

#include <set>

#include "baseclasses/mediatype.h"
#include "scan_test_util.h"
#include "support/flv_writer.h"

namespace flvdmx {
namespace {

// Screen video every 40 ms and PCM every 23 ms from fromMs to toMs, in time
// order (video first on ties). The first tag at or after each time in
// `brokenAt` gets a PreviousTagSize one too large; their positions are returned.
std::vector<int64_t> AddMedia(FlvWriter& w, uint32_t fromMs, uint32_t toMs, std::set<uint32_t> brokenAt = {}) {
  std::vector<int64_t> broken;
  for (uint32_t v = fromMs, a = fromMs; v <= toMs || a <= toMs;) {
    const bool takeVideo = v <= toMs && (a > toMs || v <= a);
    const uint32_t t = takeVideo ? v : a;
    FlvWriter::TagOptions options;
    if (!brokenAt.empty() && t >= *brokenAt.begin()) {
      brokenAt.erase(brokenAt.begin());
      options.previousTagSize = w.LastTagSize() + 1;
      broken.push_back(w.NextPosition());
    }
    w.Tag(takeVideo ? kFlvTagVideo : kFlvTagAudio, t, takeVideo ? ScreenVideo() : PcmAudio(), options);
    (takeVideo ? v : a) += takeVideo ? 40 : 23;
  }
  return broken;
}

struct ScanResult {
  HRESULT hr;
  std::unique_ptr<CFlvHeaderScan> scan;
};

ScanResult Scan(const std::vector<uint8_t>& file) {
  auto reader = MakeReader(file);
  ScanResult r{E_FAIL, std::make_unique<CFlvHeaderScan>()};
  r.hr = r.scan->ReadAndParseHeader(reader.get());
  EXPECT_EQ(reader->RefCount(), 1u) << "the scan keeps no reference";
  return r;
}

std::vector<uint32_t> Every(uint32_t stepMs, uint32_t toMs) {
  std::vector<uint32_t> times;
  for (uint32_t t = 0; t <= toMs; t += stepMs) times.push_back(t);
  return times;
}

TEST(HeaderScanTest, FrameDurationLeavesOutTheFirstTagAndStopsAfterTenSeconds) {
  const struct {
    const char* name;
    std::vector<uint32_t> videoTimes;
    int64_t avgTimePerFrame;
  } cases[] = {
      {"OneTag", {0}, 333333},
      {"OneCountedTag", {0, 40}, 333333},
      {"TwoCountedTags", {0, 40, 100}, 600000},
      {"TenSecondsExactlyStillCounts", Every(100, 10100), 1000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w(kFlvHasVideo);
    for (uint32_t t : c.videoTimes) w.Video(t, ScreenVideo());
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->m_llAvgTimePerFrame, c.avgTimePerFrame);
    EXPECT_EQ(r.scan->m_VideoEntry.m_llAvgTimePerFrame, c.avgTimePerFrame);
  }
}

TEST(HeaderScanTest, MetadataAnnouncesAStreamTheHeaderLeftOutAndWinsOverTagTimes) {
  FlvWriter w(kFlvHasAudio);
  w.Script(OnMetaData(2.0, 0, 3));
  AddMedia(w, 0, 1000);
  w.Video(5000, {});  // tags without data count for nothing
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_FlvHeader.Flags, kFlvHasVideo | kFlvHasAudio);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(r.scan->m_VideoEntry.m_iCodecID, kVideoCodecScreen);
  EXPECT_EQ(r.scan->m_dwDuration, 2000u);
}

// 12 s with metadata: a broken back-link is repaired only where the scan
// walks, including the one after the metadata tag (patched in place).
TEST(HeaderScanTest, BrokenBackLinksAreRepairedWhereTheScanWalks) {
  const struct {
    const char* name;
    std::set<uint32_t> brokenAt;
    bool afterMetadata;
    size_t repaired;
  } cases[] = {
      {"ScanEndsOnceBothStreamsAreKnown", {11500}, false, 0},
      {"BrokenLinkForcesAFullScan", {2000, 11500}, false, 2},
      {"AfterMetadata", {11500}, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w;
    const int64_t meta = w.Script(OnMetaData(12.0, 0, 3));
    const int64_t first = c.afterMetadata ? w.Tag(kFlvTagVideo, 0, ScreenVideo(), {7, std::nullopt}) : 0;
    const std::vector<int64_t> broken = AddMedia(w, 0, 12000, c.brokenAt);
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->m_dwDuration, 12000u);
    EXPECT_EQ(r.scan->m_TagLinkFixups.Count(), c.repaired);
    int64_t key = 0;
    if (c.afterMetadata) {
      EXPECT_TRUE(r.scan->m_TagLinkFixups.FindPredecessor(first, &key));
      EXPECT_EQ(key, meta);
      continue;
    }
    for (size_t i = 0; i < c.repaired; ++i) {
      EXPECT_TRUE(r.scan->m_TagLinkFixups.FindPredecessor(broken[i], &key));
      EXPECT_LT(key, broken[i]);
    }
  }
}

TEST(HeaderScanTest, AacStreamStartingWithARawFrameEndsTheScanWithSFalse) {
  FlvWriter w;
  for (uint32_t t = 0; t <= 80; t += 40) {
    w.Video(t, ScreenVideo());
    if (t < 80) w.Audio(t * 23 / 40, {0xAF, 0x01, 0x21, 0x10, 0x05});
  }
  const ScanResult r = Scan(w.Bytes());
  EXPECT_EQ(r.hr, S_FALSE);
  EXPECT_EQ(r.scan->m_dwDuration, 40u) << "as far as the scan got";
  CMediaType mt;
  EXPECT_EQ(r.scan->m_VideoEntry.GetMediaType(0, &mt), S_OK);
}

std::vector<uint8_t> FirstVideo(const std::vector<uint8_t>& payload) {
  FlvWriter w;
  w.Video(0, payload);
  w.Audio(0, PcmAudio());
  w.Audio(23, PcmAudio());
  return w.Bytes();
}

TEST(HeaderScanTest, FailuresGiveTheirResult) {
  const std::vector<uint8_t> good = FirstVideo(ScreenVideo());
  const int64_t firstAudioPayload = 9 + 15 + 7 + 15;
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    HRESULT hr;
    HRESULT lengthResult;
    int64_t failReadAt;
  } cases[] = {
      {"LengthFails", good, VFW_E_INVALID_FILE_FORMAT, E_FAIL, -1},
      {"LengthIsAnEstimate", good, VFW_E_INVALID_FILE_FORMAT, VFW_S_ESTIMATED, -1},
      {"BadSignature", {'G', 'L', 'V', 1, 5, 0, 0, 0, 9}, VFW_E_INVALID_FILE_FORMAT, S_OK, -1},
      {"HeaderReadFails", good, VFW_E_INVALID_FILE_FORMAT, S_OK, 4},
      {"VideoCodecUnsupported", FirstVideo({0x15, 0, 0, 0}), VFW_E_INVALID_FILE_FORMAT, S_OK, -1},
      {"Vp6InterFrameFirst", FirstVideo({0x14, 0, 0x80, 0x46, 30, 40}), VFW_E_INVALID_FILE_FORMAT, S_OK, -1},
      {"AudioReadFails", good, E_FAIL, S_OK, firstAudioPayload},
      {"OnlyAHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, S_OK, S_OK, -1},
      {"TruncatedTagHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0, 9, 0}, S_OK, S_OK, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = MakeReader(c.file);
    if (c.lengthResult != S_OK) reader->FailLength(c.lengthResult);
    if (c.failReadAt >= 0) reader->FailReadsAt(c.failReadAt, E_FAIL);
    CFlvHeaderScan scan;
    EXPECT_EQ(scan.ReadAndParseHeader(reader.get()), c.hr);
  }
  CFlvHeaderScan scan;
  EXPECT_EQ(scan.ReadAndParseHeader(nullptr), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

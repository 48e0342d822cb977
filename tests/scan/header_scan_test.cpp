#include "flv/flv_header_scan.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "baseclasses/mediatype.h"
#include "scan_test_util.h"
#include "support/flv_writer.h"

namespace flvdmx {
namespace {

struct Media {
  uint32_t fromMs = 0;
  uint32_t toMs = 2000;
  bool video = true;
  bool audio = true;
  uint32_t videoStepMs = 40;
  uint32_t audioStepMs = 23;
  // Times whose first tag gets a PreviousTagSize one too large.
  std::set<uint32_t> brokenLinksAtMs;
  size_t videoPadding = 0;  // extra payload bytes per video tag
};

// Interleaves screen-video and PCM tags in time order (video first on ties).
// Returns the tag positions that got a broken back-link.
std::vector<int64_t> AddMedia(FlvWriter& w, const Media& m) {
  std::vector<int64_t> broken;
  std::set<uint32_t> pending = m.brokenLinksAtMs;
  uint32_t v = m.fromMs;
  uint32_t a = m.fromMs;
  std::vector<uint8_t> video = ScreenVideo();
  video.resize(video.size() + m.videoPadding, 0x5A);
  while ((m.video && v <= m.toMs) || (m.audio && a <= m.toMs)) {
    const bool takeVideo = m.video && v <= m.toMs && (!m.audio || a > m.toMs || v <= a);
    const uint32_t t = takeVideo ? v : a;
    FlvWriter::TagOptions options;
    if (!pending.empty() && t >= *pending.begin()) {
      pending.erase(pending.begin());
      options.previousTagSize = w.LastTagSize() + 1;
      broken.push_back(w.NextPosition());
    }
    if (takeVideo) {
      w.Tag(kFlvTagVideo, t, video, options);
      v += m.videoStepMs;
    } else {
      w.Tag(kFlvTagAudio, t, PcmAudio(), options);
      a += m.audioStepMs;
    }
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
  EXPECT_EQ(reader->RefCount(), 1u);  // the scan keeps no reference
  return r;
}

TEST(HeaderScanTest, ShortFileWithoutMetadataTakesItsDurationFromTheLargestTime) {
  FlvWriter w;
  AddMedia(w, Media{0, 2000});
  const std::vector<uint8_t> file = w.Bytes();
  const ScanResult r = Scan(file);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_FlvHeader.Flags, kFlvHasVideo | kFlvHasAudio);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(r.scan->m_dwDuration, 2000u);
  EXPECT_EQ(r.scan->m_llAvailable, static_cast<int64_t>(file.size()));
  EXPECT_EQ(r.scan->m_llTotal, static_cast<int64_t>(file.size()));
  // The tag at 0 is left out: 49 intervals from 40 to 2000 ms.
  EXPECT_EQ(r.scan->m_llAvgTimePerFrame, 400000);
  EXPECT_EQ(r.scan->m_VideoEntry.m_llAvgTimePerFrame, 400000);
  EXPECT_EQ(r.scan->m_VideoEntry.m_wWidth, 160);
  EXPECT_EQ(r.scan->m_AudioEntry.m_Format.wfx.nSamplesPerSec, 44100u);
  EXPECT_EQ(r.scan->m_TagLinkFixups.Count(), 0u);
}

struct FrameDurationCase {
  const char* name;
  std::vector<uint32_t> videoTimes;
  int64_t avgTimePerFrame;
};

class FrameDurationTest : public testing::TestWithParam<FrameDurationCase> {};

TEST_P(FrameDurationTest, FirstVideoTagIsLeftOutOfTheEstimate) {
  FlvWriter w(kFlvHasVideo);
  for (uint32_t t : GetParam().videoTimes) w.Video(t, ScreenVideo());
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_llAvgTimePerFrame, GetParam().avgTimePerFrame);
  EXPECT_EQ(r.scan->m_VideoEntry.m_llAvgTimePerFrame, GetParam().avgTimePerFrame);
}

std::vector<uint32_t> Every(uint32_t stepMs, uint32_t toMs, uint32_t fromMs = 0) {
  std::vector<uint32_t> times;
  for (uint32_t t = fromMs; t <= toMs; t += stepMs) times.push_back(t);
  return times;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameDurationTest,
    testing::Values(FrameDurationCase{"OneTag", {0}, 333333}, FrameDurationCase{"OneCountedTag", {0, 40}, 333333},
                    FrameDurationCase{"TwoCountedTags", {0, 40, 100}, 600000},
                    FrameDurationCase{"TenSecondsExactlyStillCounts", Every(100, 10100), 1000000},
                    // Stops at the tag more than ten seconds after the first
                    // counted one (10080 ms: 10040 ms over 251 intervals).
                    FrameDurationCase{"LongerThanTenSeconds", Every(40, 12000), 400000},
                    FrameDurationCase{"UnevenTimesAreAveraged", {0, 10, 30, 60, 100}, 300000}),
    [](const testing::TestParamInfo<FrameDurationCase>& info) { return std::string(info.param.name); });

TEST(HeaderScanTest, MetadataAnnouncesAStreamTheHeaderLeftOut) {
  FlvWriter w(kFlvHasAudio);
  w.Script(OnMetaData(2.0, 0, 3));
  AddMedia(w, Media{0, 1000});
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_FlvHeader.Flags, kFlvHasVideo | kFlvHasAudio);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(r.scan->m_VideoEntry.m_iCodecID, kVideoCodecScreen);
  EXPECT_EQ(r.scan->m_dwDuration, 2000u);  // metadata wins over the tag times
}

TEST(HeaderScanTest, SingleAudioTagIsDescribedAfterTheScanWithoutADuration) {
  FlvWriter w(kFlvHasAudio);
  w.Audio(0, Mp3Audio(419));
  ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_AudioEntry.m_Format.wfx.wFormatTag, WAVE_FORMAT_MPEGLAYER3);
  EXPECT_EQ(r.scan->m_AudioEntry.m_Format.wfx.nAvgBytesPerSec, 16000u);  // the table rate
  EXPECT_EQ(r.scan->m_llAvgTimePerFrame, 0);  // no video, no estimate

  // With a second tag 26 ms later the observed rate corrects the table's.
  w.Audio(26, Mp3Audio(419));
  r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_AudioEntry.m_Format.wfx.nAvgBytesPerSec, 16076u);
}

TEST(HeaderScanTest, TagsWithoutDataCountForNothing) {
  FlvWriter w;
  w.Video(5000, {});
  w.Audio(6000, {});
  w.Audio(100, PcmAudio());
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamAudioSeen);
  EXPECT_EQ(r.scan->m_dwDuration, 100u);
  EXPECT_EQ(r.scan->m_VideoEntry.m_iCodecID, -1);
}

// 12 s of media with metadata, a broken back-link at 11.5 s: it is repaired
// only when the scan walks that far.
TEST(HeaderScanTest, AnnouncedStreamWithoutTagsKeepsTheScanGoingToTheEnd) {
  for (const bool withAudio : {true, false}) {
    FlvWriter w;
    w.Script(OnMetaData(12.0, 0, 3));
    AddMedia(w, Media{0, 12000, true, withAudio, 40, 23, {11500}});
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->m_dwDuration, 12000u);
    EXPECT_EQ(r.scan->m_TagLinkFixups.Count(), withAudio ? 0u : 1u) << withAudio;
    EXPECT_EQ(r.scan->m_dwStreamsSeen, withAudio ? 0x05u : 0x01u);
  }
}

TEST(HeaderScanTest, WrongPreviousTagSizeIsTracedRepairedAndForcesAFullScan) {
  FlvWriter w;
  w.Script(OnMetaData(12.0, 0, 3));
  const std::vector<int64_t> broken = AddMedia(w, Media{0, 12000, true, true, 40, 23, {2000, 11500}});
  ASSERT_EQ(broken.size(), 2u);
  TraceCapture trace;
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  const std::string text = trace.Text();
  EXPECT_EQ(CountOf(text, "\nCFlvDmx::ReadAndParseHeader: Invalid last tag size: received "), 2u) << text;
  EXPECT_EQ(r.scan->m_TagLinkFixups.Count(), 2u);
  for (int64_t pos : broken) {
    int64_t key = 0;
    EXPECT_TRUE(r.scan->m_TagLinkFixups.FindPredecessor(pos, &key));
    EXPECT_LT(key, pos);
  }
}

TEST(HeaderScanTest, WrongPreviousTagSizeAfterMetadataIsOnlyRepaired) {
  FlvWriter w;
  const int64_t meta = w.Script(OnMetaData(12.0, 0, 3));
  FlvWriter::TagOptions options;
  options.previousTagSize = 7;  // a metadata tag patched in place
  const int64_t first = w.Tag(kFlvTagVideo, 0, ScreenVideo(), options);
  AddMedia(w, Media{0, 12000, true, true, 40, 23, {11500}});
  TraceCapture trace;
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(CountOf(trace.Text(), "Invalid last tag size"), 0u);
  // The link at 11.5 s is beyond where the scan ends.
  EXPECT_EQ(r.scan->m_TagLinkFixups.Count(), 1u);
  int64_t key = 0;
  EXPECT_TRUE(r.scan->m_TagLinkFixups.FindPredecessor(first, &key));
  EXPECT_EQ(key, meta);
}

TEST(HeaderScanTest, LongFileWithoutMetadataTakesItsDurationFromTheTail) {
  FlvWriter w;
  AddMedia(w, Media{0, 11000});
  // Garbage that a walk forward would take for a tag of 16 MiB, then more
  // than the tail search's 8 KiB window of good tags.
  w.Raw(std::vector<uint8_t>(64, 0xFF));
  Media tail{11040, 12400};
  tail.videoPadding = 400;
  AddMedia(w, tail);
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_dwDuration, 12400u);
  EXPECT_EQ(r.scan->m_llAvgTimePerFrame, 400000);
}

TEST(HeaderScanTest, AacStreamStartingWithARawFrameEndsTheScanWithSFalse) {
  FlvWriter w;
  w.Video(0, ScreenVideo());
  w.Audio(0, {0xAF, 0x01, 0x21, 0x10, 0x05});
  w.Video(40, ScreenVideo());
  w.Audio(23, {0xAF, 0x01, 0x21, 0x10, 0x05});
  w.Video(80, ScreenVideo());
  const ScanResult r = Scan(w.Bytes());
  EXPECT_EQ(r.hr, S_FALSE);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(r.scan->m_dwDuration, 40u);  // as far as the scan got
  EXPECT_EQ(r.scan->m_VideoEntry.m_iCodecID, kVideoCodecScreen);
  CMediaType mt;
  EXPECT_EQ(r.scan->m_VideoEntry.GetMediaType(0, &mt), S_OK);
}

TEST(HeaderScanTest, UnsupportedAudioSettlesTheAudioStream) {
  FlvWriter w;
  w.Script(OnMetaData(1.0));
  w.Video(0, ScreenVideo());
  w.Audio(0, {0x1A, 0x80, 0x00});  // ADPCM
  w.Audio(23, {0x1A, 0x80, 0x00});
  w.Video(40, ScreenVideo());
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  CMediaType mt;
  EXPECT_EQ(r.scan->m_AudioEntry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_AUDIO);
}

TEST(HeaderScanTest, RescanReplacesEverythingTheLastScanFound) {
  FlvWriter av;
  av.Script(OnMetaData(2.0));
  AddMedia(av, Media{0, 2000});
  FlvWriter audioOnly(kFlvHasAudio);
  AddMedia(audioOnly, Media{0, 500, false, true});
  auto first = MakeReader(av.Bytes());
  auto second = MakeReader(audioOnly.Bytes());
  CFlvHeaderScan scan;
  ASSERT_EQ(scan.ReadAndParseHeader(first.get()), S_OK);
  ASSERT_EQ(scan.ReadAndParseHeader(second.get()), S_OK);
  EXPECT_EQ(scan.m_FlvHeader.Flags, kFlvHasAudio);
  EXPECT_EQ(scan.m_dwStreamsSeen, kStreamAudioSeen);
  EXPECT_EQ(scan.m_dwDuration, 483u);  // the last audio tag (21 x 23 ms)
  EXPECT_EQ(scan.m_llAvgTimePerFrame, 0);
  EXPECT_EQ(scan.m_llAvailable, static_cast<int64_t>(audioOnly.Bytes().size()));
}

struct FailureCase {
  const char* name;
  std::vector<uint8_t> file;
  HRESULT hr;
  HRESULT lengthResult = S_OK;
  int64_t failReadAt = -1;
};

class HeaderScanFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(HeaderScanFailureTest, ReturnsTheStatedResult) {
  const FailureCase& c = GetParam();
  auto reader = MakeReader(c.file);
  if (c.lengthResult != S_OK) reader->FailLength(c.lengthResult);
  if (c.failReadAt >= 0) reader->FailReadsAt(c.failReadAt, E_FAIL);
  CFlvHeaderScan scan;
  EXPECT_EQ(scan.ReadAndParseHeader(reader.get()), c.hr);
}

std::vector<uint8_t> GoodFile() {
  FlvWriter w;
  w.Video(0, ScreenVideo());
  w.Audio(0, PcmAudio());
  w.Audio(23, PcmAudio());
  return w.Bytes();
}

std::vector<uint8_t> WithByte(std::vector<uint8_t> file, size_t at, uint8_t value) {
  file[at] = value;
  return file;
}

std::vector<uint8_t> FirstVideo(const std::vector<uint8_t>& payload) {
  FlvWriter w;
  w.Video(0, payload);
  return w.Bytes();
}

// The first audio tag of GoodFile() stands after the header (9), the video
// tag (15 + 7) and its own 15 bytes.
constexpr int64_t kFirstAudioPayload = 9 + 15 + 7 + 15;

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderScanFailureTest,
    testing::Values(
        FailureCase{"LengthFails", GoodFile(), VFW_E_INVALID_FILE_FORMAT, E_FAIL},
        FailureCase{"LengthIsAnEstimate", GoodFile(), VFW_E_INVALID_FILE_FORMAT, VFW_S_ESTIMATED},
        FailureCase{"BadSignature", WithByte(GoodFile(), 0, 'G'), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"NoStreamFlags", WithByte(GoodFile(), 4, 0x02), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"DataOffsetBelowNine", WithByte(GoodFile(), 8, 8), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"ShorterThanTheHeader", {'F', 'L', 'V', 1, 5, 0}, VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"HeaderReadFails", GoodFile(), VFW_E_INVALID_FILE_FORMAT, S_OK, 4},
        FailureCase{"VideoCodecUnsupported", FirstVideo({0x15, 0, 0, 0}), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"VideoHeaderBroken", FirstVideo({0x12, 0xFF, 0xFF, 0xFF, 0xFF}), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"Vp6InterFrameFirst", FirstVideo({0x14, 0, 0x80, 0x46, 30, 40}), VFW_E_INVALID_FILE_FORMAT},
        FailureCase{"AudioReadFails", GoodFile(), E_FAIL, S_OK, kFirstAudioPayload},
        FailureCase{"OnlyAHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, S_OK},
        FailureCase{"TruncatedTagHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0, 9, 0}, S_OK}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(HeaderScanTest, NullReaderIsAPointerError) {
  CFlvHeaderScan scan;
  EXPECT_EQ(scan.ReadAndParseHeader(nullptr), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

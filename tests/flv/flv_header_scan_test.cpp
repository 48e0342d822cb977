// The header scan (ReadAndParseHeader) and the tail search: crafted files for
// durations, frame times, broken back-links and every way the scan can fail.
#include "flv/flv_header_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "baseclasses/mediatype.h"
#include "flv/flv_reader.h"
#include "host/file_reader.h"
#include "streams/streams_test_util.h"
#include "streams/video_units.h"
#include "support/ffprobe.h"
#include "support/flv_writer.h"
#include "support/media.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

// Screen video key frame, 160 x 120.
inline std::vector<uint8_t> ScreenVideo() { return {0x13, 0x30, 0xA0, 0x30, 0x78, 0x78, 0xDA}; }

// 16-bit stereo PCM at 44.1 kHz, 8 samples.
inline std::vector<uint8_t> PcmAudio() {
  std::vector<uint8_t> p(33, 0x11);
  p[0] = 0x3F;
  return p;
}

// Screen video every 40 ms and PCM every 23 ms from fromMs to toMs, in time
// order (video first on ties). The first tag at or after each time in
// `brokenAt` gets a PreviousTagSize one too large; their positions are returned.
std::vector<int64_t> AddMedia(FlvWriter& w, uint32_t fromMs, uint32_t toMs,
                              std::set<uint32_t> brokenAt = {}) {
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
    w.Tag(takeVideo ? kFlvTagVideo : kFlvTagAudio, t, takeVideo ? ScreenVideo() : PcmAudio(),
          options);
    (takeVideo ? v : a) += takeVideo ? 40 : 23;
  }
  return broken;
}

struct ScanResult {
  HRESULT hr;
  std::unique_ptr<CFlvFileState> scan;
};

ScanResult Scan(const std::vector<uint8_t>& file) {
  auto reader = MakeReader(file);
  ScanResult r{E_FAIL, std::make_unique<CFlvFileState>()};
  r.hr = ReadAndParseHeader(reader.get(), *r.scan);
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
    EXPECT_EQ(r.scan->AvgTimePerFrame(), c.avgTimePerFrame);
    EXPECT_EQ(r.scan->VideoEntry().m_llAvgTimePerFrame, c.avgTimePerFrame);
  }
}

TEST(HeaderScanTest, MetadataAnnouncesAStreamTheHeaderLeftOutAndWinsOverTagTimes) {
  FlvWriter w(kFlvHasAudio);
  w.Script(OnMetaData(2.0, 0, 3));
  AddMedia(w, 0, 1000);
  w.Video(5000, {});  // tags without data count for nothing
  const ScanResult r = Scan(w.Bytes());
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.scan->Header().Flags, kFlvHasVideo | kFlvHasAudio);
  EXPECT_EQ(r.scan->StreamsSeen(), kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(r.scan->VideoEntry().m_iCodecID, kVideoCodecScreen);
  EXPECT_EQ(r.scan->Duration(), 2000u);
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
    const int64_t first =
        c.afterMetadata ? w.Tag(kFlvTagVideo, 0, ScreenVideo(), {7, std::nullopt}) : 0;
    const std::vector<int64_t> broken = AddMedia(w, 0, 12000, c.brokenAt);
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->Duration(), 12000u);
    EXPECT_EQ(r.scan->TagLinkFixups().Count(), c.repaired);
    int64_t key = 0;
    if (c.afterMetadata) {
      EXPECT_TRUE(r.scan->TagLinkFixups().FindPredecessor(first, &key));
      EXPECT_EQ(key, meta);
      continue;
    }
    for (size_t i = 0; i < c.repaired; ++i) {
      EXPECT_TRUE(r.scan->TagLinkFixups().FindPredecessor(broken[i], &key));
      EXPECT_LT(key, broken[i]);
    }
  }
}

// AAC joined late: raw frames (AACPacketType 1) come before the sequence
// header. The first sequence header describes the stream wherever it comes,
// and the scan goes on to the real duration and frame duration. Without any
// sequence header there is no AudioSpecificConfig to offer, but the scan
// still ends normally with everything else it found.
TEST(HeaderScanTest, AacIsDescribedByItsFirstSequenceHeaderWhereverItComes) {
  const struct {
    const char* name;
    int cRawBefore;
    bool bHeader;
  } cases[] = {
      {"HeaderFirst", 0, true},
      {"OneRawFrameFirst", 1, true},
      {"ThreeRawFramesFirst", 3, true},
      {"NoHeaderAtAll", 2, false},
  };
  const std::vector<uint8_t> kHeader = {0xAF, 0x00, 0x12, 0x10};  // AAC LC, 44.1 kHz, stereo
  const std::vector<uint8_t> kRaw = {0xAF, 0x01, 0x21, 0x10, 0x05};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w;
    int cAudio = 0;
    for (uint32_t v = 0, a = 0; v <= 12000 || a <= 12000;) {
      if (v <= 12000 && (a > 12000 || v <= a)) {
        w.Video(v, ScreenVideo());
        v += 40;
      } else {
        w.Audio(a, c.bHeader && cAudio++ == c.cRawBefore ? kHeader : kRaw);
        a += 23;
      }
    }
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->Duration(), 12000u);
    EXPECT_EQ(r.scan->AvgTimePerFrame(), 400000);
    CMediaType mt;
    EXPECT_EQ(r.scan->VideoEntry().GetMediaType(0, &mt), S_OK);
    if (c.bHeader) {
      ASSERT_EQ(r.scan->AudioEntry().GetMediaType(0, &mt), S_OK);
      EXPECT_EQ(Hex(mt.pbFormat + 18, mt.cbFormat - 18), "1210") << "the AudioSpecificConfig";
    } else if (r.scan->AudioEntry().GetMediaType(0, &mt) == S_OK) {
      EXPECT_LE(mt.cbFormat, 18u) << "no AudioSpecificConfig to offer";
    }
  }
}

// AVC and HEVC take their configuration from the first sequence header of
// the stream, wherever it comes (with its old time, or after other codecs'
// headers); a broken one, even as the first video tag, or none within the
// tags searched, leaves the stream at 1 x 1 without one. The frame duration always comes from the
// frames, also when the header comes again before every key frame with the key frame's time.
TEST(HeaderScanTest, AvcIsDescribedByItsFirstSequenceHeaderWhereverItComes) {
  const std::vector<uint8_t> avc = SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps));
  const std::vector<uint8_t> hevc =
      SequenceHeaderPayload(12, HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}}));
  const std::vector<uint8_t> cut(avc.begin(), avc.begin() + 12);
  const std::vector<uint8_t> endOfSequence = {0x17, 2, 0, 0, 0};
  const struct {
    const char* name;
    uint8_t codecId;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> headers;  // before frame n
    uint32_t cFrames;
    bool bConfig;
    bool bHeaderTimedLikeTheFrame = false;
  } cases[] = {
      {"HeaderFirst", 7, {{0, avc}}, 300, true},
      {"AfterFiveFrames", 7, {{5, avc}}, 300, true},
      {"HevcAfterFiveFrames", 12, {{5, hevc}}, 300, true},
      {"AnotherCodecsHeaderIsPassedOver", 7, {{3, hevc}, {5, avc}}, 300, true},
      {"BrokenThenGood", 7, {{2, cut}, {5, avc}}, 300, true},
      {"BrokenOnly", 7, {{5, cut}}, 300, false},
      {"BrokenFirstTag", 7, {{0, cut}}, 300, false},
      {"NoHeaderAtAll", 7, {}, 300, false},
      {"BeyondTheTagsSearched", 7, {{2100, avc}}, 2200, false},
      {"AgainBeforeKeyFrames", 7, {{0, avc}, {50, avc}, {100, avc}, {150, avc}}, 300, true, true},
      {"HevcAgainBeforeKeyFrames", 12, {{0, hevc}, {50, hevc}, {100, hevc}}, 300, true, true},
      // ffmpeg ends every AVC stream so; a file under ten seconds counted it as a frame.
      {"EndOfSequenceLast", 7, {{0, avc}, {100, endOfSequence}}, 100, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w(kFlvHasVideo);
    w.Script(OnMetaData(c.cFrames * 0.04));
    for (uint32_t i = 0; i <= c.cFrames; ++i) {
      for (const auto& [before, payload] : c.headers)
        if (before == i) w.Video(c.bHeaderTimedLikeTheFrame ? i * 40 : 0, payload);
      if (i == c.cFrames) break;
      std::vector<uint8_t> frame = {static_cast<uint8_t>((i % 50 ? 0x20 : 0x10) | c.codecId), 1, 0,
                                    0, 0};
      frame.resize(20 + i % 9, static_cast<uint8_t>(i));
      w.Video(i * 40, frame);
    }
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    const VideoSampleEntry& entry = r.scan->VideoEntry();
    EXPECT_EQ(entry.m_iCodecID, c.codecId);
    EXPECT_EQ(entry.m_wWidth, c.bConfig ? 320 : 1);
    EXPECT_EQ(entry.m_wHeight, c.bConfig ? 180 : 1);
    EXPECT_EQ(entry.m_ConfigBytes.Size() != 0, c.bConfig);
    EXPECT_EQ(r.scan->AvgTimePerFrame(), 400000);
    EXPECT_EQ(r.scan->Duration(), c.cFrames * 40);
  }
}

// Five hours without a metadata duration: the 24-bit times wrap once. One
// tag of each stream every two seconds keeps the file small; the tail search
// still has to carry its times over the wrap from the first seconds.
TEST(HeaderScanTest, LongRecordingsGetTheirDurationAcrossTheTimestampWrap) {
  const struct {
    const char* name;
    bool bExtendedTime;
    uint32_t startMs;
  } cases[] = {
      {"TimestampExtendedFilled", true, 0},
      {"TimestampExtendedAlwaysZero", false, 0},
      // Starting 5 s before the first wrap, the file reaches past the second.
      {"WrapInsideTheScannedPartAndOneMore", false, 0x1000000 - 5000},
      {"WrapInsideTheScannedPartExtendedFilled", true, 0x1000000 - 5000},
      {"StartingThreeHoursIn", false, 3 * 3600 * 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FlvWriter w;
    w.SetExtendedTime(c.bExtendedTime);
    const uint32_t endMs = c.startMs + 5 * 3600 * 1000;
    for (uint32_t t = c.startMs; t <= endMs; t += 2000) {
      w.Video(t, ScreenVideo());
      w.Audio(t + 1, PcmAudio());
    }
    const ScanResult r = Scan(w.Bytes());
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.scan->Duration(), endMs + 1);
    EXPECT_EQ(r.scan->AvgTimePerFrame(), 2000 * 10000) << "not one frame per wrap";
  }
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
      {"HeaderReadFails", good, E_FAIL, S_OK, 4},
      {"VideoCodecUnsupported", FirstVideo({0x15, 0, 0, 0}), VFW_E_INVALID_FILE_FORMAT, S_OK, -1},
      {"Vp6InterFrameFirst", FirstVideo({0x14, 0, 0x80, 0x46, 30, 40}), VFW_E_INVALID_FILE_FORMAT,
       S_OK, -1},
      {"AudioReadFails", good, E_FAIL, S_OK, firstAudioPayload},
      {"OnlyAHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9}, S_OK, S_OK, -1},
      {"TruncatedTagHeader", {'F', 'L', 'V', 1, 5, 0, 0, 0, 9, 0, 0, 0, 0, 9, 0}, S_OK, S_OK, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = MakeReader(c.file);
    if (c.lengthResult != S_OK) reader->FailLength(c.lengthResult);
    if (c.failReadAt >= 0) reader->FailReadsAt(c.failReadAt, E_FAIL);
    CFlvFileState scan;
    EXPECT_EQ(ReadAndParseHeader(reader.get(), scan), c.hr);
  }
  CFlvFileState scan;
  EXPECT_EQ(ReadAndParseHeader(nullptr, scan), E_POINTER);
}

// ffmpeg-made files against ffprobe: seconds from metadata become ms, rounded
// up unless within 0.01 ms; without metadata, the largest tag time counts.
TEST(HeaderScanTest, EncoderFileDurationsMatchFfprobe) {
  for (const auto& [file, metadata] : {std::pair{"h264_aac.flv", true},
                                       {"h263_mp3.flv", true},
                                       {"h264_aac_long_nometa.flv", false}}) {
    SCOPED_TRACE(file);
    const std::string path = MediaPath(file);
    CFileReader* pReader = nullptr;
    ASSERT_EQ(CFileReader::Open(path.c_str(), &pReader), S_OK) << path;
    CFlvFileState scan;
    const HRESULT hr = ReadAndParseHeader(pReader, scan);
    EXPECT_EQ(pReader->Release(), 0u);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(scan.StreamsSeen(), kStreamVideoSeen | kStreamAudioSeen);
    int64_t largest = -1;
    for (const ProbePacket& p : ProbePackets(path)) largest = std::max(largest, p.dts_ms);
    const double seconds = std::strtod(
        RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(path))
            .c_str(),
        nullptr);
    EXPECT_EQ(scan.Duration(), metadata ? static_cast<uint32_t>(seconds * 1000 + 0.99)
                                        : static_cast<uint32_t>(largest));
  }
}

// 30 s of media from startMs, then `zeros` zero bytes (no type byte at all).
std::vector<uint8_t> Thirty(std::vector<CraftedTag>* tags, uint32_t startMs, size_t zeros) {
  FlvWriter w;
  AvFileLayout layout;
  layout.startMs = startMs;
  layout.durationMs = 30000;
  *tags = WriteAvTags(w, layout);
  w.Raw(std::vector<uint8_t>(zeros, 0));
  return w.Bytes();
}

TEST(TailSearch, FindsTheLastTimeOrFails) {
  const struct {
    const char* name;
    uint32_t startMs, zeros, boundFromEnd,
        initialDuration;  // the bound as bytes before the end; 0: position 9
    HRESULT result;
    bool nearLast;  // within the last window's worth of media, else exactly the last time
  } cases[] = {
      {"StepsBackOverAnEmptyTail", 0, 30000, 0, 0, S_OK, false},
      {"NothingAboveTheBound", 0, 30000, 25000, 0, E_FAIL, false},
      // Only the first tag found is carried past the wrap from the duration so far.
      {"FirstFoundCarriedPastTheWrap", 0x1000000 - 20000, 0, 0, 0x1000000 - 1000, S_OK, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CraftedTag> tags;
    TestReader r(Thirty(&tags, c.startMs, c.zeros));
    CFlvReader reader(r.get(), 0, nullptr);
    CTagLinkFixups fixups;
    uint32_t duration = c.initialDuration;
    const int64_t bound = c.boundFromEnd ? reader.Available() - c.boundFromEnd : 9;
    ASSERT_EQ(FindTimestampOfLastSample(reader, bound, &duration, fixups), c.result);
    if (c.result != S_OK) continue;
    EXPECT_LE(duration, tags.back().timeMs);
    EXPECT_GE(duration, tags.back().timeMs - (c.nearLast ? 5000 : 0));
  }
  FlvWriter tiny;
  tiny.Audio(0, AudioPayload(5));
  TestReader r(tiny.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  CTagLinkFixups fixups;
  uint32_t duration = 0;
  EXPECT_EQ(FindTimestampOfLastSample(reader, 9, &duration, fixups), E_FAIL)
      << "a file shorter than a window";
}

TEST(TailSearch, RecordsBrokenBackLinksItWalksOver) {
  FlvWriter w;
  AvFileLayout layout;
  layout.durationMs = 30000;
  const std::vector<CraftedTag> tags = WriteAvTags(w, layout);
  const int64_t broken = w.Tag(kFlvTagAudio, 30000, AudioPayload(20), {3, std::nullopt});
  w.Audio(30023, AudioPayload(20));
  TestReader r(w.Bytes());
  CFlvReader reader(r.get(), 0, nullptr);
  CTagLinkFixups fixups;
  uint32_t duration = 0;
  ASSERT_EQ(FindTimestampOfLastSample(reader, 9, &duration, fixups), S_OK);
  EXPECT_EQ(duration, 30023u);
  int64_t key = 0;
  ASSERT_TRUE(fixups.FindPredecessor(broken, &key));
  EXPECT_EQ(key, tags.back().position);
  EXPECT_EQ(fixups.Count(), 1u);
}

}  // namespace
}  // namespace flvdmx

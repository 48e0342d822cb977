// The ffmpeg-made corpus that other tests compare against: every file is
// there with the streams its name promises, and the ffprobe reader agrees
// with the bytes of the file.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "diag/crc32.h"
#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx {
namespace {

struct CorpusFile {
  const char* name;
  const char* video;  // codec_name, or "" when there is no video
  int width, height;
  const char* audio;
  int sample_rate, channels;
  double seconds;
};

void PrintTo(const CorpusFile& f, std::ostream* os) { *os << f.name; }

const CorpusFile kCorpus[] = {
    {"h264_aac.flv", "h264", 320, 240, "aac", 44100, 2, 12},
    {"h264_aac_bframes.flv", "h264", 320, 240, "aac", 44100, 2, 12},
    {"h264_aac_nometa.flv", "h264", 320, 240, "aac", 44100, 2, 12},
    {"h264_aac_short.flv", "h264", 320, 240, "aac", 44100, 2, 5},
    {"h264_mp3.flv", "h264", 320, 240, "mp3", 44100, 2, 12},
    {"h263_mp3.flv", "flv1", 320, 240, "mp3", 22050, 1, 12},
    {"screen1.flv", "flashsv", 160, 120, "", 0, 0, 3},
    {"screen2.flv", "flashsv2", 160, 120, "", 0, 0, 3},
    {"pcm.flv", "", 0, 0, "pcm_s16le", 44100, 2, 5},
    {"nellymoser.flv", "", 0, 0, "nellymoser", 22050, 1, 5},
    {"speex.flv", "", 0, 0, "speex", 16000, 1, 5},
    {"aac_only.flv", "", 0, 0, "aac", 44100, 2, 12},
    {"adpcm_h264.flv", "h264", 320, 240, "adpcm_swf", 22050, 1, 5},
    {"h264_aac_long.flv", "h264", 160, 120, "aac", 22050, 1, 1260},
    {"h264_aac_long_nometa.flv", "h264", 160, 120, "aac", 22050, 1, 1260},
};

class CorpusFileTest : public testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusFileTest, HasTheStreamsItsNamePromises) {
  const CorpusFile& f = GetParam();
  const std::vector<ProbeStream> streams = ProbeStreams(MediaPath(f.name));
  ASSERT_EQ(streams.size(), (*f.video ? 1u : 0u) + (*f.audio ? 1u : 0u));
  for (const ProbeStream& s : streams) {
    SCOPED_TRACE(s.codec_type);
    if (s.codec_type == "video") {
      EXPECT_EQ(s.codec_name, f.video);
      EXPECT_EQ(s.width, f.width);
      EXPECT_EQ(s.height, f.height);
    } else {
      ASSERT_EQ(s.codec_type, "audio");
      EXPECT_EQ(s.codec_name, f.audio);
      EXPECT_EQ(s.sample_rate, f.sample_rate);
      EXPECT_EQ(s.channels, f.channels);
    }
    EXPECT_NEAR(s.duration, f.seconds, 0.2);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFileTest, testing::ValuesIn(kCorpus),
                         [](const testing::TestParamInfo<CorpusFile>& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The payload ffprobe hashes is the tail of the tag's data (the codec header
// bytes in front of it are not part of the packet): its CRC over the file's
// own bytes must equal ffprobe's. This ties pos, size and crc32 together.
TEST(ProbePacketsTest, PacketHashesMatchTheFileBytes) {
  const std::string path = MediaPath("h264_aac.flv");
  const std::vector<ProbePacket> packets = ProbePackets(path);
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  ASSERT_FALSE(bytes.empty());

  size_t video = 0, audio = 0;
  for (const ProbePacket& p : packets) {
    (p.codec_type == "video" ? video : audio)++;
    ASSERT_GE(p.pos, 0);
    ASSERT_LE(static_cast<size_t>(p.pos) + 11, bytes.size());
    const uint8_t* tag = bytes.data() + p.pos;
    EXPECT_EQ(tag[0], p.codec_type == "video" ? 9 : 8);
    const size_t data_size = (size_t{tag[1]} << 16) | (size_t{tag[2]} << 8) | tag[3];
    ASSERT_LE(static_cast<size_t>(p.size), data_size);
    ASSERT_LE(p.pos + 11 + data_size, bytes.size());
    const uint8_t* payload = tag + 11 + (data_size - static_cast<size_t>(p.size));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", Crc32(payload, static_cast<size_t>(p.size)));
    ASSERT_EQ(p.crc32, hex) << "packet at " << p.pos;
  }
  // 12 s at 25 fps, and AAC frames of 1024 samples at 44100 Hz.
  EXPECT_NEAR(static_cast<double>(video), 300, 2);
  EXPECT_NEAR(static_cast<double>(audio), 12 * 44100 / 1024.0, 3);
}

TEST(ProbePacketsTest, KeyFramesEveryTwoSecondsAndBFramesReorder) {
  const std::vector<ProbePacket> plain = ProbePackets(MediaPath("h264_aac.flv"));
  std::vector<int64_t> keys;
  for (const ProbePacket& p : plain) {
    if (p.codec_type != "video") continue;
    EXPECT_EQ(p.pts_ms, p.dts_ms);
    if (p.key) keys.push_back(p.dts_ms);
  }
  ASSERT_EQ(keys.size(), 6u);
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_EQ(keys[i] - keys[i - 1], 2000);

  bool reordered = false;
  for (const ProbePacket& p : ProbePackets(MediaPath("h264_aac_bframes.flv")))
    if (p.codec_type == "video" && p.pts_ms != p.dts_ms) reordered = true;
  EXPECT_TRUE(reordered);
}

TEST(ProbeStreamsTest, ReadsFrameRateProfileAndLevel) {
  const std::vector<ProbeStream> streams = ProbeStreams(MediaPath("h264_aac.flv"));
  ASSERT_EQ(streams.size(), 2u);
  const ProbeStream& v = streams[0].codec_type == "video" ? streams[0] : streams[1];
  EXPECT_EQ(v.r_frame_rate, "25/1");
  EXPECT_DOUBLE_EQ(RatioValue(v.avg_frame_rate), 25.0);
  EXPECT_FALSE(v.profile.empty());
  EXPECT_GT(v.level, 0);
  EXPECT_DOUBLE_EQ(RatioValue("30000/1001"), 30000.0 / 1001);
  EXPECT_EQ(RatioValue("0/0"), 0);
}

TEST(ProbeTest, UnreadableFileIsAFailureNotACrash) {
  TempDir dir;
  std::ofstream(dir.File("junk.flv")) << "not a media file";
  testing::TestPartResultArray failures;
  {
    testing::ScopedFakeTestPartResultReporter reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    EXPECT_TRUE(ProbePackets(dir.File("junk.flv")).empty());
  }
  EXPECT_EQ(failures.size(), 1);
}

}  // namespace
}  // namespace flvdmx

// The ffmpeg-made corpus that other tests compare against: every file has the
// streams its name promises, and the frame layout the seek tests rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(CorpusTest, EveryFileHasTheStreamsItsNamePromises) {
  for (const CorpusFile& f : kCorpus) {
    SCOPED_TRACE(f.name);
    const std::vector<ProbeStream> streams = ProbeStreams(MediaPath(f.name));
    ASSERT_EQ(streams.size(), (*f.video ? 1u : 0u) + (*f.audio ? 1u : 0u));
    for (const ProbeStream& s : streams) {
      const bool video = s.codec_type == "video";
      EXPECT_EQ(s.codec_name, video ? f.video : f.audio);
      EXPECT_EQ(video ? s.width : s.sample_rate, video ? f.width : f.sample_rate);
      EXPECT_EQ(video ? s.height : s.channels, video ? f.height : f.channels);
      EXPECT_NEAR(s.duration, f.seconds, 0.2);
    }
  }
}

// Seek tests rely on key frames every 2 s and on B-frames.
TEST(CorpusTest, KeyFramesAreEveryTwoSecondsAndBFramesReorder) {
  std::vector<int64_t> keys;
  for (const ProbePacket& p : ProbePackets(MediaPath("h264_aac.flv")))
    if (p.codec_type == "video" && p.key) keys.push_back(p.dts_ms);
  ASSERT_EQ(keys.size(), 6u);
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_EQ(keys[i] - keys[i - 1], 2000);

  bool reordered = false;
  for (const ProbePacket& p : ProbePackets(MediaPath("h264_aac_bframes.flv")))
    reordered = reordered || (p.codec_type == "video" && p.pts_ms != p.dts_ms);
  EXPECT_TRUE(reordered);
}

// The Matroska sources of the enhanced corpus: one stream of the named codec,
// key frames every second for the seeks, and AVC/HEVC that reorder frames so
// that composition offsets are not all 0.
TEST(CorpusTest, EnhancedSourcesHaveTheirCodecKeysAndReordering) {
  const struct {
    const char* name;
    const char* codec;
    bool reordered;
  } sources[] = {
      {"av1.mkv", "av1", false},   {"vp9.mkv", "vp9", false}, {"vp8.mkv", "vp8", false},
      {"hevc.mkv", "hevc", true},  {"avc.mkv", "h264", true}, {"opus.mkv", "opus", false},
      {"flac.mkv", "flac", false}, {"ac3.mkv", "ac3", false}, {"eac3.mkv", "eac3", false},
      {"mp3.mkv", "mp3", false},   {"aac.mkv", "aac", false}};
  for (const auto& s : sources) {
    SCOPED_TRACE(s.name);
    const std::string path = std::string("enhanced/") + s.name;
    const std::vector<ProbeStream> streams = ProbeStreams(MediaPath(path.c_str()));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].codec_name, s.codec);
    EXPECT_NEAR(streams[0].duration, 2, 0.1);
    if (streams[0].codec_type != "video") continue;
    std::vector<int64_t> keys;
    bool reordered = false;
    int64_t last = -1;
    for (const ProbePacket& p : ProbePackets(MediaPath(path.c_str()))) {
      if (p.key) keys.push_back(p.pts_ms);
      reordered = reordered || p.pts_ms < last;
      last = p.pts_ms;
    }
    EXPECT_EQ(keys, (std::vector<int64_t>{0, 1000}));
    EXPECT_EQ(reordered, s.reordered);
  }
}

}  // namespace
}  // namespace flvdmx

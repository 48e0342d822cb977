// STREAMINFO from ffmpeg's FLAC writer (native files and the bare block list
// of an MP4 dfLa box) checked against ffprobe, and hand-written blocks at the
// edges of each field.
#include "parsers/flac_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec_media.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::Bytes;

std::string Describe(const FlacStreamInfo& i) {
  return "block " + std::to_string(i.minBlock) + "-" + std::to_string(i.maxBlock) + " frame " +
         std::to_string(i.minFrame) + "-" + std::to_string(i.maxFrame) + " " +
         std::to_string(i.sampleRate) + " Hz " + std::to_string(i.channels) + "ch " +
         std::to_string(i.bitsPerSample) + "-bit " + std::to_string(i.totalSamples) + " samples";
}

TEST(FlacInfo, EncoderStreamInfoMatchesFfprobe) {
  struct Case {
    const char* name;
    bool mp4;  // the block list of the dfLa box, after its version and flags
  } cases[] = {
      {"ch_flac_16_44100_stereo.flac", false},
      {"ch_flac_24_96000_5.1.flac", false},
      {"ch_flac_16_8000_mono.flac", false},
      {"ch_flac_24_48000_stereo.mp4", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto probe = test::ProbeFirstStream(c.name);
    Bytes bytes = test::ReadMedia(c.name);
    if (c.mp4) {
      bytes = test::Mp4BoxBody(bytes, "dfLa");
      ASSERT_GT(bytes.size(), 4u);
      bytes.erase(bytes.begin(), bytes.begin() + 4);
    }
    FlacStreamInfo info;
    ASSERT_TRUE(ParseFlacStreamInfo(bytes.data(), bytes.size(), &info));
    EXPECT_EQ(info.sampleRate, test::ProbeNumber(probe, "sample_rate"));
    EXPECT_EQ(info.channels, test::ProbeNumber(probe, "channels"));
    EXPECT_EQ(info.bitsPerSample, test::ProbeNumber(probe, "bits_per_raw_sample"));
    // A tenth of a second.
    EXPECT_EQ(info.totalSamples, info.sampleRate / 10);

    // Everything up to the end of STREAMINFO is needed, nothing after it.
    const size_t needed = (c.mp4 ? 0 : 4) + 4 + 34;
    ASSERT_GE(bytes.size(), needed);
    const Bytes head(bytes.begin(), bytes.begin() + std::min(bytes.size(), needed + 8));
    test::ExpectPrefixes<FlacStreamInfo>(head, ParseFlacStreamInfo, Describe,
                                         [&](size_t n) { return n >= needed; });
  }
}

struct Fields {
  uint32_t type = 0, length = 34, minBlock = 4096, maxBlock = 4096, minFrame = 14, maxFrame = 9000;
  uint32_t sampleRate = 48000, channels = 2, bits = 16;
  uint64_t total = 0x123456789;
};

Bytes Block(const Fields& f) {
  test::BitWriter w;
  w.Bits(1, 1).Bits(f.type, 7).Bits(f.length, 24);
  w.Bits(f.minBlock, 16).Bits(f.maxBlock, 16).Bits(f.minFrame, 24).Bits(f.maxFrame, 24);
  w.Bits(f.sampleRate, 20).Bits(f.channels - 1, 3).Bits(f.bits - 1, 5).Bits(f.total, 36);
  w.Bits(0, 64).Bits(0, 64);  // MD5
  return w.Bytes();
}

TEST(FlacInfo, HandWrittenBlocks) {
  struct Case {
    const char* name;
    std::function<void(Fields&)> edit;
    const char* expected;  // null: rejected
  } cases[] = {
      {"Widest",
       [](Fields& f) {
         f.sampleRate = 0xFFFFF, f.channels = 8, f.bits = 32, f.total = 0xFFFFFFFFFull;
         f.minBlock = 16, f.maxBlock = 65535, f.maxFrame = 0xFFFFFF;
       },
       "block 16-65535 frame 14-16777215 1048575 Hz 8ch 32-bit 68719476735 samples"},
      {"FourBits", [](Fields& f) { f.bits = 4, f.channels = 1; },
       "block 4096-4096 frame 14-9000 48000 Hz 1ch 4-bit 4886718345 samples"},
      {"ThreeBits", [](Fields& f) { f.bits = 3; }, nullptr},
      {"ZeroRate", [](Fields& f) { f.sampleRate = 0; }, nullptr},
      {"BlocksBelow16", [](Fields& f) { f.minBlock = f.maxBlock = 15; }, nullptr},
      {"MinAboveMax", [](Fields& f) { f.minBlock = 4097; }, nullptr},
      {"NotStreamInfoFirst", [](Fields& f) { f.type = 4; }, nullptr},
      {"LongerBlock", [](Fields& f) { f.length = 35; }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fields f;
    c.edit(f);
    Bytes block = Block(f);
    if (f.length == 35) block.push_back(0);
    for (bool marker : {false, true}) {
      Bytes bytes = block;
      if (marker) bytes.insert(bytes.begin(), {'f', 'L', 'a', 'C'});
      test::ExpectParsed(bytes, ParseFlacStreamInfo, Describe, c.expected);
    }
  }
}

}  // namespace
}  // namespace flvdmx

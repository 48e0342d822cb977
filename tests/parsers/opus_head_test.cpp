// OpusHead from libopus (mono, stereo, 5.1 in family 1, family 255) checked
// against ffprobe, and hand-written headers for each rule of the format.
#include "parsers/opus_head.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_media.h"

namespace flvdmx {
namespace {

using test::Bytes;

std::string Describe(const OpusHeadInfo& i) {
  std::string s = std::to_string(i.channels) + "ch skip " + std::to_string(i.preSkip) + " rate " +
                  std::to_string(i.inputSampleRate) + " gain " + std::to_string(i.outputGain) +
                  " family " + std::to_string(i.mappingFamily) + " streams " +
                  std::to_string(i.streamCount) + "/" + std::to_string(i.coupledCount) + " map";
  for (int c = 0; c < i.channels; ++c) s += " " + std::to_string(i.mapping[c]);
  return s;
}

struct FileCase {
  const char* name;
  uint32_t inputSampleRate;
  uint8_t mappingFamily, streamCount, coupledCount;
};

TEST(OpusHead, LibopusHeadersMatchFfprobe) {
  const FileCase cases[] = {
      {"ch_opus_mono.opus", 48000, 0, 1, 0},
      {"ch_opus_stereo_16000.opus", 16000, 0, 1, 1},
      {"ch_opus_5.1.opus", 48000, 1, 4, 2},
      {"ch_opus_quad_family255.opus", 48000, 255, 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto probe = test::ProbeFirstStream(c.name);
    const Bytes head = test::OggFirstPacket(test::ReadMedia(c.name));
    OpusHeadInfo info;
    ASSERT_TRUE(ParseOpusHead(head.data(), head.size(), &info));
    EXPECT_EQ(info.channels, test::ProbeNumber(probe, "channels"));
    EXPECT_EQ(info.inputSampleRate, c.inputSampleRate);
    EXPECT_EQ(info.mappingFamily, c.mappingFamily);
    EXPECT_EQ(info.streamCount, c.streamCount);
    EXPECT_EQ(info.coupledCount, c.coupledCount);
    EXPECT_GT(info.preSkip, 0);  // libopus always asks the decoder to skip its look-ahead
    test::ExpectPrefixes<OpusHeadInfo>(head, ParseOpusHead, Describe,
                                       [&](size_t n) { return n >= head.size(); });
  }
}

Bytes Head(uint8_t version, uint8_t channels, uint8_t family, const Bytes& table = {}) {
  Bytes head = {'O',   'p',  'u',     's',      'H',  'e',
                'a',   'd',  version, channels, 0x38, 0x01,  // pre-skip 312, little-endian
                0x44,  0xAC, 0x00,    0x00,                  // input rate 44100
                0x00,  0xFF,                                 // output gain -256
                family};
  for (uint8_t b : table) head.push_back(b);
  return head;
}

TEST(OpusHead, HandWrittenHeaders) {
  struct Case {
    const char* name;
    Bytes head;
    const char* expected;  // null: rejected
  } cases[] = {
      {"MinorVersion15", Head(15, 2, 0),
       "2ch skip 312 rate 44100 gain -256 family 0 streams 1/1 map 0 1"},
      {"TrailingBytesIgnored", Head(1, 1, 0, {1, 2, 3}),
       "1ch skip 312 rate 44100 gain -256 family 0 streams 1/0 map 0"},
      {"Family1Silent", Head(1, 3, 1, {2, 1, 0, 255, 2}),
       "3ch skip 312 rate 44100 gain -256 family 1 streams 2/1 map 0 255 2"},
      {"Family255ManyChannels", Head(1, 10, 255, {10, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
       "10ch skip 312 rate 44100 gain -256 family 255 streams 10/0 map 0 1 2 3 4 5 6 7 8 9"},
      // Ambisonics with a demixing matrix: 2 bytes per (decoded, output) pair.
      {"Family3Matrix", Head(1, 2, 3, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0}),
       "2ch skip 312 rate 44100 gain -256 family 3 streams 1/1 map 0 0"},
      {"Family3MatrixCut", Head(1, 2, 3, {1, 1, 0, 0, 0, 0, 0, 0, 0}), nullptr},
      {"MajorVersion1", Head(16, 2, 0), nullptr},
      {"NoChannels", Head(1, 0, 0), nullptr},
      {"Family0ThreeChannels", Head(1, 3, 0), nullptr},
      {"Family1NineChannels", Head(1, 9, 1, {9, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}), nullptr},
      {"NoStreams", Head(1, 1, 1, {0, 0, 255}), nullptr},
      {"MoreCoupledThanStreams", Head(1, 2, 1, {1, 2, 0, 1}), nullptr},
      {"IndexPastTheStreams", Head(1, 2, 1, {1, 1, 0, 2}), nullptr},
      {"TableCut", Head(1, 2, 1, {1, 1, 0}), nullptr},
      {"StreamsAbove255", Head(1, 1, 255, {200, 100, 0}), nullptr},
      {"WrongMagic", Bytes{'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ExpectParsed(c.head, ParseOpusHead, Describe, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx

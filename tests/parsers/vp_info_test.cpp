// VP9 and VP8 key frames from libvpx checked against ffprobe, the vpcC record
// that ffmpeg's MP4 writer makes from them, and hand-written headers for the
// forms and faults libvpx does not write.
#include "parsers/vp_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_media.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::Bytes;

std::string Describe(const VpInfo& i) {
  return std::to_string(i.width) + "x" + std::to_string(i.height) + " profile " +
         std::to_string(i.profile) + " level " + std::to_string(i.level) + " " +
         std::to_string(i.bitDepth) + "-bit chroma " + std::to_string(i.chromaSubsampling) +
         (i.fullRange ? " full" : "");
}

// The chromaSubsampling code a pixel format name stands for (4:2:0 without
// siting: 0).
uint8_t ChromaCode(const std::string& pixFmt) {
  if (pixFmt.find("422") != std::string::npos) return 2;
  if (pixFmt.find("444") != std::string::npos || pixFmt.find("gbr") != std::string::npos) return 3;
  return 0;
}

const char* const kVp9Files[] = {
    "ch_vp9_176x144",
    "ch_vp9_321x241",
    "ch_vp9_p1_160x120_444",
    "ch_vp9_p1_160x120_422",
    "ch_vp9_p2_320x240_10bit",
    "ch_vp9_p2_96x64_12bit",
    "ch_vp9_p3_96x64_444_10bit",
    "ch_vp9_gbr_64x64",
    "ch_vp9_full_range_64x64",
};

TEST(VpInfo, Vp9KeyFramesAndRecordsMatchFfprobe) {
  for (const char* name : kVp9Files) {
    SCOPED_TRACE(name);
    const std::string ivf = std::string(name) + ".ivf";
    const auto probe = test::ProbeFirstStream(ivf);
    const Bytes frame = test::IvfFirstFrame(test::ReadMedia(ivf));
    VpInfo info;
    ASSERT_TRUE(ParseVp9KeyFrameSize(frame.data(), frame.size(), &info));
    EXPECT_EQ(info.width, test::ProbeNumber(probe, "width"));
    EXPECT_EQ(info.height, test::ProbeNumber(probe, "height"));
    EXPECT_EQ("Profile " + std::to_string(info.profile), probe.at("profile"));
    const std::string pixFmt = probe.at("pix_fmt");
    EXPECT_EQ(info.bitDepth, test::PixFmtBitDepth(pixFmt)) << pixFmt;
    EXPECT_EQ(info.chromaSubsampling, ChromaCode(pixFmt)) << pixFmt;
    EXPECT_EQ(info.fullRange, probe.at("color_range") == "pc");

    const Bytes vpcC = test::Mp4BoxBody(test::ReadMedia(std::string(name) + ".mp4"), "vpcC");
    VpInfo record;
    ASSERT_TRUE(ParseVpCodecConfig(vpcC.data(), vpcC.size(), &record));
    EXPECT_EQ(record.profile, info.profile);
    EXPECT_EQ(record.bitDepth, info.bitDepth);
    // The record may tell the 4:2:0 siting (0 or 1); the frame cannot.
    EXPECT_EQ(record.chromaSubsampling <= 1 ? 0 : record.chromaSubsampling, info.chromaSubsampling);
    EXPECT_EQ(record.fullRange, info.fullRange);
    EXPECT_EQ(record.width, 0u);
  }
}

TEST(VpInfo, Vp8KeyFramesMatchFfprobe) {
  for (const char* name : {"ch_vp8_176x144.ivf", "ch_vp8_321x241.ivf"}) {
    SCOPED_TRACE(name);
    const auto probe = test::ProbeFirstStream(name);
    const Bytes frame = test::IvfFirstFrame(test::ReadMedia(name));
    VpInfo info;
    ASSERT_TRUE(ParseVp8KeyFrameSize(frame.data(), frame.size(), &info));
    EXPECT_EQ(info.width, test::ProbeNumber(probe, "width"));
    EXPECT_EQ(info.height, test::ProbeNumber(probe, "height"));
    EXPECT_EQ(std::to_string(info.profile), probe.at("profile"));
  }
}

// The smallest prefix that parses; every shorter one must fail and every
// longer one give the same.
template <typename Parse>
void ExpectCutsFail(const Bytes& bytes, Parse parse) {
  size_t needed = 0;
  VpInfo info;
  while (needed <= bytes.size() && !parse(bytes.data(), needed, &info)) ++needed;
  ASSERT_LE(needed, bytes.size());
  test::ExpectPrefixes<VpInfo>(bytes, parse, Describe, [&](size_t n) { return n >= needed; });
}

TEST(VpInfo, EveryCutOfARealHeaderFails) {
  for (const std::string name : {"ch_vp9_p3_96x64_444_10bit", "ch_vp9_176x144"}) {
    SCOPED_TRACE(name);
    const Bytes frame = test::IvfFirstFrame(test::ReadMedia(name + ".ivf"));
    ASSERT_GE(frame.size(), 16u);
    ExpectCutsFail(Bytes(frame.begin(), frame.begin() + 16), ParseVp9KeyFrameSize);
    const Bytes vpcC = test::Mp4BoxBody(test::ReadMedia(name + ".mp4"), "vpcC");
    test::ExpectPrefixes<VpInfo>(vpcC, ParseVpCodecConfig, Describe,
                                 [&](size_t n) { return n == vpcC.size(); });
  }
  const Bytes vp8 = test::IvfFirstFrame(test::ReadMedia("ch_vp8_321x241.ivf"));
  ASSERT_GE(vp8.size(), 16u);
  test::ExpectPrefixes<VpInfo>(Bytes(vp8.begin(), vp8.begin() + 16), ParseVp8KeyFrameSize, Describe,
                               [](size_t n) { return n >= 10; });
}

// A VP9 frame header a test chooses, up to the frame size.
struct Vp9Header {
  uint32_t frame_marker = 2, profile = 0, reserved_zero = 0, show_existing_frame = 0;
  uint32_t frame_type = 0, sync_code = 0x498342, ten_or_twelve_bit = 0, color_space = 1;
  uint32_t color_range = 0, subsampling_x = 1, subsampling_y = 1, reserved_after_chroma = 0;
  uint32_t width = 640, height = 360;
};

Bytes WriteVp9(const Vp9Header& h) {
  test::BitWriter w;
  w.Bits(h.frame_marker, 2).Flag(h.profile & 1).Flag(h.profile >> 1);
  if (h.profile == 3) w.Flag(h.reserved_zero);
  w.Flag(h.show_existing_frame);
  if (h.show_existing_frame) return w.Bits(0, 3).Bytes();
  w.Flag(h.frame_type).Flag(1).Flag(0).Bits(h.sync_code, 24);
  if (h.profile >= 2) w.Flag(h.ten_or_twelve_bit);
  w.Bits(h.color_space, 3);
  const bool chromaBits = h.profile == 1 || h.profile == 3;
  if (h.color_space != 7) {
    w.Flag(h.color_range);
    if (chromaBits) w.Flag(h.subsampling_x).Flag(h.subsampling_y).Flag(h.reserved_after_chroma);
  } else if (chromaBits) {
    w.Flag(h.reserved_after_chroma);
  }
  return w.Bits(h.width - 1, 16).Bits(h.height - 1, 16).Flag(0).Bytes();
}

struct Vp9Case {
  const char* name;
  std::function<void(Vp9Header&)> edit;
  const char* expected;  // null: rejected
};

TEST(VpInfo, HandWrittenVp9Headers) {
  const Vp9Case cases[] = {
      {"Profile1FourFourZero", [](Vp9Header& h) { h.profile = 1, h.subsampling_x = 0; },
       "640x360 profile 1 level 0 8-bit chroma 3"},
      {"LargestSize", [](Vp9Header& h) { h.width = h.height = 65536; },
       "65536x65536 profile 0 level 0 8-bit chroma 0"},
      {"RgbNeedsProfile1Or3", [](Vp9Header& h) { h.color_space = 7; }, nullptr},
      {"Profile3ReservedBit", [](Vp9Header& h) { h.profile = 3, h.reserved_zero = 1; }, nullptr},
      {"ReservedBitAfterChroma", [](Vp9Header& h) { h.profile = 1, h.reserved_after_chroma = 1; },
       nullptr},
      {"ShowExistingFrame", [](Vp9Header& h) { h.show_existing_frame = 1; }, nullptr},
      {"InterFrame", [](Vp9Header& h) { h.frame_type = 1; }, nullptr},
      {"BadSyncCode", [](Vp9Header& h) { h.sync_code = 0x498343; }, nullptr},
      {"BadFrameMarker", [](Vp9Header& h) { h.frame_marker = 3; }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Vp9Header h;
    c.edit(h);
    test::ExpectParsed(WriteVp9(h), ParseVp9KeyFrameSize, Describe, c.expected);
  }
}

TEST(VpInfo, Vp9SuperframeIsReadThroughItsFirstFrame) {
  const Bytes key = WriteVp9(Vp9Header());
  const Bytes second = {0x86, 0x00, 0x40, 0x92};
  // Index: marker (two bytes per size, two frames), the sizes, the marker again.
  auto superframe = [&](size_t firstSize) {
    Bytes chunk = key;
    chunk.insert(chunk.end(), second.begin(), second.end());
    const uint8_t marker = 0xC0 | (1 << 3) | 1;
    chunk.insert(chunk.end(), {marker, static_cast<uint8_t>(firstSize), 0,
                               static_cast<uint8_t>(second.size()), 0, marker});
    return chunk;
  };
  struct Case {
    const char* name;
    Bytes chunk;
    bool ok;
  } cases[] = {
      {"WholeFirstFrame", superframe(key.size()), true},
      {"FirstFrameCutByTheIndex", superframe(5), false},
      // A first size past the index is no index: the chunk is one frame.
      {"SizeBeyondTheChunk", superframe(200), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VpInfo info;
    EXPECT_EQ(ParseVp9KeyFrameSize(c.chunk.data(), c.chunk.size(), &info), c.ok);
    if (c.ok) {
      EXPECT_EQ(info.width, 640u);
    }
  }
}

TEST(VpInfo, Vp8FrameTagsAndRecords) {
  // Frame tag (key frame, version, shown, partition size), start code, then
  // 14-bit width and height with two scaling bits above each.
  struct Case {
    const char* name;
    Bytes bytes;
    bool (*parse)(const uint8_t*, size_t, VpInfo*);
    const char* expected;  // null: rejected
  } cases[] = {
      {"Vp8ScaledVersion3", Bytes{0x56, 0x42, 0x00, 0x9D, 0x01, 0x2A, 0x41, 0xC1, 0xF1, 0x40},
       ParseVp8KeyFrameSize, "321x241 profile 3 level 0 8-bit chroma 0"},
      {"Vp8InterFrame", Bytes{0x51, 0x42, 0x00, 0x9D, 0x01, 0x2A, 0x40, 0x01, 0xF0, 0x00},
       ParseVp8KeyFrameSize, nullptr},
      {"Vp8Version4", Bytes{0x58, 0x42, 0x00, 0x9D, 0x01, 0x2A, 0x40, 0x01, 0xF0, 0x00},
       ParseVp8KeyFrameSize, nullptr},
      {"Vp8BadStartCode", Bytes{0x50, 0x42, 0x00, 0x9D, 0x01, 0x2B, 0x40, 0x01, 0xF0, 0x00},
       ParseVp8KeyFrameSize, nullptr},
      {"Vp8ZeroWidth", Bytes{0x50, 0x42, 0x00, 0x9D, 0x01, 0x2A, 0x00, 0xC0, 0xF0, 0x00},
       ParseVp8KeyFrameSize, nullptr},
      // vpcC: version and flags, profile, level, depth/chroma/range, three
      // colour codes, initialization data size.
      {"RecordVersion1", Bytes{1, 0, 0, 0, 2, 31, 0xA3, 9, 16, 9, 0, 0}, ParseVpCodecConfig,
       "0x0 profile 2 level 31 10-bit chroma 1 full"},
      {"RecordWithInitData", Bytes{1, 0, 0, 0, 0, 10, 0x86, 1, 1, 1, 0, 2, 7, 7},
       ParseVpCodecConfig, "0x0 profile 0 level 10 8-bit chroma 3"},
      {"RecordVersion0", Bytes{0, 0, 0, 0, 1, 20, 0xC1, 0x31, 0, 0}, ParseVpCodecConfig,
       "0x0 profile 1 level 20 12-bit chroma 3 full"},
      {"RecordVersion2", Bytes{2, 0, 0, 0, 0, 10, 0x80, 1, 1, 1, 0, 0}, ParseVpCodecConfig,
       nullptr},
      {"RecordNineBits", Bytes{1, 0, 0, 0, 0, 10, 0x90, 1, 1, 1, 0, 0}, ParseVpCodecConfig,
       nullptr},
      {"RecordChroma4", Bytes{1, 0, 0, 0, 0, 10, 0x88, 1, 1, 1, 0, 0}, ParseVpCodecConfig, nullptr},
      {"RecordProfile4", Bytes{1, 0, 0, 0, 4, 10, 0x80, 1, 1, 1, 0, 0}, ParseVpCodecConfig,
       nullptr},
      {"RecordInitDataCut", Bytes{1, 0, 0, 0, 0, 10, 0x80, 1, 1, 1, 0, 2, 7}, ParseVpCodecConfig,
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ExpectParsed(c.bytes, c.parse, Describe, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx

// AV1 sequence headers from three encoders checked against ffprobe, the av1C
// record beside them, and hand-written headers for the syntax encoders here
// do not write (still pictures, operating points, decoder models, 4:2:2).
#include "parsers/av1_info.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec_media.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::Bytes;

std::string Describe(const Av1Info& i) {
  return std::to_string(i.width) + "x" + std::to_string(i.height) + " profile " +
         std::to_string(i.seqProfile) + " level " + std::to_string(i.seqLevelIdx0) + " " +
         std::to_string(i.bitDepth) + "-bit" + (i.monochrome ? " mono" : "") + " ss " +
         std::to_string(i.chromaSubsamplingX) + std::to_string(i.chromaSubsamplingY);
}

struct FileCase {
  const char* name;
  uint8_t seqProfile;
};

const FileCase kFiles[] = {
    {"ch_av1_aom_176x144", 0},        {"ch_av1_aom_321x241_10bit", 0},
    {"ch_av1_aom_64x48_444", 1},      {"ch_av1_aom_64x64_12bit", 2},
    {"ch_av1_aom_65x33_gray", 0},     {"ch_av1_aom_96x64_model", 0},
    {"ch_av1_aom_80x60_constant", 0}, {"ch_av1_svt_322x242", 0},
    {"ch_av1_svt_640x360_10bit", 0},  {"ch_av1_rav1e_203x101", 0},
};

TEST(Av1Info, EncoderSequenceHeadersAndRecordsMatchFfprobe) {
  for (const auto& c : kFiles) {
    SCOPED_TRACE(c.name);
    const std::string ivf = std::string(c.name) + ".ivf";
    const auto probe = test::ProbeFirstStream(ivf);
    const Bytes frame = test::IvfFirstFrame(test::ReadMedia(ivf));
    Av1Info info;
    ASSERT_TRUE(ParseAv1SequenceHeaderObus(frame.data(), frame.size(), &info));
    EXPECT_EQ(info.width, test::ProbeNumber(probe, "width"));
    EXPECT_EQ(info.height, test::ProbeNumber(probe, "height"));
    EXPECT_EQ(info.seqProfile, c.seqProfile);
    const std::string pixFmt = probe.at("pix_fmt");
    EXPECT_EQ(info.bitDepth, test::PixFmtBitDepth(pixFmt)) << pixFmt;
    EXPECT_EQ(info.monochrome, pixFmt == "gray") << pixFmt;
    const bool is444 = pixFmt.find("444") != std::string::npos;
    EXPECT_EQ(info.chromaSubsamplingX, is444 ? 0 : 1) << pixFmt;
    EXPECT_EQ(info.chromaSubsamplingY, is444 ? 0 : 1) << pixFmt;

    // The MP4 writer's av1C carries the same header among its configOBUs.
    const Bytes av1C = test::Mp4BoxBody(test::ReadMedia(std::string(c.name) + ".mp4"), "av1C");
    Av1Info fromRecord;
    ASSERT_TRUE(ParseAv1CodecConfig(av1C.data(), av1C.size(), &fromRecord));
    EXPECT_EQ(Describe(fromRecord), Describe(info));
  }
}

TEST(Av1Info, EveryCutOfARealHeaderFails) {
  const Bytes frame = test::IvfFirstFrame(test::ReadMedia("ch_av1_aom_96x64_model.ivf"));
  // The temporal delimiter (2 bytes), then the sequence header OBU.
  ASSERT_GE(frame.size(), 4u);
  ASSERT_EQ(frame[0], 0x12);
  ASSERT_EQ(frame[2], 0x0A);
  const size_t header = 2 + 2 + frame[3];
  const Bytes obus(frame.begin(), frame.begin() + header);
  test::ExpectPrefixes<Av1Info>(obus, ParseAv1SequenceHeaderObus, Describe,
                                [&](size_t n) { return n == header; });

  // The record: its four fixed bytes alone are complete (no picture size),
  // while a cut inside its configOBUs is not.
  const Bytes av1C = test::Mp4BoxBody(test::ReadMedia("ch_av1_aom_96x64_model.mp4"), "av1C");
  ASSERT_GT(av1C.size(), 4u);
  const Bytes fixed(av1C.begin(), av1C.begin() + 4);
  Av1Info info;
  ASSERT_TRUE(ParseAv1CodecConfig(fixed.data(), fixed.size(), &info));
  EXPECT_EQ(info.width, 0u);
  // The fixed bytes agree with the header, so a cut to them differs only in size.
  auto describeRecord = [](const Av1Info& i) {
    Av1Info sizeless = i;
    sizeless.width = sizeless.height = 0;
    return Describe(sizeless);
  };
  test::ExpectPrefixes<Av1Info>(av1C, ParseAv1CodecConfig, describeRecord,
                                [&](size_t n) { return n == 4 || n == av1C.size(); });
}

// The fields of a sequence header a test chooses; the rest are fixed.
struct SeqHeader {
  uint32_t seq_profile = 0, reduced_still_picture_header = 0;
  uint32_t timing_info_present_flag = 0, equal_picture_interval = 0;
  uint32_t num_ticks_per_picture_minus_1 = 0;
  uint32_t decoder_model_info_present_flag = 0, buffer_delay_length_minus_1 = 9;
  uint32_t initial_display_delay_present_flag = 0;
  std::vector<uint32_t> seq_level_idx = {8};  // one per operating point
  uint32_t frame_width_bits_minus_1 = 10, frame_height_bits_minus_1 = 9;
  uint32_t max_frame_width_minus_1 = 1279, max_frame_height_minus_1 = 719;
  uint32_t frame_id_numbers_present_flag = 0, enable_order_hint = 1;
  uint32_t seq_choose_screen_content_tools = 1, seq_force_screen_content_tools = 0;
  uint32_t high_bitdepth = 0, twelve_bit = 0, mono_chrome = 0;
  uint32_t color_description_present_flag = 0, color_primaries = 2, transfer_characteristics = 2,
           matrix_coefficients = 2;
  uint32_t subsampling_x = 1, subsampling_y = 0;  // profile 2 at 12 bits only
};

void WriteUvlc(test::BitWriter& w, uint32_t value) {
  int leadingZeros = 0;
  while ((uint64_t{value} + 1) >> (leadingZeros + 1)) ++leadingZeros;
  w.Bits(0, leadingZeros)
      .Bits(1, 1)
      .Bits(uint64_t{value} + 1 - (uint64_t{1} << leadingZeros), leadingZeros);
}

void WriteOperatingPoints(test::BitWriter& w, const SeqHeader& s) {
  w.Flag(s.initial_display_delay_present_flag).Bits(s.seq_level_idx.size() - 1, 5);
  for (uint32_t level : s.seq_level_idx) {
    w.Bits(0x101, 12).Bits(level, 5);
    if (level > 7) w.Flag(1);  // seq_tier
    if (s.decoder_model_info_present_flag) {
      w.Flag(1)
          .Bits(1, s.buffer_delay_length_minus_1 + 1)
          .Bits(2, s.buffer_delay_length_minus_1 + 1);
      w.Flag(0);
    }
    if (s.initial_display_delay_present_flag) w.Flag(1).Bits(9, 4);
  }
}

void WriteColorConfig(test::BitWriter& w, const SeqHeader& s) {
  w.Flag(s.high_bitdepth);
  if (s.seq_profile == 2 && s.high_bitdepth) w.Flag(s.twelve_bit);
  if (s.seq_profile != 1) w.Flag(s.mono_chrome);
  w.Flag(s.color_description_present_flag);
  if (s.color_description_present_flag)
    w.Bits(s.color_primaries, 8).Bits(s.transfer_characteristics, 8).Bits(s.matrix_coefficients, 8);
  if (s.mono_chrome) {
    w.Flag(1);  // color_range
    return;
  }
  if (s.color_primaries == 1 && s.transfer_characteristics == 13 && s.matrix_coefficients == 0) {
    w.Flag(0);  // separate_uv_delta_q
    return;
  }
  w.Flag(0);  // color_range
  bool ssx = s.seq_profile != 1, ssy = s.seq_profile == 0;
  if (s.seq_profile == 2 && s.twelve_bit) {
    ssx = s.subsampling_x, ssy = ssx && s.subsampling_y;
    w.Flag(ssx);
    if (ssx) w.Flag(ssy);
  }
  if (ssx && ssy) w.Bits(0, 2);  // chroma_sample_position
  w.Flag(0);                     // separate_uv_delta_q
}

// The payload up to film_grain_params_present, without trailing bits, so a
// cut of one byte removes a field.
Bytes WriteSequenceHeader(const SeqHeader& s) {
  test::BitWriter w;
  w.Bits(s.seq_profile, 3).Flag(0).Flag(s.reduced_still_picture_header);
  if (s.reduced_still_picture_header) {
    w.Bits(s.seq_level_idx[0], 5);
  } else {
    w.Flag(s.timing_info_present_flag);
    if (s.timing_info_present_flag) {
      w.Bits(1001, 32).Bits(30000, 32).Flag(s.equal_picture_interval);
      if (s.equal_picture_interval) WriteUvlc(w, s.num_ticks_per_picture_minus_1);
      w.Flag(s.decoder_model_info_present_flag);
      if (s.decoder_model_info_present_flag)
        w.Bits(s.buffer_delay_length_minus_1, 5).Bits(90, 32).Bits(31, 5).Bits(22, 5);
    }
    WriteOperatingPoints(w, s);
  }
  w.Bits(s.frame_width_bits_minus_1, 4).Bits(s.frame_height_bits_minus_1, 4);
  w.Bits(s.max_frame_width_minus_1, s.frame_width_bits_minus_1 + 1);
  w.Bits(s.max_frame_height_minus_1, s.frame_height_bits_minus_1 + 1);
  if (!s.reduced_still_picture_header) {
    w.Flag(s.frame_id_numbers_present_flag);
    if (s.frame_id_numbers_present_flag) w.Bits(5, 4).Bits(2, 3);
  }
  w.Bits(0b011, 3);  // use_128x128_superblock, enable_filter_intra, enable_intra_edge_filter
  if (!s.reduced_still_picture_header) {
    w.Bits(0b1010, 4).Flag(s.enable_order_hint);
    if (s.enable_order_hint) w.Bits(0b11, 2);
    w.Flag(s.seq_choose_screen_content_tools);
    if (!s.seq_choose_screen_content_tools) w.Flag(s.seq_force_screen_content_tools);
    if (s.seq_choose_screen_content_tools || s.seq_force_screen_content_tools) w.Flag(1);
    if (s.enable_order_hint) w.Bits(6, 3);
  }
  w.Bits(0b011, 3);  // enable_superres, enable_cdef, enable_restoration
  WriteColorConfig(w, s);
  w.Flag(1);  // film_grain_params_present
  return w.Bytes();
}

// An OBU with obu_size (one leb128 byte) or, as the last OBU may be, without.
Bytes Obu(uint8_t type, const Bytes& payload, bool withSize = true) {
  Bytes obu = {static_cast<uint8_t>((type << 3) | (withSize ? 2 : 0))};
  if (withSize) obu.push_back(static_cast<uint8_t>(payload.size()));
  obu.insert(obu.end(), payload.begin(), payload.end());
  return obu;
}

struct HeaderCase {
  const char* name;
  std::function<void(SeqHeader&)> edit;
  const char* expected;  // Describe(); null: rejected
};

TEST(Av1Info, HandWrittenSequenceHeaders) {
  const HeaderCase cases[] = {
      {"Plain", [](SeqHeader&) {}, "1280x720 profile 0 level 8 8-bit ss 11"},
      {"StillPicture", [](SeqHeader& s) { s.reduced_still_picture_header = 1; },
       "1280x720 profile 0 level 8 8-bit ss 11"},
      {"DecoderModelOnThreeOperatingPoints",
       [](SeqHeader& s) {
         s.timing_info_present_flag = s.decoder_model_info_present_flag = 1;
         s.initial_display_delay_present_flag = 1;
         s.buffer_delay_length_minus_1 = 31;
         s.seq_level_idx = {13, 4, 9};
       },
       "1280x720 profile 0 level 13 8-bit ss 11"},
      {"FrameIdsAndNoOrderHint",
       [](SeqHeader& s) { s.frame_id_numbers_present_flag = 1, s.enable_order_hint = 0; },
       "1280x720 profile 0 level 8 8-bit ss 11"},
      {"ScreenContentForcedOff", [](SeqHeader& s) { s.seq_choose_screen_content_tools = 0; },
       "1280x720 profile 0 level 8 8-bit ss 11"},
      {"ScreenContentForcedOn",
       [](SeqHeader& s) {
         s.seq_choose_screen_content_tools = 0, s.seq_force_screen_content_tools = 1;
       },
       "1280x720 profile 0 level 8 8-bit ss 11"},
      {"LargestSize",
       [](SeqHeader& s) {
         s.frame_width_bits_minus_1 = s.frame_height_bits_minus_1 = 15;
         s.max_frame_width_minus_1 = s.max_frame_height_minus_1 = 65535;
       },
       "65536x65536 profile 0 level 8 8-bit ss 11"},
      {"SrgbIsFourFourFour",
       [](SeqHeader& s) {
         s.seq_profile = 1, s.color_description_present_flag = 1;
         s.color_primaries = 1, s.transfer_characteristics = 13, s.matrix_coefficients = 0;
       },
       "1280x720 profile 1 level 8 8-bit ss 00"},
      {"Profile2TenBitIsFourTwoTwo", [](SeqHeader& s) { s.seq_profile = 2, s.high_bitdepth = 1; },
       "1280x720 profile 2 level 8 10-bit ss 10"},
      {"Profile2TwelveBitFourFourFour",
       [](SeqHeader& s) {
         s.seq_profile = 2, s.high_bitdepth = s.twelve_bit = 1, s.subsampling_x = 0;
       },
       "1280x720 profile 2 level 8 12-bit ss 00"},
      {"ReservedProfile", [](SeqHeader& s) { s.seq_profile = 3; }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SeqHeader s;
    c.edit(s);
    const Bytes payload = WriteSequenceHeader(s);
    // A temporal delimiter first, then the header as the last OBU without
    // obu_size: every field read at the wrong width shows as a cut.
    Bytes obus = Obu(2, {});
    const Bytes last = Obu(1, payload, false);
    obus.insert(obus.end(), last.begin(), last.end());
    test::ExpectParsed(obus, ParseAv1SequenceHeaderObus, Describe, c.expected);
    if (c.expected == nullptr || HasFatalFailure()) continue;
    test::ExpectPrefixes<Av1Info>(obus, ParseAv1SequenceHeaderObus, Describe,
                                  [&](size_t n) { return n == obus.size(); });
  }
}

TEST(Av1Info, ObuFramingAndRecordRejections) {
  const Bytes header = Obu(1, WriteSequenceHeader(SeqHeader()));
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  Bytes extended = header;
  extended[0] |= 0x04;  // obu_extension_flag: one more header byte
  extended.insert(extended.begin() + 1, 0x28);
  Bytes longSize = {0x0A, static_cast<uint8_t>(0x80 | (header.size() - 2)), 0x80, 0x00};
  longSize.insert(longSize.end(), header.begin() + 2, header.end());
  const Bytes nineByteSize = join({{0x0A}, Bytes(8, 0x80), {0x00}});
  Bytes forbidden = header;
  forbidden[0] |= 0x80;
  const Bytes metadata = Obu(5, {1, 2, 3});
  struct Case {
    const char* name;
    Bytes obus;
    bool ok;
  } cases[] = {
      {"AfterMetadataAndPadding", join({metadata, Obu(15, {0, 0}), header}), true},
      {"ExtensionHeader", extended, true},
      {"ObuSizeInThreeBytes", longSize, true},
      {"ObuSizeLongerThanEightBytes", nineByteSize, false},
      {"ForbiddenBit", forbidden, false},
      {"NoSequenceHeader", join({Obu(2, {}), metadata}), false},
      {"ObuSizePastTheEnd", join({Obu(2, {}), {0x0A, 0x7F, 0x00}}), false},
      {"Empty", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Av1Info info;
    EXPECT_EQ(ParseAv1SequenceHeaderObus(c.obus.data(), c.obus.size(), &info), c.ok);
    if (c.ok) {
      EXPECT_EQ(info.width, 1280u);
    }
  }

  // av1C: marker and version must be 0x81; configOBUs without a sequence
  // header still give the record's own fields.
  const Bytes fixed = {0x81, 0x48, 0x5C, 0x00};  // profile 2 level 8, 10-bit mono 4:2:0
  struct RecordCase {
    const char* name;
    Bytes record;
    const char* expected;
  } records[] = {
      {"FixedBytesOnly", fixed, "0x0 profile 2 level 8 10-bit mono ss 11"},
      {"MetadataOnly", join({fixed, metadata}), "0x0 profile 2 level 8 10-bit mono ss 11"},
      {"HeaderWins", join({fixed, header}), "1280x720 profile 0 level 8 8-bit ss 11"},
      {"Version2", join({{0x82}, Bytes(fixed.begin() + 1, fixed.end())}), nullptr},
      {"NoMarker", join({{0x01}, Bytes(fixed.begin() + 1, fixed.end())}), nullptr},
      {"BadHeader", join({fixed, forbidden}), nullptr},
  };
  for (const auto& c : records) {
    SCOPED_TRACE(c.name);
    test::ExpectParsed(c.record, ParseAv1CodecConfig, Describe, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx

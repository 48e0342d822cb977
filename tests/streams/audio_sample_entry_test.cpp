#include "streams/audio_sample_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "baseclasses/mediatype.h"
#include "streams_test_util.h"

namespace flvdmx {
namespace {

using Bytes = std::vector<uint8_t>;

// Reads the format from `payload` at file offset 0; DataSize is the payload
// size unless given.
HRESULT ReadAudio(AudioSampleEntry& entry, const std::vector<uint8_t>& payload,
                  uint32_t duration = 0, std::optional<uint32_t> dataSize = std::nullopt) {
  auto reader = MakeReader(payload);
  const FlvTag tag = TagWithDataSize(dataSize.value_or(static_cast<uint32_t>(payload.size())));
  return entry.ReadFormatFromTag(reader.get(), 0, &tag, duration);
}

// MP3 tags: flags byte 0x2F, the MPEG audio frame header, filler.
std::vector<uint8_t> Mp3Payload(const std::vector<uint8_t>& header, size_t size = 32) {
  std::vector<uint8_t> p(std::max(size, header.size() + 1), 0x55);
  p[0] = 0x2F;
  std::copy(header.begin(), header.end(), p.begin() + 1);
  return p;
}

// Blocks in hex. WAVEFORMATEX: wFormatTag nChannels nSamplesPerSec
// nAvgBytesPerSec nBlockAlign wBitsPerSample cbSize. Layer III adds wID
// fdwFlags nBlockSize nFramesPerBlock nCodecDelay; Layer I/II fwHeadLayer
// dwHeadBitrate fwHeadMode fwHeadModeExt wHeadEmphasis fwHeadFlags dwPTSLow
// dwPTSHigh. (The corpus covers the common codecs against ffprobe.)
TEST(AudioSampleEntryTest, TagGivesTheWaveFormat) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
    uint32_t duration;
    const char* block;
  } cases[] = {
      {"PcmPlatform5512Mono8", {0x00, 0, 0, 0}, 0, "0100 0100 88150000 88150000 0100 0800 0000"},
      {"Nellymoser16kIgnoresRateSizeType", Bytes{0x43, 0, 0, 0}, 0,
       "0000 0100 803e0000 007d0000 0200 1000 0000"},
      // Not a config a decoder takes (object type 0): the flags' values stay.
      {"AacConfigMayFillTheExtensionArea",
       Bytes{0xAF, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 0,
       "ff00 0200 44ac0000 10b10200 0400 1000 1400 | 0102030405060708090a0b0c0d0e0f1011121314"},
      // The flags always say 44 kHz stereo; the config says what plays.
      {"AacRateAndChannelsFromTheConfig", Bytes{0xAF, 0x00, 0x13, 0x88}, 0,
       "ff00 0100 22560000 44ac0000 0200 1000 0200 | 1388"},
      {"AacSevenChannelConfigurationIsEightChannels", Bytes{0xAF, 0x00, 0x11, 0xB8}, 0,
       "ff00 0800 80bb0000 00b80b00 1000 1000 0200 | 11b8"},
      // Explicit SBR: core 24000 Hz, output 48000 Hz; PS makes mono stereo.
      {"AacExplicitSbrGivesTheOutputRate", Bytes{0xAF, 0x00, 0x2B, 0x09, 0x88, 0x00}, 0,
       "ff00 0100 80bb0000 00770100 0200 1000 0400 | 2b098800"},
      {"AacParametricStereoGivesTwoChannels", Bytes{0xAF, 0x00, 0xEB, 0x09, 0x88, 0x00}, 0,
       "ff00 0200 80bb0000 00ee0200 0400 1000 0400 | eb098800"},
      // Backward-compatible SBR signalling after the core config.
      {"AacCompatibleSbrExtension", Bytes{0xAF, 0x00, 0x13, 0x08, 0x56, 0xE5, 0x98}, 0,
       "ff00 0100 80bb0000 00770100 0200 1000 0500 | 130856e598"},
      {"AacCompatibleExtensionWithoutSbr", Bytes{0xAF, 0x00, 0x12, 0x08, 0x56, 0xE5, 0x00}, 0,
       "ff00 0100 44ac0000 88580100 0200 1000 0500 | 120856e500"},
      {"SyncwordIsNotChecked", Mp3Payload({0x00, 0x0B, 0x90, 0x64}), 0,
       "5500 0200 44ac0000 803e0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      // ID 0: the half rates, or the quarter rates of MPEG-2.5 when the
      // syncword's last bit is 0 too; both with the lower bit rates
      // (bitrate_index 9 is 80 kbit/s there, not 128).
      {"Mpeg2At22050", Mp3Payload({0xFF, 0xF3, 0x90, 0xC4}), 0,
       "5500 0100 22560000 10270000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      {"Mpeg25At11025", Mp3Payload({0xFF, 0xE3, 0x90, 0xC4}), 0,
       "5500 0100 112b0000 10270000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      {"Mpeg25At12000", Mp3Payload({0xFF, 0xE3, 0x94, 0xC4}), 0,
       "5500 0100 e02e0000 10270000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      {"Mpeg25At8000", Mp3Payload({0xFF, 0xE3, 0x98, 0xC4}), 0,
       "5500 0100 401f0000 10270000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      // Layer II at ID 0, bitrate_index 9 (80 kbit/s) and 24000 Hz: a frame
      // is 144 x 80000 / 24000 = 480 bytes.
      {"Layer2LowerRates", Mp3Payload({0xFF, 0xF5, 0x94, 0xC0}), 0,
       "5000 0100 c05d0000 10270000 e001 0000 1600 | "
       "0200 80380100 0800 0100 0000 1800 00000000 00000000"},
      {"Layer3FreeFormat", Mp3Payload({0xFF, 0xFB, 0x00, 0xC4}), 0,
       "5500 0100 44ac0000 00000000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
      {"Layer1At288kMono", Mp3Payload({0xFF, 0xFF, 0x90, 0xC0}), 0,
       "5000 0100 44ac0000 a08c0000 3801 0000 1600 | 0100 00650400 0800 0100 0000 1800 00000000 "
       "00000000"},
      {"Layer2FlagsModeExtensionEmphasis", Mp3Payload({0xFF, 0xFC, 0x91, 0x6D}), 0,
       "5000 0200 44ac0000 204e0000 0a02 0000 1600 | 0200 00710200 0200 0400 0100 1700 00000000 "
       "00000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioSampleEntry entry;
    ASSERT_EQ(ReadAudio(entry, c.payload, c.duration), S_OK);
    CMediaType mt;
    ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(FormatHex(mt), Unspaced(c.block));
    EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(entry.GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
  }
}

TEST(AudioSampleEntryTest, UnsupportedOrIncompleteTagsAreRefused) {
  for (int format : {1, 7, 8, 9, 12, 13, 14, 15}) {
    AudioSampleEntry entry;
    EXPECT_EQ(ReadAudio(entry, {static_cast<uint8_t>(format << 4 | 0x0F), 0, 0, 0}),
              VFW_E_UNSUPPORTED_AUDIO);
    EXPECT_EQ(entry.m_iSoundFormat, format);
    CMediaType mt;
    EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_AUDIO) << format;
  }
  std::vector<uint8_t> tooLong(23, 0);
  tooLong[0] = 0xAF;
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
    std::optional<uint32_t> dataSize;
    HRESULT hr;
  } cases[] = {
      {"AacRawFrame", {0xAF, 0x01, 0x21, 0x10}, std::nullopt, S_FALSE},
      {"AacConfigLongerThan20Bytes", tooLong, std::nullopt, S_FALSE},
      {"AacWithoutPacketType", {0xAF}, std::nullopt, kStreamDataShort},
      {"AacConfigCutByTheFile", {0xAF, 0x00, 0x12}, 4, S_FALSE},
      {"LayerZero", Mp3Payload({0xFF, 0xF9, 0x90, 0x64}), std::nullopt, kStreamDataShort},
      {"BitrateIndex15", Mp3Payload({0xFF, 0xFB, 0xF0, 0x64}), std::nullopt, kStreamDataShort},
      {"SamplingFrequency3", Mp3Payload({0xFF, 0xFB, 0x9C, 0x64}), std::nullopt, kStreamDataShort},
      {"ThreeMpegHeaderBytes", {0x2F, 0xFF, 0xFB, 0x90}, std::nullopt, kStreamDataShort},
  };
  for (const auto& c : cases) {
    AudioSampleEntry entry;
    EXPECT_EQ(ReadAudio(entry, c.payload, 26, c.dataSize), c.hr) << c.name;
  }
  // A bad MPEG header leaves what the flags byte gave (MP3 has wFormatTag 0).
  AudioSampleEntry entry;
  ASSERT_EQ(ReadAudio(entry, Mp3Payload({0xFF, 0xFB, 0xF0, 0x64})), kStreamDataShort);
  EXPECT_EQ(Hex(&entry.m_Format, 18), Unspaced("0000 0200 44ac0000 10b10200 0400 1000 0000"));
  auto reader = MakeReader({0xAF, 0x00, 0x12, 0x10});
  reader->FailReadsAt(0, E_FAIL);
  const FlvTag tag = TagWithDataSize(4);
  EXPECT_EQ(entry.ReadFormatFromTag(reader.get(), 0, &tag, 0), E_FAIL);
}

}  // namespace
}  // namespace flvdmx

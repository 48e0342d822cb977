#include "streams/audio_sample_entry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "baseclasses/mediatype.h"
#include "streams_test_util.h"

namespace flvdmx {
namespace {

// Reads the format from `payload` standing at file offset 0; the tag's
// DataSize is the payload size unless given.
HRESULT ReadAudio(AudioSampleEntry& entry, const std::vector<uint8_t>& payload, uint32_t duration = 0,
                  std::optional<uint32_t> dataSize = std::nullopt) {
  auto reader = MakeReader(payload);
  const FlvTag tag = TagWithDataSize(dataSize.value_or(static_cast<uint32_t>(payload.size())));
  return entry.ReadFormatFromTag(reader.get(), 0, &tag, duration);
}

struct FlagsCase {
  const char* name;
  uint8_t flags;
  GUID subtype;
  const char* block;  // WAVEFORMATEX, hex
};

class AudioFlagsTest : public testing::TestWithParam<FlagsCase> {};

TEST_P(AudioFlagsTest, FlagsByteGivesTheWaveFormat) {
  const FlagsCase& c = GetParam();
  AudioSampleEntry entry;
  ASSERT_EQ(ReadAudio(entry, {c.flags, 0, 0, 0, 0}), S_OK);
  EXPECT_EQ(entry.m_iSoundFormat, c.flags >> 4);
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
  EXPECT_EQ(mt.subtype, c.subtype);
  EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
  EXPECT_EQ(FormatHex(mt), Unspaced(c.block));
  EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
  EXPECT_EQ(mt.lSampleSize, entry.m_Format.wfx.nAvgBytesPerSec);
  EXPECT_EQ(mt.bTemporalCompression, FALSE);
  EXPECT_EQ(entry.GetMaxSampleSize(), entry.m_Format.wfx.nAvgBytesPerSec);
}

// Fields: wFormatTag nChannels nSamplesPerSec nAvgBytesPerSec nBlockAlign
// wBitsPerSample cbSize.
INSTANTIATE_TEST_SUITE_P(
    Codecs, AudioFlagsTest,
    testing::Values(
        FlagsCase{"PcmLittleEndian44kStereo16", 0x3F, MEDIASUBTYPE_PCM, "0100 0200 44ac0000 10b10200 0400 1000 0000"},
        FlagsCase{"PcmPlatform5512Mono8", 0x00, MEDIASUBTYPE_PCM, "0100 0100 88150000 88150000 0100 0800 0000"},
        FlagsCase{"PcmPlatform22kStereo8", 0x09, MEDIASUBTYPE_PCM, "0100 0200 22560000 44ac0000 0200 0800 0000"},
        FlagsCase{"Nellymoser16kIgnoresRateSizeType", 0x43, MEDIASUBTYPE_NELL,
                  "0000 0100 803e0000 007d0000 0200 1000 0000"},
        FlagsCase{"Nellymoser8kIgnoresRateSizeType", 0x5F, MEDIASUBTYPE_NELL,
                  "0000 0100 401f0000 803e0000 0200 1000 0000"},
        FlagsCase{"NellymoserTakesTheRate", 0x6B, MEDIASUBTYPE_NELL, "0000 0100 22560000 44ac0000 0200 1000 0000"},
        FlagsCase{"SpeexIs16kMono", 0xB2, MEDIASUBTYPE_spex, "0000 0100 803e0000 007d0000 0200 1000 0000"}),
    [](const testing::TestParamInfo<FlagsCase>& info) { return std::string(info.param.name); });

class UnsupportedAudioTest : public testing::TestWithParam<int> {};

TEST_P(UnsupportedAudioTest, IsRecordedAndRefusedByBothOperations) {
  AudioSampleEntry entry;
  const uint8_t flags = static_cast<uint8_t>(GetParam() << 4 | 0x0F);
  EXPECT_EQ(ReadAudio(entry, {flags, 0, 0, 0}), VFW_E_UNSUPPORTED_AUDIO);
  EXPECT_EQ(entry.m_iSoundFormat, GetParam());
  CMediaType mt;
  EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_AUDIO);
}

INSTANTIATE_TEST_SUITE_P(SoundFormats, UnsupportedAudioTest, testing::Values(1, 7, 8, 9, 12, 13, 14, 15));

TEST(AudioSampleEntryTest, AacSequenceHeaderCarriesTheAudioSpecificConfig) {
  AudioSampleEntry entry;
  ASSERT_EQ(ReadAudio(entry, {0xAF, 0x00, 0x12, 0x10}), S_OK);
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_mp4a);
  EXPECT_EQ(mt.subtype, FourccGuid(0x6134706D));
  EXPECT_EQ(FormatHex(mt), Unspaced("ff00 0200 44ac0000 10b10200 0400 1000 0200 1210"));
  EXPECT_EQ(mt.lSampleSize, 176400u);  // the decoded PCM rate
}

TEST(AudioSampleEntryTest, AacConfigMayFillTheWholeExtensionArea) {
  std::vector<uint8_t> payload = {0xAF, 0x00};
  for (uint8_t i = 1; i <= 20; ++i) payload.push_back(i);
  AudioSampleEntry entry;
  ASSERT_EQ(ReadAudio(entry, payload), S_OK);
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.cbFormat, 38u);
  EXPECT_EQ(Hex(mt.Format() + 18, 20), Hex(payload.data() + 2, 20));
}

TEST(AudioSampleEntryTest, AacTagThatIsNoSequenceHeaderIsNotEnough) {
  std::vector<uint8_t> tooLong(23, 0);
  tooLong[0] = 0xAF;
  const struct {
    std::vector<uint8_t> payload;
    HRESULT hr;
  } cases[] = {
      {{0xAF, 0x01, 0x21, 0x10}, S_FALSE},  // a raw frame
      {tooLong, S_FALSE},                   // a config longer than 20 bytes
      {{0xAF}, kStreamDataShort},           // no packet type
  };
  for (const auto& c : cases) {
    AudioSampleEntry entry;
    EXPECT_EQ(ReadAudio(entry, c.payload), c.hr) << Hex(c.payload);
  }
}

TEST(AudioSampleEntryTest, ReadFailuresArePassedThrough) {
  AudioSampleEntry entry;
  auto reader = MakeReader({0xAF, 0x00, 0x12, 0x10});
  reader->FailReadsAt(0, E_FAIL);
  const FlvTag tag = TagWithDataSize(4);
  EXPECT_EQ(entry.ReadFormatFromTag(reader.get(), 0, &tag, 0), E_FAIL);
  EXPECT_EQ(entry.m_iSoundFormat, -1);
  // A config cut off by the end of the file: the short read.
  EXPECT_EQ(ReadAudio(entry, {0xAF, 0x00, 0x12}, 0, 4), S_FALSE);
  EXPECT_EQ(entry.ReadFormatFromTag(nullptr, 0, &tag, 0), E_POINTER);
}

TEST(AudioSampleEntryTest, OnlyPositionZeroExists) {
  AudioSampleEntry entry;
  CMediaType mt;
  EXPECT_EQ(entry.GetMediaType(0, &mt), VFW_E_UNSUPPORTED_AUDIO);  // nothing read yet
  ASSERT_EQ(ReadAudio(entry, {0x3F, 0}), S_OK);
  EXPECT_EQ(entry.GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(entry.GetMediaType(0, nullptr), E_POINTER);
}

// MP3 tags: flags byte 0x2F (MP3, 44 kHz, 16-bit, stereo), the MPEG audio
// frame header, filler.
std::vector<uint8_t> Mp3Payload(const std::vector<uint8_t>& header, size_t size = 32) {
  std::vector<uint8_t> p(std::max(size, header.size() + 1), 0x55);
  p[0] = 0x2F;
  std::copy(header.begin(), header.end(), p.begin() + 1);
  return p;
}

struct MpegCase {
  const char* name;
  std::vector<uint8_t> header;
  uint32_t dataSize;
  uint32_t duration;
  const char* block;  // MPEGLAYER3WAVEFORMAT (30 bytes) or MPEG1WAVEFORMAT (40 bytes), hex
};

class MpegAudioHeaderTest : public testing::TestWithParam<MpegCase> {};

TEST_P(MpegAudioHeaderTest, HeaderGivesTheMpegFormat) {
  const MpegCase& c = GetParam();
  AudioSampleEntry entry;
  ASSERT_EQ(ReadAudio(entry, Mp3Payload(c.header, c.dataSize), c.duration), S_OK);
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  const bool layer3 = Unspaced(c.block).size() == 60;
  EXPECT_EQ(mt.subtype, FourccGuid(layer3 ? 0x55 : 0x50));
  EXPECT_EQ(mt.bTemporalCompression, TRUE);
  EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
  EXPECT_EQ(mt.lSampleSize, 1u);
  EXPECT_EQ(FormatHex(mt), Unspaced(c.block));
}

// Layer III: wfx | wID fdwFlags nBlockSize nFramesPerBlock nCodecDelay.
// Layer I/II: wfx | fwHeadLayer dwHeadBitrate fwHeadMode fwHeadModeExt
// wHeadEmphasis fwHeadFlags dwPTSLow dwPTSHigh.
INSTANTIATE_TEST_SUITE_P(
    Headers, MpegAudioHeaderTest,
    testing::Values(
        MpegCase{"Layer3At128k", {0xFF, 0xFB, 0x90, 0x64}, 32, 0,
                 "5500 0200 44ac0000 803e0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        MpegCase{"Layer3RateCorrectedByDuration", {0xFF, 0xFB, 0x90, 0x64}, 419, 26,
                 "5500 0200 44ac0000 cc3e0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        MpegCase{"SyncwordIsNotChecked", {0x00, 0x0B, 0x90, 0x64}, 32, 0,
                 "5500 0200 44ac0000 803e0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        MpegCase{"HalfRateUsesTheMpeg1BitRates", {0xFF, 0xF3, 0x90, 0x64}, 32, 0,
                 "5500 0200 22560000 803e0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        MpegCase{"Layer3FreeFormat", {0xFF, 0xFB, 0x00, 0xC4}, 32, 0,
                 "5500 0100 44ac0000 00000000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        MpegCase{"Layer2At160k", {0xFF, 0xFD, 0x90, 0x04}, 32, 0,
                 "5000 0200 44ac0000 204e0000 0a02 0000 1600 | 0200 00710200 0100 0100 0000 1c00 00000000 00000000"},
        MpegCase{"Layer1At288kMono", {0xFF, 0xFF, 0x90, 0xC0}, 32, 0,
                 "5000 0100 44ac0000 a08c0000 3801 0000 1600 | 0100 00650400 0800 0100 0000 1800 00000000 00000000"},
        MpegCase{"Layer2FreeFormat", {0xFF, 0xFD, 0x00, 0x04}, 32, 0,
                 "5000 0200 44ac0000 00000000 0100 0000 1600 | 0200 00000000 0100 0100 0000 1c00 00000000 00000000"},
        MpegCase{"Layer2FlagsModeExtensionEmphasis", {0xFF, 0xFC, 0x91, 0x6D}, 32, 0,
                 "5000 0200 44ac0000 204e0000 0a02 0000 1600 | 0200 00710200 0200 0400 0100 1700 00000000 00000000"}),
    [](const testing::TestParamInfo<MpegCase>& info) { return std::string(info.param.name); });

TEST(MpegAudioHeaderTest, InvalidOrShortHeaderLeavesTheFlagsByteFormat) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"LayerZero", Mp3Payload({0xFF, 0xF9, 0x90, 0x64})},
      {"BitrateIndex15", Mp3Payload({0xFF, 0xFB, 0xF0, 0x64})},
      {"SamplingFrequency3", Mp3Payload({0xFF, 0xFB, 0x9C, 0x64})},
      {"ThreeHeaderBytes", {0x2F, 0xFF, 0xFB, 0x90}},
  };
  for (const auto& c : cases) {
    AudioSampleEntry entry;
    EXPECT_EQ(ReadAudio(entry, c.payload, 26), kStreamDataShort) << c.name;
    // What the flags byte gave: MP3 leaves wFormatTag 0; 44 kHz 16-bit stereo.
    EXPECT_EQ(Hex(&entry.m_Format, 18), Unspaced("0000 0200 44ac0000 10b10200 0400 1000 0000")) << c.name;
  }
  AudioSampleEntry entry;
  const FlvTag tag = TagWithDataSize(8);
  EXPECT_EQ(entry.ReadMpeg1AudioHeader(nullptr, 1, &tag, 0), E_POINTER);
}

}  // namespace
}  // namespace flvdmx

// The AudioSpecificConfig parser: the fields an ADTS header takes, from the
// plain, escaped, explicit-frequency and SBR/PS-signalled forms.
#include "streams/audio_specific_config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace flvdmx {
namespace {

TEST(AudioSpecificConfig, FieldsOfEachForm) {
  const struct {
    const char* name;
    std::vector<uint8_t> config;  // object type 5 bits, frequency index 4, channels 4, ...
    bool ok;
    uint8_t profile, frequencyIndex, channels;
  } cases[] = {
      {"AacLc44100Stereo", {0x12, 0x10}, true, 1, 4, 2},
      {"AacMain48000Mono", {0x09, 0x88}, true, 0, 3, 1},
      // 15, then 24 bits of 44000 Hz: the nearest index is 44100's.
      {"ExplicitFrequency", {0x17, 0x80, 0x55, 0xF0, 0x10}, true, 1, 4, 2},
      // SBR (5) at 22050 Hz stereo, extension 44100 Hz, core AAC LC.
      {"ExplicitSbr", {0x2B, 0x92, 0x08, 0x00}, true, 1, 7, 2},
      {"EscapedObjectTypeOutsideAdts", {0xF8, 0x04, 0x40}, false, 0, 0, 0},
      {"ObjectTypeZero", {0x02, 0x10}, false, 0, 0, 0},
      {"ReservedFrequencyIndex", {0x16, 0x90}, false, 0, 0, 0},
      {"CutInTheFrequencyIndex", {0x12}, false, 0, 0, 0},
      {"Empty", {}, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioSpecificConfig config;
    config.profile = 9;
    ASSERT_EQ(ParseAudioSpecificConfig(c.config.data(), c.config.size(), &config), c.ok);
    if (!c.ok) {
      EXPECT_EQ(config.profile, 9) << "a refused config leaves the record alone";
      continue;
    }
    EXPECT_EQ(config.profile, c.profile);
    EXPECT_EQ(config.samplingFrequencyIndex, c.frequencyIndex);
    EXPECT_EQ(config.channelConfiguration, c.channels);
  }
  EXPECT_EQ(AacSamplingFrequency(4), 44100u);
  EXPECT_EQ(AacSamplingFrequency(13), 0u);
}

}  // namespace
}  // namespace flvdmx

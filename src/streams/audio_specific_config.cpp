#include "streams/audio_specific_config.h"

#include "base/bit_reader.h"

namespace flvdmx {

namespace {

constexpr uint32_t kSamplingFrequencies[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                             22050, 16000, 12000, 11025, 8000,  7350};
constexpr uint32_t kFrequencyIndexCount =
    sizeof kSamplingFrequencies / sizeof kSamplingFrequencies[0];
constexpr uint32_t kEscapedObjectType = 31;
constexpr uint32_t kExplicitFrequency = 15;
constexpr uint32_t kSbrObjectType = 5;
constexpr uint32_t kPsObjectType = 29;
constexpr uint32_t kSbrSyncExtension = 0x2B7;
constexpr uint32_t kPsSyncExtension = 0x548;

// Channels by channelConfiguration 1 to 7 (0: a program config element).
constexpr uint16_t kChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};

bool ReadObjectType(BitReader& bits, uint32_t* pType) {
  uint32_t type = 0;
  if (!bits.ReadBits(5, &type)) return false;
  if (type == kEscapedObjectType) {
    uint32_t ext = 0;
    if (!bits.ReadBits(6, &ext)) return false;
    type = 32 + ext;
  }
  *pType = type;
  return true;
}

// The frequency index; an explicit 24-bit frequency maps to the nearest.
bool ReadFrequencyIndex(BitReader& bits, uint8_t* pIndex) {
  uint32_t index = 0;
  if (!bits.ReadBits(4, &index)) return false;
  if (index < kFrequencyIndexCount) {
    *pIndex = static_cast<uint8_t>(index);
    return true;
  }
  uint32_t hz = 0;
  if (index != kExplicitFrequency || !bits.ReadBits(24, &hz)) return false;
  const auto distance = [hz](uint32_t f) { return f > hz ? f - hz : hz - f; };
  uint8_t best = 0;
  for (uint8_t i = 1; i < kFrequencyIndexCount; ++i)
    if (distance(kSamplingFrequencies[i]) < distance(kSamplingFrequencies[best])) best = i;
  *pIndex = best;
  return true;
}

// The backward-compatible SBR and PS signalling after the core config of an
// AAC object type (1 to 4). A config that ends before it (or has a program
// config element, which this does not walk) simply has none.
void ReadCompatibleExtension(BitReader& bits, uint32_t channels, uint32_t* pSbrIndex, bool* pPs) {
  uint32_t frameLengthFlag = 0, dependsOnCoreCoder = 0, coreCoderDelay = 0, extensionFlag = 0;
  uint32_t extensionFlag3 = 0, syncExtensionType = 0, sbrPresentFlag = 0;
  if (channels == 0 || !bits.ReadBits(1, &frameLengthFlag) ||
      !bits.ReadBits(1, &dependsOnCoreCoder) ||
      (dependsOnCoreCoder && !bits.ReadBits(14, &coreCoderDelay)) ||
      !bits.ReadBits(1, &extensionFlag) || (extensionFlag && !bits.ReadBits(1, &extensionFlag3)))
    return;
  uint32_t extensionType = 0;
  if (!bits.ReadBits(11, &syncExtensionType) || syncExtensionType != kSbrSyncExtension ||
      !ReadObjectType(bits, &extensionType) || extensionType != kSbrObjectType ||
      !bits.ReadBits(1, &sbrPresentFlag) || !sbrPresentFlag)
    return;
  uint8_t index = 0;
  if (!ReadFrequencyIndex(bits, &index)) return;
  *pSbrIndex = index;
  uint32_t psPresentFlag = 0;
  *pPs = bits.ReadBits(11, &syncExtensionType) && syncExtensionType == kPsSyncExtension &&
         bits.ReadBits(1, &psPresentFlag) && psPresentFlag;
}

}  // namespace

bool ParseAudioSpecificConfig(const uint8_t* pConfig, size_t cbConfig, AudioSpecificConfig* pOut) {
  BitReader bits(pConfig, cbConfig);
  uint32_t objectType = 0;
  uint8_t frequencyIndex = 0;
  uint32_t channels = 0;
  if (!ReadObjectType(bits, &objectType) || !ReadFrequencyIndex(bits, &frequencyIndex) ||
      !bits.ReadBits(4, &channels))
    return false;
  uint32_t sbrIndex = frequencyIndex;
  bool ps = objectType == kPsObjectType;
  const bool explicitSbr = objectType == kSbrObjectType || ps;
  if (explicitSbr) {
    uint8_t extensionIndex = 0;
    if (!ReadFrequencyIndex(bits, &extensionIndex) || !ReadObjectType(bits, &objectType))
      return false;
    sbrIndex = extensionIndex;
  }
  if (objectType < 1 || objectType > 4) return false;
  if (!explicitSbr) ReadCompatibleExtension(bits, channels, &sbrIndex, &ps);
  pOut->profile = static_cast<uint8_t>(objectType - 1);
  pOut->samplingFrequencyIndex = frequencyIndex;
  pOut->channelConfiguration = static_cast<uint8_t>(channels);
  pOut->outputSampleRate = AacSamplingFrequency(static_cast<uint8_t>(sbrIndex));
  pOut->outputChannels = ps ? 2 : (channels < 8 ? kChannels[channels] : 0);
  return true;
}

uint32_t AacSamplingFrequency(uint8_t index) {
  return index < kFrequencyIndexCount ? kSamplingFrequencies[index] : 0;
}

}  // namespace flvdmx

// Enhanced audio descriptions: what each kind of body does to the format,
// and which bodies are refused without touching it.
#include <gtest/gtest.h>

#include <vector>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_ex_header.h"
#include "streams/audio_sample_entry.h"
#include "support/eflv_writer.h"

namespace flvdmx {
namespace {

TEST(AudioExEntryTest, MultichannelConfigSetsChannelsOrderAndMask) {
  const struct {
    const char* name;
    std::vector<uint8_t> body;
    HRESULT hr;
    WORD channels;
    uint8_t order;
    uint32_t mask;
  } cases[] = {
      {"Native51", {1, 6, 0x00, 0x00, 0x00, 0x3F}, S_OK, 6, 1, 0x3F},
      {"CustomMap", {2, 3, 0, 1, 3}, S_OK, 3, 2, 0},
      {"UnspecifiedOrder", {0, 4}, S_OK, 4, 0, 0},
      {"NativeMaskCut", {1, 6, 0x00, 0x3F}, VFW_E_INVALID_FILE_FORMAT, 2, 0, 0},
      {"CustomMapCut", {2, 3, 0, 1}, VFW_E_INVALID_FILE_FORMAT, 2, 0, 0},
      {"NoCount", {1}, VFW_E_INVALID_FILE_FORMAT, 2, 0, 0},
      {"ZeroChannelsKeepsTheCodecs", {0, 0}, S_OK, 2, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioSampleEntry entry;
    entry.m_dwFourCc = kExFourCcOpus;
    const std::vector<uint8_t> head = OpusHeadBody(2);
    ASSERT_EQ(entry.ReadExSequenceStart(head.data(), head.size()), S_OK);
    EXPECT_EQ(entry.ReadExMultichannelConfig(c.body.data(), c.body.size()), c.hr);
    EXPECT_EQ(entry.m_Format.wfx.nChannels, c.channels);
    EXPECT_EQ(entry.m_Format.wfx.nBlockAlign, c.channels * 2);
    EXPECT_EQ(entry.m_uChannelOrder, c.order);
    EXPECT_EQ(entry.m_dwChannelMask, c.mask);
  }
}

TEST(AudioExEntryTest, BodiesThatDoNotDescribeLeaveNoMediaType) {
  const std::vector<uint8_t> badHead = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'X', 1, 2};
  const std::vector<uint8_t> longAsc(21, 0x12);
  const struct {
    const char* name;
    uint32_t fourCc;
    std::vector<uint8_t> body;
    HRESULT hr;
  } cases[] = {
      {"WrongOpusMagic", kExFourCcOpus, badHead, VFW_E_INVALID_FILE_FORMAT},
      {"AacConfigTooLong", kExFourCcAac, longAsc, VFW_E_INVALID_FILE_FORMAT},
      {"FlacWithoutStreamInfo", kExFourCcFlac, {'f', 'L', 'a', 'C'}, VFW_E_INVALID_FILE_FORMAT},
      {"UnknownFourCc", ExFourCc('a', 'b', 'c', 'd'), {1}, VFW_E_UNSUPPORTED_AUDIO},
      {"Ac3WaitsForAFrame", kExFourCcAc3, {}, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioSampleEntry entry;
    entry.m_dwFourCc = c.fourCc;
    EXPECT_EQ(entry.ReadExSequenceStart(c.body.data(), c.body.size()), c.hr);
    CMediaType mt;
    EXPECT_NE(entry.GetMediaType(0, &mt), S_OK);
    EXPECT_EQ(entry.GetMaxSampleSize(), kMinExAudioSampleSize);
  }
}

}  // namespace
}  // namespace flvdmx

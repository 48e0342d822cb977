// Enhanced video descriptions: when the scan still needs a tag for a track,
// and which records are refused.
#include <gtest/gtest.h>

#include <vector>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_ex_header.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {
namespace {

const std::vector<uint8_t> kVp8Key = {0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A,
                                      0x40, 0x01, 0xF0, 0x00, 0x00, 0x00};

TEST(VideoExEntryTest, MoreDataIsWantedUntilRecordAndSizeAreKnown) {
  const std::vector<uint8_t> vpcC = {1, 0, 0, 0, 0, 30, 0x82, 1, 1, 1, 0, 0};
  const struct {
    const char* name;
    uint32_t fourCc;
    bool record, keyFrame, interFrame;
    bool needsMore;
    HRESULT hrMediaType;
  } cases[] = {
      {"Vp8KeyFrameAlone", kExFourCcVp8, false, true, false, false, S_OK},
      {"Vp8InterFrameOnly", kExFourCcVp8, false, false, true, true, S_OK},
      {"Vp9RecordWithoutFrame", kExFourCcVp9, true, false, false, true, S_OK},
      {"AvcRecordIsEnough", kExFourCcAvc, true, false, false, false, S_OK},
      // Length-prefixed units cannot be decoded without their record.
      {"AvcWithoutRecord", kExFourCcAvc, false, true, false, true, VFW_E_UNSUPPORTED_VIDEO},
      {"UnknownNeverWaits", ExFourCc('v', 'v', 'c', '1'), false, true, false, false,
       VFW_E_UNSUPPORTED_VIDEO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoSampleEntry entry;
    entry.m_dwFourCc = c.fourCc;
    if (c.record) {
      const std::vector<uint8_t> avcC = {1, 0x64, 0, 0x0C, 0xFF, 0xE0, 0};
      const std::vector<uint8_t>& r = c.fourCc == kExFourCcAvc ? avcC : vpcC;
      (void)entry.ReadExSequenceStart(r.data(), r.size());
    }
    if (c.keyFrame) (void)entry.ReadExCodedFrame(kVp8Key.data(), kVp8Key.size(), true);
    if (c.interFrame) (void)entry.ReadExCodedFrame(kVp8Key.data(), kVp8Key.size(), false);
    EXPECT_EQ(entry.NeedsMoreExData(), c.needsMore);
    CMediaType mt;
    EXPECT_EQ(entry.GetMediaType(0, &mt), c.hrMediaType);
    EXPECT_GE(entry.GetMaxSampleSize(), kMinExVideoSampleSize);
  }
}

}  // namespace
}  // namespace flvdmx

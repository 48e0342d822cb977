// Buffer sizes of both stream kinds: the declared size, the largest tag the
// scan saw and the floor, whichever is largest, and never more than a tag can
// carry, however hostile the declaration.
#include "streams/sample_entry.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {
namespace {

struct MaxSampleCase {
  const char* what;
  uint32_t width, height;  // video: the picture; audio: width is nAvgBytesPerSec
  uint32_t cbLargestTag;   // 0: no tag seen
  uint32_t expected;
};

constexpr MaxSampleCase kVideoCases[] = {
    {"nothing read: the floor", 1, 1, 0, kVideoSampleFloor},
    {"640 x 480: two pictures", 640, 480, 0, 1843200},
    {"a tag above two pictures, with headroom", 640, 480, 2000000, 3000000},
    {"1 x 1 with a 30-byte tag: the floor", 1, 1, 30, kVideoSampleFloor},
    {"1 x 1 with a 300 KB tag", 1, 1, 300000, 450000},
    {"Sorenson 33,328 x 8,739", 33328, 8739, 45, kMaxTagPayload},
    {"65,535 x 65,535", 65535, 65535, 0, kMaxTagPayload},
    {"a tag of the largest size", 1, 1, kMaxTagPayload, kMaxTagPayload},
};

constexpr MaxSampleCase kAudioCases[] = {
    {"free format, nothing seen: the floor", 0, 0, 0, kAudioSampleFloor},
    {"PCM at 176,400 bytes/s", 176400, 0, 4000, 176400},
    {"a tag above the byte rate, with headroom", 176400, 0, 200000, 300000},
    {"a tag of the largest size", 16000, 0, kMaxTagPayload, kMaxTagPayload},
    {"a byte rate above any tag", 0xFFFFFFFF, 0, 0, kMaxTagPayload},
};

TEST(SampleEntryTest, VideoBuffersHoldTheTagsSeenAndNoMoreThanATagCarries) {
  for (const MaxSampleCase& c : kVideoCases) {
    SCOPED_TRACE(c.what);
    VideoSampleEntry entry;
    entry.m_wWidth = static_cast<uint16_t>(c.width);
    entry.m_wHeight = static_cast<uint16_t>(c.height);
    if (c.cbLargestTag != 0) entry.NoteTagSize(c.cbLargestTag / 2);
    entry.NoteTagSize(c.cbLargestTag);
    EXPECT_EQ(entry.GetMaxSampleSize(), c.expected);
  }
}

TEST(SampleEntryTest, AudioBuffersHoldTheTagsSeenAndNoMoreThanATagCarries) {
  for (const MaxSampleCase& c : kAudioCases) {
    SCOPED_TRACE(c.what);
    AudioSampleEntry entry;
    entry.m_Format.wfx.nAvgBytesPerSec = c.width;
    entry.NoteTagSize(c.cbLargestTag);
    if (c.cbLargestTag != 0) entry.NoteTagSize(c.cbLargestTag / 2);
    EXPECT_EQ(entry.GetMaxSampleSize(), c.expected);
  }
}

}  // namespace
}  // namespace flvdmx

// The enhanced FLV writer's tag bodies, byte by byte as the format lays them
// out: the filter's tests trust these files, so a wrong nibble here would
// make both sides agree on a wrong reading.
#include "support/eflv_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace flvdmx {
namespace {

struct PayloadCase {
  const char* name;
  EflvTag tag;
  EflvBytes bytes;
};

class EflvPayloadTest : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(EflvPayloadTest, LaysOutTheHeaderAsTheFormatReadsIt) {
  EXPECT_EQ(EflvPayload(GetParam().tag), GetParam().bytes);
}

EflvTag Tag(bool video, uint8_t frameType, uint8_t packetType, EflvMultitrack mode,
            std::vector<EflvTrackBody> tracks, int32_t nano = -1) {
  EflvTag t;
  t.video = video;
  t.frameType = frameType;
  t.packetType = packetType;
  t.multitrack = mode;
  t.tracks = std::move(tracks);
  t.nanoOffset = nano;
  return t;
}

const EflvMultitrack kNone = EflvMultitrack::kNone;

INSTANTIATE_TEST_SUITE_P(
    Headers, EflvPayloadTest,
    ::testing::Values(
        // IsExHeader, key frame, CodedFrames; FourCC; OBUs.
        PayloadCase{"Av1KeyFrame",
                    Tag(true, 1, kEflvCodedFrames, kNone, {{"av01", 0, 0, {0x12, 0x00}}}),
                    {0x91, 'a', 'v', '0', '1', 0x12, 0x00}},
        // avc1/hvc1 CodedFrames carry an SI24 composition offset; -1 ms here.
        PayloadCase{"HevcNegativeComposition",
                    Tag(true, 2, kEflvCodedFrames, kNone, {{"hvc1", 0, -1, {0xAB}}}),
                    {0xA1, 'h', 'v', 'c', '1', 0xFF, 0xFF, 0xFF, 0xAB}},
        // CodedFramesX: no offset on the wire.
        PayloadCase{"AvcCodedFramesX",
                    Tag(true, 2, kEflvCodedFramesX, kNone, {{"avc1", 0, 0, {0xAB}}}),
                    {0xA3, 'a', 'v', 'c', '1', 0xAB}},
        // ModEx: size - 1, a UI24 of nanoseconds, then type 0 | the real packet type.
        PayloadCase{"Vp9WithNanoOffset",
                    Tag(true, 2, kEflvCodedFrames, kNone, {{"vp09", 0, 0, {0xAB}}}, 250000),
                    {0xA7, 0x02, 0x03, 0xD0, 0x90, 0x01, 'v', 'p', '0', '9', 0xAB}},
        // Multitrack OneTrack: type byte, FourCC, track id, no size.
        PayloadCase{
            "OpusOneTrack",
            Tag(false, 1, kEflvCodedFrames, EflvMultitrack::kOneTrack, {{"Opus", 0, 0, {0xAB}}}),
            {0x95, 0x01, 'O', 'p', 'u', 's', 0x00, 0xAB}},
        // ManyTracksManyCodecs: per track FourCC, track id, UI24 size.
        PayloadCase{
            "AudioManyCodecs",
            Tag(false, 1, kEflvCodedFrames, EflvMultitrack::kManyCodecs,
                {{"Opus", 0, 0, {1, 2}}, {"mp4a", 1, 0, {3}}}),
            {0x95, 0x21, 'O', 'p', 'u', 's', 0, 0, 0, 2, 1, 2, 'm', 'p', '4', 'a', 1, 0, 0, 1, 3}},
        // ManyTracks of avc1: one FourCC; each size counts the composition offset.
        PayloadCase{
            "AvcManyTracks",
            Tag(true, 1, kEflvCodedFrames, EflvMultitrack::kManyTracks,
                {{"avc1", 0, 40, {7}}, {"avc1", 1, 0, {8, 9}}}),
            {0x96, 0x11, 'a', 'v', 'c', '1', 0, 0, 0, 4, 0, 0, 40, 7, 1, 0, 0, 5, 0, 0, 0, 8, 9}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EflvPayload, CommandFrameIsOnlyItsCommandByte) {
  EflvTag command;
  command.frameType = 5;
  command.command = 1;  // end of client-side seeking
  EXPECT_EQ(EflvPayload(command), (EflvBytes{0xD1, 0x01}));
}

TEST(DecodeTimes, SortedFromZero) {
  const struct {
    std::vector<int64_t> pts, dts;
  } cases[] = {
      {{0, 160, 80, 40, 120}, {0, 40, 80, 120, 160}},  // B-frames reorder
      {{-7, 13, 33}, {0, 20, 40}},                     // Opus pre-skip
      {{100, 140}, {100, 140}},                        // a late start stays
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeTimesMs(c.pts), c.dts);
}

}  // namespace
}  // namespace flvdmx

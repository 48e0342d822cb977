// Enhanced tag headers: where each track's payload lies for every packet type
// and multitrack form, and what a truncated or inconsistent header gives.
#include "flv/flv_ex_tag.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/eflv_writer.h"

namespace flvdmx {
namespace {

struct TrackWant {
  uint32_t fourCc;
  uint8_t trackId;
  uint8_t packetType;
  uint32_t offset, size;
  int32_t cto;
};

using Tracks = std::vector<TrackWant>;
const EflvBytes kFrame = {0xA1, 0xA2, 0xA3, 0xA4};

EflvTag Tag(bool video, uint8_t frameType, uint8_t packetType, std::vector<EflvTrackBody> tracks,
            EflvMultitrack mode = EflvMultitrack::kNone, int32_t nano = -1, size_t extra = 0) {
  EflvTag tag;
  tag.video = video, tag.frameType = frameType, tag.packetType = packetType;
  tag.tracks = std::move(tracks);
  tag.multitrack = mode, tag.nanoOffset = nano, tag.nanoExtra = extra;
  return tag;
}

// The frame type is the tag's (audio: 0); a command frame has no track.
TEST(ExTagTest, TracksOfEveryPacketTypeAndForm) {
  const auto kMany = EflvMultitrack::kManyTracks;
  const struct {
    const char* name;
    EflvTag tag;
    uint32_t nano;
    std::vector<TrackWant> tracks;
  } cases[] = {
      {"AvcCodedFramesSkipNegativeCto",
       Tag(true, 1, kExVideoCodedFrames, {{"avc1", 0, -40, kFrame}}), 0,
       Tracks{{kExFourCcAvc, 0, kExVideoCodedFrames, 8, 4, -40}}},
      {"HevcCodedFramesX", Tag(true, 2, kExVideoCodedFramesX, {{"hvc1", 0, 0, kFrame}}), 0,
       Tracks{{kExFourCcHevc, 0, kExVideoCodedFramesX, 5, 4, 0}}},
      {"Av1CodedFramesHaveNoCto", Tag(true, 1, kExVideoCodedFrames, {{"av01", 0, 9, kFrame}}), 0,
       Tracks{{kExFourCcAv1, 0, kExVideoCodedFrames, 5, 4, 0}}},
      {"SequenceStart", Tag(true, 1, kExVideoSequenceStart, {{"vp09", 0, 0, kFrame}}), 0,
       Tracks{{kExFourCcVp9, 0, kExVideoSequenceStart, 5, 4, 0}}},
      {"SequenceEndEmpty", Tag(true, 1, kExVideoSequenceEnd, {{"vp08", 0, 0, {}}}), 0,
       Tracks{{kExFourCcVp8, 0, kExVideoSequenceEnd, 5, 0, 0}}},
      {"CommandFrameHasNoTrack", Tag(true, 5, kExVideoCodedFrames, {}), 0, Tracks{}},
      {"MetadataIgnoresCommandFrameType", Tag(true, 5, kExVideoMetadata, {{"av01", 0, 0, kFrame}}),
       0, Tracks{{kExFourCcAv1, 0, kExVideoMetadata, 5, 4, 0}}},
      {"ModExOffset",
       Tag(true, 1, kExVideoCodedFramesX, {{"av01", 0, 0, kFrame}}, EflvMultitrack::kNone, 123456),
       123456, Tracks{{kExFourCcAv1, 0, kExVideoCodedFramesX, 10, 4, 0}}},
      {"ModExSixteenBitSize",
       Tag(true, 1, kExVideoCodedFramesX, {{"av01", 0, 0, kFrame}}, EflvMultitrack::kNone, 7, 300),
       7, Tracks{{kExFourCcAv1, 0, kExVideoCodedFramesX, 312, 4, 0}}},
      {"ModExOffsetCapped",
       Tag(false, 0, kExAudioCodedFrames, {{"Opus", 0, 0, kFrame}}, EflvMultitrack::kNone,
           0xFFFFFF),
       999999, Tracks{{kExFourCcOpus, 0, kExAudioCodedFrames, 10, 4, 0}}},
      {"AudioCodedFrames", Tag(false, 0, kExAudioCodedFrames, {{"fLaC", 0, 0, kFrame}}), 0,
       Tracks{{kExFourCcFlac, 0, kExAudioCodedFrames, 5, 4, 0}}},
      {"OneTrack",
       Tag(false, 0, kExAudioCodedFrames, {{"Opus", 3, 0, kFrame}}, EflvMultitrack::kOneTrack), 0,
       Tracks{{kExFourCcOpus, 3, kExAudioCodedFrames, 7, 4, 0}}},
      {"ManyTracksSharedFourCc",
       Tag(true, 1, kExVideoCodedFrames, {{"avc1", 0, 2, kFrame}, {"avc1", 1, 3, {}}}, kMany), 0,
       Tracks{{kExFourCcAvc, 0, kExVideoCodedFrames, 13, 4, 2},
              {kExFourCcAvc, 1, kExVideoCodedFrames, 24, 0, 3}}},
      {"ManyTracksManyCodecs",
       Tag(false, 0, kExAudioCodedFrames, {{"Opus", 0, 0, {1, 2}}, {"mp4a", 5, 0, {3}}},
           EflvMultitrack::kManyCodecs),
       0,
       Tracks{{kExFourCcOpus, 0, kExAudioCodedFrames, 10, 2, 0},
              {kExFourCcAac, 5, kExAudioCodedFrames, 20, 1, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const EflvBytes payload = EflvPayload(c.tag);
    ExTagHeader h;
    ASSERT_EQ(ParseExTag(payload.data(), payload.size(), static_cast<uint32_t>(payload.size()),
                         c.tag.video, &h),
              ExTagResult::kParsed);
    EXPECT_EQ(h.FrameType, c.tag.video ? c.tag.frameType : 0);
    EXPECT_EQ(h.Command, c.tag.video && c.tag.tracks.empty());
    EXPECT_EQ(h.TimestampOffsetNano, c.nano);
    ASSERT_EQ(h.TrackCount, c.tracks.size());
    for (size_t i = 0; i < c.tracks.size(); ++i) {
      const ExTrack& t = h.Tracks[i];
      const TrackWant& w = c.tracks[i];
      EXPECT_EQ(t.FourCc, w.fourCc) << i;
      EXPECT_EQ(t.TrackId, w.trackId) << i;
      EXPECT_EQ(t.PacketType, w.packetType) << i;
      EXPECT_EQ(t.Offset, w.offset) << i;
      EXPECT_EQ(t.Size, w.size) << i;
      EXPECT_EQ(t.CompositionTime, w.cto) << i;
    }
  }
}

TEST(ExTagTest, BadHeadersAreMalformedAndShortPrefixesAskForTheWholeTag) {
  EflvBytes trackTooLong = EflvPayload(
      Tag(false, 0, kExAudioCodedFrames, {{"Opus", 0, 0, kFrame}}, EflvMultitrack::kManyTracks));
  trackTooLong[9] = 9;  // the UI24 size's low byte: past the tag's end
  EflvBytes reservedForm = trackTooLong;
  reservedForm[1] = 0x31;  // multitrack type 3
  EflvBytes nested = trackTooLong;
  nested[1] = 0x15;  // the tracks' packet type is Multitrack again
  EflvBytes ctoCut = EflvVideo(1, kExVideoCodedFrames, "avc1", {});
  ctoCut.pop_back();
  const EflvBytes twoTracks = EflvPayload(Tag(
      true, 1, kExVideoCodedFramesX, {{"vp09", 0, 0, EflvBytes(100, 7)}, {"vp09", 1, 0, kFrame}},
      EflvMultitrack::kManyTracks));
  const struct {
    const char* name;
    bool video;
    EflvBytes payload;
    size_t available;
    ExTagResult want;
  } cases[] = {
      {"TrackSizePastTheTag", false, trackTooLong, trackTooLong.size(), ExTagResult::kMalformed},
      {"ReservedMultitrackType", false, reservedForm, reservedForm.size(), ExTagResult::kMalformed},
      {"NestedMultitrack", false, nested, nested.size(), ExTagResult::kMalformed},
      {"CtoCutByTheTagEnd", true, ctoCut, ctoCut.size(), ExTagResult::kMalformed},
      {"FourCcCutByTheTagEnd", true, {0x91, 'a', 'v'}, 3, ExTagResult::kMalformed},
      {"FourCcBeyondThePrefix", true, EflvVideo(1, 1, "av01", kFrame), 3,
       ExTagResult::kNeedWholeTag},
      {"SecondTrackBeyondThePrefix", true, twoTracks, 64, ExTagResult::kNeedWholeTag},
      {"SecondTrackInTheWholeTag", true, twoTracks, twoTracks.size(), ExTagResult::kParsed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExTagHeader h;
    EXPECT_EQ(ParseExTag(c.payload.data(), c.available, static_cast<uint32_t>(c.payload.size()),
                         c.video, &h),
              c.want);
  }
}

}  // namespace
}  // namespace flvdmx

// Enhanced tag headers: where each track's payload lies for every packet type
// and multitrack form, and what a truncated or inconsistent header gives.
#include "flv/flv_ex_tag.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/ex_tag_bytes.h"

namespace flvdmx {
namespace {

struct TrackWant {
  uint32_t fourCc;
  uint8_t trackId;
  uint8_t packetType;
  uint32_t offset, size;
  int32_t cto;
};

const std::vector<uint8_t> kFrame = {0xA1, 0xA2, 0xA3, 0xA4};

TEST(ExTagTest, TracksOfEveryPacketTypeAndForm) {
  const struct {
    const char* name;
    bool video;
    std::vector<uint8_t> payload;
    uint8_t frameType;
    bool command;
    uint32_t nano;
    std::vector<TrackWant> tracks;
  } cases[] = {
      {"AvcCodedFramesSkipNegativeCto",
       true,
       ExVideo(1, kExVideoCodedFrames, kExFourCcAvc, Concat(Cto(-40), kFrame)),
       1,
       false,
       0,
       {{kExFourCcAvc, 0, kExVideoCodedFrames, 8, 4, -40}}},
      {"HevcCodedFramesX",
       true,
       ExVideo(2, kExVideoCodedFramesX, kExFourCcHevc, kFrame),
       2,
       false,
       0,
       {{kExFourCcHevc, 0, kExVideoCodedFramesX, 5, 4, 0}}},
      {"Av1CodedFramesHaveNoCto",
       true,
       ExVideo(1, kExVideoCodedFrames, kExFourCcAv1, kFrame),
       1,
       false,
       0,
       {{kExFourCcAv1, 0, kExVideoCodedFrames, 5, 4, 0}}},
      {"SequenceStart",
       true,
       ExVideo(1, kExVideoSequenceStart, kExFourCcVp9, kFrame),
       1,
       false,
       0,
       {{kExFourCcVp9, 0, kExVideoSequenceStart, 5, 4, 0}}},
      {"SequenceEndEmpty",
       true,
       ExVideo(1, kExVideoSequenceEnd, kExFourCcVp8, {}),
       1,
       false,
       0,
       {{kExFourCcVp8, 0, kExVideoSequenceEnd, 5, 0, 0}}},
      {"CommandFrameHasNoTrack", true, {0xD1, 0x01}, 5, true, 0, {}},
      {"MetadataIgnoresCommandFrameType",
       true,
       ExVideo(5, kExVideoMetadata, kExFourCcAv1, kFrame),
       5,
       false,
       0,
       {{kExFourCcAv1, 0, kExVideoMetadata, 5, 4, 0}}},
      {"ModExOffset",
       true,
       WithNanoOffset(ExVideo(1, kExVideoCodedFramesX, kExFourCcAv1, kFrame), 123456),
       1,
       false,
       123456,
       {{kExFourCcAv1, 0, kExVideoCodedFramesX, 10, 4, 0}}},
      {"ModExSixteenBitSize",
       true,
       WithNanoOffset(ExVideo(1, kExVideoCodedFramesX, kExFourCcAv1, kFrame), 7, 300),
       1,
       false,
       7,
       {{kExFourCcAv1, 0, kExVideoCodedFramesX, 312, 4, 0}}},
      {"ModExOffsetCapped",
       false,
       WithNanoOffset(ExAudio(1, kExFourCcOpus, kFrame), 0xFFFFFF),
       0,
       false,
       999999,
       {{kExFourCcOpus, 0, kExAudioCodedFrames, 10, 4, 0}}},
      {"AudioCodedFrames",
       false,
       ExAudio(kExAudioCodedFrames, kExFourCcFlac, kFrame),
       0,
       false,
       0,
       {{kExFourCcFlac, 0, kExAudioCodedFrames, 5, 4, 0}}},
      {"OneTrack",
       false,
       ExMultitrack(false, 0, kExOneTrack, kExAudioCodedFrames, {{kExFourCcOpus, 3, kFrame}}),
       0,
       false,
       0,
       {{kExFourCcOpus, 3, kExAudioCodedFrames, 7, 4, 0}}},
      {"ManyTracksSharedFourCc",
       true,
       ExMultitrack(true, 1, kExManyTracks, kExVideoCodedFrames,
                    {{kExFourCcAvc, 0, Concat(Cto(2), kFrame)}, {kExFourCcAvc, 1, Cto(3)}}),
       1,
       false,
       0,
       {{kExFourCcAvc, 0, kExVideoCodedFrames, 13, 4, 2},
        {kExFourCcAvc, 1, kExVideoCodedFrames, 24, 0, 3}}},
      {"ManyTracksManyCodecs",
       false,
       ExMultitrack(false, 0, kExManyTracksManyCodecs, kExAudioCodedFrames,
                    {{kExFourCcOpus, 0, {1, 2}}, {kExFourCcAac, 5, {3}}}),
       0,
       false,
       0,
       {{kExFourCcOpus, 0, kExAudioCodedFrames, 10, 2, 0},
        {kExFourCcAac, 5, kExAudioCodedFrames, 20, 1, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExTagHeader h;
    ASSERT_EQ(ParseExTag(c.payload.data(), c.payload.size(),
                         static_cast<uint32_t>(c.payload.size()), c.video, &h),
              ExTagResult::kParsed);
    EXPECT_EQ(h.FrameType, c.frameType);
    EXPECT_EQ(h.Command, c.command);
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
  std::vector<uint8_t> trackTooLong =
      ExMultitrack(false, 0, kExManyTracks, kExAudioCodedFrames, {{kExFourCcOpus, 0, kFrame}});
  trackTooLong[9] = 9;  // the UI24 size's low byte: past the tag's end
  std::vector<uint8_t> reservedForm = trackTooLong;
  reservedForm[1] = 0x31;  // multitrack type 3
  std::vector<uint8_t> nested = trackTooLong;
  nested[1] = 0x15;  // the tracks' packet type is Multitrack again
  const std::vector<uint8_t> ctoCut = ExVideo(1, kExVideoCodedFrames, kExFourCcAvc, {0x00, 0x01});
  const std::vector<uint8_t> twoTracks =
      ExMultitrack(true, 1, kExManyTracks, kExVideoCodedFramesX,
                   {{kExFourCcVp9, 0, std::vector<uint8_t>(100, 7)}, {kExFourCcVp9, 1, kFrame}});
  const struct {
    const char* name;
    bool video;
    std::vector<uint8_t> payload;
    size_t available;
    ExTagResult want;
  } cases[] = {
      {"TrackSizePastTheTag", false, trackTooLong, trackTooLong.size(), ExTagResult::kMalformed},
      {"ReservedMultitrackType", false, reservedForm, reservedForm.size(), ExTagResult::kMalformed},
      {"NestedMultitrack", false, nested, nested.size(), ExTagResult::kMalformed},
      {"CtoCutByTheTagEnd", true, ctoCut, ctoCut.size(), ExTagResult::kMalformed},
      {"FourCcCutByTheTagEnd", true, {0x91, 'a', 'v'}, 3, ExTagResult::kMalformed},
      {"FourCcBeyondThePrefix", true, ExVideo(1, 1, kExFourCcAv1, kFrame), 3,
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

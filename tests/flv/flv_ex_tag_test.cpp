// Enhanced tag headers: where each track's payload lies for every packet type
// and multitrack form, what a truncated or inconsistent header gives, and
// that no input leads a track outside its tag.
#include "flv/flv_ex_tag.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "diag/crc32.h"
#include "flv/filter_rig.h"
#include "support/ex_tag_bytes.h"
#include "support/test_filters.h"

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

// Truncations and bit flips of a multitrack tag with ModEx: whatever parses
// keeps every track inside the tag.
TEST(ExTagTest, DamagedTagsNeverPlaceATrackOutsideTheTag) {
  const std::vector<uint8_t> base = WithNanoOffset(
      ExMultitrack(true, 1, kExManyTracksManyCodecs, kExVideoCodedFrames,
                   {{kExFourCcAvc, 0, Concat(Cto(5), kFrame)}, {kExFourCcAv1, 2, kFrame}}),
      99);
  std::mt19937 rng(14);
  for (int round = 0; round < 4000; ++round) {
    std::vector<uint8_t> p = base;
    if (round < static_cast<int>(p.size())) {
      p.resize(static_cast<size_t>(round));
    } else {
      for (int k = 0; k < 1 + round % 3; ++k)
        p[rng() % p.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    ExTagHeader h;
    const uint32_t dataSize = static_cast<uint32_t>(p.size());
    if (ParseExTag(p.data(), p.size(), dataSize, round % 2 == 0, &h) != ExTagResult::kParsed)
      continue;
    for (uint32_t i = 0; i < h.TrackCount; ++i) {
      ASSERT_LE(h.Tracks[i].Offset, dataSize);
      ASSERT_LE(h.Tracks[i].Size, dataSize - h.Tracks[i].Offset);
    }
  }
}

}  // namespace
}  // namespace flvdmx

namespace flvdmx::filtertest {
namespace {

class ExDeliveryTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

struct WantSample {
  REFERENCE_TIME start, stop;
  std::vector<uint8_t> payload;
  bool sync;
};

void ExpectSamples(FilterRig& rig, const std::string& pin, const std::vector<WantSample>& want) {
  SCOPED_TRACE(pin);
  const std::vector<SinkEvent> samples = SamplesOf(rig.Sink(pin)->Events());
  ASSERT_EQ(samples.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(samples[i].tStart, want[i].start);
    EXPECT_EQ(samples[i].tStop, want[i].stop);
    EXPECT_EQ(samples[i].lActual, static_cast<LONG>(want[i].payload.size()));
    EXPECT_EQ(samples[i].dwCrc32, Crc32(want[i].payload.data(), want[i].payload.size()));
    EXPECT_EQ(samples[i].bSyncPoint, want[i].sync);
  }
}

std::vector<uint8_t> Bytes(uint8_t seed, size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i);
  return out;
}

// Only coded frames are samples: the record, the metadata, the end of the
// sequence and command frames are not; a command frame is not even a tag of
// the stream (the sample before it lasts to the next frame). The ModEx offset
// moves a sample's start; each multitrack pin gets its own track's bytes.
TEST_F(ExDeliveryTest, SamplesAreTheTrackCodedFramesAtTheirTimes) {
  const std::vector<uint8_t> a = Bytes(1, 30), b = Bytes(2, 31), c = Bytes(3, 32), d = Bytes(4, 33);
  const std::vector<uint8_t> opus = OpusHeadBytes(2), flac = FlacHeaderBytes(48000, 2, 16);
  FlvWriter w;
  w.Video(0, ExVideo(1, kExVideoSequenceStart, kExFourCcAv1, {0x81, 0x00, 0x0C, 0x00}));
  w.Video(0, ExVideo(1, kExVideoMetadata, kExFourCcAv1, {0x02, 0x00, 0x00}));
  w.Audio(0, ExMultitrack(false, 0, kExManyTracksManyCodecs, kExAudioSequenceStart,
                          {{kExFourCcOpus, 0, opus}, {kExFourCcFlac, 1, flac}}));
  w.Video(0, ExVideo(1, kExVideoCodedFrames, kExFourCcAv1, a));
  std::vector<WantSample> audio1, audio2;
  for (uint32_t t = 0; t < 200; t += 20) {
    const std::vector<uint8_t> p1 = Bytes(static_cast<uint8_t>(t), 5);
    const std::vector<uint8_t> p2 = Bytes(static_cast<uint8_t>(t + 100), 7);
    w.Audio(t, ExMultitrack(false, 0, kExManyTracksManyCodecs, kExAudioCodedFrames,
                            {{kExFourCcOpus, 0, p1}, {kExFourCcFlac, 1, p2}}));
    const REFERENCE_TIME stop = t + 20 < 200 ? (t + 20) * kMs : t * kMs + kLastSampleDuration;
    audio1.push_back({t * kMs, stop, p1, true});
    audio2.push_back({t * kMs, stop, p2, true});
    if (t == 40) {
      w.Video(40, {0xD1, 0x00});  // command frame: start of client-side seeking
      w.Video(40, WithNanoOffset(ExVideo(2, kExVideoCodedFramesX, kExFourCcAv1, b), 500000));
    }
    if (t == 80) w.Video(80, ExVideo(2, kExVideoCodedFrames, kExFourCcAv1, c));
    if (t == 120) w.Video(120, ExVideo(1, kExVideoCodedFrames, kExFourCcAv1, d));
    if (t == 160) w.Video(160, ExVideo(1, kExVideoSequenceEnd, kExFourCcAv1, {}));
  }
  FilterRig rig(w.Bytes());
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.OutputPinNames(), (std::vector<std::string>{"Video", "Audio", "Audio 2"}));
  rig.ConnectAllSinks();
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  ExpectSamples(rig, "Video",
                {{0, 400000, a, true},
                 {405000, 800000, b, false},
                 {800000, 1200000, c, false},
                 {1200000, 1600000, d, true}});
  ExpectSamples(rig, "Audio", audio1);
  ExpectSamples(rig, "Audio 2", audio2);
}

// A seek starts video at the key frame before the target, and every audio
// track at its last frame at or before it.
TEST_F(ExDeliveryTest, SeekStartsEveryPinWhereItShould) {
  FlvWriter w;
  const std::vector<uint8_t> head = OpusHeadBytes(1);
  w.Audio(0, ExMultitrack(false, 0, kExManyTracks, kExAudioSequenceStart,
                          {{kExFourCcOpus, 0, head}, {kExFourCcOpus, 1, head}}));
  for (uint32_t t = 0; t < 4000; t += 20) {
    if (t % 40 == 0) {
      const bool key = t % 400 == 0;
      w.Video(t, ExVideo(key ? 1 : 2, kExVideoCodedFramesX, kExFourCcVp8,
                         key ? Concat(std::vector<uint8_t>{0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A, 0x40,
                                                           0x01, 0xF0, 0x00},
                                      Bytes(9, 6))
                             : Bytes(static_cast<uint8_t>(t), 9)));
    }
    // Track 1 only every other time: its pin skips the tags without it.
    std::vector<ExTrackBytes> tracks = {{kExFourCcOpus, 0, Bytes(1, 4)}};
    if (t % 40 == 20) tracks.push_back({kExFourCcOpus, 1, Bytes(2, 4)});
    w.Audio(t, ExMultitrack(false, 0, kExManyTracks, kExAudioCodedFrames, tracks));
  }
  FilterRig rig(w.Bytes());
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  ASSERT_EQ(rig.OutputPinNames(), (std::vector<std::string>{"Video", "Audio", "Audio 2"}));
  rig.ConnectAllSinks();
  ASSERT_EQ(rig.Seek(1010, 2000), S_OK);
  EXPECT_EQ(rig.RunToCompletion(), EC_COMPLETE);
  const struct {
    const char* pin;
    REFERENCE_TIME firstStart, firstStop;
    bool sync;
  } cases[] = {{"Video", (800 - 1010) * kMs, (840 - 1010) * kMs, true},
               {"Audio", (1000 - 1010) * kMs, (1020 - 1010) * kMs, true},
               {"Audio 2", (980 - 1010) * kMs, (1020 - 1010) * kMs, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pin);
    const std::vector<SinkEvent> samples = SamplesOf(rig.Sink(c.pin)->Events());
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(samples.front().tStart, c.firstStart);
    EXPECT_EQ(samples.front().tStop, c.firstStop);
    EXPECT_EQ(samples.front().bSyncPoint, c.sync);
    EXPECT_LE(samples.back().tStart, (2000 - 1010) * kMs);
  }
}

}  // namespace
}  // namespace flvdmx::filtertest

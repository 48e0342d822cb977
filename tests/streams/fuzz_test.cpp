// Seeded hostile input for the stream readers: random, cut and bit-flipped
// payloads with tag sizes that lie. Every case ends with a stated status and,
// under ASan, reads nothing outside its buffer.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "baseclasses/mediatype.h"
#include "streams/audio_sample_entry.h"
#include "streams/decoder_config.h"
#include "streams/video_sample_entry.h"
#include "streams_test_util.h"
#include "video_units.h"

namespace flvdmx {
namespace {

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : m_Rng(seed) {}
  uint32_t Below(size_t n) { return n == 0 ? 0 : static_cast<uint32_t>(m_Rng() % n); }
  std::vector<uint8_t> Random(size_t maxSize) {
    std::vector<uint8_t> out(Below(maxSize + 1));
    for (uint8_t& b : out) b = static_cast<uint8_t>(Below(256));
    return out;
  }
  // A few bit flips, then maybe a cut or some random bytes added.
  std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes) {
    for (uint32_t i = Below(4); i > 0 && !bytes.empty(); --i)
      bytes[Below(bytes.size())] ^= static_cast<uint8_t>(1u << Below(8));
    const uint32_t kind = Below(4);
    if (kind == 0) bytes.resize(Below(bytes.size() + 1));
    for (uint32_t i = kind == 1 ? Below(8) : 0; i > 0; --i)
      bytes.push_back(static_cast<uint8_t>(Below(256)));
    return bytes;
  }
  // Right, off a little, 0, or huge (rarely the largest: a 16 MiB buffer).
  uint32_t DataSizeFor(size_t actual) {
    const auto n = static_cast<uint32_t>(actual);
    const uint32_t choices[] = {0,
                                Below(8) == 0 ? 0xFFFFFFu : 0x10000 + Below(0x10000),
                                n + Below(16),
                                Below(actual + 1),
                                n,
                                n};
    return choices[Below(6)];
  }

 private:
  std::mt19937 m_Rng;
};

void Audio(const std::vector<uint8_t>& payload, Mutator& m) {
  auto reader = MakeReader(payload);
  const FlvTag tag = TagWithDataSize(m.DataSizeFor(payload.size()));
  AudioSampleEntry entry;
  const HRESULT hr =
      entry.ReadFormatFromTag(reader.get(), 0, &tag, m.Below(3) == 0 ? 0 : m.Below(1000));
  ASSERT_EQ(std::set<HRESULT>({S_OK, S_FALSE, kStreamDataShort, VFW_E_UNSUPPORTED_AUDIO}).count(hr),
            1u)
      << hr;
  CMediaType mt;
  if (entry.GetMediaType(0, &mt) == S_OK) {
    EXPECT_GE(mt.cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_LE(mt.cbFormat, sizeof(AudioFormatBlock));
  }
}

void Video(const std::vector<uint8_t>& payload, Mutator& m) {
  auto reader = MakeReader(payload);
  const FlvTag tag = TagWithDataSize(m.DataSizeFor(payload.size()), kFlvTagVideo);
  VideoSampleEntry entry;
  const HRESULT hr = entry.ReadFormatFromTag(reader.get(), 0, &tag, 0);
  const std::set<HRESULT> allowed = {S_OK, S_FALSE, kStreamDataShort, VFW_E_INVALID_FILE_FORMAT,
                                     VFW_E_UNSUPPORTED_VIDEO};
  ASSERT_EQ(allowed.count(hr), 1u) << hr;
  if (hr != S_OK) return;
  CMediaType mt;
  ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER) + static_cast<ULONG>(entry.m_ConfigBytes.Size()));
  if (entry.m_ConfigBytes.Size() != 0) {
    EXPECT_EQ(static_cast<uint32_t>(entry.m_ConfigBytes.Size()), tag.DataSize + 3);
  }
}

void ParameterSets(const std::vector<uint8_t>& record, Mutator& m) {
  // Exactly sized: ASan sees a read one byte past the record.
  std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size()]);
  std::copy(record.begin(), record.end(), exact.get());
  CBuffer units;
  const HRESULT hr =
      AppendParameterSetsFromRecord(exact.get(), record.size(), m.Below(2) == 0, &units);
  ASSERT_TRUE(hr == S_OK || hr == VFW_E_INVALID_FILE_FORMAT) << std::hex << hr;
  EXPECT_LE(static_cast<size_t>(units.Size()), record.size() + 3 * 32)
      << "three start-code bytes per unit";
}

TEST(StreamsFuzzTest, EveryReaderEndsWithAStatedStatus) {
  const struct {
    const char* name;
    std::function<void(const std::vector<uint8_t>&, Mutator&)> run;
    std::vector<std::vector<uint8_t>> seeds;
    size_t randomMax;
  } families[] = {
      {"Audio",
       Audio,
       {{0x2F, 0xFF, 0xFB, 0x90, 0x64, 0, 0, 0},
        {0x2A, 0xFF, 0xF3, 0x40, 0xC4, 0, 0},
        {0xAF, 0x00, 0x12, 0x10, 0x56, 0xE5},
        {0xAF, 0x00, 0x13, 0x08, 0x56, 0xE5, 0x98},
        {0xAF, 0x00, 0xEB, 0x09, 0x88, 0x00},
        {0x3F, 1, 2, 3},
        {0x6A, 0xAD},
        {0xB6, 0x30}},
       40},
      {"Video",
       Video,
       {SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps)),
        SequenceHeaderPayload(12, ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01)),
        BitWriter()
            .Bits(0x12, 8)
            .Bits(1, 17)
            .Bits(0, 5)
            .Bits(0, 8)
            .Bits(1, 3)
            .Bits(0x01400F0, 32)
            .Bytes(),
        {0x13, 0x30, 0xA0, 0x30, 0x78, 0x00},
        {0x14, 0x00, 0x36, 0x46, 30, 40, 30, 40},
        {0x14, 0x00, 0x37, 0x46, 0x12, 0x34, 30, 40, 30, 40},
        SequenceHeaderPayload(12,
                              HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}}))},
       64},
      {"ParameterSets",
       ParameterSets,
       {ConfigRecord({kH264Sps}, kH264Pps), ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01),
        HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}})},
       64},
  };
  uint32_t seed = 1;
  for (const auto& f : families) {
    SCOPED_TRACE(f.name);
    Mutator m(seed++);
    for (int i = 0; i < 3000; ++i) {
      const std::vector<uint8_t> input =
          m.Below(4) == 0 ? m.Random(f.randomMax) : m.Mutate(f.seeds[m.Below(f.seeds.size())]);
      f.run(input, m);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace flvdmx

// Hostile input for every reader of this folder: truncated, random and
// bit-flipped bytes from a seeded generator. Under ASan a read outside a
// buffer fails the run; here each case must also end with a stated status.
#include <gtest/gtest.h>

#include <cstring>
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

constexpr int kCases = 3000;

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : m_Rng(seed) {}

  uint32_t Below(uint32_t n) { return n == 0 ? 0 : std::uniform_int_distribution<uint32_t>(0, n - 1)(m_Rng); }
  uint8_t Byte() { return static_cast<uint8_t>(Below(256)); }

  std::vector<uint8_t> Random(size_t maxSize) {
    std::vector<uint8_t> out(Below(static_cast<uint32_t>(maxSize) + 1));
    for (uint8_t& b : out) b = Byte();
    return out;
  }

  // Flips a few bits, then maybe cuts the end off or adds random bytes.
  std::vector<uint8_t> Mutate(std::vector<uint8_t> bytes) {
    const uint32_t flips = Below(4);
    for (uint32_t i = 0; i < flips && !bytes.empty(); ++i) {
      bytes[Below(static_cast<uint32_t>(bytes.size()))] ^= static_cast<uint8_t>(1u << Below(8));
    }
    switch (Below(4)) {
      case 0:
        bytes.resize(Below(static_cast<uint32_t>(bytes.size()) + 1));
        break;
      case 1:
        for (uint32_t i = Below(8); i > 0; --i) bytes.push_back(Byte());
        break;
      default:
        break;
    }
    return bytes;
  }

  // DataSize as a tag might claim it: right, off by a little, 0, or huge.
  uint32_t DataSizeFor(size_t actual) {
    switch (Below(6)) {
      case 0:
        return 0;
      case 1:  // the largest is rare: it costs a 16 MiB buffer
        return Below(8) == 0 ? 0xFFFFFF : 0x10000 + Below(0x10000);
      case 2:
        return static_cast<uint32_t>(actual) + Below(16);
      case 3:
        return Below(static_cast<uint32_t>(actual) + 1);
      default:
        return static_cast<uint32_t>(actual);
    }
  }

 private:
  std::mt19937 m_Rng;
};

TEST(StreamsFuzzTest, BitReaderStaysInsideItsWindowAndTheFile) {
  Mutator m(1);
  for (int i = 0; i < kCases; ++i) {
    const std::vector<uint8_t> file = m.Random(40);
    auto reader = MakeReader(file);
    StreamBitReader br;
    const uint32_t start = m.Below(4);
    const uint32_t window = m.Below(32);
    ASSERT_EQ(br.Init(reader.get(), start, window), S_OK);
    for (int op = 0; op < 12; ++op) {
      HRESULT hr;
      if (m.Below(3) == 0) {
        uint8_t out[40];
        hr = br.ReadBytes(m.Below(sizeof(out) + 1), out);
      } else {
        uint32_t v = 0;
        hr = br.ReadBits(m.Below(33), &v);
      }
      ASSERT_TRUE(hr == S_OK || hr == S_FALSE || hr == kStreamDataShort) << hr;
    }
    // With the whole window in the file every read succeeds and none is
    // repeated, so what was read is a part of the window.
    if (start + window <= file.size()) {
      EXPECT_LE(reader->BytesRead(), window);
    }
  }
}

TEST(StreamsFuzzTest, AudioDescriptionEndsWithAStatedStatus) {
  Mutator m(2);
  const std::set<HRESULT> allowed = {S_OK, S_FALSE, kStreamDataShort, VFW_E_UNSUPPORTED_AUDIO};
  const std::vector<std::vector<uint8_t>> seeds = {
      {0x2F, 0xFF, 0xFB, 0x90, 0x64, 0, 0, 0}, {0x2A, 0xFF, 0xF3, 0x40, 0xC4, 0, 0}, {0xAF, 0x00, 0x12, 0x10, 0x56, 0xE5},
      {0x3F, 1, 2, 3}, {0x6A, 0xAD}, {0xB6, 0x30}};
  for (int i = 0; i < kCases; ++i) {
    const std::vector<uint8_t> payload =
        m.Below(4) == 0 ? m.Random(40) : m.Mutate(seeds[m.Below(static_cast<uint32_t>(seeds.size()))]);
    auto reader = MakeReader(payload);
    const FlvTag tag = TagWithDataSize(m.DataSizeFor(payload.size()));
    AudioSampleEntry entry;
    const HRESULT hr = entry.ReadFormatFromTag(reader.get(), 0, &tag, m.Below(3) == 0 ? 0 : m.Below(1000));
    ASSERT_EQ(allowed.count(hr), 1u) << std::hex << hr << " " << Hex(payload);
    CMediaType mt;
    const HRESULT hrType = entry.GetMediaType(0, &mt);
    if (hrType == S_OK) {
      EXPECT_GE(mt.cbFormat, sizeof(WAVEFORMATEX));
      EXPECT_LE(mt.cbFormat, sizeof(AudioFormatBlock));
    } else {
      EXPECT_EQ(hrType, VFW_E_UNSUPPORTED_AUDIO);
    }
  }
}

TEST(StreamsFuzzTest, VideoDescriptionEndsWithAStatedStatus) {
  Mutator m(3);
  const std::set<HRESULT> allowed = {S_OK, S_FALSE, kStreamDataShort, VFW_E_INVALID_FILE_FORMAT,
                                     VFW_E_UNSUPPORTED_VIDEO};
  const std::vector<std::vector<uint8_t>> seeds = {
      SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps)),
      SequenceHeaderPayload(12, ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01)),
      BitWriter().Put(8, 0x12).Put(17, 1).Put(5, 0).Put(8, 0).Put(3, 1).Put(32, 0x01400F0).Bytes(),
      {0x13, 0x30, 0xA0, 0x30, 0x78, 0x00},
      {0x14, 0x00, 0x36, 0x46, 30, 40, 30, 40}};
  for (int i = 0; i < kCases; ++i) {
    const std::vector<uint8_t> payload =
        m.Below(5) == 0 ? m.Random(64) : m.Mutate(seeds[m.Below(static_cast<uint32_t>(seeds.size()))]);
    auto reader = MakeReader(payload);
    const FlvTag tag = TagWithDataSize(m.DataSizeFor(payload.size()), kFlvTagVideo);
    VideoSampleEntry entry;
    const HRESULT hr = entry.ReadFormatFromTag(reader.get(), 0, &tag, 0);
    ASSERT_EQ(allowed.count(hr), 1u) << std::hex << hr << " " << Hex(payload);
    CMediaType mt;
    if (hr == S_OK) {
      ASSERT_EQ(entry.GetMediaType(0, &mt), S_OK);
      EXPECT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER) + static_cast<ULONG>(entry.m_ConfigBytes.Size()));
      if (entry.m_ConfigBytes.Size() != 0) {
        EXPECT_EQ(static_cast<uint32_t>(entry.m_ConfigBytes.Size()), tag.DataSize + 3);
      }
    }
  }
}

TEST(StreamsFuzzTest, ParameterSetsNeverComeFromOutsideTheRecord) {
  Mutator m(4);
  const std::vector<uint8_t> avc = ConfigRecord({kH264Sps}, kH264Pps);
  const std::vector<uint8_t> hevc = ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01);
  for (int i = 0; i < kCases; ++i) {
    const bool bHevc = m.Below(2) == 0;
    // An exact-size heap copy, so that ASan sees any read past the end.
    const std::vector<uint8_t> record = m.Below(5) == 0 ? m.Random(64) : m.Mutate(bHevc ? hevc : avc);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size() + 1]);
    std::copy(record.begin(), record.end(), exact.get());
    CBuffer units;
    const HRESULT hr = AppendParameterSetsFromRecord(exact.get(), record.size(), bHevc, &units);
    ASSERT_TRUE(hr == S_OK || hr == VFW_E_INVALID_FILE_FORMAT) << std::hex << hr;
    // Each unit's bytes come from the record, three start-code bytes each.
    EXPECT_LE(static_cast<size_t>(units.Size()), record.size() + 3 * 32);
  }
}

TEST(StreamsFuzzTest, MediaTypeEqualityReadsOnlyWhatTheBlocksHold) {
  Mutator m(5);
  const GUID formats[] = {FORMAT_VideoInfo, FORMAT_VideoInfo2, FORMAT_MPEGVideo, FORMAT_MPEG2Video,
                          FORMAT_VideoInfo144, FORMAT_WaveFormatEx};
  const DWORD compressions[] = {kFourccQGRY, kFourccNV12, BI_RGB, kFourccYUY2};
  for (int i = 0; i < kCases; ++i) {
    CMediaType types[2];
    for (CMediaType& mt : types) {
      mt.SetType(m.Below(8) == 0 ? &MEDIATYPE_Audio : &MEDIATYPE_Video);
      mt.SetSubtype(&MEDIASUBTYPE_NV12);
      mt.SetFormatType(&formats[m.Below(6)]);
      std::vector<uint8_t> block = m.Random(200);
      // Often a plausible header: the compression code and header size at
      // either bitmap header offset.
      if (m.Below(2) == 0 && block.size() >= 92) {
        const DWORD code = compressions[m.Below(4)];
        const DWORD biSize = 40 + m.Below(120);
        const size_t at = m.Below(2) == 0 ? 48 : 72;
        if (block.size() >= at + 20) {
          std::memcpy(&block[at], &biSize, 4);
          std::memcpy(&block[at + 16], &code, 4);
        }
      }
      if (!block.empty()) {
        ASSERT_TRUE(mt.SetFormat(block.data(), static_cast<ULONG>(block.size())));
      }
    }
    (void)(types[0] == types[1]);
    (void)(types[1] == types[0]);
    EXPECT_TRUE(types[0] == types[0]);
  }
}

}  // namespace
}  // namespace flvdmx

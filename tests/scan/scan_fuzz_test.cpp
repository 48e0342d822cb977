// The header scan over damaged files from a seeded generator: every case
// ends with a stated result, reads nothing outside the file (ASan) and keeps
// no reference on the reader.
#include <gtest/gtest.h>

#include <random>

#include "flv/flv_header_scan.h"
#include "scan_test_util.h"
#include "streams/video_units.h"
#include "support/flv_writer.h"

namespace flvdmx {
namespace {

// Metadata, AVC and AAC sequence headers and frames, or MP3 and screen video.
std::vector<uint8_t> SeedFile(bool avc) {
  FlvWriter w;
  w.Script(OnMetaData(12.5, avc ? 10 : 2, avc ? 7 : 3));
  if (avc) {
    w.Video(0, SequenceHeaderPayload(7, ConfigRecord({kH264Sps}, kH264Pps)));
    w.Audio(0, {0xAF, 0x00, 0x12, 0x10});
  }
  for (uint32_t t = 0; t <= 1200; t += 40) {
    w.Video(t, avc ? std::vector<uint8_t>{0x27, 0x01, 0, 0, 0, 0, 0, 0, 2, 0x41, 0x9A} : ScreenVideo());
    w.Audio(t + 3, avc ? std::vector<uint8_t>{0xAF, 0x01, 0x21, 0x10} : Mp3Audio(40));
  }
  return w.Bytes();
}

TEST(HeaderScanFuzzTest, DamagedFilesEndWithAStatedResult) {
  std::mt19937 rng(7);
  auto below = [&rng](size_t n) { return static_cast<uint32_t>(rng() % n); };
  const std::vector<uint8_t> seeds[] = {SeedFile(true), SeedFile(false)};
  for (int i = 0; i < 4000; ++i) {
    std::vector<uint8_t> file = seeds[below(2)];
    const uint32_t kind = below(4);
    if (kind == 0) {  // random bytes over a stretch
      for (uint32_t at = below(file.size()), n = below(64); n > 0 && at < file.size(); --n, ++at)
        file[at] = static_cast<uint8_t>(rng());
    } else if (kind == 1) {
      file.resize(below(file.size()));
    } else {
      for (uint32_t n = 1 + below(8); n > 0; --n) file[below(file.size())] ^= 1 << below(8);
    }
    auto reader = MakeReader(file);
    if (below(4) == 0) {  // lengths that promise more than there is, or less
      const int64_t size = static_cast<int64_t>(file.size());
      const int64_t available = below(2) == 0 ? size + below(1 << 20) : below(file.size() + 1);
      reader->SetLength(std::max(size, available), available);
    }
    CFlvHeaderScan scan;
    const HRESULT hr = scan.ReadAndParseHeader(reader.get());
    ASSERT_TRUE(hr == S_OK || hr == S_FALSE || hr == VFW_E_INVALID_FILE_FORMAT) << std::hex << hr << " case " << i;
    EXPECT_EQ(reader->RefCount(), 1u);
    EXPECT_EQ(scan.m_dwStreamsSeen & ~0x05u, 0u);
  }
}

}  // namespace
}  // namespace flvdmx

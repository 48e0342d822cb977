// The header scan over ffmpeg-made files the end-to-end tests cannot pin:
// format blocks byte for byte, decoder configurations and durations against ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "baseclasses/mediatype.h"
#include "flv/flv_header_scan.h"
#include "host/file_reader.h"
#include "scan_test_util.h"
#include "support/ffprobe.h"
#include "support/media.h"

namespace flvdmx {
namespace {

// The decoder configuration ffprobe reports for a stream kind ("v" or "a"), as hex.
std::string ProbeExtradataHex(const std::string& file, const char* kind) {
  std::istringstream lines(RunCommand(std::string("ffprobe -v error -select_streams ") + kind +
                                      " -show_entries stream=extradata -show_data -of default=nw=1 " +
                                      ShellQuote(file)));
  std::string hex;
  for (std::string line; std::getline(lines, line);)
    if (line.size() >= 10 && line[8] == ':') hex += Unspaced(line.substr(10, 40));  // "00000010: f602 2000 ..."
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

constexpr const char* kAacBlock = "ff00 0200 44ac0000 10b10200 0400 1000 0500 | 121056e500";
constexpr const char* kLongAacBlock = "ff00 0200 44ac0000 10b10200 0400 1000 0500 | 138856e500";

struct CorpusCase {
  const char* file;
  int64_t avgTimePerFrame;
  bool metadata;            // duration from metadata, else from the tag times
  const char* videoFourcc;
  const char* videoHeader;  // the VIDEOINFOHEADER (88 bytes) in hex, or null
  const char* audioBlock;
};

class CorpusScanTest : public testing::TestWithParam<CorpusCase> {};

TEST_P(CorpusScanTest, FindsTheStreamsTheirFormatsAndTheDuration) {
  const CorpusCase& c = GetParam();
  const std::string path = MediaPath(c.file);
  CFileReader* pReader = nullptr;
  ASSERT_EQ(CFileReader::Open(path.c_str(), &pReader), S_OK) << path;
  CFlvHeaderScan scan;
  const HRESULT hr = scan.ReadAndParseHeader(pReader);
  EXPECT_EQ(pReader->Release(), 0u);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(scan.m_dwStreamsSeen, kStreamVideoSeen | kStreamAudioSeen);
  EXPECT_EQ(scan.m_llAvgTimePerFrame, c.avgTimePerFrame);
  if (c.metadata) {
    // Seconds from metadata become ms, rounded up unless within 0.01 ms.
    const double seconds = std::strtod(
        RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(path)).c_str(), nullptr);
    EXPECT_EQ(scan.m_dwDuration, static_cast<uint32_t>(seconds * 1000 + 0.99));
  } else {
    int64_t largest = -1;
    for (const ProbePacket& p : ProbePackets(path)) largest = std::max(largest, p.dts_ms);
    EXPECT_EQ(scan.m_dwDuration, static_cast<uint32_t>(largest));
  }

  CMediaType mt;
  ASSERT_EQ(scan.m_VideoEntry.GetMediaType(0, &mt), S_OK);
  const uint32_t fourcc = MakeFourcc(c.videoFourcc[0], c.videoFourcc[1], c.videoFourcc[2], c.videoFourcc[3]);
  EXPECT_EQ(mt.subtype, FourccGuid(fourcc));
  ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
  VIDEOINFOHEADER vih;
  std::memcpy(&vih, mt.pbFormat, sizeof(vih));
  EXPECT_EQ(vih.AvgTimePerFrame, c.avgTimePerFrame);
  if (c.videoHeader != nullptr) { EXPECT_EQ(Hex(mt.pbFormat, 88), Unspaced(c.videoHeader)); }
  std::string box;  // the "avcC" box: its size, the type, the record as ffprobe reads it
  if (fourcc == kFourccAVC1) {
    const std::string record = ProbeExtradataHex(path, "v");
    ASSERT_FALSE(record.empty());
    char head[17];
    std::snprintf(head, sizeof(head), "%08x61766343", static_cast<unsigned>(8 + record.size() / 2));
    box = head + record;
  }
  EXPECT_EQ(Hex(mt.pbFormat + 88, mt.cbFormat - 88), box);
  ASSERT_EQ(scan.m_AudioEntry.GetMediaType(0, &mt), S_OK);
  EXPECT_EQ(Hex(mt.pbFormat, mt.cbFormat), Unspaced(c.audioBlock));
  if (scan.m_AudioEntry.IsAac()) { EXPECT_EQ(Hex(mt.pbFormat + 18, mt.cbFormat - 18), ProbeExtradataHex(path, "a")); }
}

// Frame durations leave out the first video tag and stop at the first tag
// more than 10 s after the first counted one: 10040 ms over 251 intervals.
INSTANTIATE_TEST_SUITE_P(
    Files, CorpusScanTest,
    testing::Values(
        CorpusCase{"h264_aac.flv", 400000, true, "avc1",
                   "00000000000000000000000000000000 00000000000000000000000000000000 00000000 00000000 "
                   "801a060000000000 | 5c000000 40010000 f0000000 0100 1800 61766331 00000000 00000000 00000000 "
                   "00000000 00000000",
                   kAacBlock},
        // MPEG-2 at 22.05 kHz: the header's index means 56 kbit/s in the
        // MPEG-1 table; 105 bytes in 26 ms give the real 32000.
        CorpusCase{"h263_mp3.flv", 400000, true, "S263", nullptr,
                   "5500 0100 22560000 a00f0000 0100 0000 0c00 | 0100 02000000 8004 0100 7105"},
        CorpusCase{"h264_aac_long_nometa.flv", 1000000, false, "avc1", nullptr, kLongAacBlock}),
    [](const testing::TestParamInfo<CorpusCase>& info) {
      std::string name = info.param.file;
      name = name.substr(0, name.find('.'));
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

}  // namespace
}  // namespace flvdmx

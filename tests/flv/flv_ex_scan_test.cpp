// What the scan makes of enhanced files: the media type of each codec, with
// its record carried as the format block's tail, and the colour description
// of a Metadata packet. Pins per track and unknown codecs are checked end to
// end on the enhanced corpus.
#include "flv/flv_ex_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "flv/filter_rig.h"
#include "streams/video_units.h"
#include "support/eflv_writer.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

using ExScanTest = ObjectsReleased<>;

const std::vector<uint8_t> kVp8KeyFrame = {0x10, 0x02, 0x00, 0x9D, 0x01, 0x2A, 0x40, 0x01,
                                           0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// Profile 0 key frame, BT.601, 320 x 240.
const std::vector<uint8_t> kVp9KeyFrame = {0x82, 0x49, 0x83, 0x42, 0x20, 0x13, 0xF0, 0x0E,
                                           0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
// vpcC: version 1, flags, profile 0, level 30, 8 bits 4:2:0, BT.709, no init data.
const std::vector<uint8_t> kVpcC = {1, 0, 0, 0, 0, 30, 0x82, 1, 1, 1, 0, 0};
// 48 kHz, 128 kbit/s, bsid 8, stereo; the frame's 512 bytes follow.
std::vector<uint8_t> Ac3Frame() {
  std::vector<uint8_t> f = {0x0B, 0x77, 0x00, 0x00, 0x10, 0x40, 0x40, 0x00};
  f.resize(512, 0);
  return f;
}

// 48 kHz, six blocks, bsid 16, stereo, 512 bytes.
std::vector<uint8_t> Eac3Frame() {
  std::vector<uint8_t> f = {0x0B, 0x77, 0x00, 0xFF, 0x34, 0x80, 0x00, 0x00};
  f.resize(512, 0);
  return f;
}

// A file of the given video and audio tag payloads, video first at each time,
// 40 ms apart.
std::vector<uint8_t> ExFile(const std::vector<std::vector<uint8_t>>& video,
                            const std::vector<std::vector<uint8_t>>& audio,
                            const std::vector<uint8_t>& script = {}) {
  FlvWriter w(static_cast<uint8_t>((video.empty() ? 0 : kFlvHasVideo) |
                                   (audio.empty() ? 0 : kFlvHasAudio)));
  if (!script.empty()) w.Script(script);
  for (size_t i = 0; i < std::max(video.size(), audio.size()); ++i) {
    if (i < video.size()) w.Video(static_cast<uint32_t>(40 * i), video[i]);
    if (i < audio.size()) w.Audio(static_cast<uint32_t>(40 * i), audio[i]);
  }
  return w.Bytes();
}

using Tags = std::vector<std::vector<uint8_t>>;

// `first`, then n - 1 times `rest`.
std::vector<std::vector<uint8_t>> Stream(const std::vector<uint8_t>& first,
                                         const std::vector<uint8_t>& rest, size_t n = 20) {
  std::vector<std::vector<uint8_t>> out(n, rest);
  out[0] = first;
  return out;
}

// Enhanced tags of one FourCC: `headers` (packet type, body), then 20 frames,
// the first a key frame; video frames as `frames` packets.
std::vector<EflvBytes> Track(bool video, const std::string& fourcc,
                             const std::vector<std::pair<uint8_t, EflvBytes>>& headers,
                             const EflvBytes& key, const EflvBytes& inter,
                             uint8_t frames = kExVideoCodedFrames) {
  std::vector<EflvBytes> out;
  for (const auto& [type, body] : headers)
    out.push_back(video ? EflvVideo(1, type, fourcc, body) : EflvAudio(type, fourcc, body));
  for (int i = 0; i < 20; ++i) {
    const EflvBytes& body = i == 0 ? key : inter;
    out.push_back(video ? EflvVideo(i == 0 ? 1 : 2, frames, fourcc, body)
                        : EflvAudio(kExAudioCodedFrames, fourcc, body));
  }
  return out;
}

struct PinType {
  std::string name;
  GUID subtype;
  GUID formatType;
  std::vector<uint8_t> format;
};

std::vector<PinType> PinTypes(FilterRig& rig) {
  std::vector<PinType> out;
  for (const std::string& name : rig.OutputPinNames()) {
    CMediaType mt;
    EXPECT_EQ(rig.OutputPin(name)->GetMediaType(0, &mt), S_OK) << name;
    out.push_back({name, mt.subtype, mt.formattype,
                   std::vector<uint8_t>(mt.Format(), mt.Format() + mt.FormatLength())});
  }
  return out;
}

// The one pin a file gives.
PinType OnlyPin(const std::vector<uint8_t>& bytes) {
  FilterRig rig(bytes);
  EXPECT_EQ(rig.ConnectInput(), S_OK);
  const std::vector<PinType> types = PinTypes(rig);
  EXPECT_EQ(types.size(), 1u);
  return types.empty() ? PinType{} : types[0];
}

std::vector<uint8_t> Tail(const PinType& t, size_t cbHeader) {
  return t.format.size() < cbHeader
             ? std::vector<uint8_t>()
             : std::vector<uint8_t>(t.format.begin() + cbHeader, t.format.end());
}

WAVEFORMATEX Wave(const PinType& t) {
  WAVEFORMATEX wfx{};
  if (t.format.size() >= sizeof(wfx)) std::memcpy(&wfx, t.format.data(), sizeof(wfx));
  return wfx;
}

BITMAPINFOHEADER Bitmap2(const PinType& t) {
  VIDEOINFOHEADER2 vih{};
  if (t.format.size() >= sizeof(vih)) std::memcpy(&vih, t.format.data(), sizeof(vih));
  return vih.bmiHeader;
}

TEST_F(ExScanTest, VideoFourCcsGiveTheirSubtypeSizeAndRecord) {
  const std::vector<uint8_t> frame(64, 0x55), av1C = {0x81, 0x00, 0x0C, 0x00};
  const struct {
    const char* name;
    std::vector<std::vector<uint8_t>> video;
    uint32_t fourcc;
    LONG width, height;
    std::vector<uint8_t> record;
  } cases[] = {
      {"Vp9RecordThenKeyFrame",
       Track(true, "vp09", {{kExVideoSequenceStart, kVpcC}}, kVp9KeyFrame, frame,
             kExVideoCodedFramesX),
       MakeFourcc('V', 'P', '9', '0'), 320, 240, kVpcC},
      {"Vp8KeyFrameWithoutRecord", Track(true, "vp08", {}, kVp8KeyFrame, frame),
       MakeFourcc('V', 'P', '8', '0'), 320, 240, EflvBytes()},
      {"Av1RecordKeptAsCarried", Track(true, "av01", {{kExVideoSequenceStart, av1C}}, frame, frame),
       MakeFourcc('A', 'V', '0', '1'), 1, 1, av1C},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PinType type = OnlyPin(ExFile(c.video, {}));
    EXPECT_EQ(type.name, "Video");
    EXPECT_EQ(type.subtype, FourccGuid(c.fourcc));
    EXPECT_EQ(type.formatType, FORMAT_VideoInfo2);
    const BITMAPINFOHEADER bmi = Bitmap2(type);
    EXPECT_EQ(bmi.biCompression, c.fourcc);
    EXPECT_EQ(bmi.biWidth, c.width);
    EXPECT_EQ(bmi.biHeight, c.height);
    EXPECT_EQ(Tail(type, sizeof(VIDEOINFOHEADER2)), c.record);
  }
}

// avc1 / hvc1 by FourCC, mp4a and .mp3 by FourCC: exactly the media types of
// the legacy files with the same record or frames.
TEST_F(ExScanTest, LegacyCodecsByFourCcHaveTheLegacyMediaTypes) {
  const std::vector<uint8_t> avcC = ConfigRecord({kH264Sps}, kH264Pps);
  const std::vector<uint8_t> hvcC =
      HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}});
  const std::vector<uint8_t> nal = {0, 0, 0, 2, 0x65, 0x88};
  const std::vector<uint8_t> asc = {0x12, 0x10};
  const std::vector<uint8_t> mp3 = Concat({0xFF, 0xFB, 0x90, 0x64}, std::vector<uint8_t>(413, 0));
  const struct {
    const char* name;
    Tags exVideo, exAudio, legacyVideo, legacyAudio;
  } cases[] = {
      {"Avc", Track(true, "avc1", {{kExVideoSequenceStart, avcC}}, nal, nal), Tags{},
       Concat({SequenceHeaderPayload(7, avcC)},
              Stream(Concat({0x17, 1, 0, 0, 0}, nal), Concat({0x27, 1, 0, 0, 0}, nal))),
       Tags{}},
      {"Hevc", Track(true, "hvc1", {{kExVideoSequenceStart, hvcC}}, nal, nal, kExVideoCodedFramesX),
       Tags{},
       Concat({SequenceHeaderPayload(12, hvcC)},
              Stream(Concat({0x1C, 1, 0, 0, 0}, nal), Concat({0x2C, 1, 0, 0, 0}, nal))),
       Tags{}},
      {"Aac", Tags{}, Track(false, "mp4a", {{kExAudioSequenceStart, asc}}, {1, 2, 3}, {1, 2, 3}),
       Tags{}, Concat({Concat({0xAF, 0}, asc)}, Stream({0xAF, 1, 1, 2, 3}, {0xAF, 1, 1, 2, 3}))},
      {"Mp3", Tags{}, Track(false, ".mp3", {}, mp3, mp3), Tags{},
       Stream(Concat({0x2F}, mp3), Concat({0x2F}, mp3))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PinType ex = OnlyPin(ExFile(c.exVideo, c.exAudio));
    const PinType legacy = OnlyPin(ExFile(c.legacyVideo, c.legacyAudio));
    EXPECT_EQ(ex.name, legacy.name);
    EXPECT_EQ(ex.subtype, legacy.subtype);
    EXPECT_EQ(ex.formatType, legacy.formatType);
    std::vector<uint8_t> legacyFormat = legacy.format;
    // The legacy MP3 scan measures the byte rate over two tags (these are
    // 40 ms apart, not a frame's 26 ms); by FourCC the frame header's stands.
    if (std::string(c.name) == "Mp3" && legacyFormat.size() >= 12) {
      std::copy_n(ex.format.begin() + 8, 4, legacyFormat.begin() + 8);
    }
    EXPECT_EQ(ex.format, legacyFormat);
  }
}

TEST_F(ExScanTest, AudioFourCcsGiveTheirFormatTagAndRecord) {
  const std::vector<uint8_t> opusHead = OpusHeadBody(2);
  const std::vector<uint8_t> flac = FlacHeaderBody(44100, 2, 16);
  const std::vector<uint8_t> packet = {0xFC, 0xFF, 0xFE};
  const GUID ac3 = {0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
  const GUID ddplus = {
      0xA7FB87AF, 0x2D02, 0x42FB, {0xA4, 0xD4, 0x05, 0xCD, 0x93, 0x84, 0x3B, 0xDD}};
  const struct {
    const char* name;
    std::vector<std::vector<uint8_t>> audio;
    GUID subtype;
    WORD formatTag, channels;
    DWORD rate;
    std::vector<uint8_t> record;
  } cases[] = {
      {"Opus", Track(false, "Opus", {{kExAudioSequenceStart, opusHead}}, packet, packet),
       FourccGuid(0x704F), 0x704F, 2, 48000, opusHead},
      {"OpusMultichannelConfigSetsChannels",
       Track(
           false, "Opus",
           {{kExAudioSequenceStart, opusHead}, {kExAudioMultichannelConfig, {1, 6, 0, 0, 0, 0x3F}}},
           packet, packet),
       FourccGuid(0x704F), 0x704F, 6, 48000, opusHead},
      {"Flac", Track(false, "fLaC", {{kExAudioSequenceStart, flac}}, packet, packet),
       FourccGuid(0xF1AC), 0xF1AC, 2, 44100, flac},
      {"Ac3FromItsSyncFrame", Track(false, "ac-3", {}, Ac3Frame(), Ac3Frame()), ac3, 0x2000, 2,
       48000, EflvBytes()},
      {"Eac3FromItsSyncFrame", Track(false, "ec-3", {}, Eac3Frame(), Eac3Frame()), ddplus, 0x2000,
       2, 48000, EflvBytes()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PinType type = OnlyPin(ExFile({}, c.audio));
    EXPECT_EQ(type.name, "Audio");
    EXPECT_EQ(type.subtype, c.subtype);
    EXPECT_EQ(type.formatType, FORMAT_WaveFormatEx);
    const WAVEFORMATEX wfx = Wave(type);
    EXPECT_EQ(wfx.wFormatTag, c.formatTag);
    EXPECT_EQ(wfx.nChannels, c.channels);
    EXPECT_EQ(wfx.nSamplesPerSec, c.rate);
    EXPECT_EQ(wfx.cbSize, c.record.size());
    EXPECT_EQ(Tail(type, sizeof(WAVEFORMATEX)), c.record);
  }
}

TEST_F(ExScanTest, MetadataPacketGivesTheColorInfo) {
  AmfWriter amf;
  amf.String("colorInfo").BeginObject();
  amf.Name("colorConfig").BeginObject();
  amf.Name("bitDepth").Number(10).Name("colorPrimaries").Number(9);
  amf.Name("transferCharacteristics").Number(16).Name("matrixCoefficients").Number(9);
  amf.EndObject();
  amf.Name("hdrCll").BeginObject().Name("maxFall").Number(400).Name("maxCLL").Number(1000);
  amf.EndObject();
  amf.Name("hdrMdcv").BeginObject().Name("maxLuminance").Number(1000.5);
  amf.Name("minLuminance").Number(0.05).EndObject();
  amf.EndObject();
  const std::vector<uint8_t> frame = {1, 2, 3};
  FilterRig rig(
      ExFile(Track(true, "vp08", {{kExVideoMetadata, amf.Bytes()}}, kVp8KeyFrame, frame), {}));
  ASSERT_EQ(rig.ConnectInput(), S_OK);
  const VideoColorInfo& info = rig.Dmx()->FileState().VideoEntry().m_ColorInfo;
  EXPECT_TRUE(info.bPresent);
  EXPECT_EQ(info.iBitDepth, 10);
  EXPECT_EQ(info.iColorPrimaries, 9);
  EXPECT_EQ(info.iTransferCharacteristics, 16);
  EXPECT_EQ(info.iMatrixCoefficients, 9);
  EXPECT_EQ(info.iMaxFall, 400);
  EXPECT_EQ(info.iMaxCll, 1000);
  EXPECT_DOUBLE_EQ(info.dMaxLuminance, 1000.5);
  EXPECT_DOUBLE_EQ(info.dMinLuminance, 0.05);
  // The media type carries the colour description in its control flags:
  // BT.2020 matrix (4), BT.2020 primaries (9), PQ transfer (15).
  CMediaType mt;
  ASSERT_EQ(rig.OutputPin("Video")->GetMediaType(0, &mt), S_OK);
  VIDEOINFOHEADER2 vih{};
  ASSERT_GE(mt.FormatLength(), sizeof(vih));
  std::memcpy(&vih, mt.Format(), sizeof(vih));
  EXPECT_EQ(vih.dwControlFlags, 0x81u | (4u << 15) | (9u << 22) | (15u << 27));
}

}  // namespace
}  // namespace flvdmx::filtertest

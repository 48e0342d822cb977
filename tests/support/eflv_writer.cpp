#include "support/eflv_writer.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace flvdmx {

namespace {

void PutBE(EflvBytes& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFourcc(EflvBytes& out, const std::string& fourcc) {
  for (size_t i = 0; i < 4; ++i) out.push_back(i < fourcc.size() ? fourcc[i] : ' ');
}

bool HasComposition(const EflvTag& tag, const std::string& fourcc) {
  return tag.video && tag.packetType == kEflvCodedFrames && (fourcc == "avc1" || fourcc == "hvc1");
}

void PutTrackBody(const EflvTag& tag, const EflvTrackBody& track, EflvBytes& out) {
  if (HasComposition(tag, track.fourcc))
    PutBE(out, static_cast<uint32_t>(track.compositionMs) & 0xFFFFFF, 3);
  out.insert(out.end(), track.body.begin(), track.body.end());
}

}  // namespace

EflvBytes EflvPayload(const EflvTag& tag) {
  EflvBytes out;
  const uint8_t multitrackType = tag.video ? kEflvVideoMultitrack : kEflvAudioMultitrack;
  const bool multitrack = tag.multitrack != EflvMultitrack::kNone;
  const uint8_t firstType = multitrack ? multitrackType : tag.packetType;
  const uint8_t high = tag.video ? static_cast<uint8_t>(0x80 | (tag.frameType & 7) << 4) : 0x90;
  if (tag.nanoOffset >= 0) {
    out.push_back(high | kEflvModEx);
    const size_t cbData = 3 + tag.nanoExtra;
    if (cbData >= 256) {
      out.push_back(0xFF);
      PutBE(out, cbData - 1, 2);
    } else {
      out.push_back(static_cast<uint8_t>(cbData - 1));
    }
    PutBE(out, static_cast<uint32_t>(tag.nanoOffset), 3);
    out.insert(out.end(), tag.nanoExtra, 0);
    out.push_back(firstType);  // ModEx type 0 (TimestampOffsetNano) and the next packet type
  } else {
    out.push_back(high | firstType);
  }
  if (tag.video && tag.frameType == 5 && tag.packetType != kEflvVideoMetadata) {
    out.push_back(tag.command);
    return out;
  }
  if (!multitrack) {
    if (!tag.tracks.empty()) {
      PutFourcc(out, tag.tracks[0].fourcc);
      PutTrackBody(tag, tag.tracks[0], out);
    }
    return out;
  }
  out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(tag.multitrack) << 4 | tag.packetType));
  if (tag.multitrack != EflvMultitrack::kManyCodecs && !tag.tracks.empty())
    PutFourcc(out, tag.tracks[0].fourcc);
  for (const EflvTrackBody& track : tag.tracks) {
    if (tag.multitrack == EflvMultitrack::kManyCodecs) PutFourcc(out, track.fourcc);
    out.push_back(track.trackId);
    EflvBytes body;
    PutTrackBody(tag, track, body);
    if (tag.multitrack != EflvMultitrack::kOneTrack) PutBE(out, body.size(), 3);
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

EflvBytes EflvVideo(uint8_t frameType, uint8_t packetType, const std::string& fourcc,
                    const EflvBytes& body, int32_t compositionMs) {
  EflvTag tag;
  tag.frameType = frameType;
  tag.packetType = packetType;
  tag.tracks = {{fourcc, 0, compositionMs, body}};
  return EflvPayload(tag);
}

EflvBytes EflvAudio(uint8_t packetType, const std::string& fourcc, const EflvBytes& body) {
  EflvTag tag;
  tag.video = false;
  tag.packetType = packetType;
  tag.tracks = {{fourcc, 0, 0, body}};
  return EflvPayload(tag);
}

EflvBytes OpusHeadBody(uint8_t channels) {
  EflvBytes out = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, channels};
  out.insert(out.end(), {0x38, 0x01, 0x80, 0xBB, 0, 0});  // little-endian 312, 48000
  out.insert(out.end(), {0, 0, 0});                       // gain, mapping family 0
  return out;
}

EflvBytes FlacHeaderBody(uint32_t rate, uint8_t channels, uint8_t bits) {
  EflvBytes out = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34};
  PutBE(out, 4096, 2);  // block sizes
  PutBE(out, 4096, 2);
  PutBE(out, 0, 6);  // frame sizes unknown
  // rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36).
  PutBE(out,
        uint64_t{rate} << 44 | uint64_t{channels - 1u} << 41 | uint64_t{bits - 1u} << 36 | 44100,
        8);
  out.insert(out.end(), 16, 0xAB);  // MD5
  return out;
}

EflvBytes ColorInfoMetadata(int bitDepth, int primaries, int transfer, int matrix) {
  AmfWriter amf;
  amf.String("colorInfo").BeginObject();
  amf.Name("colorConfig").BeginObject();
  amf.Name("bitDepth").Number(bitDepth).Name("colorPrimaries").Number(primaries);
  amf.Name("transferCharacteristics").Number(transfer).Name("matrixCoefficients").Number(matrix);
  amf.EndObject();
  amf.Name("hdrCll").BeginObject().Name("maxFall").Number(400).Name("maxCLL").Number(1000);
  amf.EndObject();
  amf.Name("hdrMdcv").BeginObject();
  const std::pair<const char*, double> mdcv[] = {{"redX", 0.708},         {"redY", 0.292},
                                                 {"greenX", 0.17},        {"greenY", 0.797},
                                                 {"blueX", 0.131},        {"blueY", 0.046},
                                                 {"whitePointX", 0.3127}, {"whitePointY", 0.329},
                                                 {"maxLuminance", 1000},  {"minLuminance", 0.0001}};
  for (const auto& [name, value] : mdcv) amf.Name(name).Number(value);
  amf.EndObject();
  return amf.EndObject().Bytes();
}

EflvBytes Av1VideoDescriptor(const EflvBytes& av1c) {
  EflvBytes d = {0x80, 4};  // descriptor tag and length
  for (size_t i = 0; i < 3; ++i) d.push_back(i < av1c.size() ? av1c[i] : 0);
  d.push_back(0);  // no HDR/WCG hint, no initial presentation delay
  return d;
}

EflvBytes NativeChannelConfig(uint8_t channels, uint32_t mask) {
  EflvBytes out = {1, channels};  // AudioChannelOrder Native
  PutBE(out, mask, 4);
  return out;
}

EflvBytes VpcRecord(uint8_t profile, uint8_t level, uint8_t bitDepth, uint8_t chroma,
                    bool fullRange) {
  EflvBytes out = {1, 0, 0, 0, profile, level};  // version 1, flags 0
  out.push_back(static_cast<uint8_t>(bitDepth << 4 | (chroma & 7) << 1 | (fullRange ? 1 : 0)));
  out.insert(out.end(), {1, 1, 1, 0, 0});  // BT.709 primaries, transfer, matrix; no init data
  return out;
}

std::vector<int64_t> DecodeTimesMs(const std::vector<int64_t>& ptsMs) {
  std::vector<int64_t> dts = ptsMs;
  std::sort(dts.begin(), dts.end());
  // FLV has no times before 0 (Opus's pre-skip starts Matroska's at -7 ms).
  const int64_t shift = dts.empty() ? 0 : std::min<int64_t>(dts.front(), 0);
  for (int64_t& t : dts) t -= shift;
  return dts;
}

namespace {

struct PendingTag {
  int64_t timeMs;
  int order;  // headers first, then frames, then ends; video before audio
  EflvTag tag;
};

uint8_t TrackId(const EflvStream& s, EflvMultitrack mode) {
  return mode == EflvMultitrack::kNone ? 0 : s.trackId;
}

// Tags of one kind at one time with one packet type become one tag when the
// kind is multitrack.
void AddBatched(std::vector<PendingTag>& tags, PendingTag t) {
  if (t.tag.multitrack != EflvMultitrack::kNone && t.tag.multitrack != EflvMultitrack::kOneTrack) {
    for (PendingTag& p : tags) {
      if (p.timeMs == t.timeMs && p.order == t.order && p.tag.video == t.tag.video &&
          p.tag.packetType == t.tag.packetType && p.tag.frameType == t.tag.frameType) {
        p.tag.tracks.push_back(t.tag.tracks[0]);
        return;
      }
    }
  }
  tags.push_back(std::move(t));
}

EflvTag StreamTag(const EflvStream& s, EflvMultitrack mode, uint8_t packetType, EflvBytes body) {
  EflvTag tag;
  tag.video = s.video;
  tag.packetType = packetType;
  tag.multitrack = mode;
  tag.tracks.push_back({s.fourcc, TrackId(s, mode), 0, std::move(body)});
  return tag;
}

void AddStreamTags(const EflvStream& s, const EflvLayout& layout, std::vector<PendingTag>& tags) {
  const EflvMultitrack mode = s.video ? layout.videoMode : layout.audioMode;
  const int kind = s.video ? 0 : 1;
  const int64_t startMs = s.packets.empty() ? 0 : s.packets.front().dtsMs;
  if (!s.config.empty()) {
    const bool ts = layout.mpeg2TsStart && s.fourcc == "av01";
    AddBatched(tags, {startMs, kind,
                      StreamTag(s, mode, ts ? kEflvMpeg2TsSequenceStart : kEflvSequenceStart,
                                ts ? Av1VideoDescriptor(s.config) : s.config)});
  }
  if (!s.video && layout.multichannelConfig)
    AddBatched(tags, {startMs, kind,
                      StreamTag(s, mode, kEflvAudioMultichannel, NativeChannelConfig(1, 0x4))});
  for (size_t i = 0; i < s.packets.size(); ++i) {
    const EflvPacket& p = s.packets[i];
    const int32_t cts = static_cast<int32_t>(p.ptsMs - p.dtsMs);
    const bool x = layout.codedFramesX && cts == 0 && s.video;
    EflvTag tag = StreamTag(s, mode, x ? kEflvCodedFramesX : kEflvCodedFrames, p.data);
    tag.tracks[0].compositionMs = cts;
    tag.frameType = p.key ? 1 : 2;
    tag.nanoOffset = s.video ? layout.videoNanoOffset : layout.audioNanoOffset;
    AddBatched(tags, {p.dtsMs, 2 + kind, std::move(tag)});
    if (i == 0 && s.video && layout.commandFrame) {
      EflvTag command;
      command.frameType = 5;
      tags.push_back({p.dtsMs, 2 + kind, command});
    }
  }
  if (layout.sequenceEnd && !s.packets.empty())
    AddBatched(tags, {s.packets.back().dtsMs, 4 + kind, StreamTag(s, mode, kEflvSequenceEnd, {})});
}

std::vector<uint8_t> EnhancedOnMetaData(const std::vector<EflvStream>& streams,
                                        const EflvLayout& layout) {
  AmfWriter amf;
  amf.String("onMetaData").BeginObject();
  // The end of the longest stream, its last packet lasting as long as the one before.
  int64_t endMs = layout.durationMs;
  for (const EflvStream& s : streams) {
    const size_t n = s.packets.size();
    if (n >= 2) endMs = std::max(endMs, 2 * s.packets[n - 1].dtsMs - s.packets[n - 2].dtsMs);
  }
  amf.Name("duration").Number(static_cast<double>(endMs) / 1000.0);
  if (layout.width != 0)
    amf.Name("width").Number(layout.width).Name("height").Number(layout.height);
  bool video = false, audio = false;
  for (const EflvStream& s : streams) {
    bool& seen = s.video ? video : audio;
    if (seen) continue;
    seen = true;
    uint32_t id = 0;
    for (size_t i = 0; i < 4; ++i) id = id << 8 | static_cast<uint8_t>(s.fourcc[i]);
    amf.Name(s.video ? "videocodecid" : "audiocodecid").Number(id);
  }
  amf.Name("encoder").String("flvdmx tests");
  return amf.EndObject().Bytes();
}

}  // namespace

FlvWriter WriteEnhancedFlv(const std::vector<EflvStream>& streams, const EflvLayout& layout) {
  std::vector<PendingTag> tags;
  if (layout.colorInfo) {
    EflvTag meta;
    meta.packetType = kEflvVideoMetadata;
    for (const EflvStream& s : streams)
      if (s.video && meta.tracks.empty())
        meta.tracks.push_back({s.fourcc, 0, 0, ColorInfoMetadata(10, 9, 16, 9)});
    if (!meta.tracks.empty()) tags.push_back({0, 0, meta});
  }
  for (const EflvStream& s : streams) AddStreamTags(s, layout, tags);
  std::stable_sort(tags.begin(), tags.end(), [](const PendingTag& a, const PendingTag& b) {
    return std::tie(a.timeMs, a.order) < std::tie(b.timeMs, b.order);
  });
  bool video = false, audio = false;
  for (const EflvStream& s : streams) (s.video ? video : audio) = true;
  FlvWriter w(static_cast<uint8_t>((video ? kFlvHasVideo : 0) | (audio ? kFlvHasAudio : 0)));
  if (layout.onMetaData) w.Script(EnhancedOnMetaData(streams, layout));
  for (const PendingTag& t : tags)
    w.Tag(t.tag.video ? kFlvTagVideo : kFlvTagAudio, static_cast<uint32_t>(t.timeMs),
          EflvPayload(t.tag));
  return w;
}

}  // namespace flvdmx

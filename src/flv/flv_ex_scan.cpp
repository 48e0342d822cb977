#include "flv/flv_ex_scan.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "diag/trace.h"
#include "flv/amf0.h"

namespace flvdmx {

namespace {

// The scan reads at most this much of one tag: records and the headers of
// key frames lie at the start.
constexpr uint32_t kMaxScanRead = 0x100000;
// After this many tags of a kind no new track is waited for...
constexpr uint32_t kTagsForLateTracks = 16;
// ...and after this many a description that is still open stays so.
constexpr uint32_t kMaxTagsForDescriptions = 600;

int KindIndex(uint8_t type) { return type == kFlvTagVideo ? 1 : 0; }

template <typename Entry>
bool NeedsMore(const Entry& main, const std::vector<std::unique_ptr<Entry>>& extra) {
  if (main.NeedsMoreExData()) return true;
  return std::any_of(extra.begin(), extra.end(),
                     [](const auto& p) { return p->NeedsMoreExData(); });
}

// Finds the description of a track, or makes one: the main one while it is
// not taken, else an extra one while the pin table has room.
template <typename Entry>
Entry* FindOrMake(Entry& main, std::vector<std::unique_ptr<Entry>>& extra, const ExTrack& track,
                  size_t cRoom) {
  if (!main.IsEnhanced()) {
    main.m_dwFourCc = track.FourCc;
    main.m_uTrackId = track.TrackId;
    return &main;
  }
  if (main.m_uTrackId == track.TrackId) return &main;
  for (auto& p : extra) {
    if (p->m_uTrackId == track.TrackId) return p.get();
  }
  if (cRoom == 0) return nullptr;
  std::unique_ptr<Entry> entry(new (std::nothrow) Entry());
  if (!entry) return nullptr;
  entry->m_dwFourCc = track.FourCc;
  entry->m_uTrackId = track.TrackId;
  extra.push_back(std::move(entry));
  return extra.back().get();
}

double ReadAmfNumber(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
  double d = 0;
  std::memcpy(&d, &bits, sizeof(d));
  return d;
}

int32_t ToInt(double d) {
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) return -1;
  return static_cast<int32_t>(d);
}

AmfStatus ColorInfoVisitor(uint32_t type, const uint8_t* pName, uint32_t cbName,
                           const uint8_t* pData, uint32_t cbData, void* pContext) {
  auto* info = static_cast<VideoColorInfo*>(pContext);
  const std::string name =
      pName != nullptr ? std::string(reinterpret_cast<const char*>(pName), cbName) : std::string();
  if (type == 2 && pName == nullptr && cbData == 9 && std::memcmp(pData, "colorInfo", 9) == 0)
    info->bPresent = true;
  if (type != 0 || cbData != 8) return AmfStatus::kOk;
  const double d = ReadAmfNumber(pData);
  if (name == "bitDepth") info->iBitDepth = ToInt(d);
  if (name == "colorPrimaries") info->iColorPrimaries = ToInt(d);
  if (name == "transferCharacteristics") info->iTransferCharacteristics = ToInt(d);
  if (name == "matrixCoefficients") info->iMatrixCoefficients = ToInt(d);
  if (name == "maxCLL") info->iMaxCll = ToInt(d);
  if (name == "maxFall" || name == "maxFALL") info->iMaxFall = ToInt(d);
  if (name == "maxLuminance") info->dMaxLuminance = d;
  if (name == "minLuminance") info->dMinLuminance = d;
  return AmfStatus::kOk;
}

}  // namespace

bool ParseColorInfo(const uint8_t* pAmf, uint32_t cbAmf, VideoColorInfo* info) {
  VideoColorInfo found;
  AmfCursor cursor(pAmf, cbAmf);
  (void)WalkAmfValues(cursor, ColorInfoVisitor, &found);
  if (!found.bPresent) return false;
  *info = found;
  return true;
}

HRESULT CFlvExScan::OnTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                          bool* pbEnhanced) {
  *pbEnhanced = false;
  if (tag.DataSize == 0) return S_OK;
  const int64_t llPayload = llPosition + kFlvTagPayloadOffset;
  uint8_t first = 0;
  HRESULT hr = reader.Read(llPayload, 1, &first);
  if (hr != S_OK || !IsExTagByte(tag.TagType, first)) return hr;
  *pbEnhanced = true;
  const uint32_t cbRead = std::min(tag.DataSize, kMaxScanRead);
  CBuffer body;
  uint8_t* pBody = nullptr;
  hr = body.ReserveTail(static_cast<int>(cbRead), &pBody);
  if (FAILED(hr)) return hr;
  hr = reader.Read(llPayload, cbRead, pBody);
  if (hr != S_OK) return hr;
  ++m_cTags[KindIndex(tag.TagType)];
  const bool video = tag.TagType == kFlvTagVideo;
  ExTagHeader header;
  if (ParseExTag(pBody, cbRead, tag.DataSize, video, &header) != ExTagResult::kParsed) {
    Trace("  ReadAndParseHeader: enhanced tag at %lld skipped", static_cast<long long>(llPosition));
    return S_OK;
  }
  for (uint32_t i = 0; i < header.TrackCount; ++i) {
    const ExTrack& track = header.Tracks[i];
    SampleEntry* pEntry = EntryFor(tag.TagType, track);
    if (pEntry == nullptr) continue;
    // What lies beyond the part read cannot describe anything.
    const bool bInside = track.Offset <= cbRead && track.Size <= cbRead - track.Offset;
    const uint8_t* pPayload = bInside ? pBody + track.Offset : nullptr;
    hr = video ? OnVideoTrack(*static_cast<VideoSampleEntry*>(pEntry), header, track, pPayload)
               : OnAudioTrack(reader, llPayload, *static_cast<AudioSampleEntry*>(pEntry), track,
                              pPayload);
    if (hr == E_OUTOFMEMORY) return hr;
  }
  return S_OK;
}

SampleEntry* CFlvExScan::EntryFor(uint8_t type, const ExTrack& track) {
  const size_t cExtra = m_File.ExtraVideoEntries().size() + m_File.ExtraAudioEntries().size();
  const size_t cRoom = cExtra + 2 < static_cast<size_t>(kMaxStreams) ? 1 : 0;
  SampleEntry* pEntry =
      type == kFlvTagVideo
          ? static_cast<SampleEntry*>(
                FindOrMake(m_File.VideoEntry(), m_File.ExtraVideoEntries(), track, cRoom))
          : FindOrMake(m_File.AudioEntry(), m_File.ExtraAudioEntries(), track, cRoom);
  if (pEntry == nullptr) return nullptr;
  if (m_cTracks[KindIndex(type)] < CountTracks(type)) {
    m_cTracks[KindIndex(type)] = CountTracks(type);
    Trace("  ReadAndParseHeader: %s track %u, codec '%c%c%c%c'",
          type == kFlvTagVideo ? "video" : "audio", unsigned{track.TrackId},
          static_cast<char>(track.FourCc >> 24), static_cast<char>(track.FourCc >> 16),
          static_cast<char>(track.FourCc >> 8), static_cast<char>(track.FourCc));
  }
  const bool bPlayable =
      type == kFlvTagVideo ? true : static_cast<AudioSampleEntry*>(pEntry)->IsExPlayable();
  const bool bKnownVideo = track.FourCc == kExFourCcAv1 || track.FourCc == kExFourCcVp9 ||
                           track.FourCc == kExFourCcVp8 || track.FourCc == kExFourCcAvc ||
                           track.FourCc == kExFourCcHevc;
  if (!(type == kFlvTagVideo ? bKnownVideo : bPlayable)) m_File.SetUnsupportedFourCc(track.FourCc);
  return pEntry;
}

HRESULT CFlvExScan::OnVideoTrack(VideoSampleEntry& entry, const ExTagHeader& header,
                                 const ExTrack& track, const uint8_t* pPayload) {
  if (track.FourCc != entry.m_dwFourCc) return S_OK;
  switch (track.PacketType) {
    case kExVideoSequenceStart: {
      if (pPayload == nullptr) return S_OK;
      const HRESULT hr = entry.ReadExSequenceStart(pPayload, track.Size);
      if (FAILED(hr)) Trace("  ReadAndParseHeader: video record refused: 0x%08X", unsigned(hr));
      return hr;
    }
    case kExVideoCodedFrames:
    case kExVideoCodedFramesX:
      return entry.ReadExCodedFrame(pPayload, pPayload != nullptr ? track.Size : 0,
                                    header.FrameType == kExFrameKey);
    case kExVideoMetadata:
      if (pPayload != nullptr) (void)ParseColorInfo(pPayload, track.Size, &entry.m_ColorInfo);
      return S_OK;
    default:
      return S_OK;
  }
}

HRESULT CFlvExScan::OnAudioTrack(const CFlvReader& reader, int64_t llPayload,
                                 AudioSampleEntry& entry, const ExTrack& track,
                                 const uint8_t* pPayload) {
  if (track.FourCc != entry.m_dwFourCc) return S_OK;
  switch (track.PacketType) {
    case kExAudioSequenceStart:
      return pPayload != nullptr ? entry.ReadExSequenceStart(pPayload, track.Size) : S_OK;
    case kExAudioMultichannelConfig:
      return pPayload != nullptr ? entry.ReadExMultichannelConfig(pPayload, track.Size) : S_OK;
    case kExAudioCodedFrames:
      if (track.FourCc == kExFourCcMp3)
        return entry.ReadExMp3Frame(reader.Reader(), llPayload + track.Offset, track.Size);
      return pPayload != nullptr ? entry.ReadExCodedFrame(pPayload, track.Size) : S_OK;
    default:
      return S_OK;
  }
}

bool CFlvExScan::IsMainVideoFrame(const CFlvReader& reader, int64_t llPosition,
                                  const FlvTag& tag) const {
  // The flags byte, and AVCPacketType for legacy AVC and HEVC.
  uint8_t prefix[2] = {};
  const uint32_t cbPrefix = tag.DataSize >= 2 ? 2 : 1;
  if (tag.DataSize == 0 ||
      reader.Read(llPosition + kFlvTagPayloadOffset, cbPrefix, prefix) != S_OK) {
    return true;
  }
  if (!IsExVideoHeader(prefix[0])) {
    const int codecId = prefix[0] & 0x0F;
    return cbPrefix < 2 || (codecId != kVideoCodecAvc && codecId != kVideoCodecHevc) ||
           prefix[1] == kFlvPacketCodedData;
  }
  ExTagHeader header;
  if (ReadExTag(reader, llPosition, tag, &header) != S_OK) return false;
  const ExTrack* pTrack = header.FindTrack(m_File.VideoEntry().m_uTrackId);
  return pTrack != nullptr &&
         (pTrack->PacketType == kExVideoCodedFrames || pTrack->PacketType == kExVideoCodedFramesX);
}

size_t CFlvExScan::CountTracks(uint8_t type) const {
  if (type == kFlvTagVideo)
    return (m_File.VideoEntry().IsEnhanced() ? 1 : 0) + m_File.ExtraVideoEntries().size();
  return (m_File.AudioEntry().IsEnhanced() ? 1 : 0) + m_File.ExtraAudioEntries().size();
}

bool CFlvExScan::Done(uint8_t type) const {
  const uint32_t cTags = m_cTags[KindIndex(type)];
  if (cTags >= kMaxTagsForDescriptions) return true;
  if (cTags < kTagsForLateTracks) return false;
  return type == kFlvTagVideo ? !NeedsMore(m_File.VideoEntry(), m_File.ExtraVideoEntries())
                              : !NeedsMore(m_File.AudioEntry(), m_File.ExtraAudioEntries());
}

}  // namespace flvdmx

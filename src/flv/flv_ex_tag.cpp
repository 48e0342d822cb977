#include "flv/flv_ex_tag.h"

#include <algorithm>
#include <cstring>

#include "base/byte_reader.h"

namespace flvdmx {

namespace {

// Enough for every single-track header: ModEx with a short modifier, FourCC,
// composition time.
constexpr uint32_t kFirstReadSize = 64;
constexpr uint32_t kMaxNanoOffset = 999999;

bool HasCompositionTime(const ExTagHeader& h, uint32_t fourCc) {
  return h.Video && h.PacketType == kExVideoCodedFrames &&
         (fourCc == kExFourCcAvc || fourCc == kExFourCcHevc);
}

bool IsMultitrackPacket(bool video, uint8_t packetType) {
  return video ? packetType == kExVideoMultitrack : packetType == kExAudioMultitrack;
}

// ModEx modifiers come first; each is followed by the next packet type.
bool ReadModifiers(ByteReader& r, ExTagHeader* out) {
  while (out->PacketType == kExVideoModEx) {
    uint8_t size8 = 0;
    if (!r.GetU8(&size8)) return false;
    size_t cbData = size_t{size8} + 1;
    if (cbData == 256) {
      uint16_t size16 = 0;
      if (!r.GetU16(&size16)) return false;
      cbData = size_t{size16} + 1;
    }
    const uint8_t* pData = nullptr;
    uint8_t types = 0;
    if (!r.GetSpan(&pData, cbData) || !r.GetU8(&types)) return false;
    if ((types >> 4) == kExModExTimestampOffsetNano && cbData >= 3) {
      const uint32_t nano = (uint32_t{pData[0]} << 16) | (uint32_t{pData[1]} << 8) | pData[2];
      out->TimestampOffsetNano = std::min(nano, kMaxNanoOffset);
    }
    out->PacketType = types & 0x0F;
  }
  return true;
}

// One track's header at the reader's position; the track ends at *pEnd.
ExTagResult ReadTrack(ByteReader& r, uint32_t dataSize, uint32_t fourCc, ExTagHeader* out,
                      size_t* pEnd) {
  ExTrack track;
  track.FourCc = fourCc;
  track.PacketType = out->PacketType;
  size_t end = dataSize;
  if (out->Multitrack) {
    if (out->MultitrackType == kExManyTracksManyCodecs && !r.GetU32(&track.FourCc))
      return ExTagResult::kNeedWholeTag;
    if (!r.GetU8(&track.TrackId)) return ExTagResult::kNeedWholeTag;
    if (out->MultitrackType != kExOneTrack) {
      uint32_t size = 0;
      if (!r.GetU24(&size)) return ExTagResult::kNeedWholeTag;
      if (size > dataSize - r.pos()) return ExTagResult::kMalformed;
      end = r.pos() + size;
    }
  }
  size_t pos = r.pos();
  if (HasCompositionTime(*out, track.FourCc)) {
    uint32_t cto = 0;
    if (end - pos < 3) return ExTagResult::kMalformed;
    if (!r.GetU24(&cto)) return ExTagResult::kNeedWholeTag;
    // SI24: sign-extend the 24-bit value.
    track.CompositionTime = static_cast<int32_t>(cto << 8) >> 8;
    pos += 3;
  }
  track.Offset = static_cast<uint32_t>(pos);
  track.Size = static_cast<uint32_t>(end - pos);
  if (out->TrackCount < kMaxExTracks) out->Tracks[out->TrackCount++] = track;
  *pEnd = end;
  return ExTagResult::kParsed;
}

ExTagResult ParseHeader(ByteReader& r, bool video, ExTagHeader* out, uint32_t* pFourCc) {
  uint8_t first = 0;
  if (!r.GetU8(&first)) return ExTagResult::kNeedWholeTag;
  out->Video = video;
  out->FrameType = video ? (first >> 4) & 0x07 : 0;
  out->PacketType = first & 0x0F;
  if (!ReadModifiers(r, out)) return ExTagResult::kNeedWholeTag;
  if (video && out->PacketType != kExVideoMetadata && out->FrameType == kExFrameCommand) {
    out->Command = true;
    return ExTagResult::kParsed;
  }
  if (IsMultitrackPacket(video, out->PacketType)) {
    uint8_t types = 0;
    if (!r.GetU8(&types)) return ExTagResult::kNeedWholeTag;
    out->Multitrack = true;
    out->MultitrackType = types >> 4;
    out->PacketType = types & 0x0F;
    if (out->MultitrackType > kExManyTracksManyCodecs || IsMultitrackPacket(video, out->PacketType))
      return ExTagResult::kMalformed;
    if (out->MultitrackType == kExManyTracksManyCodecs) return ExTagResult::kParsed;
  }
  return r.GetU32(pFourCc) ? ExTagResult::kParsed : ExTagResult::kNeedWholeTag;
}

}  // namespace

const ExTrack* ExTagHeader::FindTrack(uint8_t trackId) const {
  for (uint32_t i = 0; i < TrackCount; ++i) {
    if (Tracks[i].TrackId == trackId) return &Tracks[i];
  }
  return nullptr;
}

ExTagResult ParseExTag(const uint8_t* data, size_t available, uint32_t dataSize, bool video,
                       ExTagHeader* out) {
  *out = ExTagHeader();
  const size_t cb = std::min<size_t>(available, dataSize);
  const ExTagResult short_ = cb < dataSize ? ExTagResult::kNeedWholeTag : ExTagResult::kMalformed;
  ByteReader r(data, cb);
  uint32_t fourCc = 0;
  ExTagResult result = ParseHeader(r, video, out, &fourCc);
  if (result != ExTagResult::kParsed) return result == ExTagResult::kNeedWholeTag ? short_ : result;
  if (out->Command) return result;
  for (;;) {
    size_t end = 0;
    result = ReadTrack(r, dataSize, fourCc, out, &end);
    if (result != ExTagResult::kParsed)
      return result == ExTagResult::kNeedWholeTag ? short_ : result;
    if (!out->Multitrack || out->MultitrackType == kExOneTrack || end >= dataSize) return result;
    if (end > cb) return ExTagResult::kNeedWholeTag;
    if (!r.Skip(end - r.pos())) return ExTagResult::kMalformed;
  }
}

bool IsExTagByte(uint8_t tagType, uint8_t firstByte) {
  if (tagType == kFlvTagVideo) return IsExVideoHeader(firstByte);
  return tagType == kFlvTagAudio && IsExAudioHeader(firstByte);
}

HRESULT ReadExTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag, ExTagHeader* out,
                  CBuffer* pBody) {
  if (tag.DataSize == 0) return S_FALSE;
  uint8_t head[kFirstReadSize];
  const uint32_t cbHead = std::min(tag.DataSize, kFirstReadSize);
  HRESULT hr = reader.Read(llPosition + kFlvTagPayloadOffset, cbHead, head);
  if (hr != S_OK) return hr;
  if (!IsExTagByte(tag.TagType, head[0])) return S_FALSE;
  const bool video = tag.TagType == kFlvTagVideo;
  ExTagResult result = ParseExTag(head, cbHead, tag.DataSize, video, out);
  if (result == ExTagResult::kNeedWholeTag) {
    CBuffer own;
    CBuffer* pBuffer = pBody != nullptr ? pBody : &own;
    uint8_t* pWrite = nullptr;
    pBuffer->Clear();
    hr = pBuffer->ReserveTail(static_cast<int>(tag.DataSize), &pWrite);
    if (FAILED(hr)) return hr;
    hr = reader.Read(llPosition + kFlvTagPayloadOffset, tag.DataSize, pWrite);
    if (hr != S_OK) return hr;
    pBuffer->SetSize(static_cast<int>(tag.DataSize));
    result = ParseExTag(pWrite, tag.DataSize, tag.DataSize, video, out);
  }
  return result == ExTagResult::kParsed ? S_OK : S_FALSE;
}

}  // namespace flvdmx

namespace flvdmx {

namespace {

bool IsCodedFrames(const ExTagHeader& header, const ExTrack& track) {
  if (header.Video)
    return track.PacketType == kExVideoCodedFrames || track.PacketType == kExVideoCodedFramesX;
  return track.PacketType == kExAudioCodedFrames;
}

}  // namespace

bool TagCarriesTrack(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                     uint8_t trackId) {
  ExTagHeader header;
  return ReadExTag(reader, llPosition, tag, &header) == S_OK &&
         header.FindTrack(trackId) != nullptr;
}

bool IsExKeyFrame(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                  uint8_t trackId) {
  ExTagHeader header;
  if (ReadExTag(reader, llPosition, tag, &header) != S_OK || header.FrameType != kExFrameKey)
    return false;
  const ExTrack* pTrack = header.FindTrack(trackId);
  return pTrack != nullptr && IsCodedFrames(header, *pTrack);
}

HRESULT FillExSample(const CFlvReader& reader, uint8_t trackId, IMediaSample* pSample,
                     int64_t llPosition, const FlvTag& tag, BOOL* pbSync,
                     REFERENCE_TIME* pllTimeOffset) {
  ExTagHeader header;
  CBuffer body;
  HRESULT hr = ReadExTag(reader, llPosition, tag, &header, &body);
  if (hr != S_OK) return FAILED(hr) ? hr : S_FALSE;
  const ExTrack* pTrack = header.FindTrack(trackId);
  if (pTrack == nullptr || pTrack->Size == 0 || !IsCodedFrames(header, *pTrack)) return S_FALSE;

  hr = pSample->SetActualDataLength(static_cast<LONG>(pTrack->Size));
  if (FAILED(hr)) return hr;
  BYTE* pData = nullptr;
  hr = pSample->GetPointer(&pData);
  if (FAILED(hr)) return hr;
  if (body.Size() != 0) {
    // The whole payload was read for the track headers: no second read.
    if (pTrack->Size != 0) std::memcpy(pData, body.Data() + pTrack->Offset, pTrack->Size);
  } else {
    hr = reader.Read(llPosition + kFlvTagPayloadOffset + pTrack->Offset, pTrack->Size, pData);
    if (hr != S_OK) return hr;
  }
  *pbSync = !header.Video || header.FrameType == kExFrameKey;
  *pllTimeOffset = header.TimestampOffsetNano / 100;
  return S_OK;
}

}  // namespace flvdmx

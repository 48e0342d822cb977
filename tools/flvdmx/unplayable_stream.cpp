#include "unplayable_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codecs.h"
#include "filter_session.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"

namespace flvdmx::cli {

namespace {

// Bytes enough for an enhanced header: ModEx, multitrack and the FourCC.
constexpr uint32_t kHeadBytes = 64;

bool IsExHeader(bool bVideo, uint8_t flags) {
  return bVideo ? (flags & 0x80) != 0 : flags >> 4 == 9;
}

// The FourCC of an enhanced tag's first track, past any ModEx and the
// multitrack byte; false for a command frame or a header cut short.
bool ExFourcc(bool bVideo, const uint8_t* p, size_t cb, char fourcc[4]) {
  size_t pos = 1;
  uint8_t type = p[0] & 0x0F;
  if (bVideo && (p[0] >> 4 & 7) == 5 && type != 4) return false;  // command, no FourCC
  while (type == 7) {  // ModEx: size - 1 (or 16-bit), data, then the next type
    if (pos >= cb) return false;
    size_t cbData = size_t{p[pos++]} + 1;
    if (cbData == 256) {
      if (cb - pos < 2) return false;
      cbData = (size_t{p[pos]} << 8 | p[pos + 1]) + 1;
      pos += 2;
    }
    if (cbData >= cb - pos) return false;
    pos += cbData;
    type = p[pos++] & 0x0F;
  }
  if (type == (bVideo ? 6 : 5)) ++pos;  // multitrack type and packet type
  if (pos > cb || cb - pos < 4) return false;
  std::memcpy(fourcc, p + pos, 4);
  return true;
}

// "video codec 7 (H.264)" or "video FourCC 'vvc1' (unknown)" from a tag's
// first payload bytes.
std::string CodecText(bool bVideo, const uint8_t* p, size_t cb) {
  char text[96];
  const char* kind = bVideo ? "video" : "audio";
  char fourcc[4];
  if (IsExHeader(bVideo, p[0])) {
    if (!ExFourcc(bVideo, p, cb, fourcc)) {
      std::snprintf(text, sizeof text, "%s with an unreadable enhanced header", kind);
      return text;
    }
    const CodecInfo* pCodec = FindFourccCodec(bVideo, fourcc);
    std::snprintf(text, sizeof text, "%s FourCC '%.4s' (%s)", kind, fourcc,
                  pCodec != nullptr ? pCodec->pszName : "unknown");
    return text;
  }
  const int id = bVideo ? p[0] & 0x0F : p[0] >> 4;
  const CodecInfo* pCodec = FindFlvCodec(bVideo, id);
  std::snprintf(text, sizeof text, "%s codec %d (%s)", kind, id,
                pCodec != nullptr ? pCodec->pszName : "unknown");
  return text;
}

// The first bytes of the first tag of `type`; empty when there is none.
std::vector<uint8_t> FirstTagHead(CFlvReader& reader, const FlvHeader& header, uint8_t type) {
  FlvTag tag;
  int64_t llPosition = 0;
  if (FindNextTagOfType(reader, header.DataOffset, 0, 0, type, tag, llPosition) != S_OK ||
      tag.DataSize == 0) {
    return {};
  }
  std::vector<uint8_t> head(std::min(tag.DataSize, kHeadBytes));
  if (reader.Read(llPosition + kFlvTagPayloadOffset, static_cast<uint32_t>(head.size()),
                  head.data()) != S_OK) {
    return {};
  }
  return head;
}

}  // namespace

SessionError DescribeNoPlayableStream(IAsyncReader* pReader) {
  CFlvReader reader(pReader, 0, nullptr);
  FlvHeader header;
  const std::string problem = "no playable stream";
  HRESULT hr = VFW_E_UNSUPPORTED_STREAM;
  if (ReadFlvHeader(reader, header) != S_OK) return {problem, hr};

  std::string found;
  const uint8_t types[] = {kFlvTagVideo, kFlvTagAudio};
  for (const uint8_t type : types) {
    const std::vector<uint8_t> head = FirstTagHead(reader, header, type);
    if (head.empty()) continue;
    const bool bVideo = type == kFlvTagVideo;
    hr = bVideo ? VFW_E_UNSUPPORTED_VIDEO : VFW_E_UNSUPPORTED_AUDIO;
    found += (found.empty() ? "" : " and ") + CodecText(bVideo, head.data(), head.size());
  }
  if (found.empty()) return {problem + ": the file has no audio or video tags", hr};
  return {problem + ": " + found + " not supported", hr};
}

bool DescribeUnsupportedVideo(IAsyncReader* pReader, SessionError* pError) {
  CFlvReader reader(pReader, 0, nullptr);
  FlvHeader header;
  if (ReadFlvHeader(reader, header) != S_OK) return false;
  const std::vector<uint8_t> head = FirstTagHead(reader, header, kFlvTagVideo);
  if (head.empty()) return false;
  char fourcc[4];
  const CodecInfo* pCodec = nullptr;
  if (!IsExHeader(true, head[0]))
    pCodec = FindFlvCodec(true, head[0] & 0x0F);
  else if (ExFourcc(true, head.data(), head.size(), fourcc))
    pCodec = FindFourccCodec(true, fourcc);
  if (pCodec != nullptr && pCodec->pSubtype != nullptr) return false;
  *pError = {"no playable stream: " + CodecText(true, head.data(), head.size()) + " not supported",
             VFW_E_UNSUPPORTED_VIDEO};
  return true;
}

}  // namespace flvdmx::cli

#include "unplayable_stream.h"

#include <cstdio>

#include "codecs.h"
#include "filter_session.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"

namespace flvdmx::cli {

namespace {

// "video codec 7 (H.264)" from a tag's first payload byte.
std::string CodecText(bool bVideo, uint8_t flags) {
  const int id = bVideo ? flags & 0x0F : flags >> 4;
  const CodecInfo* pCodec = FindFlvCodec(bVideo, id);
  char text[96];
  std::snprintf(text, sizeof text, "%s codec %d (%s)", bVideo ? "video" : "audio", id,
                pCodec != nullptr ? pCodec->pszName : "unknown");
  return text;
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
    FlvTag tag;
    int64_t llPosition = 0;
    uint8_t flags = 0;
    if (FindNextTagOfType(reader, header.DataOffset, 0, 0, type, tag, llPosition) != S_OK ||
        tag.DataSize == 0 || reader.Read(llPosition + kFlvTagPayloadOffset, 1, &flags) != S_OK) {
      continue;
    }
    const bool bVideo = type == kFlvTagVideo;
    hr = bVideo ? VFW_E_UNSUPPORTED_VIDEO : VFW_E_UNSUPPORTED_AUDIO;
    found += (found.empty() ? "" : " and ") + CodecText(bVideo, flags);
  }
  if (found.empty()) return {problem + ": the file has no audio or video tags", hr};
  return {problem + ": " + found + " not supported", hr};
}

bool DescribeUnsupportedVideo(IAsyncReader* pReader, SessionError* pError) {
  CFlvReader reader(pReader, 0, nullptr);
  FlvHeader header;
  FlvTag tag;
  int64_t llPosition = 0;
  uint8_t flags = 0;
  if (ReadFlvHeader(reader, header) != S_OK ||
      FindNextTagOfType(reader, header.DataOffset, 0, 0, kFlvTagVideo, tag, llPosition) != S_OK ||
      tag.DataSize == 0 || reader.Read(llPosition + kFlvTagPayloadOffset, 1, &flags) != S_OK)
    return false;
  const CodecInfo* pCodec = FindFlvCodec(true, flags & 0x0F);
  if (pCodec != nullptr && pCodec->pSubtype != nullptr) return false;
  *pError = {"no playable stream: " + CodecText(true, flags) + " not supported",
             VFW_E_UNSUPPORTED_VIDEO};
  return true;
}

}  // namespace flvdmx::cli

#include "tag_listing.h"

#include <cinttypes>
#include <string>

namespace flvdmx::cli {

void TextTagSink::OnHeader(const FlvHeader& h, int64_t llFileSize) {
  std::fprintf(m_out,
               "FLV header: version %u, flags 0x%02X (%s%s%s), data offset %u, %" PRId64 " bytes\n",
               h.Version, h.Flags, (h.Flags & kFlvHasVideo) ? "video" : "",
               (h.Flags & kFlvHasVideo) && (h.Flags & kFlvHasAudio) ? " " : "",
               (h.Flags & kFlvHasAudio) ? "audio" : "", h.DataOffset, llFileSize);
  std::fprintf(m_out, "%12s  %-10s %8s %10s %10s %10s  %s\n", "position", "type", "size", "raw",
               "time", "prev size", "link");
}

void TextTagSink::OnTag(const TagLine& l) {
  char type[24];
  std::snprintf(type, sizeof(type), "%s(%u)", TagKindName(l.tag.TagType), l.tag.TagType);
  std::fprintf(m_out, "%12" PRId64 "  %-10s %8u %10u %10u %10u  %s\n", l.llPosition, type,
               l.tag.DataSize, l.dwRawTime, l.tag.TimeStamp, l.tag.PreviousTagSize,
               LinkStateName(l.link));
}

void TextTagSink::OnMetadata(const MetadataLine& m) {
  std::fprintf(m_out, "%12s  metadata: duration %s, audio codec id %s, video codec id %s\n", "",
               m.dwDuration ? (std::to_string(m.dwDuration) + " ms").c_str() : "none",
               m.lAudioCodecId >= 0 ? std::to_string(m.lAudioCodecId).c_str() : "none",
               m.lVideoCodecId >= 0 ? std::to_string(m.lVideoCodecId).c_str() : "none");
}

void TextTagSink::OnResync(const ResyncLine& r) {
  if (r.llFound < 0) {
    std::fprintf(m_out, "resync: no plausible tag header at %" PRId64 " nor after it\n", r.llAt);
  } else {
    std::fprintf(m_out, "resync: no plausible tag header at %" PRId64 "; going on at %" PRId64 "\n",
                 r.llAt, r.llFound);
  }
}

void TextTagSink::OnSummary(const WalkSummary& s) {
  std::fprintf(m_out,
               "summary: %" PRIu64 " tags (%" PRIu64 " video, %" PRIu64 " audio, %" PRIu64
               " script, %" PRIu64 " other)",
               s.cTags, s.cVideo, s.cAudio, s.cScript, s.cOther);
  if (s.bAnyTime) std::fprintf(m_out, ", time %u ms to %u ms", s.dwFirstTime, s.dwLastTime);
  std::fprintf(m_out,
               ", %" PRIu64 " broken links, %" PRIu64 " zero links, %" PRIu64 " resyncs, %" PRId64
               " bytes not covered by tags, final back-link %s\n",
               s.cBrokenLinks, s.cZeroLinks, s.cResyncs, s.llUncovered,
               s.bFinalLinkPresent ? LinkStateName(s.finalLink) : "missing");
}

void JsonTagSink::OnHeader(const FlvHeader& h, int64_t llFileSize) {
  Emit({{"type", "header"},
        {"version", h.Version},
        {"flags", h.Flags},
        {"data_offset", h.DataOffset},
        {"file_size", llFileSize}});
}

void JsonTagSink::OnTag(const TagLine& l) {
  std::fprintf(m_out,
               "{\"type\":\"tag\",\"position\":%" PRId64
               ",\"tag_type\":%u,\"kind\":\"%s\",\"data_size\":%u,\"raw_timestamp\":%u,"
               "\"timestamp\":%u,\"prev_tag_size\":%u,\"link\":\"%s\"}\n",
               l.llPosition, l.tag.TagType, TagKindName(l.tag.TagType), l.tag.DataSize, l.dwRawTime,
               l.tag.TimeStamp, l.tag.PreviousTagSize, LinkStateName(l.link));
}

void JsonTagSink::OnMetadata(const MetadataLine& m) {
  Json j = {{"type", "metadata"}, {"position", m.llPosition}};
  j["duration_ms"] = m.dwDuration ? Json(m.dwDuration) : Json(nullptr);
  j["audio_codec_id"] = m.lAudioCodecId >= 0 ? Json(m.lAudioCodecId) : Json(nullptr);
  j["video_codec_id"] = m.lVideoCodecId >= 0 ? Json(m.lVideoCodecId) : Json(nullptr);
  Emit(j);
}

void JsonTagSink::OnResync(const ResyncLine& r) {
  Emit({{"type", "resync"},
        {"at", r.llAt},
        {"found", r.llFound >= 0 ? Json(r.llFound) : Json(nullptr)}});
}

void JsonTagSink::OnSummary(const WalkSummary& s) {
  Json j = {{"type", "summary"}, {"tags", s.cTags},     {"video", s.cVideo},
            {"audio", s.cAudio}, {"script", s.cScript}, {"other", s.cOther}};
  j["first_time"] = s.bAnyTime ? Json(s.dwFirstTime) : Json(nullptr);
  j["last_time"] = s.bAnyTime ? Json(s.dwLastTime) : Json(nullptr);
  j["broken_links"] = s.cBrokenLinks;
  j["zero_links"] = s.cZeroLinks;
  j["resyncs"] = s.cResyncs;
  j["uncovered_bytes"] = s.llUncovered;
  j["final_link"] = s.bFinalLinkPresent ? LinkStateName(s.finalLink) : "missing";
  j["complete"] = s.end == WalkEnd::kComplete;
  Emit(j);
}

void JsonTagSink::Emit(const Json& j) {
  const std::string line = j.dump();
  std::fwrite(line.data(), 1, line.size(), m_out);
  std::fputc('\n', m_out);
}

}  // namespace flvdmx::cli

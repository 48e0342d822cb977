#include <cinttypes>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "file_error.h"
#include "host/file_reader.h"
#include "tag_walk.h"

namespace flvdmx::cli {

namespace {

const char kTagsFooter[] = R"(Output, one line per tag:
  position   offset of the tag's PreviousTagSize field (the tag's address)
  type       audio, video, script or other, with the TagType number
  size       DataSize: payload bytes after the 11-byte tag header
  raw        the 24-bit timestamp as stored, in ms
  time       the timestamp carried past the 24-bit wrap (each tag from the
             one before), in ms
  prev size  the PreviousTagSize field, and whether it leads back to the tag
             before: ok, zero (tolerated) or broken
Script-data tags get a line with the duration and codec ids of their metadata.
Where a tag header is not plausible the walk resynchronises on the next
plausible tag header and says so. A summary closes the listing.
--json prints JSON Lines instead, each with a "type": "header", "tag",
"metadata", "resync" or "summary".
Exit status: 0 when the file was walked to its end; 1 when it is not FLV,
cannot be read or is truncated (with a line on stderr naming the problem and
its result code); the option parser's own codes for usage errors.)";

// The listing for people: aligned columns, one line per tag.
class TextSink : public TagSink {
 public:
  explicit TextSink(std::FILE* out) : m_out(out) {}

  void OnHeader(const FlvHeader& h, int64_t llFileSize) override {
    std::fprintf(
        m_out, "FLV header: version %u, flags 0x%02X (%s%s%s), data offset %u, %" PRId64 " bytes\n",
        h.Version, h.Flags, (h.Flags & kFlvHasVideo) ? "video" : "",
        (h.Flags & kFlvHasVideo) && (h.Flags & kFlvHasAudio) ? " " : "",
        (h.Flags & kFlvHasAudio) ? "audio" : "", h.DataOffset, llFileSize);
    std::fprintf(m_out, "%12s  %-10s %8s %10s %10s %10s  %s\n", "position", "type", "size", "raw",
                 "time", "prev size", "link");
  }
  void OnTag(const TagLine& l) override {
    char type[24];
    std::snprintf(type, sizeof(type), "%s(%u)", TagKindName(l.tag.TagType), l.tag.TagType);
    std::fprintf(m_out, "%12" PRId64 "  %-10s %8u %10u %10u %10u  %s\n", l.llPosition, type,
                 l.tag.DataSize, l.dwRawTime, l.tag.TimeStamp, l.tag.PreviousTagSize,
                 LinkStateName(l.link));
  }
  void OnMetadata(const MetadataLine& m) override {
    std::fprintf(m_out, "%12s  metadata: duration %s, audio codec id %s, video codec id %s\n", "",
                 m.dwDuration ? (std::to_string(m.dwDuration) + " ms").c_str() : "none",
                 m.lAudioCodecId >= 0 ? std::to_string(m.lAudioCodecId).c_str() : "none",
                 m.lVideoCodecId >= 0 ? std::to_string(m.lVideoCodecId).c_str() : "none");
  }
  void OnResync(const ResyncLine& r) override {
    if (r.llFound < 0) {
      std::fprintf(m_out, "resync: no plausible tag header at %" PRId64 " nor after it\n", r.llAt);
    } else {
      std::fprintf(m_out,
                   "resync: no plausible tag header at %" PRId64 "; going on at %" PRId64 "\n",
                   r.llAt, r.llFound);
    }
  }
  void OnSummary(const WalkSummary& s) {
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

 private:
  std::FILE* m_out;
};

// JSON Lines: one object per line, each with a "type".
class JsonSink : public TagSink {
 public:
  explicit JsonSink(std::FILE* out) : m_out(out) {}

  void OnHeader(const FlvHeader& h, int64_t llFileSize) override {
    Emit({{"type", "header"},
          {"version", h.Version},
          {"flags", h.Flags},
          {"data_offset", h.DataOffset},
          {"file_size", llFileSize}});
  }
  // The hot line, formatted by hand: a file has one per tag.
  void OnTag(const TagLine& l) override {
    std::fprintf(m_out,
                 "{\"type\":\"tag\",\"position\":%" PRId64
                 ",\"tag_type\":%u,\"kind\":\"%s\",\"data_size\":%u,\"raw_timestamp\":%u,"
                 "\"timestamp\":%u,\"prev_tag_size\":%u,\"link\":\"%s\"}\n",
                 l.llPosition, l.tag.TagType, TagKindName(l.tag.TagType), l.tag.DataSize,
                 l.dwRawTime, l.tag.TimeStamp, l.tag.PreviousTagSize, LinkStateName(l.link));
  }
  void OnMetadata(const MetadataLine& m) override {
    Json j = {{"type", "metadata"}, {"position", m.llPosition}};
    j["duration_ms"] = m.dwDuration ? Json(m.dwDuration) : Json(nullptr);
    j["audio_codec_id"] = m.lAudioCodecId >= 0 ? Json(m.lAudioCodecId) : Json(nullptr);
    j["video_codec_id"] = m.lVideoCodecId >= 0 ? Json(m.lVideoCodecId) : Json(nullptr);
    Emit(j);
  }
  void OnResync(const ResyncLine& r) override {
    Emit({{"type", "resync"},
          {"at", r.llAt},
          {"found", r.llFound >= 0 ? Json(r.llFound) : Json(nullptr)}});
  }
  void OnSummary(const WalkSummary& s) {
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

 private:
  using Json = nlohmann::ordered_json;
  void Emit(const Json& j) {
    const std::string line = j.dump();
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fputc('\n', m_out);
  }
  std::FILE* m_out;
};

std::string EndProblem(const WalkSummary& s) {
  switch (s.end) {
    case WalkEnd::kComplete:
      return std::string();
    case WalkEnd::kHeaderInvalid:
      return "not an FLV file";
    case WalkEnd::kHeaderShort:
      return "too short for an FLV header";
    case WalkEnd::kNoLength:
      return "cannot get the file length";
    case WalkEnd::kTruncatedHeader:
      return "truncated: the tag header at position " + std::to_string(s.llEndPosition) +
             " is cut off";
    case WalkEnd::kTruncatedTag:
      return "truncated: the tag at position " + std::to_string(s.llEndPosition) +
             " runs past the end of the file";
    case WalkEnd::kReadFailed:
      break;
  }
  return "read failed at position " + std::to_string(s.llEndPosition);
}

template <class Sink>
int RunWalk(IAsyncReader* pReader, const std::string& file) {
  Sink sink(stdout);
  const WalkSummary s = WalkTags(pReader, sink);
  const bool walked = s.end == WalkEnd::kComplete || s.end == WalkEnd::kTruncatedHeader ||
                      s.end == WalkEnd::kTruncatedTag ||
                      (s.end == WalkEnd::kReadFailed && s.llEndPosition > 0);
  if (walked) sink.OnSummary(s);
  std::fflush(stdout);
  if (s.end == WalkEnd::kComplete) return 0;
  ReportFileError(file, EndProblem(s), s.hr);
  return 1;
}

int RunTags(const std::string& file, bool json) {
  CFileReader* reader = nullptr;
  const HRESULT hr = CFileReader::Open(file.c_str(), &reader);
  if (FAILED(hr)) {
    ReportFileError(file, "cannot open", hr);
    return 1;
  }
  const int code = json ? RunWalk<JsonSink>(reader, file) : RunWalk<TextSink>(reader, file);
  reader->Release();
  return code;
}

}  // namespace

void RegisterTagsCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand(
      "tags", "Validate the header and walk the whole tag chain of an FLV file, one line per tag");
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  cmd->add_option("FILE", *file, "FLV file")->required();
  cmd->add_flag("--json", *json, "Print JSON Lines instead of text");
  cmd->footer(kTagsFooter);
  cmd->callback([file, json, exit_code] { *exit_code = RunTags(*file, *json); });
}

}  // namespace flvdmx::cli

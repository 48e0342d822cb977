#include <cstdio>
#include <memory>
#include <string>

#include "base/com_ptr.h"
#include "commands.h"
#include "file_error.h"
#include "host/file_reader.h"
#include "tag_listing.h"
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
  ComPtr<CFileReader> pReader;
  const HRESULT hr = CFileReader::Open(file.c_str(), pReader.Put());
  if (FAILED(hr)) {
    ReportFileError(file, "cannot open", hr);
    return 1;
  }
  return json ? RunWalk<JsonTagSink>(pReader.Get(), file)
              : RunWalk<TextTagSink>(pReader.Get(), file);
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

// The two listings of `flvdmx tags`, as sinks of the tag walk: aligned text
// columns for people, or JSON Lines with a "type" on each line. Each writes to
// the stream it is given; OnSummary closes the listing.
#pragma once

#include <cstdio>

#include <nlohmann/json.hpp>

#include "tag_walk.h"

namespace flvdmx::cli {

// Aligned columns, one line per tag.
class TextTagSink : public TagSink {
 public:
  explicit TextTagSink(std::FILE* out) : m_out(out) {}

  void OnHeader(const FlvHeader& h, int64_t llFileSize) override;
  void OnTag(const TagLine& l) override;
  void OnMetadata(const MetadataLine& m) override;
  void OnResync(const ResyncLine& r) override;
  void OnSummary(const WalkSummary& s);

 private:
  std::FILE* m_out;
};

// JSON Lines: one object per line, each with a "type".
class JsonTagSink : public TagSink {
 public:
  explicit JsonTagSink(std::FILE* out) : m_out(out) {}

  void OnHeader(const FlvHeader& h, int64_t llFileSize) override;
  // The hot line, formatted by hand: a file has one per tag.
  void OnTag(const TagLine& l) override;
  void OnMetadata(const MetadataLine& m) override;
  void OnResync(const ResyncLine& r) override;
  void OnSummary(const WalkSummary& s);

 private:
  using Json = nlohmann::ordered_json;
  void Emit(const Json& j);

  std::FILE* m_out;
};

}  // namespace flvdmx::cli

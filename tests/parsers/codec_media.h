// Helpers for the codec header tests: the header bytes inside ffmpeg-made
// files (an IVF frame, an MP4 sample-entry box, the first Ogg packet),
// ffprobe's facts about a stream, and the every-prefix truncation check.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/media.h"

namespace flvdmx::test {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadMedia(const std::string& name) { return ReadFileBytes(MediaPath(name.c_str())); }

inline uint32_t LE32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The first frame of an IVF file: after the file header, a 12-byte frame
// header whose first four bytes are the frame size.
inline Bytes IvfFirstFrame(const Bytes& file) {
  if (file.size() < 32) return {};
  const size_t start = file[6] | (size_t{file[7]} << 8);
  if (start + 12 > file.size()) return {};
  const size_t size = LE32(&file[start]);
  if (size > file.size() - start - 12) return {};
  return Bytes(file.begin() + start + 12, file.begin() + start + 12 + size);
}

// The body of the first box of the given type anywhere in an MP4 file (the
// sample entries nest too deep to walk for a test): the size before the type.
inline Bytes Mp4BoxBody(const Bytes& file, const char* type) {
  for (size_t i = 4; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], type, 4) != 0) continue;
    const size_t size = (size_t{file[i - 4]} << 24) | (size_t{file[i - 3]} << 16) |
                        (size_t{file[i - 2]} << 8) | file[i - 1];
    if (size < 8 || size - 4 > file.size() - i) return {};
    return Bytes(file.begin() + i + 4, file.begin() + i + size - 4);
  }
  return {};
}

// The first packet of an Ogg file: it fills the first page, whose segment
// table sums to its length.
inline Bytes OggFirstPacket(const Bytes& file) {
  if (file.size() < 27 || std::memcmp(file.data(), "OggS", 4) != 0) return {};
  const size_t segments = file[26];
  if (27 + segments > file.size()) return {};
  size_t length = 0;
  for (size_t i = 0; i < segments; ++i) length += file[27 + i];
  if (length > file.size() - 27 - segments) return {};
  return Bytes(file.begin() + 27 + segments, file.begin() + 27 + segments + length);
}

// ffprobe's stream entries (key=value) for the first stream of a media file.
inline std::map<std::string, std::string> ProbeFirstStream(const std::string& name) {
  int code = -1;
  const std::string out =
      RunCommand("ffprobe -v error -select_streams 0 -show_entries stream -of default=nw=1 " +
                     ShellQuote(MediaPath(name.c_str())),
                 &code);
  EXPECT_EQ(code, 0) << "ffprobe on " << name;
  std::map<std::string, std::string> entries;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) entries[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return entries;
}

inline uint32_t ProbeNumber(const std::map<std::string, std::string>& entries, const char* key) {
  const auto it = entries.find(key);
  return it == entries.end() ? 0
                             : static_cast<uint32_t>(std::strtoul(it->second.c_str(), nullptr, 10));
}

// The bit depth a pixel format name says ("yuv420p10le": 10).
inline int PixFmtBitDepth(const std::string& pixFmt) {
  if (pixFmt.find("p10") != std::string::npos) return 10;
  if (pixFmt.find("p12") != std::string::npos) return 12;
  return 8;
}

// Calls parse on every prefix of `bytes`, each in a buffer of exactly its
// size so that ASan sees a read past the end. A prefix of n bytes must succeed
// exactly when ok(n), and then describe the same as the whole input;
// a failure must leave the output alone.
template <typename Info>
void ExpectPrefixes(const Bytes& bytes, bool (*parse)(const uint8_t*, size_t, Info*),
                    const std::function<std::string(const Info&)>& describe,
                    const std::function<bool(size_t)>& ok) {
  Info whole;
  ASSERT_TRUE(parse(bytes.data(), bytes.size(), &whole));
  const Info untouched;
  for (size_t n = 0; n <= bytes.size(); ++n) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[n ? n : 1]);
    std::copy(bytes.begin(), bytes.begin() + n, exact.get());
    Info info;
    const bool result = parse(exact.get(), n, &info);
    ASSERT_EQ(result, ok(n)) << "prefix of " << n << " bytes";
    ASSERT_EQ(describe(info), describe(result ? whole : untouched)) << "prefix of " << n;
  }
}

// parse over `bytes` describes as `expected`, or refuses them when that is null.
template <typename Info>
void ExpectParsed(const Bytes& bytes, bool (*parse)(const uint8_t*, size_t, Info*),
                  std::string (*describe)(const Info&), const char* expected) {
  Info info;
  const bool ok = parse(bytes.data(), bytes.size(), &info);
  ASSERT_EQ(ok, expected != nullptr);
  if (ok) {
    EXPECT_EQ(describe(info), expected);
  }
}

}  // namespace flvdmx::test

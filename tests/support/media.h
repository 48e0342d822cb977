// Test media and shell helpers: the ffmpeg-made corpus, scratch directories,
// and running outside tools (ffprobe, the CLI).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flvdmx {

// FLVDMX_MEDIA_DIR/name; a missing file fails the test (the corpus is a ctest fixture).
std::string MediaPath(const char* name);

// The bytes of a file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// `cmd`'s standard output; *exit_code gets its exit status, or -1 when it did not exit normally.
std::string RunCommand(const std::string& cmd, int* exit_code = nullptr);

// `text` in single quotes for the shell.
std::string ShellQuote(const std::string& text);

// A fresh temp directory, removed with its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

}  // namespace flvdmx

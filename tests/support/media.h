// Test media and shell helpers: where the ffmpeg-made corpus lives, scratch
// directories, and running outside tools (ffprobe, the CLI).
#pragma once

#include <string>

namespace flvdmx {

// FLVDMX_MEDIA_DIR/name. A missing file is a test failure (the corpus is a
// ctest fixture, so it should always be there), not a skip.
std::string MediaPath(const char* name);

// Runs `cmd` through the shell and returns what it wrote to standard output.
// *exit_code (optional) gets its exit status, or -1 when it could not run or
// did not exit normally.
std::string RunCommand(const std::string& cmd, int* exit_code = nullptr);

// `text` in single quotes for the shell.
std::string ShellQuote(const std::string& text);

// A fresh directory under the system temp directory, removed with everything
// in it when the object goes. Not copyable: one owner per directory.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path()/name; the file itself is not created.
  std::string File(const std::string& name) const;

 private:
  std::string m_path;
};

}  // namespace flvdmx

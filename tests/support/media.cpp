#include "support/media.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace flvdmx {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MediaPath(const char* name) {
  std::string path = std::string(FLVDMX_MEDIA_DIR) + "/" + name;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    ADD_FAILURE() << "test media missing: " << path
                  << " (made by scripts/make-test-media.sh, the media_corpus ctest fixture)";
  return path;
}

std::string RunCommand(const std::string& cmd, int* exit_code) {
  std::string out;
  if (exit_code) *exit_code = -1;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return out;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int status = pclose(pipe);
  if (exit_code && status != -1 && WIFEXITED(status)) *exit_code = WEXITSTATUS(status);
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

TempDir::TempDir() {
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec || base.empty()) base = "/tmp";
  std::string pattern = base + "/flvdmx-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temp directory from " << pattern;
    return;
  }
  m_path = buf.data();
}

TempDir::~TempDir() {
  if (m_path.empty()) return;
  std::error_code ec;
  // Tests may leave read-only directories behind; make them removable first.
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(m_path, ec);
}

}  // namespace flvdmx

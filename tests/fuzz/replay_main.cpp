// Runs a fuzz target's entry point once for each file named on the command
// line, or for every file under a folder named there (a missing folder is
// nothing to run). A crash or a sanitizer report ends the process, which is
// the failure; otherwise it prints how many inputs ran.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  // A heap block of exactly the input's size, so that a read past it is
  // caught (a vector's spare capacity would hide it).
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t cRun = 0;
  bool bOk = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& f : files) {
        bOk = RunFile(f) && bOk;
        ++cRun;
      }
    } else if (fs::exists(arg, ec)) {
      bOk = RunFile(arg) && bOk;
      ++cRun;
    }
  }
  std::printf("replayed %zu inputs\n", cRun);
  return bOk ? 0 : 1;
}

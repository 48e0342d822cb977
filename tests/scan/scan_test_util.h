// Helpers of the header-scan tests: tag payloads the stream descriptions
// accept and a capture of the trace output (the reader handle and hex text
// come from the stream-description tests' helpers).
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diag/trace.h"
#include "streams/streams_test_util.h"
#include "support/media.h"

namespace flvdmx {

// Screen video key frame: block and image sizes, then a little data.
inline std::vector<uint8_t> ScreenVideo(uint16_t width = 160, uint16_t height = 120) {
  return {0x13, static_cast<uint8_t>(0x30 | (width >> 8)), static_cast<uint8_t>(width),
          static_cast<uint8_t>(0x30 | (height >> 8)), static_cast<uint8_t>(height), 0x78, 0xDA};
}

// 16-bit stereo PCM at 44.1 kHz.
inline std::vector<uint8_t> PcmAudio(size_t samples = 8) {
  std::vector<uint8_t> p(1 + samples * 4, 0x11);
  p[0] = 0x3F;
  return p;
}

// One MP3 frame, MPEG-1 Layer III 128 kbit/s 44.1 kHz joint stereo, with
// DataSize `dataSize`.
inline std::vector<uint8_t> Mp3Audio(size_t dataSize = 419) {
  std::vector<uint8_t> p = {0x2F, 0xFF, 0xFB, 0x90, 0x64};
  p.resize(dataSize, 0x00);
  return p;
}

// Turns tracing on into a file of its own while alive; Text() ends the
// capture and gives what was traced.
class TraceCapture {
 public:
  TraceCapture() : m_dwOldFlags(g_dwTraceFlags), m_OldPath(GetTraceFilePath()) {
    (void)SetTraceFilePath(m_Dir.File("trace.txt").c_str());
    g_dwTraceFlags = kTraceOn | kTraceFile;
  }
  ~TraceCapture() { Stop(); }
  std::string Text() {
    Stop();
    std::ifstream in(m_Dir.File("trace.txt"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void Stop() {
    if (m_bStopped) return;
    m_bStopped = true;
    CloseTraceWriter();
    g_dwTraceFlags = m_dwOldFlags;
    (void)SetTraceFilePath(m_OldPath.c_str());
  }

  TempDir m_Dir;
  uint32_t m_dwOldFlags;
  std::wstring m_OldPath;
  bool m_bStopped = false;
};

inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace flvdmx

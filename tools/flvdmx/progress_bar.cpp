#include "progress_bar.h"

#include <algorithm>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace flvdmx::cli {

namespace {

constexpr auto kProgressDelay = std::chrono::milliseconds(500);
constexpr int kProgressWidth = 40;

bool IsTerminal(std::FILE* pFile) {
#ifdef _WIN32
  return _isatty(_fileno(pFile)) != 0;
#else
  return isatty(fileno(pFile)) != 0;
#endif
}

}  // namespace

ProgressBar::ProgressBar(REFERENCE_TIME tSpan) : m_tSpan(tSpan), m_bEnabled(IsTerminal(stderr)) {}

void ProgressBar::Update(REFERENCE_TIME tReached) {
  if (!m_bEnabled || m_tSpan <= 0) return;
  if (std::chrono::steady_clock::now() - m_Started < kProgressDelay) return;
  const double fraction =
      std::clamp(static_cast<double>(tReached) / static_cast<double>(m_tSpan), 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kProgressWidth);
  std::fprintf(stderr, "\r[%s%s] %3d%% %7.1f s of %.1f s", std::string(filled, '#').c_str(),
               std::string(kProgressWidth - filled, '.').c_str(), static_cast<int>(fraction * 100),
               static_cast<double>(tReached) / 1e7, static_cast<double>(m_tSpan) / 1e7);
  std::fflush(stderr);
  m_bShown = true;
}

void ProgressBar::Done() {
  if (m_bShown) std::fprintf(stderr, "\r%*s\r", kProgressWidth + 30, "");
}

}  // namespace flvdmx::cli

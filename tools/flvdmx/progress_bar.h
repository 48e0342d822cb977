// ProgressBar: "\r[#########...........]  45%   5.4 s of 12.0 s" on stderr
// while `demux` plays, when stderr is a terminal and the run takes more than
// a moment. Used from the command's thread only.
#pragma once

#include <chrono>

#include "platform/dshow.h"

namespace flvdmx::cli {

class ProgressBar {
 public:
  // tSpan: the time the bar measures up to (100 ns units); 0 shows nothing.
  explicit ProgressBar(REFERENCE_TIME tSpan);

  void Update(REFERENCE_TIME tReached);
  // Clears the bar when it was shown.
  void Done();

 private:
  const REFERENCE_TIME m_tSpan;
  const bool m_bEnabled;
  bool m_bShown = false;
  const std::chrono::steady_clock::time_point m_Started = std::chrono::steady_clock::now();
};

}  // namespace flvdmx::cli

// RawIndexWriter: streams without a standard raw form (Sorenson H.263,
// screen video, VP6, Nellymoser, Speex) -> the payloads one after the other,
// plus a JSON Lines index (.jsonl) of where each one starts in time, how
// long it is and whether it is a key frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream_writer.h"

namespace flvdmx::cli {

class RawIndexWriter final : public StreamWriter {
 public:
  explicit RawIndexWriter(std::string kind) : StreamWriter(std::move(kind)) {}
  ~RawIndexWriter() override;

  bool Open(const std::string& path);
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  std::FILE* m_pData = nullptr;
  std::FILE* m_pIndex = nullptr;
};

}  // namespace flvdmx::cli

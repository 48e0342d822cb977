// ObuWriter: AV1 -> .obu, the low-overhead bitstream: every temporal unit
// opens with a temporal delimiter (containers drop it, so it is written
// here), and the sequence header OBUs of the av1C record go in front of the
// first unit when that unit does not carry its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stream_writer.h"

namespace flvdmx::cli {

// The OBU types of a temporal unit, in order, as far as their size fields
// reach; false when one runs past the end or has no size field before the last.
bool ListObuTypes(const uint8_t* pData, size_t cb, std::vector<uint8_t>* pTypes, size_t* pcbFirst);

class ObuWriter final : public StreamWriter {
 public:
  // configObus: the OBUs after the av1C record's four fixed bytes.
  explicit ObuWriter(std::vector<uint8_t> configObus)
      : StreamWriter("AV1 low-overhead OBUs"), m_ConfigObus(std::move(configObus)) {}
  ~ObuWriter() override;

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }
  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override;
  bool Finish() override;

 private:
  std::vector<uint8_t> m_ConfigObus;
  std::FILE* m_pFile = nullptr;
};

}  // namespace flvdmx::cli

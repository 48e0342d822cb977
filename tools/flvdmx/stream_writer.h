// StreamWriter: the base of the writers behind `flvdmx demux`. Each turns the
// samples of one output pin into its stream's standard raw file (see
// stream_writers.h for which writer serves which stream).
//
// A writer owns its files from creation until it is destroyed; Finish
// completes and closes them. Not thread-safe: one pin's samples arrive on one
// thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dshow.h"

namespace flvdmx::cli {

class StreamWriter {
 public:
  virtual ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // One sample's payload. tStart is the sample's start time (100 ns units) as
  // it carries it; bSync marks a key frame. False once writing has failed
  // (Error() says why).
  virtual bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) = 0;
  // Completes and closes the files. False when that or an earlier write failed.
  virtual bool Finish();

  // "H.264 Annex B", "ADTS AAC", ... for the tool's summary.
  const std::string& Kind() const { return m_Kind; }
  // The files written, main file first.
  const std::vector<std::string>& Files() const { return m_Files; }
  uint64_t SampleCount() const { return m_cSamples; }
  uint64_t MalformedCount() const { return m_cMalformed; }
  const std::string& Error() const { return m_Error; }

 protected:
  explicit StreamWriter(std::string kind) : m_Kind(std::move(kind)) {}

  // Opens a file for writing and records its name; false with Error() set.
  bool OpenFile(const std::string& path, std::FILE** ppFile);
  bool WriteBytes(std::FILE* pFile, const void* pData, size_t cb);
  bool CloseFile(std::FILE** ppFile);
  bool Fail(const std::string& error);

  std::string m_Kind;
  std::vector<std::string> m_Files;
  uint64_t m_cSamples = 0;
  // Samples whose content did not match the stream's framing (a NAL length
  // running past the sample); written as far as they could be.
  uint64_t m_cMalformed = 0;
  std::string m_Error;
};

}  // namespace flvdmx::cli

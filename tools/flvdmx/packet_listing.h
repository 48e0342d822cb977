// The listing behind `flvdmx packets`: what the sinks behind the filter's
// output pins receive, one line per event, pins interleaved as they arrive,
// in text or JSON Lines. It counts each pin's samples and, once every pin
// has what it needs (its --count or its end-of-stream), ends the run.
//
// Threads and locks: the sinks' delivery threads call in at once; one mutex
// keeps lines whole and in order. Close is called on the command's thread
// before the graph stops, so no line comes after it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "filter_session.h"
#include "host/sink.h"
#include "payload_sink.h"

namespace flvdmx::cli {

// One pin's part of the run, shared by its sink's thread and the main thread.
struct PinRun {
  std::string name;
  std::atomic<uint64_t> cSamples{0};  // listed (or taken, when quiet)
  std::atomic<uint64_t> cbSamples{0};
  std::atomic<bool> bEndOfStream{false};
  std::atomic<bool> bDone{false};  // count reached or end-of-stream
};

class Listing {
 public:
  // cLimit: samples per pin, 0 for no limit. The session outlives the listing.
  Listing(FilterSession* pSession, bool bJson, uint64_t cLimit)
      : m_pSession(pSession), m_bJson(bJson), m_cLimit(cLimit) {}

  // Before playback: a pin whose events come in.
  void Add(PinRun* pPin) { m_Pins.push_back(pPin); }

  // From a recording sink's thread.
  void OnEvent(PinRun& pin, const SinkEvent& e);
  // From a payload sink's thread (quiet): counts only. S_FALSE asks for no
  // more samples of this pin.
  HRESULT OnQuietSample(PinRun& pin, const CPayloadSink::Sample& sample);
  // A quiet pin's end-of-stream, seen by the command while it waits.
  void OnQuietEnd(PinRun& pin);

  // No line after this: the graph is about to stop.
  void Close();

 private:
  void MarkDone(PinRun& pin);
  void PrintSegment(const PinRun& pin, const SinkEvent& e);
  void PrintSample(const PinRun& pin, const SinkEvent& e);
  void PrintEndOfStream(const PinRun& pin);

  FilterSession* const m_pSession;
  const bool m_bJson;
  const uint64_t m_cLimit;
  std::vector<PinRun*> m_Pins;
  std::mutex m_Mutex;
  bool m_bListening = true;
};

}  // namespace flvdmx::cli

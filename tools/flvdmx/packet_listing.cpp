#include "packet_listing.h"

#include <cinttypes>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace flvdmx::cli {

namespace {

const char* Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

void Listing::OnEvent(PinRun& pin, const SinkEvent& e) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (!m_bListening || pin.bDone) return;
  switch (e.kind) {
    case SinkEvent::kNewSegment:
      PrintSegment(pin, e);
      break;
    case SinkEvent::kSample:
      PrintSample(pin, e);
      ++pin.cSamples;
      pin.cbSamples += static_cast<uint64_t>(e.lActual);
      if (m_cLimit != 0 && pin.cSamples >= m_cLimit) MarkDone(pin);
      break;
    case SinkEvent::kEndOfStream:
      if (e.bIgnored) break;
      PrintEndOfStream(pin);
      pin.bEndOfStream = true;
      MarkDone(pin);
      break;
    case SinkEvent::kBeginFlush:
    case SinkEvent::kEndFlush:
      break;
  }
}

HRESULT Listing::OnQuietSample(PinRun& pin, const CPayloadSink::Sample& sample) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (!m_bListening || pin.bDone) return S_FALSE;
  ++pin.cSamples;
  pin.cbSamples += sample.cb;
  if (m_cLimit != 0 && pin.cSamples >= m_cLimit) {
    MarkDone(pin);
    return S_FALSE;  // no more from this pin
  }
  return S_OK;
}

void Listing::OnQuietEnd(PinRun& pin) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (!m_bListening || pin.bDone) return;
  pin.bEndOfStream = true;
  MarkDone(pin);
}

void Listing::Close() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_bListening = false;
  std::fflush(stdout);
}

void Listing::MarkDone(PinRun& pin) {
  pin.bDone = true;
  for (const PinRun* p : m_Pins)
    if (!p->bDone) return;
  // Every pin has what it needs (a pin cut short by --count never sends
  // end-of-stream, so the graph would not complete by itself).
  m_pSession->RequestEnd();
}

void Listing::PrintSegment(const PinRun& pin, const SinkEvent& e) {
  if (m_bJson) {
    const nlohmann::ordered_json j = {{"type", "segment"},
                                      {"pin", pin.name},
                                      {"start", e.tStart},
                                      {"stop", e.tStop},
                                      {"rate", e.dRate}};
    std::printf("%s\n", j.dump().c_str());
  } else {
    std::printf("%-6s segment start=%" PRId64 " stop=%" PRId64 " rate=%g\n", pin.name.c_str(),
                static_cast<int64_t>(e.tStart), static_cast<int64_t>(e.tStop), e.dRate);
  }
}

// The hot line, formatted by hand: one per sample.
void Listing::PrintSample(const PinRun& pin, const SinkEvent& e) {
  if (m_bJson) {
    std::printf("{\"type\":\"sample\",\"pin\":\"%s\",\"start\":%" PRId64 ",\"stop\":%" PRId64
                ",\"size\":%ld,\"sync\":%s,\"discontinuity\":%s,\"preroll\":%s,"
                "\"crc32\":\"%08x\"}\n",
                pin.name.c_str(), static_cast<int64_t>(e.tStart), static_cast<int64_t>(e.tStop),
                static_cast<long>(e.lActual), Bool(e.bSyncPoint), Bool(e.bDiscontinuity),
                Bool(e.bPreroll), static_cast<unsigned>(e.dwCrc32));
  } else {
    std::printf("%-6s sample  start=%" PRId64 " stop=%" PRId64 " size=%ld crc32=%08x%s%s%s\n",
                pin.name.c_str(), static_cast<int64_t>(e.tStart), static_cast<int64_t>(e.tStop),
                static_cast<long>(e.lActual), static_cast<unsigned>(e.dwCrc32),
                e.bSyncPoint ? " sync" : "", e.bDiscontinuity ? " discontinuity" : "",
                e.bPreroll ? " preroll" : "");
  }
}

void Listing::PrintEndOfStream(const PinRun& pin) {
  if (m_bJson) {
    std::printf("{\"type\":\"eos\",\"pin\":\"%s\"}\n", pin.name.c_str());
  } else {
    std::printf("%-6s eos\n", pin.name.c_str());
  }
}

}  // namespace flvdmx::cli

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "file_error.h"
#include "filter_session.h"
#include "host/sink.h"
#include "payload_sink.h"
#include "play_options.h"

namespace flvdmx::cli {

namespace {

const char kPacketsFooter[] = R"(Plays the file through the filter's output pins into recording sinks (pins,
allocators and delivery threads as a player would have them) and lists what
each sink receives, pins interleaved as they arrive:
  segment  the new segment the pin announces (start, stop, rate)
  sample   start and stop as the sample carries them (100 ns units, relative
           to the segment start), payload size, sync point, discontinuity,
           preroll, and the zlib CRC-32 of the payload
  eos      end-of-stream
A summary per pin closes the listing. --json prints JSON Lines, exactly:
  {"type":"segment","pin":"Video","start":INT,"stop":INT,"rate":FLOAT}
  {"type":"sample","pin":"Video","start":INT,"stop":INT,"size":INT,
   "sync":BOOL,"discontinuity":BOOL,"preroll":BOOL,"crc32":"1a2b3c4d"}
  {"type":"eos","pin":"Video"}
--start and --stop go through IMediaSeeking::SetPositions before playback,
--rate through SetRate. --quiet delivers and discards (no listing, no
checksum) and prints only a summary: the benchmark mode. --stats prints on
stderr the reads and bytes read through the reader while the file was
scanned and while it played.
Exit status: 0; 1 when the file cannot be opened, is not FLV, has no
playable stream, an option is out of range, or playback fails (with a line
on stderr naming the problem and its result code).)";

using Json = nlohmann::ordered_json;

struct PacketsOptions {
  std::string file;
  PlayOptions play;
  bool bQuiet = false;
  bool bStats = false;
  bool bJson = false;
};

const char* Bool(bool b) { return b ? "true" : "false"; }

// One pin's part of the run, shared by its sink's thread and the main thread.
struct PinRun {
  std::string name;
  std::atomic<uint64_t> cSamples{0};  // listed (or taken, when quiet)
  std::atomic<uint64_t> cbSamples{0};
  std::atomic<bool> bEndOfStream{false};
  std::atomic<bool> bDone{false};  // count reached or end-of-stream
};

// The listing: lines from both pins' threads, one at a time, until the run
// is ended.
class Listing {
 public:
  Listing(FilterSession* pSession, bool bJson, uint64_t cLimit)
      : m_pSession(pSession), m_bJson(bJson), m_cLimit(cLimit) {}

  void Add(PinRun* pPin) { m_Pins.push_back(pPin); }

  // From a recording sink's thread.
  void OnEvent(PinRun& pin, const SinkEvent& e) {
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
        if (m_bJson) {
          std::printf("{\"type\":\"eos\",\"pin\":\"%s\"}\n", pin.name.c_str());
        } else {
          std::printf("%-6s eos\n", pin.name.c_str());
        }
        pin.bEndOfStream = true;
        MarkDone(pin);
        break;
      case SinkEvent::kBeginFlush:
      case SinkEvent::kEndFlush:
        break;
    }
  }

  // From a payload sink's thread (quiet): counts only.
  HRESULT OnQuietSample(PinRun& pin, const CPayloadSink::Sample& sample) {
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

  void OnQuietEnd(PinRun& pin) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_bListening || pin.bDone) return;
    pin.bEndOfStream = true;
    MarkDone(pin);
  }

  // No line after this: the graph is about to stop.
  void Close() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_bListening = false;
    std::fflush(stdout);
  }

 private:
  void MarkDone(PinRun& pin) {
    pin.bDone = true;
    for (const PinRun* p : m_Pins)
      if (!p->bDone) return;
    // Every pin has what it needs (a pin cut short by --count never sends
    // end-of-stream, so the graph would not complete by itself).
    m_pSession->RequestEnd();
  }

  void PrintSegment(const PinRun& pin, const SinkEvent& e) {
    if (m_bJson) {
      const Json j = {{"type", "segment"}, {"pin", pin.name}, {"start", e.tStart},
                      {"stop", e.tStop},   {"rate", e.dRate}};
      std::printf("%s\n", j.dump().c_str());
    } else {
      std::printf("%-6s segment start=%" PRId64 " stop=%" PRId64 " rate=%g\n", pin.name.c_str(),
                  static_cast<int64_t>(e.tStart), static_cast<int64_t>(e.tStop), e.dRate);
    }
  }

  // The hot line, formatted by hand: one per sample.
  void PrintSample(const PinRun& pin, const SinkEvent& e) {
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

  FilterSession* const m_pSession;
  const bool m_bJson;
  const uint64_t m_cLimit;
  std::vector<PinRun*> m_Pins;
  std::mutex m_Mutex;
  bool m_bListening = true;
};

int RunPackets(const PacketsOptions& options) {
  const std::string& file = options.file;
  FilterSession session;
  SessionError error;
  if (!session.Open(file, &error)) {
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }
  std::vector<const OutputPinInfo*> pins;
  if (!SelectPins(session, options.play.pins, &pins, &error)) {
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }
  const uint64_t cScanReads = session.Reader()->ReadCount();
  const uint64_t cbScanRead = session.Reader()->BytesRead();

  Listing listing(&session, options.bJson, options.play.cCount.value_or(0));
  std::vector<std::unique_ptr<PinRun>> runs;
  std::vector<IBaseFilter*> sinks;           // one reference each
  std::vector<CPayloadSink*> payloadSinks;  // the same, when quiet
  HRESULT hr = S_OK;
  for (const OutputPinInfo* pPin : pins) {
    runs.push_back(std::make_unique<PinRun>());
    PinRun* pRun = runs.back().get();
    pRun->name = pPin->name;
    listing.Add(pRun);
    if (options.bQuiet) {
      CPayloadSink* pSink = nullptr;
      hr = CPayloadSink::Create(&pSink);
      if (FAILED(hr)) break;
      sinks.push_back(pSink->AsBaseFilter());
      payloadSinks.push_back(pSink);
      pSink->SetSampleCallback(
          [&listing, pRun](const CPayloadSink::Sample& sample) { return listing.OnQuietSample(*pRun, sample); });
      hr = session.ConnectSink(pPin->pPin, pSink->AsBaseFilter(), pSink->InputPin());
    } else {
      CRecordingSink* pSink = nullptr;
      hr = CRecordingSink::Create(&pSink);
      if (FAILED(hr)) break;
      sinks.push_back(pSink->AsBaseFilter());
      pSink->SetEventCallback(
          [&listing, pRun](const SinkEvent& e, const BYTE*) { listing.OnEvent(*pRun, e); });
      hr = session.ConnectSink(pPin->pPin, pSink->AsBaseFilter(), pSink->InputPin());
    }
    if (FAILED(hr)) break;
  }
  auto releaseSinks = [&sinks, &payloadSinks] {
    for (IBaseFilter* pSink : sinks) pSink->Release();
    sinks.clear();
    payloadSinks.clear();
  };
  if (FAILED(hr)) {
    releaseSinks();
    ReportFileError(file, "cannot connect a sink to the filter", hr);
    return 1;
  }
  if (!ApplyPositions(session, options.play, &error)) {
    releaseSinks();
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }

  session.Reader()->ResetCounters();
  const auto started = std::chrono::steady_clock::now();
  std::function<void()> onTick;
  if (options.bQuiet) {
    // The payload sink has no end-of-stream callback: look at it while waiting.
    onTick = [&] {
      for (size_t i = 0; i < payloadSinks.size(); ++i) {
        if (payloadSinks[i]->IsEndOfStream()) listing.OnQuietEnd(*runs[i]);
      }
    };
  }
  hr = session.Play(onTick, 20);
  listing.Close();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (size_t i = 0; i < payloadSinks.size(); ++i) {
    if (payloadSinks[i]->IsEndOfStream()) runs[i]->bEndOfStream = true;
  }
  releaseSinks();

  if (options.bStats && !FilterSession::kReaderFeedsGraph) {
    std::fprintf(stderr, "stats: not available: the platform's file source reads the file\n");
  } else if (options.bStats) {
    std::fprintf(stderr,
                 "stats: scan_reads=%" PRIu64 " scan_bytes=%" PRIu64 " reads=%" PRIu64
                 " bytes=%" PRIu64 "\n",
                 cScanReads, cbScanRead, session.Reader()->ReadCount(), session.Reader()->BytesRead());
  }
  if (FAILED(hr)) {
    ReportFileError(file, "playback failed", hr);
    return 1;
  }

  if (options.bJson && options.bQuiet) {
    Json j = {{"type", "summary"}, {"seconds", seconds}, {"pins", Json::array()}};
    for (const auto& run : runs) {
      j["pins"].push_back({{"pin", run->name},
                           {"samples", run->cSamples.load()},
                           {"bytes", run->cbSamples.load()},
                           {"eos", run->bEndOfStream.load()}});
    }
    std::printf("%s\n", j.dump().c_str());
  } else if (!options.bJson) {
    uint64_t cbTotal = 0;
    for (const auto& run : runs) {
      std::printf("%s: %" PRIu64 " samples, %" PRIu64 " bytes%s\n", run->name.c_str(),
                  run->cSamples.load(), run->cbSamples.load(),
                  run->bEndOfStream ? ", end-of-stream" : "");
      cbTotal += run->cbSamples;
    }
    if (options.bQuiet) {
      std::printf("%.3f s, %.1f MB/s of payload\n", seconds,
                  seconds > 0 ? static_cast<double>(cbTotal) / 1e6 / seconds : 0.0);
    }
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

void RegisterPacketsCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand(
      "packets", "Play an FLV file through the filter and list the samples each output pin delivers");
  auto options = std::make_shared<PacketsOptions>();
  cmd->add_option("FILE", options->file, "FLV file")->required();
  AddPlayOptions(cmd, &options->play);
  cmd->add_flag("--quiet", options->bQuiet, "Deliver and discard; print only a summary");
  cmd->add_flag("--stats", options->bStats, "Print reads and bytes read on stderr");
  cmd->add_flag("--json", options->bJson, "Print JSON Lines instead of text");
  cmd->footer(kPacketsFooter);
  cmd->callback([options, exit_code] { *exit_code = RunPackets(*options); });
}

}  // namespace flvdmx::cli

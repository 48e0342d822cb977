#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/com_ptr.h"
#include "commands.h"
#include "file_error.h"
#include "filter_session.h"
#include "host/sink.h"
#include "packet_listing.h"
#include "payload_sink.h"
#include "play_options.h"
#include "play_session.h"

namespace flvdmx::cli {

namespace {

const char kPacketsFooter[] =
    R"(Plays the file through the filter's output pins into recording sinks (pins,
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

// The pins' runs and their sinks, in pin order. Holds one reference on each
// sink until the playback is over.
class PacketSinks {
 public:
  PacketSinks(Listing* pListing, bool bQuiet) : m_pListing(pListing), m_bQuiet(bQuiet) {}

  // Makes the run and the sink for one pin (a MakeSink): a payload sink that
  // only counts when quiet, else a recording sink whose events are listed.
  bool Add(const OutputPinInfo& pin, SinkInput* pSink, SessionError* pError) {
    m_Runs.push_back(std::make_unique<PinRun>());
    PinRun* pRun = m_Runs.back().get();
    pRun->name = pin.name;
    m_pListing->Add(pRun);
    const HRESULT hr = m_bQuiet ? AddPayloadSink(pRun, pSink) : AddRecordingSink(pRun, pSink);
    if (FAILED(hr)) *pError = {ConnectProblemFor(pin), hr};
    return SUCCEEDED(hr);
  }

  static std::string ConnectProblemFor(const OutputPinInfo&) {
    return "cannot connect a sink to the filter";
  }

  // The payload sink has no end-of-stream callback: the command looks at it
  // while waiting and once the run is over.
  void PollQuietEnds(bool bListed) {
    for (size_t i = 0; i < m_PayloadSinks.size(); ++i) {
      if (!m_PayloadSinks[i]->IsEndOfStream()) continue;
      if (bListed) {
        m_pListing->OnQuietEnd(*m_Runs[i]);
      } else {
        m_Runs[i]->bEndOfStream = true;
      }
    }
  }

  void ReleaseSinks() {
    m_RecordingSinks.clear();
    m_PayloadSinks.clear();
  }
  const std::vector<std::unique_ptr<PinRun>>& Runs() const { return m_Runs; }

 private:
  HRESULT AddPayloadSink(PinRun* pRun, SinkInput* pSink) {
    ComPtr<CPayloadSink> pPayloadSink;
    const HRESULT hr = CPayloadSink::Create(pPayloadSink.Put());
    if (FAILED(hr)) return hr;
    Listing* pListing = m_pListing;
    pPayloadSink->SetSampleCallback([pListing, pRun](const CPayloadSink::Sample& sample) {
      return pListing->OnQuietSample(*pRun, sample);
    });
    *pSink = {pPayloadSink->AsBaseFilter(), pPayloadSink->InputPin()};
    m_PayloadSinks.push_back(std::move(pPayloadSink));
    return S_OK;
  }

  HRESULT AddRecordingSink(PinRun* pRun, SinkInput* pSink) {
    ComPtr<CRecordingSink> pRecordingSink;
    const HRESULT hr = CRecordingSink::Create(pRecordingSink.Put());
    if (FAILED(hr)) return hr;
    Listing* pListing = m_pListing;
    pRecordingSink->SetEventCallback(
        [pListing, pRun](const SinkEvent& e, const BYTE*) { pListing->OnEvent(*pRun, e); });
    *pSink = {pRecordingSink->AsBaseFilter(), pRecordingSink->InputPin()};
    m_RecordingSinks.push_back(std::move(pRecordingSink));
    return S_OK;
  }

  Listing* const m_pListing;
  const bool m_bQuiet;
  std::vector<std::unique_ptr<PinRun>> m_Runs;
  std::vector<ComPtr<CRecordingSink>> m_RecordingSinks;
  std::vector<ComPtr<CPayloadSink>> m_PayloadSinks;  // when quiet
};

// Reads and bytes read through the tool's reader.
struct ReadCounts {
  uint64_t cReads = 0;
  uint64_t cbRead = 0;
};

ReadCounts CountsOf(const FilterSession& session) {
  return {session.Reader()->ReadCount(), session.Reader()->BytesRead()};
}

void PrintStats(const ReadCounts& scan, const ReadCounts& play) {
  if (!FilterSession::kReaderFeedsGraph) {
    std::fprintf(stderr, "stats: not available: the platform's file source reads the file\n");
    return;
  }
  std::fprintf(stderr,
               "stats: scan_reads=%" PRIu64 " scan_bytes=%" PRIu64 " reads=%" PRIu64
               " bytes=%" PRIu64 "\n",
               scan.cReads, scan.cbRead, play.cReads, play.cbRead);
}

void PrintSummary(const PacketsOptions& options, const PacketSinks& sinks, double seconds) {
  if (options.bJson && options.bQuiet) {
    Json j = {{"type", "summary"}, {"seconds", seconds}, {"pins", Json::array()}};
    for (const auto& run : sinks.Runs()) {
      j["pins"].push_back({{"pin", run->name},
                           {"samples", run->cSamples.load()},
                           {"bytes", run->cbSamples.load()},
                           {"eos", run->bEndOfStream.load()}});
    }
    std::printf("%s\n", j.dump().c_str());
  } else if (!options.bJson) {
    uint64_t cbTotal = 0;
    for (const auto& run : sinks.Runs()) {
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
}

// Plays the connected graph; *pSeconds is how long it took.
HRESULT PlayListed(FilterSession& session, Listing& listing, PacketSinks& sinks, bool bQuiet,
                   double* pSeconds) {
  session.Reader()->ResetCounters();
  const auto started = std::chrono::steady_clock::now();
  std::function<void()> onTick;
  if (bQuiet) onTick = [&sinks] { sinks.PollQuietEnds(true); };
  const HRESULT hr = session.Play(onTick, 20);
  listing.Close();
  *pSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  sinks.PollQuietEnds(false);
  sinks.ReleaseSinks();
  return hr;
}

int RunPackets(const PacketsOptions& options) {
  const std::string& file = options.file;
  FilterSession session;
  std::vector<const OutputPinInfo*> pins;
  if (!OpenAndSelectPins(file, options.play, &session, &pins)) return 1;
  const ReadCounts scan = CountsOf(session);

  Listing listing(&session, options.bJson, options.play.cCount.value_or(0));
  PacketSinks sinks(&listing, options.bQuiet);
  const MakeSink makeSink = [&sinks](const OutputPinInfo& pin, SinkInput* pSink,
                                     SessionError* pError) {
    return sinks.Add(pin, pSink, pError);
  };
  if (!ConnectSinks(file, session, pins, options.play, makeSink, PacketSinks::ConnectProblemFor))
    return 1;
  double seconds = 0;
  const HRESULT hr = PlayListed(session, listing, sinks, options.bQuiet, &seconds);
  if (options.bStats) PrintStats(scan, CountsOf(session));
  if (FAILED(hr)) {
    ReportFileError(file, "playback failed", hr);
    return 1;
  }
  PrintSummary(options, sinks, seconds);
  return 0;
}

}  // namespace

void RegisterPacketsCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand(
      "packets",
      "Play an FLV file through the filter and list the samples each output pin delivers");
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

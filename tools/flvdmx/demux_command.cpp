#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "commands.h"
#include "file_error.h"
#include "filter_session.h"
#include "payload_sink.h"
#include "play_options.h"
#include "stream_writers.h"

namespace flvdmx::cli {

namespace {

const char kDemuxFooter[] = R"(Plays the file through the filter's output pins and writes each stream to
DIR in its standard raw form, named after the pin:
  H.264  video.h264  Annex B, parameter sets before the first and every key frame
  H.265  video.h265  likewise
  AAC    audio.aac   ADTS
  MP3    audio.mp3   as delivered (MPEG Layer I/II: audio.mp2)
  PCM    audio.wav   RIFF WAVE
Streams without a standard raw form (Sorenson H.263, screen video, VP6,
Nellymoser, Speex) are written as their raw payloads (video.s263,
video.fsv1, video.fsv2, video.vp6f, audio.nelly, audio.speex) with a JSON
Lines index beside them (same name + .jsonl): {"time","size","key"} per
sample, time in 100 ns units as the sample carries it.
--start and --stop go through IMediaSeeking::SetPositions before playback.
A progress bar goes to stderr when it is a terminal and the run takes more
than a moment.
Exit status: 0; 1 when the file cannot be opened, is not FLV, has no
playable stream, an option is out of range, or a stream cannot be played or
written (with a line on stderr naming the problem and its result code).)";

constexpr auto kProgressDelay = std::chrono::milliseconds(500);
constexpr int kProgressWidth = 40;

struct DemuxOptions {
  std::string file;
  std::string dir;
  PlayOptions play;
};

bool IsTerminal(std::FILE* pFile) {
#ifdef _WIN32
  return _isatty(_fileno(pFile)) != 0;
#else
  return isatty(fileno(pFile)) != 0;
#endif
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// One pin's writer and how far its stream has come, shared by the pin's
// delivery thread (writes) and the main thread (progress, summary).
struct PinOutput {
  std::string name;
  std::unique_ptr<StreamWriter> writer;
  std::atomic<REFERENCE_TIME> tReached{0};
  std::atomic<bool> bFailed{false};
};

// "\r[#########...........]  45%   5.4 s of 12.0 s" on stderr.
class ProgressBar {
 public:
  ProgressBar(REFERENCE_TIME tSpan) : m_tSpan(tSpan), m_bEnabled(IsTerminal(stderr)) {}

  void Update(REFERENCE_TIME tReached) {
    if (!m_bEnabled || m_tSpan <= 0) return;
    if (std::chrono::steady_clock::now() - m_Started < kProgressDelay) return;
    const double fraction = std::clamp(static_cast<double>(tReached) / static_cast<double>(m_tSpan), 0.0, 1.0);
    const int filled = static_cast<int>(fraction * kProgressWidth);
    std::fprintf(stderr, "\r[%s%s] %3d%% %7.1f s of %.1f s", std::string(filled, '#').c_str(),
                 std::string(kProgressWidth - filled, '.').c_str(), static_cast<int>(fraction * 100),
                 static_cast<double>(tReached) / 1e7, static_cast<double>(m_tSpan) / 1e7);
    std::fflush(stderr);
    m_bShown = true;
  }

  void Done() {
    if (m_bShown) std::fprintf(stderr, "\r%*s\r", kProgressWidth + 30, "");
  }

 private:
  const REFERENCE_TIME m_tSpan;
  const bool m_bEnabled;
  bool m_bShown = false;
  const std::chrono::steady_clock::time_point m_Started = std::chrono::steady_clock::now();
};

int RunDemux(const DemuxOptions& options) {
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
  std::error_code ec;
  std::filesystem::create_directories(options.dir, ec);
  if (ec || !std::filesystem::is_directory(options.dir)) {
    ReportFileError(file, "cannot create the output folder " + options.dir, E_ACCESSDENIED);
    return 1;
  }

  std::vector<std::unique_ptr<PinOutput>> outputs;
  std::vector<CPayloadSink*> sinks;  // one reference each
  auto releaseSinks = [&sinks] {
    for (CPayloadSink* pSink : sinks) pSink->Release();
    sinks.clear();
  };
  for (const OutputPinInfo* pPin : pins) {
    auto output = std::make_unique<PinOutput>();
    output->name = pPin->name;
    std::string problem;
    output->writer = CreateStreamWriter(pPin->mt, options.dir, Lower(pPin->name), &problem);
    if (!output->writer) {
      releaseSinks();
      ReportFileError(file, "cannot write the " + pPin->name + " stream: " + problem, E_FAIL);
      return 1;
    }
    CPayloadSink* pSink = nullptr;
    HRESULT hr = CPayloadSink::Create(&pSink);
    if (SUCCEEDED(hr)) {
      sinks.push_back(pSink);
      PinOutput* pOutput = output.get();
      pSink->SetSampleCallback([pOutput](const CPayloadSink::Sample& sample) -> HRESULT {
        if (pOutput->bFailed) return E_FAIL;
        if (!pOutput->writer->Write(sample.pData, sample.cb, sample.tStart, sample.bSyncPoint)) {
          pOutput->bFailed = true;
          return E_FAIL;
        }
        if (sample.tStart > pOutput->tReached) pOutput->tReached = sample.tStart;
        return S_OK;
      });
      hr = session.ConnectSink(pPin->pPin, pSink->AsBaseFilter(), pSink->InputPin());
    }
    if (FAILED(hr)) {
      releaseSinks();
      ReportFileError(file, "cannot connect a sink to the " + pPin->name + " pin", hr);
      return 1;
    }
    outputs.push_back(std::move(output));
  }
  if (!ApplyPositions(session, options.play, &error)) {
    releaseSinks();
    ReportFileError(file, error.problem, error.hr);
    return 1;
  }

  // The span the progress bar measures: from the start to the stop or the
  // end of the file, in the samples' own (segment-relative) times.
  REFERENCE_TIME tSpan = 0;
  IMediaSeeking* pSeeking = nullptr;
  if (SUCCEEDED(session.GetSeeking(&pSeeking))) {
    LONGLONG llDuration = 0;
    pSeeking->GetDuration(&llDuration);
    const REFERENCE_TIME tStart = options.play.llStartMs.value_or(0) * 10000;
    const REFERENCE_TIME tStop = options.play.llStopMs ? std::min<REFERENCE_TIME>(*options.play.llStopMs * 10000, llDuration) : llDuration;
    tSpan = tStop - tStart;
    pSeeking->Release();
  }
  ProgressBar progress(tSpan);
  HRESULT hr = session.Play(
      [&] {
        REFERENCE_TIME tReached = tSpan;
        bool bFailed = false;
        for (size_t i = 0; i < outputs.size(); ++i) {
          // A stream that has ended is complete; the others hold the bar back.
          if (!sinks[i]->IsEndOfStream()) tReached = std::min<REFERENCE_TIME>(tReached, outputs[i]->tReached);
          bFailed = bFailed || outputs[i]->bFailed;
        }
        progress.Update(tReached);
        // A writer that failed refuses its pin's samples, so that pin never
        // ends its stream: the run is over.
        if (bFailed) session.RequestEnd();
      },
      100);
  progress.Done();
  releaseSinks();

  bool bWriteFailed = false;
  for (auto& output : outputs) {
    if (!output->writer->Finish() || output->bFailed) {
      ReportFileError(file, "cannot write the " + output->name + " stream: " + output->writer->Error(), E_FAIL);
      bWriteFailed = true;
    }
  }
  if (FAILED(hr)) {
    ReportFileError(file, "playback failed", hr);
    return 1;
  }
  if (bWriteFailed) return 1;

  for (const auto& output : outputs) {
    const StreamWriter& w = *output->writer;
    std::printf("%s: %" PRIu64 " samples -> %s (%s)", output->name.c_str(), w.SampleCount(),
                w.Files().front().c_str(), w.Kind().c_str());
    for (size_t i = 1; i < w.Files().size(); ++i) std::printf(", index %s", w.Files()[i].c_str());
    if (w.MalformedCount() != 0)
      std::printf("; %" PRIu64 " samples did not match their framing", w.MalformedCount());
    std::printf("\n");
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace

void RegisterDemuxCommand(CLI::App& app, int* exit_code) {
  auto* cmd = app.add_subcommand(
      "demux", "Play an FLV file through the filter and write each stream to a raw file");
  auto options = std::make_shared<DemuxOptions>();
  cmd->add_option("FILE", options->file, "FLV file")->required();
  cmd->add_option("-o,--output", options->dir, "Folder for the stream files (made if missing)")
      ->required();
  AddPlayOptions(cmd, &options->play, false);
  cmd->footer(kDemuxFooter);
  cmd->callback([options, exit_code] { *exit_code = RunDemux(*options); });
}

}  // namespace flvdmx::cli

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/com_ptr.h"
#include "commands.h"
#include "file_error.h"
#include "filter_session.h"
#include "payload_sink.h"
#include "play_options.h"
#include "play_session.h"
#include "progress_bar.h"
#include "stream_writers.h"

namespace flvdmx::cli {

namespace {

const char kDemuxFooter[] =
    R"(Plays the file through the filter's output pins and writes each stream to
DIR in its standard raw form, named after the pin:
  H.264  video.h264  Annex B, parameter sets before the first and every key frame
  H.265  video.h265  likewise
  AAC    audio.aac   ADTS
  MP3    audio.mp3   as delivered (MPEG Layer I/II: audio.mp2)
  PCM    audio.wav   RIFF WAVE
  AV1    video.obu   low-overhead OBUs, a temporal delimiter before each
                     temporal unit (--ivf: video.ivf)
  VP9    video.ivf   IVF; VP8 likewise
  Opus   audio.opus  Ogg (not in builds without libogg)
  FLAC   audio.flac  fLaC, the metadata blocks, the frames
  AC-3   audio.ac3   as delivered; E-AC-3 audio.eac3
Pins past the first of a kind ("Audio 2") write audio2.*, and so on.
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

struct DemuxOptions {
  std::string file;
  std::string dir;
  PlayOptions play;
  WriterOptions writers;
};

// "Audio 2" -> "audio2": a file name without spaces.
std::string FileBaseName(const std::string& pin) {
  std::string text;
  for (char c : pin)
    if (c != ' ') text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return text;
}

// One pin's writer and how far its stream has come, shared by the pin's
// delivery thread (writes) and the main thread (progress, summary).
struct PinOutput {
  std::string name;
  std::unique_ptr<StreamWriter> writer;
  std::atomic<REFERENCE_TIME> tReached{0};
  std::atomic<bool> bFailed{false};

  // On the delivery thread: a writer that failed refuses every later sample.
  HRESULT Take(const CPayloadSink::Sample& sample) {
    if (bFailed) return E_FAIL;
    if (!writer->Write(sample.pData, sample.cb, sample.tStart, sample.bSyncPoint)) {
      bFailed = true;
      return E_FAIL;
    }
    if (sample.tStart > tReached) tReached = sample.tStart;
    return S_OK;
  }
};

// The pins' writers and their sinks, in pin order. Holds one reference on
// each sink until the playback is over.
class DemuxOutputs {
 public:
  DemuxOutputs(std::string dir, const WriterOptions& options)
      : m_Dir(std::move(dir)), m_Options(options) {}

  // Makes the writer and the sink for one pin (a MakeSink).
  bool Add(const OutputPinInfo& pin, SinkInput* pSink, SessionError* pError) {
    auto output = std::make_unique<PinOutput>();
    output->name = pin.name;
    std::string problem;
    output->writer = CreateStreamWriter(pin.mt, m_Dir, FileBaseName(pin.name), m_Options, &problem);
    if (!output->writer) {
      *pError = {"cannot write the " + pin.name + " stream: " + problem, E_FAIL};
      return false;
    }
    ComPtr<CPayloadSink> pPayloadSink;
    const HRESULT hr = CPayloadSink::Create(pPayloadSink.Put());
    if (FAILED(hr)) {
      *pError = {ConnectProblemFor(pin), hr};
      return false;
    }
    PinOutput* pOutput = output.get();
    pPayloadSink->SetSampleCallback(
        [pOutput](const CPayloadSink::Sample& sample) { return pOutput->Take(sample); });
    *pSink = {pPayloadSink->AsBaseFilter(), pPayloadSink->InputPin()};
    m_Sinks.push_back(std::move(pPayloadSink));
    m_Outputs.push_back(std::move(output));
    return true;
  }

  static std::string ConnectProblemFor(const OutputPinInfo& pin) {
    return "cannot connect a sink to the " + pin.name + " pin";
  }

  // The time every stream has reached; a stream that has ended is complete,
  // the others hold it back. *pbFailed when a writer failed.
  REFERENCE_TIME Reached(REFERENCE_TIME tSpan, bool* pbFailed) const {
    REFERENCE_TIME tReached = tSpan;
    *pbFailed = false;
    for (size_t i = 0; i < m_Outputs.size(); ++i) {
      if (!m_Sinks[i]->IsEndOfStream())
        tReached = std::min<REFERENCE_TIME>(tReached, m_Outputs[i]->tReached);
      *pbFailed = *pbFailed || m_Outputs[i]->bFailed;
    }
    return tReached;
  }

  void ReleaseSinks() { m_Sinks.clear(); }
  const std::vector<std::unique_ptr<PinOutput>>& Outputs() const { return m_Outputs; }

 private:
  const std::string m_Dir;
  const WriterOptions m_Options;
  std::vector<std::unique_ptr<PinOutput>> m_Outputs;
  std::vector<ComPtr<CPayloadSink>> m_Sinks;
};

bool MakeOutputFolder(const std::string& file, const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!ec && std::filesystem::is_directory(dir)) return true;
  ReportFileError(file, "cannot create the output folder " + dir, E_ACCESSDENIED);
  return false;
}

// The span the progress bar measures: from the start to the stop or the end
// of the file, in the samples' own (segment-relative) times.
REFERENCE_TIME ProgressSpan(FilterSession& session, const PlayOptions& play) {
  ComPtr<IMediaSeeking> pSeeking;
  if (FAILED(session.GetSeeking(pSeeking.Put()))) return 0;
  LONGLONG llDuration = 0;
  pSeeking->GetDuration(&llDuration);
  const REFERENCE_TIME tStart = play.llStartMs.value_or(0) * 10000;
  const REFERENCE_TIME tStop =
      play.llStopMs ? std::min<REFERENCE_TIME>(*play.llStopMs * 10000, llDuration) : llDuration;
  return tStop - tStart;
}

HRESULT PlayWithProgress(FilterSession& session, DemuxOutputs& outputs, const PlayOptions& play) {
  const REFERENCE_TIME tSpan = ProgressSpan(session, play);
  ProgressBar progress(tSpan);
  const HRESULT hr = session.Play(
      [&] {
        bool bFailed = false;
        progress.Update(outputs.Reached(tSpan, &bFailed));
        // A writer that failed refuses its pin's samples, so that pin never
        // ends its stream: the run is over.
        if (bFailed) session.RequestEnd();
      },
      100);
  progress.Done();
  outputs.ReleaseSinks();
  return hr;
}

// Completes the files and reports what failed; true when nothing did.
bool FinishWriters(const std::string& file, const DemuxOutputs& outputs) {
  bool bOk = true;
  for (const auto& output : outputs.Outputs()) {
    if (!output->writer->Finish() || output->bFailed) {
      ReportFileError(
          file, "cannot write the " + output->name + " stream: " + output->writer->Error(), E_FAIL);
      bOk = false;
    }
  }
  return bOk;
}

void PrintSummary(const DemuxOutputs& outputs) {
  for (const auto& output : outputs.Outputs()) {
    const StreamWriter& w = *output->writer;
    std::printf("%s: %" PRIu64 " samples -> %s (%s)", output->name.c_str(), w.SampleCount(),
                w.Files().front().c_str(), w.Kind().c_str());
    for (size_t i = 1; i < w.Files().size(); ++i) std::printf(", index %s", w.Files()[i].c_str());
    if (w.MalformedCount() != 0)
      std::printf("; %" PRIu64 " samples did not match their framing", w.MalformedCount());
    std::printf("\n");
  }
  std::fflush(stdout);
}

int RunDemux(const DemuxOptions& options) {
  const std::string& file = options.file;
  FilterSession session;
  std::vector<const OutputPinInfo*> pins;
  if (!OpenAndSelectPins(file, options.play, &session, &pins)) return 1;
  if (!MakeOutputFolder(file, options.dir)) return 1;
  DemuxOutputs outputs(options.dir, options.writers);
  const MakeSink makeSink = [&outputs](const OutputPinInfo& pin, SinkInput* pSink,
                                       SessionError* pError) {
    return outputs.Add(pin, pSink, pError);
  };
  if (!ConnectSinks(file, session, pins, options.play, makeSink, DemuxOutputs::ConnectProblemFor))
    return 1;
  const HRESULT hr = PlayWithProgress(session, outputs, options.play);
  const bool bWritten = FinishWriters(file, outputs);
  if (FAILED(hr)) {
    ReportFileError(file, "playback failed", hr);
    return 1;
  }
  if (!bWritten) return 1;
  PrintSummary(outputs);
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
  cmd->add_flag("--ivf", options->writers.bAv1Ivf, "Write AV1 as .ivf rather than .obu");
  cmd->footer(kDemuxFooter);
  cmd->callback([options, exit_code] { *exit_code = RunDemux(*options); });
}

}  // namespace flvdmx::cli

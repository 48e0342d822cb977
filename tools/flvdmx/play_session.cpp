#include "play_session.h"

#include "file_error.h"

namespace flvdmx::cli {

namespace {

bool Report(const std::string& file, const SessionError& error) {
  ReportFileError(file, error.problem, error.hr);
  return false;
}

}  // namespace

bool OpenAndSelectPins(const std::string& file, const PlayOptions& options, FilterSession* pSession,
                       std::vector<const OutputPinInfo*>* pPins) {
  SessionError error;
  if (!pSession->Open(file, &error)) return Report(file, error);
  if (!SelectPins(*pSession, options.pins, pPins, &error)) return Report(file, error);
  return true;
}

bool ConnectSinks(const std::string& file, FilterSession& session,
                  const std::vector<const OutputPinInfo*>& pins, const PlayOptions& options,
                  const MakeSink& makeSink, const ConnectProblem& connectProblem) {
  SessionError error;
  for (const OutputPinInfo* pPin : pins) {
    SinkInput sink;
    if (!makeSink(*pPin, &sink, &error)) return Report(file, error);
    const HRESULT hr = session.ConnectSink(pPin->pPin.Get(), sink.pFilter, sink.pInput);
    if (FAILED(hr)) return Report(file, {connectProblem(*pPin), hr});
  }
  if (!ApplyPositions(session, options, &error)) return Report(file, error);
  return true;
}

}  // namespace flvdmx::cli

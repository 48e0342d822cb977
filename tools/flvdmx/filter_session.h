// FilterSession: the graph the `probe`, `packets` and `demux` commands play
// a file through: a file source connected to the Orvex FLV Demultiplexer,
// whose output pins the command then connects to sinks of its own.
// Everything the session and the commands do goes through the public
// interfaces (pins, media types, IMediaSeeking, the graph), as an application
// would; the one exception, naming the codecs of a file without a playable
// stream, lives in unplayable_stream.h.
//   - Linux: the host's graph and file source (over a counting reader), and
//     the filter from the host's class table.
//   - Windows: the platform's graph (CLSID_FilterGraph), its file source
//     picked by IGraphBuilder::AddSourceFilter through the registered
//     extension and check bytes, and the filter created from its
//     registration (or the copy linked into the tool, when tracing).
//
// Ownership and lifetime: one per command run; holds one reference on the
// graph, the source, the filter, the reader and every output pin it lists,
// and lets go of them (graph stopped, pins disconnected) when it goes.
// Used from the command's thread only, except RequestEnd.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "baseclasses/mediatype.h"
#include "counting_reader.h"
#ifndef _WIN32
#include "host/file_source.h"
#include "host/graph.h"
#endif
#include "platform/dshow.h"

namespace flvdmx::cli {

// What went wrong, for ReportFileError: the problem in words and the result.
struct SessionError {
  std::string problem;
  HRESULT hr = S_OK;
};

struct OutputPinInfo {
  ComPtr<IPin> pPin;
  std::string name;  // "Video", "Audio"
  CMediaType mt;     // the pin's offer
};

class FilterSession {
 public:
  FilterSession() = default;
  ~FilterSession();
  FilterSession(const FilterSession&) = delete;
  FilterSession& operator=(const FilterSession&) = delete;

  // Opens `file`, makes the filter and connects the source to it (the filter
  // scans the file then). False with *pError when the file cannot be opened,
  // is not FLV, cannot be read as FLV, or has no playable stream.
  bool Open(const std::string& file, SessionError* pError);

  const std::vector<OutputPinInfo>& OutputPins() const { return m_Pins; }

  // Connects an output pin of the filter to a sink's input pin.
  HRESULT ConnectSink(IPin* pOutput, IBaseFilter* pSink, IPin* pSinkInput);

  // The seeking an application uses once the sinks are connected, with a
  // reference: the platform graph's IMediaSeeking on Windows (it reaches the
  // filter through the sinks); on Linux that of the output pin feeding the
  // first sink (the pin whose position calls the filter applies).
  HRESULT GetSeeking(IMediaSeeking** ppSeeking);
  // IMediaSeeking of any output pin, for the queries every pin answers
  // (duration) before anything is connected.
  HRESULT GetAnySeeking(IMediaSeeking** ppSeeking);

  // Runs the graph until every sink has reported end-of-stream, RequestEnd
  // was called, or the graph aborted, then stops it. onTick (may be empty)
  // runs on this thread about every dwTickMs while it waits. S_OK when the
  // run completed or was ended; the graph's failure when it could not run;
  // the reported failure when a stream aborted; otherwise the first read of
  // the run that failed or came back short (CCountingReader), since the
  // filter ends its streams on those as on the end of the file.
  HRESULT Play(const std::function<void()>& onTick, DWORD dwTickMs);
  // Ends Play's wait; callable from any thread (a sink's streaming thread).
  void RequestEnd();

  // The counting reader the filter reads through, so its counts are the
  // filter's reads: over the tool's own file reader, which is the graph's
  // byte source on Linux; on Windows over the platform's file source's
  // reader once Open connected it (CCountingSourcePin), before that the
  // tool's own.
  CCountingReader* Reader() const { return m_pReader.Get(); }
  static constexpr bool kReaderFeedsGraph = true;

 private:
  // Play on this platform's graph, without the reader's verdict.
  HRESULT RunGraph(const std::function<void()>& onTick, DWORD dwTickMs);
  // Opens the file through the tool's reader and checks its first bytes.
  bool OpenFile(const std::string& file, SessionError* pError);
  // Turns a failed connection of the source to the filter into the error.
  SessionError DescribeConnectFailure(HRESULT hr) const;
  // Lists the filter's output pins with their offers; false with *pError
  // when there are none.
  bool ListOutputPins(SessionError* pError);
  // Adds one pin to the list when it is an output pin.
  void AddIfOutput(ComPtr<IPin> pPin);

  ComPtr<CCountingReader> m_pReader;
  ComPtr<IBaseFilter> m_pFilter;
  std::vector<OutputPinInfo> m_Pins;
#ifdef _WIN32
  ComPtr<IGraphBuilder> m_pBuilder;
  ComPtr<IMediaControl> m_pControl;
  ComPtr<IMediaEvent> m_pEvent;
  ComPtr<IBaseFilter> m_pSource;
  std::atomic<bool> m_bEndRequested{false};
  int m_cSinks = 0;
#else
  ComPtr<CHostGraph> m_pGraph;
  ComPtr<CFileSource> m_pSource;
#endif
};

// The first pin of the filter in that direction, or null.
ComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION direction);

}  // namespace flvdmx::cli

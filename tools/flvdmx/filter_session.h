// FilterSession: the graph the `probe`, `packets` and `demux` commands play
// a file through: the host's file source (over a counting reader) connected
// to the Orvex FLV Demultiplexer, whose output pins the command then connects
// to sinks of its own. Everything the commands do goes through the public
// interfaces (pins, IMediaSeeking, the graph), as an application would.
//
// Ownership and lifetime: one per command run; holds one reference on the
// graph, the source, the filter, the reader and every output pin it lists,
// and lets go of them (graph stopped, pins disconnected) when it goes.
// Used from the command's thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "baseclasses/mediatype.h"
#include "counting_reader.h"
#include "host/file_source.h"
#include "host/graph.h"
#include "platform/dshow.h"

namespace flvdmx::cli {

// What went wrong, for ReportFileError: the problem in words and the result.
struct SessionError {
  std::string problem;
  HRESULT hr = S_OK;
};

struct OutputPinInfo {
  IPin* pPin = nullptr;  // one reference
  std::string name;      // "Video", "Audio"
  CMediaType mt;         // the pin's offer
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
  // The output pin of that name, or null.
  const OutputPinInfo* FindPin(const std::string& name) const;

  // Connects an output pin of the filter to a sink's input pin.
  HRESULT ConnectSink(IPin* pOutput, IBaseFilter* pSink, IPin* pSinkInput);

  // The IMediaSeeking of the output pin that feeds the first sink (the pin
  // whose seeking calls the filter applies), with a reference. Ask once the
  // sinks are connected: a connection forgets which pin that is.
  HRESULT GetSeeking(IMediaSeeking** ppSeeking);
  // IMediaSeeking of any output pin, for the queries every pin answers
  // (duration) before anything is connected.
  HRESULT GetAnySeeking(IMediaSeeking** ppSeeking);

  // Runs the graph until every sink has reported end-of-stream, RequestEnd
  // was called, or the graph aborted, then stops it. onTick (may be empty)
  // runs on this thread about every dwTickMs while it waits. S_OK when the
  // run completed or was ended; the graph's failure when it could not run;
  // the reported failure when a stream aborted.
  HRESULT Play(const std::function<void()>& onTick, DWORD dwTickMs);
  // Ends Play's wait; callable from any thread (a sink's streaming thread).
  void RequestEnd();

  CHostGraph* Graph() const { return m_pGraph; }
  CCountingReader* Reader() const { return m_pReader; }

 private:
  // Names the reason a file gave no output pin, from its first audio and
  // video tags.
  SessionError DescribeNoPlayableStream() const;

  CHostGraph* m_pGraph = nullptr;
  CCountingReader* m_pReader = nullptr;
  CFileSource* m_pSource = nullptr;
  IBaseFilter* m_pFilter = nullptr;
  std::vector<OutputPinInfo> m_Pins;
};

// Creates the Orvex FLV Demultiplexer: through CoCreateInstance where the host
// serves it, else through the module's own class factory.
HRESULT CreateFlvFilter(IBaseFilter** ppFilter);

// "{73646976-0000-0010-8000-00AA00389B71}"
std::string GuidText(const GUID& guid);

// "Video" from a pin's wide name (pin names are ASCII).
std::string NarrowName(const wchar_t* pName);

}  // namespace flvdmx::cli

// CRecordingSink: a renderer-like sink filter with one input pin ("Input",
// IMemInputPin) that accepts any media type and records what reaches it:
// new segments, samples (their times as the sample carries them, sync point,
// discontinuity, preroll, actual length and a CRC-32 of the payload), begin
// and end of flush, and end-of-stream. A callback sees each event as it is
// recorded (the CLI prints them live). It reports end-of-stream to the graph
// (EC_COMPLETE through the graph's event sink) once per run: the first
// end-of-stream while paused or running and not flushing; a flush or a stop
// re-arms it. End-of-stream while stopped (or stopping) or flushing is
// recorded as ignored and answered S_OK, as a renderer does.
//
// Three ways to push back on the upstream filter: a delay per sample (sleeps
// inside Receive), refusing samples with a failure, and holding samples (each accepted sample keeps
// one reference until ReleaseHeldSamples, a flush, a stop or a disconnection, so the upstream
// allocator runs dry).
//
// Portable: used inside the host graph on Linux and inside the platform's
// graph on Windows.
//
// Ownership and lifetime: made with one reference for the caller (Create).
// The pin is a member and shares the filter's reference count. Held samples
// are released at the latest when the pin disconnects or the filter goes.
//
// Threads and locks: Receive, NewSegment and EndOfStream come on the upstream
// filter's streaming thread; flushes and state changes on the graph's
// thread. The record (events, counters, held samples, callback) has a leaf
// lock of its own; the callback runs under it, so it must not call back into
// the sink. The filter's state lock is the pin lock, as in the base layer;
// the streaming calls never take it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/com_ptr.h"
#include "baseclasses/critsec.h"
#include "baseclasses/filter.h"
#include "host/sink_filter.h"
#include "baseclasses/input_pin.h"
#include "platform/dshow.h"

namespace flvdmx {

// {6F1C2A11-5B7E-4C1D-9E3A-2B8F4D6A7C01}
inline constexpr CLSID CLSID_HostRecordingSink = {
    0x6F1C2A11, 0x5B7E, 0x4C1D, {0x9E, 0x3A, 0x2B, 0x8F, 0x4D, 0x6A, 0x7C, 0x01}};

// One thing that reached the sink, in arrival order.
struct SinkEvent {
  enum Kind { kNewSegment, kSample, kBeginFlush, kEndFlush, kEndOfStream };

  Kind kind = kSample;
  // kNewSegment: the segment. kSample: the sample's times; hrTime is what
  // IMediaSample::GetTime answered (S_OK, VFW_S_NO_STOP_TIME, or
  // VFW_E_SAMPLE_TIME_NOT_SET with both times 0).
  REFERENCE_TIME tStart = 0;
  REFERENCE_TIME tStop = 0;
  double dRate = 0.0;
  HRESULT hrTime = S_OK;
  // kSample.
  bool bSyncPoint = false;
  bool bDiscontinuity = false;
  bool bPreroll = false;
  LONG lActual = 0;
  uint32_t dwCrc32 = 0;
  // kEndOfStream: true when it came while stopped, flushing, or after the
  // run's first one, and so was not reported to the graph.
  bool bIgnored = false;
};

class CRecordingSink : public CSinkFilter {
 public:
  // Sees each event as it is recorded; pPayload is the sample's data
  // (lActual bytes) for kSample, else null. Called under the record lock.
  using EventCallback = std::function<void(const SinkEvent& event, const BYTE* pPayload)>;

  // E_POINTER, E_OUTOFMEMORY.
  static HRESULT Create(CRecordingSink** ppSink);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // Set before streaming starts.
  void SetEventCallback(EventCallback callback);
  void SetSampleDelay(std::chrono::milliseconds delay);
  void SetHoldSamples(bool bHold);
  // Without checksums every sample records a CRC-32 of 0 (the default is on);
  // for callers that play many files and compare no payloads.
  void SetChecksums(bool bChecksums);
  // Without a record the events only reach the callback and Events() stays
  // empty (the default is on); for callers that never look back at them.
  void SetRecordEvents(bool bRecord);
  // After cAccepted samples, Receive answers hr for every further one, as a
  // decoder that refuses what it is given (S_OK: never).
  void SetRefusal(uint64_t cAccepted, HRESULT hr);
  // Lets go of every held sample.
  void ReleaseHeldSamples();

  std::vector<SinkEvent> Events();
  // Samples accepted since the sink was made.
  uint64_t SampleCount();
  // End-of-stream reported to the graph in the current run.
  bool IsEndOfStream();
  int HeldSampleCount();

  // The pin without a reference.
  IPin* InputPin();
  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }

 private:
  class CSinkPin;

  IPin* SeekingInputPin() override { return InputPin(); }

  explicit CRecordingSink(HRESULT* phr);
  ~CRecordingSink() override;

  // Appends under the record lock and runs the callback.
  void Record(const SinkEvent& event, const BYTE* pPayload);
  // Forgets the end-of-stream of the run and lets go of held samples.
  void Rearm();
  // Between the pin's activation and inactivation; then Rearm.
  void SetStreaming(bool bStreaming);

  CCritSec m_Lock;
  std::mutex m_RecordMutex;
  std::vector<SinkEvent> m_Events;
  std::vector<ComPtr<IMediaSample>> m_Held;
  EventCallback m_Callback;
  std::chrono::milliseconds m_SampleDelay{0};
  bool m_bHoldSamples = false;
  std::atomic<bool> m_bChecksums{true};  // read by Receive without the record lock
  bool m_bRecordEvents = true;
  // A record is kept or a callback set; read by Receive without the lock.
  std::atomic<bool> m_bDescribe{true};
  uint64_t m_cRefuseAfter = 0;
  HRESULT m_hrRefusal = S_OK;
  bool m_bStreaming = false;  // the pin is active: a run is on
  bool m_bEndOfStream = false;
  uint64_t m_cSamples = 0;
  std::unique_ptr<CSinkPin> m_pPin;
};

}  // namespace flvdmx

// CPayloadSink: the tool's lean sink filter for `demux` and `packets --quiet`.
// Its one input pin ("Input") accepts any media type and hands each sample's
// payload, times and sync flag to a callback, without keeping a record or a
// checksum, so that playback costs what the filter costs. It reports
// end-of-stream to the graph (EC_COMPLETE) once per run, as a renderer does;
// a flush or a stop re-arms it.
//
// Ownership and lifetime: made with one reference for the caller (Create);
// the pin is a member and shares the filter's reference count.
//
// Threads and locks: Receive and EndOfStream come on the upstream filter's
// delivery thread (one thread per sink: each sink sits behind one output
// pin), flushes and state changes on the graph's thread. The callback runs on
// the delivery thread without any lock of the sink; set it before streaming.
// The filter's state lock is the pin lock; the streaming calls never take it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "baseclasses/critsec.h"
#include "baseclasses/filter.h"
#include "host/sink_filter.h"
#include "platform/dshow.h"

namespace flvdmx::cli {

class CPayloadSink : public CSinkFilter {
 public:
  struct Sample {
    REFERENCE_TIME tStart = 0;
    REFERENCE_TIME tStop = 0;
    bool bSyncPoint = false;
    const BYTE* pData = nullptr;
    size_t cb = 0;
  };
  // S_OK takes the sample; S_FALSE asks for no more (the upstream loop ends
  // without end-of-stream); a failure is returned to the upstream filter.
  using SampleCallback = std::function<HRESULT(const Sample& sample)>;

  // E_POINTER, E_OUTOFMEMORY.
  static HRESULT Create(CPayloadSink** ppSink);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  void SetSampleCallback(SampleCallback callback);

  uint64_t SampleCount() const { return m_cSamples.load(); }
  uint64_t ByteCount() const { return m_cbSamples.load(); }
  // End-of-stream arrived while the sink was running or paused, this run.
  bool IsEndOfStream() const { return m_bEndOfStream.load(); }

  IPin* InputPin();
  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }

 private:
  class CInputPin;

  IPin* SeekingInputPin() override { return InputPin(); }

  explicit CPayloadSink(HRESULT* phr);
  ~CPayloadSink() override;

  CCritSec m_Lock;
  SampleCallback m_Callback;
  std::atomic<uint64_t> m_cSamples{0};
  std::atomic<uint64_t> m_cbSamples{0};
  std::atomic<bool> m_bEndOfStream{false};
  std::unique_ptr<CInputPin> m_pPin;
};

}  // namespace flvdmx::cli

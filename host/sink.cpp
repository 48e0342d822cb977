#include "host/sink.h"

#include <new>
#include <thread>

#include "diag/crc32.h"

namespace flvdmx {

// The sink's input pin: takes anything, records what arrives through the
// filter.
class CRecordingSink::CSinkPin : public CBaseInputPin {
 public:
  CSinkPin(CRecordingSink* pSink, HRESULT* phr)
      : CBaseInputPin(L"CRecordingSink::CSinkPin", pSink, &pSink->m_Lock, phr, L"Input"),
        m_pSink(pSink) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return pmt != nullptr ? S_OK : E_POINTER;
  }

  // What the sample carries, as its event records it; *ppData: its payload,
  // or null when the sample's lengths do not hold.
  SinkEvent Describe(IMediaSample* pSample, BYTE** ppData) {
    SinkEvent event;
    event.kind = SinkEvent::kSample;
    event.hrTime = pSample->GetTime(&event.tStart, &event.tStop);
    if (FAILED(event.hrTime)) event.tStart = event.tStop = 0;
    event.bSyncPoint = pSample->IsSyncPoint() == S_OK;
    event.bDiscontinuity = pSample->IsDiscontinuity() == S_OK;
    event.bPreroll = pSample->IsPreroll() == S_OK;
    event.lActual = pSample->GetActualDataLength();
    BYTE* pData = nullptr;
    if (FAILED(pSample->GetPointer(&pData)) || event.lActual < 0 ||
        event.lActual > pSample->GetSize())
      pData = nullptr;
    if (pData != nullptr && m_pSink->m_bChecksums)
      event.dwCrc32 = Crc32(pData, static_cast<size_t>(event.lActual));
    *ppData = pData;
    return event;
  }

  STDMETHODIMP Receive(IMediaSample* pSample) override {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    // An event nobody keeps or sees is not worth describing: the sample is
    // only counted.
    SinkEvent event;
    BYTE* pData = nullptr;
    if (m_pSink->m_bDescribe) event = Describe(pSample, &pData);

    std::chrono::milliseconds delay{0};
    {
      std::lock_guard<std::mutex> lock(m_pSink->m_RecordMutex);
      // A flush or a stop that began after the check above has been recorded
      // already (under this lock); the sample must not appear after it.
      if (IsFlushing() || !m_pSink->m_bStreaming) return IsFlushing() ? S_FALSE : VFW_E_WRONG_STATE;
      if (m_pSink->m_hrRefusal != S_OK && m_pSink->m_cSamples >= m_pSink->m_cRefuseAfter)
        return m_pSink->m_hrRefusal;
      ++m_pSink->m_cSamples;
      m_pSink->Record(event, pData);
      if (m_pSink->m_bHoldSamples) m_pSink->m_Held.emplace_back(pSample);
      delay = m_pSink->m_SampleDelay;
    }
    // Outside every lock: a flush or a stop must not wait for the nap.
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    return S_OK;
  }

  STDMETHODIMP EndOfStream() override {
    SinkEvent event;
    event.kind = SinkEvent::kEndOfStream;
    bool bReport = false;
    {
      std::lock_guard<std::mutex> lock(m_pSink->m_RecordMutex);
      event.bIgnored = !m_pSink->m_bStreaming || IsFlushing() || m_pSink->m_bEndOfStream;
      if (!event.bIgnored) m_pSink->m_bEndOfStream = bReport = true;
      m_pSink->Record(event, nullptr);
    }
    if (bReport) m_pSink->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
  }

  STDMETHODIMP BeginFlush() override {
    const HRESULT hr = CBaseInputPin::BeginFlush();
    m_pSink->Rearm();
    RecordPlain(SinkEvent::kBeginFlush);
    return hr;
  }

  STDMETHODIMP EndFlush() override {
    const HRESULT hr = CBaseInputPin::EndFlush();
    m_pSink->Rearm();
    RecordPlain(SinkEvent::kEndFlush);
    return hr;
  }

  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override {
    const HRESULT hr = CBaseInputPin::NewSegment(tStart, tStop, dRate);
    SinkEvent event;
    event.kind = SinkEvent::kNewSegment;
    event.tStart = tStart;
    event.tStop = tStop;
    event.dRate = dRate;
    std::lock_guard<std::mutex> lock(m_pSink->m_RecordMutex);
    m_pSink->Record(event, nullptr);
    return hr;
  }

  HRESULT Active() override {
    m_pSink->SetStreaming(true);
    return CBaseInputPin::Active();
  }

  HRESULT Inactive() override {
    // Before anything else: the filter's state says Stopped only once its
    // pins are inactive, and what arrives meanwhile belongs to no run.
    m_pSink->SetStreaming(false);
    // A peer that pushes nothing (a pull source) never gave an allocator;
    // that is no reason for the filter's Stop to fail.
    const HRESULT hr = CBaseInputPin::Inactive();
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
  }

  HRESULT BreakConnect() override {
    m_pSink->ReleaseHeldSamples();
    return CBaseInputPin::BreakConnect();
  }

 private:
  void RecordPlain(SinkEvent::Kind kind) {
    SinkEvent event;
    event.kind = kind;
    std::lock_guard<std::mutex> lock(m_pSink->m_RecordMutex);
    m_pSink->Record(event, nullptr);
  }

  CRecordingSink* const m_pSink;
};

CRecordingSink::CRecordingSink(HRESULT* phr)
    : CSinkFilter(L"CRecordingSink", &m_Lock, CLSID_HostRecordingSink) {
  m_pPin.reset(new (std::nothrow) CSinkPin(this, phr));
  if (!m_pPin && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CRecordingSink::~CRecordingSink() {
  ReleaseHeldSamples();
  m_pPin.reset();
}

HRESULT CRecordingSink::Create(CRecordingSink** ppSink) {
  if (ppSink == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  auto* pSink = new (std::nothrow) CRecordingSink(&hr);
  return HandOutNew(pSink, hr, ppSink);
}

int CRecordingSink::GetPinCount() { return 1; }

CBasePin* CRecordingSink::GetPin(int n) { return n == 0 ? m_pPin.get() : nullptr; }

IPin* CRecordingSink::InputPin() { return m_pPin.get(); }

void CRecordingSink::SetEventCallback(EventCallback callback) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_Callback = std::move(callback);
  m_bDescribe = m_bRecordEvents || m_Callback;
}

void CRecordingSink::SetSampleDelay(std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_SampleDelay = delay;
}

void CRecordingSink::SetHoldSamples(bool bHold) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_bHoldSamples = bHold;
}

void CRecordingSink::SetChecksums(bool bChecksums) { m_bChecksums = bChecksums; }

void CRecordingSink::SetRecordEvents(bool bRecord) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_bRecordEvents = bRecord;
  m_bDescribe = m_bRecordEvents || m_Callback;
}

void CRecordingSink::SetRefusal(uint64_t cAccepted, HRESULT hr) {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  m_cRefuseAfter = cAccepted;
  m_hrRefusal = hr;
}

void CRecordingSink::ReleaseHeldSamples() {
  std::vector<ComPtr<IMediaSample>> held;
  {
    std::lock_guard<std::mutex> lock(m_RecordMutex);
    held.swap(m_Held);
  }
  // Released here, outside the lock: a sample going back may wake the
  // upstream thread.
}

std::vector<SinkEvent> CRecordingSink::Events() {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  return m_Events;
}

uint64_t CRecordingSink::SampleCount() {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  return m_cSamples;
}

bool CRecordingSink::IsEndOfStream() {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  return m_bEndOfStream;
}

int CRecordingSink::HeldSampleCount() {
  std::lock_guard<std::mutex> lock(m_RecordMutex);
  return static_cast<int>(m_Held.size());
}

void CRecordingSink::Record(const SinkEvent& event, const BYTE* pPayload) {
  if (m_bRecordEvents) m_Events.push_back(event);
  if (m_Callback) m_Callback(event, pPayload);
}

void CRecordingSink::SetStreaming(bool bStreaming) {
  {
    std::lock_guard<std::mutex> lock(m_RecordMutex);
    m_bStreaming = bStreaming;
  }
  Rearm();
}

void CRecordingSink::Rearm() {
  {
    std::lock_guard<std::mutex> lock(m_RecordMutex);
    m_bEndOfStream = false;
  }
  ReleaseHeldSamples();
}

}  // namespace flvdmx

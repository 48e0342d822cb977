#include "support/toy_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <new>

#include "baseclasses/unknown.h"
#include "diag/crc32.h"
#include "framework/dmx_input_pin.h"
#include "platform/mediatypes.h"
#include "platform/thread.h"
#include "seeking/filter_seeking_id.h"

namespace flvdmx {

void WithDeadline(const char* what, std::chrono::seconds limit, const std::function<void()>& fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "\n%s did not return within %lld s: deadlock\n", what,
                 static_cast<long long>(limit.count()));
    std::abort();
  }
  worker.join();
}

std::vector<uint8_t> ToyLayout::MakeFile() const {
  std::vector<uint8_t> file(static_cast<size_t>(ChunkOffset(1, streams[1].cChunks)));
  for (size_t i = 0; i < file.size(); ++i)
    file[i] = static_cast<uint8_t>((static_cast<uint32_t>(i) * 0x9E3779B1u) >> 24);
  return file;
}

CTestReader::~CTestReader() {
  for (IMediaSample* pSample : m_Queued) pSample->Release();
  m_pInner->Release();
}

STDMETHODIMP CTestReader::QueryInterface(REFIID riid, void** ppv) {
  *ppv =
      riid == IID_IUnknown || riid == IID_IAsyncReader ? static_cast<IAsyncReader*>(this) : nullptr;
  if (*ppv == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CTestReader::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP CTestReader::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                                      DWORD_PTR* pdwUser) {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_Queued.empty()) {
      *ppSample = m_Queued.front();
      m_Queued.pop_front();
      *pdwUser = 0;
      if (m_bFlushing) ++cQueuedTakenWhileFlushing;
      return m_bFlushing ? VFW_E_WRONG_STATE : S_OK;
    }
  }
  return m_pInner->WaitForNext(dwTimeout, ppSample, pdwUser);
}

STDMETHODIMP CTestReader::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_bArmed && !m_bFlushing && llPosition <= m_llGate && lLength > 0 &&
        m_llGate - llPosition < lLength) {
      ++m_cBlocked;
      m_Changed.notify_all();
      m_Changed.wait(lock, [this] { return m_bFlushing || !m_bArmed; });
    }
    if (m_bFlushing) return VFW_E_WRONG_STATE;
  }
  return m_pInner->SyncRead(llPosition, lLength, pBuffer);
}

STDMETHODIMP CTestReader::BeginFlush() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++cBeginFlush;
    if (FAILED(m_hrBeginFlush)) return m_hrBeginFlush;
    m_bFlushing = true;
    m_Changed.notify_all();
  }
  return m_pInner->BeginFlush();
}

STDMETHODIMP CTestReader::EndFlush() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++cEndFlush;
    m_bFlushing = false;
  }
  return m_pInner->EndFlush();
}

void CTestReader::Open() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_bArmed = false;
  m_Changed.notify_all();
}

bool CTestReader::WaitUntilBlocked(int count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  return m_Changed.wait_for(lock, limit, [&] { return m_cBlocked >= count; });
}

namespace {

// {6F1C2A12-5B7E-4C1D-9E3A-2B8F4D6A7C01}
constexpr CLSID kToyClsid = {
    0x6F1C2A12, 0x5B7E, 0x4C1D, {0x9E, 0x3A, 0x2B, 0x8F, 0x4D, 0x6A, 0x7C, 0x01}};
const wchar_t* const kPinNames[2] = {L"Stream 0", L"Stream 1"};

int Slot(int iPin) { return iPin == 1 || iPin == 2 ? iPin : 0; }

}  // namespace

CToyDmx::CToyDmx(const ToyLayout& layout, HRESULT* phr)
    : CBaseDmx(kToyClsid, L"CToyDmx", nullptr, phr, 2), m_Layout(layout) {
  for (int s = 0; s < 2; ++s) m_Entries[static_cast<size_t>(s)].m_iStream = s;
  for (ToyEntry& e : m_Entries) e.m_cbChunk = layout.cbChunk;
}

HRESULT CToyDmx::Create(const ToyLayout& layout, CToyDmx** ppDmx) {
  HRESULT hr = S_OK;
  auto* pDmx = new (std::nothrow) CToyDmx(layout, &hr);
  if (pDmx == nullptr) return E_OUTOFMEMORY;
  pDmx->NonDelegatingAddRef();
  *ppDmx = pDmx;
  return hr;
}

STDMETHODIMP CToyDmx::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv != nullptr && riid == IID_IFilterSeeking)
    return QuerySeekingInterface(IID_IMediaSeeking, ppv);
  return CBaseDmx::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CToyDmx::PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) {
  if (iPin != 0) return CBaseDmx::PinCheckMediaType(iPin, pmt, pPin);
  return *pmt->Type() == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

HRESULT CToyDmx::PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) {
  if (iPin == 0) return CBaseDmx::PinGetMediaType(iPin, iPosition, pmt);
  CBaseDmxOutputPin* pPin = GetOutputPin(iPin - 1);
  if (pPin == nullptr || pPin->GetSampleEntry() == nullptr) return E_UNEXPECTED;
  if (iPosition < 0) return E_INVALIDARG;
  const auto it = m_Offers.find(iPin);
  if (it != m_Offers.end()) {
    if (static_cast<size_t>(iPosition) >= it->second.size()) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(it->second[static_cast<size_t>(iPosition)]);
  }
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  const bool bVideo = static_cast<ToyEntry*>(pPin->GetSampleEntry())->m_iStream == 0;
  const GUID subtype = FourccGuid(MakeFourcc('T', 'O', 'Y', bVideo ? 'V' : 'A'));
  pmt->InitMediaType();
  pmt->SetType(bVideo ? &MEDIATYPE_Video : &MEDIATYPE_Audio);
  pmt->SetSubtype(&subtype);
  pmt->SetSampleSize(m_Layout.cbChunk);
  return S_OK;
}

HRESULT CToyDmx::PinDecideBufferSize(int, IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  pRequest->cBuffers = m_cBuffers;
  pRequest->cbBuffer = static_cast<LONG>(m_Layout.cbChunk);
  if (pRequest->cbAlign < 1) pRequest->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  return pAlloc->SetProperties(pRequest, &actual);
}

HRESULT CToyDmx::PinCompleteConnect(int iPin, IPin* pPeer) {
  if (iPin != 0) return CBaseDmx::PinCompleteConnect(iPin, pPeer);
  RemoveAllOutputPins();
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_FAIL;
  LONGLONG llTotal = 0, llAvailable = 0;
  const HRESULT hr = pReader->Length(&llTotal, &llAvailable);
  pReader->Release();
  if (hr != S_OK || llTotal < m_Layout.ChunkOffset(1, m_Layout.streams[1].cChunks))
    return VFW_E_INVALID_FILE_FORMAT;
  for (int s = 0; s < 2; ++s) {
    HRESULT hrPin = AddOutputPin();
    CBaseDmxOutputPin* pPin = GetOutputPin(s);
    if (FAILED(hrPin) || pPin == nullptr) return FAILED(hrPin) ? hrPin : E_OUTOFMEMORY;
    pPin->SetSampleEntry(&m_Entries[static_cast<size_t>(s)]);
    pPin->SetMaxSampleSize(m_Layout.cbChunk);
    hrPin = pPin->SetName(kPinNames[s]);
    if (FAILED(hrPin)) return hrPin;
    (s == 0 ? m_pVideoPin : m_pAudioPin) = pPin;
  }
  ResetPositions();
  LONGLONG llDuration = 0;
  if (SUCCEEDED(GetDuration(&llDuration))) m_llStop = llDuration;
  return CBaseDmx::PinCompleteConnect(iPin, pPeer);
}

HRESULT CToyDmx::PinBreakConnect(int iPin) {
  if (m_OnBreakConnect) m_OnBreakConnect(iPin);
  if (iPin == 0) RemoveAllOutputPins();
  return CBaseDmx::PinBreakConnect(iPin);
}

CBaseDmxOutputPin* CToyDmx::StreamPin(int iStream) {
  for (int i = 0; i < GetOutputPinCount(); ++i) {
    CBaseDmxOutputPin* pPin = GetOutputPin(i);
    if (pPin != nullptr && pPin->GetSampleEntry() != nullptr &&
        static_cast<ToyEntry*>(pPin->GetSampleEntry())->m_iStream == iStream)
      return pPin;
  }
  return nullptr;
}

int CToyDmx::ProcessThreadCount(int iPin) {
  std::lock_guard<std::mutex> lock(m_ThreadMutex);
  return static_cast<int>(m_ProcessThreads[static_cast<size_t>(Slot(iPin))].size());
}

HRESULT CToyDmx::PinProcess(int iPin, CBaseDmxOutputPin* pPin) {
  ++cProcess[static_cast<size_t>(Slot(iPin))];
  {
    std::lock_guard<std::mutex> lock(m_ThreadMutex);
    m_ProcessThreads[static_cast<size_t>(Slot(iPin))].insert(CurrentThreadId());
  }
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_POINTER;
  const auto* pEntry = static_cast<const ToyEntry*>(pPin->GetSampleEntry());
  const HRESULT hr = DeliverStream(iPin, pPin, pEntry->m_iStream, pReader);
  pReader->Release();
  return hr;
}

HRESULT CToyDmx::DeliverStream(int iPin, CBaseDmxOutputPin* pPin, int iStream,
                               IAsyncReader* pReader) {
  const ToyStream& stream = m_Layout.streams[static_cast<size_t>(iStream)];
  const LONG cb = static_cast<LONG>(m_Layout.cbChunk);
  for (;;) {
    pPin->ClearRestart();
    LONGLONG llStart = 0, llStop = 0;
    double dRate = 1.0;
    HRESULT hr = GetSegment(&llStart, &llStop, &dRate);
    if (FAILED(hr)) return ReportStreamError(hr);
    pPin->DeliverNewSegment(llStart, llStop, dRate);
    bool bRestart = false;
    bool bDiscontinuity = true;
    for (uint32_t i = stream.KeyChunkAt(llStart); i < stream.cChunks && !bRestart; ++i) {
      const REFERENCE_TIME rtChunk = i * stream.rtChunk;
      if (llStop != kNoStopTime && rtChunk >= llStop) break;
      IMediaSample* pSample = nullptr;
      BYTE* pData = nullptr;
      hr = pPin->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0);
      if (SUCCEEDED(hr)) pSample->GetPointer(&pData);
      // A decommitted allocator is a stop, not an error; a failed read is.
      const bool bReadFailed =
          SUCCEEDED(hr) &&
          (hr = pReader->SyncRead(m_Layout.ChunkOffset(iStream, i), cb, pData)) != S_OK;
      if (hr != S_OK) {
        if (pSample != nullptr) pSample->Release();
        pPin->DeliverEndOfStream();
        if (bReadFailed) ReportStreamError(hr);
        return hr;
      }
      pSample->SetActualDataLength(cb);
      REFERENCE_TIME rtStart = static_cast<REFERENCE_TIME>((rtChunk - llStart) / dRate);
      REFERENCE_TIME rtEnd =
          static_cast<REFERENCE_TIME>((rtChunk + stream.rtChunk - llStart) / dRate);
      pSample->SetTime(&rtStart, &rtEnd);
      pSample->SetSyncPoint(i % stream.nKeyInterval == 0);
      pSample->SetPreroll(rtEnd <= 0);
      pSample->SetDiscontinuity(bDiscontinuity);
      bDiscontinuity = false;
      hr = pPin->Deliver(pSample);
      pSample->Release();
      if (hr != S_OK) return hr;
      ++cDelivered[static_cast<size_t>(Slot(iPin))];
      m_llCurrentTime = rtChunk;
      if (pPin->CheckRequest(nullptr, 0)) {
        pPin->DeliverEndOfStream();
        return S_OK;
      }
      bRestart = pPin->IsRestartRequested();
    }
    if (bRestart) continue;
    hr = pPin->DeliverEndOfStream();
    if (FAILED(hr)) ReportStreamError(hr);
    return S_OK;
  }
}

STDMETHODIMP CToyDmx::GetDuration(LONGLONG* pDuration) {
  REFERENCE_TIME rtDuration = 0;
  for (const ToyStream& s : m_Layout.streams)
    rtDuration = std::max(rtDuration, s.cChunks * s.rtChunk);
  if (!m_bMediaTime) return ConvertTimeToFrame(rtDuration, pDuration);
  *pDuration = rtDuration;
  return S_OK;
}

HRESULT CToyDmx::UpdateCurrentPosition(BOOL bFlush) {
  CAutoLock lock(FilterLock());
  if (RecordNewSegment(GetFilterState()) != S_OK || IsStopped()) return S_OK;
  ++cRestarts;
  return RestartOutputPins(bFlush);
}

namespace {

// What one sink saw from a new segment to the next flush.
struct SegmentRecord {
  SinkEvent segment;
  std::vector<SinkEvent> samples;
  bool bEndOfStream = false;  // one that the sink reported
};

// Cuts a sink's record into segments; a sample outside one is a failure.
::testing::AssertionResult SplitSegments(const std::vector<SinkEvent>& events,
                                         std::vector<SegmentRecord>* pSegments) {
  bool bOpen = false;
  for (size_t i = 0; i < events.size(); ++i) {
    const SinkEvent& e = events[i];
    if (e.kind == SinkEvent::kNewSegment) {
      pSegments->push_back(SegmentRecord{e, {}, false});
      bOpen = true;
    } else if (e.kind == SinkEvent::kBeginFlush) {
      bOpen = false;
    } else if (e.kind == SinkEvent::kEndOfStream && !e.bIgnored) {
      if (!bOpen) return ::testing::AssertionFailure() << "end-of-stream outside a segment";
      pSegments->back().bEndOfStream = true;
    } else if (e.kind == SinkEvent::kSample) {
      if (!bOpen || pSegments->back().bEndOfStream)
        return ::testing::AssertionFailure() << "sample " << i << " outside a segment";
      pSegments->back().samples.push_back(e);
    }
  }
  if (pSegments->empty()) return ::testing::AssertionFailure() << "no segment";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult CheckSegment(const ToyLayout& layout, const std::vector<uint8_t>& bytes,
                                        int iStream, const SegmentRecord& seg, bool bEndMeansEnd) {
  const ToyStream& s = layout.streams[static_cast<size_t>(iStream)];
  const REFERENCE_TIME rtStart = seg.segment.tStart;
  const uint32_t first = s.KeyChunkAt(rtStart);
  const LONGLONG rtStop = seg.segment.tStop;
  const uint32_t end =
      rtStop <= 0
          ? 0
          : static_cast<uint32_t>(std::min<LONGLONG>((rtStop - 1) / s.rtChunk + 1, s.cChunks));
  auto fail = [&] {
    return ::testing::AssertionFailure()
           << "stream " << iStream << ", segment at " << rtStart << ": ";
  };
  for (size_t k = 0; k < seg.samples.size(); ++k) {
    const SinkEvent& e = seg.samples[k];
    const uint32_t i = first + static_cast<uint32_t>(k);
    if (i >= s.cChunks) return fail() << "too many samples";
    if (e.dwCrc32 !=
        Crc32(&bytes[static_cast<size_t>(layout.ChunkOffset(iStream, i))], layout.cbChunk))
      return fail() << "sample " << k << " is not chunk " << i;
    const auto rel = [&](uint32_t n) {
      return static_cast<REFERENCE_TIME>((n * s.rtChunk - rtStart) / seg.segment.dRate);
    };
    if (e.hrTime != S_OK || e.tStart != rel(i) || e.tStop != rel(i + 1))
      return fail() << "chunk " << i << " times " << e.tStart << ".." << e.tStop << ", expected "
                    << rel(i) << ".." << rel(i + 1);
    if (e.bSyncPoint != (i % s.nKeyInterval == 0) || e.bDiscontinuity != (k == 0) ||
        e.bPreroll != (rel(i + 1) <= 0) || e.lActual != static_cast<LONG>(layout.cbChunk))
      return fail() << "chunk " << i << " flags or length";
  }
  if (bEndMeansEnd && seg.bEndOfStream && seg.samples.size() != (end > first ? end - first : 0))
    return fail() << "ended after " << seg.samples.size() << " samples";
  return ::testing::AssertionSuccess();
}

}  // namespace

int CountKind(const std::vector<SinkEvent>& events, SinkEvent::Kind kind) {
  return static_cast<int>(std::count_if(events.begin(), events.end(),
                                        [&](const SinkEvent& e) { return e.kind == kind; }));
}

ToyRig::ToyRig(const ToyLayout& layoutIn)
    : layout(layoutIn), bytes(layoutIn.MakeFile()), m_cObjectsBefore(CUnknown::ObjectsActive()) {}

ToyRig::~ToyRig() {
  if (graph != nullptr) graph->Release();
  for (CRecordingSink* sink : sinks)
    if (sink != nullptr) sink->Release();
  if (dmx != nullptr) dmx->Release();
  if (source != nullptr) source->Release();
  if (reader != nullptr) {
    EXPECT_EQ(reader->Release(), 0u) << "the reader is still held";
  }
  if (memory != nullptr) memory->Release();
  EXPECT_EQ(CUnknown::ObjectsActive(), m_cObjectsBefore) << "objects outlive the graph";
}

::testing::AssertionResult ToyRig::Build(LONG nBuffers, bool bOutputs) {
  memory = new CMemoryReader(bytes);
  reader = new CTestReader(memory);
  HRESULT hr = CHostGraph::Create(&graph);
  if (SUCCEEDED(hr)) hr = CFileSource::Create(reader, &source);
  if (SUCCEEDED(hr)) hr = CToyDmx::Create(layout, &dmx);
  for (CRecordingSink*& sink : sinks)
    if (SUCCEEDED(hr)) hr = CRecordingSink::Create(&sink);
  if (FAILED(hr)) return ::testing::AssertionFailure() << "create: " << std::hex << hr;
  dmx->m_cBuffers = nBuffers;
  for (IBaseFilter* f : {source->AsBaseFilter(), dmx->AsBaseFilter(), sinks[0]->AsBaseFilter(),
                         sinks[1]->AsBaseFilter()})
    if (FAILED(hr = graph->AddFilter(f, nullptr)))
      return ::testing::AssertionFailure() << "add: " << std::hex << hr;
  if (FAILED(hr = graph->Connect(source->OutputPin(), Input())))
    return ::testing::AssertionFailure() << "connect input: " << std::hex << hr;
  for (int s = 0; s < 2 && bOutputs; ++s)
    if (FAILED(hr = graph->Connect(Pin(s), Sink(s)->InputPin())))
      return ::testing::AssertionFailure() << "connect stream " << s << ": " << std::hex << hr;
  return ::testing::AssertionSuccess();
}

LONG ToyRig::Completion(std::chrono::milliseconds limit) {
  LONG lCode = 0;
  graph->WaitForCompletion(static_cast<DWORD>(limit.count()), &lCode);
  return lCode;
}

bool ToyRig::HasEvent(LONG lCode) {
  for (const CHostGraph::Event& e : graph->PeekEvents())
    if (e.lCode == lCode) return true;
  return false;
}

::testing::AssertionResult ToyRig::CheckStream(int iStream, bool bEndMeansEnd, size_t* pLastCount) {
  std::vector<SegmentRecord> segments;
  ::testing::AssertionResult ok = SplitSegments(Sink(iStream)->Events(), &segments);
  for (size_t i = 0; ok && i < segments.size(); ++i)
    ok = CheckSegment(layout, bytes, iStream, segments[i], bEndMeansEnd);
  if (ok && !segments.back().bEndOfStream)
    return ::testing::AssertionFailure() << "the last segment did not end";
  if (ok && pLastCount != nullptr) *pLastCount = segments.back().samples.size();
  return ok;
}

}  // namespace flvdmx

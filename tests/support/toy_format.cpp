#include "support/toy_format.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "framework/dmx_input_pin.h"
#include "platform/mediatypes.h"
#include "seeking/filter_seeking_id.h"

namespace flvdmx {
namespace toy {

namespace {

constexpr uint8_t kMagic[4] = {'T', 'O', 'Y', 'F'};
constexpr uint8_t kKeyFlag = 0x01;

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutI64(uint8_t* p, int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(u >> (56 - 8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[i];
  return v;
}
int64_t GetI64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

}  // namespace

uint8_t PayloadByte(int iStream, uint32_t nIndex, size_t offset) {
  return static_cast<uint8_t>(iStream * 101 + nIndex * 7 + offset * 13);
}

std::vector<Chunk> ChunkOrder(const Layout& layout) {
  std::vector<Chunk> chunks;
  std::array<uint32_t, kStreams> next{};
  for (;;) {
    int iBest = -1;
    REFERENCE_TIME rtBest = 0;
    for (int s = 0; s < kStreams; ++s) {
      const StreamLayout& stream = layout.streams[static_cast<size_t>(s)];
      if (next[static_cast<size_t>(s)] >= stream.cChunks) continue;
      const REFERENCE_TIME rt = next[static_cast<size_t>(s)] * stream.rtChunkDuration;
      if (iBest < 0 || rt < rtBest) {
        iBest = s;
        rtBest = rt;
      }
    }
    if (iBest < 0) return chunks;
    const StreamLayout& stream = layout.streams[static_cast<size_t>(iBest)];
    uint32_t& nIndex = next[static_cast<size_t>(iBest)];
    Chunk chunk;
    chunk.iStream = iBest;
    chunk.bKey = stream.nKeyInterval <= 1 || nIndex % stream.nKeyInterval == 0;
    chunk.nIndex = nIndex;
    chunk.rtTime = rtBest;
    chunk.dwDuration = static_cast<uint32_t>(stream.rtChunkDuration);
    chunks.push_back(chunk);
    ++nIndex;
  }
}

std::vector<uint8_t> MakeFile(const Layout& layout) {
  const std::vector<Chunk> chunks = ChunkOrder(layout);
  std::vector<uint8_t> bytes(kFileHeaderSize + chunks.size() * layout.cbChunk);
  std::memcpy(bytes.data(), kMagic, sizeof(kMagic));
  PutU32(&bytes[4], layout.cbChunk);
  PutU32(&bytes[8], static_cast<uint32_t>(chunks.size()));
  for (size_t i = 0; i < chunks.size(); ++i) {
    const Chunk& c = chunks[i];
    uint8_t* p = &bytes[kFileHeaderSize + i * layout.cbChunk];
    p[0] = static_cast<uint8_t>(c.iStream);
    p[1] = c.bKey ? kKeyFlag : 0;
    PutU32(p + 4, c.nIndex);
    PutI64(p + 8, c.rtTime);
    PutU32(p + 16, c.dwDuration);
    for (size_t k = kChunkHeaderSize; k < layout.cbChunk; ++k)
      p[k] = PayloadByte(c.iStream, c.nIndex, k);
  }
  return bytes;
}

bool ParseChunk(const uint8_t* p, size_t cb, Chunk* pChunk) {
  if (p == nullptr || cb < kChunkHeaderSize || p[0] >= kStreams) return false;
  pChunk->iStream = p[0];
  pChunk->bKey = (p[1] & kKeyFlag) != 0;
  pChunk->nIndex = GetU32(p + 4);
  pChunk->rtTime = GetI64(p + 8);
  pChunk->dwDuration = GetU32(p + 16);
  return true;
}

}  // namespace toy

namespace {

const GUID kSubtypes[toy::kStreams] = {FourccGuid(MakeFourcc('T', 'O', 'Y', 'V')),
                                       FourccGuid(MakeFourcc('T', 'O', 'Y', 'A'))};
const wchar_t* const kPinNames[toy::kStreams] = {L"Stream 0", L"Stream 1"};

}  // namespace

CToyDmx::CToyDmx(HRESULT* phr)
    : CBaseDmx(CLSID_ToyDmx, L"CToyDmx", nullptr, phr, toy::kStreams) {
  for (int s = 0; s < toy::kStreams; ++s) m_Entries[static_cast<size_t>(s)].m_iStream = s;
}

CToyDmx::~CToyDmx() = default;

HRESULT CToyDmx::Create(CToyDmx** ppDmx) {
  if (ppDmx == nullptr) return E_POINTER;
  *ppDmx = nullptr;
  HRESULT hr = S_OK;
  auto* pDmx = new (std::nothrow) CToyDmx(&hr);
  if (pDmx == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete pDmx;
    return hr;
  }
  pDmx->NonDelegatingAddRef();
  *ppDmx = pDmx;
  return S_OK;
}

STDMETHODIMP CToyDmx::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CToyDmx::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CToyDmx::Release() { return GetOwner()->Release(); }

STDMETHODIMP CToyDmx::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IFilterSeeking) return QuerySeekingInterface(IID_IMediaSeeking, ppv);
  return CBaseDmx::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CToyDmx::Stop() {
  ClearRecordedSegment();
  m_bStopping = true;
  const HRESULT hr = CBaseDmx::Stop();
  m_bStopping = false;
  return hr;
}

STDMETHODIMP CToyDmx::Pause() {
  ClearRecordedSegment();
  return CBaseDmx::Pause();
}

STDMETHODIMP CToyDmx::Run(REFERENCE_TIME tStart) {
  ClearRecordedSegment();
  return CBaseDmx::Run(tStart);
}

HRESULT CToyDmx::ReportStreamError(HRESULT hr) {
  if (m_bStopping || IsFlushing()) return S_OK;
  ++m_cStreamErrors;
  return CBaseDmx::ReportStreamError(hr);
}

HRESULT CToyDmx::PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) {
  if (iPin != 0) return CBaseDmx::PinCheckMediaType(iPin, pmt, pPin);
  if (pmt == nullptr) return E_POINTER;
  return *pmt->Type() == MEDIATYPE_Stream ? S_OK : S_FALSE;
}

HRESULT CToyDmx::PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) {
  if (iPin == 0) return CBaseDmx::PinGetMediaType(iPin, iPosition, pmt);
  if (pmt == nullptr) return E_POINTER;
  CBaseDmxOutputPin* pPin = GetOutputPin(iPin - 1);
  if (pPin == nullptr || pPin->GetSampleEntry() == nullptr) return E_UNEXPECTED;
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  const int iStream = static_cast<ToyEntry*>(pPin->GetSampleEntry())->m_iStream;
  pmt->InitMediaType();
  pmt->SetType(iStream == 0 ? &MEDIATYPE_Video : &MEDIATYPE_Audio);
  pmt->SetSubtype(&kSubtypes[iStream]);
  pmt->SetFormatType(&FORMAT_None);
  pmt->SetSampleSize(m_cbChunk);
  return S_OK;
}

HRESULT CToyDmx::PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* pRequest) {
  if (iPin == 0) return CBaseDmx::PinDecideBufferSize(iPin, pAlloc, pRequest);
  if (pAlloc == nullptr || pRequest == nullptr) return E_POINTER;
  pRequest->cBuffers = m_cBuffers;
  pRequest->cbBuffer = static_cast<LONG>(m_cbChunk);
  if (pRequest->cbAlign < 1) pRequest->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cBuffers >= pRequest->cBuffers && actual.cbBuffer >= pRequest->cbBuffer ? S_OK
                                                                                          : E_FAIL;
}

HRESULT CToyDmx::PinCompleteConnect(int iPin, IPin* pPeer) {
  if (iPin != 0) return CBaseDmx::PinCompleteConnect(iPin, pPeer);
  RemoveAllOutputPins();
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_FAIL;
  HRESULT hr = ScanFile(pReader);
  pReader->Release();
  if (SUCCEEDED(hr)) hr = MakeOutputPins();
  if (FAILED(hr)) {
    RemoveAllOutputPins();
    m_Chunks.clear();
    return hr;
  }
  ResetPositions();
  LONGLONG llDuration = 0;
  if (SUCCEEDED(GetDuration(&llDuration))) m_llStop = llDuration;
  return CBaseDmx::PinCompleteConnect(iPin, pPeer);
}

HRESULT CToyDmx::PinBreakConnect(int iPin) {
  if (iPin == 0) RemoveAllOutputPins();
  return CBaseDmx::PinBreakConnect(iPin);
}

HRESULT CToyDmx::ScanFile(IAsyncReader* pReader) {
  m_Chunks.clear();
  m_bHasStream = {};
  m_rtDuration = 0;
  m_rtFrame = 0;
  LONGLONG llTotal = 0;
  LONGLONG llAvailable = 0;
  if (pReader->Length(&llTotal, &llAvailable) != S_OK) return VFW_E_INVALID_FILE_FORMAT;
  uint8_t header[toy::kFileHeaderSize];
  HRESULT hr = pReader->SyncRead(0, sizeof(header), header);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_INVALID_FILE_FORMAT;
  if (std::memcmp(header, "TOYF", 4) != 0) return VFW_E_INVALID_FILE_FORMAT;
  const uint32_t cbChunk = toy::GetU32(header + 4);
  const uint32_t cChunks = toy::GetU32(header + 8);
  if (cbChunk < toy::kChunkHeaderSize || cbChunk > toy::kMaxChunkSize)
    return VFW_E_INVALID_FILE_FORMAT;
  if (llTotal < static_cast<LONGLONG>(toy::kFileHeaderSize) ||
      cChunks > static_cast<uint64_t>(llTotal - toy::kFileHeaderSize) / cbChunk)
    return VFW_E_INVALID_FILE_FORMAT;

  std::array<uint32_t, toy::kStreams> nextIndex{};
  REFERENCE_TIME rtPrevious = 0;
  m_Chunks.reserve(cChunks);
  for (uint32_t i = 0; i < cChunks; ++i) {
    uint8_t bytes[toy::kChunkHeaderSize];
    hr = pReader->SyncRead(toy::kFileHeaderSize + static_cast<LONGLONG>(i) * cbChunk,
                           sizeof(bytes), bytes);
    if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_INVALID_FILE_FORMAT;
    toy::Chunk chunk;
    if (!toy::ParseChunk(bytes, sizeof(bytes), &chunk)) return VFW_E_INVALID_FILE_FORMAT;
    const auto s = static_cast<size_t>(chunk.iStream);
    // Times stay far from the top of the range, so time + duration cannot
    // overflow.
    if (chunk.nIndex != nextIndex[s] || chunk.rtTime < rtPrevious ||
        chunk.rtTime > kNoStopTime / 2 || chunk.dwDuration == 0)
      return VFW_E_INVALID_FILE_FORMAT;
    ++nextIndex[s];
    rtPrevious = chunk.rtTime;
    m_bHasStream[s] = true;
    if (s == 0 && m_rtFrame == 0) m_rtFrame = chunk.dwDuration;
    m_rtDuration = std::max(m_rtDuration, chunk.rtTime + chunk.dwDuration);
    m_Chunks.push_back(chunk);
  }
  m_cbChunk = cbChunk;
  return S_OK;
}

HRESULT CToyDmx::MakeOutputPins() {
  for (int s = 0; s < toy::kStreams; ++s) {
    if (!m_bHasStream[static_cast<size_t>(s)]) continue;
    HRESULT hr = AddOutputPin();
    if (FAILED(hr)) return hr;
    CBaseDmxOutputPin* pPin = GetOutputPin(GetOutputPinCount() - 1);
    if (pPin == nullptr) return E_OUTOFMEMORY;
    ToyEntry& entry = m_Entries[static_cast<size_t>(s)];
    entry.m_cbChunk = m_cbChunk;
    pPin->SetSampleEntry(&entry);
    pPin->SetMaxSampleSize(m_cbChunk);
    hr = pPin->SetName(kPinNames[s]);
    if (FAILED(hr)) return hr;
    (s == 0 ? m_pVideoPin : m_pAudioPin) = pPin;
  }
  return S_OK;
}

CBaseDmxOutputPin* CToyDmx::StreamPin(int iStream) {
  const int cPins = GetOutputPinCount();
  for (int i = 0; i < cPins; ++i) {
    CBaseDmxOutputPin* pPin = GetOutputPin(i);
    if (pPin != nullptr && pPin->GetSampleEntry() != nullptr &&
        static_cast<ToyEntry*>(pPin->GetSampleEntry())->m_iStream == iStream)
      return pPin;
  }
  return nullptr;
}

size_t CToyDmx::StartChunk(int iStream, REFERENCE_TIME rtStart) const {
  // The last chunk at or before the start, by times (which never decrease)...
  size_t lo = 0;
  size_t hi = m_Chunks.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (m_Chunks[mid].rtTime <= rtStart)
      lo = mid + 1;
    else
      hi = mid;
  }
  // ...then back to this stream's key chunk; none: from the stream's first.
  for (size_t i = lo; i-- > 0;) {
    const toy::Chunk& c = m_Chunks[i];
    if (c.iStream == iStream && c.bKey) return i;
  }
  return 0;
}

HRESULT CToyDmx::PinProcess(int iPin, CBaseDmxOutputPin* pPin) {
  if (pPin == nullptr) return E_POINTER;
  const auto* pEntry = static_cast<const ToyEntry*>(pPin->GetSampleEntry());
  if (pEntry == nullptr) return E_UNEXPECTED;
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_POINTER;
  const HRESULT hr = DeliverStream(pPin, pEntry->m_iStream, pReader);
  pReader->Release();
  return hr;
}

HRESULT CToyDmx::DeliverStream(CBaseDmxOutputPin* pPin, int iStream, IAsyncReader* pReader) {
  for (;;) {
    pPin->m_bRestart = FALSE;
    LONGLONG llStart = 0;
    LONGLONG llStop = 0;
    double dRate = 1.0;
    HRESULT hr = GetSegment(&llStart, &llStop, &dRate);
    if (FAILED(hr)) return ReportStreamError(hr);
    pPin->m_dStreamRate = dRate;
    pPin->DeliverNewSegment(llStart, llStop, dRate);
    pPin->m_llSampleCount = 0;
    BOOL bDiscontinuity = TRUE;
    bool bRestart = false;

    for (size_t i = StartChunk(iStream, llStart); i < m_Chunks.size() && !bRestart; ++i) {
      const toy::Chunk& chunk = m_Chunks[i];
      if (chunk.iStream != iStream) continue;
      if (llStop != kNoStopTime && chunk.rtTime >= llStop) break;

      REFERENCE_TIME rtStart = chunk.rtTime;
      REFERENCE_TIME rtStop = chunk.rtTime + chunk.dwDuration;
      IMediaSample* pSample = nullptr;
      hr = pPin->GetDeliveryBuffer(&pSample, &rtStart, &rtStop, 0);
      if (FAILED(hr)) {
        pPin->DeliverEndOfStream();
        return hr;
      }
      BYTE* pData = nullptr;
      hr = pSample->GetPointer(&pData);
      if (SUCCEEDED(hr) && pSample->GetSize() < static_cast<LONG>(m_cbChunk))
        hr = VFW_E_BUFFER_OVERFLOW;
      if (SUCCEEDED(hr)) {
        hr = pReader->SyncRead(toy::kFileHeaderSize + static_cast<LONGLONG>(i) * m_cbChunk,
                               static_cast<LONG>(m_cbChunk), pData);
        if (hr == S_FALSE) hr = VFW_E_INVALID_FILE_FORMAT;  // the file got shorter
      }
      if (FAILED(hr)) {
        pSample->Release();
        pPin->DeliverEndOfStream();
        ReportStreamError(hr);
        return hr;
      }
      pSample->SetActualDataLength(static_cast<LONG>(m_cbChunk));
      rtStart = static_cast<REFERENCE_TIME>(static_cast<double>(chunk.rtTime - llStart) / dRate);
      rtStop = static_cast<REFERENCE_TIME>(
          static_cast<double>(chunk.rtTime + chunk.dwDuration - llStart) / dRate);
      pSample->SetTime(&rtStart, &rtStop);
      pSample->SetSyncPoint(chunk.bKey ? TRUE : FALSE);
      pSample->SetPreroll(rtStop <= 0 ? TRUE : FALSE);
      pSample->SetDiscontinuity(bDiscontinuity);
      bDiscontinuity = FALSE;
      hr = pPin->Deliver(pSample);
      pSample->Release();
      if (hr != S_OK) return hr;

      m_llCurrentTime = chunk.rtTime;
      ++pPin->m_llSampleCount;
      if (pPin->CheckRequest(nullptr, 0)) {
        pPin->DeliverEndOfStream();
        return S_OK;
      }
      bRestart = pPin->m_bRestart != FALSE;
    }
    if (bRestart) continue;
    hr = pPin->DeliverEndOfStream();
    if (FAILED(hr)) ReportStreamError(hr);
    return S_OK;
  }
}

STDMETHODIMP CToyDmx::GetDuration(LONGLONG* pDuration) {
  if (pDuration == nullptr) return E_POINTER;
  if (m_bMediaTime) {
    *pDuration = m_rtDuration;
    return S_OK;
  }
  return ConvertTimeToFrame(m_rtDuration, pDuration);
}

STDMETHODIMP CToyDmx::GetCurrentPosition(LONGLONG* pCurrent) {
  if (pCurrent == nullptr) return E_POINTER;
  *pCurrent = m_bMediaTime ? m_llCurrentTime.load() : m_llCurrentFrame.load();
  return S_OK;
}

HRESULT CToyDmx::UpdateCurrentPosition(BOOL bFlush) {
  CAutoLock lock(FilterLock());
  if (RecordNewSegment(GetFilterState()) != S_OK) return S_OK;
  if (m_bMediaTime) {
    m_llCurrentTime = m_llCurrent.load();
    LONGLONG llFrame = 0;
    if (SUCCEEDED(ConvertTimeToFrame(m_llCurrent, &llFrame))) m_llCurrentFrame = llFrame;
  } else {
    m_llCurrentFrame = m_llCurrent.load();
    LONGLONG llTime = 0;
    const HRESULT hr = ConvertFrameToTime(m_llCurrent, &llTime);
    if (FAILED(hr)) return hr;
    m_llCurrentTime = llTime;
  }
  if (IsStopped()) return S_OK;
  ++m_cRestarts;
  return RestartOutputPins(bFlush);
}

HRESULT CToyDmx::ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) {
  if (pllTime == nullptr) return E_POINTER;
  if (m_rtFrame == 0) return E_NOTIMPL;
  *pllTime = llFrame * m_rtFrame;
  return S_OK;
}

HRESULT CToyDmx::ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) {
  if (pllFrame == nullptr) return E_POINTER;
  if (m_rtFrame == 0) return E_NOTIMPL;
  *pllFrame = llTime / m_rtFrame;
  return S_OK;
}

}  // namespace flvdmx

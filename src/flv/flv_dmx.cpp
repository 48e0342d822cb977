#include "flv/flv_dmx.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <new>
#include <utility>

#include "baseclasses/mediatype.h"
#include "diag/trace.h"
#include "flv/flv_ex_scan.h"
#include "flv/flv_header_scan.h"
#include "framework/dmx_input_pin.h"
#include "flv/flv_dmx_id.h"
#include "platform/mediatypes.h"
#include "seeking/filter_seeking_id.h"

namespace flvdmx {

namespace {

// All buffers of one pin together stay near this; the count is clamped.
constexpr LONG kBufferBudget = 0x8000000;  // 128 MiB
constexpr LONG kMinBuffers = 2;
constexpr LONG kMaxBuffers = 32;
// For a description that cannot bound its samples (free-format MPEG audio
// has no average byte rate): enough for any ordinary tag.
constexpr uint32_t kUnboundedSampleSize = 0x100000;

const char* StateName(FILTER_STATE state) {
  switch (state) {
    case State_Stopped:
      return "State_Stopped";
    case State_Paused:
      return "State_Paused";
    case State_Running:
      return "State_Running";
  }
  return "State_Unknown";
}

}  // namespace

CUnknown* CFlvDmx::CreateInstance(IUnknown* pUnkOuter, HRESULT* phr) {
  return new (std::nothrow) CFlvDmx(pUnkOuter, phr);
}

CFlvDmx::CFlvDmx(IUnknown* pUnkOuter, HRESULT* phr)
    : CBaseDmx(kClsidFlvDmx, kFlvDmxName, pUnkOuter, phr, kMaxStreams) {}

CFlvDmx::~CFlvDmx() {
  // The pins' threads read the descriptions and the fix-up table, which go
  // before the base part would stop them.
  delete m_pInputPin;
  m_pInputPin = nullptr;
  RemoveAllOutputPins();
}

STDMETHODIMP CFlvDmx::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CFlvDmx::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CFlvDmx::Release() { return GetOwner()->Release(); }

STDMETHODIMP CFlvDmx::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IFilterSeeking) return QuerySeekingInterface(IID_IMediaSeeking, ppv);
  return CBaseDmx::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CFlvDmx::Stop() {
  ClearRecordedSegment();
  return CBaseDmx::Stop();
}

STDMETHODIMP CFlvDmx::Pause() {
  ClearRecordedSegment();
  return CBaseDmx::Pause();
}

STDMETHODIMP CFlvDmx::Run(REFERENCE_TIME tStart) {
  ClearRecordedSegment();
  return CBaseDmx::Run(tStart);
}

HRESULT CFlvDmx::PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) {
  if (pmt == nullptr) return E_POINTER;
  if (iPin == 0) {
    if (*pmt->Type() != MEDIATYPE_Stream) return S_FALSE;
    const GUID& subtype = *pmt->Subtype();
    return subtype == MEDIASUBTYPE_QFLV || subtype == MEDIASUBTYPE_QISO ? S_OK : S_FALSE;
  }
  if (pPin != nullptr) return pPin->CheckMediaType(pmt);
  return CBaseDmx::PinCheckMediaType(iPin, pmt, pPin);
}

HRESULT CFlvDmx::PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  if (iPin == 0) {
    if (iPosition != 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_QFLV);
    return S_OK;
  }
  CBaseDmxOutputPin* pPin = GetOutputPin(iPin - 1);
  // The pin offers only what its stream description gives; asking the pin
  // itself would come straight back here.
  SampleEntry* pEntry = pPin != nullptr ? pPin->GetSampleEntry() : nullptr;
  if (pEntry == nullptr) return CBaseDmx::PinGetMediaType(iPin, iPosition, pmt);
  return pEntry->GetMediaType(iPosition, pmt);
}

HRESULT CFlvDmx::PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* pRequest) {
  if (iPin == 0) return CBaseDmx::PinDecideBufferSize(iPin, pAlloc, pRequest);
  if (pAlloc == nullptr || pRequest == nullptr) return E_POINTER;
  CBaseDmxOutputPin* pPin = GetOutputPin(iPin - 1);
  if (pPin == nullptr) return E_UNEXPECTED;

  uint32_t cbSample = pPin->GetMaxSampleSize();
  if (cbSample == 0) cbSample = kUnboundedSampleSize;
  const LONG cbBuffer = static_cast<LONG>(std::min<uint32_t>(cbSample, 0x7FFFFFFF));
  const LONG cBuffers = std::clamp(kBufferBudget / cbBuffer, kMinBuffers, kMaxBuffers);
  pRequest->cBuffers = cBuffers;
  pRequest->cbBuffer = cbBuffer;

  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cBuffers >= cBuffers && actual.cbBuffer >= cbBuffer ? S_OK : E_FAIL;
}

HRESULT CFlvDmx::PinCompleteConnect(int iPin, IPin* pPeer) {
  if (iPin != 0) return CBaseDmx::PinCompleteConnect(iPin, pPeer);

  RemoveAllOutputPins();
  // Nothing of an earlier file may leak into this one: its stream
  // descriptions, repaired links or the point the last seek started from.
  m_File.Reset();
  IAsyncReader* pReader = GetReader();
  if (pReader == nullptr) return E_FAIL;

  // The scan's read-ahead memory goes on to the first pin's delivery loop.
  CBlockMemory scanMemory;
  HRESULT hr = ReadAndParseHeader(pReader, m_File, &scanMemory);
  if (SUCCEEDED(hr)) {
    // S_FALSE from the scan keeps what it found; the pins are made from that.
    const HRESULT hrScan = hr;
    hr = CreateOutputPins();
    CBaseDmxOutputPin* pFirst = SUCCEEDED(hr) ? GetOutputPin(0) : nullptr;
    if (pFirst != nullptr) std::swap(pFirst->ReadAheadMemory(), scanMemory);
    // A connection without an output pin would leave the graph with nothing
    // to run and wait for: a file cut short before its first stream, or one
    // with no stream the filter plays.
    if (SUCCEEDED(hr) && GetOutputPinCount() == 0) {
      hr = hrScan == S_FALSE ? VFW_E_FILE_TOO_SHORT : VFW_E_UNSUPPORTED_STREAM;
    }
  }
  if (SUCCEEDED(hr)) {
    ResetPositions();
    LONGLONG llDuration = kNoStopTime;
    (void)GetDuration(&llDuration);
    m_llStop = llDuration;
    hr = CBaseDmx::PinCompleteConnect(iPin, pPeer);
  } else {
    RemoveAllOutputPins();
    m_File.Reset();
  }
  pReader->Release();
  return hr;
}

HRESULT CFlvDmx::PinBreakConnect(int iPin) {
  if (iPin == 0) RemoveAllOutputPins();
  return CBaseDmx::PinBreakConnect(iPin);
}

HRESULT CFlvDmx::CreateOutputPins() {
  if ((m_File.StreamsSeen() & kStreamVideoSeen) != 0) {
    const HRESULT hr = CreateStreamPin(&m_File.VideoEntry(), L"Video", &m_pVideoPin);
    if (FAILED(hr)) return hr;
  }
  if ((m_File.StreamsSeen() & kStreamAudioSeen) != 0) {
    const HRESULT hr = CreateStreamPin(&m_File.AudioEntry(), L"Audio", &m_pAudioPin);
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = CreateExtraPins(L"Video", &m_pVideoPin, m_File.ExtraVideoEntries());
  if (SUCCEEDED(hr)) hr = CreateExtraPins(L"Audio", &m_pAudioPin, m_File.ExtraAudioEntries());
  if (FAILED(hr)) return hr;
  if (GetOutputPinCount() == 0 && m_File.UnsupportedFourCc() != 0) {
    const uint32_t f = m_File.UnsupportedFourCc();
    Trace("\nCFlvDmx: nothing playable; codec FourCC '%c%c%c%c' is not supported",
          static_cast<char>(f >> 24), static_cast<char>(f >> 16), static_cast<char>(f >> 8),
          static_cast<char>(f));
    return VFW_E_UNSUPPORTED_STREAM;
  }
  return S_OK;
}

template <typename Entry>
HRESULT CFlvDmx::CreateExtraPins(const wchar_t* pKind, CBaseDmxOutputPin** ppFirst,
                                 std::vector<std::unique_ptr<Entry>>& entries) {
  for (auto& pEntry : entries) {
    // The first playable track of a kind takes the plain name.
    wchar_t szName[32];
    const int iNumber = CountPinsOfKind(pEntry->m_iStreamKind) + 1;
    if (iNumber == 1) {
      std::swprintf(szName, 32, L"%ls", pKind);
    } else {
      std::swprintf(szName, 32, L"%ls %d", pKind, iNumber);
    }
    CBaseDmxOutputPin* pPin = nullptr;
    const HRESULT hr = CreateStreamPin(pEntry.get(), szName, &pPin);
    if (FAILED(hr)) return hr;
    if (*ppFirst == nullptr) *ppFirst = pPin;
  }
  return S_OK;
}

int CFlvDmx::CountPinsOfKind(int32_t iStreamKind) {
  int n = 0;
  for (int i = 0; i < GetOutputPinCount(); ++i) {
    CBaseDmxOutputPin* pPin = GetOutputPin(i);
    const SampleEntry* pEntry = pPin != nullptr ? pPin->GetSampleEntry() : nullptr;
    if (pEntry != nullptr && pEntry->m_iStreamKind == iStreamKind) ++n;
  }
  return n;
}

HRESULT CFlvDmx::CreateStreamPin(SampleEntry* pEntry, const wchar_t* pName,
                                 CBaseDmxOutputPin** ppPin) {
  *ppPin = nullptr;
  HRESULT hr = AddOutputPin();
  if (FAILED(hr)) return hr;
  const int iIndex = GetOutputPinCount() - 1;
  CBaseDmxOutputPin* pPin = GetOutputPin(iIndex);
  if (pPin == nullptr) {
    RemoveOutputPin(iIndex);
    return E_OUTOFMEMORY;
  }
  // A stream seen in the tags whose description was never built, or whose
  // codec is not supported, gets no pin; the file still plays the others.
  CMediaType mt;
  if (pEntry->GetMediaType(0, &mt) != S_OK) {
    RemoveOutputPin(iIndex);
    return S_OK;
  }
  pPin->SetSampleEntry(pEntry);
  pPin->SetMaxSampleSize(pEntry->GetMaxSampleSize());
  hr = pPin->SetName(pName);
  if (FAILED(hr)) {
    RemoveOutputPin(iIndex);
    return hr;
  }
  *ppPin = pPin;
  return S_OK;
}

STDMETHODIMP CFlvDmx::GetDuration(LONGLONG* pDuration) {
  if (pDuration == nullptr) return E_POINTER;
  const LONGLONG llDuration = static_cast<LONGLONG>(m_File.Duration()) * 10000;
  if (m_bMediaTime) {
    *pDuration = llDuration;
    return S_OK;
  }
  return ConvertTimeToFrame(llDuration, pDuration);
}

STDMETHODIMP CFlvDmx::GetCurrentPosition(LONGLONG* pCurrent) {
  if (pCurrent == nullptr) return E_POINTER;
  if ((m_File.StreamsSeen() & (kStreamVideoSeen | kStreamAudioSeen)) == 0) return E_UNEXPECTED;
  if (m_bMediaTime) {
    *pCurrent = m_llCurrentTime;
    return S_OK;
  }
  if (m_pVideoPin == nullptr) return E_UNEXPECTED;
  *pCurrent = m_llCurrentFrame;
  return S_OK;
}

HRESULT CFlvDmx::UpdateCurrentPosition(BOOL bFlush) {
  CAutoLock lock(FilterLock());
  if (RecordNewSegment(GetFilterState()) != S_OK) return S_OK;

  if (m_bMediaTime) {
    const LONGLONG llTime = m_llCurrent;
    m_llCurrentTime = llTime;
    LONGLONG llFrame = 0;
    const HRESULT hr = ConvertTimeToFrame(llTime, &llFrame);
    if (SUCCEEDED(hr)) {
      m_llCurrentFrame = llFrame;
    } else if (hr != E_NOTIMPL) {
      return hr;
    }
  } else {
    const LONGLONG llFrame = m_llCurrent;
    m_llCurrentFrame = llFrame;
    LONGLONG llTime = 0;
    const HRESULT hr = ConvertFrameToTime(llFrame, &llTime);
    if (FAILED(hr)) return hr;
    m_llCurrentTime = llTime;
  }

  Trace("\nCFlvDmx::UpdateCurrentPosition - State = %s", StateName(GetFilterState()));
  // While stopped the threads pick the position up when streaming starts.
  if (IsStopped()) return S_OK;
  return RestartOutputPins(bFlush);
}

HRESULT CFlvDmx::ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) {
  if (pllTime == nullptr) return E_POINTER;
  *pllTime =
      (m_File.StreamsSeen() & kStreamVideoSeen) != 0 ? llFrame * m_File.AvgTimePerFrame() : llFrame;
  return S_OK;
}

HRESULT CFlvDmx::ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) {
  if (pllFrame == nullptr) return E_POINTER;
  const int64_t llAvgTimePerFrame = m_File.AvgTimePerFrame();
  if ((m_File.StreamsSeen() & kStreamVideoSeen) == 0 || llAvgTimePerFrame == 0) return E_NOTIMPL;
  *pllFrame = llTime / llAvgTimePerFrame;
  return S_OK;
}

}  // namespace flvdmx

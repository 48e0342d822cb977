#include "payload_sink.h"

#include <new>

#include "baseclasses/input_pin.h"

namespace flvdmx::cli {

namespace {
// {6F1C2A12-5B7E-4C1D-9E3A-2B8F4D6A7C01}
constexpr CLSID kClsidPayloadSink = {
    0x6F1C2A12, 0x5B7E, 0x4C1D, {0x9E, 0x3A, 0x2B, 0x8F, 0x4D, 0x6A, 0x7C, 0x01}};
}  // namespace

class CPayloadSink::CInputPin : public CBaseInputPin {
 public:
  CInputPin(CPayloadSink* pSink, HRESULT* phr)
      : CBaseInputPin(L"CPayloadSink::CInputPin", pSink, &pSink->m_Lock, phr, L"Input"),
        m_pSink(pSink) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return pmt != nullptr ? S_OK : E_POINTER;
  }

  STDMETHODIMP Receive(IMediaSample* pSample) override {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    Sample sample;
    if (FAILED(pSample->GetTime(&sample.tStart, &sample.tStop))) sample.tStart = sample.tStop = 0;
    sample.bSyncPoint = pSample->IsSyncPoint() == S_OK;
    BYTE* pData = nullptr;
    const LONG cb = pSample->GetActualDataLength();
    if (FAILED(pSample->GetPointer(&pData)) || cb < 0 || cb > pSample->GetSize())
      return E_UNEXPECTED;
    sample.pData = pData;
    sample.cb = static_cast<size_t>(cb);
    m_pSink->m_cSamples.fetch_add(1, std::memory_order_relaxed);
    m_pSink->m_cbSamples.fetch_add(sample.cb, std::memory_order_relaxed);
    return m_pSink->m_Callback ? m_pSink->m_Callback(sample) : S_OK;
  }

  STDMETHODIMP EndOfStream() override {
    if (IsStopped() || IsFlushing() || m_pSink->m_bEndOfStream.exchange(true)) return S_OK;
    m_pSink->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
  }

  STDMETHODIMP BeginFlush() override {
    m_pSink->m_bEndOfStream = false;
    return CBaseInputPin::BeginFlush();
  }

  STDMETHODIMP EndFlush() override {
    m_pSink->m_bEndOfStream = false;
    return CBaseInputPin::EndFlush();
  }

  HRESULT Active() override {
    m_pSink->m_bEndOfStream = false;
    return CBaseInputPin::Active();
  }

  HRESULT Inactive() override {
    // The upstream pin brings its own allocator; having none is no failure.
    const HRESULT hr = CBaseInputPin::Inactive();
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
  }

 private:
  CPayloadSink* const m_pSink;
};

CPayloadSink::CPayloadSink(HRESULT* phr)
    : CSinkFilter(L"CPayloadSink", &m_Lock, kClsidPayloadSink) {
  m_pPin.reset(new (std::nothrow) CInputPin(this, phr));
  if (!m_pPin && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CPayloadSink::~CPayloadSink() { m_pPin.reset(); }

HRESULT CPayloadSink::Create(CPayloadSink** ppSink) {
  if (ppSink == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  auto* pSink = new (std::nothrow) CPayloadSink(&hr);
  return HandOutNew(pSink, hr, ppSink);
}

int CPayloadSink::GetPinCount() { return 1; }

CBasePin* CPayloadSink::GetPin(int n) { return n == 0 ? m_pPin.get() : nullptr; }

IPin* CPayloadSink::InputPin() { return m_pPin.get(); }

void CPayloadSink::SetSampleCallback(SampleCallback callback) { m_Callback = std::move(callback); }

}  // namespace flvdmx::cli

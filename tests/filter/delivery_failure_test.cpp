// A downstream filter that fails what the loop asks of it (a decoder refusing
// a sample, an allocator out of buffers): the loop ends and the application
// learns of it through EC_ERRORABORT with that code, rather than waiting for
// a completion that never comes.
#include <gtest/gtest.h>

#include <atomic>

#include "filter/filter_rig.h"
#include "support/test_filters.h"

namespace flvdmx::filtertest {
namespace {

// Hands out buffers from the platform's allocator until cBuffers are gone,
// then answers hr.
class CFailingAllocator : public IMemAllocator {
 public:
  CFailingAllocator(IMemAllocator* pInner, int cBuffers, HRESULT hr)
      : m_pInner(pInner), m_cLeft(cBuffers), m_hr(hr) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IMemAllocator) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG cRef = --m_cRef;
    if (cRef == 0) {
      m_pInner->Release();
      delete this;
    }
    return static_cast<ULONG>(cRef);
  }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override {
    return m_pInner->SetProperties(pRequest, pActual);
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override {
    return m_pInner->GetProperties(pProps);
  }
  STDMETHODIMP Commit() override { return m_pInner->Commit(); }
  STDMETHODIMP Decommit() override { return m_pInner->Decommit(); }
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStart, REFERENCE_TIME* pStop,
                         DWORD dwFlags) override {
    if (--m_cLeft < 0) return *ppBuffer = nullptr, m_hr;
    return m_pInner->GetBuffer(ppBuffer, pStart, pStop, dwFlags);
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override {
    return m_pInner->ReleaseBuffer(pBuffer);
  }

 private:
  std::atomic<LONG> m_cRef{1};
  IMemAllocator* const m_pInner;
  std::atomic<int> m_cLeft;
  const HRESULT m_hr;
};

struct Failure {
  int cAccepted = 0;           // samples (or buffers) that go through first
  HRESULT hrReceive = S_OK;    // then Receive's answer
  HRESULT hrGetBuffer = S_OK;  // or then GetBuffer's
};

class CFailingPin : public CBaseInputPin {
 public:
  CFailingPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, const Failure& failure)
      : CBaseInputPin(L"CFailingPin", pFilter, pLock, phr, L"Input"), m_Failure(failure) {}

  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override {
    if (m_Failure.hrGetBuffer == S_OK) return CBaseInputPin::GetAllocator(ppAllocator);
    IMemAllocator* pInner = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, reinterpret_cast<void**>(&pInner));
    if (FAILED(hr)) return hr;
    *ppAllocator = new CFailingAllocator(pInner, m_Failure.cAccepted, m_Failure.hrGetBuffer);
    return S_OK;
  }
  STDMETHODIMP Receive(IMediaSample* pSample) override {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return ++m_cReceived > m_Failure.cAccepted ? m_Failure.hrReceive : S_OK;
  }

  std::atomic<int> m_cReceived{0};

 private:
  const Failure m_Failure;
};

class CFailingSink : public CBaseFilter {
 public:
  explicit CFailingSink(const Failure& failure)
      : CBaseFilter(L"CFailingSink", nullptr, &m_Lock, CTestFilter::kClsid),
        m_Pin(this, &m_Lock, &m_hr, failure) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &m_Pin : nullptr; }

  CCritSec m_Lock;
  HRESULT m_hr = S_OK;
  CFailingPin m_Pin;
};

class DeliveryFailureTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectObjectsActive(0); }
};

// The audio loop against a failing sink; the video pin feeds a recording sink
// and must not hide the failure.
TEST_F(DeliveryFailureTest, FailureReachesTheGraphAsErrorAbort) {
  const struct {
    const char* what;
    Failure failure;
    HRESULT hrReported;  // S_OK: nothing reported
  } cases[] = {
      {"ReceiveRefusesTheFirstSample", {0, VFW_E_TYPE_NOT_ACCEPTED, S_OK}, VFW_E_TYPE_NOT_ACCEPTED},
      {"ReceiveFailsLater", {5, E_FAIL, S_OK}, E_FAIL},
      {"GetBufferFails", {3, S_OK, E_OUTOFMEMORY}, E_OUTOFMEMORY},
      // Answers of a sink stopped before the filter (the graph stops
      // renderers first), and a request to stop: not failures of the run.
      {"ReceiveWhileStopping", {2, VFW_E_WRONG_STATE, S_OK}, S_OK},
      {"GetBufferWhileStopping", {2, S_OK, VFW_E_NOT_COMMITTED}, S_OK},
      {"ReceiveAsksToStop", {2, S_FALSE, S_OK}, S_OK},
  };
  const CraftedFlv file = MakeFlv(Layout());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto* pSink = new CFailingSink(c.failure);
    pSink->NonDelegatingAddRef();
    {
      FilterRig rig(file.bytes);
      ASSERT_EQ(rig.ConnectInput(), S_OK);
      rig.ConnectSink("Video");
      ASSERT_EQ(rig.Graph()->AddFilter(pSink, L"Failing sink"), S_OK);
      ASSERT_EQ(rig.Graph()->Connect(rig.OutputPin("Audio"), &pSink->m_Pin), S_OK);
      // The failing sink never completes: without a report the wait times out.
      EXPECT_EQ(rig.RunToCompletion(c.hrReported == S_OK ? 500 : 5000),
                c.hrReported == S_OK ? 0 : EC_ERRORABORT);
      int cAborts = 0;
      for (const CHostGraph::Event& e : rig.Graph()->PeekEvents()) {
        if (e.lCode != EC_ERRORABORT) continue;
        ++cAborts;
        EXPECT_EQ(e.lParam1, c.hrReported);
        EXPECT_EQ(e.lParam2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(rig.Dmx())));
      }
      EXPECT_EQ(cAborts, c.hrReported == S_OK ? 0 : 1);
      // The loop ended at the failure: nothing was offered after it.
      EXPECT_EQ(pSink->m_Pin.m_cReceived.load(),
                c.failure.cAccepted + (c.failure.hrReceive != S_OK ? 1 : 0));
      EXPECT_EQ(rig.Graph()->Stop(), S_OK);
    }
    pSink->NonDelegatingRelease();
  }
}

}  // namespace
}  // namespace flvdmx::filtertest

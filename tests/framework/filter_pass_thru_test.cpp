// CFilterPassThru on the output pins: which pin applies positions and rate,
// what every pin forwards, and that handing out seeking does not tie the
// filter's lifetime to its pins.
#include <gtest/gtest.h>

#include "dmx_test_doubles.h"
#include "seeking/filter_pass_thru.h"

namespace flvdmx::fwtest {
namespace {

constexpr LONGLONG kSecond = 10000000;

class PassThru : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_Dmx->AddOutputPin(), S_OK);
    ASSERT_EQ(m_Dmx->AddOutputPin(), S_OK);
  }
  void TearDown() override {
    for (IMediaSeeking*& p : m_Held) p->Release();
  }

  // The pin's IMediaSeeking, released by the fixture.
  IMediaSeeking* SeekingOf(int iIndex) {
    IMediaSeeking* p = nullptr;
    EXPECT_EQ(m_Dmx->GetOutputPin(iIndex)->QueryInterface(IID_IMediaSeeking,
                                                          reinterpret_cast<void**>(&p)),
              S_OK);
    if (p != nullptr) m_Held.push_back(p);
    return p;
  }
  CBaseDmxOutputPin* Pin(int iIndex) { return m_Dmx->GetOutputPin(iIndex); }

  Held<CTestDmx> m_Dmx{2};
  std::vector<IMediaSeeking*> m_Held;
};

TEST_F(PassThru, FirstPinAskedAppliesSeeksAndTheOtherIgnoresThem) {
  IMediaSeeking* pSecond = SeekingOf(1);
  IMediaSeeking* pFirst = SeekingOf(0);
  EXPECT_TRUE(Pin(1)->IsMainSeekingPin());
  EXPECT_FALSE(Pin(0)->IsMainSeekingPin());

  LONGLONG llPosition = 5 * kSecond;
  EXPECT_EQ(pFirst->SetPositions(&llPosition, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(m_Dmx->m_llCurrent, 0) << "not the main pin: nothing done";
  EXPECT_EQ(m_Dmx->cUpdateCurrentPosition, 0);
  EXPECT_EQ(pFirst->SetRate(2.0), S_OK);
  EXPECT_EQ(m_Dmx->m_dRate, 1.0);

  EXPECT_EQ(pSecond->SetPositions(&llPosition, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(m_Dmx->m_llCurrent, 5 * kSecond);
  EXPECT_EQ(pSecond->SetRate(2.0), S_OK);
  EXPECT_EQ(m_Dmx->m_dRate, 2.0);
  EXPECT_EQ(m_Dmx->cUpdateCurrentPosition, 2);
}

TEST_F(PassThru, IgnoredRateIsTraced) {
  SeekingOf(0);
  IMediaSeeking* pOther = SeekingOf(1);
  const uint32_t saved = g_dwTraceFlags;
  g_dwTraceFlags = kTraceOn | kTraceDebugger;
  testing::internal::CaptureStderr();
  pOther->SetRate(2.0);
  const std::string text = testing::internal::GetCapturedStderr();
  g_dwTraceFlags = saved;
  EXPECT_NE(text.find("PassThru_SetRate(2.000000) ignored, because I am not the main seeking pin"),
            std::string::npos)
      << text;
}

TEST_F(PassThru, EveryPinForwardsQueriesAndTimeFormat) {
  SeekingOf(0);
  IMediaSeeking* pOther = SeekingOf(1);
  m_Dmx->m_llCurrentTime = 3 * kSecond;
  LONGLONG llValue = 0;
  EXPECT_EQ(pOther->GetDuration(&llValue), S_OK);
  EXPECT_EQ(llValue, m_Dmx->m_llDuration);
  EXPECT_EQ(pOther->GetCurrentPosition(&llValue), S_OK);
  EXPECT_EQ(llValue, 3 * kSecond);
  double dRate = 0;
  EXPECT_EQ(pOther->GetRate(&dRate), S_OK);
  EXPECT_EQ(dRate, 1.0);
  DWORD dwCaps = 0;
  EXPECT_EQ(pOther->GetCapabilities(&dwCaps), S_OK);
  EXPECT_EQ(dwCaps, 0x3Fu);
  EXPECT_EQ(pOther->GetAvailable(nullptr, nullptr), E_NOTIMPL);

  EXPECT_EQ(pOther->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK) << "not only the main pin";
  EXPECT_EQ(m_Dmx->IsUsingTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(pOther->GetDuration(&llValue), S_OK);
  EXPECT_EQ(llValue, 100);
  LONGLONG llStop = 0;
  EXPECT_EQ(pOther->GetPositions(&llValue, &llStop), S_OK);
  EXPECT_EQ(pOther->ConvertTimeFormat(&llValue, &TIME_FORMAT_MEDIA_TIME, 2, nullptr), S_OK);
  EXPECT_EQ(llValue, 2 * CTestDmx::kTimePerFrame);
}

TEST_F(PassThru, ConnectionChangeLetsTheNextPinAskedTakeOver) {
  SeekingOf(0);
  SeekingOf(1);
  EXPECT_TRUE(Pin(0)->IsMainSeekingPin());
  m_Dmx->PinBreakConnect(2);  // as a pin disconnecting does
  IMediaSeeking* pSecond = SeekingOf(1);
  EXPECT_TRUE(Pin(1)->IsMainSeekingPin());
  SeekingOf(0);
  EXPECT_FALSE(Pin(0)->IsMainSeekingPin());
  LONGLONG llPosition = kSecond;
  EXPECT_EQ(pSecond->SetPositions(&llPosition, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(m_Dmx->m_llCurrent, kSecond);
}

TEST_F(PassThru, FilterWithoutSeekingOffersNoneOnItsPins) {
  m_Dmx->m_bOfferSeeking = false;
  void* pv = this;
  EXPECT_EQ(Pin(0)->QueryInterface(IID_IMediaSeeking, &pv), E_NOTIMPL);
  EXPECT_EQ(pv, nullptr);
  ExpectRefCount(static_cast<IPin*>(Pin(0)), 1);
}

TEST_F(PassThru, PinsDoNotKeepTheFilterAlive) {
  SeekingOf(0);
  SeekingOf(1);
  ExpectRefCount(m_Dmx->AsFilter(), 1);
}

TEST(PassThruLifetime, FilterWhosePinsWereAskedForSeekingIsDestroyed) {
  const LONG cObjects = CUnknown::ObjectsActive();
  {
    Held<CTestDmx> dmx(2);
    ASSERT_EQ(dmx->AddOutputPin(), S_OK);
    IMediaSeeking* pSeeking = nullptr;
    ASSERT_EQ(dmx->GetOutputPin(0)->QueryInterface(IID_IMediaSeeking,
                                                   reinterpret_cast<void**>(&pSeeking)),
              S_OK);
    pSeeking->Release();
  }
  ExpectObjectsActive(cObjects);
}

// A pass-through standing alone, with a position of its own when told.
class CLonePassThru : public CFilterPassThru {
 public:
  CLonePassThru(IBaseFilter* pFilter, HRESULT* phr) : CFilterPassThru(pFilter, phr) {}
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  HRESULT GetPinPosition(LONGLONG* pllPosition, LONG lArg) override {
    if (!m_bOwnPosition) return CFilterPassThru::GetPinPosition(pllPosition, lArg);
    *pllPosition = 42;
    return S_OK;
  }
  bool m_bOwnPosition = false;
};

TEST(PassThruAlone, WithoutTheFiltersSeekingEveryCallIsRefused) {
  HRESULT hr = S_OK;
  CLonePassThru passThru(nullptr, &hr);
  EXPECT_EQ(hr, E_POINTER);
  void* pv = &passThru;
  EXPECT_EQ(passThru.QuerySeekingInterface(IID_IMediaSeeking, &pv), E_NOTIMPL);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(passThru.QuerySeekingInterface(IID_IMediaSeeking, nullptr), E_POINTER);

  LONGLONG llValue = 0;
  EXPECT_EQ(passThru.SetPositions(&llValue, 0, nullptr, 0), E_POINTER);
  EXPECT_EQ(passThru.SetRate(1.0), E_NOTIMPL);
  EXPECT_EQ(passThru.GetDuration(&llValue), E_NOTIMPL);
  EXPECT_EQ(passThru.GetCurrentPosition(&llValue), E_NOTIMPL);
  EXPECT_EQ(passThru.SetTimeFormat(&TIME_FORMAT_FRAME), E_NOTIMPL);
  EXPECT_EQ(passThru.GetPreroll(&llValue), E_NOTIMPL);

  passThru.m_bOwnPosition = true;
  EXPECT_EQ(passThru.GetCurrentPosition(&llValue), S_OK);
  EXPECT_EQ(llValue, 42);
}

TEST(PassThruAlone, OnlyIMediaSeekingIsHandedOut) {
  Held<CTestDmx> dmx(2);
  HRESULT hr = S_OK;
  CLonePassThru passThru(dmx->AsFilter(), &hr);
  EXPECT_EQ(hr, S_OK);
  void* pv = &passThru;
  EXPECT_EQ(passThru.QuerySeekingInterface(IID_IPin, &pv), E_NOTIMPL);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(passThru.QuerySeekingInterface(IID_IMediaSeeking, &pv), S_OK);
  EXPECT_EQ(pv, static_cast<IMediaSeeking*>(&passThru));
  LONGLONG llDuration = 0;
  EXPECT_EQ(passThru.GetDuration(&llDuration), S_OK);
  EXPECT_EQ(llDuration, dmx->m_llDuration);
}

}  // namespace
}  // namespace flvdmx::fwtest

// CSeeking: positions, flags, time formats, rate and the recorded segment,
// through a probe whose hooks are scripted (25 frames a second).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "diag/trace.h"
#include "seeking/seeking.h"

namespace flvdmx {
namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kFrame = 400000;

class CSeekingProbe : public CSeeking {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }

  STDMETHODIMP GetDuration(LONGLONG* pDuration) override {
    *pDuration = 60 * kSecond;
    return S_OK;
  }
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override {
    if (FAILED(m_hrCurrentPosition)) return m_hrCurrentPosition;
    *pCurrent = m_llPlayedTo;
    return S_OK;
  }
  HRESULT UpdateCurrentPosition(BOOL bFlush) override {
    ++m_cUpdates;
    m_bLastFlush = bFlush;
    return m_hrUpdate;
  }
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) override {
    if (FAILED(m_hrToTime)) return m_hrToTime;
    *pllTime = llFrame * kFrame;
    return S_OK;
  }
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) override {
    if (FAILED(m_hrToFrame)) return m_hrToFrame;
    *pllFrame = llTime / kFrame;
    return S_OK;
  }

  ULONG m_cRef = 1;
  HRESULT m_hrCurrentPosition = S_OK;
  LONGLONG m_llPlayedTo = 0;
  HRESULT m_hrUpdate = S_OK;
  HRESULT m_hrToTime = S_OK;
  HRESULT m_hrToFrame = S_OK;
  int m_cUpdates = 0;
  BOOL m_bLastFlush = -1;
};

class FlagsScope {
 public:
  explicit FlagsScope(uint32_t flags) : m_saved(g_dwTraceFlags) { g_dwTraceFlags = flags; }
  ~FlagsScope() { g_dwTraceFlags = m_saved; }

 private:
  uint32_t m_saved;
};

TEST(Seeking, FreshObjectPlaysEverythingAtNormalRateInMediaTime) {
  CSeekingProbe seeking;
  GUID format{};
  EXPECT_EQ(seeking.GetTimeFormat(&format), S_OK);
  EXPECT_EQ(format, TIME_FORMAT_MEDIA_TIME);
  LONGLONG llStop = 0;
  EXPECT_EQ(seeking.GetStopPosition(&llStop), S_OK);
  EXPECT_EQ(llStop, 0x7FFFFFFFFFFFFFFFLL);
  double dRate = 0;
  EXPECT_EQ(seeking.GetRate(&dRate), S_OK);
  EXPECT_EQ(dRate, 1.0);
  DWORD dwCaps = 0;
  EXPECT_EQ(seeking.GetCapabilities(&dwCaps), S_OK);
  EXPECT_EQ(dwCaps, 0x3Fu);
  EXPECT_EQ(seeking.QueryPreferredFormat(&format), S_OK);
  EXPECT_EQ(format, TIME_FORMAT_MEDIA_TIME);
  EXPECT_EQ(seeking.GetAvailable(nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(seeking.GetPreroll(nullptr), E_NOTIMPL);
}

struct CapabilityCase {
  DWORD dwAsked;
  HRESULT hrExpected;
  DWORD dwLeft;
};

class CheckCapabilities : public testing::TestWithParam<CapabilityCase> {};

TEST_P(CheckCapabilities, MasksToWhatIsSupported) {
  CSeekingProbe seeking;
  DWORD dwCaps = GetParam().dwAsked;
  EXPECT_EQ(seeking.CheckCapabilities(&dwCaps), GetParam().hrExpected);
  EXPECT_EQ(dwCaps, GetParam().dwLeft);
}

INSTANTIATE_TEST_SUITE_P(Seeking, CheckCapabilities,
                         testing::Values(CapabilityCase{0x7F, S_FALSE, 0x3F},
                                         CapabilityCase{0x40, E_FAIL, 0},
                                         CapabilityCase{0x1C0, E_FAIL, 0},
                                         CapabilityCase{0, S_OK, 0},
                                         CapabilityCase{0x21, S_OK, 0x21},
                                         CapabilityCase{0x3F, S_OK, 0x3F}));

TEST(Seeking, OnlyFrameAndMediaTimeFormatsAreKnown) {
  CSeekingProbe seeking;
  EXPECT_EQ(seeking.IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(seeking.IsFormatSupported(&TIME_FORMAT_BYTE), S_FALSE);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_FRAME), S_FALSE);
  EXPECT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_SAMPLE), E_FAIL);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
}

TEST(Seeking, SwitchingFormatsConvertsBothPositions) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = 2 * kSecond;
  seeking.m_llStop = 4 * kSecond;
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 50);
  EXPECT_EQ(seeking.m_llStop, 100);
  EXPECT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK) << "already in frames";
  EXPECT_EQ(seeking.m_llCurrent, 50);

  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 2 * kSecond);
  EXPECT_EQ(seeking.m_llStop, 4 * kSecond);
}

TEST(Seeking, FrameFormatIsRefusedWhenTimesCannotBecomeFrames) {
  CSeekingProbe seeking;
  seeking.m_hrToFrame = E_NOTIMPL;  // a file without video
  seeking.m_llCurrent = 3 * kSecond;
  EXPECT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), E_NOTIMPL);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 3 * kSecond);
}

TEST(Seeking, ConvertTimeFormatUsesTheHooksAndTheFormatInUse) {
  CSeekingProbe seeking;
  LONGLONG llOut = 0;
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, nullptr, 1234, nullptr), S_OK);
  EXPECT_EQ(llOut, 1234) << "both null: the format in use on both sides";
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, &TIME_FORMAT_MEDIA_TIME, 10, &TIME_FORMAT_FRAME),
            S_OK);
  EXPECT_EQ(llOut, 10 * kFrame);
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, &TIME_FORMAT_FRAME, kSecond, nullptr), S_OK);
  EXPECT_EQ(llOut, 25);
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, &TIME_FORMAT_BYTE, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, nullptr, 1, &TIME_FORMAT_BYTE), E_INVALIDARG);
  seeking.m_hrToFrame = E_NOTIMPL;
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, &TIME_FORMAT_FRAME, kSecond, nullptr), E_NOTIMPL);
}

// One SetPositions call from a start at 10 s with the stop at 20 s.
struct PositionCase {
  const char* name;
  LONGLONG llCurrent;
  DWORD dwCurrentFlags;
  LONGLONG llStop;
  DWORD dwStopFlags;
  HRESULT hrExpected;
  LONGLONG llNewCurrent;
  LONGLONG llNewStop;
  BOOL bFlush;  // -1: UpdateCurrentPosition is not called
};

class SetPositions : public testing::TestWithParam<PositionCase> {};

TEST_P(SetPositions, CombinesFlagsAndValues) {
  const PositionCase& c = GetParam();
  CSeekingProbe seeking;
  seeking.m_llCurrent = 10 * kSecond;
  seeking.m_llPlayedTo = 10 * kSecond;
  seeking.m_llStop = 20 * kSecond;
  LONGLONG llCurrent = c.llCurrent;
  LONGLONG llStop = c.llStop;
  EXPECT_EQ(seeking.SetPositions(&llCurrent, c.dwCurrentFlags, &llStop, c.dwStopFlags),
            c.hrExpected);
  EXPECT_EQ(seeking.m_llCurrent, c.llNewCurrent);
  EXPECT_EQ(seeking.m_llStop, c.llNewStop);
  EXPECT_EQ(seeking.m_cUpdates, c.bFlush == -1 ? 0 : 1);
  if (c.bFlush != -1) {
    EXPECT_EQ(seeking.m_bLastFlush, c.bFlush);
  }
}

constexpr DWORD kAbs = AM_SEEKING_AbsolutePositioning;
constexpr DWORD kRel = AM_SEEKING_RelativePositioning;
constexpr DWORD kInc = AM_SEEKING_IncrementalPositioning;
constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kMin = std::numeric_limits<LONGLONG>::min();

INSTANTIATE_TEST_SUITE_P(
    Seeking, SetPositions,
    testing::Values(
        PositionCase{"Absolute", 3 * kSecond, kAbs, 0, 0, S_OK, 3 * kSecond, 20 * kSecond, TRUE},
        PositionCase{"RelativeCurrentKeepsStop", 5 * kSecond, kRel, 0, 0, S_OK, 15 * kSecond,
                     20 * kSecond, TRUE},
        PositionCase{"IncrementalStopFollowsNewCurrent", 5 * kSecond, kRel, 2 * kSecond, kInc,
                     S_OK, 15 * kSecond, 17 * kSecond, TRUE},
        PositionCase{"RelativeStopAddsToOldStop", 5 * kSecond, kRel, 2 * kSecond, kRel, S_OK,
                     15 * kSecond, 22 * kSecond, TRUE},
        PositionCase{"AbsoluteStop", 0, 0, 7 * kSecond, kAbs, S_OK, 10 * kSecond, 7 * kSecond,
                     TRUE},
        PositionCase{"IncrementalCurrentIsRefused", kSecond, kInc, 1, kAbs, E_INVALIDARG,
                     10 * kSecond, 20 * kSecond, -1},
        PositionCase{"NoFlushInStopFlagsAlone", 0, kAbs, 0, AM_SEEKING_NoFlush, S_OK, 0,
                     20 * kSecond, FALSE},
        PositionCase{"NoFlushInCurrentFlags", 0, kAbs | AM_SEEKING_NoFlush, 0, 0, S_OK, 0,
                     20 * kSecond, FALSE},
        PositionCase{"KeyFrameAndSegmentBitsHaveNoEffect", kSecond,
                     kAbs | AM_SEEKING_SeekToKeyFrame | AM_SEEKING_Segment, 0, 0, S_OK, kSecond,
                     20 * kSecond, TRUE},
        PositionCase{"NoPositionsCompareWithEachOther", 30 * kSecond, kAbs, -kSecond, kAbs, S_OK,
                     30 * kSecond, -kSecond, TRUE},
        PositionCase{"OverflowSaturates", kMax, kRel, 5, kInc, S_OK, kMax, kMax, TRUE}),
    [](const testing::TestParamInfo<PositionCase>& info) { return std::string(info.param.name); });

TEST(Seeking, PositioningWithoutAPointerIsRefusedAndChangesNothing) {
  CSeekingProbe seeking;
  LONGLONG llStop = kSecond;
  EXPECT_EQ(seeking.SetPositions(nullptr, kAbs, &llStop, kAbs), E_POINTER);
  EXPECT_EQ(seeking.SetPositions(nullptr, AM_SEEKING_ReturnTime, &llStop, 0), E_POINTER);
  LONGLONG llCurrent = kSecond;
  EXPECT_EQ(seeking.SetPositions(&llCurrent, kAbs, nullptr, kRel), E_POINTER);
  EXPECT_EQ(seeking.m_cUpdates, 0);
  EXPECT_EQ(seeking.m_llStop, kNoStopTime);

  EXPECT_EQ(seeking.SetPositions(nullptr, 0, &llStop, kAbs), S_OK) << "no positioning, no pointer";
  EXPECT_EQ(seeking.m_llStop, kSecond);
}

TEST(Seeking, CurrentPositionOfTheFilterIsTheBaseForRelativeMoves) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = 10 * kSecond;
  seeking.m_llPlayedTo = 12 * kSecond;  // where playback has got to
  LONGLONG llMove = kSecond;
  ASSERT_EQ(seeking.SetPositions(&llMove, kRel, nullptr, 0), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 13 * kSecond);

  seeking.m_hrCurrentPosition = E_UNEXPECTED;  // the filter cannot tell
  llMove = kSecond;
  ASSERT_EQ(seeking.SetPositions(&llMove, kRel, nullptr, 0), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 14 * kSecond) << "the requested position stands in";
}

TEST(Seeking, ReturnTimeWritesReferenceTimesBack) {
  CSeekingProbe seeking;
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  LONGLONG llCurrent = 10;  // frames
  LONGLONG llStop = 5;
  ASSERT_EQ(seeking.SetPositions(&llCurrent, kAbs | AM_SEEKING_ReturnTime, &llStop,
                                 kInc | AM_SEEKING_ReturnTime),
            S_OK);
  EXPECT_EQ(llCurrent, 10 * kFrame);
  EXPECT_EQ(llStop, 15 * kFrame);
  EXPECT_EQ(seeking.m_llCurrent, 10);
  EXPECT_EQ(seeking.m_llStop, 15);
}

TEST(Seeking, FailedReturnTimeConversionStoresNothing) {
  CSeekingProbe seeking;
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  const LONGLONG llStopBefore = seeking.m_llStop;
  seeking.m_hrToTime = E_FAIL;
  LONGLONG llCurrent = 10;
  EXPECT_EQ(seeking.SetPositions(&llCurrent, kAbs | AM_SEEKING_ReturnTime, nullptr, 0), E_FAIL);
  LONGLONG llStop = 3;
  EXPECT_EQ(seeking.SetPositions(&llCurrent, kAbs, &llStop, kAbs | AM_SEEKING_ReturnTime), E_FAIL);
  EXPECT_EQ(seeking.m_llCurrent, 0);
  EXPECT_EQ(seeking.m_llStop, llStopBefore);
  EXPECT_EQ(seeking.m_cUpdates, 0);
}

TEST(Seeking, UpdateResultIsTheResultOfSetPositions) {
  CSeekingProbe seeking;
  seeking.m_hrUpdate = VFW_E_WRONG_STATE;
  LONGLONG llCurrent = kSecond;
  EXPECT_EQ(seeking.SetPositions(&llCurrent, kAbs, nullptr, 0), VFW_E_WRONG_STATE);
  EXPECT_EQ(seeking.m_llCurrent, kSecond) << "stored before the filter was asked";
}

TEST(Seeking, GetPositionsReportsStopEvenWhenCurrentFails) {
  CSeekingProbe seeking;
  seeking.m_hrCurrentPosition = E_UNEXPECTED;
  seeking.m_llStop = 9;
  LONGLONG llCurrent = -1;
  LONGLONG llStop = 0;
  EXPECT_EQ(seeking.GetPositions(&llCurrent, &llStop), S_OK);
  EXPECT_EQ(llStop, 9);
  EXPECT_EQ(seeking.GetPositions(&llCurrent, nullptr), E_POINTER);
}

struct RateCase {
  double dRate;
  HRESULT hrExpected;
  int cUpdates;
};

class SetRate : public testing::TestWithParam<RateCase> {};

TEST_P(SetRate, AcceptsOnlyPositiveRatesAndAppliesChanges) {
  CSeekingProbe seeking;
  EXPECT_EQ(seeking.SetRate(GetParam().dRate), GetParam().hrExpected);
  EXPECT_EQ(seeking.m_cUpdates, GetParam().cUpdates);
  const double dExpected = GetParam().cUpdates == 1 ? GetParam().dRate : 1.0;
  EXPECT_EQ(seeking.m_dRate, dExpected);
  if (GetParam().cUpdates == 1) {
    EXPECT_EQ(seeking.m_bLastFlush, TRUE);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeking, SetRate,
                         testing::Values(RateCase{0.0, E_INVALIDARG, 0},
                                         RateCase{-1.0, E_INVALIDARG, 0},
                                         RateCase{std::nan(""), E_INVALIDARG, 0},
                                         RateCase{1.0, S_OK, 0}, RateCase{2.0, S_OK, 1},
                                         RateCase{0.5, S_OK, 1}));

TEST(Seeking, SetRateReturnsTheUpdateResult) {
  CSeekingProbe seeking;
  seeking.m_hrUpdate = E_FAIL;
  EXPECT_EQ(seeking.SetRate(2.0), E_FAIL);
}

TEST(Seeking, SegmentIsReportedInReferenceTime) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = 25;
  seeking.m_llStop = 50;
  seeking.m_bMediaTime = FALSE;
  seeking.m_dRate = 2.0;
  LONGLONG llStart = 0;
  LONGLONG llStop = 0;
  double dRate = 0;
  EXPECT_EQ(seeking.GetSegment(&llStart, &llStop, &dRate), S_OK);
  EXPECT_EQ(llStart, kSecond);
  EXPECT_EQ(llStop, 2 * kSecond);
  EXPECT_EQ(dRate, 2.0);

  seeking.m_hrToTime = E_FAIL;
  EXPECT_EQ(seeking.GetSegment(&llStart, &llStop, &dRate), E_FAIL);
}

TEST(Seeking, BackwardSegmentEndsAtTheStart) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = 5 * kSecond;
  seeking.m_llStop = 9 * kSecond;
  seeking.m_dRate = -1.0;  // not settable through SetRate; a subclass could allow it
  LONGLONG llStart = 0;
  LONGLONG llStop = 0;
  double dRate = 0;
  EXPECT_EQ(seeking.GetSegment(&llStart, &llStop, &dRate), S_OK);
  EXPECT_EQ(llStop, 0);
}

TEST(Seeking, RecordedSegmentMakesTheSameRequestANoOpUnlessRunning) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = kSecond;
  EXPECT_EQ(seeking.RecordNewSegment(State_Paused), S_OK) << "first time: new";
  EXPECT_EQ(seeking.RecordNewSegment(State_Paused), S_FALSE) << "same again";
  LONGLONG llStart = 0;
  LONGLONG llStop = 0;
  double dRate = 0;
  EXPECT_EQ(seeking.GetSegment(&llStart, &llStop, &dRate), S_FALSE);

  seeking.m_llCurrent = 2 * kSecond;
  EXPECT_EQ(seeking.RecordNewSegment(State_Stopped), S_OK) << "moved";
  seeking.ClearRecordedSegment();
  EXPECT_EQ(seeking.RecordNewSegment(State_Stopped), S_OK) << "forgotten";

  seeking.ClearRecordedSegment();
  EXPECT_EQ(seeking.RecordNewSegment(State_Running), S_OK);
  EXPECT_EQ(seeking.RecordNewSegment(State_Running), S_OK) << "running records nothing";

  seeking.m_bMediaTime = FALSE;
  seeking.m_hrToTime = E_FAIL;
  EXPECT_EQ(seeking.RecordNewSegment(State_Paused), S_FALSE) << "an unknown segment is not new";
}

TEST(Seeking, ResetPositionsKeepsTheRate) {
  CSeekingProbe seeking;
  ASSERT_EQ(seeking.SetRate(2.0), S_OK);
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  seeking.m_llCurrent = 7;
  seeking.m_llCurrentTime = 99;
  seeking.m_llCurrentFrame = 3;
  seeking.ResetPositions();
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 0);
  EXPECT_EQ(seeking.m_llCurrentTime, 0);
  EXPECT_EQ(seeking.m_llCurrentFrame, 0);
  EXPECT_EQ(seeking.m_dRate, 2.0);
}

TEST(Seeking, QuerySeekingInterfaceHandsOutOnlyIMediaSeeking) {
  CSeekingProbe seeking;
  void* pv = &seeking;
  EXPECT_EQ(seeking.QuerySeekingInterface(IID_IMediaSeeking, nullptr), E_POINTER);
  EXPECT_EQ(seeking.QuerySeekingInterface(IID_IPin, &pv), E_NOTIMPL);
  EXPECT_EQ(pv, nullptr);
  ASSERT_EQ(seeking.QuerySeekingInterface(IID_IMediaSeeking, &pv), S_OK);
  EXPECT_EQ(pv, static_cast<IMediaSeeking*>(&seeking));
  EXPECT_EQ(seeking.m_cRef, 2u);
}

struct FormatCase {
  bool bNull;
  BOOL bMediaTime;
  LONGLONG llValue;
  const char* text;
};

class FormatPosition : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatPosition, RendersForTheTrace) {
  FlagsScope flags(kTraceOn);
  CSeekingProbe seeking;
  seeking.m_bMediaTime = GetParam().bMediaTime;
  const LONGLONG llValue = GetParam().llValue;
  EXPECT_STREQ(seeking.FormatPosition(GetParam().bNull ? nullptr : &llValue), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Seeking, FormatPosition,
    testing::Values(FormatCase{true, TRUE, 0, "(NULL)"},
                    FormatCase{false, FALSE, 0x100000005LL, "5 frame"},
                    FormatCase{false, TRUE, kMax, "MAX_INT64"},
                    FormatCase{false, TRUE, kMin + 1, "MIN_INT64"},
                    FormatCase{false, TRUE, 9990000, "999ms"},
                    FormatCase{false, TRUE, -9999999, "-999ms"},
                    FormatCase{false, TRUE, 15000000, "1.500s"}));

TEST(Seeking, FormatPositionKeepsFourResultsApart) {
  FlagsScope flags(kTraceOn);
  CSeekingProbe seeking;
  const LONGLONG a = kMax;
  const char* p1 = seeking.FormatPosition(&a);
  const char* p2 = seeking.FormatPosition(nullptr);
  const char* p3 = seeking.FormatPosition(nullptr);
  const char* p4 = seeking.FormatPosition(nullptr);
  EXPECT_STREQ(p1, "MAX_INT64");
  EXPECT_NE(p1, p2);
  EXPECT_NE(p1, p3);
  EXPECT_NE(p1, p4);
  EXPECT_EQ(seeking.FormatPosition(nullptr), p1) << "the fifth reuses the first buffer";
}

TEST(Seeking, SeeksAndRateChangesAreTraced) {
  CSeekingProbe seeking;
  std::string text;
  {
    FlagsScope flags(kTraceOn | kTraceDebugger);
    testing::internal::CaptureStderr();
    LONGLONG llCurrent = 15000000;
    seeking.SetPositions(&llCurrent, kAbs | AM_SEEKING_NoFlush, nullptr, 0);
    seeking.SetRate(2.0);
    text = testing::internal::GetCapturedStderr();
  }
  for (const char* line :
       {"+ SetPositions. Current=1.500s, CurrentFlags=00000021, Stop=(NULL), StopFlags=0",
        "- SetPositions", "CSeeking.SetRate(2.000000)"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
}

TEST(Seeking, MillisecondsAreEmptyWhileTracingIsOff) {
  FlagsScope flags(0);
  CSeekingProbe seeking;
  const LONGLONG llValue = 15000000;
  EXPECT_STREQ(seeking.FormatPosition(&llValue), "");
}

}  // namespace
}  // namespace flvdmx

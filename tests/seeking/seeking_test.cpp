// CSeeking: positions, flags, time formats, rate and the recorded segment,
// through a probe whose hooks are scripted (25 frames a second).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "seeking/seeking.h"

namespace flvdmx {
namespace {

constexpr LONGLONG kSecond = 10000000;
constexpr LONGLONG kFrame = 400000;

class CSeekingProbe : public CSeeking {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetDuration(LONGLONG* pDuration) override { return *pDuration = 60 * kSecond, S_OK; }
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override {
    return *pCurrent = m_llPlayedTo, S_OK;
  }
  HRESULT UpdateCurrentPosition(BOOL bFlush) override {
    ++m_cUpdates;
    m_bLastFlush = bFlush;
    return S_OK;
  }
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) override {
    if (SUCCEEDED(m_hrToTime)) *pllTime = llFrame * kFrame;
    return m_hrToTime;
  }
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) override {
    if (SUCCEEDED(m_hrToFrame)) *pllFrame = llTime / kFrame;
    return m_hrToFrame;
  }

  LONGLONG m_llPlayedTo = 0;
  HRESULT m_hrToTime = S_OK;
  HRESULT m_hrToFrame = S_OK;
  int m_cUpdates = 0;
  BOOL m_bLastFlush = -1;
};

TEST(Seeking, FramesNeedTheConversionHook) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = 2 * kSecond;
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 50);
  LONGLONG llOut = 0;
  EXPECT_EQ(seeking.ConvertTimeFormat(&llOut, nullptr, 1, &TIME_FORMAT_BYTE), E_INVALIDARG);
  ASSERT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  seeking.m_hrToFrame = E_NOTIMPL;  // a file without video
  EXPECT_EQ(seeking.SetTimeFormat(&TIME_FORMAT_FRAME), E_NOTIMPL);
  EXPECT_EQ(seeking.IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seeking.m_llCurrent, 2 * kSecond);
}

constexpr DWORD kAbs = AM_SEEKING_AbsolutePositioning;
constexpr DWORD kRel = AM_SEEKING_RelativePositioning;
constexpr DWORD kInc = AM_SEEKING_IncrementalPositioning;

// One SetPositions call from a start at 10 s with the stop at 20 s.
TEST(Seeking, SetPositionsCombinesFlagsAndValues) {
  constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
  const struct {
    const char* name;
    LONGLONG llCurrent;
    DWORD dwCurrentFlags;
    LONGLONG llStop;
    DWORD dwStopFlags;
    HRESULT hrExpected;
    LONGLONG llNewCurrent, llNewStop;
    BOOL bFlush;  // -1: UpdateCurrentPosition is not called
  } cases[] = {
      {"IncrementalStopFollowsNewCurrent", 5 * kSecond, kRel, 2 * kSecond, kInc, S_OK, 15 * kSecond,
       17 * kSecond, TRUE},
      {"IncrementalCurrentIsRefused", kSecond, kInc, 1, kAbs, E_INVALIDARG, 10 * kSecond,
       20 * kSecond, -1},
      {"NoFlushInStopFlagsAlone", 0, kAbs, 0, AM_SEEKING_NoFlush, S_OK, 0, 20 * kSecond, FALSE},
      {"KeyFrameAndSegmentBitsHaveNoEffect", kSecond,
       kAbs | AM_SEEKING_SeekToKeyFrame | AM_SEEKING_Segment, 0, 0, S_OK, kSecond, 20 * kSecond,
       TRUE},
      // Deliberate: a stop before the start is kept, not refused.
      {"NoPositionsCompareWithEachOther", 30 * kSecond, kAbs, -kSecond, kAbs, S_OK, 30 * kSecond,
       -kSecond, TRUE},
      {"OverflowSaturates", kMax, kRel, 5, kInc, S_OK, kMax, kMax, TRUE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CSeekingProbe seeking;
    seeking.m_llCurrent = seeking.m_llPlayedTo = 10 * kSecond;
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
}

// A pointer is needed only where its flags say a position is read or
// written; a refused call changes nothing.
TEST(Seeking, NullPositionsAreRefusedOnlyWhereUsed) {
  const struct {
    const char* name;
    bool bCurrent, bStop;  // whether a pointer is passed
    DWORD dwCurrentFlags, dwStopFlags;
    HRESULT hrExpected;
  } cases[] = {
      {"CurrentMovesWithoutOne", false, true, kAbs, kAbs, E_POINTER},
      {"StopMovesWithoutOne", true, false, kAbs, kAbs, E_POINTER},
      {"ReturnTimeWithoutOne", false, true, AM_SEEKING_NoPositioning | AM_SEEKING_ReturnTime, kAbs,
       E_POINTER},
      {"CurrentNotMoved", false, true, AM_SEEKING_NoPositioning, kAbs, S_OK},
      {"NeitherMoved", false, false, AM_SEEKING_NoPositioning, AM_SEEKING_NoPositioning, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CSeekingProbe seeking;
    seeking.m_llCurrent = seeking.m_llPlayedTo = 10 * kSecond;
    seeking.m_llStop = 20 * kSecond;
    LONGLONG llCurrent = 3 * kSecond, llStop = 30 * kSecond;
    EXPECT_EQ(seeking.SetPositions(c.bCurrent ? &llCurrent : nullptr, c.dwCurrentFlags,
                                   c.bStop ? &llStop : nullptr, c.dwStopFlags),
              c.hrExpected);
    const bool bApplied = c.hrExpected == S_OK;
    EXPECT_EQ(seeking.m_llCurrent, 10 * kSecond);
    EXPECT_EQ(seeking.m_llStop, bApplied && c.bStop ? 30 * kSecond : 20 * kSecond);
  }
}

// Capabilities asked for: all supported is S_OK (untouched), some is S_FALSE
// with the supported ones left, none is E_FAIL.
TEST(Seeking, CheckCapabilitiesKeepsOnlyWhatIsSupported) {
  const struct {
    DWORD dwAsked;
    HRESULT hrExpected;
    DWORD dwLeft;
  } cases[] = {
      {0x3F, S_OK, 0x3F},
      {AM_SEEKING_CanGetDuration, S_OK, AM_SEEKING_CanGetDuration},
      {AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanPlayBackwards, S_FALSE,
       AM_SEEKING_CanSeekAbsolute},
      {AM_SEEKING_CanPlayBackwards, E_FAIL, 0},
      {AM_SEEKING_CanDoSegments | AM_SEEKING_Source, E_FAIL, 0},
  };
  CSeekingProbe seeking;
  for (const auto& c : cases) {
    DWORD dw = c.dwAsked;
    EXPECT_EQ(seeking.CheckCapabilities(&dw), c.hrExpected) << std::hex << c.dwAsked;
    EXPECT_EQ(dw, c.dwLeft) << std::hex << c.dwAsked;
  }
  EXPECT_EQ(seeking.CheckCapabilities(nullptr), E_POINTER);
}

TEST(Seeking, SetRateAcceptsOnlyPositiveRatesAndAppliesChanges) {
  const struct {
    double dRate;
    HRESULT hrExpected;
    int cUpdates;
  } cases[] = {
      {0.0, E_INVALIDARG, 0}, {std::nan(""), E_INVALIDARG, 0}, {1.0, S_OK, 0}, {0.5, S_OK, 1}};
  for (const auto& c : cases) {
    CSeekingProbe seeking;
    EXPECT_EQ(seeking.SetRate(c.dRate), c.hrExpected) << c.dRate;
    EXPECT_EQ(seeking.m_cUpdates, c.cUpdates) << c.dRate;
    EXPECT_EQ(seeking.m_dRate, c.cUpdates == 1 ? c.dRate : 1.0);
  }
}

TEST(Seeking, RecordedSegmentMakesTheSameRequestANoOpUnlessRunning) {
  CSeekingProbe seeking;
  seeking.m_llCurrent = kSecond;
  EXPECT_EQ(seeking.RecordNewSegment(State_Paused), S_OK) << "first time: new";
  EXPECT_EQ(seeking.RecordNewSegment(State_Paused), S_FALSE) << "same again";
  LONGLONG llStart = 0, llStop = 0;
  double dRate = 0;
  EXPECT_EQ(seeking.GetSegment(&llStart, &llStop, &dRate), S_FALSE) << "nothing new to deliver";
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

}  // namespace
}  // namespace flvdmx

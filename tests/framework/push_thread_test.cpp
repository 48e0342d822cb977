// The output pins' delivery threads: start, restart and stop through the
// thread commands, the reader flush brackets that unblock a loop, the drain
// of the reader, and the two seek restart paths, with real threads and the
// host's memory allocator.
#include <gtest/gtest.h>

#include "dmx_test_doubles.h"
#include "host/allocator.h"

namespace flvdmx::fwtest {
namespace {

constexpr LONGLONG kSecond = 10000000;

// The seeking interface of an output pin, released at the end of the scope.
class PinSeeking {
 public:
  explicit PinSeeking(IPin* pPin) {
    EXPECT_EQ(pPin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&m_p)), S_OK);
  }
  ~PinSeeking() {
    if (m_p != nullptr) m_p->Release();
  }
  IMediaSeeking* operator->() const { return m_p; }

 private:
  IMediaSeeking* m_p = nullptr;
};

TEST(PushThread, ConnectedPinThatWasNeverStartedStopsWithoutWork) {
  Rig rig(1);
  rig.ConnectAll();
  EXPECT_EQ(rig.Output(0)->StopThread(), S_FALSE);
  EXPECT_EQ(rig.Output(0)->Inactive(), S_OK);
  EXPECT_EQ(rig.Reader()->cBeginFlush, 0);
}

TEST(PushThread, PauseRunsOneLoopPerPinAndStopEndsTheThreads) {
  Rig rig(2);
  rig.ConnectAll();
  rig.Dmx()->m_cSamplesPerRun = 3;
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Sink(0)->cEndOfStream == 1 && rig.Sink(1)->cEndOfStream == 1; }));
  for (int pin = 0; pin < 2; ++pin) {
    EXPECT_EQ(rig.Sink(pin)->cNewSegment, 1);
    EXPECT_EQ(rig.Sink(pin)->cReceived, 3);
    EXPECT_EQ(rig.Sink(pin)->m_lastFirstByte, 8) << "the third sample read at offset 8";
    EXPECT_EQ(rig.Dmx()->cProcess[pin + 1], 1);
    EXPECT_TRUE(rig.Output(pin)->ThreadExists()) << "waiting for the next command";
  }
  ASSERT_TRUE(WaitFor([&] { return rig.Reader()->cWaitForNext >= 2; })) << "each loop drained";
  EXPECT_EQ(rig.Reader()->cBeginFlush, 0) << "nothing queued: the shared reader is not flushed";

  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  for (int pin = 0; pin < 2; ++pin) {
    EXPECT_FALSE(rig.Output(pin)->ThreadExists());
    IMediaSample* pSample = nullptr;
    EXPECT_EQ(rig.Output(pin)->GetDeliveryBuffer(&pSample, nullptr, nullptr, 0),
              VFW_E_NOT_COMMITTED);
  }
  EXPECT_EQ(rig.Reader()->cBeginFlush, 2);
  EXPECT_EQ(rig.Reader()->cEndFlush, 2);
  EXPECT_FALSE(rig.Reader()->IsFlushing());
}

TEST(PushThread, FailedPauseStopsThePinsItStarted) {
  Rig rig(2);
  rig.ConnectAll();
  rig.Output(1)->SetReader(nullptr);  // the second pin cannot start
  EXPECT_EQ(rig.Dmx()->Pause(), E_UNEXPECTED);
  EXPECT_TRUE(rig.Dmx()->IsStopped());
  EXPECT_FALSE(rig.Output(0)->ThreadExists()) << "the first pin's thread was stopped again";
  EXPECT_EQ(rig.Dmx()->cStartStreaming, 1);
  EXPECT_EQ(rig.Dmx()->cStopStreaming, 1);
}

TEST(PushThread, RestartWhileStoppedStartsNothing) {
  Rig rig(2);
  rig.ConnectAll();
  EXPECT_EQ(rig.Dmx()->RestartOutputPins(TRUE), S_OK);
  EXPECT_EQ(rig.Sink(0)->cBeginFlush, 0);
  EXPECT_FALSE(rig.Output(0)->ThreadExists());
  EXPECT_EQ(rig.Dmx()->RestartOutputPins(FALSE), S_OK);
  EXPECT_TRUE(rig.Output(0)->m_bRestart);
  EXPECT_TRUE(rig.Output(1)->m_bRestart);
}

TEST(PushThread, SecondActiveRestartsTheLoopOnTheSameThread) {
  Rig rig(1);
  rig.ConnectAll();
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cDelivered[1] > 0; }));
  EXPECT_EQ(rig.Output(0)->Active(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cProcess[1] == 2; }));
  EXPECT_EQ(rig.Dmx()->ProcessThreadCount(1), 1);
  EXPECT_GE(rig.Sink(0)->cEndOfStream, 1) << "the interrupted loop ended its stream";
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  EXPECT_EQ(rig.Dmx()->cProcess[1], 2);
}

TEST(PushThread, StopUnblocksALoopWaitingInARead) {
  Rig rig(2);
  rig.ConnectAll();
  rig.Reader()->BlockReads(true);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Reader()->cBlockedReads == 2; }));
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  for (int pin = 1; pin <= 2; ++pin) {
    EXPECT_EQ(rig.Dmx()->cLoopErrors[pin], 1);
    EXPECT_EQ(rig.Dmx()->hrLoopError[pin], VFW_E_WRONG_STATE);
    EXPECT_FALSE(rig.Output(pin - 1)->ThreadExists());
  }
  EXPECT_FALSE(rig.Reader()->IsFlushing());
}

TEST(PushThread, StopUnblocksALoopWaitingForAFreeBuffer) {
  Rig rig(1);
  rig.ConnectAll();  // one buffer, by the default buffer decision
  rig.Sink(0)->m_bHoldSamples = true;
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Sink(0)->cReceived == 1; }));
  std::this_thread::sleep_for(20ms);  // the loop is now waiting in GetDeliveryBuffer
  EXPECT_EQ(rig.Sink(0)->cReceived, 1);
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  EXPECT_FALSE(rig.Output(0)->ThreadExists());
  EXPECT_EQ(rig.Dmx()->hrLoopError[1], VFW_E_NOT_COMMITTED);
  rig.Sink(0)->ReleaseHeld();
}

TEST(PushThread, ReaderRefusingToFlushLeavesTheThreadRunning) {
  Rig rig(1);
  rig.ConnectAll();
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  rig.Reader()->RefuseFlush(E_ACCESSDENIED);
  EXPECT_EQ(rig.Output(0)->StopThread(), E_ACCESSDENIED);
  EXPECT_TRUE(rig.Output(0)->ThreadExists());
  const int cDelivered = rig.Dmx()->cDelivered[1];
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cDelivered[1] > cDelivered; })) << "still delivering";
  rig.Reader()->RefuseFlush(S_OK);
  EXPECT_EQ(rig.Output(0)->StopThread(), S_OK);
  EXPECT_FALSE(rig.Output(0)->ThreadExists());
}

TEST(PushThread, LoopCannotStopItsOwnThread) {
  Rig rig(1);
  rig.ConnectAll();
  rig.Dmx()->m_bStopFromLoop = true;
  rig.Dmx()->m_cSamplesPerRun = 1;
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Sink(0)->cEndOfStream == 1; }));
  EXPECT_EQ(rig.Dmx()->hrStopFromLoop, E_UNEXPECTED);
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
}

TEST(PushThread, FlushBracketsNestOnTheReader) {
  Rig rig(1);
  rig.ConnectAll();
  CBaseDmxOutputPin* pPin = rig.Output(0);
  EXPECT_EQ(pPin->EndReaderFlush(), E_UNEXPECTED) << "no bracket open";
  ASSERT_EQ(pPin->BeginReaderFlush(), S_OK);
  ASSERT_EQ(pPin->BeginReaderFlush(), S_OK);
  EXPECT_EQ(rig.Reader()->cBeginFlush, 1);
  ASSERT_EQ(pPin->EndReaderFlush(), S_OK);
  EXPECT_EQ(rig.Reader()->cEndFlush, 0);
  EXPECT_TRUE(rig.Reader()->IsFlushing());
  ASSERT_EQ(pPin->EndReaderFlush(), S_OK);
  EXPECT_EQ(rig.Reader()->cEndFlush, 1);
  EXPECT_FALSE(rig.Reader()->IsFlushing());

  rig.Reader()->RefuseFlush(E_FAIL);
  EXPECT_EQ(pPin->BeginReaderFlush(), E_FAIL);
  EXPECT_EQ(pPin->EndReaderFlush(), E_UNEXPECTED) << "a refused bracket was not opened";
}

TEST(PushThread, LoopEndHandsBackEveryQueuedRequest) {
  IMemAllocator* pAlloc = nullptr;
  ASSERT_EQ(CMemAllocator::CreateInstance(nullptr, IID_IMemAllocator,
                                          reinterpret_cast<void**>(&pAlloc)),
            S_OK);
  ALLOCATOR_PROPERTIES request{3, 16, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(pAlloc->Commit(), S_OK);
  {
    Rig rig(1);
    rig.ConnectAll();
    for (int i = 0; i < 3; ++i) {
      IMediaSample* pSample = nullptr;
      ASSERT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
      rig.Reader()->QueueSample(pSample);
    }
    EXPECT_EQ(static_cast<CMemAllocator*>(pAlloc)->OutstandingCount(), 3);
    rig.Dmx()->m_cSamplesPerRun = 1;
    ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return static_cast<CMemAllocator*>(pAlloc)->OutstandingCount() == 0; }));
    ASSERT_TRUE(WaitFor([&] { return rig.Reader()->cEndFlush == 1; }));
    EXPECT_EQ(rig.Reader()->cBeginFlush, 1) << "one bracket around the drain";
    EXPECT_EQ(rig.Reader()->cQueuedTakenWhileFlushing, 2) << "the rest came back flushed";
  }
  pAlloc->Decommit();
  pAlloc->Release();
}

TEST(PushThread, FailedLoopIsReportedToTheGraph) {
  Rig rig(1);
  CTestGraph graph;
  ASSERT_EQ(rig.Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  rig.ConnectAll();
  rig.Reader()->FailReads(E_OUTOFMEMORY);
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return !graph.Events().empty(); }));
  const auto events = graph.Events();
  EXPECT_EQ(events[0].code, EC_ERRORABORT);
  EXPECT_EQ(events[0].param1, static_cast<LONG_PTR>(E_OUTOFMEMORY));
  EXPECT_EQ(rig.Sink(0)->cEndOfStream, 1);
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
}

TEST(PushThread, StoppingOnePinIsNotAnErrorOfTheOther) {
  // The pins share the reader: stopping the first fails the second's read.
  Rig rig(2);
  CTestGraph graph;
  ASSERT_EQ(rig.Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  rig.ConnectAll();
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(rig.Dmx()->Run(0), S_OK);
    const int cDelivered = rig.Dmx()->cDelivered[2];
    ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cDelivered[2] > cDelivered; }));
    ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  }
  EXPECT_GT(rig.Reader()->cFailedReads, 0) << "reads did fail under the stops";
  EXPECT_TRUE(graph.Events().empty());
}

TEST(PushThread, SeekWithFlushRestartsEveryThreadAtTheNewPosition) {
  Rig rig(2);
  CTestGraph graph;
  ASSERT_EQ(rig.Dmx()->JoinFilterGraph(graph.AsGraph(), L"dmx"), S_OK);
  rig.ConnectAll();
  ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cDelivered[1] > 0 && rig.Dmx()->cDelivered[2] > 0; }));

  PinSeeking seeking(rig.Output(1));
  LONGLONG llStart = 2 * kSecond;
  ASSERT_EQ(seeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(rig.Dmx()->m_bLastFlush, TRUE);
  for (int pin = 0; pin < 2; ++pin) {
    EXPECT_EQ(rig.Sink(pin)->cBeginFlush, 1);
    EXPECT_EQ(rig.Sink(pin)->cEndFlush, 1);
    // The restarted thread acknowledges before its loop begins.
    EXPECT_TRUE(WaitFor([&] { return rig.Dmx()->cProcess[pin + 1] == 2; }));
    EXPECT_EQ(rig.Dmx()->ProcessThreadCount(pin + 1), 2) << "a new thread per activation";
  }
  ASSERT_TRUE(WaitFor([&] { return rig.Sink(0)->cNewSegment == 2 && rig.Sink(1)->cNewSegment == 2; }));
  EXPECT_EQ(rig.Sink(0)->m_tLastSegmentStart, 2 * kSecond);
  EXPECT_FALSE(rig.Dmx()->IsFlushing());

  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
  for (const auto& event : graph.Events())
    EXPECT_NE(event.code, EC_ERRORABORT) << "failures during the flush are not errors";
}

TEST(PushThread, SeekWithoutFlushRestartsTheLoopsInPlace) {
  Rig rig(2);
  rig.ConnectAll();
  ASSERT_EQ(rig.Dmx()->Run(0), S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cDelivered[1] > 0 && rig.Dmx()->cDelivered[2] > 0; }));

  PinSeeking seeking(rig.Output(0));
  LONGLONG llStart = kSecond;
  ASSERT_EQ(seeking->SetPositions(&llStart, AM_SEEKING_AbsolutePositioning | AM_SEEKING_NoFlush,
                                  nullptr, 0),
            S_OK);
  ASSERT_TRUE(WaitFor([&] { return rig.Dmx()->cRestarts[1] >= 1 && rig.Dmx()->cRestarts[2] >= 1; }));
  ASSERT_TRUE(WaitFor([&] { return rig.Sink(0)->cNewSegment >= 2 && rig.Sink(1)->cNewSegment >= 2; }));
  EXPECT_EQ(rig.Sink(1)->m_tLastSegmentStart, kSecond);
  for (int pin = 0; pin < 2; ++pin) {
    EXPECT_EQ(rig.Sink(pin)->cBeginFlush, 0);
    EXPECT_EQ(rig.Dmx()->cProcess[pin + 1], 1);
  }
  ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
}

TEST(PushThread, RepeatedSeeksAndStateChangesEndCleanly) {
  Rig rig(2);
  rig.ConnectAll();
  PinSeeking seeking(rig.Output(0));
  for (int i = 0; i < 25; ++i) {
    ASSERT_EQ(rig.Dmx()->Pause(), S_OK);
    LONGLONG llStart = i * kSecond;
    const DWORD dwFlags = AM_SEEKING_AbsolutePositioning | (i % 2 ? AM_SEEKING_NoFlush : 0);
    ASSERT_EQ(seeking->SetPositions(&llStart, dwFlags, nullptr, 0), S_OK);
    ASSERT_EQ(rig.Dmx()->Run(0), S_OK);
    ASSERT_EQ(seeking->SetRate(i % 3 + 1.0), S_OK);
    ASSERT_EQ(rig.Dmx()->Stop(), S_OK);
    ASSERT_FALSE(rig.Output(0)->ThreadExists());
    ASSERT_FALSE(rig.Output(1)->ThreadExists());
  }
  EXPECT_FALSE(rig.Reader()->IsFlushing());
}

}  // namespace
}  // namespace flvdmx::fwtest

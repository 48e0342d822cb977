// The output pins' delivery threads: start, restart and stop through the
// thread commands, the reader flush brackets that free a blocked loop, and
// the drain of the reader when a loop ends.
#include <chrono>
#include <gtest/gtest.h>

#include "host/allocator.h"
#include "support/toy_format.h"

namespace flvdmx {
namespace {

TEST(PushThread, FailedPauseStopsThePinsItStarted) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  rig.Pin(1)->SetReader(nullptr);  // the second pin cannot start
  EXPECT_EQ(rig.dmx->Pause(), E_UNEXPECTED);
  EXPECT_TRUE(rig.dmx->IsStopped());
  EXPECT_FALSE(rig.Pin(0)->ThreadExists());
  EXPECT_EQ(rig.dmx->cStopStreaming, 1);
}

TEST(PushThread, FlushBracketsNestOnTheReader) {
  ToyRig rig;
  ASSERT_TRUE(rig.Build());
  CBaseDmxOutputPin* pPin = rig.Pin(0);
  EXPECT_EQ(pPin->EndReaderFlush(), E_UNEXPECTED) << "no bracket open";
  ASSERT_EQ(pPin->BeginReaderFlush(), S_OK);
  ASSERT_EQ(pPin->BeginReaderFlush(), S_OK);
  ASSERT_EQ(pPin->EndReaderFlush(), S_OK);
  EXPECT_TRUE(rig.reader->IsFlushing());
  // The read-ahead of every pin sees the open bracket on the shared reader.
  const CReaderFlushState& flush = rig.dmx->ReaderFlushState();
  EXPECT_EQ(flush.lOpen.load(), 1);
  ASSERT_EQ(pPin->EndReaderFlush(), S_OK);
  EXPECT_FALSE(rig.reader->IsFlushing());
  EXPECT_EQ(rig.reader->cBeginFlush, 1);
  EXPECT_EQ(flush.lOpen.load(), 0);
  EXPECT_EQ(flush.dwBegun.load(), 1u);
  rig.reader->RefuseFlush(E_FAIL);
  EXPECT_EQ(pPin->BeginReaderFlush(), E_FAIL);
  EXPECT_EQ(pPin->EndReaderFlush(), E_UNEXPECTED) << "a refused bracket was not opened";
  EXPECT_EQ(flush.lOpen.load(), 0) << "nor announced";
}

TEST(PushThread, LoopEndHandsBackEveryQueuedRequest) {
  IMemAllocator* pAlloc = nullptr;
  ASSERT_EQ(
      CMemAllocator::CreateInstance(nullptr, IID_IMemAllocator, reinterpret_cast<void**>(&pAlloc)),
      S_OK);
  auto* pImpl = static_cast<CMemAllocator*>(pAlloc);
  ALLOCATOR_PROPERTIES request{3, 16, 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(pAlloc->Commit(), S_OK);
  {
    ToyRig rig;
    ASSERT_TRUE(rig.Build(4, false));
    ASSERT_EQ(rig.graph->Connect(rig.Pin(0), rig.Sink(0)->InputPin()), S_OK);
    for (int i = 0; i < 3; ++i) {
      IMediaSample* pSample = nullptr;
      ASSERT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
      rig.reader->QueueSample(pSample);
    }
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_TRUE(
        Eventually([&] { return pImpl->OutstandingCount() == 0 && rig.reader->cEndFlush == 1; }));
    EXPECT_EQ(rig.reader->cBeginFlush, 1) << "one bracket around the drain";
    EXPECT_EQ(rig.reader->cQueuedTakenWhileFlushing, 2) << "the rest came back flushed";
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  }
  pAlloc->Decommit();
  pAlloc->Release();
}

// The pins share the reader: stopping one fails the other's read, which is
// not a stream error.
TEST(PushThread, StoppingOnePinIsNotAnErrorOfTheOther) {
  ToyRig rig(ToyLayout{{{{2000, 400000, 5}, {2000, 232200, 1}}}, 64});
  ASSERT_TRUE(rig.Build());
  // Slow sinks: an optimised build would otherwise play a stream to its end
  // within one run, and the next run would have nothing left to deliver.
  for (int i = 0; i < 2; ++i) rig.Sink(i)->SetSampleDelay(std::chrono::milliseconds(1));
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(rig.graph->Run(), S_OK);
    const int cDelivered = rig.dmx->cDelivered[2];
    ASSERT_TRUE(Eventually([&] { return rig.dmx->cDelivered[2] > cDelivered; }));
    ASSERT_EQ(rig.graph->Stop(), S_OK);
  }
  EXPECT_FALSE(rig.HasEvent(EC_ERRORABORT));
}

// Ways to free a delivery thread that cannot go on by itself.
enum class Interrupt { kGraphStop, kFilterStop, kSeekWithFlush };

struct BlockedCase {
  const char* name;
  bool bInRead;  // else waiting for a free buffer
  Interrupt how;
};

class BlockedLoop : public ::testing::TestWithParam<BlockedCase> {};

TEST_P(BlockedLoop, IsFreedAndTheNextRunPlaysEverything) {
  const BlockedCase& c = GetParam();
  ToyRig rig;
  ASSERT_TRUE(rig.Build(2));
  if (c.bInRead) {
    rig.reader->CloseAt(rig.layout.ChunkOffset(1, 20) + 30);
  } else {
    rig.Sink(0)->SetHoldSamples(true);
  }
  ASSERT_EQ(rig.graph->Run(), S_OK);
  if (c.bInRead) {
    ASSERT_TRUE(rig.reader->WaitUntilBlocked(1));
  } else {
    ASSERT_TRUE(Eventually([&] { return rig.Sink(0)->HeldSampleCount() == 2; }));
    std::this_thread::sleep_for(20ms);  // into GetDeliveryBuffer's wait
  }
  const auto tInterrupt = std::chrono::steady_clock::now();
  WithDeadline("freeing a blocked loop", 30s, [&] {
    if (c.how == Interrupt::kGraphStop) {
      EXPECT_EQ(rig.graph->Stop(), S_OK);
    } else if (c.how == Interrupt::kFilterStop) {
      EXPECT_EQ(rig.dmx->Stop(), S_OK);
    } else {
      LONGLONG llTarget = 2000000;
      EXPECT_EQ(rig.graph->SetPositions(&llTarget, AM_SEEKING_AbsolutePositioning, nullptr, 0),
                S_OK);
    }
  });
  // Freed at once, not after some wait for buffers that never come back.
  EXPECT_LT(std::chrono::steady_clock::now() - tInterrupt, 2s);
  rig.reader->Open();
  rig.Sink(0)->SetHoldSamples(false);
  rig.Sink(0)->ReleaseHeldSamples();
  if (c.how == Interrupt::kSeekWithFlush) {
    ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  }
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  ASSERT_EQ(rig.graph->Run(), S_OK);
  ASSERT_EQ(rig.Completion(), EC_COMPLETE);
  ASSERT_EQ(rig.graph->Stop(), S_OK);
  // Stopping the filter alone leaves the sinks running: they report the
  // interrupted segment's end-of-stream.
  for (int s = 0; s < 2; ++s) EXPECT_TRUE(rig.CheckStream(s, c.how != Interrupt::kFilterStop)) << s;
  EXPECT_FALSE(rig.HasEvent(EC_ERRORABORT));
}

INSTANTIATE_TEST_SUITE_P(
    PushThread, BlockedLoop,
    ::testing::Values(BlockedCase{"ReadGraphStop", true, Interrupt::kGraphStop},
                      BlockedCase{"ReadFilterStop", true, Interrupt::kFilterStop},
                      BlockedCase{"ReadSeek", true, Interrupt::kSeekWithFlush},
                      BlockedCase{"BufferGraphStop", false, Interrupt::kGraphStop},
                      // The sinks keep running and keep every buffer.
                      BlockedCase{"BufferFilterStop", false, Interrupt::kFilterStop},
                      BlockedCase{"BufferSeek", false, Interrupt::kSeekWithFlush}),
    [](const ::testing::TestParamInfo<BlockedCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flvdmx

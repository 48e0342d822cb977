// The flush timer: once stopped, no tick is running or will run, even when
// the stop arrives in the middle of a slow tick (the writer it flushes is
// freed right after).
#include "diag/trace_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace flvdmx {
namespace {

struct TickLog {
  std::atomic<int> cStarted{0};
  std::atomic<int> cRunning{0};
  std::atomic<int> cAfterStop{0};
  std::atomic<bool> bStopped{false};
};

void SlowTick(void* pContext) {
  auto* log = static_cast<TickLog*>(pContext);
  if (log->bStopped) ++log->cAfterStop;
  ++log->cRunning;
  ++log->cStarted;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  --log->cRunning;
}

TEST(TraceTimerTest, StopWaitsForTheRunningTickAndNoneFollows) {
  TickLog log;
  CTraceTimer* pTimer = StartTraceTimer(SlowTick, &log, 0, 1);
  ASSERT_NE(pTimer, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (log.cRunning == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(log.cRunning, 1) << "no tick started";
  StopTraceTimer(pTimer);
  log.bStopped = true;
  EXPECT_EQ(log.cRunning, 0) << "a tick still runs after the stop returned";
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(log.cAfterStop, 0);
  StopTraceTimer(nullptr);
}

}  // namespace
}  // namespace flvdmx

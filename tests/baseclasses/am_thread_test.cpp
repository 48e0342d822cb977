#include "baseclasses/am_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace flvdmx {
namespace {

constexpr DWORD kExit = 1;

// Records each command and ends on kExit; held before taking the first one.
class CTestWorker : public CAMThread {
 public:
  ~CTestWorker() override { WaitForThreadEnd(); }

  std::vector<DWORD> Taken() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Taken;
  }
  // Posts a command the way a caller that did not wait would leave it.
  void PostWithoutWaiting(DWORD dwParam) {
    m_dwParam = dwParam;
    m_EventSend.Set();
  }

  CManualResetEvent m_HoldAtStart;
  std::atomic<int> m_cReplied{0};

 protected:
  DWORD ThreadProc() override {
    m_HoldAtStart.Wait(INFINITE);
    for (;;) {
      const DWORD dwCommand = GetRequest();
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Taken.push_back(dwCommand);
      }
      Reply(0);
      if (dwCommand == kExit) return 0;
      ++m_cReplied;
    }
  }

 private:
  std::mutex m_Mutex;
  std::vector<DWORD> m_Taken;
};

TEST(AMThreadTest, CallWhileAnEarlierCommandIsNotTakenWaitsForItsCompletion) {
  CTestWorker worker;
  ASSERT_TRUE(worker.Create());
  worker.PostWithoutWaiting(7);
  auto call = std::async(std::launch::async, [&] { return worker.CallWorker(5); });
  EXPECT_EQ(call.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);

  worker.m_HoldAtStart.Set();  // the worker takes 7 and completes it
  call.get();
  // The new command was posted after that completion and reaches the worker.
  while (worker.Taken().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(worker.Taken(), (std::vector<DWORD>{7, 5}));
  while (worker.m_cReplied < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(worker.CallWorker(kExit), 0u);
}

}  // namespace
}  // namespace flvdmx

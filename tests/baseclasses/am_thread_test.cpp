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
constexpr DWORD kGated = 2;  // answered only once the test opens the gate
constexpr auto kSettle = std::chrono::milliseconds(50);

// Answers each command c with 10 * c, records what it took, and exits with
// 42 on kExit. It may be held before taking its first command.
class CTestWorker : public CAMThread {
 public:
  explicit CTestWorker(bool bHoldAtStart = false) : m_HoldAtStart(!bHoldAtStart) {}
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
  CManualResetEvent m_Gate;
  std::atomic<int> m_cReplied{0};
  HRESULT m_hrComOnThread = E_UNEXPECTED;
  DWORD m_dwIdOnThread = 0;

 protected:
  DWORD ThreadProc() override {
    // The thread entry has initialised the component runtime already.
    m_hrComOnThread = CoInitializeEx(nullptr, COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(m_hrComOnThread)) CoUninitialize();
    m_dwIdOnThread = CurrentThreadId();
    m_HoldAtStart.Wait(INFINITE);
    for (;;) {
      const DWORD dwCommand = GetRequest();
      {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Taken.push_back(dwCommand);
      }
      if (dwCommand == kExit) {
        Reply(0);
        return 42;
      }
      if (dwCommand == kGated) m_Gate.Wait(INFINITE);
      Reply(dwCommand * 10);
      ++m_cReplied;
    }
  }

 private:
  std::mutex m_Mutex;
  std::vector<DWORD> m_Taken;
};

TEST(AMThreadTest, CommandsAreAnsweredInTurnAndExitEndsTheThread) {
  CTestWorker worker;
  ASSERT_TRUE(worker.Create());
  EXPECT_FALSE(worker.Create());  // one thread at a time
  EXPECT_EQ(worker.CallWorker(3), 30u);
  EXPECT_EQ(worker.CallWorker(4), 40u);
  EXPECT_EQ(worker.m_hrComOnThread, S_FALSE);  // already initialised by the entry
  EXPECT_EQ(worker.GetThreadId(), worker.m_dwIdOnThread);

  EXPECT_EQ(worker.CallWorker(kExit), 0u);
  std::unique_ptr<CThreadHandle> thread = worker.TakeThread();
  ASSERT_TRUE(thread);
  EXPECT_FALSE(worker.ThreadExists());
  EXPECT_EQ(worker.CallWorker(3), static_cast<DWORD>(E_FAIL));
  thread->Wait();
  EXPECT_EQ(thread->ExitCode(), 42u);
  EXPECT_EQ(worker.Taken(), (std::vector<DWORD>{3, 4, kExit}));

  ASSERT_TRUE(worker.Create()) << "a new thread can follow the old one";
  EXPECT_EQ(worker.CallWorker(kExit), 0u);
}

TEST(AMThreadTest, SecondCallerWaitsUntilTheFirstIsAnswered) {
  CTestWorker worker;
  ASSERT_TRUE(worker.Create());
  auto first = std::async(std::launch::async, [&] { return worker.CallWorker(kGated); });
  while (worker.Taken().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  auto second = std::async(std::launch::async, [&] { return worker.CallWorker(5); });
  EXPECT_EQ(second.wait_for(kSettle), std::future_status::timeout);

  worker.m_Gate.Set();
  EXPECT_EQ(first.get(), kGated * 10);
  EXPECT_EQ(second.get(), 50u);
  EXPECT_EQ(worker.CallWorker(kExit), 0u);
}

TEST(AMThreadTest, CallWhileAnEarlierCommandIsNotTakenWaitsForItsCompletion) {
  CTestWorker worker(/*bHoldAtStart=*/true);
  ASSERT_TRUE(worker.Create());
  worker.PostWithoutWaiting(7);
  auto call = std::async(std::launch::async, [&] { return worker.CallWorker(5); });
  EXPECT_EQ(call.wait_for(kSettle), std::future_status::timeout);

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

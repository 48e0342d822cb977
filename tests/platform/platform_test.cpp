#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "host/class_table.h"
#include "platform/dshow.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace flvdmx {
namespace {

TEST(ManualResetEventTest, SetReleasesEveryWaiter) {
  CManualResetEvent event;
  auto a = std::async(std::launch::async, [&] { return event.Wait(INFINITE); });
  auto b = std::async(std::launch::async, [&] { return event.Wait(10000); });
  EXPECT_EQ(a.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
  event.Set();
  EXPECT_TRUE(a.get());
  EXPECT_TRUE(b.get());
}

DWORD ReturnArgument(void* pv) {
  auto* pState = static_cast<std::atomic<DWORD>*>(pv);
  return pState->exchange(CurrentThreadId());
}

TEST(ThreadHandleTest, WaitGivesTheProcedureResultAndThreadsHaveTheirOwnIds) {
  std::atomic<DWORD> state{77};
  std::unique_ptr<CThreadHandle> thread = CThreadHandle::Start(&ReturnArgument, &state);
  ASSERT_TRUE(thread);
  EXPECT_FALSE(thread->IsCurrentThread());
  thread->Wait();
  EXPECT_EQ(thread->ExitCode(), 77u);
  EXPECT_NE(state.load(), CurrentThreadId());
  EXPECT_NE(state.load(), 0u);
}

TEST(ComRuntimeTest, InitialisationIsCountedPerThread) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
  }).join();
}

std::atomic<int> g_cCreated{0};

HRESULT CreateRefusingObject(IUnknown*, REFIID, void** ppv) {
  ++g_cCreated;
  *ppv = nullptr;
  return E_ABORT;
}

TEST(ClassTableTest, NewestRegistrationWinsUntilRevoked) {
  DWORD dwCookie = 0;
  ASSERT_EQ(RegisterHostClass(CLSID_MemoryAllocator, &CreateRefusingObject, &dwCookie), S_OK);
  void* pv = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator, &pv),
            E_ABORT);
  EXPECT_EQ(g_cCreated, 1);
  ASSERT_EQ(RevokeHostClass(dwCookie), S_OK);
  EXPECT_EQ(RevokeHostClass(dwCookie), E_INVALIDARG);
  EXPECT_EQ(RevokeHostClass(0), E_INVALIDARG);  // the built-in classes stay
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator, &pv),
            S_OK);
  static_cast<IUnknown*>(pv)->Release();
}

}  // namespace
}  // namespace flvdmx

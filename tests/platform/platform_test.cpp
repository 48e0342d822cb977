#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <future>
#include <thread>

#include "host/class_table.h"
#include "platform/dshow.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace flvdmx {
namespace {

TEST(ManualResetEventTest, StaysSetUntilResetAndTimesOutOtherwise) {
  CManualResetEvent event;
  EXPECT_FALSE(event.Wait(0));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.Wait(30));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(INFINITE));  // every waiter passes while it is set
  event.Reset();
  EXPECT_FALSE(event.IsSet());
}

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
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  }).join();
}

TEST(ComRuntimeTest, GuidTextIsCanonical) {
  wchar_t text[39];
  EXPECT_EQ(StringFromGUID2(CLSID_MemoryAllocator, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(CLSID_MemoryAllocator, text, 39), 39);
  EXPECT_STREQ(text, L"{1E651CC0-B199-11D0-8212-00C04FC32C45}");
  LPOLESTR pText = nullptr;
  ASSERT_EQ(StringFromCLSID(CLSID_AsyncReader, &pText), S_OK);
  EXPECT_STREQ(pText, L"{E436EBB5-524F-11CE-9F53-0020AF0BA770}");
  CoTaskMemFree(pText);
}

const CLSID kTestClass = {0x0D0A3F11, 0x5B7C, 0x4A52, {0x8E, 0x60, 0x27, 0x13, 0x9C, 0x44, 0xA1, 0x05}};

std::atomic<int> g_cCreated{0};

HRESULT CreateRefusingObject(IUnknown*, REFIID, void** ppv) {
  ++g_cCreated;
  *ppv = nullptr;
  return E_ABORT;
}

// A factory that only counts what is asked of it.
class CCountingFactory : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_cRef); }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** ppv) override {
    ++m_cCreate;
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
  std::atomic<LONG> m_cRef{0};
  std::atomic<int> m_cCreate{0};
};

TEST(ClassTableTest, KnowsTheMemoryAllocatorAndRefusesOtherClasses) {
  IMemAllocator* pAlloc = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&pAlloc)),
            S_OK);
  pAlloc->Release();
  void* pv = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IPin, &pv),
            E_NOINTERFACE);
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

TEST(ClassTableTest, FactoryIsHeldWhileRegistered) {
  CCountingFactory factory;
  DWORD dwCookie = 0;
  ASSERT_EQ(RegisterHostClassFactory(kTestClass, &factory, &dwCookie), S_OK);
  EXPECT_EQ(factory.m_cRef, 1);
  void* pv = nullptr;
  EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv), E_NOINTERFACE);
  EXPECT_EQ(factory.m_cCreate, 1);
  EXPECT_EQ(factory.m_cRef, 1);
  ASSERT_EQ(RevokeHostClass(dwCookie), S_OK);
  EXPECT_EQ(factory.m_cRef, 0);
}

TEST(ClassTableTest, AggregationAsksForIUnknownOnly) {
  CCountingFactory outer;
  void* pv = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, &outer, CLSCTX_INPROC_SERVER, IID_IMemAllocator, &pv),
            CLASS_E_NOAGGREGATION);
  // The memory allocator is not aggregatable at all.
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(pv, nullptr);
}

}  // namespace
}  // namespace flvdmx

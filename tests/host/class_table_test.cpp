// The host's class table behind CoCreateInstance.
#include <gtest/gtest.h>

#include <atomic>

#include "host/class_table.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

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
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, &pv),
            E_ABORT);
  EXPECT_EQ(g_cCreated, 1);
  ASSERT_EQ(RevokeHostClass(dwCookie), S_OK);
  EXPECT_EQ(RevokeHostClass(dwCookie), E_INVALIDARG);
  EXPECT_EQ(RevokeHostClass(0), E_INVALIDARG);  // the built-in classes stay
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, &pv),
            S_OK);
  static_cast<IUnknown*>(pv)->Release();
}

}  // namespace
}  // namespace flvdmx

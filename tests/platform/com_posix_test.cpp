// The component runtime off Windows: per-thread initialisation counts.
#include <gtest/gtest.h>

#include <thread>

#include "platform/dshow.h"

namespace flvdmx {
namespace {

TEST(ComRuntimeTest, InitialisationIsCountedPerThread) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace flvdmx

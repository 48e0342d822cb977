#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "host/allocator.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FLVDMX_TEST_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define FLVDMX_TEST_ASAN 1
#endif
#ifdef FLVDMX_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace flvdmx {
namespace {

// The platform's memory allocator, made the way pins make it.
class MemoryAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IMemAllocator, reinterpret_cast<void**>(&m_pAlloc)),
              S_OK);
  }
  void TearDown() override {
    if (m_pAlloc != nullptr) {
      ExpectRefCount(m_pAlloc, 1);
      m_pAlloc->Release();
    }
  }
  HRESULT Configure(LONG cBuffers, LONG cbBuffer, LONG cbAlign = 1, LONG cbPrefix = 0) {
    ALLOCATOR_PROPERTIES request{cBuffers, cbBuffer, cbAlign, cbPrefix};
    return m_pAlloc->SetProperties(&request, &m_Actual);
  }

  IMemAllocator* m_pAlloc = nullptr;
  ALLOCATOR_PROPERTIES m_Actual{};
};

TEST_F(MemoryAllocatorTest, SetPropertiesRoundsToWholeAlignmentUnitsAndRefusesBadValues) {
  const struct {
    ALLOCATOR_PROPERTIES request;
    HRESULT hr;
    LONG actualBuffer;
  } cases[] = {
      {{2, 100, 1, 0}, S_OK, 100},
      {{2, 100, 16, 0}, S_OK, 112},
      {{2, 100, 16, 4}, S_OK, 108},  // prefix plus buffer fill 112
      {{1, 10, 0, 0}, VFW_E_BADALIGN, 0},
      {{1, 10, 3, 0}, VFW_E_BADALIGN, 0},
      {{1, 10, 1 << 20, 0}, VFW_E_BADALIGN, 0},
      {{-1, 10, 1, 0}, E_INVALIDARG, 0},
      {{1, 10, 1, -1}, E_INVALIDARG, 0},
      {{1, 0x7FFFFFF0, 64, 64}, E_OUTOFMEMORY, 0},
  };
  for (const auto& c : cases) {
    ALLOCATOR_PROPERTIES request = c.request;
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(m_pAlloc->SetProperties(&request, &actual), c.hr)
        << request.cbBuffer << "/" << request.cbAlign;
    if (c.hr == S_OK) {
      EXPECT_EQ(actual.cbBuffer, c.actualBuffer);
    }
  }
  EXPECT_EQ(m_pAlloc->SetProperties(nullptr, &m_Actual), E_POINTER);
}

TEST_F(MemoryAllocatorTest, CommitNeedsSizesAndGetBufferNeedsCommit) {
  IMediaSample* pSample = nullptr;
  EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Configure(0, 100), S_OK);
  EXPECT_EQ(m_pAlloc->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Configure(1, 100), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  EXPECT_EQ(Configure(2, 100), VFW_E_ALREADY_COMMITTED);
  EXPECT_EQ(m_pAlloc->Decommit(), S_OK);
  EXPECT_EQ(m_pAlloc->Decommit(), S_OK);
}

TEST_F(MemoryAllocatorTest, AllocatorOutlivesItsLastReferenceWhileASampleIsOut) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  m_pAlloc->Release();
  m_pAlloc = nullptr;
  BYTE* p = nullptr;
  ASSERT_EQ(pSample->GetPointer(&p), S_OK);
  std::memset(p, 0, 16);
  pSample->Release();  // the allocator goes with it (LeakSanitizer checks)
}

// Memory an allocator lets go of serves the next allocator of the same shape
// (a graph per file): it must come back whole and aligned, and stay out of
// reach while it is kept.
TEST(MemoryAllocatorReuseTest, FreedMemoryServesTheNextAllocatorOfTheSameShape) {
  for (const LONG align : {1, 16, 4096}) {
    const ALLOCATOR_PROPERTIES shape{2, 5003 + align, align, 8};
    BYTE* pFirst = nullptr;
    for (int round = 0; round < 2; ++round) {
      IMemAllocator* pAlloc = nullptr;
      ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IMemAllocator, reinterpret_cast<void**>(&pAlloc)),
                S_OK);
      ALLOCATOR_PROPERTIES request = shape, actual{};
      ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
      ASSERT_EQ(pAlloc->Commit(), S_OK);
      IMediaSample* pSample = nullptr;
      ASSERT_EQ(pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
      BYTE* p = nullptr;
      ASSERT_EQ(pSample->GetPointer(&p), S_OK);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(align), 0u) << align;
      const auto cbWhole = static_cast<size_t>(actual.cbPrefix + actual.cbBuffer);
      std::memset(p - actual.cbPrefix, round, cbWhole);
      if (round == 0) pFirst = p;
      EXPECT_EQ(p, pFirst) << align;
      pSample->Release();
      EXPECT_EQ(pAlloc->Decommit(), S_OK);
      pAlloc->Release();
#ifdef FLVDMX_TEST_ASAN
      EXPECT_TRUE(__asan_address_is_poisoned(p)) << align;
#endif
    }
  }
}

}  // namespace
}  // namespace flvdmx

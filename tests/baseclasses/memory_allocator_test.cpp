#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <set>

#include "host/allocator.h"
#include "platform/mediatypes.h"
#include "support/test_filters.h"

namespace flvdmx {
namespace {

constexpr auto kSettle = std::chrono::milliseconds(50);

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
  CMemAllocator* Impl() { return static_cast<CMemAllocator*>(m_pAlloc); }

  IMemAllocator* m_pAlloc = nullptr;
  ALLOCATOR_PROPERTIES m_Actual{};
};

struct PropertiesCase {
  ALLOCATOR_PROPERTIES request;
  HRESULT hr;
  LONG actualBuffer;
};

TEST_F(MemoryAllocatorTest, SetPropertiesRoundsToWholeAlignmentUnitsAndRefusesBadValues) {
  const PropertiesCase cases[] = {
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
  for (const PropertiesCase& c : cases) {
    ALLOCATOR_PROPERTIES request = c.request;
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(m_pAlloc->SetProperties(&request, &actual), c.hr) << request.cbBuffer << "/" << request.cbAlign;
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

TEST_F(MemoryAllocatorTest, BuffersStartAlignedAfterTheirPrefix) {
  ASSERT_EQ(Configure(3, 100, 64, 8), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* samples[3] = {};
  std::set<BYTE*> pointers;
  for (IMediaSample*& pSample : samples) {
    ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
    BYTE* p = nullptr;
    ASSERT_EQ(pSample->GetPointer(&p), S_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    EXPECT_EQ(pSample->GetSize(), m_Actual.cbBuffer);
    // Prefix and buffer are ours to write (ASan checks the bounds).
    std::memset(p - 8, 0xAB, static_cast<size_t>(8 + pSample->GetSize()));
    pointers.insert(p);
  }
  EXPECT_EQ(pointers.size(), 3u);
  for (IMediaSample* pSample : samples) pSample->Release();
}

TEST_F(MemoryAllocatorTest, GetBufferWaitsForAReturnedSampleOrADecommit) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pFirst = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pFirst, nullptr, nullptr, 0), S_OK);
  IMediaSample* pNoWait = nullptr;
  EXPECT_EQ(m_pAlloc->GetBuffer(&pNoWait, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  IMediaSample* pWaited = nullptr;
  auto waiter = [&] {
    return std::async(std::launch::async, [&] { return m_pAlloc->GetBuffer(&pWaited, nullptr, nullptr, 0); });
  };
  auto returned = waiter();
  EXPECT_EQ(returned.wait_for(kSettle), std::future_status::timeout);
  pFirst->Release();
  EXPECT_EQ(returned.get(), S_OK);
  EXPECT_EQ(pWaited, pFirst);

  auto decommitted = waiter();
  EXPECT_EQ(decommitted.wait_for(kSettle), std::future_status::timeout);
  ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
  EXPECT_EQ(decommitted.get(), VFW_E_NOT_COMMITTED);
  EXPECT_TRUE(Impl()->HasMemory());  // a sample is still out
  EXPECT_EQ(Configure(1, 32), VFW_E_BUFFERS_OUTSTANDING);
  pFirst->Release();
  EXPECT_FALSE(Impl()->HasMemory());
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

TEST_F(MemoryAllocatorTest, ReusedSampleKeepsNothingOfItsLastUse) {
  ASSERT_EQ(Configure(1, 100), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME t1 = 500, t2 = 900;
  ASSERT_EQ(pSample->SetTime(&t1, nullptr), S_OK);
  EXPECT_EQ(pSample->GetTime(&t1, &t2), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(t2, 501) << "a start alone stands for one unit";
  ASSERT_EQ(pSample->SetMediaTime(&t1, &t2), S_OK);
  pSample->SetSyncPoint(TRUE);
  pSample->SetPreroll(TRUE);
  pSample->SetDiscontinuity(TRUE);
  EXPECT_EQ(pSample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  ASSERT_EQ(pSample->SetActualDataLength(60), S_OK);
  CMediaType mt = MakeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  ASSERT_EQ(pSample->SetMediaType(&mt), S_OK);
  pSample->Release();

  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  AM_MEDIA_TYPE* pType = nullptr;
  EXPECT_EQ(pSample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(pSample->IsPreroll(), S_FALSE);
  EXPECT_EQ(pSample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(pSample->GetTime(&t1, &t2), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(pSample->GetMediaTime(&t1, &t2), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(pSample->GetMediaType(&pType), S_FALSE);
  EXPECT_EQ(pSample->GetActualDataLength(), 100);
  pSample->Release();
}

}  // namespace
}  // namespace flvdmx

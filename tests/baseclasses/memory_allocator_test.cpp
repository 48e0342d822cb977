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
      {{1, -10, 1, 0}, E_INVALIDARG, 0},
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
  IMediaSample* pSample = reinterpret_cast<IMediaSample*>(0x1);
  EXPECT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(pSample, nullptr);
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

TEST_F(MemoryAllocatorTest, GetBufferBlocksUntilASampleComesBack) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pFirst = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pFirst, nullptr, nullptr, 0), S_OK);
  IMediaSample* pNoWait = nullptr;
  EXPECT_EQ(m_pAlloc->GetBuffer(&pNoWait, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

  IMediaSample* pSecond = nullptr;
  auto waiter = std::async(std::launch::async,
                           [&] { return m_pAlloc->GetBuffer(&pSecond, nullptr, nullptr, 0); });
  EXPECT_EQ(waiter.wait_for(kSettle), std::future_status::timeout);
  pFirst->Release();
  EXPECT_EQ(waiter.get(), S_OK);
  EXPECT_EQ(pSecond, pFirst);
  pSecond->Release();
}

TEST_F(MemoryAllocatorTest, DecommitReleasesWaitersAndFreesMemoryOnceAllSamplesAreBack) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pHeld = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pHeld, nullptr, nullptr, 0), S_OK);
  IMediaSample* pWaited = nullptr;
  auto waiter = std::async(std::launch::async,
                           [&] { return m_pAlloc->GetBuffer(&pWaited, nullptr, nullptr, 0); });
  EXPECT_EQ(waiter.wait_for(kSettle), std::future_status::timeout);

  ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
  EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);
  EXPECT_EQ(pWaited, nullptr);
  EXPECT_TRUE(Impl()->HasMemory());  // a sample is still out
  EXPECT_EQ(Configure(1, 32), VFW_E_BUFFERS_OUTSTANDING);
  pHeld->Release();
  EXPECT_FALSE(Impl()->HasMemory());
}

TEST_F(MemoryAllocatorTest, RecommitWhileASampleIsOutKeepsTheMemory) {
  ASSERT_EQ(Configure(2, 16), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pHeld = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pHeld, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pOther = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pOther, nullptr, nullptr, 0), S_OK);
  EXPECT_NE(pOther, pHeld);
  pOther->Release();
  pHeld->Release();
  EXPECT_TRUE(Impl()->HasMemory());
  ASSERT_EQ(m_pAlloc->Decommit(), S_OK);
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

TEST_F(MemoryAllocatorTest, SampleTimesFlagsAndLengthFollowThePlatformRules) {
  ASSERT_EQ(Configure(1, 100), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);

  REFERENCE_TIME tStart = 0, tStop = 0;
  EXPECT_EQ(pSample->GetTime(&tStart, &tStop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME t1 = 500, t2 = 900;
  ASSERT_EQ(pSample->SetTime(&t1, nullptr), S_OK);
  EXPECT_EQ(pSample->GetTime(&tStart, &tStop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(tStop, 501);
  ASSERT_EQ(pSample->SetTime(&t1, &t2), S_OK);
  EXPECT_EQ(pSample->GetTime(&tStart, &tStop), S_OK);
  EXPECT_EQ(tStop, 900);
  LONGLONG m1 = 3, m2 = 4;
  EXPECT_EQ(pSample->GetMediaTime(&m1, &m2), VFW_E_MEDIA_TIME_NOT_SET);
  ASSERT_EQ(pSample->SetMediaTime(&m1, &m2), S_OK);
  EXPECT_EQ(pSample->GetMediaTime(&m1, &m2), S_OK);

  EXPECT_EQ(pSample->IsSyncPoint(), S_FALSE);
  ASSERT_EQ(pSample->SetSyncPoint(TRUE), S_OK);
  ASSERT_EQ(pSample->SetPreroll(TRUE), S_OK);
  ASSERT_EQ(pSample->SetDiscontinuity(TRUE), S_OK);
  EXPECT_EQ(pSample->IsSyncPoint(), S_OK);
  EXPECT_EQ(pSample->IsPreroll(), S_OK);
  EXPECT_EQ(pSample->IsDiscontinuity(), S_OK);

  EXPECT_EQ(pSample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(pSample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  ASSERT_EQ(pSample->SetActualDataLength(60), S_OK);
  EXPECT_EQ(pSample->GetActualDataLength(), 60);

  AM_MEDIA_TYPE* pType = reinterpret_cast<AM_MEDIA_TYPE*>(0x1);
  EXPECT_EQ(pSample->GetMediaType(&pType), S_FALSE);
  EXPECT_EQ(pType, nullptr);
  CMediaType mt = MakeMediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  ASSERT_EQ(pSample->SetMediaType(&mt), S_OK);
  ASSERT_EQ(pSample->GetMediaType(&pType), S_OK);
  EXPECT_EQ(pType->subtype, MEDIASUBTYPE_PCM);
  DeleteMediaType(pType);

  // Back to the allocator and out again: nothing of the last use remains.
  pSample->Release();
  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(pSample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(pSample->IsPreroll(), S_FALSE);
  EXPECT_EQ(pSample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(pSample->GetTime(&tStart, &tStop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(pSample->GetMediaTime(&m1, &m2), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(pSample->GetMediaType(&pType), S_FALSE);
  EXPECT_EQ(pSample->GetActualDataLength(), 100);
  pSample->Release();
}

TEST_F(MemoryAllocatorTest, SamplePropertiesRecordRoundTrips) {
  ASSERT_EQ(Configure(1, 100), S_OK);
  ASSERT_EQ(m_pAlloc->Commit(), S_OK);
  IMediaSample* pSample = nullptr;
  ASSERT_EQ(m_pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0), S_OK);
  IMediaSample2* pSample2 = nullptr;
  ASSERT_EQ(pSample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&pSample2)), S_OK);

  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(pSample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
  EXPECT_EQ(props.cbBuffer, 100);
  props.dwSampleFlags = AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  props.tStart = 10;
  props.tStop = 20;
  props.lActual = 42;
  ASSERT_EQ(pSample2->SetProperties(sizeof(props), reinterpret_cast<const BYTE*>(&props)), S_OK);
  EXPECT_EQ(pSample->IsSyncPoint(), S_OK);
  EXPECT_EQ(pSample->GetActualDataLength(), 42);
  REFERENCE_TIME tStart = 0, tStop = 0;
  EXPECT_EQ(pSample->GetTime(&tStart, &tStop), S_OK);
  EXPECT_EQ(tStop, 20);

  AM_SAMPLE2_PROPERTIES bad = props;
  bad.lActual = 101;
  EXPECT_EQ(pSample2->SetProperties(sizeof(bad), reinterpret_cast<const BYTE*>(&bad)), VFW_E_BUFFER_OVERFLOW);
  bad = props;
  bad.pbBuffer += 1;
  EXPECT_EQ(pSample2->SetProperties(sizeof(bad), reinterpret_cast<const BYTE*>(&bad)), E_INVALIDARG);
  EXPECT_EQ(pSample2->SetProperties(4, reinterpret_cast<const BYTE*>(&props)), E_INVALIDARG);
  EXPECT_EQ(pSample2->GetProperties(sizeof(props) + 1, reinterpret_cast<BYTE*>(&props)), E_INVALIDARG);

  pSample2->Release();
  pSample->Release();
}

}  // namespace
}  // namespace flvdmx

// CMemAllocator: the memory allocator the platform supplies under
// CLSID_MemoryAllocator, for Linux. It lends out a fixed number of buffers of
// the negotiated size: each buffer starts on a multiple of cbAlign, with
// cbPrefix spare bytes in front of it. GetBuffer blocks until a buffer comes
// back, and fails with VFW_E_NOT_COMMITTED once Decommit has been called,
// which also wakes every waiter.
//
// Ownership: reference counted; not aggregatable. The allocator owns its
// memory and its samples. While a sample is lent out the allocator holds a
// reference on itself, so it outlives every sample in use. Commit checks the
// total size; each buffer's memory is allocated when it is first lent out,
// and all of it is freed once the allocator is decommitted and every sample
// is back (or when it is destroyed).
//
// Locks: one internal mutex guards the properties, the state and the free
// list; GetBuffer waits on it. It is never held while calling out.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "host/media_sample.h"
#include "platform/dshow.h"

namespace flvdmx {

class CMemAllocator final : public IMemAllocator {
 public:
  // The creation function behind CoCreateInstance(CLSID_MemoryAllocator).
  static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // VFW_E_ALREADY_COMMITTED while committed, VFW_E_BUFFERS_OUTSTANDING while
  // samples from an earlier commit are out, VFW_E_BADALIGN unless cbAlign is
  // a power of two up to 64 KiB, E_INVALIDARG for negative values. The actual
  // buffer size is the request rounded up so that prefix plus buffer fills
  // whole alignment units.
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                             ALLOCATOR_PROPERTIES* pActual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  // VFW_E_SIZENOTSET without buffers to make; E_OUTOFMEMORY when the memory
  // cannot be had. Committing again while decommitted samples are still out
  // keeps the memory.
  STDMETHODIMP Commit() override;
  STDMETHODIMP Decommit() override;
  // AM_GBF_NOWAIT: VFW_E_TIMEOUT instead of waiting. Times are not used.
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                         REFERENCE_TIME* pEndTime, DWORD dwFlags) override;
  // Called by a sample whose last reference went; E_INVALIDARG for a sample
  // that is not one of ours.
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

  // For tests: how many samples are lent out.
  int OutstandingCount();

 private:
  CMemAllocator() = default;
  ~CMemAllocator();

  // Under m_Mutex. AllocateLocked checks the total and reserves the tables;
  // MakeSampleLocked gives one more buffer its memory (null when there is
  // none).
  HRESULT AllocateLocked();
  CMediaSample* MakeSampleLocked();
  void FreeLocked();
  bool AllSamplesBackLocked() const { return m_Free.size() == m_Samples.size(); }

  std::atomic<LONG> m_cRef{0};
  std::mutex m_Mutex;
  std::condition_variable m_BufferReturned;
  ALLOCATOR_PROPERTIES m_Props{0, 0, 1, 0};
  bool m_bCommitted = false;
  bool m_bAllocated = false;
  std::vector<BYTE*> m_Blocks;  // one per sample made, in the same order
  std::vector<std::unique_ptr<CMediaSample>> m_Samples;
  std::vector<CMediaSample*> m_Free;
};

}  // namespace flvdmx

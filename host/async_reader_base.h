// CAsyncReaderBase: what the readers of this host have in common as
// IAsyncReader objects: reference counting, QueryInterface (IUnknown and
// IAsyncReader), argument checks, the flush gate, and the queued-request
// operations, which they do not offer (nothing is ever queued).
//
// A subclass supplies Length and ReadAt. SyncRead may be called from several
// threads at once; ReadAt must allow that too.
//
// Flush: between BeginFlush and EndFlush every SyncRead fails with
// VFW_E_WRONG_STATE, and so does a read that was under way when the flush
// began, so a delivery thread blocked in a read returns promptly.
//
// Lifetime: made with one reference, owned by its creator; Release of the
// last reference deletes it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/dshow.h"

namespace flvdmx {

class CAsyncReaderBase : public IAsyncReader {
 public:
  CAsyncReaderBase(const CAsyncReaderBase&) = delete;
  CAsyncReaderBase& operator=(const CAsyncReaderBase&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // E_NOTIMPL: callers here read synchronously only.
  HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* pPreferred,
                                             ALLOCATOR_PROPERTIES* pProps,
                                             IMemAllocator** ppActual) override;
  HRESULT STDMETHODCALLTYPE Request(IMediaSample* pSample, DWORD_PTR dwUser) override;
  HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample* pSample) override;
  // Nothing is queued: a null sample and VFW_E_TIMEOUT at once.
  HRESULT STDMETHODCALLTYPE WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                                        DWORD_PTR* pdwUser) override;

  // S_OK when all bytes were read; S_FALSE for a short read at the end (the
  // bytes that are there are copied; a position at or past the end reads
  // nothing); E_POINTER for a null buffer; E_INVALIDARG for a negative
  // position or length; VFW_E_WRONG_STATE while flushing; a read failure.
  HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;

  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  bool IsFlushing() const { return m_bFlushing.load(std::memory_order_acquire); }
  // The current reference count, for tests.
  ULONG RefCount() const { return m_cRef.load(); }

 protected:
  CAsyncReaderBase() = default;
  virtual ~CAsyncReaderBase() = default;

  // Reads up to cb bytes at a non-negative position; *pcbRead gets how many
  // came (fewer only at the end of the data). S_OK or a failure code.
  virtual HRESULT ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer, uint32_t* pcbRead) = 0;

 private:
  std::atomic<ULONG> m_cRef{1};
  std::atomic<bool> m_bFlushing{false};
  // Counts flushes begun, so a read that a whole flush overlapped is failed
  // too, not taken for a short read at the end of the file.
  std::atomic<uint64_t> m_cFlushes{0};
};

}  // namespace flvdmx

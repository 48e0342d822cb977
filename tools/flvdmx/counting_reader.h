// CCountingReader: an IAsyncReader that passes every call on to another
// reader and counts the reads that reached it and the bytes they asked for,
// for `--stats` (how much of the file a playback or a seek touched).
//
// Ownership and lifetime: made with one reference for the caller; holds one
// reference on the reader it wraps until it goes. The counters are atomics:
// both delivery threads read through it at once.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/com_ptr.h"
#include "platform/dshow.h"

namespace flvdmx::cli {

class CCountingReader final : public IAsyncReader {
 public:
  explicit CCountingReader(IAsyncReader* pInner);
  CCountingReader(const CCountingReader&) = delete;
  CCountingReader& operator=(const CCountingReader&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                IMemAllocator** ppActual) override;
  STDMETHODIMP Request(IMediaSample* pSample, DWORD_PTR dwUser) override;
  STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* pSample) override;
  // Counted when the inner reader read (S_OK, or S_FALSE at the end); reads
  // refused during a flush are not.
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  uint64_t ReadCount() const { return m_cReads.load(); }
  uint64_t BytesRead() const { return m_cbRead.load(); }
  void ResetCounters();

 private:
  ~CCountingReader();

  std::atomic<ULONG> m_cRef{1};
  const ComPtr<IAsyncReader> m_pInner;
  std::atomic<uint64_t> m_cReads{0};
  std::atomic<uint64_t> m_cbRead{0};
};

}  // namespace flvdmx::cli

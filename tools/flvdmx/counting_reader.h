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
  // The first read since the last reset that failed, or that came back short
  // inside the length the reader announces (the file shrank while it was
  // read: ERROR_HANDLE_EOF); S_OK when none did. Reads refused during a
  // flush do not count. The filter may end its streams cleanly on either,
  // yet the user must learn that the file was not read to its end.
  HRESULT FirstReadFailure() const { return m_hrFirstFailure.load(); }
  // Resets the counters and the first failure.
  void ResetCounters();

 private:
  ~CCountingReader();
  void RememberFailure(HRESULT hr);

  std::atomic<ULONG> m_cRef{1};
  const ComPtr<IAsyncReader> m_pInner;
  std::atomic<uint64_t> m_cReads{0};
  std::atomic<uint64_t> m_cbRead{0};
  std::atomic<HRESULT> m_hrFirstFailure{S_OK};
};

}  // namespace flvdmx::cli

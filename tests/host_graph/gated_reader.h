// CGatedReader: an IAsyncReader in front of another one that can hold reads
// back. Armed with an offset, every read whose range holds that offset waits
// until a flush begins (the read then fails with VFW_E_WRONG_STATE, as the
// reader contract asks) or until the gate is opened. Everything else goes to
// the inner reader, flushes included.
//
// Made with one reference; holds one on the inner reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/dshow.h"

namespace flvdmx {

class CGatedReader final : public IAsyncReader {
 public:
  explicit CGatedReader(IAsyncReader* pInner) : m_pInner(pInner) { m_pInner->AddRef(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
      *ppv = static_cast<IAsyncReader*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG cRef = --m_cRef;
    if (cRef == 0) delete this;
    return cRef;
  }

  STDMETHODIMP RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                IMemAllocator** ppActual) override {
    return m_pInner->RequestAllocator(pPreferred, pProps, ppActual);
  }
  STDMETHODIMP Request(IMediaSample* pSample, DWORD_PTR dwUser) override {
    return m_pInner->Request(pSample, dwUser);
  }
  STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                           DWORD_PTR* pdwUser) override {
    return m_pInner->WaitForNext(dwTimeout, ppSample, pdwUser);
  }
  STDMETHODIMP SyncReadAligned(IMediaSample* pSample) override {
    return m_pInner->SyncReadAligned(pSample);
  }
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override {
    {
      std::unique_lock<std::mutex> lock(m_Mutex);
      if (m_bArmed && !m_bFlushing && llPosition <= m_llGate && lLength > 0 &&
          m_llGate - llPosition < lLength) {
        ++m_cBlocked;
        m_Changed.notify_all();
        m_Changed.wait(lock, [this] { return m_bFlushing || !m_bArmed; });
      }
      if (m_bFlushing) return VFW_E_WRONG_STATE;
    }
    return m_pInner->SyncRead(llPosition, lLength, pBuffer);
  }
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override {
    return m_pInner->Length(pTotal, pAvailable);
  }
  STDMETHODIMP BeginFlush() override {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bFlushing = true;
      ++m_cFlushes;
    }
    m_Changed.notify_all();
    return m_pInner->BeginFlush();
  }
  STDMETHODIMP EndFlush() override {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bFlushing = false;
    }
    return m_pInner->EndFlush();
  }

  // Holds back every later read that covers llOffset.
  void CloseAt(LONGLONG llOffset) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_llGate = llOffset;
    m_bArmed = true;
  }
  // Lets every held read through and holds none from now on.
  void Open() {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      m_bArmed = false;
    }
    m_Changed.notify_all();
  }
  // True once at least `count` reads have been held back (in all).
  bool WaitUntilBlocked(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, limit, [&] { return m_cBlocked >= count; });
  }
  int BlockedCount() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_cBlocked;
  }
  int FlushCount() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_cFlushes;
  }
  ULONG RefCount() const { return m_cRef; }

 private:
  ~CGatedReader() { m_pInner->Release(); }

  std::atomic<ULONG> m_cRef{1};
  IAsyncReader* const m_pInner;
  std::mutex m_Mutex;
  std::condition_variable m_Changed;
  bool m_bArmed = false;
  bool m_bFlushing = false;
  LONGLONG m_llGate = 0;
  int m_cBlocked = 0;
  int m_cFlushes = 0;
};

}  // namespace flvdmx

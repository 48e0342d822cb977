// CBaseInputPin: an input pin that takes samples through IMemInputPin. It
// gives out an allocator (the platform's memory allocator, made on first
// request), holds the one the upstream pin settles on, tracks flushing, and
// checks each received sample against the streaming state.
//
// Ownership: holds one reference on the allocator it was notified of (or made)
// until BreakConnect or destruction. Reference counting goes to the filter,
// as for every CBasePin.
//
// Locks: GetAllocator, NotifyAllocator, BeginFlush and EndFlush hold the pin
// lock (the filter's state lock). Receive takes no lock here: a subclass that
// serialises its streaming calls holds its own receive lock around it. The
// flushing and run-time error flags are atomic, since the streaming thread
// reads them while the graph thread changes them.
#pragma once

#include <atomic>

#include "base/com_ptr.h"
#include "baseclasses/pin.h"

namespace flvdmx {

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                const wchar_t* pName);
  ~CBaseInputPin() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IMemInputPin; then CBasePin's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin.
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // CheckStreaming must give S_OK; then the sample's properties are recorded
  // and a type change is checked with CheckMediaType (a refused one is a
  // run-time error: EC_ERRORABORT and VFW_E_INVALIDMEDIATYPE).
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  // Receive for each sample in turn until one gives other than S_OK.
  STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples,
                               LONG* nSamplesProcessed) override;
  // S_OK when any connected output pin of the filter feeds a pin that can
  // block (or the filter has no output pin); else S_FALSE.
  STDMETHODIMP ReceiveCanBlock() override;

  // IPin: set / clear the flushing flag (EndFlush also clears the run-time
  // error).
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // Clears the run-time error; VFW_E_NO_ALLOCATOR without an allocator, else
  // ends any flush and decommits the allocator.
  HRESULT Inactive() override;
  // Decommits and releases the allocator.
  HRESULT BreakConnect() override;

  // Hook: whether a sample may be received now. VFW_E_WRONG_STATE when the
  // filter is stopped, S_FALSE while flushing, VFW_E_RUNTIME_ERROR after a
  // run-time error, else S_OK.
  virtual HRESULT CheckStreaming();

  BOOL IsFlushing() const { return m_bFlushing; }

 protected:
  ComPtr<IMemAllocator> m_pAllocator;
  BOOL m_bReadOnly = FALSE;
  std::atomic<BOOL> m_bFlushing{FALSE};
  // The properties of the last sample received (its media type pointer is
  // valid only while that sample is).
  AM_SAMPLE2_PROPERTIES m_SampleProps{};
};

}  // namespace flvdmx

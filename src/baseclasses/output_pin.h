// CBaseOutputPin: an output pin that delivers samples to an IMemInputPin.
// On connection it negotiates the allocator (the peer's, else the platform's
// memory allocator) and sizes it through DecideBufferSize; while the filter is
// active the allocator is committed. The delivery calls pass straight to the
// peer.
//
// Ownership: holds one reference on the peer's IMemInputPin from CheckConnect
// to BreakConnect, and one on the negotiated allocator from CompleteConnect to
// BreakConnect. Reference counting goes to the filter unless a subclass
// counts for itself.
//
// Locks: connection hooks run under the pin lock (the filter's state lock).
// The delivery calls take no lock: they run on a streaming thread while the
// connection is stable (the filter is not stopped).
#pragma once

#include "baseclasses/pin.h"

namespace flvdmx {

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                 const wchar_t* pName);
  ~CBaseOutputPin() override;

  // IPin calls that belong to input pins: E_UNEXPECTED.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // The base direction check, then the peer must offer IMemInputPin (held).
  HRESULT CheckConnect(IPin* pPin) override;
  // Negotiates the allocator (DecideAllocator); once it succeeds, traces the
  // pin's name and its media type.
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // Decommits and releases the allocator, releases the peer's IMemInputPin.
  HRESULT BreakConnect() override;
  // Commit / decommit the allocator; VFW_E_NO_ALLOCATOR without one.
  // Inactive also clears the run-time error.
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Hooks, in slot order.
  // The peer's requirements (alignment 0 taken as 1), then the peer's
  // allocator through DecideBufferSize and NotifyAllocator; if any of that
  // fails, InitAllocator's the same way. The allocator comes back with a
  // reference; a failure leaves *ppAlloc null.
  virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
  // Required: set the allocator's properties (SetProperties) from the request.
  virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) = 0;
  // The allocator's GetBuffer; E_NOINTERFACE without an allocator.
  virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                    REFERENCE_TIME* pEndTime, DWORD dwFlags);
  // The peer's Receive; VFW_E_NOT_CONNECTED when there is no peer.
  virtual HRESULT Deliver(IMediaSample* pSample);
  // A new platform memory allocator (CLSID_MemoryAllocator).
  virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
  // The peer's EndOfStream / BeginFlush / EndFlush / NewSegment;
  // VFW_E_NOT_CONNECTED when there is no peer.
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
  // Allow Connect and ReceiveConnection while the filter is active.
  virtual void SetReconnectWhenActive(bool bCanReconnect);
  // Offer this pin's types before the peer's in the agreement.
  virtual void SetTryMyTypesFirst(bool bTryMyTypesFirst);
  // What a delivery failure becomes: hr unchanged by default.
  virtual HRESULT OnError(HRESULT hr);

  IMemAllocator* GetAllocatorNoRef() const { return m_pAllocator; }

 protected:
  IMemAllocator* m_pAllocator = nullptr;
  IMemInputPin* m_pInputPin = nullptr;
};

}  // namespace flvdmx

// CBaseDmxInputPin: the demultiplexer's one input pin ("Input 01", pin number
// 0). It connects to an upstream byte source and takes its IAsyncReader, the
// only door to the file's bytes: everything is read from it by random access
// (pull model) while the graph runs; nothing is pushed in. Format decisions
// go to the filter's hooks with pin number 0. The pin also carries the
// end-of-stream mark that gates the fan-out of end-of-stream to the outputs.
//
// The reader contract the system relies on: Length (anything but S_OK means
// no usable length), SyncRead (only S_OK means the whole range was read;
// S_FALSE is a short read at the end), BeginFlush/EndFlush (between them
// every read fails promptly: how a blocked delivery thread is made to
// return), WaitForNext with timeout 0 (returns queued requests so they can be
// released). SyncRead may be called from several threads at once.
//
// Ownership and lifetime: made and destroyed by the filter (GetPin(0), the
// filter's destructor); its reference count is the filter's. Holds one
// reference on the reader from CompleteConnect until Disconnect, a failed
// connection or destruction; GetReader adds one for its caller.
//
// Locks: connection calls run under the filter lock (the pin lock).
// EndOfStream and Receive hold the filter's receive lock. BeginFlush and
// EndFlush hold the pin lock only while they change the base flags. The
// reader pointer has a leaf lock of its own (nothing is taken inside it), as
// delivery threads read it through the filter's GetReader while the graph
// thread may be disconnecting.
#pragma once

#include <atomic>

#include "baseclasses/critsec.h"
#include "baseclasses/input_pin.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBaseDmx;

class CBaseDmxInputPin : public CBaseInputPin {
 public:
  CBaseDmxInputPin(CBaseDmx* pFilter, CCritSec* pLock, HRESULT* phr, const wchar_t* pName);
  ~CBaseDmxInputPin() override;

  // IPin. Disconnects as the base does, then lets go of the reader; a refused
  // disconnection (VFW_E_NOT_STOPPED unless stopped) changes nothing.
  STDMETHODIMP Disconnect() override;
  // Under the receive lock: once per streaming run (later calls S_OK and
  // ignored); VFW_E_WRONG_STATE while stopped; else marks end-of-stream and
  // returns the filter's PinEndOfStream(0).
  STDMETHODIMP EndOfStream() override;
  // The base flag change, then the filter's fan-out (without the pin lock).
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  // Under the receive lock: the base checks, then the filter's PinReceive.
  STDMETHODIMP Receive(IMediaSample* pSample) override;

  // CBasePin hooks, in the order of the connection protocol.
  // The filter's PinCheckConnect(0), then the base direction check.
  HRESULT CheckConnect(IPin* pPin) override;
  // The filter's PinCheckMediaType(0, pmt, this), unchanged.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  // E_UNEXPECTED: the pin proposes no type; the upstream pin's offer is used.
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  // The base copy, then the filter's PinSetMediaType(0, pmt).
  HRESULT SetMediaType(const CMediaType* pmt) override;
  // Takes the peer's IAsyncReader (a peer without one fails the connection;
  // VFW_E_ALREADY_CONNECTED when a reader is held already), then returns the
  // filter's PinCompleteConnect(0, peer), letting go of the reader when that
  // fails.
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // The filter's PinBreakConnect(0) (result ignored), then the base.
  HRESULT BreakConnect() override;
  // S_OK: the pin has no allocator of its own to commit; the filter drives it
  // with StartStreaming / StopStreaming instead.
  HRESULT Active() override;
  HRESULT Inactive() override;

  // Own hooks, in slot order.
  // Called by the filter's Pause on leaving Stopped: clears the end-of-stream
  // mark. S_OK.
  virtual HRESULT StartStreaming();
  // Called by the filter's Stop: the base input pin's inactivation
  // (VFW_E_NO_ALLOCATOR when no allocator was pushed in, else decommits it).
  virtual HRESULT StopStreaming();
  virtual BOOL IsEndOfStream();
  // The filter's ReportStreamError.
  virtual HRESULT ReportStreamError(HRESULT hr);
  // The reader with a reference for the caller; null when none is held.
  virtual IAsyncReader* GetReader();

 private:
  // Lets go of the reader (under the reader lock).
  void ReleaseReader();

  CCritSec m_csReader;
  IAsyncReader* m_pReader = nullptr;
  CBaseDmx* const m_pDmx;
  std::atomic<BOOL> m_bEndOfStream{FALSE};
  const int m_iPin = 0;
};

}  // namespace flvdmx

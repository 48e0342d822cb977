// CBaseDmx: the format-neutral demultiplexer filter. One input pin
// (CBaseDmxInputPin) pulls the file's bytes from an upstream IAsyncReader; a
// bounded, changing set of output pins (CBaseDmxOutputPin), one per
// elementary stream, each delivers from its own thread. The filter knows no
// container format: the pins hand every decision to the virtual hooks below,
// with their pin number (0 the input pin, 1..N the output pins; an output
// pin's output index is its pin number - 1). A format filter derives from it,
// overrides the hooks its format needs and calls these defaults for the pin
// numbers it does not handle.
//
// A format subclass must override:
//   - PinCompleteConnect (0, ...) to read the input and make its output pins
//     (AddOutputPin, GetOutputPin, then the pin's SetSampleEntry,
//     SetMaxSampleSize and SetName; RemoveOutputPin on failure), and
//     PinBreakConnect (0) to remove them (RemoveAllOutputPins);
//   - PinGetMediaType for its output pins: the pins offer only what it gives;
//   - PinProcess: the delivery loop of an output pin.
// Usually also: PinCheckMediaType (0, ...) to accept only its input type, and
// PinDecideBufferSize for the output pins' buffers.
//
// Ownership and lifetime: the filter owns its input pin outright (made on the
// first GetPin(0), destroyed by the destructor) and holds one reference on
// each output pin in its table (made on the first GetPin for its slot,
// released by RemoveOutputPin / RemoveAllOutputPins), the pin's owner
// reference, which does not count on the filter. Every other reference on an
// output pin holds the filter too, so a caller that keeps a pin keeps the
// filter; the input pin's count is the filter's. m_pVideoPin and m_pAudioPin are the subclass's
// non-owning shortcuts to its pins.
//
// Locks, in the only order in which they nest (left before right):
//   filter lock -> pin-list lock -> main-seeking-pin lock
//   filter lock -> an output pin's thread access lock -> its reader-flush lock
// The filter lock is the base filter's state lock and every pin's lock: Stop,
// Pause, Run and the connection calls hold it, and the subclass holds it while
// it repositions. The pin-list lock guards the pin pointers, the table and the
// count; the fan-out operations take it only to find a pin, never across a
// call into a pin. The receive lock is taken alone, by the input pin's
// streaming calls (EndOfStream, Receive); the input pin's reader lock is a
// leaf. Delivery threads never take the filter lock, so the graph's thread
// can stop them while holding it.
#pragma once

#include <atomic>
#include <memory>

#include "base/block_reader.h"
#include "baseclasses/critsec.h"
#include "baseclasses/filter.h"
#include "baseclasses/mediatype.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBasePin;
class CBaseDmxInputPin;
class CBaseDmxOutputPin;

class CBaseDmx : public CBaseFilter {
 public:
  // nMaxOutputPins: the capacity of the output pin table, fixed for life.
  // E_OUTOFMEMORY through phr when the table cannot be allocated (the filter
  // then has no output pin slots). No pin is made here.
  CBaseDmx(REFCLSID clsid, const wchar_t* pName, IUnknown* pUnk, HRESULT* phr, int nMaxOutputPins);
  ~CBaseDmx() override;

  // CBaseFilter. The input pin is counted before it is made.
  int GetPinCount() override;
  // Makes the pin on first request: "Input 01" for 0, "Output %.2d" for an
  // output slot. Null for a number out of range or a pin that failed to
  // construct (the slot stays empty and may be retried). No reference added.
  CBasePin* GetPin(int n) override;
  // GetPin and the caller's reference in one step under the pin-list lock,
  // so the table cannot drop the pin in between.
  IPin* AcquirePin(int n) override;

  // IMediaFilter, under the filter lock. Stop never fails: after the pins are
  // inactive it ends the input pin's streaming and calls StopStreaming (whose
  // failure only restores the previous state). Pause from Stopped calls
  // StartStreaming, activates the pins, then starts the input pin's
  // streaming; a failure is returned with the filter left Stopped (and any pin
  // that was already activated made inactive again).
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;

  // Hooks, in slot order. Unless said otherwise they are called on the
  // graph's thread under the filter lock (connection and state changes).

  // A delivery loop that ended in failure reports it here (on its own
  // thread). While the filter is flushing, or while Stop is stopping the
  // pins: S_OK and nothing reported (the pins share the reader, so stopping
  // one fails the reads of the others: the failure is the stop's doing).
  // Else EC_ERRORABORT (hr, this filter's IBaseFilter) to the graph, and hr.
  virtual HRESULT ReportStreamError(HRESULT hr);
  // Traces the error and sends EC_ERRORABORT (hr, 0) if the filter has an
  // event sink, whatever the flushing state; returns hr.
  virtual HRESULT NotifyGraphOfError(HRESULT hr);
  // Pause calls StartStreaming on leaving Stopped, before any pin is active;
  // a failure keeps the filter stopped. Stop calls StopStreaming after every
  // pin is inactive. Both S_OK by default.
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();
  // The input pin's type check (pin 0), with the pin asking. S_OK accepts,
  // S_FALSE or a failure refuses. The default accepts anything. Output pins
  // check a proposed type against their own offer and do not call this.
  virtual HRESULT PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin);
  // The input pin's type was agreed. S_OK by default.
  virtual HRESULT PinSetMediaType(int iPin, const CMediaType* pmt);
  // The types an output pin offers, by position: S_OK with a type,
  // VFW_S_NO_MORE_ITEMS past the end. Called by CBaseDmxOutputPin's
  // GetMediaType (only once the pin has a sample entry), so an override must
  // answer from the pin's stream description and must not call the pin's
  // GetMediaType. The default offers nothing (VFW_S_NO_MORE_ITEMS).
  virtual HRESULT PinGetMediaType(int iPin, int iPosition, CMediaType* pmt);
  // Sizes an output pin's allocator while it connects. The default raises the
  // request to at least 1 buffer of 8192 bytes, aligned to 4 (the prefix
  // stays), and returns SetProperties' result; E_POINTER for a null argument.
  virtual HRESULT PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                                      ALLOCATOR_PROPERTIES* pRequest);
  // Before a pin tries a peer. A failure refuses the peer. S_OK by default.
  virtual HRESULT PinCheckConnect(int iPin, IPin* pPeer);
  // A pin's connection is complete (an output pin has its allocator and its
  // reader by now). A failure undoes the connection. The default forgets the
  // main seeking pin and returns S_OK; an override calls it.
  virtual HRESULT PinCompleteConnect(int iPin, IPin* pPeer);
  // A pin's connection is being undone; the result is not used. The default
  // forgets the main seeking pin; an override calls it.
  virtual HRESULT PinBreakConnect(int iPin);
  // A sample pushed into the input pin (on the upstream thread, under the
  // receive lock). Dropped by default: the input is pulled, not pushed.
  virtual HRESULT PinReceive(int iPin, IMediaSample* pSample);
  // End-of-stream arrived on a pin (on the upstream thread, under the receive
  // lock). The default passes it to the output pins once the input pin has
  // seen it, or when the input is not connected at all.
  virtual HRESULT PinEndOfStream(int iPin);
  // Fan-out to every connected output pin, in table order, without any lock
  // held across a pin's call; results of the pins are ignored. BeginFlush
  // sets the flushing flag before the pins are told, EndFlush clears it after.
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
  // Reserves one more output slot (the pin is made by the next GetOutputPin
  // for it) and changes the pin version. E_FAIL when the table is full.
  virtual HRESULT AddOutputPin();
  // Drops every output pin. Under the filter lock. The table and its count
  // are emptied together under the pin-list lock, the pin version changes
  // and m_pVideoPin and m_pAudioPin become null; then each connected pin is
  // disconnected through the graph (peer, then pin) when the filter is in
  // one, without the pin-list lock (that stops its thread), and released.
  virtual HRESULT RemoveAllOutputPins();
  // GetPin(0) under the pin-list lock: made on first use.
  virtual CBaseDmxInputPin* GetInputPin();
  // The input pin's reader with a reference for the caller, or null when
  // there is no input pin or no reader. Any thread.
  virtual IAsyncReader* GetReader();
  // The number of output slots in use. Any thread.
  virtual int GetOutputPinCount();
  // The output pin at output index iIndex (made on first use), without a
  // reference; null out of range. Any thread.
  virtual CBaseDmxOutputPin* GetOutputPin(int iIndex);
  // The delivery loop of output pin iPin, run on that pin's own thread each
  // time the thread is told to run (never twice at once for one pin). It
  // must look for a pending thread command after every sample
  // (pPin->CheckRequest(nullptr, 0)) and return when one is there, must start
  // over from the new positions when pPin->IsRestartRequested(), and when its
  // stream ends or a command is pending it delivers end-of-stream on the pin
  // (reporting a failure of that through ReportStreamError). Reads through
  // the reader fail while the pin is being stopped, so a loop blocked in a
  // read returns. The result is not used. The default delivers end-of-stream
  // at once: a format without a loop has nothing to send.
  virtual HRESULT PinProcess(int iPin, CBaseDmxOutputPin* pPin);

  // For a pin just made and not connected: drops output slot iIndex (the
  // table's reference on its pin is released) and moves the later pins down
  // one slot. Nothing happens for an index out of range. The pin version is
  // not changed (the slot was never announced).
  void RemoveOutputPin(int iIndex);

  // The main seeking pin: the output pin whose IMediaSeeking applies
  // positions and rate. Null when none has been chosen. Under the
  // main-seeking-pin lock.
  CBaseDmxOutputPin* GetMainSeekingPin();
  void SetMainSeekingPin(CBaseDmxOutputPin* pPin);
  // One step under the lock: makes pPin the main seeking pin when none is
  // chosen, and tells whether pPin is it. The output pins call this when
  // asked for IMediaSeeking, so two pins asked at once cannot both take it.
  BOOL ClaimMainSeekingPin(CBaseDmxOutputPin* pPin);

  // Repositions the running output pins after the seeking state changed.
  // Without flush: RequestRestart on every output pin; each loop starts a
  // new segment after its current sample. With flush, under the filter lock:
  // DeliverBeginFlush, Inactive on every output pin (its thread stops),
  // DeliverEndFlush, Active on every output pin (a new thread starts the
  // loop; unconnected pins refuse, which is ignored); nothing while the
  // filter is stopped. Call from an application thread, never from a pin's
  // own thread.
  HRESULT RestartOutputPins(BOOL bFlush);

  // Inline delivery (see CPushPin) for every output pin, those made already
  // and those made later. Only while the filter is stopped.
  void SetInlineDelivery(bool bInline);
  // Inline delivery: runs each output pin's due loop to its end, one pin
  // after another in table order, on the caller's thread, without the filter
  // lock. S_OK when a loop ran, S_FALSE when none was due.
  HRESULT RunInlineDelivery();

  BOOL IsFlushing() const { return m_bFlushing; }
  // Flushes open on the shared reader, as the output pins open and close
  // them: each delivery thread's read-ahead looks at it.
  CReaderFlushState& ReaderFlushState() { return m_ReaderFlush; }
  CCritSec* FilterLock() { return &m_csFilter; }
  CCritSec* ReceiveLock() { return &m_csReceive; }

 protected:
  CCritSec m_csReceive;
  CCritSec m_csFilter;
  CCritSec m_csPinList;
  CBaseDmxInputPin* m_pInputPin = nullptr;
  int m_nOutputPins = 0;
  const int m_nMaxOutputPins;
  std::unique_ptr<CBaseDmxOutputPin*[]> m_ppOutputPins;
  // Same capacity, all null except inside RemoveAllOutputPins, which moves
  // the table here in one step and empties it from here.
  std::unique_ptr<CBaseDmxOutputPin*[]> m_ppSparePins;
  CBaseDmxOutputPin* m_pVideoPin = nullptr;
  CBaseDmxOutputPin* m_pAudioPin = nullptr;
  // Set by DeliverBeginFlush, cleared by DeliverEndFlush; read by delivery
  // threads in ReportStreamError.
  std::atomic<BOOL> m_bFlushing{FALSE};
  // Set while Stop (or a failed Pause) makes the pins inactive.
  std::atomic<BOOL> m_bStoppingPins{FALSE};
  CCritSec m_csMainSeekingPin;
  CBaseDmxOutputPin* m_pMainSeekingPin = nullptr;
  CReaderFlushState m_ReaderFlush;
  bool m_bInlineDelivery = false;

 private:
  // The output pin at iIndex with a reference for the caller, so that a fan-out
  // can call it without holding the pin-list lock. Null when there is none.
  CBaseDmxOutputPin* AcquireOutputPin(int iIndex);
  // Disconnects a pin taken out of the table from its peer, through the graph.
  void DisconnectRemovedPin(CBaseDmxOutputPin* pPin);
  // The input pin if it has been made (no reference), under the pin-list lock.
  CBaseDmxInputPin* ExistingInputPin();
};

}  // namespace flvdmx

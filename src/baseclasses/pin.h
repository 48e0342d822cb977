// CBasePin: the IPin and IQualityControl plumbing shared by input and output
// pins: the connection protocol (Connect, ReceiveConnection, Disconnect) with
// its media type agreement, pin information, type enumeration and segments.
// Subclasses decide through the hooks below.
//
// Ownership: a pin belongs to its filter and shares the filter's reference
// count (AddRef and Release go to the filter) unless a subclass overrides the
// non-delegating pair to count for itself. It holds one reference on its
// connected peer, none on its filter or quality sink. It owns a copy of its
// name.
//
// Locks: the pin lock is the filter's state lock. Connection calls, Disconnect,
// ConnectionMediaType, NewSegment and SetSink hold it; the hooks called from
// them run under it. The name lock (a leaf) guards m_pName for QueryPinInfo
// and QueryId, which callers make from any thread while a subclass renames
// the pin.
#pragma once

#include <atomic>

#include "baseclasses/critsec.h"
#include "baseclasses/mediatype.h"
#include "baseclasses/unknown.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // pName is copied (E_OUTOFMEMORY through phr when that fails). pLock is the
  // filter's state lock.
  CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
           const wchar_t* pName, PIN_DIRECTION dir);
  ~CBasePin() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IPin, IQualityControl; then CUnknown's.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // To the filter.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // IPin. Connect: VFW_E_ALREADY_CONNECTED, VFW_E_NOT_STOPPED (unless
  // reconnection when active is allowed), else the media type agreement; a
  // failure leaves the pin unconnected with BreakConnect called.
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  // VFW_E_NOT_STOPPED unless stopped; S_FALSE when not connected.
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  // S_OK when CheckMediaType answers S_OK; S_FALSE for any other answer.
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override;
  // Stores the segment and clears the run-time error.
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // IQualityControl. Notify is not taken here (E_NOTIMPL); SetSink stores the
  // sink without a reference.
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;
  STDMETHODIMP SetSink(IQualityControl* piqc) override;

  // Hooks, in slot order.
  // The version media type enumerators remember.
  virtual LONG GetMediaTypeVersion();
  // The filter is leaving / entering Stopped (only connected pins are told),
  // or starting to run. Inactive clears the run-time error. S_OK by default.
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME tStart);
  // Required: S_OK accepts the type; S_FALSE or a failure refuses it.
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  // The type is agreed: the default copies it into the connection type.
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  // Before any type is tried: the default refuses a peer of the same
  // direction (VFW_E_INVALID_DIRECTION).
  virtual HRESULT CheckConnect(IPin* pPin);
  // Undo whatever CheckConnect and CompleteConnect set up; called after every
  // failed attempt and on Disconnect. S_OK by default.
  virtual HRESULT BreakConnect();
  // The peer has accepted; a failure undoes the connection. S_OK by default.
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  // The pin's own types by position: S_OK with a type, VFW_S_NO_MORE_ITEMS
  // past the end, a failure when there are none. E_UNEXPECTED by default.
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);

  BOOL IsConnected() const { return m_Connected != nullptr; }
  // The peer without a reference, or null.
  IPin* GetConnected() const { return m_Connected; }
  BOOL IsStopped() const;
  LPCWSTR Name() const { return m_pName; }
  const CMediaType& CurrentMediaType() const { return m_mt; }

 protected:
  // The agreement: a fully specified type is tried alone; else the peer's
  // types, then ours (the other way round with try-my-types-first), each one
  // matching the partial type tried in turn. No success: the most telling
  // failure, else VFW_E_NO_ACCEPTABLE_TYPES.
  HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
  HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
  // One type: CheckConnect, CheckMediaType, the peer's ReceiveConnection,
  // SetMediaType, CompleteConnect. A failure undoes it all.
  HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
  // Disconnect without the state check: S_FALSE when not connected.
  HRESULT DisconnectInternal();

  WCHAR* m_pName = nullptr;  // replaced only under m_csName
  CCritSec m_csName;
  IPin* m_Connected = nullptr;
  PIN_DIRECTION m_dir;
  CCritSec* const m_pLock;
  // Set by streaming code on another thread than the one that clears it.
  std::atomic<BOOL> m_bRunTimeError{FALSE};
  BOOL m_bCanReconnectWhenActive = FALSE;
  BOOL m_bTryMyTypesFirst = FALSE;
  CBaseFilter* const m_pFilter;
  IQualityControl* m_pQSink = nullptr;
  std::atomic<LONG> m_TypeVersion{1};
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = 0;
  double m_dRate = 1.0;
};

}  // namespace flvdmx

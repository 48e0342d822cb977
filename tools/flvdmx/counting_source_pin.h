// CCountingSourcePin (Windows): stands in for the platform's file source
// output pin when the session connects it to the filter, so that the filter's
// reads go through a CCountingReader in front of the source's own
// IAsyncReader and `packets --stats` counts them as on Linux. Everything but
// the connection and IID_IAsyncReader is passed to the source's pin; the
// connection is made here (the filter's input pin receives this pin), and the
// source's own pin stays unconnected, which its reader does not mind: the
// filter only calls SyncRead, Length and the flush pair.
//
// Ownership and lifetime: made with one reference for the caller; holds one
// reference on the source's pin, on the counting reader and, while
// connected, on the filter's input pin. The graph disconnects it when the
// filter is removed.
#pragma once

#include <atomic>

#include "baseclasses/mediatype.h"
#include "counting_reader.h"
#include "platform/dshow.h"

namespace flvdmx::cli {

class CCountingSourcePin final : public IPin {
 public:
  // Takes its own references; pReader counts the reads of pSourcePin's reader.
  CCountingSourcePin(IPin* pSourcePin, CCountingReader* pReader);
  CCountingSourcePin(const CCountingSourcePin&) = delete;
  CCountingSourcePin& operator=(const CCountingSourcePin&) = delete;

  // IID_IAsyncReader: the counting reader; IUnknown, IPin: this pin; anything
  // else: the source's pin.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // Offers pmt when it is complete, else the source pin's types in turn.
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** ppPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* pId) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

 private:
  ~CCountingSourcePin();
  HRESULT TryConnect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt);

  std::atomic<ULONG> m_cRef{1};
  IPin* const m_pSourcePin;
  CCountingReader* const m_pReader;
  IPin* m_pPeer = nullptr;
  CMediaType m_mt;
};

}  // namespace flvdmx::cli

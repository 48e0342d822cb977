// Test doubles for the base layer: a filter whose pins the test adds, pins
// driven by a script, a graph that keeps events, reference-count checks that
// report the caller's line, and a fixture with one pin of each direction.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "baseclasses/filter.h"
#include "baseclasses/input_pin.h"
#include "baseclasses/output_pin.h"
#include "platform/dshow.h"

namespace flvdmx {

void ExpectRefCount(IUnknown* pUnk, ULONG expected, const char* file = __builtin_FILE(),
                    int line = __builtin_LINE());
void ExpectObjectsActive(LONG expected, const char* file = __builtin_FILE(),
                         int line = __builtin_LINE());

// A media type with only its identities set.
CMediaType MakeMediaType(const GUID& majortype, const GUID& subtype,
                         const GUID& formattype = GUID_NULL);

// What a scripted pin offers and accepts, what its hooks return and how often
// they ran. Written by the test before the calls it scripts.
struct PinScript {
  std::vector<CMediaType> offered;     // GetMediaType by position
  std::vector<GUID> acceptedSubtypes;  // empty: every type is accepted
  HRESULT hrRefuse = S_FALSE;          // CheckMediaType's answer for others
  HRESULT hrCompleteConnect = S_OK;    // after the base completion
  HRESULT hrActive = S_OK;             // instead of the base, when a failure
  HRESULT hrInactive = S_OK;
  std::atomic<int> cBreakConnect{0}, cActive{0}, cInactive{0};
};

// The hooks both pin directions share, over either base pin.
template <class BasePin>
class CScriptedPin : public BasePin {
 public:
  CScriptedPin(CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, const wchar_t* pName)
      : BasePin(L"CScriptedPin", pFilter, pLock, phr, pName) {}

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    if (m_Script.acceptedSubtypes.empty()) return S_OK;
    for (const GUID& subtype : m_Script.acceptedSubtypes)
      if (*pmt->Subtype() == subtype) return S_OK;
    return m_Script.hrRefuse;
  }
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
    if (iPosition < 0) return E_INVALIDARG;
    if (static_cast<size_t>(iPosition) >= m_Script.offered.size()) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(m_Script.offered[static_cast<size_t>(iPosition)]);
  }
  HRESULT CompleteConnect(IPin* pReceivePin) override {
    const HRESULT hr = BasePin::CompleteConnect(pReceivePin);
    return FAILED(hr) ? hr : m_Script.hrCompleteConnect;
  }
  HRESULT BreakConnect() override {
    ++m_Script.cBreakConnect;
    return BasePin::BreakConnect();
  }
  HRESULT Active() override {
    ++m_Script.cActive;
    return FAILED(m_Script.hrActive) ? m_Script.hrActive : BasePin::Active();
  }
  HRESULT Inactive() override {
    ++m_Script.cInactive;
    const HRESULT hr = BasePin::Inactive();
    return FAILED(m_Script.hrInactive) ? m_Script.hrInactive : hr;
  }

  PinScript m_Script;
};

// An output pin whose DecideBufferSize asks for m_Request.
class CTestOutputPin : public CScriptedPin<CBaseOutputPin> {
 public:
  using CScriptedPin::CScriptedPin;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

  ALLOCATOR_PROPERTIES m_Request{2, 4096, 1, 0};
};

// An input pin that can refuse the allocator it is offered.
class CTestInputPin : public CScriptedPin<CBaseInputPin> {
 public:
  using CScriptedPin::CScriptedPin;
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override {
    return FAILED(m_hrNotifyAllocator) ? m_hrNotifyAllocator
                                       : CScriptedPin::NotifyAllocator(pAllocator, bReadOnly);
  }

  HRESULT m_hrNotifyAllocator = S_OK;
};

// A filter with the pins the test adds, in order.
class CTestFilter : public CBaseFilter {
 public:
  static const CLSID kClsid;

  CTestFilter();
  int GetPinCount() override { return static_cast<int>(m_Pins.size()); }
  CBasePin* GetPin(int n) override;

  // The filter owns the pins; each addition changes the pin version.
  CTestOutputPin* AddOutputPin(const wchar_t* pName) { return Add<CTestOutputPin>(pName); }
  CTestInputPin* AddInputPin(const wchar_t* pName) { return Add<CTestInputPin>(pName); }
  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }

  CCritSec m_Lock;

  // Any pin made as the base pins are: (filter, lock, result, name).
  template <class Pin>
  Pin* Add(const wchar_t* pName) {
    HRESULT hr = S_OK;
    auto* pPin = new Pin(this, &m_Lock, &hr, pName);
    m_Pins.emplace_back(pPin);
    IncrementPinVersion();
    return pPin;
  }

 private:
  std::vector<std::unique_ptr<CBasePin>> m_Pins;
};

// An IFilterGraph that is also the graph's IMediaEventSink and keeps every
// event. Only what the base layer asks of a graph does anything. A stack
// object: the count only tells tests what is still held.
class CTestGraph : public IFilterGraph, public IMediaEventSink {
 public:
  struct Event {
    LONG code;
    LONG_PTR param1, param2;
  };
  virtual ~CTestGraph() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--m_cRef); }
  STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  IFilterGraph* AsGraph() { return static_cast<IFilterGraph*>(this); }
  std::vector<Event> Events();

  std::atomic<LONG> m_cRef{0};

 private:
  std::mutex m_Mutex;
  std::vector<Event> m_Events;
};

// An upstream filter with one output pin and a downstream filter with one
// input pin, both released and checked back to their counts at the end.
class PinPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_pUp = new CTestFilter();
    m_pUp->AsBaseFilter()->AddRef();
    m_pDown = new CTestFilter();
    m_pDown->AsBaseFilter()->AddRef();
    m_pOut = m_pUp->AddOutputPin(L"Out");
    m_pIn = m_pDown->AddInputPin(L"In");
  }
  void TearDown() override {
    m_pUp->Stop();
    m_pDown->Stop();
    m_pOut->Disconnect();
    m_pIn->Disconnect();
    ExpectRefCount(m_pUp->AsBaseFilter(), 1);
    ExpectRefCount(m_pDown->AsBaseFilter(), 1);
    m_pUp->AsBaseFilter()->Release();
    m_pDown->AsBaseFilter()->Release();
    ExpectObjectsActive(m_cObjectsBefore);
  }

  const LONG m_cObjectsBefore = CUnknown::ObjectsActive();
  CTestFilter* m_pUp = nullptr;
  CTestFilter* m_pDown = nullptr;
  CTestOutputPin* m_pOut = nullptr;
  CTestInputPin* m_pIn = nullptr;
};

}  // namespace flvdmx

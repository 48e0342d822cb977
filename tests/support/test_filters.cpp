#include "support/test_filters.h"

#include <gtest/gtest.h>

namespace flvdmx {

static ULONG RefCountOf(IUnknown* pUnk) {
  pUnk->AddRef();
  return pUnk->Release();
}

void ExpectRefCount(IUnknown* pUnk, ULONG expected, const char* file, int line) {
  const ULONG actual = RefCountOf(pUnk);
  if (actual != expected)
    ADD_FAILURE_AT(file, line) << "reference count is " << actual << ", expected " << expected;
}

void ExpectObjectsActive(LONG expected, const char* file, int line) {
  const LONG actual = CUnknown::ObjectsActive();
  if (actual != expected)
    ADD_FAILURE_AT(file, line) << "live objects: " << actual << ", expected " << expected;
}

CMediaType MakeMediaType(const GUID& majortype, const GUID& subtype, const GUID& formattype) {
  CMediaType mt;
  mt.SetType(&majortype);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&formattype);
  return mt;
}

HRESULT CTestOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES*) {
  ALLOCATOR_PROPERTIES request = m_Request;
  ALLOCATOR_PROPERTIES actual{};
  return pAlloc->SetProperties(&request, &actual);
}

const CLSID CTestFilter::kClsid = {
    0x6B1E7A52, 0x0C1D, 0x4E5F, {0x9A, 0x11, 0x3C, 0x52, 0x7E, 0x01, 0xB2, 0x44}};

CTestFilter::CTestFilter() : CBaseFilter(L"CTestFilter", nullptr, &m_Lock, kClsid) {}

CBasePin* CTestFilter::GetPin(int n) {
  if (n < 0 || static_cast<size_t>(n) >= m_Pins.size()) return nullptr;
  return m_Pins[static_cast<size_t>(n)].get();
}

STDMETHODIMP CTestGraph::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterGraph) {
    *ppv = static_cast<IFilterGraph*>(this);
  } else if (riid == IID_IMediaEventSink) {
    *ppv = static_cast<IMediaEventSink*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP CTestGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Events.push_back(Event{EventCode, EventParam1, EventParam2});
  return S_OK;
}

std::vector<CTestGraph::Event> CTestGraph::Events() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Events;
}

}  // namespace flvdmx

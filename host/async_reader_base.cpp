#include "host/async_reader_base.h"

namespace flvdmx {

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IAsyncReader)) {
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CAsyncReaderBase::AddRef() { return ++m_cRef; }

ULONG STDMETHODCALLTYPE CAsyncReaderBase::Release() {
  const ULONG left = --m_cRef;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*,
                                                             IMemAllocator** ppActual) {
  if (ppActual) *ppActual = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::Request(IMediaSample*, DWORD_PTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::SyncReadAligned(IMediaSample*) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::WaitForNext(DWORD, IMediaSample** ppSample,
                                                        DWORD_PTR* pdwUser) {
  if (!ppSample) return E_POINTER;
  *ppSample = nullptr;
  if (pdwUser) *pdwUser = 0;
  return VFW_E_TIMEOUT;
}

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::SyncRead(LONGLONG llPosition, LONG lLength,
                                                     BYTE* pBuffer) {
  if (!pBuffer) return E_POINTER;
  if (llPosition < 0 || lLength < 0) return E_INVALIDARG;
  const uint64_t cFlushes = m_cFlushes.load(std::memory_order_acquire);
  if (IsFlushing()) return VFW_E_WRONG_STATE;
  uint32_t cbRead = 0;
  HRESULT hr = ReadAt(llPosition, static_cast<uint32_t>(lLength), pBuffer, &cbRead);
  // A flush that began while the read was under way fails it too, even one
  // that has ended since: it may have cut the read short.
  if (IsFlushing() || m_cFlushes.load(std::memory_order_acquire) != cFlushes) {
    return VFW_E_WRONG_STATE;
  }
  if (FAILED(hr)) return hr;
  return cbRead == static_cast<uint32_t>(lLength) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::BeginFlush() {
  m_bFlushing.store(true, std::memory_order_release);
  // After the flag: a read that saw neither still sees the count move.
  m_cFlushes.fetch_add(1, std::memory_order_acq_rel);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE CAsyncReaderBase::EndFlush() {
  m_bFlushing.store(false, std::memory_order_release);
  return S_OK;
}

}  // namespace flvdmx

#include "base/buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace flvdmx {

CBaseBuffer::~CBaseBuffer() {
  if (m_pData) m_pfnFree(m_pData);
}

HRESULT CBaseBuffer::Free() {
  if (m_pData) {
    m_pfnFree(m_pData);
    m_pData = nullptr;
  }
  m_iSize = 0;
  m_iCapacity = 0;
  return S_OK;
}

BOOL CBaseBuffer::Reserve(int newCapacity) {
  if (m_iCapacity >= newCapacity) return TRUE;
  void* block = m_pfnResize(m_pData, static_cast<size_t>(newCapacity));
  if (!block) return FALSE;
  m_pData = static_cast<uint8_t*>(block);
  m_iCapacity = newCapacity;
  return TRUE;
}

HRESULT CBaseBuffer::Assign(const void* src, int n) {
  if (n < 0) return E_INVALIDARG;
  if (!Reserve(n)) return E_OUTOFMEMORY;
  if (n) {
    if (src)
      std::memcpy(m_pData, src, static_cast<size_t>(n));
    else
      std::memset(m_pData, 0, static_cast<size_t>(n));
  }
  m_iSize = n;
  return S_OK;
}

HRESULT CBaseBuffer::Append(const void* src, int n) {
  if (n < 0 || n > INT32_MAX - m_iSize) return E_INVALIDARG;
  if (n == 0) return S_OK;
  const int needed = m_iSize + n;
  if (needed > m_iCapacity) {
    void* block = m_pfnResize(m_pData, static_cast<size_t>(needed));
    if (!block) return E_OUTOFMEMORY;
    m_pData = static_cast<uint8_t*>(block);
    m_iCapacity = needed;
  }
  std::memcpy(m_pData + m_iSize, src, static_cast<size_t>(n));
  m_iSize = needed;
  return S_OK;
}

HRESULT CBaseBuffer::AppendAndGet(const uint8_t** ppData, int* pcb) {
  if (SUCCEEDED(Append(*ppData, *pcb))) {
    *ppData = m_pData;
    *pcb = m_iSize;
  }
  return S_OK;
}

HRESULT CBaseBuffer::ReserveTail(int n, uint8_t** ppWrite) {
  if (n < 0 || n > INT32_MAX - m_iSize) return E_INVALIDARG;
  if (!Reserve(m_iSize + n)) return E_OUTOFMEMORY;
  if (ppWrite) *ppWrite = m_pData + m_iSize;
  return S_OK;
}

HRESULT CBaseBuffer::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const HRESULT hr = FormatV(format, args);
  va_end(args);
  return hr;
}

HRESULT CBaseBuffer::FormatV(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0 || length == INT32_MAX) return E_INVALIDARG;
  if (!Reserve(length + 1)) return E_OUTOFMEMORY;
  std::vsnprintf(reinterpret_cast<char*>(m_pData), static_cast<size_t>(m_iCapacity), format, args);
  m_iSize = length + 1;
  return S_OK;
}

HRESULT CBaseBuffer::Swap(CBaseBuffer* other) {
  if (!other) return E_POINTER;
  std::swap(m_pData, other->m_pData);
  std::swap(m_iSize, other->m_iSize);
  std::swap(m_iCapacity, other->m_iCapacity);
  return S_OK;
}

namespace {
void CrtFree(void* p) { std::free(p); }
void* CrtResize(void* p, size_t n) { return std::realloc(p, n == 0 ? 1 : n); }

#ifdef _WIN32
void HeapFreeBlock(void* p) { HeapFree(GetProcessHeap(), 0, p); }
void* HeapResize(void* p, size_t n) {
  if (n == 0) n = 1;
  return p ? HeapReAlloc(GetProcessHeap(), 0, p, n) : HeapAlloc(GetProcessHeap(), 0, n);
}
#else
// No process heap of its own here: the C runtime heap stands in for it.
void HeapFreeBlock(void* p) { std::free(p); }
void* HeapResize(void* p, size_t n) { return std::realloc(p, n == 0 ? 1 : n); }
#endif
}  // namespace

CBuffer::CBuffer() : CBaseBuffer(CrtFree, CrtResize) {}

CBuffer::~CBuffer() { delete m_pSecond; }

HRESULT CBuffer::Free() {
  CBaseBuffer::Free();
  delete m_pSecond;
  m_pSecond = nullptr;
  return S_OK;
}

CHeapBuffer::CHeapBuffer() : CBaseBuffer(HeapFreeBlock, HeapResize) {}

void* CHeapBuffer::operator new(size_t cb) {
  void* p = HeapResize(nullptr, cb);
  if (!p) throw std::bad_alloc();
  return p;
}

void CHeapBuffer::operator delete(void* p) { HeapFreeBlock(p); }

}  // namespace flvdmx

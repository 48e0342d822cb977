// Growable byte buffers that grow to exactly the size asked for (no doubling,
// no rounding): a buffer reused for same-size reads allocates once.
// CBaseBuffer reaches memory only through the two functions it is given;
// CBuffer uses the C runtime heap, CHeapBuffer the process heap.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/com.h"

namespace flvdmx {

class CBaseBuffer {
 public:
  using FreeFn = void (*)(void* block);
  using ResizeFn = void* (*)(void* block, size_t newSize);

  CBaseBuffer(FreeFn pfnFree, ResizeFn pfnResize) : m_pfnFree(pfnFree), m_pfnResize(pfnResize) {}
  CBaseBuffer(const CBaseBuffer&) = delete;
  CBaseBuffer& operator=(const CBaseBuffer&) = delete;
  virtual ~CBaseBuffer();

  // Frees the block; size and capacity become 0. S_OK.
  virtual HRESULT Free();
  // Grows the block to exactly newCapacity bytes when it is smaller; FALSE
  // (buffer unchanged) when memory runs out.
  virtual BOOL Reserve(int newCapacity);

  void Clear() { m_iSize = 0; }
  HRESULT Assign(const void* src, int n);
  HRESULT Append(const void* src, int n);
  HRESULT AppendAndGet(const uint8_t** ppData, int* pcb);
  HRESULT ReserveTail(int n, uint8_t** ppWrite);
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  HRESULT
  Format(const char* format, ...);
  HRESULT FormatV(const char* format, va_list args);
  HRESULT Swap(CBaseBuffer* other);

  uint8_t* Data() { return m_pData; }
  const uint8_t* Data() const { return m_pData; }
  int Size() const { return m_iSize; }
  int Capacity() const { return m_iCapacity; }
  // For callers that wrote into the tail themselves (after ReserveTail).
  void SetSize(int size) { m_iSize = size; }

 private:
  uint8_t* m_pData = nullptr;
  int m_iSize = 0;
  int m_iCapacity = 0;
  FreeFn m_pfnFree;
  ResizeFn m_pfnResize;
};

// The C runtime heap. Owns an optional second buffer, deleted with it.
class CBuffer : public CBaseBuffer {
 public:
  CBuffer();
  ~CBuffer() override;
  HRESULT Free() override;

  CBuffer* m_pSecond = nullptr;
};

// The platform's process heap; objects of this class live there too.
class CHeapBuffer : public CBaseBuffer {
 public:
  CHeapBuffer();
  static void* operator new(size_t cb);
  static void operator delete(void* p);
};

}  // namespace flvdmx

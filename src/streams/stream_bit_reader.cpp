#include "streams/stream_bit_reader.h"

#include <algorithm>

namespace flvdmx {

HRESULT StreamBitReader::Init(IAsyncReader* pReader, int64_t llPosition, uint32_t cbLength) {
  if (pReader == nullptr) return E_POINTER;
  m_pReader = pReader;
  m_llPosition = llPosition;
  m_dwCache = 0;
  m_dwCachedBits = 0;
  m_dwBytesLeft = cbLength;
  return S_OK;
}

HRESULT StreamBitReader::FillCache() {
  if (m_pReader == nullptr) return E_POINTER;
  if (m_dwBytesLeft == 0) return kStreamDataShort;
  const uint32_t cb = std::min<uint32_t>(4, m_dwBytesLeft);
  uint8_t bytes[4] = {0, 0, 0, 0};
  const HRESULT hr = m_pReader->SyncRead(m_llPosition, static_cast<LONG>(cb), bytes);
  if (hr != S_OK) return hr;
  m_llPosition += cb;
  m_dwBytesLeft -= cb;
  m_dwCache = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  m_dwCachedBits = cb * 8;
  return S_OK;
}

HRESULT StreamBitReader::ReadBits(uint32_t count, uint32_t* pValue) {
  if (count > 32) return E_INVALIDARG;
  uint64_t value = 0;
  while (count > 0) {
    if (m_dwCachedBits == 0) {
      const HRESULT hr = FillCache();
      if (hr != S_OK) return hr;
    }
    const uint32_t take = std::min(count, m_dwCachedBits);
    value = (value << take) | (m_dwCache >> (32 - take));
    // Shifting a 32-bit word by 32 is undefined; a full take empties it.
    m_dwCache = take == 32 ? 0 : m_dwCache << take;
    m_dwCachedBits -= take;
    count -= take;
  }
  if (pValue != nullptr) *pValue = static_cast<uint32_t>(value);
  return S_OK;
}

HRESULT StreamBitReader::ReadBytes(uint32_t count, uint8_t* pDest) {
  if (m_pReader == nullptr) return E_POINTER;
  const uint32_t cachedBytes = m_dwCachedBits / 8;
  if (count > cachedBytes && count - cachedBytes > m_dwBytesLeft) return kStreamDataShort;
  if (count != 0 && pDest == nullptr) return E_POINTER;
  uint32_t done = 0;
  while (done < count && m_dwCachedBits >= 8) {
    pDest[done++] = static_cast<uint8_t>(m_dwCache >> 24);
    m_dwCache <<= 8;
    m_dwCachedBits -= 8;
  }
  const uint32_t rest = count - done;
  if (rest == 0) return S_OK;
  if (rest > 0x7FFFFFFFu) return E_INVALIDARG;  // SyncRead takes a LONG length
  const HRESULT hr = m_pReader->SyncRead(m_llPosition, static_cast<LONG>(rest), pDest + done);
  m_llPosition += rest;
  m_dwBytesLeft -= rest;
  return hr;
}

}  // namespace flvdmx

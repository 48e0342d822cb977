// StreamBitReader: reads bits, most significant first, from a window of the
// upstream file through IAsyncReader::SyncRead, at most four bytes per read
// for bit fields and one read for a run of bytes. It never reads outside its
// window: asking for more than the window holds gives status 3.
//
// A plain value on the stack of one reading operation; it does not own or
// reference-count the reader, which must outlive it.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/dshow.h"

namespace flvdmx {

// Status of the stream-description readers: the data ran out, or the header
// bytes are not a valid header (the header scan tries a later tag).
inline constexpr HRESULT kStreamDataShort = 3;

class StreamBitReader {
 public:
  // The window is cbLength bytes from llPosition; the cache starts empty.
  // E_POINTER for a null reader.
  HRESULT Init(IAsyncReader* pReader, int64_t llPosition, uint32_t cbLength);

  // The next `count` bits (0 to 32) as an unsigned number. S_OK;
  // kStreamDataShort when the window runs out; a SyncRead status other than
  // S_OK, unchanged. A failed read may have consumed some bits.
  HRESULT ReadBits(uint32_t count, uint32_t* pValue);

  // `count` bytes into pDest: first whole bytes left in the cache, then the
  // rest with one SyncRead. kStreamDataShort, consuming nothing, when the
  // window holds fewer. Callers use it on byte boundaries only.
  HRESULT ReadBytes(uint32_t count, uint8_t* pDest);

  // Bytes of the window not yet consumed (cached whole bytes included).
  uint32_t BytesRemaining() const { return m_dwCachedBits / 8 + m_dwBytesLeft; }

 private:
  HRESULT FillCache();

  IAsyncReader* m_pReader = nullptr;
  int64_t m_llPosition = 0;    // next byte to fetch
  uint32_t m_dwCache = 0;      // unread bits at the top end
  uint32_t m_dwCachedBits = 0;
  uint32_t m_dwBytesLeft = 0;  // window bytes not yet fetched
};

}  // namespace flvdmx

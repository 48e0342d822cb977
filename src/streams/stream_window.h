// StreamWindow: the stream-description readers' one door to the file. It
// fetches bytes of a window of the upstream file (a tag's payload) through
// IAsyncReader::SyncRead and keeps them, so that the headers can be parsed
// as bytes with BitReader. It never reads outside its window: asking for
// more than the window holds gives kStreamDataShort.
//
// Bit-level headers are fetched a piece (four bytes) at a time, only as far
// as the parse needs: a header whose first fields are invalid is refused
// without reading further, and a file cut short is noticed where the parse
// gets to it.
//
// A plain value on the stack of one reading operation; it does not own or
// reference-count the reader, which must outlive it.
#pragma once

#include <cstdint>

#include "base/bit_reader.h"
#include "base/buffer.h"
#include "platform/com.h"
#include "platform/dshow.h"

namespace flvdmx {

// Status of the stream-description readers: the data ran out, or the header
// bytes are not a valid header (the header scan tries a later tag).
inline constexpr HRESULT kStreamDataShort = 3;

class StreamWindow {
 public:
  // The window is cbLength bytes from llPosition. E_POINTER for a null reader.
  HRESULT Init(IAsyncReader* pReader, int64_t llPosition, uint32_t cbLength);

  // Runs parse (HRESULT(BitReader&)) over the bytes fetched so far, from the
  // window's start. While it runs out of them (the reader's Overrun()), the
  // next piece is fetched and the parse runs again from the start; so parse
  // must only depend on the bytes. The parse's status once it did not run
  // out; kStreamDataShort when the window is exhausted; a SyncRead status
  // other than S_OK, unchanged.
  template <typename Parse>
  HRESULT ParseBits(Parse&& parse) {
    for (;;) {
      BitReader reader(m_Bytes.Data(), static_cast<size_t>(m_Bytes.Size()));
      const HRESULT hr = parse(reader);
      if (!reader.Overrun()) return hr;
      const HRESULT hrFetch = FetchPiece();
      if (hrFetch != S_OK) return hrFetch;
    }
  }

  // Makes the first cb bytes of the window available, the missing ones with
  // one SyncRead. kStreamDataShort, fetching nothing, when the window holds
  // fewer; E_OUTOFMEMORY; a SyncRead status other than S_OK (the bytes it
  // did deliver are in Data(), the rest read as zero).
  HRESULT Fetch(uint32_t cb);

  // The bytes fetched from the window's start, and after a failed SyncRead
  // also those it was reading into: BytesReadInto() of them.
  const uint8_t* Data() const { return m_Bytes.Data(); }
  uint32_t BytesReadInto() const { return m_cbReadInto; }

 private:
  HRESULT FetchPiece();
  HRESULT ReadMore(uint32_t cb);

  IAsyncReader* m_pReader = nullptr;
  int64_t m_llPosition = 0;
  uint32_t m_cbLength = 0;
  CBuffer m_Bytes;  // the window's first bytes
  uint32_t m_cbReadInto = 0;
};

}  // namespace flvdmx

// SampleEntry: the description of one elementary stream of an FLV file,
// built by the header scan from the stream's first tag(s) and asked by the
// output pin for its media type and buffer size. AudioSampleEntry and
// VideoSampleEntry are the two kinds.
//
// Entries are members of the filter and live as long as it; they are never
// deleted through a base pointer, hence the protected, non-virtual
// destructor. Written only while the input connects (the scan), read-only
// afterwards, so they take no locks.
#pragma once

#include <cstdint>

#include "base/buffer.h"
#include "flvdefs/flv_tag.h"
#include "platform/com.h"
#include "platform/dshow.h"
#include "streams/stream_window.h"

namespace flvdmx {

class CMediaType;

class SampleEntry {
 public:
  SampleEntry(const SampleEntry&) = delete;
  SampleEntry& operator=(const SampleEntry&) = delete;

  // The stream's media type at `iPosition`; only position 0 exists
  // (VFW_S_NO_MORE_ITEMS for others). Fills the whole type.
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pmt);

  // Reads the format from a tag whose payload starts at llDataPosition; only
  // pTag->DataSize is used. dwDuration: ms from this tag to the next tag of
  // the stream (0 when unknown). Returns S_OK, S_FALSE (this tag does not
  // carry what is needed), kStreamDataShort (try a later tag) or a failure.
  // Fields written before a failure stay written.
  virtual HRESULT ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition,
                                    const FlvTag* pTag, uint32_t dwDuration);

  // Buffer size the output pin's allocator must provide.
  virtual uint32_t GetMaxSampleSize() = 0;

  // FLV tag type of the stream's tags: 8 audio, 9 video.
  int32_t m_iStreamKind;
  // The decoder configuration box of AVC and HEVC video; for the other
  // enhanced codecs the SequenceStart body as carried; empty otherwise.
  CBuffer m_ConfigBytes;
  // An enhanced track: its FourCC (0 for a legacy stream) and the track id
  // whose payload this stream takes from each tag (0 without multitrack).
  uint32_t m_dwFourCc = 0;
  uint8_t m_uTrackId = 0;
  bool IsEnhanced() const { return m_dwFourCc != 0; }

 protected:
  explicit SampleEntry(int32_t iStreamKind = -1) : m_iStreamKind(iStreamKind) {}
  ~SampleEntry() = default;

  // Clears the type and sets what every stream type has: all fields zero,
  // fixed-size samples of size 1.
  static void ResetMediaType(CMediaType* pmt);
};

}  // namespace flvdmx

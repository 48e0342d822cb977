// The toy format: the smallest container that exercises the whole
// demultiplexer framework, and CToyDmx, its demultiplexer.
//
// A toy file is a 16-byte header followed by fixed-size chunks, each carrying
// one sample of stream 0 or stream 1, in time order:
//   header: "TOYF", chunk size (u32 BE), chunk count (u32 BE), 4 zero bytes
//   chunk:  [0] stream, [1] flags (0x01 key), [2..3] zero,
//           [4..7] index within its stream (u32 BE),
//           [8..15] time (i64 BE, 100 ns units), [16..19] duration (u32 BE),
//           then payload bytes PayloadByte(stream, index, offset).
// Chunk i of a stream starts at i * its chunk duration; every key interval-th
// chunk is a key chunk. Chunks with equal times go stream 0 first.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "baseclasses/mediatype.h"
#include "framework/base_dmx.h"
#include "framework/dmx_output_pin.h"
#include "platform/dshow.h"
#include "seeking/seeking.h"
#include "streams/sample_entry.h"

namespace flvdmx {
namespace toy {

inline constexpr size_t kFileHeaderSize = 16;
inline constexpr size_t kChunkHeaderSize = 20;
inline constexpr int kStreams = 2;
inline constexpr uint32_t kMaxChunkSize = 1u << 20;

struct StreamLayout {
  uint32_t cChunks = 0;
  REFERENCE_TIME rtChunkDuration = 400000;  // 40 ms
  uint32_t nKeyInterval = 1;
};

struct Layout {
  std::array<StreamLayout, kStreams> streams;
  uint32_t cbChunk = 64;  // at least kChunkHeaderSize
};

struct Chunk {
  int iStream = 0;
  bool bKey = false;
  uint32_t nIndex = 0;
  REFERENCE_TIME rtTime = 0;
  uint32_t dwDuration = 0;
};

// Payload byte `offset` (from the chunk's start) of chunk `index` of a stream.
uint8_t PayloadByte(int iStream, uint32_t nIndex, size_t offset);
// The chunks of a layout in file order.
std::vector<Chunk> ChunkOrder(const Layout& layout);
std::vector<uint8_t> MakeFile(const Layout& layout);
// Reads a chunk header; false when cb is too short or the stream is not 0/1.
bool ParseChunk(const uint8_t* p, size_t cb, Chunk* pChunk);

}  // namespace toy

// One stream of a toy file, as the output pin sees it.
struct ToyEntry : SampleEntry {
  uint32_t GetMaxSampleSize() override { return m_cbChunk; }

  int m_iStream = 0;
  uint32_t m_cbChunk = 0;
};

// {6F1C2A12-5B7E-4C1D-9E3A-2B8F4D6A7C01}
inline constexpr CLSID CLSID_ToyDmx = {
    0x6F1C2A12, 0x5B7E, 0x4C1D, {0x9E, 0x3A, 0x2B, 0x8F, 0x4D, 0x6A, 0x7C, 0x01}};

// CToyDmx: the toy format's demultiplexer. The input takes MEDIATYPE_Stream
// of any subtype; connecting it reads and checks every chunk header once and
// makes an output pin per stream present ("Stream 0" offering
// MEDIATYPE_Video/"TOYV", "Stream 1" offering MEDIATYPE_Audio/"TOYA"). Each
// pin's loop starts at the key chunk of its stream at or before the segment
// start, reads each of its chunks straight into a sample (times relative to
// the segment start, divided by the rate), stops before the first chunk at or
// after the segment stop, and follows the framework's rules for commands,
// restarts and end-of-stream. Seeking follows the FLV filter's pattern:
// RecordNewSegment, then restart the pins with or without a flush.
//
// A read that fails while the filter is stopping (a pin's flush bracket on
// the shared reader fails the other pin's read) is not reported as a stream
// error; other read failures are, after end-of-stream.
//
// Ownership: made with one reference (Create); owns its stream entries and
// the chunk table read at connection.
class CToyDmx : public CBaseDmx, public CSeeking {
 public:
  static HRESULT Create(CToyDmx** ppDmx);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IID_IFilterSeeking gives the CSeeking part.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;

  HRESULT ReportStreamError(HRESULT hr) override;
  HRESULT PinCheckMediaType(int iPin, const CMediaType* pmt, CBasePin* pPin) override;
  HRESULT PinGetMediaType(int iPin, int iPosition, CMediaType* pmt) override;
  HRESULT PinDecideBufferSize(int iPin, IMemAllocator* pAlloc,
                              ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT PinCompleteConnect(int iPin, IPin* pPeer) override;
  HRESULT PinBreakConnect(int iPin) override;
  HRESULT PinProcess(int iPin, CBaseDmxOutputPin* pPin) override;

  STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
  HRESULT UpdateCurrentPosition(BOOL bFlush) override;
  // Frames are stream 0's chunks; E_NOTIMPL without stream 0.
  HRESULT ConvertFrameToTime(LONGLONG llFrame, LONGLONG* pllTime) override;
  HRESULT ConvertTimeToFrame(LONGLONG llTime, LONGLONG* pllFrame) override;

  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }
  // The pin of a stream (no reference), null when the file has none.
  CBaseDmxOutputPin* StreamPin(int iStream);

  // Buffers each output pin asks its allocator for.
  std::atomic<LONG> m_cBuffers{4};
  // UpdateCurrentPosition calls that repositioned streaming (flush or not),
  // and stream errors reported to the graph (not swallowed).
  std::atomic<int> m_cRestarts{0};
  std::atomic<int> m_cStreamErrors{0};

 private:
  CToyDmx(HRESULT* phr);
  ~CToyDmx() override;

  // Reads and checks the header and every chunk header.
  HRESULT ScanFile(IAsyncReader* pReader);
  HRESULT MakeOutputPins();
  // File order index of the chunk a stream's loop starts from.
  size_t StartChunk(int iStream, REFERENCE_TIME rtStart) const;
  HRESULT DeliverStream(CBaseDmxOutputPin* pPin, int iStream, IAsyncReader* pReader);

  std::array<ToyEntry, toy::kStreams> m_Entries;
  std::array<bool, toy::kStreams> m_bHasStream{};
  uint32_t m_cbChunk = 0;
  std::vector<toy::Chunk> m_Chunks;
  REFERENCE_TIME m_rtDuration = 0;
  REFERENCE_TIME m_rtFrame = 0;
  std::atomic<bool> m_bStopping{false};
};

}  // namespace flvdmx

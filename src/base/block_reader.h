// CBlockReader: read-ahead in front of an upstream IAsyncReader. Small reads
// are served from cached blocks of the file, so that walking tag headers and
// small payloads costs one upstream read per block instead of several per
// tag. Everything else passes straight through:
//   - a read longer than a quarter of the largest block that no cached block
//     holds, into the caller's buffer (no extra copy), but for the head and
//     the tail cached blocks hold, if they do;
//   - a read that straddles a block boundary;
//   - a read that reaches past the available length the reader reports (a
//     file still being written grows: its tail block is read again once a
//     read needs more of it);
//   - every read while the shared flush state says a flush is open, and the
//     first read after a flush was opened drops the blocks: a cached block
//     never hides a flush;
//   - a read whose block could not be filled (failure or short read): the
//     read itself is passed on, so its result is exactly what it would have
//     been without this layer.
// A block is aligned on its own size, except that it never starts before the
// end of the last read passed through in it (a payload just read is not read
// again). Two blocks are kept (the tag walk reads the next header before the
// payload it delivers): a walk forward refills the one further back, a walk
// backward the one further on. The fill size
// adapts between cbMinFill and cbBlock: it halves after a block that served
// few reads for its size (a walk that only touches tag headers between large
// payloads) and doubles after one that served many.
//
// A walk that reads only some streams' tags passes over the payloads of the
// others (Skip). When a skip is long and its end lies outside the blocks, the
// next block starts exactly there and is only as large as the walk needed
// between the last such skips (a gap block): the bytes before it belong to
// the payload skipped, the bytes far after it most likely to the next one.
// The gap size doubles when the walk runs past a gap block's end (the next
// block is then a regular one: the tags are dense there) and halves when a
// skip leaves one mostly unread.
//
// The blocks' memory is the reader's own, or a CBlockMemory its caller keeps
// for the next reader on the same thread (a pin's delivery loop starts one
// at each run and each seek after the end): that reader then fills memory
// already there instead of fresh pages.
//
// Ownership and lifetime: `new` gives the caller's reference; holds one
// reference on the upstream reader until it goes. Not thread-safe: each
// thread that reads makes its own (two pins read in different places); the
// upstream reader is shared. The flush state (not owned, may be null) must
// outlive it, and so must the block memory when one is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/dshow.h"

namespace flvdmx {

// Flushes opened on a shared upstream reader, as its users open and close
// them: the block readers of every thread look at it before serving a block.
struct CReaderFlushState {
  std::atomic<LONG> lOpen{0};        // brackets open now
  std::atomic<uint32_t> dwBegun{0};  // brackets ever opened: a new one drops blocks

  void Begin() {
    dwBegun.fetch_add(1, std::memory_order_acq_rel);
    lOpen.fetch_add(1, std::memory_order_acq_rel);
  }
  void End() { lOpen.fetch_sub(1, std::memory_order_acq_rel); }
};

// Memory for the two blocks of one block reader at a time, kept by an owner
// that outlives several readers. Grows to the largest fill any of them made.
struct CBlockMemory {
  std::unique_ptr<uint8_t[]> pData[2];
  uint32_t cbCapacity[2] = {0, 0};
};

inline constexpr uint32_t kDefaultReadBlock = 256 * 1024;
inline constexpr uint32_t kDefaultMinFill = 8 * 1024;

class CBlockReader final : public IAsyncReader {
 public:
  // cbBlock and cbMinFill: powers of two, 16 <= cbMinFill <= cbBlock.
  // pMemory: null for memory of the reader's own.
  CBlockReader(IAsyncReader* pInner, uint32_t cbBlock, uint32_t cbMinFill,
               const CReaderFlushState* pFlush, CBlockMemory* pMemory = nullptr);
  CBlockReader(const CBlockReader&) = delete;
  CBlockReader& operator=(const CBlockReader&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // Passed on.
  STDMETHODIMP RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                IMemAllocator** ppActual) override;
  STDMETHODIMP Request(IMediaSample* pSample, DWORD_PTR dwUser) override;
  STDMETHODIMP WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* pSample) override;
  STDMETHODIMP Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;
  // The blocks are dropped and reads pass through until EndFlush; both calls
  // are passed on.
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // From a block when one holds the whole range, else as described above.
  STDMETHODIMP SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;

  // Forgets the cached blocks (a seek: the next read starts a new one).
  void Drop();
  // The first failure SyncRead gave its caller since this was made; S_OK
  // when none did. Lets a walk that tolerates unreadable parts of the file
  // still tell a damaged file from a reader that has gone away.
  HRESULT FirstFailure() const { return m_hrFirstFailure; }
  // FirstFailure gives S_OK again until the next failure.
  void ClearFailure() { m_hrFirstFailure = S_OK; }
  // The caller passes over [llFrom, llTo) and reads on at llTo.
  void Skip(int64_t llFrom, int64_t llTo);

 private:
  // One cached block; its bytes are in the block memory, at its index.
  struct Block {
    int64_t llStart = 0;
    int64_t llEnd = 0;      // == llStart: nothing cached
    int64_t llUsedEnd = 0;  // end of the furthest byte served from it
    int64_t cReads = 0;     // reads served from it since its fill
    bool bGap = false;      // filled at a skip's end, gap-sized
  };

  ~CBlockReader();
  bool FlushSeen();
  HRESULT PassThrough(LONGLONG llPosition, LONG lLength, BYTE* pBuffer);
  // A read too large for a block: its head from a block that holds it, the
  // rest passed through.
  HRESULT ReadLarge(LONGLONG llPosition, LONG lLength, BYTE* pBuffer);
  // The block that holds [llPosition, llEnd), or -1.
  int Find(int64_t llPosition, int64_t llEnd) const;
  // The block to refill for a read at llPosition.
  int Victim(int64_t llPosition) const;
  // Refills a block so that it holds [llPosition, llEnd): its index, or -1
  // when it cannot.
  int Fill(int64_t llPosition, int64_t llEnd);
  // The next fill's size, from how much the block it replaces was used.
  uint32_t NextFillSize(const Block& block) const;
  enum class FillKind {
    kAligned,  // a block of the adaptive size, aligned on it
    kGap,      // a gap block at a long skip's end
    kPastGap,  // the walk runs on past a gap block: as kAligned, never before it
  };
  // What a fill for a read at llPosition makes (kPastGap: *pllFloor, the gap
  // block's start); adapts the gap size to how much of the last gap block
  // the walk used.
  FillKind Classify(int64_t llPosition, int64_t* pllFloor);
  // Copies a range a block holds and records its use.
  void Serve(int iBlock, int64_t llPosition, LONG lLength, BYTE* pBuffer);
  // The bytes of block iBlock, which start at its llStart.
  const uint8_t* Data(int iBlock) const { return m_pMemory->pData[iBlock].get(); }

  std::atomic<ULONG> m_cRef{1};
  IAsyncReader* const m_pInner;
  const uint32_t m_cbBlock;
  const uint32_t m_cbMinFill;
  uint32_t m_cbFill;  // size of the next fill
  const uint32_t m_cbMinGap;
  uint32_t m_cbGap;  // size of the next gap block
  const CReaderFlushState* const m_pFlush;
  uint32_t m_dwFlushesSeen = 0;
  bool m_bOwnFlush = false;
  CBlockMemory m_OwnMemory;  // unused when the caller gave memory
  CBlockMemory* const m_pMemory;
  Block m_Blocks[2];
  int m_iLastUsed = 0;         // the other block is the next to be filled
  int64_t m_llPassedEnd = -1;  // end of the last read passed through
  HRESULT m_hrFirstFailure = S_OK;
  int64_t m_llSkipTo = -1;  // end of the last long skip
};

}  // namespace flvdmx

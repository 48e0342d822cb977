#include "base/block_reader.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>

namespace flvdmx {

namespace {

// About what one upstream call costs in bytes copied.
constexpr int64_t kSparseBytesPerRead = 4 * 1024;
constexpr int64_t kDenseBytesPerRead = 1024;

}  // namespace

CBlockReader::CBlockReader(IAsyncReader* pInner, uint32_t cbBlock, uint32_t cbMinFill,
                           const CReaderFlushState* pFlush, CBlockMemory* pMemory)
    : m_pInner(pInner),
      m_cbBlock(cbBlock),
      m_cbMinFill(cbMinFill),
      m_cbFill(cbBlock),
      m_cbMinGap(std::max<uint32_t>(16, cbMinFill / 16)),
      m_cbGap(std::max<uint32_t>(16, cbMinFill / 4)),
      m_pFlush(pFlush),
      m_pMemory(pMemory != nullptr ? pMemory : &m_OwnMemory) {
  m_pInner->AddRef();
  if (m_pFlush != nullptr) m_dwFlushesSeen = m_pFlush->dwBegun.load(std::memory_order_acquire);
}

CBlockReader::~CBlockReader() { m_pInner->Release(); }

STDMETHODIMP CBlockReader::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
    *ppv = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CBlockReader::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CBlockReader::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP CBlockReader::RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                            IMemAllocator** ppActual) {
  return m_pInner->RequestAllocator(pPreferred, pProps, ppActual);
}

STDMETHODIMP CBlockReader::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
  return m_pInner->Request(pSample, dwUser);
}

STDMETHODIMP CBlockReader::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample,
                                       DWORD_PTR* pdwUser) {
  return m_pInner->WaitForNext(dwTimeout, ppSample, pdwUser);
}

STDMETHODIMP CBlockReader::SyncReadAligned(IMediaSample* pSample) {
  return m_pInner->SyncReadAligned(pSample);
}

STDMETHODIMP CBlockReader::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
  return m_pInner->Length(pTotal, pAvailable);
}

STDMETHODIMP CBlockReader::BeginFlush() {
  Drop();
  m_bOwnFlush = true;
  return m_pInner->BeginFlush();
}

STDMETHODIMP CBlockReader::EndFlush() {
  m_bOwnFlush = false;
  return m_pInner->EndFlush();
}

void CBlockReader::Drop() {
  for (Block& block : m_Blocks) {
    block.llStart = block.llEnd = block.llUsedEnd = block.cReads = 0;
    block.bGap = false;
  }
  m_llPassedEnd = -1;
  m_llSkipTo = -1;
}

void CBlockReader::Skip(int64_t llFrom, int64_t llTo) {
  // A short skip costs less than the read a gap block adds.
  m_llSkipTo = llTo - llFrom >= static_cast<int64_t>(m_cbMinFill) ? llTo : -1;
}

bool CBlockReader::FlushSeen() {
  if (m_bOwnFlush) return true;
  if (m_pFlush == nullptr) return false;
  const uint32_t dwBegun = m_pFlush->dwBegun.load(std::memory_order_acquire);
  if (dwBegun != m_dwFlushesSeen) {
    m_dwFlushesSeen = dwBegun;
    Drop();
  }
  return m_pFlush->lOpen.load(std::memory_order_acquire) > 0;
}

HRESULT CBlockReader::PassThrough(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
  const HRESULT hr = m_pInner->SyncRead(llPosition, lLength, pBuffer);
  if (hr == S_OK && lLength > 0) m_llPassedEnd = llPosition + lLength;
  if (FAILED(hr) && m_hrFirstFailure == S_OK) m_hrFirstFailure = hr;
  return hr;
}

int CBlockReader::Find(int64_t llPosition, int64_t llEnd) const {
  for (int i : {m_iLastUsed, 1 - m_iLastUsed}) {
    const Block& block = m_Blocks[i];
    if (llPosition >= block.llStart && llEnd <= block.llEnd) return i;
  }
  return -1;
}

uint32_t CBlockReader::NextFillSize(const Block& block) const {
  const int64_t cbFilled = block.llEnd - block.llStart;
  // A gap block's use says nothing about the walk between large payloads.
  if (cbFilled <= 0 || block.cReads <= 0 || block.bGap) return m_cbFill;
  // Bytes brought per read served: far apart, a block mostly copies bytes
  // nobody asked for; close together, it saves many calls.
  const int64_t cbPerRead = cbFilled / block.cReads;
  if (cbPerRead > kSparseBytesPerRead) return std::max(m_cbMinFill, m_cbFill / 2);
  if (cbPerRead < kDenseBytesPerRead) return std::min(m_cbBlock, m_cbFill * 2);
  return m_cbFill;
}

int CBlockReader::Victim(int64_t llPosition) const {
  const Block& a = m_Blocks[0];
  const Block& b = m_Blocks[1];
  if (a.llEnd == a.llStart) return 0;
  if (b.llEnd == b.llStart) return 1;
  // A walk forward keeps the block nearer its front, one backward the block
  // nearer its back; otherwise the least recently used goes.
  if (llPosition >= a.llStart && llPosition >= b.llStart) return a.llStart < b.llStart ? 0 : 1;
  if (llPosition < a.llStart && llPosition < b.llStart) return a.llStart > b.llStart ? 0 : 1;
  return 1 - m_iLastUsed;
}

CBlockReader::FillKind CBlockReader::Classify(int64_t llPosition, int64_t* pllFloor) {
  const Block& last = m_Blocks[m_iLastUsed];
  const bool bLastGap = last.bGap && last.llEnd > last.llStart;
  const bool bAfterSkip = llPosition == m_llSkipTo;
  if (bLastGap && !bAfterSkip && llPosition >= last.llStart && llPosition <= last.llEnd) {
    // The walk runs on past the gap block: the next gap needs more, and
    // here the tags are dense again.
    m_cbGap = std::min(m_cbBlock, m_cbGap * 2);
    *pllFloor = last.llStart;
    return FillKind::kPastGap;
  }
  if (!bAfterSkip) return FillKind::kAligned;
  m_llSkipTo = -1;
  // Left by a skip with most of it unread: the bytes after its use belonged
  // to the payload skipped.
  if (bLastGap && (last.llUsedEnd - last.llStart) * 4 <= last.llEnd - last.llStart)
    m_cbGap = std::max(m_cbMinGap, m_cbGap / 2);
  return FillKind::kGap;
}

int CBlockReader::Fill(int64_t llPosition, int64_t llEnd) {
  const int iBlock = Victim(llPosition);
  Block& block = m_Blocks[iBlock];
  int64_t llFloor = -1;
  const FillKind kind = Classify(llPosition, &llFloor);
  const bool bGap = kind == FillKind::kGap;
  const uint32_t cbFill = bGap ? m_cbGap : NextFillSize(block);
  int64_t llStart = llPosition & ~static_cast<int64_t>(cbFill - 1);
  if (m_llPassedEnd > llStart && m_llPassedEnd <= llPosition) llStart = m_llPassedEnd;
  // Past a gap block, none of the payload skipped before it.
  llStart = std::max(llStart, llFloor);
  int64_t llStop = llStart + cbFill;
  if (bGap) {
    llStart = llPosition;
    llStop = llStart + std::max<int64_t>(cbFill, llEnd - llStart);
  }
  LONGLONG llTotal = 0;
  LONGLONG llAvailable = 0;
  if (FAILED(m_pInner->Length(&llTotal, &llAvailable))) return -1;
  if (llStop > llAvailable) llStop = llAvailable;
  if (llEnd > llStop) return -1;  // straddles the block, or past the data there is
  const LONG cb = static_cast<LONG>(llStop - llStart);
  if (cb <= 0) return -1;  // nothing to cache: the read passes through
  // Sized by what the fill brings, not the largest block: a short file or a
  // sparse walk never pays for a whole block.
  std::unique_ptr<uint8_t[]>& pData = m_pMemory->pData[iBlock];
  uint32_t& cbCapacity = m_pMemory->cbCapacity[iBlock];
  if (cbCapacity < static_cast<uint32_t>(cb)) {
    pData.reset();
    cbCapacity = 0;
    block.llStart = block.llEnd = 0;
    pData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(cb)]);
    if (!pData) return -1;
    cbCapacity = static_cast<uint32_t>(cb);
  }
  if (!bGap) m_cbFill = cbFill;
  block.llStart = block.llEnd = block.llUsedEnd = block.cReads = 0;
  if (m_pInner->SyncRead(llStart, cb, pData.get()) != S_OK) return -1;
  block.llStart = block.llUsedEnd = llStart;
  block.llEnd = llStop;
  block.bGap = bGap;
  return iBlock;
}

HRESULT CBlockReader::ReadLarge(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
  // The head a block already holds (the payload after the tag header just
  // read) and the tail one holds (the walk read the next tag's header before
  // this payload) are copied; the rest goes straight into the caller's buffer.
  const int64_t llEnd = llPosition + lLength;
  int64_t llFrom = llPosition;
  int64_t llTo = llEnd;
  Block* pHead = nullptr;
  Block* pTail = nullptr;
  for (Block& block : m_Blocks) {
    if (block.llEnd == block.llStart) continue;
    if (llPosition >= block.llStart && llPosition < block.llEnd) {
      pHead = &block;
      llFrom = block.llEnd;
    } else if (block.llStart > llPosition && block.llStart < llEnd && llEnd <= block.llEnd) {
      pTail = &block;
      llTo = block.llStart;
    }
  }
  if (pTail != nullptr && llTo < llFrom) {  // overlaps the head: the head is enough
    pTail = nullptr;
    llTo = llEnd;
  }
  if (pHead == nullptr && pTail == nullptr) return PassThrough(llPosition, lLength, pBuffer);
  if (llTo > llFrom) {
    const HRESULT hr = PassThrough(llFrom, static_cast<LONG>(llTo - llFrom),
                                   pBuffer + static_cast<size_t>(llFrom - llPosition));
    // Anything but a whole read: the read on its own gives the result.
    if (hr != S_OK) return PassThrough(llPosition, lLength, pBuffer);
  }
  if (pHead != nullptr) {
    std::memcpy(pBuffer, Data(static_cast<int>(pHead - m_Blocks)) + (llPosition - pHead->llStart),
                static_cast<size_t>(pHead->llEnd - llPosition));
    ++pHead->cReads;
    pHead->llUsedEnd = pHead->llEnd;
  }
  if (pTail != nullptr) {
    std::memcpy(pBuffer + static_cast<size_t>(llTo - llPosition),
                Data(static_cast<int>(pTail - m_Blocks)), static_cast<size_t>(llEnd - llTo));
    ++pTail->cReads;
    pTail->llUsedEnd = std::max(pTail->llUsedEnd, llEnd);
  }
  m_llPassedEnd = llEnd;
  return S_OK;
}

STDMETHODIMP CBlockReader::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
  if (lLength <= 0 || pBuffer == nullptr || llPosition < 0) {
    return PassThrough(llPosition, lLength, pBuffer);
  }
  if (FlushSeen()) {
    Drop();
    return PassThrough(llPosition, lLength, pBuffer);
  }
  const int64_t llEnd = llPosition + lLength;
  int iBlock = Find(llPosition, llEnd);
  if (iBlock < 0) {
    const bool bLarge = static_cast<uint32_t>(lLength) > m_cbBlock / 4;
    if (bLarge) return ReadLarge(llPosition, lLength, pBuffer);
    iBlock = Fill(llPosition, llEnd);
    if (iBlock < 0) return PassThrough(llPosition, lLength, pBuffer);
  }
  Serve(iBlock, llPosition, lLength, pBuffer);
  return S_OK;
}

void CBlockReader::Serve(int iBlock, int64_t llPosition, LONG lLength, BYTE* pBuffer) {
  Block& block = m_Blocks[iBlock];
  std::memcpy(pBuffer, Data(iBlock) + (llPosition - block.llStart), static_cast<size_t>(lLength));
  ++block.cReads;
  block.llUsedEnd = std::max<int64_t>(block.llUsedEnd, llPosition + lLength);
  m_iLastUsed = iBlock;
}

}  // namespace flvdmx

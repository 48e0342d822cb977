#include "host/allocator.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/com_ptr.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FLVDMX_HOST_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define FLVDMX_HOST_ASAN 1
#endif
#ifdef FLVDMX_HOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace flvdmx {

namespace {

constexpr LONG kMaxAlign = 64 * 1024;
// Above this the request is taken as hostile rather than tried.
constexpr uint64_t kMaxTotalBytes = uint64_t{1} << 31;

uint64_t Stride(const ALLOCATOR_PROPERTIES& props) {
  const uint64_t align = static_cast<uint64_t>(props.cbAlign);
  const uint64_t bytes =
      static_cast<uint64_t>(props.cbPrefix) + static_cast<uint64_t>(props.cbBuffer);
  return (bytes + align - 1) / align * align;
}

void Poison(BYTE* p, size_t cb, bool bPoison) {
#ifdef FLVDMX_HOST_ASAN
  if (bPoison) {
    ASAN_POISON_MEMORY_REGION(p, cb);
  } else {
    ASAN_UNPOISON_MEMORY_REGION(p, cb);
  }
#else
  (void)p, (void)cb, (void)bPoison;
#endif
}

// Buffer memory of freed allocators, kept for the next allocator that asks
// for the same size. A host that builds a graph per file (a thumbnailer, the
// fuzz target) would otherwise map and fault in fresh pages for every
// buffer of every file. Kept blocks are poisoned under ASan, so a sample
// used after its allocator let go of it is still caught.
class CBlockCache {
 public:
  // The block given back last of that size: it is the likeliest still in cache.
  BYTE* Take(size_t cb) {
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      for (size_t i = m_Blocks.size(); i-- > 0;) {
        if (m_Blocks[i].first != cb) continue;
        BYTE* pBlock = m_Blocks[i].second;
        m_Blocks.erase(m_Blocks.begin() + static_cast<std::ptrdiff_t>(i));
        m_cbKept -= cb;
        Poison(pBlock, cb, false);
        return pBlock;
      }
    }
    return static_cast<BYTE*>(std::malloc(cb));
  }

  // Keeps the block, letting go of the oldest ones over the limits.
  void Give(BYTE* pBlock, size_t cb) {
    std::vector<std::pair<size_t, BYTE*>> dropped;
    {
      std::lock_guard<std::mutex> lock(m_Mutex);
      try {
        if (cb <= kMaxKeptBytes) {
          m_Blocks.emplace_back(cb, pBlock);
          m_cbKept += cb;
          Poison(pBlock, cb, true);
          pBlock = nullptr;
        }
        while (m_cbKept > kMaxKeptBytes || m_Blocks.size() > kMaxKeptBlocks) {
          dropped.push_back(m_Blocks.front());
          m_cbKept -= m_Blocks.front().first;
          m_Blocks.erase(m_Blocks.begin());
        }
      } catch (const std::bad_alloc&) {
      }
    }
    std::free(pBlock);
    for (auto& block : dropped) {
      Poison(block.second, block.first, false);
      std::free(block.second);
    }
  }

 private:
  static constexpr size_t kMaxKeptBytes = size_t{64} << 20;
  static constexpr size_t kMaxKeptBlocks = 64;
  std::mutex m_Mutex;
  std::vector<std::pair<size_t, BYTE*>> m_Blocks;
  size_t m_cbKept = 0;
};

// Never destroyed: an allocator released during static destruction still
// finds it. What it keeps at exit stays reachable, so no leak is reported.
CBlockCache& BlockCache() {
  static auto* pCache = new CBlockCache();
  return *pCache;
}

}  // namespace

HRESULT CMemAllocator::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  const ComPtr<CMemAllocator> pAllocator(new (std::nothrow) CMemAllocator());
  if (!pAllocator) return E_OUTOFMEMORY;
  return pAllocator->QueryInterface(riid, ppv);
}

CMemAllocator::~CMemAllocator() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  FreeLocked();
}

STDMETHODIMP CMemAllocator::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
    *ppv = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMemAllocator::AddRef() { return static_cast<ULONG>(++m_cRef); }

STDMETHODIMP_(ULONG) CMemAllocator::Release() {
  const LONG lRef = --m_cRef;
  if (lRef == 0) delete this;
  return static_cast<ULONG>(lRef);
}

STDMETHODIMP CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                          ALLOCATOR_PROPERTIES* pActual) {
  if (pRequest == nullptr || pActual == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (!AllSamplesBackLocked()) return VFW_E_BUFFERS_OUTSTANDING;
  const LONG align = pRequest->cbAlign;
  if (align <= 0 || align > kMaxAlign || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0)
    return E_INVALIDARG;

  ALLOCATOR_PROPERTIES props = *pRequest;
  const uint64_t stride = Stride(props);
  if (stride - static_cast<uint64_t>(props.cbPrefix) > static_cast<uint64_t>(INT32_MAX))
    return E_OUTOFMEMORY;
  props.cbBuffer = static_cast<LONG>(stride - static_cast<uint64_t>(props.cbPrefix));
  // Memory of an earlier commit no longer fits the new shape.
  FreeLocked();
  m_Props = props;
  *pActual = props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
  if (pProps == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(m_Mutex);
  *pProps = m_Props;
  return S_OK;
}

STDMETHODIMP CMemAllocator::Commit() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  if (m_bCommitted) return S_OK;
  if (m_Props.cBuffers <= 0 || m_Props.cbBuffer <= 0) return VFW_E_SIZENOTSET;
  if (!m_bAllocated) {
    const HRESULT hr = AllocateLocked();
    if (FAILED(hr)) return hr;
  }
  m_bCommitted = true;
  return S_OK;
}

HRESULT CMemAllocator::AllocateLocked() {
  const uint64_t stride = Stride(m_Props);
  const uint64_t align = static_cast<uint64_t>(m_Props.cbAlign);
  const uint64_t total = (stride + align) * static_cast<uint64_t>(m_Props.cBuffers);
  if (total > kMaxTotalBytes) return E_OUTOFMEMORY;
  try {
    m_Samples.reserve(static_cast<size_t>(m_Props.cBuffers));
    m_Free.reserve(static_cast<size_t>(m_Props.cBuffers));
    m_Blocks.reserve(static_cast<size_t>(m_Props.cBuffers));
  } catch (const std::bad_alloc&) {
    FreeLocked();
    return E_OUTOFMEMORY;
  }
  m_bAllocated = true;
  return S_OK;
}

CMediaSample* CMemAllocator::MakeSampleLocked() {
  // Each buffer gets its memory when it is first lent out: a pipeline that
  // hands buffers straight back touches one or two of them, however many
  // the filter asked for.
  const uint64_t stride = Stride(m_Props);
  const uint64_t align = static_cast<uint64_t>(m_Props.cbAlign);
  BYTE* pBlock = BlockCache().Take(static_cast<size_t>(stride + align));
  if (pBlock == nullptr) return nullptr;
  // The data (after its prefix) on an alignment boundary.
  const uintptr_t firstData = reinterpret_cast<uintptr_t>(pBlock) + m_Props.cbPrefix;
  const uintptr_t aligned = (firstData + align - 1) / align * align;
  BYTE* pData = pBlock + (aligned - reinterpret_cast<uintptr_t>(pBlock));
  std::unique_ptr<CMediaSample> pSample(new (std::nothrow)
                                            CMediaSample(this, pData, m_Props.cbBuffer));
  if (!pSample) {
    BlockCache().Give(pBlock, static_cast<size_t>(stride + align));
    return nullptr;
  }
  // Both tables were reserved for every buffer by AllocateLocked: no throw.
  m_Blocks.push_back(pBlock);
  m_Samples.push_back(std::move(pSample));
  return m_Samples.back().get();
}

void CMemAllocator::FreeLocked() {
  m_Free.clear();
  m_Samples.clear();
  const uint64_t cbBlock = Stride(m_Props) + static_cast<uint64_t>(m_Props.cbAlign);
  for (BYTE* pBlock : m_Blocks) BlockCache().Give(pBlock, static_cast<size_t>(cbBlock));
  m_Blocks.clear();
  m_bAllocated = false;
}

STDMETHODIMP CMemAllocator::Decommit() {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = false;
    if (AllSamplesBackLocked()) FreeLocked();
  }
  m_BufferReturned.notify_all();
  return S_OK;
}

STDMETHODIMP CMemAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  if (ppBuffer == nullptr) return E_POINTER;
  *ppBuffer = nullptr;
  CMediaSample* pSample = nullptr;
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      if (!m_Free.empty()) {
        pSample = m_Free.back();
        m_Free.pop_back();
        break;
      }
      if (m_Samples.size() < static_cast<size_t>(m_Props.cBuffers)) {
        pSample = MakeSampleLocked();
        if (pSample == nullptr) return E_OUTOFMEMORY;
        break;
      }
      if ((dwFlags & AM_GBF_NOWAIT) != 0) return VFW_E_TIMEOUT;
      m_BufferReturned.wait(lock);
    }
    pSample->ResetForUse();
  }
  AddRef();  // dropped when the sample comes back
  *ppBuffer = pSample;
  return S_OK;
}

STDMETHODIMP CMemAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
  if (pBuffer == nullptr) return E_POINTER;
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    auto it = std::find_if(m_Samples.begin(), m_Samples.end(),
                           [pBuffer](const std::unique_ptr<CMediaSample>& p) {
                             return static_cast<IMediaSample*>(p.get()) == pBuffer;
                           });
    if (it == m_Samples.end() || std::find(m_Free.begin(), m_Free.end(), it->get()) != m_Free.end())
      return E_INVALIDARG;
    m_Free.push_back(it->get());
    if (!m_bCommitted && AllSamplesBackLocked()) FreeLocked();
  }
  m_BufferReturned.notify_one();
  Release();  // may delete this allocator
  return S_OK;
}

int CMemAllocator::OutstandingCount() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return static_cast<int>(m_Samples.size() - m_Free.size());
}

}  // namespace flvdmx

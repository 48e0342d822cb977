#include "host/memory_reader.h"

#include <algorithm>
#include <cstring>

namespace flvdmx {

CMemoryReader::CMemoryReader(std::vector<uint8_t> bytes)
    : m_Owned(std::move(bytes)),
      m_pData(m_Owned.data()),
      m_cbData(m_Owned.size()),
      m_llTotal(static_cast<int64_t>(m_cbData)),
      m_llAvailable(m_llTotal) {}

CMemoryReader::CMemoryReader(const void* pData, size_t cb)
    : CMemoryReader(std::vector<uint8_t>(static_cast<const uint8_t*>(pData),
                                         static_cast<const uint8_t*>(pData) + cb)) {}

CMemoryReader::CMemoryReader(Borrow, const void* pData, size_t cb)
    : m_pData(static_cast<const uint8_t*>(pData)),
      m_cbData(cb),
      m_llTotal(static_cast<int64_t>(cb)),
      m_llAvailable(m_llTotal) {}

HRESULT STDMETHODCALLTYPE CMemoryReader::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
  if (!pTotal || !pAvailable) return E_POINTER;
  if (m_hrLength != S_OK) return m_hrLength;
  *pTotal = m_llTotal;
  *pAvailable = m_llAvailable;
  return S_OK;
}

void CMemoryReader::SetLength(int64_t llTotal, int64_t llAvailable) {
  m_llTotal = llTotal;
  m_llAvailable = llAvailable;
}

void CMemoryReader::FailLength(HRESULT hr) { m_hrLength = hr; }

void CMemoryReader::FailReadsAt(int64_t llOffset, HRESULT hr) {
  m_Failures.push_back(ReadFailure{llOffset, hr});
}

void CMemoryReader::FailReadsFrom(uint64_t nRead, HRESULT hr) {
  m_nFailFrom = nRead;
  m_hrFailFrom = hr;
}

HRESULT CMemoryReader::ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer,
                              uint32_t* pcbRead) {
  const uint64_t nRead = m_cReads++;
  *pcbRead = 0;
  if (nRead >= m_nFailFrom) {
    if (m_hrFailFrom != S_FALSE) return m_hrFailFrom;
    cb /= 2;
  }
  for (const ReadFailure& f : m_Failures) {
    if (f.llOffset >= llPosition && f.llOffset - llPosition < static_cast<int64_t>(cb)) return f.hr;
  }
  const int64_t size = static_cast<int64_t>(m_cbData);
  if (llPosition >= size) return S_OK;
  const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(cb, size - llPosition));
  if (n) std::memcpy(pBuffer, m_pData + llPosition, n);
  *pcbRead = n;
  m_cbRead += n;
  return S_OK;
}

}  // namespace flvdmx

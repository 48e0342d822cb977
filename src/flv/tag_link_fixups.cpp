#include "flv/tag_link_fixups.h"

#include <cstdint>
#include <new>

namespace flvdmx {

HRESULT CTagLinkFixups::Add(int64_t llKey, int64_t llValue) {
  std::lock_guard<std::mutex> lock(m_Lock);
  try {
    const auto added = m_ByKey.emplace(llKey, llValue);
    if (!added.second) return S_OK;
    try {
      m_ByValue.emplace(llValue, llKey);
    } catch (const std::bad_alloc&) {
      m_ByKey.erase(added.first);
      throw;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool CTagLinkFixups::FindPredecessor(int64_t llValue, int64_t* pllKey) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  const auto it = m_ByValue.lower_bound({llValue, INT64_MIN});
  if (it == m_ByValue.end() || it->first != llValue) return false;
  if (pllKey) *pllKey = it->second;
  return true;
}

void CTagLinkFixups::Clear() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_ByKey.clear();
  m_ByValue.clear();
}

size_t CTagLinkFixups::Count() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_ByKey.size();
}

}  // namespace flvdmx

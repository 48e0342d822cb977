#include "flv/tag_link_fixups.h"

#include <new>

namespace flvdmx {

HRESULT CTagLinkFixups::Add(int64_t llKey, int64_t llValue) {
  std::lock_guard<std::mutex> lock(m_Lock);
  try {
    m_Links.emplace(llValue, llKey);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool CTagLinkFixups::FindPredecessor(int64_t llValue, int64_t* pllKey) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  const auto it = m_Links.find(llValue);
  if (it == m_Links.end()) return false;
  if (pllKey) *pllKey = it->second;
  return true;
}

void CTagLinkFixups::Clear() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Links.clear();
}

size_t CTagLinkFixups::Count() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Links.size();
}

}  // namespace flvdmx

#include "flv/tag_link_fixups.h"

#include <algorithm>
#include <new>

namespace flvdmx {

HRESULT CTagLinkFixups::Add(int64_t llKey, int64_t llValue) {
  std::lock_guard<std::mutex> lock(m_Lock);
  auto it = std::lower_bound(m_Nodes.begin(), m_Nodes.end(), llKey,
                             [](const Node& n, int64_t key) { return n.llKey < key; });
  if (it != m_Nodes.end() && it->llKey == llKey) return S_OK;
  size_t index = static_cast<size_t>(it - m_Nodes.begin());
  try {
    m_Nodes.insert(it, Node{llKey, llValue, llValue});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // The scans add in ascending order, so this usually touches one node.
  for (size_t i = index; i < m_Nodes.size(); ++i) {
    int64_t before = i == 0 ? m_Nodes[i].llValue : m_Nodes[i - 1].llMaxValue;
    int64_t max = std::max(before, m_Nodes[i].llValue);
    if (i > index && m_Nodes[i].llMaxValue == max) break;
    m_Nodes[i].llMaxValue = max;
  }
  return S_OK;
}

bool CTagLinkFixups::FindPredecessor(int64_t llValue, int64_t* pllKey) const {
  std::lock_guard<std::mutex> lock(m_Lock);
  auto it = std::lower_bound(m_Nodes.begin(), m_Nodes.end(), llValue,
                             [](const Node& n, int64_t value) { return n.llMaxValue < value; });
  if (it == m_Nodes.end() || it->llValue != llValue) return false;
  if (pllKey) *pllKey = it->llKey;
  return true;
}

void CTagLinkFixups::Clear() {
  std::lock_guard<std::mutex> lock(m_Lock);
  m_Nodes.clear();
}

size_t CTagLinkFixups::Count() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_Nodes.size();
}

}  // namespace flvdmx

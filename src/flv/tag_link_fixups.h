// CTagLinkFixups: the filter's table of repaired back-links. Each entry pairs
// a tag position (key) with the position of the tag that really follows it
// (value), for followers whose PreviousTagSize does not lead back to the key.
// Entries stand in ascending key order; a key is stored once.
//
// Owned by the filter (one per file state), cleared at every new input
// connection, filled by the header scan and the tail search, read by the
// delivery threads of both pins. Every operation takes the table's own lock,
// which nests inside no other lock of this module and takes none itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/com.h"

namespace flvdmx {

class CTagLinkFixups {
 public:
  CTagLinkFixups() = default;
  CTagLinkFixups(const CTagLinkFixups&) = delete;
  CTagLinkFixups& operator=(const CTagLinkFixups&) = delete;

  // S_OK, also when the key is already present (the table is then unchanged);
  // E_OUTOFMEMORY when the entry cannot be stored.
  HRESULT Add(int64_t llKey, int64_t llValue);

  // Walks from the smallest key while entry values are below llValue: true
  // with that entry's key when one holds exactly llValue, false at the first
  // higher value or at the end. `pllKey` may be null.
  bool FindPredecessor(int64_t llValue, int64_t* pllKey) const;

  void Clear();
  size_t Count() const;

 private:
  struct Node {
    int64_t llKey;
    int64_t llValue;
    // Largest value among this node and all before it: the walk of
    // FindPredecessor stops at the first node whose running maximum reaches
    // the value, so it can be found by halving instead of walking.
    int64_t llMaxValue;
  };

  mutable std::mutex m_Lock;
  std::vector<Node> m_Nodes;
};

}  // namespace flvdmx

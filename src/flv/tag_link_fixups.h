// CTagLinkFixups: the filter's table of repaired back-links. Each entry pairs
// a tag position (key) with the position of the tag that really follows it
// (value), for followers whose PreviousTagSize does not lead back to the key.
// A follower has one entry: the first one added for it.
//
// Owned by the filter (one per file state), cleared at every new input
// connection, filled by the header scan and the tail search, read by the
// delivery threads of both pins. Every operation takes the table's own lock,
// which nests inside no other lock of this module and takes none itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/com.h"

namespace flvdmx {

class CTagLinkFixups {
 public:
  CTagLinkFixups() = default;
  CTagLinkFixups(const CTagLinkFixups&) = delete;
  CTagLinkFixups& operator=(const CTagLinkFixups&) = delete;

  // S_OK, also when the follower already has an entry (the table is then
  // unchanged); E_OUTOFMEMORY when the entry cannot be stored.
  HRESULT Add(int64_t llKey, int64_t llValue);

  // True with the key of the entry whose value is exactly llValue, false
  // when none is. Every entry counts, wherever its key stands: the link of
  // one long tag over a second chain of tags must not hide that chain's own
  // links, or each step back through it would walk forward again.
  // `pllKey` may be null.
  bool FindPredecessor(int64_t llValue, int64_t* pllKey) const;

  void Clear();
  size_t Count() const;

 private:
  mutable std::mutex m_Lock;
  // Follower to key. A tree, not a sorted array: a walk back adds a span of
  // links before all the earlier ones, and shifting a long array for each
  // would cost the square of the links.
  std::map<int64_t, int64_t> m_Links;
};

}  // namespace flvdmx

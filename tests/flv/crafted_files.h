// Crafted files shared by the seeking tests, built once per test binary, and
// the ground truth that goes with them (which tag holds which time).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/flv_writer.h"

namespace flvdmx {

struct CraftedFile {
  std::vector<uint8_t> bytes;
  std::vector<CraftedTag> tags;
  uint32_t durationMs = 0;  // time of the last tag

  // The last tag of `type` at or before t, else the first tag of `type`.
  const CraftedTag& LastAtOrBefore(uint8_t type, uint32_t t) const {
    const CraftedTag* best = nullptr;
    for (const CraftedTag& tag : tags) {
      if (tag.type != type) continue;
      if (!best || tag.timeMs <= t) best = &tag;
      if (tag.timeMs > t) break;
    }
    return *best;
  }
  // The last tag of `type` strictly before t, else the first tag of `type`.
  const CraftedTag& LastBefore(uint8_t type, uint32_t t) const {
    return t == 0 ? LastAtOrBefore(type, 0) : LastAtOrBefore(type, t - 1);
  }
  const CraftedTag* At(int64_t position) const {
    for (const CraftedTag& tag : tags)
      if (tag.position == position) return &tag;
    return nullptr;
  }
};

inline CraftedFile MakeCraftedFile(const AvFileLayout& layout) {
  CraftedFile f;
  FlvWriter w;
  f.tags = WriteAvTags(w, layout);
  f.bytes = w.Bytes();
  for (const CraftedTag& t : f.tags) f.durationMs = std::max(f.durationMs, t.timeMs);
  return f;
}

// 21 minutes of 25 fps video (a key frame every 2 s) and 44.1 kHz audio frames.
inline const CraftedFile& LongFile(bool metadata) {
  static const CraftedFile withMeta = [] {
    AvFileLayout layout;
    layout.durationMs = 21 * 60 * 1000;
    return MakeCraftedFile(layout);
  }();
  static const CraftedFile withoutMeta = [] {
    AvFileLayout layout;
    layout.durationMs = 21 * 60 * 1000;
    layout.metadata = false;
    layout.seed = 2;
    return MakeCraftedFile(layout);
  }();
  return metadata ? withMeta : withoutMeta;
}

}  // namespace flvdmx

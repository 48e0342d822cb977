// Timestamp continuity: FLV tags carry 24-bit millisecond times, which wrap
// after about 4 h 39 min. A time is carried on past the wrap from a lower
// bound for it (usually the previous tag's time).
#pragma once

#include <cstdint>

#include "flvdefs/flv_tag.h"

namespace flvdmx {

// A reference more than this above a raw timestamp means the timestamp wrapped.
inline constexpr uint32_t kWrapThreshold = 0x10000;
// The size of one wrap.
inline constexpr uint32_t kWrapPeriod = 0x1000000;

// For a tag at or after a tag at `dwReference` (forward walks, searches from
// a lower bound): when the reference lies more than kWrapThreshold above the
// raw timestamp, raises tag.TimeStamp to the first value at or after
// dwReference - kWrapThreshold whose low 24 bits equal it; otherwise leaves
// it alone. Returns whether it changed the time. Traces the change.
bool WraparoundDetected(uint32_t dwReference, FlvTag& tag);

// For a tag before a tag at `dwReference` (backward walks): the latest time
// at or below dwReference + kWrapThreshold whose low 24 bits equal the raw
// timestamp; before the first wrap the raw time stands. Returns whether it
// changed the time. Traces the change.
bool WraparoundBackward(uint32_t dwReference, FlvTag& tag);

}  // namespace flvdmx

#include "flv/flv_timestamps.h"

#include "diag/formatters.h"
#include "diag/trace.h"

namespace flvdmx {

bool WraparoundDetected(uint32_t dwReference, FlvTag& tag) {
  const uint32_t raw = tag.TimeStamp;
  if (dwReference <= raw + kWrapThreshold) return false;
  uint32_t carried = raw + (dwReference & 0xFF000000u);
  // A tag a little before its reference (audio and video interleave) stays
  // before it rather than jumping a whole period ahead.
  if (static_cast<uint64_t>(carried) + kWrapThreshold < dwReference) carried += kWrapPeriod;
  Trace("\nWraparoundDetected: update tag timestamp from %s to %s", FormatMilliseconds(raw),
        FormatMilliseconds(carried));
  tag.TimeStamp = carried;
  return true;
}

bool WraparoundBackward(uint32_t dwReference, FlvTag& tag) {
  const uint32_t raw = tag.TimeStamp;
  if (dwReference < kWrapPeriod) return false;
  uint32_t carried = (dwReference & 0xFF000000u) | (raw & 0x00FFFFFFu);
  if (carried > static_cast<uint64_t>(dwReference) + kWrapThreshold) carried -= kWrapPeriod;
  if (carried == raw) return false;
  Trace("\nWraparoundDetected: update tag timestamp from %s to %s", FormatMilliseconds(raw),
        FormatMilliseconds(carried));
  tag.TimeStamp = carried;
  return true;
}

}  // namespace flvdmx

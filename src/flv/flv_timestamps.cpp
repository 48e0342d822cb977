#include "flv/flv_timestamps.h"

#include "diag/formatters.h"
#include "diag/trace.h"

namespace flvdmx {

bool WraparoundDetected(uint32_t dwReference, FlvTag& tag) {
  const uint32_t raw = tag.TimeStamp;
  if (dwReference <= raw + kWrapThreshold) return false;
  uint32_t carried = raw + (dwReference & 0xFF000000u);
  if (carried < dwReference) carried += kWrapPeriod;
  Trace("\nWraparoundDetected: update tag timestamp from %s to %s", FormatMilliseconds(raw),
        FormatMilliseconds(carried));
  tag.TimeStamp = carried;
  return true;
}

}  // namespace flvdmx

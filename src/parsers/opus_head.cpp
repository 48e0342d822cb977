#include "parsers/opus_head.h"

namespace flvdmx {

bool ParseOpusHead(const uint8_t*, size_t, OpusHeadInfo*) { return false; }

}  // namespace flvdmx

#include "parsers/flac_info.h"

namespace flvdmx {

bool ParseFlacStreamInfo(const uint8_t*, size_t, FlacStreamInfo*) { return false; }

}  // namespace flvdmx

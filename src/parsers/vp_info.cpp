#include "parsers/vp_info.h"

namespace flvdmx {

bool ParseVpCodecConfig(const uint8_t*, size_t, VpInfo*) { return false; }
bool ParseVp9KeyFrameSize(const uint8_t*, size_t, VpInfo*) { return false; }
bool ParseVp8KeyFrameSize(const uint8_t*, size_t, VpInfo*) { return false; }

}  // namespace flvdmx

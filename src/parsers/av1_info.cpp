#include "parsers/av1_info.h"

namespace flvdmx {

bool ParseAv1CodecConfig(const uint8_t*, size_t, Av1Info*) { return false; }
bool ParseAv1SequenceHeaderObus(const uint8_t*, size_t, Av1Info*) { return false; }

}  // namespace flvdmx

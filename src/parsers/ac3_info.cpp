#include "parsers/ac3_info.h"

namespace flvdmx {

bool ParseAc3SyncFrame(const uint8_t*, size_t, Ac3Info*) { return false; }

}  // namespace flvdmx

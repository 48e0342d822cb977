// The start-code search shared by the mini-parsers and the H.264 unit walk.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flvdmx {

// The byte after the next 00 00 01 in [p, p + n) (the unit's header byte), or
// null. A start code counts only when at least two bytes follow it, so a unit
// cut off right after its header byte is left for more input to complete. A
// four-byte start code 00 00 00 01 is found as its last three bytes.
const uint8_t* FindStartCode(const uint8_t* p, size_t n);

}  // namespace flvdmx

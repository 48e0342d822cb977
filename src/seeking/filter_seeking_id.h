// The private identity under which a demultiplexer filter hands its seeking
// object (CSeeking) to its own output pins. Nothing outside the filter asks
// for it: renderers and applications reach seeking through the pins.
#pragma once

#include "platform/com.h"

namespace flvdmx {

// {E2B7DE3F-38C5-11D5-91F6-00104BDB8FF9}
inline constexpr IID IID_IFilterSeeking = {
    0xE2B7DE3F, 0x38C5, 0x11D5, {0x91, 0xF6, 0x00, 0x10, 0x4B, 0xDB, 0x8F, 0xF9}};

}  // namespace flvdmx

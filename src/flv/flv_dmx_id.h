// The class identity of CFlvDmx, at compile time on both builds (the SDK
// declares its GUIDs as link-time data). The module registers it.
#pragma once

#include "platform/com.h"

namespace flvdmx {

inline constexpr CLSID kClsidFlvDmx = {
    0xE2B7DF43, 0x38C5, 0x11D5, {0x91, 0xF6, 0x00, 0x10, 0x4B, 0xDB, 0x8F, 0xF9}};

}  // namespace flvdmx

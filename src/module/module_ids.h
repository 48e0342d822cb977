// Identities that the module's registration writes or names, as constants of
// our own so that they are usable at compile time on both builds (the SDK
// declares its GUIDs as link-time data).
#pragma once

#include "flv/flv_dmx_id.h"
#include "platform/dshow.h"

namespace flvdmx {

// The platform's byte-stream major type, our input pin's major type.
inline constexpr GUID kMediaTypeStream = {
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// The platform's asynchronous file source, named as the source filter of FLV
// content.
inline constexpr CLSID kClsidAsyncReader = {
    0xE436EBB5, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// The platform's normal merit.
inline constexpr DWORD kMeritNormal = 0x600000;

}  // namespace flvdmx

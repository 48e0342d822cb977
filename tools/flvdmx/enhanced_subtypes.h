// The media subtypes the filter offers for the codecs enhanced FLV names by
// FourCC, as Windows decoders register them.
#pragma once

#include "platform/mediatypes.h"

namespace flvdmx::cli {

inline constexpr GUID kSubtypeAv01 = FourccGuid(MakeFourcc('A', 'V', '0', '1'));
inline constexpr GUID kSubtypeVp90 = FourccGuid(MakeFourcc('V', 'P', '9', '0'));
inline constexpr GUID kSubtypeVp80 = FourccGuid(MakeFourcc('V', 'P', '8', '0'));
inline constexpr WORD kWaveFormatOpus = 0x704F;
inline constexpr WORD kWaveFormatFlac = 0xF1AC;
inline constexpr GUID kSubtypeOpus = FourccGuid(kWaveFormatOpus);
inline constexpr GUID kSubtypeFlac = FourccGuid(kWaveFormatFlac);
// MEDIASUBTYPE_DOLBY_AC3 (as the SDK headers define it) and MEDIASUBTYPE_DOLBY_DDPLUS.
inline constexpr GUID kSubtypeDolbyAc3 = {
    0xE06D802C, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
inline constexpr GUID kSubtypeDolbyDdPlus = {
    0xA7FB87AF, 0x2D02, 0x42FB, {0xA4, 0xD4, 0x05, 0xCD, 0x93, 0x84, 0x3B, 0xDD}};

}  // namespace flvdmx::cli

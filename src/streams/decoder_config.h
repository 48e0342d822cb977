// The parameter sets of an AVC or HEVC decoder configuration record, turned
// into start-code form (00 00 01 + unit) for the mini-parsers. A pure
// function over the record's bytes: it reads nothing outside them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/buffer.h"
#include "platform/com.h"

namespace flvdmx {

// Appends the units of `pRecord` (cbRecord bytes, starting with the record's
// first byte) to pOut, reading from the record's seventh byte on:
//  - AVC: the first sequence parameter set, then (past the count byte) the
//    first picture parameter set; the count fields are not consulted.
//  - HEVC (`bHevc`), in the AVC-like layout FLV writers use: as many units
//    as the low five bits of the record's sixth byte (normally the video and
//    sequence parameter sets), then past one count byte one more unit (the
//    picture parameter set).
// S_OK; VFW_E_INVALID_FILE_FORMAT when a length or count byte runs past the
// record (pOut may then hold the units before it); E_OUTOFMEMORY.
HRESULT AppendParameterSetsFromRecord(const uint8_t* pRecord, size_t cbRecord, bool bHevc, CBaseBuffer* pOut);

}  // namespace flvdmx

// The H.264 library's entry points as the mini-parser uses them: a decoder
// context, the conversion of a unit to its payload form, and the processing
// of a sequence parameter set into the stream information.
//
// The context is created by Q264_CreateDecoderObject and must be released
// with Q264_FreeDecoderObject; it keeps the sequence parameter sets it has
// processed, by seq_parameter_set_id. The unit record and its bytes belong
// to the caller.
#pragma once

#include <cstdint>

#include "h264/q264_sps.h"
#include "nal/video_stream_info.h"

namespace flvdmx {

struct Q264NalUnit {
  uint8_t* buf;  // the unit, header byte included
  uint32_t len;  // shrinks when emulation-prevention bytes are removed
  uint32_t forbidden_zero_bit;
  uint32_t nal_ref_idc;
  uint32_t nal_unit_type;
};

struct Q264DecoderObject {
  Q264SeqParameterSet sps[kQ264MaxSpsId + 1];
  uint32_t sps_present[kQ264MaxSpsId + 1];
};

// A fresh, zeroed context, or null when memory runs out.
Q264DecoderObject* Q264_CreateDecoderObject();
void Q264_FreeDecoderObject(Q264DecoderObject* pDecoder);

// Removes the emulation-prevention bytes (the 03 of each 00 00 03 after the
// header byte) in place and returns the new length.
uint32_t Q264_EBSPtoRBSP(uint8_t* buf, uint32_t len);

// Parses the unit (already in payload form) as a sequence parameter set and
// fills *pInfo from it. 1 on success, whatever the profile, and also when
// only the VUI could not be read (cut short or out of range: the size is
// known by then); 0 when the set is rejected before its VUI (cut short, or
// a value outside the standard's limits), in which case *pInfo is left as
// it was.
int Q264_ProcessSPS(Q264DecoderObject* pDecoder, const Q264NalUnit* pNal, VideoStreamInfo* pInfo);

}  // namespace flvdmx

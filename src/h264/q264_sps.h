// The H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1) and its VUI up to
// the timing information (E.1.1), as a plain record whose fields carry the
// standard's syntax element names, and the parser that fills it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nal/vui.h"

namespace flvdmx {

struct Q264VuiParameters : VuiVideoDescription {
  uint32_t timing_info_present_flag;
  uint32_t num_units_in_tick;
  uint32_t time_scale;
  uint32_t fixed_frame_rate_flag;
};

// Limits of the standard that bound tables or arithmetic.
inline constexpr uint32_t kQ264MaxSpsId = 31;
inline constexpr uint32_t kQ264MaxRefFramesInPocCycle = 255;
inline constexpr uint32_t kQ264MaxDpbFrames = 16;
// Annex A: no level lets a picture be wider or taller than Sqrt(MaxFS * 8)
// macroblocks, MaxFS being at most 139264.
inline constexpr uint32_t kQ264MaxMbsPerSide = 1055;

struct Q264SeqParameterSet {
  uint32_t profile_idc;
  uint32_t constraint_set0_flag;
  uint32_t constraint_set1_flag;
  uint32_t constraint_set2_flag;
  uint32_t constraint_set3_flag;
  uint32_t constraint_set4_flag;
  uint32_t constraint_set5_flag;
  uint32_t level_idc;
  uint32_t seq_parameter_set_id;
  uint32_t chroma_format_idc;  // 1 when the syntax does not carry it
  uint32_t separate_colour_plane_flag;
  uint32_t bit_depth_luma_minus8;
  uint32_t bit_depth_chroma_minus8;
  uint32_t qpprime_y_zero_transform_bypass_flag;
  uint32_t seq_scaling_matrix_present_flag;
  uint32_t seq_scaling_list_present_flag[12];
  uint8_t ScalingList4x4[6][16];  // as coded (zig-zag order)
  uint8_t ScalingList8x8[6][64];
  uint32_t UseDefaultScalingMatrix4x4Flag[6];
  uint32_t UseDefaultScalingMatrix8x8Flag[6];
  uint32_t log2_max_frame_num_minus4;
  uint32_t pic_order_cnt_type;
  uint32_t log2_max_pic_order_cnt_lsb_minus4;
  uint32_t delta_pic_order_always_zero_flag;
  int32_t offset_for_non_ref_pic;
  int32_t offset_for_top_to_bottom_field;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle;
  int32_t offset_for_ref_frame[kQ264MaxRefFramesInPocCycle];
  uint32_t max_num_ref_frames;
  uint32_t gaps_in_frame_num_value_allowed_flag;
  uint32_t pic_width_in_mbs_minus1;
  uint32_t pic_height_in_map_units_minus1;
  uint32_t frame_mbs_only_flag;
  uint32_t mb_adaptive_frame_field_flag;
  uint32_t direct_8x8_inference_flag;
  uint32_t frame_cropping_flag;
  uint32_t frame_crop_left_offset;  // the four offsets are 0 without cropping
  uint32_t frame_crop_right_offset;
  uint32_t frame_crop_top_offset;
  uint32_t frame_crop_bottom_offset;
  uint32_t vui_parameters_present_flag;
  Q264VuiParameters vui;
};

enum class Q264ParseResult {
  kOk,
  // The RBSP ended early; the fields read so far are set, the rest are 0.
  kTruncated,
  // A value outside the standard's range, or an Exp-Golomb code longer than
  // 32 bits; the record is not usable.
  kInvalid,
};

// True for the profiles whose syntax carries chroma_format_idc, bit depths
// and scaling matrices.
bool Q264HasChromaFormatSyntax(uint32_t profile_idc);

// Parses seq_parameter_set_rbsp (the bytes after the unit header, with the
// emulation-prevention bytes removed) into *pSps, which is cleared first.
// Reading stops after the VUI timing information.
Q264ParseResult Q264_ParseSeqParameterSet(const uint8_t* rbsp, size_t cbRbsp,
                                          Q264SeqParameterSet* pSps);

}  // namespace flvdmx

#include "h264/q264_sps.h"

#include <cstring>

#include "base/bit_reader.h"
#include "nal/vui.h"

namespace flvdmx {

namespace {

// scaling_list() of 7.3.2.1.1.1.
[[nodiscard]] bool ParseScalingList(BitReader& r, uint8_t* scalingList, int sizeOfScalingList,
                                    uint32_t* useDefaultScalingMatrixFlag) {
  int lastScale = 8;
  int nextScale = 8;
  for (int j = 0; j < sizeOfScalingList; ++j) {
    if (nextScale != 0) {
      int32_t delta_scale;
      if (!r.ReadSe(&delta_scale) || delta_scale < -128 || delta_scale > 127) return false;
      nextScale = (lastScale + delta_scale + 256) % 256;
      *useDefaultScalingMatrixFlag = (j == 0 && nextScale == 0);
    }
    scalingList[j] = static_cast<uint8_t>(nextScale == 0 ? lastScale : nextScale);
    lastScale = scalingList[j];
  }
  return true;
}

[[nodiscard]] bool ParseChromaFormatSyntax(BitReader& r, Q264SeqParameterSet* s) {
  if (!r.ReadUeMax(3, &s->chroma_format_idc)) return false;
  if (s->chroma_format_idc == 3 && !r.ReadFlag(&s->separate_colour_plane_flag)) return false;
  // Bit depths above 14 are not in any profile.
  if (!r.ReadUeMax(6, &s->bit_depth_luma_minus8)) return false;
  if (!r.ReadUeMax(6, &s->bit_depth_chroma_minus8)) return false;
  if (!r.ReadFlag(&s->qpprime_y_zero_transform_bypass_flag)) return false;
  if (!r.ReadFlag(&s->seq_scaling_matrix_present_flag)) return false;
  if (!s->seq_scaling_matrix_present_flag) return true;
  const int lists = s->chroma_format_idc != 3 ? 8 : 12;
  for (int i = 0; i < lists; ++i) {
    if (!r.ReadFlag(&s->seq_scaling_list_present_flag[i])) return false;
    if (!s->seq_scaling_list_present_flag[i]) continue;
    const bool ok =
        i < 6 ? ParseScalingList(r, s->ScalingList4x4[i], 16, &s->UseDefaultScalingMatrix4x4Flag[i])
              : ParseScalingList(r, s->ScalingList8x8[i - 6], 64,
                                 &s->UseDefaultScalingMatrix8x8Flag[i - 6]);
    if (!ok) return false;
  }
  return true;
}

[[nodiscard]] bool ParsePicOrderCnt(BitReader& r, Q264SeqParameterSet* s) {
  if (!r.ReadUeMax(2, &s->pic_order_cnt_type)) return false;
  if (s->pic_order_cnt_type == 0) return r.ReadUeMax(12, &s->log2_max_pic_order_cnt_lsb_minus4);
  if (s->pic_order_cnt_type != 1) return true;
  // se(v) cannot go below -(2^31 - 1), so the offsets are always in range.
  if (!r.ReadFlag(&s->delta_pic_order_always_zero_flag)) return false;
  if (!r.ReadSe(&s->offset_for_non_ref_pic)) return false;
  if (!r.ReadSe(&s->offset_for_top_to_bottom_field)) return false;
  if (!r.ReadUeMax(kQ264MaxRefFramesInPocCycle, &s->num_ref_frames_in_pic_order_cnt_cycle))
    return false;
  for (uint32_t i = 0; i < s->num_ref_frames_in_pic_order_cnt_cycle; ++i)
    if (!r.ReadSe(&s->offset_for_ref_frame[i])) return false;
  return true;
}

[[nodiscard]] bool ParseFrameSize(BitReader& r, Q264SeqParameterSet* s) {
  if (!r.ReadUeMax(kQ264MaxMbsPerSide - 1, &s->pic_width_in_mbs_minus1)) return false;
  uint32_t heightMinus1;
  if (!r.ReadUeMax(kQ264MaxMbsPerSide - 1, &heightMinus1)) return false;
  uint32_t frame_mbs_only_flag;
  if (!r.ReadFlag(&frame_mbs_only_flag)) return false;
  // Field coding doubles the frame height in macroblocks.
  if (uint64_t{heightMinus1 + 1} * (2 - frame_mbs_only_flag) > kQ264MaxMbsPerSide) return false;
  s->pic_height_in_map_units_minus1 = heightMinus1;
  s->frame_mbs_only_flag = frame_mbs_only_flag;
  if (!s->frame_mbs_only_flag && !r.ReadFlag(&s->mb_adaptive_frame_field_flag)) return false;
  if (!r.ReadFlag(&s->direct_8x8_inference_flag)) return false;
  if (!r.ReadFlag(&s->frame_cropping_flag)) return false;
  if (!s->frame_cropping_flag) return true;

  uint32_t left, right, top, bottom;
  if (!r.ReadUe(&left) || !r.ReadUe(&right) || !r.ReadUe(&top) || !r.ReadUe(&bottom)) return false;
  // The crop window must leave at least one sample in each direction.
  const uint32_t cropUnitX = (s->chroma_format_idc == 0 || s->chroma_format_idc == 3) ? 1 : 2;
  const uint32_t cropUnitY = (2 - s->frame_mbs_only_flag) * (s->chroma_format_idc == 1 ? 2 : 1);
  const uint64_t width = uint64_t{s->pic_width_in_mbs_minus1 + 1} * 16;
  const uint64_t height = uint64_t{heightMinus1 + 1} * (2 - s->frame_mbs_only_flag) * 16;
  if ((uint64_t{left} + right) * cropUnitX >= width) return false;
  if ((uint64_t{top} + bottom) * cropUnitY >= height) return false;
  s->frame_crop_left_offset = left;
  s->frame_crop_right_offset = right;
  s->frame_crop_top_offset = top;
  s->frame_crop_bottom_offset = bottom;
  return true;
}

// vui_parameters() of E.1.1 up to and including the timing information.
[[nodiscard]] bool ParseVui(BitReader& r, Q264VuiParameters* v) {
  if (!ParseVuiVideoDescription(r, v)) return false;
  if (!r.ReadFlag(&v->timing_info_present_flag)) return false;
  if (v->timing_info_present_flag &&
      (!r.ReadBits(32, &v->num_units_in_tick) || !r.ReadBits(32, &v->time_scale) ||
       !r.ReadFlag(&v->fixed_frame_rate_flag)))
    return false;
  return true;
}

[[nodiscard]] bool ParseSeqParameterSet(BitReader& r, Q264SeqParameterSet* s) {
  uint32_t reserved_zero_2bits;
  if (!r.ReadBits(8, &s->profile_idc) || !r.ReadFlag(&s->constraint_set0_flag) ||
      !r.ReadFlag(&s->constraint_set1_flag) || !r.ReadFlag(&s->constraint_set2_flag) ||
      !r.ReadFlag(&s->constraint_set3_flag) || !r.ReadFlag(&s->constraint_set4_flag) ||
      !r.ReadFlag(&s->constraint_set5_flag) || !r.ReadBits(2, &reserved_zero_2bits) ||
      !r.ReadBits(8, &s->level_idc))
    return false;
  if (!r.ReadUeMax(kQ264MaxSpsId, &s->seq_parameter_set_id)) return false;
  s->chroma_format_idc = 1;
  if (Q264HasChromaFormatSyntax(s->profile_idc) && !ParseChromaFormatSyntax(r, s)) return false;
  if (!r.ReadUeMax(12, &s->log2_max_frame_num_minus4)) return false;
  if (!ParsePicOrderCnt(r, s)) return false;
  if (!r.ReadUeMax(kQ264MaxDpbFrames, &s->max_num_ref_frames)) return false;
  if (!r.ReadFlag(&s->gaps_in_frame_num_value_allowed_flag)) return false;
  if (!ParseFrameSize(r, s)) return false;
  if (!r.ReadFlag(&s->vui_parameters_present_flag)) return false;
  return !s->vui_parameters_present_flag || ParseVui(r, &s->vui);
}

}  // namespace

bool Q264HasChromaFormatSyntax(uint32_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
    case 144:  // High 4:4:4 of the first edition, since withdrawn
      return true;
    default:
      return false;
  }
}

Q264ParseResult Q264_ParseSeqParameterSet(const uint8_t* rbsp, size_t cbRbsp,
                                          Q264SeqParameterSet* pSps) {
  std::memset(pSps, 0, sizeof(*pSps));
  BitReader r(rbsp, cbRbsp);
  if (ParseSeqParameterSet(r, pSps)) return Q264ParseResult::kOk;
  return r.Overrun() ? Q264ParseResult::kTruncated : Q264ParseResult::kInvalid;
}

}  // namespace flvdmx

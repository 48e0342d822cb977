#include "parsers/h265_syntax.h"

#include <algorithm>
#include <cstring>

namespace flvdmx {

namespace {

// Table 7-6: the default 8x8 lists (up-right diagonal order) for sizeId 1
// to 3; matrixId 0 to 2 take the intra list, 3 to 5 the inter list.
constexpr uint8_t kDefaultIntra8x8[64] = {
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 16, 17, 18, 17, 18, 18, 17, 18, 21,
    19, 20, 21, 20, 19, 21, 24, 22, 22, 24, 24, 22, 22, 24, 25, 25, 27, 30, 27, 25, 25, 29,
    31, 35, 35, 31, 29, 36, 41, 44, 41, 36, 47, 54, 54, 47, 65, 70, 65, 88, 88, 115};
constexpr uint8_t kDefaultInter8x8[64] = {
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 17, 17, 17, 17, 18, 18, 18, 18, 18, 18, 20,
    20, 20, 20, 20, 20, 20, 24, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 28,
    28, 28, 28, 28, 28, 33, 33, 33, 33, 33, 41, 41, 41, 41, 54, 54, 54, 71, 71, 91};

uint32_t ScalingCoefCount(uint32_t sizeId) {
  return std::min<uint32_t>(64, 1u << (4 + (sizeId << 1)));
}

// The 88 bits that describe the profile of one layer.
[[nodiscard]] bool ReadProfileBits(BitReader& r, uint32_t* profile_space, uint32_t* tier_flag,
                                   uint32_t* profile_idc, uint32_t* compatibility_flags,
                                   uint32_t* progressive_source_flag,
                                   uint32_t* interlaced_source_flag,
                                   uint32_t* non_packed_constraint_flag,
                                   uint32_t* frame_only_constraint_flag) {
  // 43 reserved or constraint bits, then one more (general_inbld_flag or
  // reserved): neither matters here.
  return r.ReadBits(2, profile_space) && r.ReadFlag(tier_flag) && r.ReadBits(5, profile_idc) &&
         r.ReadBits(32, compatibility_flags) && r.ReadFlag(progressive_source_flag) &&
         r.ReadFlag(interlaced_source_flag) && r.ReadFlag(non_packed_constraint_flag) &&
         r.ReadFlag(frame_only_constraint_flag) && r.SkipBits(44);
}

// Equations 7-61 and 7-62: the delta-POC lists of a set predicted from
// `ref` by deltaRps. A list that would outgrow its capacity is rejected.
[[nodiscard]] bool DerivePredictedSet(const H265StRefPicSet& ref, int32_t deltaRps,
                                      H265StRefPicSet* s) {
  uint32_t i = 0;
  for (int j = static_cast<int>(ref.NumPositivePics) - 1; j >= 0; --j) {
    const int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
    if (dPoc < 0 && s->use_delta_flag[ref.NumNegativePics + j]) {
      if (i >= kH265MaxDeltaPocs) return false;
      s->DeltaPocS0[i] = dPoc;
      s->UsedByCurrPicS0[i++] = s->used_by_curr_pic_flag[ref.NumNegativePics + j];
    }
  }
  if (deltaRps < 0 && s->use_delta_flag[ref.NumDeltaPocs]) {
    if (i >= kH265MaxDeltaPocs) return false;
    s->DeltaPocS0[i] = deltaRps;
    s->UsedByCurrPicS0[i++] = s->used_by_curr_pic_flag[ref.NumDeltaPocs];
  }
  for (uint32_t j = 0; j < ref.NumNegativePics; ++j) {
    const int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
    if (dPoc < 0 && s->use_delta_flag[j]) {
      if (i >= kH265MaxDeltaPocs) return false;
      s->DeltaPocS0[i] = dPoc;
      s->UsedByCurrPicS0[i++] = s->used_by_curr_pic_flag[j];
    }
  }
  s->NumNegativePics = i;

  i = 0;
  for (int j = static_cast<int>(ref.NumNegativePics) - 1; j >= 0; --j) {
    const int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
    if (dPoc > 0 && s->use_delta_flag[j]) {
      if (i >= kH265MaxDeltaPocs) return false;
      s->DeltaPocS1[i] = dPoc;
      s->UsedByCurrPicS1[i++] = s->used_by_curr_pic_flag[j];
    }
  }
  if (deltaRps > 0 && s->use_delta_flag[ref.NumDeltaPocs]) {
    if (i >= kH265MaxDeltaPocs) return false;
    s->DeltaPocS1[i] = deltaRps;
    s->UsedByCurrPicS1[i++] = s->used_by_curr_pic_flag[ref.NumDeltaPocs];
  }
  for (uint32_t j = 0; j < ref.NumPositivePics; ++j) {
    const int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
    if (dPoc > 0 && s->use_delta_flag[ref.NumNegativePics + j]) {
      if (i >= kH265MaxDeltaPocs) return false;
      s->DeltaPocS1[i] = dPoc;
      s->UsedByCurrPicS1[i++] = s->used_by_curr_pic_flag[ref.NumNegativePics + j];
    }
  }
  s->NumPositivePics = i;
  return true;
}

// The picture counts are bounded by the lists' capacity, not by the
// decoded-picture-buffer size: a set that only breaks the latter still fits.
[[nodiscard]] bool ParseCodedSet(BitReader& r, H265StRefPicSet* s) {
  if (!r.ReadUeMax(kH265MaxDeltaPocs, &s->num_negative_pics) ||
      !r.ReadUeMax(kH265MaxDeltaPocs, &s->num_positive_pics))
    return false;
  int32_t poc = 0;
  for (uint32_t i = 0; i < s->num_negative_pics; ++i) {
    uint32_t delta_poc_s0_minus1, used_by_curr_pic_s0_flag;
    if (!r.ReadUeMax(32767, &delta_poc_s0_minus1) || !r.ReadFlag(&used_by_curr_pic_s0_flag))
      return false;
    poc -= static_cast<int32_t>(delta_poc_s0_minus1) + 1;
    s->DeltaPocS0[i] = poc;
    s->UsedByCurrPicS0[i] = static_cast<uint8_t>(used_by_curr_pic_s0_flag);
    s->NumNegativePics = i + 1;
  }
  poc = 0;
  for (uint32_t i = 0; i < s->num_positive_pics; ++i) {
    uint32_t delta_poc_s1_minus1, used_by_curr_pic_s1_flag;
    if (!r.ReadUeMax(32767, &delta_poc_s1_minus1) || !r.ReadFlag(&used_by_curr_pic_s1_flag))
      return false;
    poc += static_cast<int32_t>(delta_poc_s1_minus1) + 1;
    s->DeltaPocS1[i] = poc;
    s->UsedByCurrPicS1[i] = static_cast<uint8_t>(used_by_curr_pic_s1_flag);
    s->NumPositivePics = i + 1;
  }
  return true;
}

}  // namespace

bool ReadSeRange(BitReader& r, int32_t min, int32_t max, int32_t* pField) {
  int32_t v;
  if (!r.ReadSe(&v) || v < min || v > max) return false;
  *pField = v;
  return true;
}

bool ParseProfileTierLevel(BitReader& r, uint32_t maxNumSubLayersMinus1, H265ProfileTierLevel* p) {
  std::memset(p, 0, sizeof(*p));
  if (maxNumSubLayersMinus1 >= kH265MaxSubLayers) return false;
  if (!ReadProfileBits(r, &p->general_profile_space, &p->general_tier_flag, &p->general_profile_idc,
                       &p->general_profile_compatibility_flags, &p->general_progressive_source_flag,
                       &p->general_interlaced_source_flag, &p->general_non_packed_constraint_flag,
                       &p->general_frame_only_constraint_flag) ||
      !r.ReadBits(8, &p->general_level_idc))
    return false;
  if (maxNumSubLayersMinus1 == 0) return true;

  for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
    uint32_t profilePresent, levelPresent;
    if (!r.ReadFlag(&profilePresent) || !r.ReadFlag(&levelPresent)) return false;
    p->sub_layer_profile_present_flag[i] = static_cast<uint8_t>(profilePresent);
    p->sub_layer_level_present_flag[i] = static_cast<uint8_t>(levelPresent);
  }
  if (!r.SkipBits(2 * (8 - maxNumSubLayersMinus1))) return false;  // reserved_zero_2bits
  for (uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
    if (p->sub_layer_profile_present_flag[i]) {
      uint32_t space, tier, idc, progressive, interlaced, nonPacked, frameOnly;
      if (!ReadProfileBits(r, &space, &tier, &idc, &p->sub_layer_profile_compatibility_flags[i],
                           &progressive, &interlaced, &nonPacked, &frameOnly))
        return false;
      p->sub_layer_profile_space[i] = static_cast<uint8_t>(space);
      p->sub_layer_tier_flag[i] = static_cast<uint8_t>(tier);
      p->sub_layer_profile_idc[i] = static_cast<uint8_t>(idc);
      p->sub_layer_progressive_source_flag[i] = static_cast<uint8_t>(progressive);
      p->sub_layer_interlaced_source_flag[i] = static_cast<uint8_t>(interlaced);
      p->sub_layer_non_packed_constraint_flag[i] = static_cast<uint8_t>(nonPacked);
      p->sub_layer_frame_only_constraint_flag[i] = static_cast<uint8_t>(frameOnly);
    }
    if (p->sub_layer_level_present_flag[i]) {
      uint32_t level;
      if (!r.ReadBits(8, &level)) return false;
      p->sub_layer_level_idc[i] = static_cast<uint8_t>(level);
    }
  }
  return true;
}

void SetDefaultScalingLists(H265ScalingListData* d) {
  std::memset(d, 0, sizeof(*d));
  for (uint32_t matrixId = 0; matrixId < 6; ++matrixId) {
    std::memset(d->ScalingList[0][matrixId], 16, 16);
    for (uint32_t sizeId = 1; sizeId < 4; ++sizeId)
      std::memcpy(d->ScalingList[sizeId][matrixId],
                  matrixId < 3 ? kDefaultIntra8x8 : kDefaultInter8x8, 64);
    d->scaling_list_dc_coef_minus8[0][matrixId] = 8;  // a DC value of 16
    d->scaling_list_dc_coef_minus8[1][matrixId] = 8;
  }
}

bool ParseScalingListData(BitReader& r, H265ScalingListData* d) {
  SetDefaultScalingLists(d);
  for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
    const uint32_t step = sizeId == 3 ? 3 : 1;
    const uint32_t coefNum = ScalingCoefCount(sizeId);
    for (uint32_t matrixId = 0; matrixId < 6; matrixId += step) {
      uint32_t predModeFlag;
      if (!r.ReadFlag(&predModeFlag)) return false;
      d->scaling_list_pred_mode_flag[sizeId][matrixId] = static_cast<uint8_t>(predModeFlag);
      if (!predModeFlag) {
        uint32_t delta;
        if (!r.ReadUeMax(matrixId / step, &delta)) return false;
        d->scaling_list_pred_matrix_id_delta[sizeId][matrixId] = delta;
        if (delta == 0) continue;  // the default list, already in place
        const uint32_t refMatrixId = matrixId - delta * step;
        std::memcpy(d->ScalingList[sizeId][matrixId], d->ScalingList[sizeId][refMatrixId], coefNum);
        if (sizeId > 1)
          d->scaling_list_dc_coef_minus8[sizeId - 2][matrixId] =
              d->scaling_list_dc_coef_minus8[sizeId - 2][refMatrixId];
        continue;
      }
      int32_t nextCoef = 8;
      if (sizeId > 1) {
        if (!ReadSeRange(r, -7, 247, &d->scaling_list_dc_coef_minus8[sizeId - 2][matrixId]))
          return false;
        nextCoef = d->scaling_list_dc_coef_minus8[sizeId - 2][matrixId] + 8;
      }
      for (uint32_t i = 0; i < coefNum; ++i) {
        int32_t scaling_list_delta_coef;
        if (!ReadSeRange(r, -128, 127, &scaling_list_delta_coef)) return false;
        nextCoef = (nextCoef + scaling_list_delta_coef + 256) % 256;
        d->ScalingList[sizeId][matrixId][i] = static_cast<uint8_t>(nextCoef);
      }
    }
  }
  return true;
}

bool ParseStRefPicSet(BitReader& r, uint32_t stRpsIdx, uint32_t num_short_term_ref_pic_sets,
                      H265StRefPicSet* sets) {
  H265StRefPicSet* s = &sets[stRpsIdx];
  std::memset(s, 0, sizeof(*s));
  if (stRpsIdx != 0 && !r.ReadFlag(&s->inter_ref_pic_set_prediction_flag)) return false;
  if (!s->inter_ref_pic_set_prediction_flag) {
    if (!ParseCodedSet(r, s)) return false;
    s->NumDeltaPocs = s->NumNegativePics + s->NumPositivePics;
    return true;
  }

  if (stRpsIdx == num_short_term_ref_pic_sets && !r.ReadUeMax(stRpsIdx - 1, &s->delta_idx_minus1))
    return false;
  const H265StRefPicSet& ref = sets[stRpsIdx - (s->delta_idx_minus1 + 1)];
  if (!r.ReadFlag(&s->delta_rps_sign) || !r.ReadUeMax(32767, &s->abs_delta_rps_minus1))
    return false;
  const int32_t magnitude = static_cast<int32_t>(s->abs_delta_rps_minus1) + 1;
  const int32_t deltaRps = s->delta_rps_sign ? -magnitude : magnitude;
  // ref.NumDeltaPocs is at most twice the list capacity, so j stays inside
  // the flag arrays.
  for (uint32_t j = 0; j <= ref.NumDeltaPocs; ++j) {
    uint32_t used, useDelta = 1;
    if (!r.ReadFlag(&used)) return false;
    if (!used && !r.ReadFlag(&useDelta)) return false;
    s->used_by_curr_pic_flag[j] = static_cast<uint8_t>(used);
    s->use_delta_flag[j] = static_cast<uint8_t>(useDelta);
  }
  if (!DerivePredictedSet(ref, deltaRps, s)) return false;
  s->NumDeltaPocs = s->NumNegativePics + s->NumPositivePics;
  return true;
}

bool ParseSubLayerHrdParameters(BitReader& r, uint32_t CpbCnt, bool sub_pic_hrd_params_present_flag,
                                H265SubLayerHrdParameters* p) {
  if (CpbCnt > kH265MaxCpbCount) return false;
  for (uint32_t i = 0; i < CpbCnt; ++i) {
    uint32_t cbr;
    if (!r.ReadUe(&p->bit_rate_value_minus1[i]) || !r.ReadUe(&p->cpb_size_value_minus1[i]))
      return false;
    if (sub_pic_hrd_params_present_flag &&
        (!r.ReadUe(&p->cpb_size_du_value_minus1[i]) || !r.ReadUe(&p->bit_rate_du_value_minus1[i])))
      return false;
    if (!r.ReadFlag(&cbr)) return false;
    p->cbr_flag[i] = static_cast<uint8_t>(cbr);
  }
  return true;
}

bool ParseHrdParameters(BitReader& r, bool commonInfPresentFlag, uint32_t maxNumSubLayersMinus1,
                        H265HrdParameters* h) {
  std::memset(h, 0, sizeof(*h));
  if (maxNumSubLayersMinus1 >= kH265MaxSubLayers) return false;
  if (commonInfPresentFlag) {
    if (!r.ReadFlag(&h->nal_hrd_parameters_present_flag) ||
        !r.ReadFlag(&h->vcl_hrd_parameters_present_flag))
      return false;
    if (h->nal_hrd_parameters_present_flag || h->vcl_hrd_parameters_present_flag) {
      if (!r.ReadFlag(&h->sub_pic_hrd_params_present_flag)) return false;
      if (h->sub_pic_hrd_params_present_flag &&
          (!r.ReadBits(8, &h->tick_divisor_minus2) ||
           !r.ReadBits(5, &h->du_cpb_removal_delay_increment_length_minus1) ||
           !r.ReadFlag(&h->sub_pic_cpb_params_in_pic_timing_sei_flag) ||
           !r.ReadBits(5, &h->dpb_output_delay_du_length_minus1)))
        return false;
      if (!r.ReadBits(4, &h->bit_rate_scale) || !r.ReadBits(4, &h->cpb_size_scale)) return false;
      if (h->sub_pic_hrd_params_present_flag && !r.ReadBits(4, &h->cpb_size_du_scale)) return false;
      if (!r.ReadBits(5, &h->initial_cpb_removal_delay_length_minus1) ||
          !r.ReadBits(5, &h->au_cpb_removal_delay_length_minus1) ||
          !r.ReadBits(5, &h->dpb_output_delay_length_minus1))
        return false;
    }
  }
  for (uint32_t i = 0; i <= maxNumSubLayersMinus1; ++i) {
    uint32_t generalFlag, withinCvsFlag = 1, lowDelay = 0;
    if (!r.ReadFlag(&generalFlag)) return false;
    if (!generalFlag && !r.ReadFlag(&withinCvsFlag))
      return false;  // inferred 1 after a set general flag
    h->fixed_pic_rate_general_flag[i] = static_cast<uint8_t>(generalFlag);
    h->fixed_pic_rate_within_cvs_flag[i] = static_cast<uint8_t>(withinCvsFlag);
    if (withinCvsFlag) {
      if (!r.ReadUe(&h->elemental_duration_in_tc_minus1[i])) return false;
    } else if (!r.ReadFlag(&lowDelay)) {
      return false;
    }
    h->low_delay_hrd_flag[i] = static_cast<uint8_t>(lowDelay);
    if (!lowDelay && !r.ReadUeMax(kH265MaxCpbCount - 1, &h->cpb_cnt_minus1[i])) return false;
    const uint32_t CpbCnt = h->cpb_cnt_minus1[i] + 1;
    if (h->nal_hrd_parameters_present_flag &&
        !ParseSubLayerHrdParameters(r, CpbCnt, h->sub_pic_hrd_params_present_flag,
                                    &h->sub_layer_hrd_parameters[i]))
      return false;
    if (h->vcl_hrd_parameters_present_flag &&
        !ParseSubLayerHrdParameters(r, CpbCnt, h->sub_pic_hrd_params_present_flag,
                                    &h->sub_layer_hrd_parameters[i]))
      return false;
  }
  return true;
}

bool ParseVuiParameters(BitReader& r, uint32_t sps_max_sub_layers_minus1, H265VuiParameters* v) {
  std::memset(v, 0, sizeof(*v));
  if (!ParseVuiVideoDescription(r, v)) return false;
  if (!r.ReadFlag(&v->neutral_chroma_indication_flag) || !r.ReadFlag(&v->field_seq_flag) ||
      !r.ReadFlag(&v->frame_field_info_present_flag) ||
      !r.ReadFlag(&v->default_display_window_flag))
    return false;
  if (v->default_display_window_flag &&
      (!r.ReadUe(&v->def_disp_win_left_offset) || !r.ReadUe(&v->def_disp_win_right_offset) ||
       !r.ReadUe(&v->def_disp_win_top_offset) || !r.ReadUe(&v->def_disp_win_bottom_offset)))
    return false;
  if (!r.ReadFlag(&v->vui_timing_info_present_flag)) return false;
  if (v->vui_timing_info_present_flag) {
    if (!r.ReadBits(32, &v->vui_num_units_in_tick) || !r.ReadBits(32, &v->vui_time_scale) ||
        !r.ReadFlag(&v->vui_poc_proportional_to_timing_flag))
      return false;
    if (v->vui_poc_proportional_to_timing_flag && !r.ReadUe(&v->vui_num_ticks_poc_diff_one_minus1))
      return false;
    if (!r.ReadFlag(&v->vui_hrd_parameters_present_flag)) return false;
    if (v->vui_hrd_parameters_present_flag &&
        !ParseHrdParameters(r, true, sps_max_sub_layers_minus1, &v->hrd_parameters))
      return false;
  }
  if (!r.ReadFlag(&v->bitstream_restriction_flag)) return false;
  if (v->bitstream_restriction_flag &&
      (!r.ReadFlag(&v->tiles_fixed_structure_flag) ||
       !r.ReadFlag(&v->motion_vectors_over_pic_boundaries_flag) ||
       !r.ReadFlag(&v->restricted_ref_pic_lists_flag) ||
       !r.ReadUe(&v->min_spatial_segmentation_idc) || !r.ReadUe(&v->max_bytes_per_pic_denom) ||
       !r.ReadUe(&v->max_bits_per_min_cu_denom) || !r.ReadUe(&v->log2_max_mv_length_horizontal) ||
       !r.ReadUe(&v->log2_max_mv_length_vertical)))
    return false;
  return true;
}

}  // namespace flvdmx

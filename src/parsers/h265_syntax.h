// The H.265 syntax structures that the parameter sets share
// (profile_tier_level 7.3.3, scaling_list_data 7.3.4, st_ref_pic_set 7.3.7,
// vui_parameters E.2.1, hrd_parameters E.2.2, sub_layer_hrd_parameters
// E.2.3) as plain records named after the standard's syntax elements, and
// the parse function of each.
//
// Every record has fixed capacities that the standard's limits respect, and
// every count is checked against its capacity before it bounds a loop or an
// index. Values the standard forbids but that fit the records (reorder
// counts above the buffer size, out-of-range VUI fields) are kept as read:
// encoders write them and decoders play them. A parse function returns
// false when it stopped early: either the unit ran out (the reader's
// Overrun() is set; the fields not reached stay zero, which is how a
// truncated unit reads) or a value would not fit a record (or overflow
// the arithmetic on it).
#pragma once

#include <cstdint>

#include "base/bit_reader.h"
#include "nal/vui.h"

namespace flvdmx {

inline constexpr uint32_t kH265MaxSubLayers = 7;  // sub_layers_minus1 <= 6
inline constexpr uint32_t kH265MaxShortTermRefPicSets = 64;
inline constexpr uint32_t kH265MaxLongTermRefPicsSps = 32;
inline constexpr uint32_t kH265MaxCpbCount = 32;   // cpb_cnt_minus1 <= 31
inline constexpr uint32_t kH265MaxDeltaPocs = 16;  // entries in each delta-POC list

struct H265ProfileTierLevel {
  uint32_t general_profile_space;
  uint32_t general_tier_flag;
  uint32_t general_profile_idc;
  uint32_t general_profile_compatibility_flags;  // flag j in bit 31 - j, as read
  uint32_t general_progressive_source_flag;
  uint32_t general_interlaced_source_flag;
  uint32_t general_non_packed_constraint_flag;
  uint32_t general_frame_only_constraint_flag;
  uint32_t general_level_idc;
  uint8_t sub_layer_profile_present_flag[8];
  uint8_t sub_layer_level_present_flag[8];
  uint8_t sub_layer_profile_space[8];
  uint8_t sub_layer_tier_flag[8];
  uint8_t sub_layer_profile_idc[8];
  uint32_t sub_layer_profile_compatibility_flags[8];
  uint8_t sub_layer_progressive_source_flag[8];
  uint8_t sub_layer_interlaced_source_flag[8];
  uint8_t sub_layer_non_packed_constraint_flag[8];
  uint8_t sub_layer_frame_only_constraint_flag[8];
  uint8_t sub_layer_level_idc[8];
};

struct H265ScalingListData {
  uint8_t scaling_list_pred_mode_flag[4][6];
  uint32_t scaling_list_pred_matrix_id_delta[4][6];
  int32_t scaling_list_dc_coef_minus8[2][6];
  uint8_t ScalingList[4][6][64];  // the derived lists, as coded, copied or defaulted
};

struct H265StRefPicSet {
  uint32_t inter_ref_pic_set_prediction_flag;
  uint32_t delta_idx_minus1;
  uint32_t delta_rps_sign;
  uint32_t abs_delta_rps_minus1;
  uint8_t used_by_curr_pic_flag[2 * kH265MaxDeltaPocs + 1];
  uint8_t use_delta_flag[2 * kH265MaxDeltaPocs + 1];
  uint32_t num_negative_pics;  // as coded (0 for a predicted set)
  uint32_t num_positive_pics;
  uint32_t NumNegativePics;  // derived, for either kind of set
  uint32_t NumPositivePics;
  uint32_t NumDeltaPocs;
  int32_t DeltaPocS0[kH265MaxDeltaPocs];
  uint8_t UsedByCurrPicS0[kH265MaxDeltaPocs];
  int32_t DeltaPocS1[kH265MaxDeltaPocs];
  uint8_t UsedByCurrPicS1[kH265MaxDeltaPocs];
};

struct H265SubLayerHrdParameters {
  uint32_t bit_rate_value_minus1[kH265MaxCpbCount];
  uint32_t cpb_size_value_minus1[kH265MaxCpbCount];
  uint32_t cpb_size_du_value_minus1[kH265MaxCpbCount];
  uint32_t bit_rate_du_value_minus1[kH265MaxCpbCount];
  uint8_t cbr_flag[kH265MaxCpbCount];
};

struct H265HrdParameters {
  uint32_t nal_hrd_parameters_present_flag;
  uint32_t vcl_hrd_parameters_present_flag;
  uint32_t sub_pic_hrd_params_present_flag;
  uint32_t tick_divisor_minus2;
  uint32_t du_cpb_removal_delay_increment_length_minus1;
  uint32_t sub_pic_cpb_params_in_pic_timing_sei_flag;
  uint32_t dpb_output_delay_du_length_minus1;
  uint32_t bit_rate_scale;
  uint32_t cpb_size_scale;
  uint32_t cpb_size_du_scale;
  uint32_t initial_cpb_removal_delay_length_minus1;
  uint32_t au_cpb_removal_delay_length_minus1;
  uint32_t dpb_output_delay_length_minus1;
  uint8_t fixed_pic_rate_general_flag[8];
  uint8_t fixed_pic_rate_within_cvs_flag[8];
  uint32_t elemental_duration_in_tc_minus1[8];
  uint8_t low_delay_hrd_flag[8];
  uint32_t cpb_cnt_minus1[8];
  // One record per sub-layer: the VCL parameters overwrite the NAL ones.
  H265SubLayerHrdParameters sub_layer_hrd_parameters[8];
};

struct H265VuiParameters : VuiVideoDescription {
  uint32_t neutral_chroma_indication_flag;
  uint32_t field_seq_flag;
  uint32_t frame_field_info_present_flag;
  uint32_t default_display_window_flag;
  uint32_t def_disp_win_left_offset;
  uint32_t def_disp_win_right_offset;
  uint32_t def_disp_win_top_offset;
  uint32_t def_disp_win_bottom_offset;
  uint32_t vui_timing_info_present_flag;
  uint32_t vui_num_units_in_tick;
  uint32_t vui_time_scale;
  uint32_t vui_poc_proportional_to_timing_flag;
  uint32_t vui_num_ticks_poc_diff_one_minus1;
  uint32_t vui_hrd_parameters_present_flag;
  H265HrdParameters hrd_parameters;
  uint32_t bitstream_restriction_flag;
  uint32_t tiles_fixed_structure_flag;
  uint32_t motion_vectors_over_pic_boundaries_flag;
  uint32_t restricted_ref_pic_lists_flag;
  uint32_t min_spatial_segmentation_idc;
  uint32_t max_bytes_per_pic_denom;
  uint32_t max_bits_per_min_cu_denom;
  uint32_t log2_max_mv_length_horizontal;
  uint32_t log2_max_mv_length_vertical;
};

// One se(v) read and range-checked in one step; *pField is written only when
// the value lies in [min, max].
[[nodiscard]] bool ReadSeRange(BitReader& r, int32_t min, int32_t max, int32_t* pField);

// profile_tier_level(1, maxNumSubLayersMinus1); maxNumSubLayersMinus1 < 7.
[[nodiscard]] bool ParseProfileTierLevel(BitReader& r, uint32_t maxNumSubLayersMinus1,
                                         H265ProfileTierLevel* pPtl);

// scaling_list_data(). The record is filled with the default lists first.
[[nodiscard]] bool ParseScalingListData(BitReader& r, H265ScalingListData* pData);
// The lists inferred when a set enables scaling lists without coding them.
void SetDefaultScalingLists(H265ScalingListData* pData);

// st_ref_pic_set(stRpsIdx): sets[0 .. stRpsIdx - 1] are the sets parsed
// before it (a set may be predicted from one of them), sets[stRpsIdx] is
// filled. Each delta-POC list holds at most kH265MaxDeltaPocs pictures.
[[nodiscard]] bool ParseStRefPicSet(BitReader& r, uint32_t stRpsIdx,
                                    uint32_t num_short_term_ref_pic_sets, H265StRefPicSet* sets);

// hrd_parameters(commonInfPresentFlag, maxNumSubLayersMinus1); the second
// argument is below 7.
[[nodiscard]] bool ParseHrdParameters(BitReader& r, bool commonInfPresentFlag,
                                      uint32_t maxNumSubLayersMinus1, H265HrdParameters* pHrd);

// sub_layer_hrd_parameters(subLayerId) with its CpbCnt (1 to 32).
[[nodiscard]] bool ParseSubLayerHrdParameters(BitReader& r, uint32_t CpbCnt,
                                              bool sub_pic_hrd_params_present_flag,
                                              H265SubLayerHrdParameters* pSubLayer);

// vui_parameters(); sps_max_sub_layers_minus1 is below 7.
[[nodiscard]] bool ParseVuiParameters(BitReader& r, uint32_t sps_max_sub_layers_minus1,
                                      H265VuiParameters* pVui);

}  // namespace flvdmx

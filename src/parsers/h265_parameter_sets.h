// The H.265 video, sequence and picture parameter sets (7.3.2.1 to 7.3.2.3)
// as records named after the standard's syntax elements, and their parse
// functions. A record holds the last set of its kind parsed into it; a parse
// replaces it as a whole. The two records with owned arrays (the video
// parameter set's HRD entries, the picture parameter set's tile sizes) free
// them when reset or destroyed.
#pragma once

#include <cstdint>
#include <memory>

#include "base/bit_reader.h"
#include "parsers/h265_syntax.h"
#include "platform/com.h"

namespace flvdmx {

// Outcome of one parameter-set parse.
enum class H265SetResult { kParsed, kRejected, kOutOfMemory };

inline constexpr uint32_t kH265MaxLayerSets = 1024;   // vps_num_layer_sets_minus1 <= 1023
inline constexpr uint32_t kH265StoredLayerSets = 32;  // rows kept of layer_id_included_flag
inline constexpr uint32_t kH265StoredLayerIds = 32;   // flags kept per row
// No level allows a picture side above 16888 samples, that is 1056 coding
// tree blocks of the smallest size: no more tile columns or rows than that.
inline constexpr uint32_t kH265MaxTilesPerSide = 1056;

struct H265VpsHrdEntry {
  uint32_t hrd_layer_set_idx;
  uint32_t cprms_present_flag;
  H265HrdParameters hrd_parameters;
};

struct H265VideoParameterSet {
  uint32_t vps_video_parameter_set_id;
  uint32_t vps_max_layers_minus1;
  uint32_t vps_max_sub_layers_minus1;
  uint32_t vps_temporal_id_nesting_flag;
  H265ProfileTierLevel profile_tier_level;
  uint32_t vps_sub_layer_ordering_info_present_flag;
  uint8_t vps_max_dec_pic_buffering_minus1[kH265MaxSubLayers];
  uint8_t vps_max_num_reorder_pics[kH265MaxSubLayers];
  uint32_t vps_max_latency_increase_plus1[kH265MaxSubLayers];
  uint32_t vps_max_layer_id;
  uint32_t vps_num_layer_sets_minus1;
  // Layer sets 1 to 31, layer ids 0 to 31; flags beyond are read and dropped.
  uint8_t layer_id_included_flag[kH265StoredLayerSets][kH265StoredLayerIds];
  uint32_t vps_timing_info_present_flag;
  uint32_t vps_num_units_in_tick;  // 1 when absent
  uint32_t vps_time_scale;         // 30 when absent
  uint32_t vps_poc_proportional_to_timing_flag;
  uint32_t vps_num_ticks_poc_diff_one_minus1;
  uint32_t vps_num_hrd_parameters;
  std::unique_ptr<H265VpsHrdEntry[]> hrd;  // vps_num_hrd_parameters entries
  uint32_t vps_extension_flag;
};

struct H265SeqParameterSet {
  uint32_t sps_video_parameter_set_id;
  uint32_t sps_max_sub_layers_minus1;
  uint32_t sps_temporal_id_nesting_flag;
  H265ProfileTierLevel profile_tier_level;
  uint32_t sps_seq_parameter_set_id;
  uint32_t chroma_format_idc;
  uint32_t separate_colour_plane_flag;
  uint32_t pic_width_in_luma_samples;
  uint32_t pic_height_in_luma_samples;
  uint32_t conformance_window_flag;
  uint32_t conf_win_left_offset;
  uint32_t conf_win_right_offset;
  uint32_t conf_win_top_offset;
  uint32_t conf_win_bottom_offset;
  uint32_t bit_depth_luma_minus8;
  uint32_t bit_depth_chroma_minus8;
  uint32_t log2_max_pic_order_cnt_lsb_minus4;
  uint32_t sps_sub_layer_ordering_info_present_flag;
  uint32_t sps_max_dec_pic_buffering_minus1[kH265MaxSubLayers];
  uint32_t sps_max_num_reorder_pics[kH265MaxSubLayers];
  uint32_t sps_max_latency_increase_plus1[kH265MaxSubLayers];
  uint32_t log2_min_luma_coding_block_size_minus3;
  uint32_t log2_diff_max_min_luma_coding_block_size;
  uint32_t log2_min_luma_transform_block_size_minus2;
  uint32_t log2_diff_max_min_luma_transform_block_size;
  uint32_t max_transform_hierarchy_depth_inter;
  uint32_t max_transform_hierarchy_depth_intra;
  uint32_t scaling_list_enabled_flag;
  uint32_t sps_scaling_list_data_present_flag;
  H265ScalingListData scaling_list_data;
  uint32_t amp_enabled_flag;
  uint32_t sample_adaptive_offset_enabled_flag;
  uint32_t pcm_enabled_flag;
  uint32_t pcm_sample_bit_depth_luma_minus1;
  uint32_t pcm_sample_bit_depth_chroma_minus1;
  uint32_t log2_min_pcm_luma_coding_block_size_minus3;
  uint32_t log2_diff_max_min_pcm_luma_coding_block_size;
  uint32_t pcm_loop_filter_disabled_flag;
  uint32_t num_short_term_ref_pic_sets;
  // One slot more than the sets themselves: slice headers may code a set
  // at index num_short_term_ref_pic_sets.
  H265StRefPicSet st_ref_pic_set[kH265MaxShortTermRefPicSets + 1];
  uint32_t long_term_ref_pics_present_flag;
  uint32_t num_long_term_ref_pics_sps;
  uint32_t lt_ref_pic_poc_lsb_sps[kH265MaxLongTermRefPicsSps];
  uint8_t used_by_curr_pic_lt_sps_flag[kH265MaxLongTermRefPicsSps];
  uint32_t sps_temporal_mvp_enabled_flag;
  uint32_t strong_intra_smoothing_enabled_flag;
  uint32_t vui_parameters_present_flag;
  H265VuiParameters vui;
  uint32_t sps_extension_present_flag;
};

struct H265PicParameterSet {
  uint32_t pps_pic_parameter_set_id;
  uint32_t pps_seq_parameter_set_id;
  uint32_t dependent_slice_segments_enabled_flag;
  uint32_t output_flag_present_flag;
  uint32_t num_extra_slice_header_bits;
  uint32_t sign_data_hiding_enabled_flag;
  uint32_t cabac_init_present_flag;
  uint32_t num_ref_idx_l0_default_active_minus1;
  uint32_t num_ref_idx_l1_default_active_minus1;
  int32_t init_qp_minus26;
  uint32_t constrained_intra_pred_flag;
  uint32_t transform_skip_enabled_flag;
  uint32_t cu_qp_delta_enabled_flag;
  uint32_t diff_cu_qp_delta_depth;
  int32_t pps_cb_qp_offset;
  int32_t pps_cr_qp_offset;
  uint32_t pps_slice_chroma_qp_offsets_present_flag;
  uint32_t weighted_pred_flag;
  uint32_t weighted_bipred_flag;
  uint32_t transquant_bypass_enabled_flag;
  uint32_t tiles_enabled_flag;
  uint32_t entropy_coding_sync_enabled_flag;
  uint32_t num_tile_columns_minus1;
  uint32_t num_tile_rows_minus1;
  uint32_t uniform_spacing_flag;                    // 1 when absent
  std::unique_ptr<uint32_t[]> column_width_minus1;  // num_tile_columns_minus1 entries
  std::unique_ptr<uint32_t[]> row_height_minus1;    // num_tile_rows_minus1 entries
  uint32_t loop_filter_across_tiles_enabled_flag;
  uint32_t pps_loop_filter_across_slices_enabled_flag;
  uint32_t deblocking_filter_control_present_flag;
  uint32_t deblocking_filter_override_enabled_flag;
  uint32_t pps_deblocking_filter_disabled_flag;
  int32_t pps_beta_offset_div2;
  int32_t pps_tc_offset_div2;
  uint32_t pps_scaling_list_data_present_flag;
  H265ScalingListData scaling_list_data;
  uint32_t lists_modification_present_flag;
  uint32_t log2_parallel_merge_level_minus2;
  uint32_t slice_segment_header_extension_present_flag;
};

// Each parses one set from a reader over the unit's payload into the record
// (reset first). kParsed when parsed; a unit that ends early counts as
// parsed, the fields it did not reach reading as zero. Values the standard
// forbids are kept as read when they fit the record. kRejected when a value
// would not fit the record (a count beyond an array, an Exp-Golomb code
// beyond 32 bits): the fields read before it stay, the rest read as zero.
// kOutOfMemory when an owned array cannot be allocated.
H265SetResult ParseVideoParameterSet(BitReader& r, H265VideoParameterSet* pVps);
H265SetResult ParseSeqParameterSet(BitReader& r, H265SeqParameterSet* pSps);
H265SetResult ParsePicParameterSet(BitReader& r, H265PicParameterSet* pPps);

void ResetVideoParameterSet(H265VideoParameterSet* pVps);
void ResetSeqParameterSet(H265SeqParameterSet* pSps);
void ResetPicParameterSet(H265PicParameterSet* pPps);

}  // namespace flvdmx

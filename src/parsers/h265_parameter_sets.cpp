#include "parsers/h265_parameter_sets.h"

#include <cstring>
#include <new>
#include <type_traits>

namespace flvdmx {

namespace {

static_assert(std::is_trivially_copyable_v<H265SeqParameterSet>, "reset with memset");

// The outcome of a parse that stopped before its end: a unit that ran out
// is kept as far as it went, anything else was a value the standard forbids.
H265SetResult StoppedEarly(const BitReader& r, bool outOfMemory) {
  if (outOfMemory) return H265SetResult::kOutOfMemory;
  return r.Overrun() ? H265SetResult::kParsed : H265SetResult::kRejected;
}

// An 8-bit field keeps a larger value as its largest.
uint8_t Saturated8(uint32_t value) { return static_cast<uint8_t>(value > 255 ? 255 : value); }

// Sub-layers below the highest that carry no ordering values take the
// highest sub-layer's.
template <typename T>
void InferSubLayerOrdering(uint32_t present, uint32_t maxSubLayersMinus1, T* dpb, T* reorder,
                           uint32_t* latency) {
  if (present) return;
  for (uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    dpb[i] = dpb[maxSubLayersMinus1];
    reorder[i] = reorder[maxSubLayersMinus1];
    latency[i] = latency[maxSubLayersMinus1];
  }
}

[[nodiscard]] bool ParseVps(BitReader& r, H265VideoParameterSet* v, bool* pbOutOfMemory) {
  uint32_t vps_base_layer_internal_flag, vps_base_layer_available_flag, vps_reserved_0xffff_16bits,
      maxSubLayersMinus1;
  if (!r.ReadBits(4, &v->vps_video_parameter_set_id) ||
      !r.ReadFlag(&vps_base_layer_internal_flag) || !r.ReadFlag(&vps_base_layer_available_flag) ||
      !r.ReadBits(6, &v->vps_max_layers_minus1) || !r.ReadBits(3, &maxSubLayersMinus1) ||
      maxSubLayersMinus1 >= kH265MaxSubLayers)
    return false;
  v->vps_max_sub_layers_minus1 = maxSubLayersMinus1;
  if (!r.ReadFlag(&v->vps_temporal_id_nesting_flag) || !r.ReadBits(16, &vps_reserved_0xffff_16bits))
    return false;
  if (!ParseProfileTierLevel(r, maxSubLayersMinus1, &v->profile_tier_level)) return false;

  if (!r.ReadFlag(&v->vps_sub_layer_ordering_info_present_flag)) return false;
  for (uint32_t i = v->vps_sub_layer_ordering_info_present_flag ? 0 : maxSubLayersMinus1;
       i <= maxSubLayersMinus1; ++i) {
    uint32_t dpb, reorder;
    if (!r.ReadUe(&dpb) || !r.ReadUe(&reorder) || !r.ReadUe(&v->vps_max_latency_increase_plus1[i]))
      return false;
    v->vps_max_dec_pic_buffering_minus1[i] = Saturated8(dpb);
    v->vps_max_num_reorder_pics[i] = Saturated8(reorder);
  }
  InferSubLayerOrdering(v->vps_sub_layer_ordering_info_present_flag, maxSubLayersMinus1,
                        v->vps_max_dec_pic_buffering_minus1, v->vps_max_num_reorder_pics,
                        v->vps_max_latency_increase_plus1);

  uint32_t maxLayerId;
  if (!r.ReadBits(6, &maxLayerId)) return false;
  v->vps_max_layer_id = maxLayerId;
  if (!r.ReadUeMax(kH265MaxLayerSets - 1, &v->vps_num_layer_sets_minus1)) return false;
  for (uint32_t i = 1; i <= v->vps_num_layer_sets_minus1; ++i) {
    for (uint32_t j = 0; j <= maxLayerId; ++j) {
      uint32_t flag;
      if (!r.ReadFlag(&flag)) return false;
      if (i < kH265StoredLayerSets && j < kH265StoredLayerIds)
        v->layer_id_included_flag[i][j] = static_cast<uint8_t>(flag);
    }
  }

  if (!r.ReadFlag(&v->vps_timing_info_present_flag)) return false;
  if (v->vps_timing_info_present_flag) {
    uint32_t ticks, scale;
    if (!r.ReadBits(32, &ticks) || !r.ReadBits(32, &scale)) return false;
    v->vps_num_units_in_tick = ticks;
    v->vps_time_scale = scale;
    if (!r.ReadFlag(&v->vps_poc_proportional_to_timing_flag)) return false;
    if (v->vps_poc_proportional_to_timing_flag && !r.ReadUe(&v->vps_num_ticks_poc_diff_one_minus1))
      return false;
    uint32_t numHrd;
    if (!r.ReadUeMax(v->vps_num_layer_sets_minus1 + 1, &numHrd)) return false;
    if (numHrd) {
      v->hrd.reset(new (std::nothrow) H265VpsHrdEntry[numHrd]());
      if (!v->hrd) {
        *pbOutOfMemory = true;
        return false;
      }
      v->vps_num_hrd_parameters = numHrd;
    }
    for (uint32_t i = 0; i < numHrd; ++i) {
      H265VpsHrdEntry& e = v->hrd[i];
      if (!r.ReadUe(&e.hrd_layer_set_idx)) return false;
      e.cprms_present_flag = 1;
      if (i > 0 && !r.ReadFlag(&e.cprms_present_flag)) return false;
      if (!ParseHrdParameters(r, e.cprms_present_flag != 0, maxSubLayersMinus1, &e.hrd_parameters))
        return false;
    }
  }
  return r.ReadFlag(&v->vps_extension_flag);
}

[[nodiscard]] bool ParseConformanceWindow(BitReader& r, H265SeqParameterSet* s) {
  if (!r.ReadFlag(&s->conformance_window_flag)) return false;
  if (!s->conformance_window_flag) return true;
  // Kept as read, even a window that leaves no picture: the size is taken
  // from the whole picture then (see the mini-parser).
  return r.ReadUe(&s->conf_win_left_offset) && r.ReadUe(&s->conf_win_right_offset) &&
         r.ReadUe(&s->conf_win_top_offset) && r.ReadUe(&s->conf_win_bottom_offset);
}

[[nodiscard]] bool ParseSpsSubLayerOrdering(BitReader& r, uint32_t maxSubLayersMinus1,
                                            H265SeqParameterSet* s) {
  if (!r.ReadFlag(&s->sps_sub_layer_ordering_info_present_flag)) return false;
  for (uint32_t i = s->sps_sub_layer_ordering_info_present_flag ? 0 : maxSubLayersMinus1;
       i <= maxSubLayersMinus1; ++i) {
    if (!r.ReadUe(&s->sps_max_dec_pic_buffering_minus1[i]) ||
        !r.ReadUe(&s->sps_max_num_reorder_pics[i]) ||
        !r.ReadUe(&s->sps_max_latency_increase_plus1[i]))
      return false;
  }
  InferSubLayerOrdering(s->sps_sub_layer_ordering_info_present_flag, maxSubLayersMinus1,
                        s->sps_max_dec_pic_buffering_minus1, s->sps_max_num_reorder_pics,
                        s->sps_max_latency_increase_plus1);
  return true;
}

// Block sizes, scaling lists and the coding tools up to PCM.
[[nodiscard]] bool ParseSpsCodingTools(BitReader& r, H265SeqParameterSet* s) {
  if (!r.ReadUe(&s->log2_min_luma_coding_block_size_minus3) ||
      !r.ReadUe(&s->log2_diff_max_min_luma_coding_block_size) ||
      !r.ReadUe(&s->log2_min_luma_transform_block_size_minus2) ||
      !r.ReadUe(&s->log2_diff_max_min_luma_transform_block_size) ||
      !r.ReadUe(&s->max_transform_hierarchy_depth_inter) ||
      !r.ReadUe(&s->max_transform_hierarchy_depth_intra))
    return false;

  if (!r.ReadFlag(&s->scaling_list_enabled_flag)) return false;
  if (s->scaling_list_enabled_flag) {
    if (!r.ReadFlag(&s->sps_scaling_list_data_present_flag)) return false;
    if (!s->sps_scaling_list_data_present_flag)
      SetDefaultScalingLists(&s->scaling_list_data);
    else if (!ParseScalingListData(r, &s->scaling_list_data))
      return false;
  }

  if (!r.ReadFlag(&s->amp_enabled_flag) || !r.ReadFlag(&s->sample_adaptive_offset_enabled_flag) ||
      !r.ReadFlag(&s->pcm_enabled_flag))
    return false;
  if (s->pcm_enabled_flag && (!r.ReadBits(4, &s->pcm_sample_bit_depth_luma_minus1) ||
                              !r.ReadBits(4, &s->pcm_sample_bit_depth_chroma_minus1) ||
                              !r.ReadUe(&s->log2_min_pcm_luma_coding_block_size_minus3) ||
                              !r.ReadUe(&s->log2_diff_max_min_pcm_luma_coding_block_size) ||
                              !r.ReadFlag(&s->pcm_loop_filter_disabled_flag)))
    return false;
  return true;
}

[[nodiscard]] bool ParseSpsReferencePictures(BitReader& r, uint32_t maxSubLayersMinus1,
                                             H265SeqParameterSet* s) {
  if (!r.ReadUeMax(kH265MaxShortTermRefPicSets, &s->num_short_term_ref_pic_sets)) return false;
  for (uint32_t i = 0; i < s->num_short_term_ref_pic_sets; ++i) {
    if (!ParseStRefPicSet(r, i, s->num_short_term_ref_pic_sets, s->st_ref_pic_set)) return false;
  }

  if (!r.ReadFlag(&s->long_term_ref_pics_present_flag)) return false;
  if (s->long_term_ref_pics_present_flag) {
    if (!r.ReadUeMax(kH265MaxLongTermRefPicsSps, &s->num_long_term_ref_pics_sps)) return false;
    const int lsbBits = static_cast<int>(s->log2_max_pic_order_cnt_lsb_minus4) + 4;
    for (uint32_t i = 0; i < s->num_long_term_ref_pics_sps; ++i) {
      uint32_t used;
      if (!r.ReadBits(lsbBits, &s->lt_ref_pic_poc_lsb_sps[i]) || !r.ReadFlag(&used)) return false;
      s->used_by_curr_pic_lt_sps_flag[i] = static_cast<uint8_t>(used);
    }
  }
  return true;
}

[[nodiscard]] bool ParseSps(BitReader& r, H265SeqParameterSet* s) {
  uint32_t maxSubLayersMinus1;
  if (!r.ReadBits(4, &s->sps_video_parameter_set_id) || !r.ReadBits(3, &maxSubLayersMinus1) ||
      maxSubLayersMinus1 >= kH265MaxSubLayers)
    return false;
  s->sps_max_sub_layers_minus1 = maxSubLayersMinus1;
  if (!r.ReadFlag(&s->sps_temporal_id_nesting_flag)) return false;
  if (!ParseProfileTierLevel(r, maxSubLayersMinus1, &s->profile_tier_level)) return false;
  if (!r.ReadUe(&s->sps_seq_parameter_set_id) || !r.ReadUe(&s->chroma_format_idc)) return false;
  if (s->chroma_format_idc == 3 && !r.ReadFlag(&s->separate_colour_plane_flag)) return false;
  if (!r.ReadUe(&s->pic_width_in_luma_samples) || !r.ReadUe(&s->pic_height_in_luma_samples))
    return false;
  if (!ParseConformanceWindow(r, s)) return false;
  // The POC bit count bounds the width of later reads, so it is checked.
  if (!r.ReadUe(&s->bit_depth_luma_minus8) || !r.ReadUe(&s->bit_depth_chroma_minus8) ||
      !r.ReadUeMax(12, &s->log2_max_pic_order_cnt_lsb_minus4))
    return false;

  if (!ParseSpsSubLayerOrdering(r, maxSubLayersMinus1, s)) return false;

  if (!ParseSpsCodingTools(r, s)) return false;

  if (!ParseSpsReferencePictures(r, maxSubLayersMinus1, s)) return false;

  if (!r.ReadFlag(&s->sps_temporal_mvp_enabled_flag) ||
      !r.ReadFlag(&s->strong_intra_smoothing_enabled_flag) ||
      !r.ReadFlag(&s->vui_parameters_present_flag))
    return false;
  if (s->vui_parameters_present_flag && !ParseVuiParameters(r, maxSubLayersMinus1, &s->vui))
    return false;
  return r.ReadFlag(&s->sps_extension_present_flag);
}

[[nodiscard]] bool ParseTiles(BitReader& r, H265PicParameterSet* p, bool* pbOutOfMemory) {
  if (!r.ReadUeMax(kH265MaxTilesPerSide - 1, &p->num_tile_columns_minus1) ||
      !r.ReadUeMax(kH265MaxTilesPerSide - 1, &p->num_tile_rows_minus1) ||
      !r.ReadFlag(&p->uniform_spacing_flag))
    return false;
  if (!p->uniform_spacing_flag) {
    if (p->num_tile_columns_minus1) {
      p->column_width_minus1.reset(new (std::nothrow) uint32_t[p->num_tile_columns_minus1]());
      if (!p->column_width_minus1) *pbOutOfMemory = true;
    }
    if (p->num_tile_rows_minus1) {
      p->row_height_minus1.reset(new (std::nothrow) uint32_t[p->num_tile_rows_minus1]());
      if (!p->row_height_minus1) *pbOutOfMemory = true;
    }
    if (*pbOutOfMemory) return false;
    for (uint32_t i = 0; i < p->num_tile_columns_minus1; ++i)
      if (!r.ReadUe(&p->column_width_minus1[i])) return false;
    for (uint32_t i = 0; i < p->num_tile_rows_minus1; ++i)
      if (!r.ReadUe(&p->row_height_minus1[i])) return false;
  }
  return r.ReadFlag(&p->loop_filter_across_tiles_enabled_flag);
}

[[nodiscard]] bool ParsePps(BitReader& r, H265PicParameterSet* p, bool* pbOutOfMemory) {
  if (!r.ReadUe(&p->pps_pic_parameter_set_id) || !r.ReadUe(&p->pps_seq_parameter_set_id) ||
      !r.ReadFlag(&p->dependent_slice_segments_enabled_flag) ||
      !r.ReadFlag(&p->output_flag_present_flag) ||
      !r.ReadBits(3, &p->num_extra_slice_header_bits) ||
      !r.ReadFlag(&p->sign_data_hiding_enabled_flag) || !r.ReadFlag(&p->cabac_init_present_flag) ||
      !r.ReadUe(&p->num_ref_idx_l0_default_active_minus1) ||
      !r.ReadUe(&p->num_ref_idx_l1_default_active_minus1) || !r.ReadSe(&p->init_qp_minus26))
    return false;
  if (!r.ReadFlag(&p->constrained_intra_pred_flag) ||
      !r.ReadFlag(&p->transform_skip_enabled_flag) || !r.ReadFlag(&p->cu_qp_delta_enabled_flag))
    return false;
  if (p->cu_qp_delta_enabled_flag && !r.ReadUe(&p->diff_cu_qp_delta_depth)) return false;
  if (!r.ReadSe(&p->pps_cb_qp_offset) || !r.ReadSe(&p->pps_cr_qp_offset) ||
      !r.ReadFlag(&p->pps_slice_chroma_qp_offsets_present_flag) ||
      !r.ReadFlag(&p->weighted_pred_flag) || !r.ReadFlag(&p->weighted_bipred_flag) ||
      !r.ReadFlag(&p->transquant_bypass_enabled_flag) || !r.ReadFlag(&p->tiles_enabled_flag) ||
      !r.ReadFlag(&p->entropy_coding_sync_enabled_flag))
    return false;
  if (p->tiles_enabled_flag && !ParseTiles(r, p, pbOutOfMemory)) return false;
  if (!r.ReadFlag(&p->pps_loop_filter_across_slices_enabled_flag) ||
      !r.ReadFlag(&p->deblocking_filter_control_present_flag))
    return false;
  if (p->deblocking_filter_control_present_flag) {
    if (!r.ReadFlag(&p->deblocking_filter_override_enabled_flag) ||
        !r.ReadFlag(&p->pps_deblocking_filter_disabled_flag))
      return false;
    if (!p->pps_deblocking_filter_disabled_flag &&
        (!r.ReadSe(&p->pps_beta_offset_div2) || !r.ReadSe(&p->pps_tc_offset_div2)))
      return false;
  }
  if (!r.ReadFlag(&p->pps_scaling_list_data_present_flag)) return false;
  if (p->pps_scaling_list_data_present_flag && !ParseScalingListData(r, &p->scaling_list_data))
    return false;
  return r.ReadFlag(&p->lists_modification_present_flag) &&
         r.ReadUe(&p->log2_parallel_merge_level_minus2) &&
         r.ReadFlag(&p->slice_segment_header_extension_present_flag);
}

}  // namespace

void ResetVideoParameterSet(H265VideoParameterSet* pVps) {
  *pVps = H265VideoParameterSet{};
  pVps->vps_num_units_in_tick = 1;
  pVps->vps_time_scale = 30;
}

void ResetSeqParameterSet(H265SeqParameterSet* pSps) { std::memset(pSps, 0, sizeof(*pSps)); }

void ResetPicParameterSet(H265PicParameterSet* pPps) {
  *pPps = H265PicParameterSet{};
  pPps->uniform_spacing_flag = 1;
}

H265SetResult ParseVideoParameterSet(BitReader& r, H265VideoParameterSet* pVps) {
  ResetVideoParameterSet(pVps);
  bool outOfMemory = false;
  return ParseVps(r, pVps, &outOfMemory) ? H265SetResult::kParsed : StoppedEarly(r, outOfMemory);
}

H265SetResult ParseSeqParameterSet(BitReader& r, H265SeqParameterSet* pSps) {
  ResetSeqParameterSet(pSps);
  return ParseSps(r, pSps) ? H265SetResult::kParsed : StoppedEarly(r, false);
}

H265SetResult ParsePicParameterSet(BitReader& r, H265PicParameterSet* pPps) {
  ResetPicParameterSet(pPps);
  bool outOfMemory = false;
  return ParsePps(r, pPps, &outOfMemory) ? H265SetResult::kParsed : StoppedEarly(r, outOfMemory);
}

}  // namespace flvdmx

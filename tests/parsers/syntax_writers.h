// Test helpers that write H.264 / H.265 syntax: a most-significant-bit-first
// bit writer with Exp-Golomb codes, stored units with emulation prevention,
// Annex B framing, and parameter sets from a few chosen fields (the rest
// plain defaults). Values are written unchecked, so tests can break limits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace flvdmx::test {

class BitWriter {
 public:
  BitWriter& Bits(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (m_iBits % 8 == 0) m_Bytes.push_back(0);
      if ((value >> i) & 1) m_Bytes.back() |= static_cast<uint8_t>(0x80u >> (m_iBits % 8));
      ++m_iBits;
    }
    return *this;
  }
  BitWriter& Flag(uint32_t b) { return Bits(b ? 1 : 0, 1); }
  BitWriter& Ue(uint64_t v) {
    int bits = 0;
    while (((v + 1) >> bits) > 1) ++bits;
    return Bits(0, bits).Bits(v + 1, bits + 1);
  }
  BitWriter& Se(int64_t v) { return Ue(v > 0 ? 2 * static_cast<uint64_t>(v) - 1 : 2 * static_cast<uint64_t>(-v)); }
  BitWriter& Trailing() {  // a stop bit, then zeros to the byte boundary
    Flag(1);
    while (m_iBits % 8) Flag(0);
    return *this;
  }
  std::vector<uint8_t> Bytes() const { return m_Bytes; }

 private:
  std::vector<uint8_t> m_Bytes;
  int m_iBits = 0;
};

// The header bytes, then the payload with an 03 wherever two zero bytes are
// followed by a byte of 0 to 3.
inline std::vector<uint8_t> MakeUnit(std::initializer_list<uint8_t> header, const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> unit(header);
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) unit.push_back(3), zeros = 0;
    unit.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return unit;
}

inline std::vector<uint8_t> AnnexB(std::initializer_list<std::vector<uint8_t>> units) {
  std::vector<uint8_t> out;
  for (const auto& unit : units) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

struct H264Sps {
  uint32_t profile_idc = 100, level_idc = 40, seq_parameter_set_id = 0;
  uint32_t chroma_format_idc = 1;  // written for the high profiles only
  uint32_t bit_depth_luma_minus8 = 0, bit_depth_chroma_minus8 = 0;
  bool scaling_matrix = false;  // every list coded, starting with first_delta_scale
  int32_t first_delta_scale = 0;
  uint32_t log2_max_frame_num_minus4 = 0, pic_order_cnt_type = 0, log2_max_pic_order_cnt_lsb_minus4 = 2;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0, max_num_ref_frames = 1;
  uint32_t pic_width_in_mbs_minus1 = 19, pic_height_in_map_units_minus1 = 14, frame_mbs_only_flag = 1;
  uint32_t frame_cropping_flag = 0, crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
  uint32_t vui_parameters_present_flag = 0;
  uint32_t aspect_ratio_info_present_flag = 0, aspect_ratio_idc = 0, sar_width = 0, sar_height = 0;
  uint32_t timing_info_present_flag = 0, num_units_in_tick = 0, time_scale = 0;
};

inline std::vector<uint8_t> H264SpsRbsp(const H264Sps& s) {
  BitWriter w;
  w.Bits(s.profile_idc, 8).Bits(0, 8).Bits(s.level_idc, 8).Ue(s.seq_parameter_set_id);
  bool high = false;
  for (uint32_t p : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u, 144u})
    high = high || p == s.profile_idc;
  if (high) {
    w.Ue(s.chroma_format_idc);
    if (s.chroma_format_idc == 3) w.Flag(0);
    w.Ue(s.bit_depth_luma_minus8).Ue(s.bit_depth_chroma_minus8).Flag(0).Flag(s.scaling_matrix);
    for (int i = 0; s.scaling_matrix && i < (s.chroma_format_idc != 3 ? 8 : 12); ++i) {
      // Delta 0 keeps nextScale at 8; a first delta bringing it to 0 ends the list.
      const int32_t first = i == 0 ? s.first_delta_scale : 0;
      w.Flag(1).Se(first);
      if ((8 + first + 256) % 256 == 0) continue;
      for (int j = 1; j < (i < 6 ? 16 : 64); ++j) w.Se(0);
    }
  }
  w.Ue(s.log2_max_frame_num_minus4).Ue(s.pic_order_cnt_type);
  if (s.pic_order_cnt_type == 0) w.Ue(s.log2_max_pic_order_cnt_lsb_minus4);
  if (s.pic_order_cnt_type == 1) {
    w.Flag(0).Se(-1).Se(2).Ue(s.num_ref_frames_in_pic_order_cnt_cycle);
    for (uint32_t i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i) w.Se(static_cast<int32_t>(i) - 3);
  }
  w.Ue(s.max_num_ref_frames).Flag(0).Ue(s.pic_width_in_mbs_minus1).Ue(s.pic_height_in_map_units_minus1);
  w.Flag(s.frame_mbs_only_flag);
  if (!s.frame_mbs_only_flag) w.Flag(1);
  w.Flag(1).Flag(s.frame_cropping_flag);
  if (s.frame_cropping_flag) w.Ue(s.crop_left).Ue(s.crop_right).Ue(s.crop_top).Ue(s.crop_bottom);
  w.Flag(s.vui_parameters_present_flag);
  if (s.vui_parameters_present_flag) {
    w.Flag(s.aspect_ratio_info_present_flag);
    if (s.aspect_ratio_info_present_flag) w.Bits(s.aspect_ratio_idc, 8);
    if (s.aspect_ratio_info_present_flag && s.aspect_ratio_idc == 255) w.Bits(s.sar_width, 16).Bits(s.sar_height, 16);
    w.Flag(0).Flag(0).Flag(0).Flag(s.timing_info_present_flag);  // overscan, signal type, chroma location
    if (s.timing_info_present_flag) w.Bits(s.num_units_in_tick, 32).Bits(s.time_scale, 32).Flag(1);
    w.Flag(0).Flag(0).Flag(0).Flag(0);  // not read: a plausible tail
  }
  return w.Trailing().Bytes();
}

inline std::vector<uint8_t> H264SpsUnit(const H264Sps& s) { return MakeUnit({0x67}, H264SpsRbsp(s)); }
inline std::vector<uint8_t> H264PpsUnit() {
  return MakeUnit({0x68}, BitWriter().Ue(0).Ue(0).Flag(0).Trailing().Bytes());
}

struct H265Ptl {
  uint32_t general_profile_idc = 1, general_level_idc = 93;
  uint32_t general_progressive_source_flag = 1;
  uint32_t sub_layer_flags = 0x3;  // profile and level present for every sub-layer
};

inline void WritePtl(BitWriter& w, const H265Ptl& p, uint32_t subLayers) {
  w.Bits(0, 3).Bits(p.general_profile_idc, 5).Bits(1u << (31 - p.general_profile_idc), 32);
  w.Flag(p.general_progressive_source_flag).Flag(0).Flag(0).Flag(1).Bits(0, 44).Bits(p.general_level_idc, 8);
  for (uint32_t i = 0; i < subLayers; ++i) w.Flag(p.sub_layer_flags & 1).Flag(p.sub_layer_flags >> 1 & 1);
  for (uint32_t i = subLayers; subLayers > 0 && i < 8; ++i) w.Bits(0, 2);
  for (uint32_t i = 0; i < subLayers; ++i) {
    if (p.sub_layer_flags & 1) w.Bits(p.general_profile_idc, 8).Bits(0, 32).Bits(9, 4).Bits(0, 44);
    if (p.sub_layer_flags & 2) w.Bits(p.general_level_idc, 8);
  }
}

// hrd_parameters: NAL parameters, cpb_cnt_minus1 + 1 buffers per sub-layer.
inline void WriteHrd(BitWriter& w, uint32_t subLayers, uint32_t cpb_cnt_minus1 = 0) {
  w.Flag(1).Flag(0).Flag(0).Bits(0, 8).Bits(23, 5).Bits(23, 5).Bits(23, 5);
  for (uint32_t i = 0; i <= subLayers; ++i) {
    w.Flag(0).Flag(0).Flag(0).Ue(cpb_cnt_minus1);  // not fixed rate, not low delay
    for (uint32_t j = 0; j <= cpb_cnt_minus1; ++j) w.Ue(1000).Ue(2000).Flag(0);
  }
}

struct H265Vps {
  uint32_t vps_max_sub_layers_minus1 = 0;
  H265Ptl ptl;
  uint32_t vps_max_layer_id = 0, vps_num_layer_sets_minus1 = 0;
  uint32_t vps_timing_info_present_flag = 0, vps_num_units_in_tick = 1, vps_time_scale = 25;
  uint32_t vps_num_hrd_parameters = 0;
};

inline std::vector<uint8_t> H265VpsUnit(const H265Vps& v) {
  BitWriter w;
  w.Bits(3, 6).Bits(0, 6).Bits(v.vps_max_sub_layers_minus1, 3).Flag(1).Bits(0xFFFF, 16);
  WritePtl(w, v.ptl, v.vps_max_sub_layers_minus1);
  w.Flag(1);
  for (uint32_t i = 0; i <= v.vps_max_sub_layers_minus1; ++i) w.Ue(4).Ue(0).Ue(0);
  w.Bits(v.vps_max_layer_id, 6).Ue(v.vps_num_layer_sets_minus1);
  for (uint32_t i = 1; i <= v.vps_num_layer_sets_minus1; ++i)
    for (uint32_t j = 0; j <= v.vps_max_layer_id; ++j) w.Flag(j == 0);
  w.Flag(v.vps_timing_info_present_flag);
  if (v.vps_timing_info_present_flag) {
    w.Bits(v.vps_num_units_in_tick, 32).Bits(v.vps_time_scale, 32).Flag(0).Ue(v.vps_num_hrd_parameters);
    for (uint32_t i = 0; i < v.vps_num_hrd_parameters; ++i) {
      w.Ue(0);
      if (i > 0) w.Flag(1);
      WriteHrd(w, v.vps_max_sub_layers_minus1);
    }
  }
  return MakeUnit({0x40, 0x01}, w.Flag(0).Trailing().Bytes());
}

// One short-term reference picture set coded from its delta lists.
struct H265Rps {
  std::vector<std::pair<uint32_t, uint32_t>> negative, positive;  // (delta_poc_sX_minus1, used)
};

struct H265Sps {
  uint32_t sps_max_sub_layers_minus1 = 0;
  H265Ptl ptl;
  uint32_t sps_seq_parameter_set_id = 0, chroma_format_idc = 1, separate_colour_plane_flag = 0;
  uint32_t pic_width_in_luma_samples = 320, pic_height_in_luma_samples = 240;
  uint32_t conformance_window_flag = 0, conf_left = 0, conf_right = 0, conf_top = 0, conf_bottom = 0;
  uint32_t bit_depth_luma_minus8 = 0, log2_max_pic_order_cnt_lsb_minus4 = 4;
  uint32_t sps_max_dec_pic_buffering_minus1 = 4;
  std::vector<H265Rps> rps;
  uint32_t num_short_term_ref_pic_sets_override = UINT32_MAX;  // write this count instead of rps.size()
  uint32_t num_long_term_ref_pics_sps = 0;
  uint32_t vui_parameters_present_flag = 0;
  uint32_t aspect_ratio_info_present_flag = 0, aspect_ratio_idc = 0, sar_width = 0, sar_height = 0;
  uint32_t vui_timing_info_present_flag = 0, vui_num_units_in_tick = 0, vui_time_scale = 0;
  uint32_t vui_hrd_parameters_present_flag = 0, vui_hrd_cpb_cnt_minus1 = 0;
};

inline std::vector<uint8_t> H265SpsUnit(const H265Sps& s) {
  BitWriter w;
  w.Bits(0, 4).Bits(s.sps_max_sub_layers_minus1, 3).Flag(1);
  WritePtl(w, s.ptl, s.sps_max_sub_layers_minus1);
  w.Ue(s.sps_seq_parameter_set_id).Ue(s.chroma_format_idc);
  if (s.chroma_format_idc == 3) w.Flag(s.separate_colour_plane_flag);
  w.Ue(s.pic_width_in_luma_samples).Ue(s.pic_height_in_luma_samples).Flag(s.conformance_window_flag);
  if (s.conformance_window_flag) w.Ue(s.conf_left).Ue(s.conf_right).Ue(s.conf_top).Ue(s.conf_bottom);
  w.Ue(s.bit_depth_luma_minus8).Ue(s.bit_depth_luma_minus8).Ue(s.log2_max_pic_order_cnt_lsb_minus4).Flag(1);
  for (uint32_t i = 0; i <= s.sps_max_sub_layers_minus1; ++i) w.Ue(s.sps_max_dec_pic_buffering_minus1).Ue(0).Ue(0);
  w.Ue(0).Ue(3).Ue(0).Ue(3).Ue(1).Ue(1);  // 8..64 coding blocks, 4..32 transform blocks
  w.Flag(0).Flag(0).Flag(1).Flag(0);      // no scaling lists, no AMP, SAO, no PCM
  w.Ue(s.num_short_term_ref_pic_sets_override != UINT32_MAX ? s.num_short_term_ref_pic_sets_override : s.rps.size());
  for (size_t idx = 0; idx < s.rps.size(); ++idx) {
    const H265Rps& r = s.rps[idx];
    if (idx != 0) w.Flag(0);  // not predicted
    w.Ue(r.negative.size()).Ue(r.positive.size());
    for (const auto& [delta, used] : r.negative) w.Ue(delta).Flag(used);
    for (const auto& [delta, used] : r.positive) w.Ue(delta).Flag(used);
  }
  w.Flag(s.num_long_term_ref_pics_sps != 0);
  if (s.num_long_term_ref_pics_sps) w.Ue(s.num_long_term_ref_pics_sps);
  for (uint32_t i = 0; i < s.num_long_term_ref_pics_sps; ++i)
    w.Bits(i, static_cast<int>(s.log2_max_pic_order_cnt_lsb_minus4 + 4)).Flag(1);
  w.Flag(1).Flag(0).Flag(s.vui_parameters_present_flag);
  if (s.vui_parameters_present_flag) {
    w.Flag(s.aspect_ratio_info_present_flag);
    if (s.aspect_ratio_info_present_flag) w.Bits(s.aspect_ratio_idc, 8);
    if (s.aspect_ratio_info_present_flag && s.aspect_ratio_idc == 255) w.Bits(s.sar_width, 16).Bits(s.sar_height, 16);
    w.Flag(0).Flag(0).Flag(0).Flag(0).Flag(0).Flag(0).Flag(0);  // up to default_display_window_flag
    w.Flag(s.vui_timing_info_present_flag);
    if (s.vui_timing_info_present_flag) {
      w.Bits(s.vui_num_units_in_tick, 32).Bits(s.vui_time_scale, 32).Flag(0).Flag(s.vui_hrd_parameters_present_flag);
      if (s.vui_hrd_parameters_present_flag) WriteHrd(w, s.sps_max_sub_layers_minus1, s.vui_hrd_cpb_cnt_minus1);
    }
    w.Flag(0);  // bitstream_restriction_flag
  }
  return MakeUnit({0x42, 0x01}, w.Flag(0).Trailing().Bytes());
}

struct H265Pps {
  int32_t init_qp_minus26 = 0;
  uint32_t tiles_enabled_flag = 0, num_tile_columns_minus1 = 0, num_tile_rows_minus1 = 0;
  uint32_t uniform_spacing_flag = 1;
  uint32_t deblocking_filter_control_present_flag = 0;
  int32_t pps_beta_offset_div2 = 0;
};

inline std::vector<uint8_t> H265PpsUnit(const H265Pps& p) {
  BitWriter w;
  w.Ue(0).Ue(0).Flag(0).Flag(0).Bits(0, 3).Flag(0).Flag(0).Ue(0).Ue(0).Se(p.init_qp_minus26);
  w.Flag(0).Flag(0).Flag(1).Ue(1).Se(-2).Se(3).Flag(0).Flag(0).Flag(0).Flag(0);
  w.Flag(p.tiles_enabled_flag).Flag(0);
  if (p.tiles_enabled_flag) {
    w.Ue(p.num_tile_columns_minus1).Ue(p.num_tile_rows_minus1).Flag(p.uniform_spacing_flag);
    for (uint32_t i = 0; !p.uniform_spacing_flag && i < p.num_tile_columns_minus1; ++i) w.Ue(i + 1);
    for (uint32_t i = 0; !p.uniform_spacing_flag && i < p.num_tile_rows_minus1; ++i) w.Ue(i + 2);
    w.Flag(1);
  }
  w.Flag(1).Flag(p.deblocking_filter_control_present_flag);
  if (p.deblocking_filter_control_present_flag) w.Flag(0).Flag(0).Se(p.pps_beta_offset_div2).Se(1);
  return MakeUnit({0x44, 0x01}, w.Flag(0).Flag(0).Ue(0).Flag(0).Flag(0).Trailing().Bytes());
}

}  // namespace flvdmx::test

// Writers of H.264 syntax for tests: bits and Exp-Golomb codes, units with
// emulation prevention, Annex B framing, and sequence parameter sets from a
// few chosen fields. Values are written unchecked, so tests can break limits.
#pragma once

#include <cstdint>
#include <initializer_list>
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
  BitWriter& Se(int64_t v) {
    return Ue(v > 0 ? 2 * static_cast<uint64_t>(v) - 1 : 2 * static_cast<uint64_t>(-v));
  }
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
inline std::vector<uint8_t> MakeUnit(std::initializer_list<uint8_t> header,
                                     const std::vector<uint8_t>& rbsp) {
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
  uint32_t log2_max_frame_num_minus4 = 0, pic_order_cnt_type = 0,
           log2_max_pic_order_cnt_lsb_minus4 = 2;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0, max_num_ref_frames = 1;
  uint32_t pic_width_in_mbs_minus1 = 19, pic_height_in_map_units_minus1 = 14,
           frame_mbs_only_flag = 1;
  uint32_t frame_cropping_flag = 0, crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
  uint32_t vui_parameters_present_flag = 0;
  uint32_t aspect_ratio_info_present_flag = 0, aspect_ratio_idc = 0, sar_width = 0, sar_height = 0;
  uint32_t timing_info_present_flag = 0, num_units_in_tick = 0, time_scale = 0;
};

inline std::vector<uint8_t> H264SpsRbsp(const H264Sps& s) {
  BitWriter w;
  w.Bits(s.profile_idc, 8).Bits(0, 8).Bits(s.level_idc, 8).Ue(s.seq_parameter_set_id);
  bool high = false;
  for (uint32_t p :
       {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u, 144u})
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
    for (uint32_t i = 0; i < s.num_ref_frames_in_pic_order_cnt_cycle; ++i)
      w.Se(static_cast<int32_t>(i) - 3);
  }
  w.Ue(s.max_num_ref_frames)
      .Flag(0)
      .Ue(s.pic_width_in_mbs_minus1)
      .Ue(s.pic_height_in_map_units_minus1);
  w.Flag(s.frame_mbs_only_flag);
  if (!s.frame_mbs_only_flag) w.Flag(1);
  w.Flag(1).Flag(s.frame_cropping_flag);
  if (s.frame_cropping_flag) w.Ue(s.crop_left).Ue(s.crop_right).Ue(s.crop_top).Ue(s.crop_bottom);
  w.Flag(s.vui_parameters_present_flag);
  if (s.vui_parameters_present_flag) {
    w.Flag(s.aspect_ratio_info_present_flag);
    if (s.aspect_ratio_info_present_flag) w.Bits(s.aspect_ratio_idc, 8);
    if (s.aspect_ratio_info_present_flag && s.aspect_ratio_idc == 255)
      w.Bits(s.sar_width, 16).Bits(s.sar_height, 16);
    w.Flag(0).Flag(0).Flag(0).Flag(
        s.timing_info_present_flag);  // overscan, signal type, chroma location
    if (s.timing_info_present_flag) w.Bits(s.num_units_in_tick, 32).Bits(s.time_scale, 32).Flag(1);
    w.Flag(0).Flag(0).Flag(0).Flag(0);  // not read: a plausible tail
  }
  return w.Trailing().Bytes();
}

inline std::vector<uint8_t> H264SpsUnit(const H264Sps& s) {
  return MakeUnit({0x67}, H264SpsRbsp(s));
}
inline std::vector<uint8_t> H264PpsUnit() {
  return MakeUnit({0x68}, BitWriter().Ue(0).Ue(0).Flag(0).Trailing().Bytes());
}

// H.265 video, sequence and picture parameter sets from a few chosen fields
// (one layer, no sub-layers, Main profile), values written unchecked.
struct H265Sets {
  uint32_t vps_max_sub_layers_minus1 = 0, sps_max_sub_layers_minus1 = 0;
  uint32_t pic_width_in_luma_samples = 320, pic_height_in_luma_samples = 184;
  uint32_t conf_win_right_offset = 0, conf_win_bottom_offset = 2;
  uint32_t max_dec_pic_buffering_minus1 = 4, max_num_reorder_pics = 2;
  uint32_t num_short_term_ref_pic_sets = 0;
  uint32_t vui_parameters_present_flag = 0, chroma_sample_loc_type = 0;
  uint32_t min_spatial_segmentation_idc = 0, log2_max_mv_length = 15;
  uint32_t vui_num_units_in_tick = 1, vui_time_scale = 25;
  int32_t init_qp_minus26 = 0, pps_cb_qp_offset = 0;
};

inline void H265ProfileTierLevel(BitWriter& w) {
  w.Bits(0, 2).Flag(0).Bits(1, 5).Bits(0x60000000, 32).Bits(0x9, 4).Bits(0, 44).Bits(60, 8);
}

inline std::vector<uint8_t> H265VpsUnit(const H265Sets& s) {
  BitWriter w;
  w.Bits(0, 4).Flag(1).Flag(1).Bits(0, 6).Bits(s.vps_max_sub_layers_minus1, 3).Flag(1);
  w.Bits(0xFFFF, 16);
  H265ProfileTierLevel(w);
  w.Flag(1).Ue(s.max_dec_pic_buffering_minus1).Ue(s.max_num_reorder_pics).Ue(0);
  w.Bits(0, 6).Ue(0).Flag(0).Flag(0);  // layer id, layer sets, no timing, no extension
  return MakeUnit({0x40, 0x01}, w.Trailing().Bytes());
}

inline void H265Vui(BitWriter& w, const H265Sets& s) {
  w.Flag(0).Flag(0).Flag(0).Flag(1).Ue(s.chroma_sample_loc_type).Ue(s.chroma_sample_loc_type);
  w.Flag(0).Flag(0).Flag(0).Flag(0);  // neutral chroma, field_seq, frame_field_info, display window
  w.Flag(1).Bits(s.vui_num_units_in_tick, 32).Bits(s.vui_time_scale, 32).Flag(0).Flag(0);
  w.Flag(1).Flag(0).Flag(0).Flag(0).Ue(s.min_spatial_segmentation_idc).Ue(2).Ue(1);
  w.Ue(s.log2_max_mv_length).Ue(s.log2_max_mv_length);
}

inline std::vector<uint8_t> H265SpsUnit(const H265Sets& s) {
  BitWriter w;
  w.Bits(0, 4).Bits(s.sps_max_sub_layers_minus1, 3).Flag(1);
  H265ProfileTierLevel(w);
  w.Ue(0).Ue(1).Ue(s.pic_width_in_luma_samples).Ue(s.pic_height_in_luma_samples);
  w.Flag(1).Ue(0).Ue(s.conf_win_right_offset).Ue(0).Ue(s.conf_win_bottom_offset);
  w.Ue(0).Ue(0).Ue(4).Flag(1);  // 8-bit samples, 8 POC bits, ordering per sub-layer
  w.Ue(s.max_dec_pic_buffering_minus1).Ue(s.max_num_reorder_pics).Ue(0);
  w.Ue(0).Ue(2).Ue(0).Ue(3).Ue(0).Ue(0);  // block sizes 8 to 32, transforms 4 to 32
  w.Flag(0).Flag(0).Flag(1).Flag(0);      // scaling lists, AMP, SAO, PCM
  w.Ue(s.num_short_term_ref_pic_sets);
  for (uint32_t i = 0; i < s.num_short_term_ref_pic_sets; ++i) {
    if (i) w.Flag(0);
    w.Ue(1).Ue(0).Ue(0).Flag(1);  // one picture before
  }
  w.Flag(0).Flag(1).Flag(1).Flag(s.vui_parameters_present_flag);
  if (s.vui_parameters_present_flag) H265Vui(w, s);
  return MakeUnit({0x42, 0x01}, w.Flag(0).Trailing().Bytes());
}

inline std::vector<uint8_t> H265PpsUnit(const H265Sets& s) {
  BitWriter w;
  w.Ue(0).Ue(0).Flag(0).Flag(0).Bits(0, 3).Flag(0).Flag(0).Ue(0).Ue(0).Se(s.init_qp_minus26);
  w.Flag(0).Flag(0).Flag(0).Se(s.pps_cb_qp_offset).Se(0);
  w.Flag(0).Flag(0).Flag(0).Flag(0).Flag(0).Flag(0);  // through entropy coding sync
  w.Flag(1).Flag(0).Flag(0).Flag(0).Ue(0).Flag(0).Flag(0);
  return MakeUnit({0x44, 0x01}, w.Trailing().Bytes());
}

}  // namespace flvdmx::test

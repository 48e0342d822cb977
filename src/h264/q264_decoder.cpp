#include <new>

#include "h264/q264.h"

namespace flvdmx {

namespace {

// Sample aspect ratios of Table E-1 for aspect_ratio_idc 1 to 16.
constexpr uint16_t kSampleAspect[16][2] = {
    {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},  {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1},
};

void FillStreamInfo(const Q264SeqParameterSet& s, VideoStreamInfo* pInfo) {
  *pInfo = VideoStreamInfo{};
  pInfo->m_dwProfile = s.profile_idc;
  pInfo->m_dwLevel = s.level_idc;
  pInfo->m_dFrameRate = 30.0;

  // The parser has checked that the crop window lies inside the picture.
  const uint32_t cropUnitX = (s.chroma_format_idc == 0 || s.chroma_format_idc == 3) ? 1 : 2;
  const uint32_t cropUnitY = (2 - s.frame_mbs_only_flag) * (s.chroma_format_idc == 1 ? 2 : 1);
  pInfo->m_dwWidth = (s.pic_width_in_mbs_minus1 + 1) * 16 -
                     (s.frame_crop_left_offset + s.frame_crop_right_offset) * cropUnitX;
  pInfo->m_dwHeight = (s.pic_height_in_map_units_minus1 + 1) * (2 - s.frame_mbs_only_flag) * 16 -
                      (s.frame_crop_top_offset + s.frame_crop_bottom_offset) * cropUnitY;

  if (!s.vui_parameters_present_flag) return;
  const Q264VuiParameters& v = s.vui;
  if (v.aspect_ratio_info_present_flag) {
    if (v.aspect_ratio_idc == 255) {
      pInfo->m_bAspectRatioPresent = 1;
      pInfo->m_dwSarWidth = v.sar_width;
      pInfo->m_dwSarHeight = v.sar_height;
    } else if (v.aspect_ratio_idc >= 1 && v.aspect_ratio_idc <= 16) {
      pInfo->m_bAspectRatioPresent = 1;
      pInfo->m_dwSarWidth = kSampleAspect[v.aspect_ratio_idc - 1][0];
      pInfo->m_dwSarHeight = kSampleAspect[v.aspect_ratio_idc - 1][1];
    }
  }
  if (v.timing_info_present_flag && v.num_units_in_tick != 0) {
    // One frame lasts two ticks. Divided in single precision as the rate
    // has always been computed here, so that media types stay the same.
    const float ticksPerSecond =
        static_cast<float>(v.time_scale) / static_cast<float>(v.num_units_in_tick);
    const double rate = static_cast<double>(ticksPerSecond) / 2.0;
    pInfo->m_dFrameRate = (rate < 0.1 || rate > 100.0) ? 30.0 : rate;
  }
}

}  // namespace

Q264DecoderObject* Q264_CreateDecoderObject() { return new (std::nothrow) Q264DecoderObject(); }

void Q264_FreeDecoderObject(Q264DecoderObject* pDecoder) { delete pDecoder; }

uint32_t Q264_EBSPtoRBSP(uint8_t* buf, uint32_t len) {
  if (!buf || len <= 1) return len;
  uint32_t out = 1;
  int zeros = 0;
  for (uint32_t i = 1; i < len; ++i) {
    const uint8_t b = buf[i];
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    buf[out++] = b;
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return out;
}

int Q264_ProcessSPS(Q264DecoderObject* pDecoder, const Q264NalUnit* pNal, VideoStreamInfo* pInfo) {
  if (!pDecoder || !pNal || !pNal->buf || pNal->len < 1 || !pInfo) return 0;
  Q264SeqParameterSet sps;
  const Q264ParseResult result = Q264_ParseSeqParameterSet(pNal->buf + 1, pNal->len - 1, &sps);
  // Every profile_idc has its syntax (the high profiles with the chroma
  // format fields, all others without), so none is refused for its number.
  // The picture size and cropping come before vui_parameters_present_flag:
  // a set that went wrong inside the VUI (cut short or out of range) still
  // has them; one that went wrong before it does not.
  const bool usable = result == Q264ParseResult::kOk || sps.vui_parameters_present_flag;
  if (!usable) return 0;
  pDecoder->sps[sps.seq_parameter_set_id] = sps;
  pDecoder->sps_present[sps.seq_parameter_set_id] = 1;
  FillStreamInfo(sps, pInfo);
  return 1;
}

}  // namespace flvdmx

#include "parsers/mini_parser_h265.h"

#include "parsers/start_code.h"

namespace flvdmx {

namespace {

enum UnitKind : uint32_t { kVps = 1, kSps = 2, kPps = 4, kAllKinds = 7 };

// Sample aspect ratios of Table E-1 for aspect_ratio_idc 2 to 16 (1 is
// square samples, which needs no flag).
constexpr uint16_t kSampleAspect[15][2] = {
    {12, 11}, {10, 11}, {16, 11}, {40, 33},  {24, 11}, {20, 11}, {32, 11}, {80, 33},
    {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1},
};

}  // namespace

CMiniParserH265::CMiniParserH265() : CMiniParser(0xFE, 0x40, 3) {
  ResetVideoParameterSet(&m_Vps);
  ResetPicParameterSet(&m_Pps);
}

CMiniParserH265::~CMiniParserH265() = default;

ParameterSetsResult CMiniParserH265::ParseParameterSets(VideoStreamInfo* pInfo,
                                                        const uint8_t* pData, uint32_t cbData,
                                                        const uint8_t** ppResume) {
  if (!pData || cbData < 1) return ParameterSetsResult::kNotFound;
  const uint8_t* const pEnd = pData + cbData;
  uint32_t seen = 0;
  const uint8_t* pSearch = pData;
  // Each unit parses the same whichever set began the walk, so a walk from
  // a later video parameter set would stop where this one stops, with fewer
  // kinds seen: the caller's search goes on from there.
  const auto notFoundFrom = [ppResume](const uint8_t* pStop) {
    if (ppResume) *ppResume = pStop;
    return ParameterSetsResult::kNotFound;
  };
  for (;;) {
    const uint8_t* pHeader = FindStartCode(pSearch, static_cast<size_t>(pEnd - pSearch));
    if (!pHeader) return notFoundFrom(pSearch);
    if (pEnd - (pHeader - 3) < 9) return notFoundFrom(pHeader);
    // A set forbidden_zero_bit lifts the type out of the range of any kind.
    const uint32_t nal_unit_type = pHeader[0] >> 1;
    const uint8_t* pPayload = pHeader + 2;
    // Units are delimited as the caller's search delimits them: the next
    // start code may begin at the header byte.
    const uint8_t* pNext = FindStartCode(pHeader, static_cast<size_t>(pEnd - pHeader));
    if (nal_unit_type < 32 || nal_unit_type > 34) {
      if (!pNext) return notFoundFrom(pHeader);
      pSearch = pNext - 3;
      continue;
    }
    // The window runs to the next unit's header byte: its start code lies
    // inside, behind the bits the syntax consumes.
    if (!pNext && nal_unit_type != 34) return notFoundFrom(pHeader);
    const uint8_t* const pUnitEnd = pNext ? pNext : pEnd;
    BitReader reader(pPayload, pUnitEnd > pPayload ? static_cast<size_t>(pUnitEnd - pPayload) : 0,
                     BitReader::EmulationPrevention::kStrip);
    H265SetResult result;
    if (nal_unit_type == 32) {
      result = ParseVideoParameterSet(reader, &m_Vps);
      seen |= kVps;
    } else if (nal_unit_type == 33) {
      result = ParseSeqParameterSet(reader, &m_Sps);
      seen |= kSps;
    } else {
      result = ParsePicParameterSet(reader, &m_Pps);
      seen |= kPps;
    }
    // A rejected set keeps the fields read before the value that did not
    // fit: a sequence parameter set that got as far as its picture size
    // still gives it. One rejected before has nothing to give.
    if (result == H265SetResult::kOutOfMemory) return ParameterSetsResult::kOutOfMemory;
    if (result == H265SetResult::kRejected && nal_unit_type == 33 &&
        (m_Sps.pic_width_in_luma_samples == 0 || m_Sps.pic_height_in_luma_samples == 0))
      return notFoundFrom(pHeader);
    if (seen == kAllKinds) {
      FillStreamInfo(pInfo);
      return ParameterSetsResult::kParsed;
    }
    if (!pNext) return notFoundFrom(pHeader);
    pSearch = pNext - 3;
  }
}

void CMiniParserH265::FillStreamInfo(VideoStreamInfo* pInfo) const {
  const H265SeqParameterSet& sps = m_Sps;
  *pInfo = VideoStreamInfo{};

  pInfo->m_dwWidth = sps.pic_width_in_luma_samples;
  pInfo->m_dwHeight = sps.pic_height_in_luma_samples;
  if (sps.conformance_window_flag) {
    const bool colourPlanes = sps.separate_colour_plane_flag != 0;
    const uint64_t SubWidthC =
        (!colourPlanes && (sps.chroma_format_idc == 1 || sps.chroma_format_idc == 2)) ? 2 : 1;
    const uint64_t SubHeightC = (!colourPlanes && sps.chroma_format_idc == 1) ? 2 : 1;
    const uint64_t cropX =
        (uint64_t{sps.conf_win_left_offset} + sps.conf_win_right_offset) * SubWidthC;
    const uint64_t cropY =
        (uint64_t{sps.conf_win_top_offset} + sps.conf_win_bottom_offset) * SubHeightC;
    // A window that leaves no picture is ignored: the whole picture shows.
    if (cropX < pInfo->m_dwWidth && cropY < pInfo->m_dwHeight) {
      pInfo->m_dwWidth -= static_cast<uint32_t>(cropX);
      pInfo->m_dwHeight -= static_cast<uint32_t>(cropY);
    }
  }
  pInfo->m_dwLumaBitDepth = sps.bit_depth_luma_minus8 + 8;
  pInfo->m_dwChromaBitDepth = sps.bit_depth_chroma_minus8 + 8;

  // Timing with a zero tick count says nothing: the next source is used.
  const H265VuiParameters& vui = sps.vui;
  if (m_Vps.vps_timing_info_present_flag && m_Vps.vps_num_units_in_tick != 0)
    pInfo->m_dFrameRate = static_cast<double>(m_Vps.vps_time_scale) / m_Vps.vps_num_units_in_tick;
  else if (sps.vui_parameters_present_flag && vui.vui_timing_info_present_flag &&
           vui.vui_num_units_in_tick != 0)
    pInfo->m_dFrameRate = static_cast<double>(vui.vui_time_scale) / vui.vui_num_units_in_tick;
  else
    pInfo->m_dFrameRate = 30.0;

  if (sps.vui_parameters_present_flag && vui.aspect_ratio_info_present_flag) {
    if (vui.aspect_ratio_idc == 255) {
      pInfo->m_bAspectRatioPresent = 1;
      pInfo->m_dwSarWidth = vui.sar_width;
      pInfo->m_dwSarHeight = vui.sar_height;
    } else if (vui.aspect_ratio_idc >= 2 && vui.aspect_ratio_idc <= 16) {
      pInfo->m_bAspectRatioPresent = 1;
      pInfo->m_dwSarWidth = kSampleAspect[vui.aspect_ratio_idc - 2][0];
      pInfo->m_dwSarHeight = kSampleAspect[vui.aspect_ratio_idc - 2][1];
    }
  }

  pInfo->m_bInterlaced = m_Vps.profile_tier_level.general_progressive_source_flag ? 0 : 1;
  pInfo->m_dwProfile = m_Vps.profile_tier_level.general_profile_idc;
  pInfo->m_dwLevel = m_Vps.profile_tier_level.general_level_idc;
}

}  // namespace flvdmx

// VideoStreamInfo: what a mini-parser derives from a stream's parameter sets
// for the media type. A plain value record; all zero means "nothing found".
#pragma once

#include <cstdint>

namespace flvdmx {

struct VideoStreamInfo {
  uint32_t m_dwWidth = 0;  // luma samples after cropping
  uint32_t m_dwHeight = 0;
  double m_dFrameRate = 0;          // frames per second
  uint32_t m_dwLumaBitDepth = 0;    // H.265 only; 0 for H.264
  uint32_t m_dwChromaBitDepth = 0;  // H.265 only
  uint32_t m_bAspectRatioPresent = 0;
  uint32_t m_dwSarWidth = 0;  // valid when m_bAspectRatioPresent is set
  uint32_t m_dwSarHeight = 0;
  uint32_t m_bInterlaced = 0;  // H.265 only
  uint32_t m_dwProfile = 0;    // profile_idc / general_profile_idc
  uint32_t m_dwLevel = 0;      // level_idc / general_level_idc
};

}  // namespace flvdmx

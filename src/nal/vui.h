// The start of vui_parameters() that H.264 (E.1.1) and H.265 (E.2.1) share:
// aspect ratio, overscan, video signal type and chroma sample location.
// Each standard's VUI record derives from VuiVideoDescription and reads its
// own remainder after ParseVuiVideoDescription.
#pragma once

#include <cstdint>

#include "base/bit_reader.h"

namespace flvdmx {

struct VuiVideoDescription {
  uint32_t aspect_ratio_info_present_flag;
  uint32_t aspect_ratio_idc;
  uint32_t sar_width;
  uint32_t sar_height;
  uint32_t overscan_info_present_flag;
  uint32_t overscan_appropriate_flag;
  uint32_t video_signal_type_present_flag;
  uint32_t video_format;
  uint32_t video_full_range_flag;
  uint32_t colour_description_present_flag;
  uint32_t colour_primaries;
  uint32_t transfer_characteristics;
  uint32_t matrix_coefficients;
  uint32_t chroma_loc_info_present_flag;
  uint32_t chroma_sample_loc_type_top_field;
  uint32_t chroma_sample_loc_type_bottom_field;
};

// aspect_ratio_idc value that carries sar_width and sar_height.
inline constexpr uint32_t kVuiExtendedSar = 255;

// Reads the fields in order; false when the reader ran out (Overrun()) or
// an Exp-Golomb code is longer than 32 bits. Values outside the standard's
// ranges are kept as read. Fields read before stay written: a truncated VUI
// keeps what it had.
[[nodiscard]] bool ParseVuiVideoDescription(BitReader& r, VuiVideoDescription* v);

}  // namespace flvdmx

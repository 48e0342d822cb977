#include "nal/vui.h"

namespace flvdmx {

bool ParseVuiVideoDescription(BitReader& r, VuiVideoDescription* v) {
  if (!r.ReadFlag(&v->aspect_ratio_info_present_flag)) return false;
  if (v->aspect_ratio_info_present_flag) {
    if (!r.ReadBits(8, &v->aspect_ratio_idc)) return false;
    if (v->aspect_ratio_idc == kVuiExtendedSar &&
        (!r.ReadBits(16, &v->sar_width) || !r.ReadBits(16, &v->sar_height)))
      return false;
  }
  if (!r.ReadFlag(&v->overscan_info_present_flag)) return false;
  if (v->overscan_info_present_flag && !r.ReadFlag(&v->overscan_appropriate_flag)) return false;
  if (!r.ReadFlag(&v->video_signal_type_present_flag)) return false;
  if (v->video_signal_type_present_flag) {
    if (!r.ReadBits(3, &v->video_format) || !r.ReadFlag(&v->video_full_range_flag) ||
        !r.ReadFlag(&v->colour_description_present_flag))
      return false;
    if (v->colour_description_present_flag &&
        (!r.ReadBits(8, &v->colour_primaries) || !r.ReadBits(8, &v->transfer_characteristics) ||
         !r.ReadBits(8, &v->matrix_coefficients)))
      return false;
  }
  if (!r.ReadFlag(&v->chroma_loc_info_present_flag)) return false;
  // Chroma sample locations above 5 are out of range but harmless here.
  return !v->chroma_loc_info_present_flag || (r.ReadUe(&v->chroma_sample_loc_type_top_field) &&
                                              r.ReadUe(&v->chroma_sample_loc_type_bottom_field));
}

}  // namespace flvdmx

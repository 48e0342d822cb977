#include "parsers/av1_info.h"

#include "base/bit_reader.h"
#include "base/byte_reader.h"

namespace flvdmx {
namespace {

constexpr uint32_t kObuSequenceHeader = 1;

// The reads of a header: all of them must succeed, and the first failure
// makes every later one fail too.
class Bits {
 public:
  Bits(const uint8_t* data, size_t size) : m_Reader(data, size) {}
  uint32_t Get(int n) {
    uint32_t v = 0;
    if (m_bOk && !m_Reader.ReadBits(n, &v)) m_bOk = false;
    return m_bOk ? v : 0;
  }
  bool Flag() { return Get(1) != 0; }
  // uvlc(): the value is only skipped, so a code of 32 or more zeros just
  // needs its bits present.
  void SkipUvlc() {
    int leadingZeros = 0;
    while (m_bOk && !Flag()) {
      if (++leadingZeros > 32) m_bOk = false;
    }
    if (m_bOk && leadingZeros < 32 && !m_Reader.SkipBits(leadingZeros)) m_bOk = false;
  }
  bool ok() const { return m_bOk; }

 private:
  BitReader m_Reader;
  bool m_bOk = true;
};

bool ReadLeb128(ByteReader* reader, uint64_t* pValue) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    uint8_t byte;
    if (!reader->GetU8(&byte)) return false;
    value |= uint64_t{byte & 0x7Fu} << (7 * i);
    if (!(byte & 0x80)) {
      *pValue = value;
      return true;
    }
  }
  return false;  // longer than eight bytes
}

// One OBU: its type and a reader over its payload. Without obu_size the OBU
// runs to the end of the data.
bool NextObu(ByteReader* reader, uint32_t* pType, ByteReader* pPayload) {
  uint8_t header;
  if (!reader->GetU8(&header)) return false;
  if (header & 0x80) return false;  // obu_forbidden_bit
  const bool obu_extension_flag = header & 0x04, obu_has_size_field = header & 0x02;
  if (obu_extension_flag && !reader->Skip(1)) return false;
  uint64_t obu_size = reader->remaining();
  if (obu_has_size_field && !ReadLeb128(reader, &obu_size)) return false;
  if (obu_size > reader->remaining()) return false;
  if (!reader->GetSubReader(pPayload, static_cast<size_t>(obu_size))) return false;
  *pType = (header >> 3) & 0x0F;
  return true;
}

void SkipOperatingPoints(Bits& b, bool decoder_model_info_present_flag,
                         uint32_t buffer_delay_length_minus_1, Av1Info* info) {
  const bool initial_display_delay_present_flag = b.Flag();
  const uint32_t operating_points_cnt_minus_1 = b.Get(5);
  for (uint32_t i = 0; b.ok() && i <= operating_points_cnt_minus_1; ++i) {
    b.Get(12);  // operating_point_idc
    const uint32_t seq_level_idx = b.Get(5);
    if (i == 0) info->seqLevelIdx0 = static_cast<uint8_t>(seq_level_idx);
    if (seq_level_idx > 7) b.Get(1);  // seq_tier
    if (decoder_model_info_present_flag && b.Flag()) {
      // operating_parameters_info: both buffer delays and low_delay_mode_flag
      b.Get(buffer_delay_length_minus_1 + 1);
      b.Get(buffer_delay_length_minus_1 + 1);
      b.Get(1);
    }
    if (initial_display_delay_present_flag && b.Flag()) b.Get(4);
  }
}

// Everything from seq_profile up to the frame size fields; gives
// reduced_still_picture_header, which leaves most of the later fields out.
bool ReadLevels(Bits& b, Av1Info* info) {
  info->seqProfile = static_cast<uint8_t>(b.Get(3));
  b.Get(1);  // still_picture
  const bool reduced_still_picture_header = b.Flag();
  if (reduced_still_picture_header) {
    info->seqLevelIdx0 = static_cast<uint8_t>(b.Get(5));
    return true;
  }
  bool decoder_model_info_present_flag = false;
  uint32_t buffer_delay_length_minus_1 = 0;
  if (b.Flag()) {                // timing_info_present_flag
    b.Get(32);                   // num_units_in_display_tick
    b.Get(32);                   // time_scale
    if (b.Flag()) b.SkipUvlc();  // equal_picture_interval: num_ticks_per_picture_minus_1
    decoder_model_info_present_flag = b.Flag();
    if (decoder_model_info_present_flag) {
      buffer_delay_length_minus_1 = b.Get(5);
      b.Get(32);  // num_units_in_decoding_tick
      b.Get(10);  // buffer_removal_time_length_minus_1, frame_presentation_time_length_minus_1
    }
  }
  SkipOperatingPoints(b, decoder_model_info_present_flag, buffer_delay_length_minus_1, info);
  return false;
}

// The coding tools between the frame size and color_config.
void SkipTools(Bits& b, bool reduced_still_picture_header) {
  if (!reduced_still_picture_header && b.Flag()) b.Get(7);  // frame_id_numbers_present_flag
  b.Get(3);  // use_128x128_superblock, enable_filter_intra, enable_intra_edge_filter
  if (!reduced_still_picture_header) {
    b.Get(4);  // interintra, masked compound, warped motion, dual filter
    const bool enable_order_hint = b.Flag();
    if (enable_order_hint) b.Get(2);  // enable_jnt_comp, enable_ref_frame_mvs
    const bool seq_choose_screen_content_tools = b.Flag();
    const bool screen_content_tools = seq_choose_screen_content_tools || b.Flag();
    if (screen_content_tools && !b.Flag()) b.Get(1);  // seq_force_integer_mv
    if (enable_order_hint) b.Get(3);                  // order_hint_bits_minus_1
  }
  b.Get(3);  // enable_superres, enable_cdef, enable_restoration
}

void ReadChroma(Bits& b, Av1Info* info) {
  b.Get(1);  // color_range
  info->chromaSubsamplingX = info->chromaSubsamplingY = info->seqProfile == 1 ? 0 : 1;
  if (info->seqProfile == 2) {
    info->chromaSubsamplingY = 0;
    if (info->bitDepth == 12) {
      info->chromaSubsamplingX = static_cast<uint8_t>(b.Get(1));
      if (info->chromaSubsamplingX) info->chromaSubsamplingY = static_cast<uint8_t>(b.Get(1));
    }
  }
  if (info->chromaSubsamplingX && info->chromaSubsamplingY) b.Get(2);  // chroma_sample_position
}

void ReadColorConfig(Bits& b, Av1Info* info) {
  const bool high_bitdepth = b.Flag();
  info->bitDepth = high_bitdepth ? 10 : 8;
  if (info->seqProfile == 2 && high_bitdepth && b.Flag()) info->bitDepth = 12;  // twelve_bit
  info->monochrome = info->seqProfile != 1 && b.Flag();
  uint32_t color_primaries = 2, transfer_characteristics = 2, matrix_coefficients = 2;
  if (b.Flag()) {  // color_description_present_flag
    color_primaries = b.Get(8);
    transfer_characteristics = b.Get(8);
    matrix_coefficients = b.Get(8);
  }
  info->chromaSubsamplingX = info->chromaSubsamplingY = 1;
  if (info->monochrome) {
    b.Get(1);  // color_range
    return;
  }
  // BT.709 primaries with the sRGB transfer and identity matrix: 4:4:4 RGB.
  if (color_primaries == 1 && transfer_characteristics == 13 && matrix_coefficients == 0)
    info->chromaSubsamplingX = info->chromaSubsamplingY = 0;
  else
    ReadChroma(b, info);
  b.Get(1);  // separate_uv_delta_q
}

bool ParseSequenceHeader(ByteReader payload, Av1Info* out) {
  Bits b(payload.current(), payload.remaining());
  Av1Info info;
  const bool reduced_still_picture_header = ReadLevels(b, &info);
  if (!b.ok() || info.seqProfile > 2) return false;  // profiles above 2 are reserved
  const uint32_t frame_width_bits_minus_1 = b.Get(4);
  const uint32_t frame_height_bits_minus_1 = b.Get(4);
  const uint32_t max_frame_width_minus_1 = b.Get(frame_width_bits_minus_1 + 1);
  const uint32_t max_frame_height_minus_1 = b.Get(frame_height_bits_minus_1 + 1);
  SkipTools(b, reduced_still_picture_header);
  ReadColorConfig(b, &info);
  b.Get(1);  // film_grain_params_present
  if (!b.ok()) return false;
  info.width = max_frame_width_minus_1 + 1;
  info.height = max_frame_height_minus_1 + 1;
  *out = info;
  return true;
}

enum class Search { kFound, kNone, kBad };

// The first sequence header among the OBUs. An OBU before it, or the header
// itself, that is cut short or malformed makes the whole list bad.
Search FindSequenceHeader(ByteReader reader, Av1Info* out) {
  while (!reader.empty()) {
    uint32_t type;
    ByteReader payload;
    if (!NextObu(&reader, &type, &payload)) return Search::kBad;
    if (type == kObuSequenceHeader)
      return ParseSequenceHeader(payload, out) ? Search::kFound : Search::kBad;
  }
  return Search::kNone;
}

}  // namespace
bool ParseAv1CodecConfig(const uint8_t* data, size_t size, Av1Info* out) {
  ByteReader reader(data, size);
  uint8_t fixed[4];
  for (uint8_t& byte : fixed) {
    if (!reader.GetU8(&byte)) return false;
  }
  if (fixed[0] != 0x81) return false;  // marker and version 1
  Av1Info info;
  info.seqProfile = fixed[1] >> 5;
  info.seqLevelIdx0 = fixed[1] & 0x1F;
  const bool high_bitdepth = fixed[2] & 0x40, twelve_bit = fixed[2] & 0x20;
  info.bitDepth = twelve_bit ? 12 : high_bitdepth ? 10 : 8;
  info.monochrome = fixed[2] & 0x10;
  info.chromaSubsamplingX = (fixed[2] >> 3) & 1;
  info.chromaSubsamplingY = (fixed[2] >> 2) & 1;
  if (!reader.empty()) {
    // configOBUs: a sequence header there also gives the picture size.
    if (FindSequenceHeader(reader, &info) == Search::kBad) return false;
  }
  *out = info;
  return true;
}

bool ParseAv1SequenceHeaderObus(const uint8_t* data, size_t size, Av1Info* out) {
  return FindSequenceHeader(ByteReader(data, size), out) == Search::kFound;
}

}  // namespace flvdmx

#include "streams/decoder_config.h"

#include "base/byte_reader.h"
#include "platform/dshow.h"

namespace flvdmx {

namespace {

constexpr size_t kAvcHeaderSize = 5;    // version, profile, compatibility, level, length size
constexpr size_t kHvccHeaderSize = 22;  // up to and including lengthSizeMinusOne

// One unit: a 16-bit big-endian length and that many bytes, which must lie
// wholly within the record.
DecoderConfigResult PassUnit(ByteReader& record, DecoderConfigUnitSink* pSink) {
  uint16_t length = 0;
  ByteReader unit;
  if (!record.GetU16(&length) || !record.GetSubReader(&unit, length))
    return DecoderConfigResult::kMalformed;
  return pSink->OnUnit(unit.data(), unit.size()) ? DecoderConfigResult::kParsed
                                                 : DecoderConfigResult::kSinkFailed;
}

DecoderConfigResult PassUnits(ByteReader& record, uint32_t count, DecoderConfigUnitSink* pSink) {
  for (uint32_t i = 0; i < count; ++i) {
    const DecoderConfigResult result = PassUnit(record, pSink);
    if (result != DecoderConfigResult::kParsed) return result;
  }
  return DecoderConfigResult::kParsed;
}

// AVC and the AVC-like layouts: the header, a byte whose low five bits
// count the leading units, the units, a count byte, the trailing units.
DecoderConfigResult ParseAvcLike(ByteReader& record, DecoderConfigLayout layout,
                                 DecoderConfigUnitSink* pSink, uint32_t* pcbLengthSize) {
  const uint8_t* pHeader = nullptr;
  uint8_t leadingCountByte = 0;
  if (!record.GetSpan(&pHeader, kAvcHeaderSize) || !record.GetU8(&leadingCountByte))
    return DecoderConfigResult::kMalformed;
  if (pcbLengthSize) *pcbLengthSize = (pHeader[4] & 3u) + 1;
  const bool firstSets = layout == DecoderConfigLayout::kAvcFirstSets;
  DecoderConfigResult result = PassUnits(record, firstSets ? 1 : leadingCountByte & 0x1Fu, pSink);
  if (result != DecoderConfigResult::kParsed) return result;
  uint8_t trailingCount = 0;
  if (!record.GetU8(&trailingCount)) return DecoderConfigResult::kMalformed;
  return PassUnits(record, layout == DecoderConfigLayout::kAvc ? trailingCount : 1, pSink);
}

DecoderConfigResult ParseHvcc(ByteReader& record, DecoderConfigUnitSink* pSink,
                              uint32_t* pcbLengthSize) {
  const uint8_t* pHeader = nullptr;
  uint8_t arrays = 0;
  if (!record.GetSpan(&pHeader, kHvccHeaderSize) || pHeader[0] != 1 || !record.GetU8(&arrays) ||
      arrays == 0)
    return DecoderConfigResult::kMalformed;
  if (pcbLengthSize) *pcbLengthSize = (pHeader[21] & 3u) + 1;
  for (uint8_t a = 0; a < arrays; ++a) {
    uint8_t type = 0;
    uint16_t units = 0;
    if (!record.GetU8(&type) || !record.GetU16(&units)) return DecoderConfigResult::kMalformed;
    const uint8_t nalType = type & 0x3F;
    if (nalType < 32 || (nalType > 34 && nalType != 39 && nalType != 40))
      return DecoderConfigResult::kMalformed;
    for (uint32_t i = 0; i < units; ++i) {
      uint16_t length = 0;
      ByteReader unit;
      uint8_t header = 0;
      if (!record.GetU16(&length) || !record.GetSubReader(&unit, length) || !unit.PeekU8(&header) ||
          ((header >> 1) & 0x3F) != nalType)
        return DecoderConfigResult::kMalformed;
      if (!pSink->OnUnit(unit.data(), unit.size())) return DecoderConfigResult::kSinkFailed;
    }
  }
  return record.empty() ? DecoderConfigResult::kParsed : DecoderConfigResult::kMalformed;
}

// Start-code form into a buffer; remembers why it stopped.
class StartCodeSink final : public DecoderConfigUnitSink {
 public:
  explicit StartCodeSink(CBaseBuffer* pOut) : m_pOut(pOut) {}
  bool OnUnit(const uint8_t* pUnit, size_t cbUnit) override {
    static const uint8_t kStartCode[3] = {0x00, 0x00, 0x01};
    m_hr = m_pOut->Append(kStartCode, sizeof(kStartCode));
    if (SUCCEEDED(m_hr)) m_hr = m_pOut->Append(pUnit, static_cast<int>(cbUnit));
    return SUCCEEDED(m_hr);
  }
  HRESULT Status() const { return m_hr; }

 private:
  CBaseBuffer* m_pOut;
  HRESULT m_hr = S_OK;
};

}  // namespace

DecoderConfigResult ParseDecoderConfigRecord(const uint8_t* pRecord, size_t cbRecord,
                                             DecoderConfigLayout layout,
                                             DecoderConfigUnitSink* pSink,
                                             uint32_t* pcbLengthSize) {
  ByteReader record(pRecord, cbRecord);
  if (layout == DecoderConfigLayout::kHvcc) return ParseHvcc(record, pSink, pcbLengthSize);
  return ParseAvcLike(record, layout, pSink, pcbLengthSize);
}

HRESULT AppendParameterSetsFromRecord(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                                      CBaseBuffer* pOut, DecoderConfigLayout* pLayout) {
  if (pOut == nullptr) return E_POINTER;
  StartCodeSink sink(pOut);
  DecoderConfigLayout layout = DecoderConfigLayout::kAvcFirstSets;
  DecoderConfigResult result = DecoderConfigResult::kMalformed;
  if (bHevc) {
    // Writers use either layout for HEVC; only a record that is exactly an
    // hvcC parses as one, so the structure tells them apart.
    const int cbBefore = pOut->Size();
    layout = DecoderConfigLayout::kHvcc;
    result = ParseDecoderConfigRecord(pRecord, cbRecord, layout, &sink);
    if (result == DecoderConfigResult::kMalformed) {
      pOut->SetSize(cbBefore);
      layout = DecoderConfigLayout::kHevcAvcLike;
    }
  }
  if (result == DecoderConfigResult::kMalformed)
    result = ParseDecoderConfigRecord(pRecord, cbRecord, layout, &sink);
  if (pLayout) *pLayout = layout;
  switch (result) {
    case DecoderConfigResult::kParsed:
      return S_OK;
    case DecoderConfigResult::kSinkFailed:
      return sink.Status();
    default:
      return VFW_E_INVALID_FILE_FORMAT;
  }
}

}  // namespace flvdmx

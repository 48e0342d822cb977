#include "streams/decoder_config.h"

#include "base/byte_reader.h"
#include "platform/dshow.h"

namespace flvdmx {

namespace {

// One unit: a 16-bit big-endian length and that many bytes, which must lie
// wholly within the record.
HRESULT AppendParameterSet(ByteReader& record, CBaseBuffer* pOut) {
  uint16_t length = 0;
  const uint8_t* pUnit = nullptr;
  if (!record.GetU16(&length) || !record.GetSpan(&pUnit, length)) return VFW_E_INVALID_FILE_FORMAT;
  static const uint8_t kStartCode[3] = {0x00, 0x00, 0x01};
  HRESULT hr = pOut->Append(kStartCode, sizeof(kStartCode));
  if (SUCCEEDED(hr)) hr = pOut->Append(pUnit, length);
  return hr;
}

}  // namespace

HRESULT AppendParameterSetsFromRecord(const uint8_t* pRecord, size_t cbRecord, bool bHevc, CBaseBuffer* pOut) {
  if (pOut == nullptr) return E_POINTER;
  ByteReader record(pRecord, cbRecord);
  uint8_t leadingCountByte = 0;
  if (!record.Skip(5) || !record.GetU8(&leadingCountByte)) return VFW_E_INVALID_FILE_FORMAT;
  const int leadingUnits = bHevc ? (leadingCountByte & 0x1F) : 1;
  for (int i = 0; i < leadingUnits; ++i) {
    const HRESULT hr = AppendParameterSet(record, pOut);
    if (FAILED(hr)) return hr;
  }
  if (!record.Skip(1)) return VFW_E_INVALID_FILE_FORMAT;
  return AppendParameterSet(record, pOut);
}

}  // namespace flvdmx

#include "parsers/mini_parser_h264.h"

#include <cstring>
#include <memory>
#include <new>

#include "h264/q264.h"
#include "parsers/start_code.h"

namespace flvdmx {

CMiniParserH264::CMiniParserH264() : CMiniParser(0x1F, 7, 2) {}

CMiniParserH264::~CMiniParserH264() = default;

ParameterSetsResult CMiniParserH264::ParseParameterSets(VideoStreamInfo* pInfo,
                                                        const uint8_t* pData, uint32_t cbData,
                                                        const uint8_t** /*ppResume*/) {
  if (!pData) return ParameterSetsResult::kNotFound;
  const uint8_t* pEnd = pData + cbData;

  // The first unit with forbidden_zero_bit 0 and nal_unit_type 7.
  const uint8_t* pHeader = pData;
  for (;;) {
    pHeader = FindStartCode(pHeader, static_cast<size_t>(pEnd - pHeader));
    if (!pHeader) return ParameterSetsResult::kNotFound;
    if ((*pHeader & 0x9F) == 7) break;
  }
  // Without a start code behind it the set may still continue.
  const uint8_t* pNext = FindStartCode(pHeader + 1, static_cast<size_t>(pEnd - pHeader - 1));
  if (!pNext) return ParameterSetsResult::kIncomplete;
  const uint8_t* pUnitEnd = pNext - 3;
  if (pUnitEnd[-1] == 0) --pUnitEnd;  // the first byte of a four-byte start code
  const uint32_t cbUnit = static_cast<uint32_t>(pUnitEnd - pHeader);

  std::unique_ptr<uint8_t[]> unit(new (std::nothrow) uint8_t[cbUnit]);
  if (!unit) return ParameterSetsResult::kOutOfMemory;
  std::memcpy(unit.get(), pHeader, cbUnit);
  Q264NalUnit nal;
  nal.buf = unit.get();
  nal.len = cbUnit;
  nal.forbidden_zero_bit = (*pHeader >> 7) & 1;
  nal.nal_ref_idc = (*pHeader >> 5) & 3;
  nal.nal_unit_type = *pHeader & 0x1F;

  Q264DecoderObject* pDecoder = Q264_CreateDecoderObject();
  if (!pDecoder) return ParameterSetsResult::kOutOfMemory;
  nal.len = Q264_EBSPtoRBSP(nal.buf, nal.len);
  const int result = Q264_ProcessSPS(pDecoder, &nal, pInfo);
  Q264_FreeDecoderObject(pDecoder);
  return result == 1 ? ParameterSetsResult::kParsed : ParameterSetsResult::kNotFound;
}

}  // namespace flvdmx

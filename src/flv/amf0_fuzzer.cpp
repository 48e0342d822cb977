// Fuzz target: the AMF0 walk over a script-data payload, as the metadata
// lookups run it, plus a visitor that reads every byte each value hands out.
#include <cstdint>

#include "flv/amf0.h"

namespace {

flvdmx::AmfStatus TouchValue(uint32_t type, const uint8_t* pName, uint32_t cbName,
                             const uint8_t* pData, uint32_t cbData, void* pContext) {
  auto* pSum = static_cast<uint32_t*>(pContext);
  for (uint32_t i = 0; i < cbName; ++i) *pSum += pName[i];
  for (uint32_t i = 0; i < cbData; ++i) *pSum += pData[i];
  *pSum += type;
  return flvdmx::AmfStatus::kOk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto cb = static_cast<uint32_t>(size > 0xFFFFFF ? 0xFFFFFF : size);
  uint32_t dwDuration = 0;
  int32_t lAudio = -1, lVideo = -1;
  (void)flvdmx::GetMetaDuration(data, cb, &dwDuration);
  (void)flvdmx::GetMetaAudioCodecId(data, cb, &lAudio);
  (void)flvdmx::GetMetaVideoCodecId(data, cb, &lVideo);
  flvdmx::AmfCursor cursor(data, cb);
  uint32_t dwSum = 0;
  (void)flvdmx::WalkAmfValues(cursor, TouchValue, &dwSum);
  return 0;
}

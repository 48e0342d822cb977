#include "flv/amf0.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "diag/trace.h"

namespace flvdmx {

namespace {

AmfStatus ParseAmfValue(AmfCursor& cursor, uint32_t* pType, const uint8_t* pName, uint32_t cbName,
                        AmfVisitor visitor, void* pContext);

// A 16-bit length and that many characters; the cursor moves only when both
// are there.
bool ReadAmfString(AmfCursor& cursor, const uint8_t** ppChars, uint32_t* pcbChars) {
  ByteReader r = cursor.reader;
  uint16_t length = 0;
  const uint8_t* pChars = nullptr;
  if (!r.GetU16(&length) || !r.GetSpan(&pChars, length)) return false;
  cursor.reader = r;
  *ppChars = pChars;
  *pcbChars = length;
  return true;
}

// Properties up to an object end or the end of the data; the body of Object
// and ECMA array.
AmfStatus ParseAmfProperties(AmfCursor& cursor, AmfVisitor visitor, void* pContext) {
  do {
    const uint8_t* pName = nullptr;
    uint32_t cbName = 0;
    if (!ReadAmfString(cursor, &pName, &cbName)) return AmfStatus::kInvalid;
    uint32_t type = 0;
    const AmfStatus status = ParseAmfValue(cursor, &type, pName, cbName, visitor, pContext);
    if (status != AmfStatus::kOk) return status;
    if (type == kAmfObjectEnd) break;
  } while (!cursor.reader.empty());
  return AmfStatus::kOk;
}

AmfStatus ParseAmfElements(AmfCursor& cursor, int32_t count, const uint8_t* pName, uint32_t cbName,
                           AmfVisitor visitor, void* pContext) {
  // Every element takes at least its marker byte, so a count from the file
  // cannot outrun the data.
  for (int32_t i = 0; i < count; ++i) {
    uint32_t type = 0;
    const AmfStatus status = ParseAmfValue(cursor, &type, pName, cbName, visitor, pContext);
    if (status != AmfStatus::kOk) return status;
  }
  return AmfStatus::kOk;
}

AmfStatus ParseAmfContainer(AmfCursor& cursor, uint32_t type, const uint8_t* pName, uint32_t cbName,
                            AmfVisitor visitor, void* pContext) {
  if (cursor.depth >= kAmfMaxDepth) return AmfStatus::kInvalid;
  ++cursor.depth;
  AmfStatus status = AmfStatus::kOk;
  if (type == kAmfStrictArray) {
    uint32_t count = 0;
    if (!cursor.reader.GetU32(&count)) {
      status = AmfStatus::kInvalid;
    } else {
      status =
          ParseAmfElements(cursor, static_cast<int32_t>(count), pName, cbName, visitor, pContext);
    }
  } else {
    if (type == kAmfEcmaArray && !cursor.reader.Skip(4)) {  // the count is only a hint
      status = AmfStatus::kInvalid;
    } else {
      status = ParseAmfProperties(cursor, visitor, pContext);
    }
  }
  --cursor.depth;
  return status;
}

// Parses one value at the cursor (reporting its marker through *pType) and
// visits it.
AmfStatus ParseAmfValue(AmfCursor& cursor, uint32_t* pType, const uint8_t* pName, uint32_t cbName,
                        AmfVisitor visitor, void* pContext) {
  uint8_t marker = 0;
  if (!cursor.reader.GetU8(&marker)) return AmfStatus::kInvalid;
  *pType = marker;
  const size_t dataPos = cursor.reader.pos();
  const uint8_t* pData = cursor.pStart + dataPos;
  uint32_t cbData = 0;
  switch (marker) {
    case kAmfNumber:
    case kAmfBoolean:
      cbData = marker == kAmfNumber ? 8 : 1;
      if (!cursor.reader.Skip(cbData)) return AmfStatus::kInvalid;
      break;
    case kAmfString:
      if (!ReadAmfString(cursor, &pData, &cbData)) return AmfStatus::kInvalid;
      break;
    case kAmfObject:
    case kAmfEcmaArray:
    case kAmfStrictArray: {
      const AmfStatus status = ParseAmfContainer(cursor, marker, pName, cbName, visitor, pContext);
      if (status != AmfStatus::kOk) return status;
      cbData = static_cast<uint32_t>(cursor.reader.pos() - dataPos);
      break;
    }
    case kAmfObjectEnd:
      break;
    case kAmfDate:
      Trace("Unknown tag (DATE) - Aborting parsing");
      return AmfStatus::kUnsupportedValue;
    default:
      Trace("Unknown tag (%d) - Aborting parsing", static_cast<int>(marker));
      return AmfStatus::kUnsupportedValue;
  }
  return visitor(marker, pName, cbName, pData, cbData, pContext);
}

// Number: the big-endian double. String: the leading number text of the
// characters (0 when there is none), as atof reads it. False for other types,
// a Number shorter than 8 bytes, or out of memory.
bool AmfValueToDouble(uint32_t type, const uint8_t* pData, uint32_t cbData, double* pValue) {
  if (type == kAmfNumber) {
    ByteReader r(pData, cbData);
    uint64_t bits = 0;
    if (!r.GetU64(&bits)) return false;
    static_assert(sizeof(double) == sizeof(bits), "IEEE-754 double expected");
    std::memcpy(pValue, &bits, sizeof(bits));
    return true;
  }
  if (type == kAmfString) {
    try {
      std::string text(reinterpret_cast<const char*>(pData), cbData);
      *pValue = std::atof(text.c_str());
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  return false;
}

}  // namespace

AmfStatus WalkAmfValues(AmfCursor& cursor, AmfVisitor visitor, void* pContext) {
  cursor.reader = ByteReader(cursor.pStart, cursor.cbLength);
  cursor.depth = 0;
  while (!cursor.reader.empty()) {
    uint32_t type = 0;
    const AmfStatus status = ParseAmfValue(cursor, &type, nullptr, 0, visitor, pContext);
    if (status != AmfStatus::kOk) return status;
  }
  return AmfStatus::kOk;
}

namespace {

struct KeyMatch {
  const char* pszKey;
  uint32_t cbKey;
  double value;
};

// The first property of the name ends the walk: found when its value
// converts, else rejected.
AmfStatus MatchKey(uint32_t type, const uint8_t* pName, uint32_t cbName, const uint8_t* pData,
                   uint32_t cbData, void* pContext) {
  auto* match = static_cast<KeyMatch*>(pContext);
  if (!pName || cbName != match->cbKey || std::memcmp(pName, match->pszKey, cbName) != 0) {
    return AmfStatus::kOk;
  }
  return AmfValueToDouble(type, pData, cbData, &match->value) ? AmfStatus::kFound
                                                              : AmfStatus::kRejected;
}

bool LookUp(const uint8_t* pBuffer, uint32_t cbBuffer, const char* pszKey, double* pValue) {
  KeyMatch match{pszKey, static_cast<uint32_t>(std::strlen(pszKey)), 0.0};
  AmfCursor cursor(pBuffer, cbBuffer);
  if (WalkAmfValues(cursor, MatchKey, &match) != AmfStatus::kFound) return false;
  *pValue = match.value;
  return true;
}

uint32_t SecondsToMilliseconds(double seconds) {
  double ms = seconds * 1000.0 + 0.99;
  if (!(ms >= 0.0)) return 0;  // negative or NaN: no usable duration
  if (ms >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(ms);
}

int32_t ToCodecId(double value) {
  if (std::isnan(value)) return -1;
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(value);
}

}  // namespace

HRESULT GetMetaDuration(const uint8_t* pBuffer, uint32_t cbBuffer, uint32_t* pdwDuration) {
  double seconds = 0.0;
  if (!LookUp(pBuffer, cbBuffer, "duration", &seconds)) return E_FAIL;
  *pdwDuration = SecondsToMilliseconds(seconds);
  return S_OK;
}

HRESULT GetMetaAudioCodecId(const uint8_t* pBuffer, uint32_t cbBuffer, int32_t* plCodecId) {
  double id = 0.0;
  if (!LookUp(pBuffer, cbBuffer, "audiocodecid", &id)) return E_FAIL;
  *plCodecId = ToCodecId(id);
  return S_OK;
}

HRESULT GetMetaVideoCodecId(const uint8_t* pBuffer, uint32_t cbBuffer, int32_t* plCodecId) {
  double id = 0.0;
  if (!LookUp(pBuffer, cbBuffer, "videocodecid", &id)) return E_FAIL;
  *plCodecId = ToCodecId(id);
  return S_OK;
}

HRESULT ParseScriptDataTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                           uint32_t* pdwDuration, int32_t* plAudioCodecId,
                           int32_t* plVideoCodecId) {
  // Only the bytes the file holds: a short file declaring a 16 MiB tag must
  // not cost a 16 MiB buffer and a walk over millions of phantom values.
  uint32_t cb = tag.DataSize;
  const int64_t llPayload = llPosition + kFlvTagPayloadOffset;
  if (reader.Available() > 0) {
    const int64_t llHeld = reader.Available() > llPayload ? reader.Available() - llPayload : 0;
    if (llHeld < cb) cb = static_cast<uint32_t>(llHeld);
  }
  if (cb == 0) return S_OK;
  // Zeroed, so that the tail of a short read holds no stale bytes.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[cb]());
  if (!buffer) return E_OUTOFMEMORY;
  HRESULT hr = reader.Read(llPayload, cb, buffer.get());
  if (FAILED(hr)) return hr;
  (void)GetMetaDuration(buffer.get(), cb, pdwDuration);
  (void)GetMetaAudioCodecId(buffer.get(), cb, plAudioCodecId);
  (void)GetMetaVideoCodecId(buffer.get(), cb, plVideoCodecId);
  return S_OK;
}

}  // namespace flvdmx

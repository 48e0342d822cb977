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

uint32_t Distance(const uint8_t* from, const uint8_t* to) {
  return static_cast<uint32_t>(to - from);
}

// Properties up to an object end or the end of the data; the body of Object
// and ECMA array.
HRESULT ParseAmfProperties(AmfCursor& cursor, AmfVisitor visitor, void* pContext) {
  do {
    const uint8_t* pName = nullptr;
    uint32_t cbName = 0;
    HRESULT hr = ReadAmfString(cursor, &pName, &cbName);
    if (hr != 0) return hr;
    uint32_t type = 0;
    hr = ParseAmfValue(cursor, &type, pName, cbName, visitor, pContext);
    if (hr != 0) return hr;
    if (type == kAmfObjectEnd) break;
  } while (!cursor.reader.empty());
  return 0;
}

HRESULT ParseAmfElements(AmfCursor& cursor, int32_t count, const uint8_t* pName, uint32_t cbName,
                         AmfVisitor visitor, void* pContext) {
  // Every element takes at least its marker byte, so a count from the file
  // cannot outrun the data.
  for (int32_t i = 0; i < count; ++i) {
    uint32_t type = 0;
    HRESULT hr = ParseAmfValue(cursor, &type, pName, cbName, visitor, pContext);
    if (hr != 0) return hr;
  }
  return 0;
}

HRESULT ParseAmfContainer(AmfCursor& cursor, uint32_t type, const uint8_t* pName, uint32_t cbName,
                          AmfVisitor visitor, void* pContext) {
  if (cursor.depth >= kAmfMaxDepth) return STG_E_INVALIDHEADER;
  ++cursor.depth;
  HRESULT hr = 0;
  if (type == kAmfStrictArray) {
    uint32_t count = 0;
    if (!cursor.reader.GetU32(&count)) {
      hr = STG_E_INVALIDHEADER;
    } else {
      hr = ParseAmfElements(cursor, static_cast<int32_t>(count), pName, cbName, visitor, pContext);
    }
  } else {
    if (type == kAmfEcmaArray && !cursor.reader.Skip(4)) {  // the count is only a hint
      hr = STG_E_INVALIDHEADER;
    } else {
      hr = ParseAmfProperties(cursor, visitor, pContext);
    }
  }
  --cursor.depth;
  return hr;
}

}  // namespace

HRESULT ReadAmfString(AmfCursor& cursor, const uint8_t** ppChars, uint32_t* pcbChars) {
  ByteReader r = cursor.reader;
  uint16_t length = 0;
  const uint8_t* pChars = nullptr;
  if (!r.GetU16(&length) || !r.GetSpan(&pChars, length)) return STG_E_INVALIDHEADER;
  cursor.reader = r;
  *ppChars = pChars;
  *pcbChars = length;
  return 0;
}

HRESULT ParseAmfValue(AmfCursor& cursor, uint32_t* pType, const uint8_t* pName, uint32_t cbName,
                      AmfVisitor visitor, void* pContext) {
  const uint8_t* pValue = cursor.reader.current();
  uint8_t marker = 0;
  if (!cursor.reader.GetU8(&marker)) return STG_E_INVALIDHEADER;
  *pType = marker;
  const uint8_t* pData = cursor.reader.current();
  uint32_t cbData = 0;
  switch (marker) {
    case kAmfNumber:
    case kAmfBoolean:
      cbData = marker == kAmfNumber ? 8 : 1;
      if (!cursor.reader.Skip(cbData)) return STG_E_INVALIDHEADER;
      break;
    case kAmfString: {
      HRESULT hr = ReadAmfString(cursor, &pData, &cbData);
      if (hr != 0) return hr;
      break;
    }
    case kAmfObject:
    case kAmfEcmaArray:
    case kAmfStrictArray: {
      HRESULT hr = ParseAmfContainer(cursor, marker, pName, cbName, visitor, pContext);
      if (hr != 0) return hr;
      cbData = Distance(pData, cursor.reader.current());
      break;
    }
    case kAmfObjectEnd:
      break;
    case kAmfDate:
      Trace("Unknown tag (DATE) - Aborting parsing");
      return kAmfUnsupportedValue;
    default:
      Trace("Unknown tag (%d) - Aborting parsing", static_cast<int>(marker));
      return kAmfUnsupportedValue;
  }
  return visitor(marker, pName, cbName, pValue, Distance(pValue, cursor.reader.current()), pData,
                 cbData, pContext);
}

HRESULT WalkAmfValues(AmfCursor& cursor, AmfVisitor visitor, void* pContext) {
  cursor.reader = ByteReader(cursor.reader.data(), cursor.reader.size());
  cursor.depth = 0;
  while (!cursor.reader.empty()) {
    uint32_t type = 0;
    HRESULT hr = ParseAmfValue(cursor, &type, nullptr, 0, visitor, pContext);
    if (hr != 0) return hr;
  }
  return 0;
}

HRESULT AmfValueToDouble(uint32_t type, const uint8_t* pData, uint32_t cbData, double* pValue) {
  if (type == kAmfNumber) {
    ByteReader r(pData, cbData);
    uint64_t bits = 0;
    if (!r.GetU64(&bits)) return E_INVALIDARG;
    static_assert(sizeof(double) == sizeof(bits), "IEEE-754 double expected");
    std::memcpy(pValue, &bits, sizeof(bits));
    return S_OK;
  }
  if (type == kAmfString) {
    try {
      std::string text(reinterpret_cast<const char*>(pData), cbData);
      *pValue = std::atof(text.c_str());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  return E_INVALIDARG;
}

namespace {

struct KeyMatch {
  const char* pszKey;
  uint32_t cbKey;
  double value;
};

HRESULT MatchKey(uint32_t type, const uint8_t* pName, uint32_t cbName, const uint8_t*, uint32_t,
                 const uint8_t* pData, uint32_t cbData, void* pContext) {
  auto* match = static_cast<KeyMatch*>(pContext);
  if (!pName || cbName != match->cbKey || std::memcmp(pName, match->pszKey, cbName) != 0) return 0;
  HRESULT hr = AmfValueToDouble(type, pData, cbData, &match->value);
  return hr == S_OK ? kAmfFound : hr;
}

bool LookUp(const uint8_t* pBuffer, uint32_t cbBuffer, const char* pszKey, double* pValue) {
  KeyMatch match{pszKey, static_cast<uint32_t>(std::strlen(pszKey)), 0.0};
  AmfCursor cursor(pBuffer, cbBuffer);
  if (WalkAmfValues(cursor, MatchKey, &match) != kAmfFound) return false;
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
  const uint32_t cb = tag.DataSize;
  if (cb == 0) return S_OK;
  // Zeroed, so that the tail of a short read holds no stale bytes.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[cb]());
  if (!buffer) return E_OUTOFMEMORY;
  HRESULT hr = reader.Read(llPosition + kFlvTagPayloadOffset, cb, buffer.get());
  if (FAILED(hr)) return hr;
  (void)GetMetaDuration(buffer.get(), cb, pdwDuration);
  (void)GetMetaAudioCodecId(buffer.get(), cb, plAudioCodecId);
  (void)GetMetaVideoCodecId(buffer.get(), cb, plVideoCodecId);
  return S_OK;
}

}  // namespace flvdmx

// The script-data (AMF0) walker and the three metadata lookups the filter
// uses: "duration", "audiocodecid" and "videocodecid".
//
// The walker visits every value depth first and calls a visitor with the
// value's type, the name of the property it belongs to and where its bytes
// lie; a visitor that finds what it looks for stops the walk. All reads are
// bounded by the buffer, and containers may nest at most kAmfMaxDepth deep,
// so hostile data can neither read past the buffer nor exhaust the stack.
// Pure functions over bytes; only ParseScriptDataTag reads the file.
#pragma once

#include <cstdint>

#include "flv/flv_reader.h"
#include "flvdefs/flv_tag.h"
#include "base/byte_reader.h"
#include "platform/com.h"

namespace flvdmx {

enum AmfType : uint32_t {
  kAmfNumber = 0,
  kAmfBoolean = 1,
  kAmfString = 2,
  kAmfObject = 3,
  kAmfMovieClip = 4,
  kAmfNull = 5,
  kAmfUndefined = 6,
  kAmfReference = 7,
  kAmfEcmaArray = 8,
  kAmfObjectEnd = 9,
  kAmfStrictArray = 10,
  kAmfDate = 11,
};

// Objects, ECMA arrays and strict arrays nested deeper than this end the walk
// with STG_E_INVALIDHEADER. Real metadata nests two or three levels.
inline constexpr uint32_t kAmfMaxDepth = 64;

// Result of a walk stopped by an unsupported value (Date, Null, ...).
inline constexpr HRESULT kAmfUnsupportedValue = 1;
// Result of a key matcher that found its property.
inline constexpr HRESULT kAmfFound = 2;

// One walk's position in its buffer; every nesting level reads through the
// same cursor.
struct AmfCursor {
  AmfCursor(const uint8_t* pStart, uint32_t cbLength) : reader(pStart, cbLength) {}
  ByteReader reader;   // start, length, current byte and bytes left
  uint32_t depth = 0;  // containers entered and not yet left
};

// Called for every value: its type marker; the property name (null for values
// without one; strict-array elements carry the array's name, the object end
// the empty name before it); the value from its marker on; and its data (the
// 8 bytes of a Number, the byte of a Boolean, a String's characters, or all
// bytes after the marker of a container). 0 goes on; any other result stops
// the walk and is what the walk returns.
using AmfVisitor = HRESULT (*)(uint32_t type, const uint8_t* pName, uint32_t cbName,
                               const uint8_t* pValue, uint32_t cbValue, const uint8_t* pData,
                               uint32_t cbData, void* pContext);

// Visits every top-level value from the start of the cursor's buffer. 0 when
// all were visited, otherwise the first non-zero result of ParseAmfValue.
HRESULT WalkAmfValues(AmfCursor& cursor, AmfVisitor visitor, void* pContext);

// Parses one value at the cursor (reporting its marker through *pType) and
// visits it. 0, a visitor's result, kAmfUnsupportedValue, or
// STG_E_INVALIDHEADER when the data ends inside the value or nests too deep.
HRESULT ParseAmfValue(AmfCursor& cursor, uint32_t* pType, const uint8_t* pName, uint32_t cbName,
                      AmfVisitor visitor, void* pContext);

// A 16-bit length and that many characters. 0 or STG_E_INVALIDHEADER.
HRESULT ReadAmfString(AmfCursor& cursor, const uint8_t** ppChars, uint32_t* pcbChars);

// Number: the big-endian double. String: the leading number text of the
// characters (0 when there is none), as atof reads it. E_INVALIDARG for other
// types or a Number shorter than 8 bytes; E_OUTOFMEMORY.
HRESULT AmfValueToDouble(uint32_t type, const uint8_t* pData, uint32_t cbData, double* pValue);

// Each walks the buffer for the first property of that exact name (case
// matters; nested properties and strict-array elements count) and converts
// its value. S_OK, or E_FAIL with the output unchanged.
// Duration: seconds × 1000 + 0.99, truncated, in ms; negative or NaN give 0,
// values past the u32 range give 0xFFFFFFFF.
HRESULT GetMetaDuration(const uint8_t* pBuffer, uint32_t cbBuffer, uint32_t* pdwDuration);
// Codec ids: truncated toward zero, clamped to the i32 range; NaN gives -1.
HRESULT GetMetaAudioCodecId(const uint8_t* pBuffer, uint32_t cbBuffer, int32_t* plCodecId);
HRESULT GetMetaVideoCodecId(const uint8_t* pBuffer, uint32_t cbBuffer, int32_t* plCodecId);

// Reads the payload of the script-data tag at a tag position with one read and
// runs the three lookups on it. The caller presets duration 0 and codec ids
// -1; what is not found keeps those. S_OK (also when nothing was found or the
// read came back short), E_OUTOFMEMORY, or the read's failure with the outputs
// untouched.
HRESULT ParseScriptDataTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                           uint32_t* pdwDuration, int32_t* plAudioCodecId, int32_t* plVideoCodecId);

}  // namespace flvdmx

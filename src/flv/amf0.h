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
// with AmfStatus::kInvalid. Real metadata nests two or three levels.
inline constexpr uint32_t kAmfMaxDepth = 64;

// How a walk ended; a visitor's answer. Private to the walker and its
// visitors: it never crosses an interface.
enum class AmfStatus : uint8_t {
  kOk,                // every value visited; from a visitor: go on
  kFound,             // a visitor found what it looked for
  kRejected,          // a visitor stopped the walk without a result
  kUnsupportedValue,  // a value the walker cannot step over (Date, Null, ...)
  kInvalid,           // the data ends inside a value, or it nests too deep
};

// One walk's buffer and position in it; every nesting level reads through the
// same cursor.
struct AmfCursor {
  AmfCursor(const uint8_t* pStart, uint32_t cbLength)
      : pStart(pStart), cbLength(cbLength), reader(pStart, cbLength) {}
  const uint8_t* pStart;
  uint32_t cbLength;
  ByteReader reader;   // the position in the buffer
  uint32_t depth = 0;  // containers entered and not yet left
};

// Called for every value: its type marker; the property name (null for values
// without one; strict-array elements carry the array's name, the object end
// the empty name before it); and its data (the 8 bytes of a Number, the byte
// of a Boolean, a String's characters, or all bytes after the marker of a
// container). kOk goes on; any other answer stops the walk and is what the
// walk returns.
using AmfVisitor = AmfStatus (*)(uint32_t type, const uint8_t* pName, uint32_t cbName,
                                 const uint8_t* pData, uint32_t cbData, void* pContext);

// Visits every top-level value from the start of the cursor's buffer. kOk
// when all were visited; else the visitor's answer that stopped the walk,
// kUnsupportedValue or kInvalid.
AmfStatus WalkAmfValues(AmfCursor& cursor, AmfVisitor visitor, void* pContext);

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
// runs the three lookups on it. Only the part the reader's available length
// holds is read. The caller presets duration 0 and codec ids
// -1; what is not found keeps those. S_OK (also when nothing was found or the
// read came back short), E_OUTOFMEMORY, or the read's failure with the outputs
// untouched.
HRESULT ParseScriptDataTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tag,
                           uint32_t* pdwDuration, int32_t* plAudioCodecId, int32_t* plVideoCodecId);

}  // namespace flvdmx

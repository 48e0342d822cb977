// The one parser of AVC and HEVC decoder configuration records: it hands the
// parameter sets (and SEI) a record holds to a sink, one unit at a time, and
// gives the size of the NAL length prefixes of the stream's samples. Pure
// functions over the record's bytes; they read nothing outside them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/buffer.h"
#include "platform/com.h"

namespace flvdmx {

// How a record is read.
enum class DecoderConfigLayout {
  // AVCDecoderConfigurationRecord: every sequence and picture parameter set,
  // as its counts say.
  kAvc,
  // The filter's reading of AVC: the first sequence parameter set, then
  // (past the count byte) the first picture parameter set; the counts are
  // not consulted.
  kAvcFirstSets,
  // The AVC-like layout FLV writers use for HEVC: as many units as the low
  // five bits of the sixth byte (normally the video and sequence parameter
  // sets), then past one count byte one more unit (the picture parameter set).
  kHevcAvcLike,
  // HEVCDecoderConfigurationRecord: every unit of every array. Only a record
  // that is exactly that (the arrays fill it, each holds parameter sets or
  // SEI of its own type) parses: the AVC-like layout would otherwise pass.
  kHvcc,
};

// Receives the units in record order. False stops the parse (a failure of
// the sink's own, such as memory running out).
class DecoderConfigUnitSink {
 public:
  virtual bool OnUnit(const uint8_t* pUnit, size_t cbUnit) = 0;

 protected:
  ~DecoderConfigUnitSink() = default;
};

enum class DecoderConfigResult { kParsed, kMalformed, kSinkFailed };

// Reads `pRecord` (cbRecord bytes, starting with the record's first byte).
// *pcbLengthSize (optional) gets the NAL length-prefix size, 1 to 4, once the
// byte that holds it has been read. kMalformed when a length or count runs
// past the record or the layout does not fit; the sink may then have had
// the units before the fault.
DecoderConfigResult ParseDecoderConfigRecord(const uint8_t* pRecord, size_t cbRecord,
                                             DecoderConfigLayout layout,
                                             DecoderConfigUnitSink* pSink,
                                             uint32_t* pcbLengthSize = nullptr);

// The filter's use: the units of a kAvcFirstSets record, or for HEVC (`bHevc`)
// of a kHvcc record when it is one and else of a kHevcAvcLike record,
// appended to pOut in start-code form (00 00 01 + unit) for the mini-parsers.
// *pLayout (optional) gets the layout read. S_OK; VFW_E_INVALID_FILE_FORMAT
// when the record is malformed (pOut may then hold the units before the
// fault); E_OUTOFMEMORY.
HRESULT AppendParameterSetsFromRecord(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                                      CBaseBuffer* pOut, DecoderConfigLayout* pLayout = nullptr);

}  // namespace flvdmx

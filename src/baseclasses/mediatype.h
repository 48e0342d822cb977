// CMediaType: the platform's AM_MEDIA_TYPE with value semantics. It owns its
// format block (allocated with the task allocator, so it can be handed across
// interfaces) and one reference on pUnk; copying deep-copies the block and
// adds a reference, destruction frees both. A new type has fixed-size samples
// and a sample size of 1, everything else zero.
//
// The free functions serve raw AM_MEDIA_TYPE records that cross interfaces
// (enumerators, IPin::ConnectionMediaType, IMediaSample::GetMediaType).
#pragma once

#include "platform/com.h"
#include "platform/dshow.h"
#include "platform/mediatypes.h"

namespace flvdmx {

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majortype);
  // A copy that fails to allocate the format block reports E_OUTOFMEMORY
  // through phr and leaves a type without a block.
  CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& rt, HRESULT* phr = nullptr);
  ~CMediaType();

  CMediaType& operator=(const CMediaType& rt);
  CMediaType& operator=(const AM_MEDIA_TYPE& rt);

  // The equality rule of the output pins' type check: major type and subtype
  // must match, format blocks must match byte for byte except where video
  // formats describe the same picture (see IsEqualMediaType).
  bool operator==(const CMediaType& rt) const;
  bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

  // Deep copy; S_OK or E_OUTOFMEMORY (this type is then left without a block).
  HRESULT Set(const CMediaType& rt);
  HRESULT Set(const AM_MEDIA_TYPE& rt);

  // Releases pUnk and the format block, then back to the new-type state.
  void InitMediaType();

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* ptype) { majortype = *ptype; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* ptype) { subtype = *ptype; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }

  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  // A size of 0 means variable-size samples.
  void SetSampleSize(ULONG sz);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Replaces the block with a copy of `length` bytes; FALSE (block unchanged)
  // when memory runs out.
  BOOL SetFormat(const BYTE* pFormat, ULONG length);
  // A block of exactly `length` bytes, its contents undefined unless the old
  // block already had that length (then it is kept). Null on failure, with
  // the old block unchanged; a length of 0 frees the block and gives null.
  BYTE* AllocFormatBuffer(ULONG length);
  void ResetFormatBuffer();

  // TRUE when every identity that `ppartial` sets (not GUID_NULL) is equal
  // here, and the format block too when it sets a format type and a block.
  BOOL MatchesPartial(const CMediaType* ppartial) const;
  BOOL IsPartiallySpecified() const;
};

// The equality rule behind CMediaType::operator==; `a` is the type a pin
// offers, `b` the one proposed to it (the rule is not symmetric).
bool IsEqualMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// Releases pUnk and frees the format block of a record; the record itself
// stays (its fields are cleared).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees the block and then the record, which came from CreateMediaType.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A task-allocated deep copy of `pSrc`, or null when memory runs out.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Deep copy into a record whose old contents are not freed. S_OK or
// E_OUTOFMEMORY (then the target has no block and no pUnk).
HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);

}  // namespace flvdmx

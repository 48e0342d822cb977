// Moving through an FLV file by time: forward and backward walks to a tag of
// one type, positioning a stream at a target time (FindPreviousFrame), the
// interpolating search over byte positions (PerformBinarySeek), and the search
// for a plausible tag header from an arbitrary byte (FindNextTagHeaderSlow).
//
// All times are u32 milliseconds, all positions tag positions. These are free
// functions over the caller's records and reader object; the only shared
// state they touch is the fix-up table behind the reader object (own lock)
// and the upstream reader, so both delivery threads may call them at once.
// Out records and positions are written only when a call returns S_OK, so a
// record and its position always name the same tag.
#pragma once

#include <cstdint>

#include "flv/flv_reader.h"
#include "flvdefs/flv_tag.h"
#include "platform/com.h"

namespace flvdmx {

// FindPreviousFrame trusts its start point's time over the tag's beyond this.
inline constexpr uint32_t kOverrideLimit = 1000;
// The search runs only for gaps above this and stops within it.
inline constexpr uint32_t kSearchTolerance = 5000;
// Largest step of one probe when the low and high times differ in their top byte.
inline constexpr uint32_t kProbeStepCap = 0x400000;
// FindNextTagHeaderSlow reads this much at a time; the tail search steps back
// by this much.
inline constexpr int64_t kScanWindow = 8192;

// From the tag at llPosition on, the first tag of `type`, its time carried on
// from dwReference (the same reference for every tag of the walk). A tag whose
// PreviousTagSize is neither 0 nor the expected size (dwExpectedPrevSize for
// the first, 0 = unchecked) and is not repaired in the fix-up table breaks the
// chain. S_OK; S_FALSE at the end of the file; VFW_E_INVALID_FILE_FORMAT for a
// broken chain; E_POINTER without a reader; another read failure unchanged.
// pllBrokenAt, when given, receives where the chain stopped being trusted on
// a broken chain or on an end reached through a tag of unknown type (the
// first such tag), else -1.
HRESULT FindNextTagOfType(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                          uint32_t dwExpectedPrevSize, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, int64_t* pllBrokenAt = nullptr);

// FindNextTagOfType that does not give up at a break in the chain (a wrong
// PreviousTagSize, garbage between tags): it searches for the next plausible
// tag header from the break (FindNextTagHeaderSlow) and walks on from there.
// *pbResynchronised (may be null) tells that a break was crossed. Results as
// FindNextTagOfType's; a break with nothing after it gives the walk's result.
HRESULT FindNextTagResync(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                          uint32_t dwExpectedPrevSize, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, bool* pbResynchronised);

// The tag just before the tag at llPosition (record `tagAt`): through the
// fix-up table, else through its back-link when that leads to a tag ending
// at llPosition, else by walking forward from an earlier tag (found with the
// header search, or the first tag) up to it; the links that walk learns go
// into the fix-up table. S_OK; S_FALSE for the first tag, or a position the
// chain does not reach; a read failure.
HRESULT FindPredecessorTag(const CFlvReader& reader, int64_t llPosition, const FlvTag& tagAt,
                           FlvTag& prev, int64_t& llPrevPosition);

// The nearest tag of `type` before the tag at llPosition, whose record `tag`
// holds on entry; each step back is FindPredecessorTag. The found
// tag's time is carried back from dwReference (WraparoundBackward). S_OK;
// S_FALSE when there is no earlier tag; a read failure. `tag` and
// `llFoundPosition` change only on S_OK.
HRESULT FindPrevTagOfType(const CFlvReader& reader, int64_t llPosition, uint8_t type, FlvTag& tag,
                          int64_t& llFoundPosition, uint32_t dwReference);

// Positions a stream of `type` for delivery from dwTarget, starting from the
// tag at or after llPosition whose time is about dwStartTime (a cached start
// point or the first tag). On S_OK llPosition and `tag` name the tag to start
// from: the last tag at or before the target when walking forward, the first
// tag before it when walking back; dwTarget becomes its time, and
// llSampleCount moves by the number of tags stepped over. The tag is of
// `type` whenever the file has one: where the search ended on a tag of
// another type and no walk moved off it, the nearest tag of `type` before it
// (else after it) is taken. Otherwise the failure of the first forward walk.
HRESULT FindPreviousFrame(const CFlvReader& reader, uint8_t type, int64_t& llPosition,
                          uint32_t dwStartTime, uint32_t& dwTarget, FlvTag& tag,
                          int64_t& llSampleCount);

// Interpolating search for a tag within kSearchTolerance of dwTarget between
// a low and a high (position, time). Leaves `tag` and `llPosition` on the last
// tag it found (unchanged when it found none). S_OK, or the failure of
// FindNextTagHeaderSlow. Stops when a probe makes no progress, or after a
// bounded number of probes on data whose times do not rise with position.
HRESULT PerformBinarySeek(const CFlvReader& reader, uint32_t dwTarget, int64_t llLowPos,
                          uint32_t dwLowTime, int64_t llHighPos, uint32_t dwHighTime, FlvTag& tag,
                          int64_t& llPosition);

// The position where time t falls between low and high, linearly: a 32-bit
// multiply-then-divide rounded to nearest (MulDiv) taken as unsigned when both
// spans are below 0x7FFFFFFF, else in double truncated toward zero (a zero
// time span then gives the low position).
int64_t InterpolatePosition(uint32_t dwTime, int64_t llLowPos, uint32_t dwLowTime,
                            int64_t llHighPos, uint32_t dwHighTime);

// The first tag position at or after llStart (type byte at llStart + 4 or
// later) whose tag is followed by two tags that continue the chain; its time
// is carried on from dwReference. Reads kScanWindow bytes at a time up to the
// reader's available length. S_OK; E_FAIL when nothing is found; the result of
// a window read that did not return S_OK.
HRESULT FindNextTagHeaderSlow(const CFlvReader& reader, int64_t llStart, uint32_t dwReference,
                              FlvTag& tag, int64_t& llFoundPosition);

// FindNextTagHeaderSlow over the windows that start before llEnd only. The
// windows and their candidates are the same as the unbounded search's, so a
// search that already failed from a later window need not repeat it.
HRESULT FindTagHeaderInRange(const CFlvReader& reader, int64_t llStart, int64_t llEnd,
                             uint32_t dwReference, FlvTag& tag, int64_t& llFoundPosition);

// Whether the tag at llPosition is followed by two tags of known type whose
// PreviousTagSize is 0 or right. S_OK with `tag` (time carried on from
// dwReference); E_FAIL; S_FALSE, unread, when a header of the chain would
// end past the reader's available length; a read failure.
HRESULT CheckTagChain(const CFlvReader& reader, int64_t llPosition, uint32_t dwReference,
                      FlvTag& tag);

}  // namespace flvdmx

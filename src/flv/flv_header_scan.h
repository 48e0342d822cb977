// The scan that runs once when the upstream source connects. It validates the
// file header, walks the first tags, finds which streams exist, has the
// stream descriptions built from the first tags of each stream, estimates the
// video frame duration and settles the file's duration: from metadata, from
// the largest tag time seen, or from the tail of the file. Every broken
// back-link it meets goes into the fix-up table.
//
// It is an operation over the filter's CFlvFileState; the results stay valid
// until the next scan (the next input connection). The scan runs on the
// thread that completes the connection, before any delivery thread exists,
// and takes no lock of its own (the fix-up table locks itself).
#pragma once

#include <cstdint>

#include "base/block_reader.h"
#include "flv/flv_file_state.h"
#include "platform/dshow.h"

namespace flvdmx {

class CFlvReader;

// Frame duration assumed when too few video tags were seen: 30 frames/s.
inline constexpr int64_t kDefaultAvgTimePerFrame = 333333;

// Resets the header, the streams seen, the duration and the frame duration of
// `file`, then scans through pReader (not kept). The caller has cleared the
// fix-up table. Returns
//  - S_OK;
//  - the first failed read, wherever the scan met it (before any other
//    result);
//  - E_OUTOFMEMORY when no read-ahead block could be made;
//  - VFW_E_INVALID_FILE_FORMAT when Length does not answer S_OK, the header
//    is short or invalid, or the video description fails;
//  - S_FALSE, or a failure, from the audio description: the scan stops
//    there (S_FALSE does not fail the connection; what was found so far
//    stands);
//  - E_POINTER without a reader.
// The read-ahead blocks live in pMemory when given.
HRESULT ReadAndParseHeader(IAsyncReader* pReader, CFlvFileState& file,
                           CBlockMemory* pMemory = nullptr);

// Tail search: the duration from the last tags of the file. Looks for a tag
// header from 8192 bytes before the reader's available length and steps back
// 8192 bytes at a time while none is found above `llLowerBound`; then walks
// to the end, raising *pdwDuration to each tag's time and adding a fix-up to
// `fixups` for every back-link that does not lead to the tag before. Times
// are carried on past the 24-bit wrap from *pdwDuration (the time reached at
// llLowerBound) through probes of the part in between; with
// bTrustExtendedTime (the file fills TimestampExtended consistently) that
// byte may raise the tail's time further. S_OK or E_FAIL.
HRESULT FindTimestampOfLastSample(const CFlvReader& reader, int64_t llLowerBound,
                                  uint32_t* pdwDuration, CTagLinkFixups& fixups,
                                  bool bTrustExtendedTime = false);

}  // namespace flvdmx

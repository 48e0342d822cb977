// Why a file gave the filter no output pin. The filter offers no pin for a
// stream it cannot play, and no interface of it says what that stream was;
// the tool's message names the codec ids, so this is the one place where the
// tool reads the file's content itself: the header and the first audio and
// video tag, with the FLV container code (the same the `tags` walk uses),
// over the tool's own reader, never through the filter.
#pragma once

#include <string>

#include "platform/dshow.h"

namespace flvdmx::cli {

struct SessionError;

// "no playable stream: video codec 5 (VP6 with alpha) not supported" with
// VFW_E_UNSUPPORTED_VIDEO (or _AUDIO, or VFW_E_UNSUPPORTED_STREAM when the
// file has no audio or video tag).
SessionError DescribeNoPlayableStream(IAsyncReader* pReader);

// When the file's first video tag names a codec the filter offers no pin
// for (the filter then refuses the whole file): *pError as above, naming
// it, with VFW_E_UNSUPPORTED_VIDEO; true. False otherwise.
bool DescribeUnsupportedVideo(IAsyncReader* pReader, SessionError* pError);

}  // namespace flvdmx::cli

// One-line descriptions of media types for the pins' trace lines.
#pragma once

#include "platform/dshow.h"

namespace flvdmx {

// "Vid avc1 320 x 240 x 24 400000 (0 bytes)", "Aud tag=255, chan=2, ...",
// "Type=..., Subtype=..., Format=..." and so on; "NULL" for a null pointer.
// Reads the format block only as far as cbFormat says. Results rotate
// through 4 buffers of 200 characters per thread.
const char* DescribeMediaType(const AM_MEDIA_TYPE* pmt);

// The name of a major type, subtype or format type identity as the
// description shows it: its symbolic name, a FOURCC subtype's code, or the
// braced text. Rotates through 8 buffers per thread.
const char* MajorTypeName(const GUID& guid);
const char* SubtypeName(const GUID& guid);
const char* FormatTypeName(const GUID& guid);

}  // namespace flvdmx

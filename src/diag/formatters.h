// Value formatters for use inside trace messages. Each returns one of a few
// buffers that rotate per thread, so several results can appear in one
// message; a result stays valid until the same formatter has been called
// that many more times on the thread.
#pragma once

#include <cstdint>

namespace flvdmx {

// "%dms" strictly between -1000 and 1000, else seconds with three decimals
// ("1.500s", "-1.500s"). Empty while tracing is off. 16 buffers.
const char* FormatMilliseconds(int64_t ms);

// Grouped digits ("1 234 567") when the trace flags have 0x10, else bytes, KB
// or MB ("5000 bytes", "19KB", "3.000MB"); values near the limits of the type
// are named ("MAX_INT64", "MAX_INT64/2+", ...). 8 buffers.
const char* FormatByteCount(int64_t cb);

}  // namespace flvdmx

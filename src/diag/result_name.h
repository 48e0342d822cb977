// Symbolic names of result codes, for messages a user reads.
#pragma once

#include "platform/com.h"

namespace flvdmx {

// The name of a code ("VFW_E_INVALID_FILE_FORMAT"), or "0x%08X" for codes not
// in the table. Network errors (0x80072710 to 0x80072EDF) are named from the
// Winsock table or as "Unknown Winsock error (%d=0x%08X)"; 0x8005F000 to
// 0x8005FFFF give "ORVEXKIT Raster Error (0)" down to (-4095). Always
// available, whatever the trace flags say; made texts rotate through four
// buffers per thread.
const char* LookupResultName(HRESULT hr);

// The trace formatter: empty text while tracing is off, else LookupResultName.
const char* GetResultName(HRESULT hr);

}  // namespace flvdmx

namespace flvdmx {
// For tests: whether the name tables are in ascending code order.
bool ResultNameTableIsSorted();
}  // namespace flvdmx

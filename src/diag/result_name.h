// Symbolic names of result codes, for messages a user reads.
#pragma once

#include "platform/com.h"

namespace flvdmx {

// The name of a code ("VFW_E_INVALID_FILE_FORMAT"), or "0x%08X" for codes not
// in the table. Always available, whatever the trace flags say.
const char* LookupResultName(HRESULT hr);

// The trace formatter: empty text while tracing is off, else LookupResultName.
const char* GetResultName(HRESULT hr);

}  // namespace flvdmx

namespace flvdmx {
// For tests: whether the name table is in ascending code order.
bool ResultNameTableIsSorted();
}  // namespace flvdmx

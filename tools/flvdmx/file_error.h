// The tool's one-line error for a file it cannot handle, on stderr:
//   flvdmx: x.flv: not an FLV file (VFW_E_INVALID_FILE_FORMAT)
#pragma once

#include <string>

#include "platform/com.h"

namespace flvdmx::cli {

void ReportFileError(const std::string& file, const std::string& problem, HRESULT hr);

}  // namespace flvdmx::cli

#include "file_error.h"

#include <cstdio>

#include "diag/result_name.h"

namespace flvdmx::cli {

void ReportFileError(const std::string& file, const std::string& problem, HRESULT hr) {
  std::fprintf(stderr, "flvdmx: %s: %s (%s)\n", file.c_str(), problem.c_str(),
               LookupResultName(hr));
}

}  // namespace flvdmx::cli

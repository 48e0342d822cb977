#include "trace_options.h"

#include <cstdio>
#include <cstdlib>

#include "diag/result_name.h"
#include "diag/trace.h"
#include "flv_filter.h"

namespace flvdmx::cli {

void AddTraceOptions(CLI::App& app, TraceOptions* pOptions) {
  app.add_option("--trace", pOptions->flags,
                 "Trace flags of the filter: 0x08 on, 0x01 file, 0x02 time, 0x04 thread, "
                 "0x20 handle count, 0x40 debugger output (standard error on Linux), "
                 "0x10 grouped byte counts; e.g. 0x4E");
  app.add_option("--trace-file", pOptions->file,
                 "Trace file (turns on tracing to the file; default c:\\OrvexTrace.txt)");
}

bool ApplyTraceOptions(const TraceOptions& options) {
  if (!options.flags && !options.file) return true;
  uint32_t dwFlags = g_dwTraceFlags;
  if (options.flags) {
    const std::string& text = *options.flags;
    char* pEnd = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &pEnd, 0);
    if (text.empty() || *pEnd != '\0' || value > 0xFFFFFFFFul) {
      std::fprintf(stderr, "flvdmx: --trace %s: not a number (%s)\n", text.c_str(),
                   LookupResultName(E_INVALIDARG));
      return false;
    }
    dwFlags = static_cast<uint32_t>(value);
  }
  if (options.file) {
    const HRESULT hr = SetTraceFilePath(options.file->c_str());
    if (FAILED(hr)) {
      std::fprintf(stderr, "flvdmx: --trace-file %s: refused (%s)\n", options.file->c_str(),
                   LookupResultName(hr));
      return false;
    }
    dwFlags |= kTraceOn | kTraceFile;
  }
  g_dwTraceFlags = dwFlags;
  UseLinkedFilter(true);
  return true;
}

void FinishTrace() { CloseTraceWriter(); }

}  // namespace flvdmx::cli

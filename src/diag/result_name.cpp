#include "diag/result_name.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "diag/trace.h"
#include "platform/dshow.h"

namespace flvdmx {
namespace {

struct ResultName {
  uint32_t code;
  const char* name;
};

#define NAME(x) {static_cast<uint32_t>(x), #x}
// Sorted by code as unsigned (a unit test checks), so that lookup can halve.
const ResultName kNames[] = {
    NAME(S_OK),
    NAME(S_FALSE),
    NAME(VFW_S_NO_MORE_ITEMS),
    {0x00040260u, "VFW_S_ESTIMATED"},
    {0x00040270u, "VFW_S_NO_STOP_TIME"},
    NAME(E_NOTIMPL),
    NAME(E_NOINTERFACE),
    NAME(E_POINTER),
    NAME(E_ABORT),
    NAME(E_FAIL),
    NAME(E_UNEXPECTED),
    NAME(STG_E_FILENOTFOUND),
    NAME(STG_E_INVALIDHEADER),
    NAME(CLASS_E_NOAGGREGATION),
    NAME(CLASS_E_CLASSNOTAVAILABLE),
    NAME(REGDB_E_CLASSNOTREG),
    NAME(VFW_E_INVALIDMEDIATYPE),
    NAME(VFW_E_INVALIDSUBTYPE),
    NAME(VFW_E_NEED_OWNER),
    NAME(VFW_E_ENUM_OUT_OF_SYNC),
    NAME(VFW_E_ALREADY_CONNECTED),
    NAME(VFW_E_FILTER_ACTIVE),
    NAME(VFW_E_NO_TYPES),
    NAME(VFW_E_NO_ACCEPTABLE_TYPES),
    NAME(VFW_E_INVALID_DIRECTION),
    NAME(VFW_E_NOT_CONNECTED),
    NAME(VFW_E_NO_ALLOCATOR),
    NAME(VFW_E_RUNTIME_ERROR),
    NAME(VFW_E_BUFFER_NOTSET),
    NAME(VFW_E_BUFFER_OVERFLOW),
    NAME(VFW_E_BADALIGN),
    NAME(VFW_E_ALREADY_COMMITTED),
    NAME(VFW_E_BUFFERS_OUTSTANDING),
    NAME(VFW_E_NOT_COMMITTED),
    NAME(VFW_E_SIZENOTSET),
    NAME(VFW_E_NO_CLOCK),
    NAME(VFW_E_NO_SINK),
    NAME(VFW_E_NO_INTERFACE),
    NAME(VFW_E_NOT_FOUND),
    NAME(VFW_E_CANNOT_CONNECT),
    NAME(VFW_E_CANNOT_RENDER),
    NAME(VFW_E_CHANGING_FORMAT),
    NAME(VFW_E_STATE_CHANGED),
    NAME(VFW_E_NOT_STOPPED),
    NAME(VFW_E_NOT_PAUSED),
    NAME(VFW_E_NOT_RUNNING),
    NAME(VFW_E_WRONG_STATE),
    NAME(VFW_E_START_TIME_AFTER_END),
    NAME(VFW_E_INVALID_RECT),
    NAME(VFW_E_TYPE_NOT_ACCEPTED),
    NAME(VFW_E_SAMPLE_REJECTED),
    NAME(VFW_E_SAMPLE_REJECTED_EOS),
    NAME(VFW_E_DUPLICATE_NAME),
    NAME(VFW_E_TIMEOUT),
    NAME(VFW_E_INVALID_FILE_FORMAT),
    NAME(VFW_E_ENUM_OUT_OF_RANGE),
    NAME(VFW_E_CIRCULAR_GRAPH),
    NAME(VFW_E_UNKNOWN_FILE_TYPE),
    NAME(VFW_E_CANNOT_LOAD_SOURCE_FILTER),
    NAME(VFW_E_FILE_TOO_SHORT),
    NAME(VFW_E_INVALID_FILE_VERSION),
    NAME(VFW_E_INVALID_CLSID),
    NAME(VFW_E_INVALID_MEDIA_TYPE),
    NAME(VFW_E_SAMPLE_TIME_NOT_SET),
    NAME(VFW_E_MEDIA_TIME_NOT_SET),
    NAME(VFW_E_NO_TIME_FORMAT_SET),
    NAME(VFW_E_NO_DECOMPRESSOR),
    NAME(VFW_E_UNSUPPORTED_AUDIO),
    NAME(VFW_E_UNSUPPORTED_VIDEO),
    NAME(VFW_E_NOT_IN_GRAPH),
    NAME(VFW_E_NO_TIME_FORMAT),
    NAME(VFW_E_READ_ONLY),
    NAME(VFW_E_BUFFER_UNDERFLOW),
    NAME(VFW_E_UNSUPPORTED_STREAM),
    NAME(VFW_E_NO_TRANSPORT),
    NAME(VFW_E_TIME_EXPIRED),
    NAME(VFW_E_BAD_KEY),
    {0x80070002u, "ERROR_FILE_NOT_FOUND"},
    {0x80070003u, "ERROR_PATH_NOT_FOUND"},
    NAME(E_ACCESSDENIED),
    NAME(E_HANDLE),
    NAME(E_OUTOFMEMORY),
    {0x80070020u, "ERROR_SHARING_VIOLATION"},
    {0x80070021u, "ERROR_LOCK_VIOLATION"},
    {0x80070026u, "ERROR_HANDLE_EOF"},
    NAME(E_INVALIDARG),
    {0x800703E3u, "ERROR_OPERATION_ABORTED"},
};
#undef NAME

thread_local char t_unknown[16];

}  // namespace

const char* LookupResultName(HRESULT hr) {
  const uint32_t code = static_cast<uint32_t>(hr);
  const auto* end = std::end(kNames);
  const auto* it = std::lower_bound(std::begin(kNames), end, code,
                                    [](const ResultName& n, uint32_t c) { return n.code < c; });
  if (it != end && it->code == code) return it->name;
  std::snprintf(t_unknown, sizeof t_unknown, "0x%08X", static_cast<unsigned>(code));
  return t_unknown;
}

const char* GetResultName(HRESULT hr) {
  if (!TraceEnabled()) return "";
  return LookupResultName(hr);
}

}  // namespace flvdmx

namespace flvdmx {
bool ResultNameTableIsSorted() {
  return std::is_sorted(std::begin(kNames), std::end(kNames),
                        [](const ResultName& a, const ResultName& b) { return a.code < b.code; });
}
}  // namespace flvdmx

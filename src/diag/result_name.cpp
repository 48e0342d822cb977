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

#define NAME(x) \
  { static_cast<uint32_t>(x), #x }
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

// The network (Winsock) errors, by their code; HRESULT_FROM_WIN32 puts them
// at 0x80072710 to 0x80072EDF.
const ResultName kWinsockNames[] = {
    {10004, "WSAEINTR - Interrupted function call"},
    {10009, "WSAEBADF"},
    {10013, "WSAEACCES - Permission denied"},
    {10014, "WSAEFAULT - Bad address"},
    {10022, "WSAEINVAL - Invalid argument"},
    {10024, "WSAEMFILE - Too many open sockets"},
    {10035, "WSAEWOULDBLOCK - Resource temporarily unavailable"},
    {10036, "WSAEINPROGRESS - Operation now in progress"},
    {10037, "WSAEALREADY - Operation already in progress"},
    {10038, "WSAENOTSOCK - Socket operation on nonsocket"},
    {10039, "WSAEDESTADDRREQ"},
    {10040, "WSAEMSGSIZE - Message too long"},
    {10041, "WSAEPROTOTYPE"},
    {10042, "WSAENOPROTOOPT"},
    {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"},
    {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"},
    {10047, "WSAEAFNOSUPPORT"},
    {10048, "WSAEADDRINUSE - Address already in use"},
    {10049, "WSAEADDRNOTAVAIL - Cannot assign requested address"},
    {10050, "WSAENETDOWN - Network is down"},
    {10051, "WSAENETUNREACH - Network is unreachable"},
    {10052, "WSAENETRESET - Network dropped connection on reset"},
    {10053, "WSAECONNABORTED - Software caused connection abort"},
    {10054, "WSAECONNRESET - Connection reset by peer"},
    {10055, "WSAENOBUFS - No buffer space available"},
    {10056, "WSAEISCONN"},
    {10057, "WSAENOTCONN - Socket is not connected"},
    {10058, "WSAESHUTDOWN"},
    {10059, "WSAETOOMANYREFS"},
    {10060, "WSAETIMEDOUT - Connection timed out"},
    {10061, "WSAECONNREFUSED - Connection refused"},
    {10062, "WSAELOOP"},
    {10063, "WSAENAMETOOLONG"},
    {10064, "WSAEHOSTDOWN - Host is down"},
    {10065, "WSAEHOSTUNREACH - No route to host"},
    {10066, "WSAENOTEMPTY"},
    {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},
    {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},
    {10071, "WSAEREMOTE"},
    {10091, "WSASYSNOTREADY - Network subsystem is unavailable"},
    {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WSANOTINITIALISED - WSAStartup not yet called"},
    {10101, "WSAEDISCON - Graceful shutdown in progress"},
    {10102, "WSAENOMORE"},
    {10103, "WSAECANCELLED"},
    {10104, "WSAEINVALIDPROCTABLE"},
    {10105, "WSAEINVALIDPROVIDER"},
    {10106, "WSAEPROVIDERFAILEDINIT"},
    {10107, "WSASYSCALLFAILURE"},
    {10108, "WSASERVICE_NOT_FOUND"},
    {10109, "WSATYPE_NOT_FOUND"},
    {10110, "WSA_E_NO_MORE"},
    {10111, "WSA_E_CANCELLED"},
    {10112, "WSAEREFUSED"},
    {11001, "WSAHOST_NOT_FOUND - Host not found"},
    {11002, "WSATRY_AGAIN - Nonauthoritative host not found"},
    {11003, "WSANO_RECOVERY - Nonrecoverable name server error"},
    {11004, "WSANO_DATA - Valid name, no data record"},
};

constexpr uint32_t kWinsockFirst = 0x80072710u;
constexpr uint32_t kWinsockLast = 0x80072EDFu;
constexpr uint32_t kRasterFirst = 0x8005F000u;
constexpr uint32_t kRasterLast = 0x8005FFFFu;

template <size_t N>
const char* FindName(const ResultName (&table)[N], uint32_t code) {
  const auto* end = std::end(table);
  const auto* it = std::lower_bound(std::begin(table), end, code,
                                    [](const ResultName& n, uint32_t c) { return n.code < c; });
  return it != end && it->code == code ? it->name : nullptr;
}

template <size_t N>
bool IsSorted(const ResultName (&table)[N]) {
  return std::is_sorted(std::begin(table), std::end(table),
                        [](const ResultName& a, const ResultName& b) { return a.code < b.code; });
}

// Texts made for codes outside the tables rotate, so that several can stand
// in one message.
thread_local char t_made[4][64];
thread_local int t_next;

char* NextMadeText() {
  t_next = (t_next + 1) % 4;
  return t_made[t_next];
}

}  // namespace

const char* LookupResultName(HRESULT hr) {
  const uint32_t code = static_cast<uint32_t>(hr);
  if (code >= kWinsockFirst && code <= kWinsockLast) {
    const uint32_t wsa = code & 0xFFFFu;
    if (const char* name = FindName(kWinsockNames, wsa)) return name;
    char* text = NextMadeText();
    std::snprintf(text, sizeof t_made[0], "Unknown Winsock error (%d=0x%08X)",
                  static_cast<int>(wsa), static_cast<unsigned>(wsa));
    return text;
  }
  if (code >= kRasterFirst && code <= kRasterLast) {
    char* text = NextMadeText();
    std::snprintf(text, sizeof t_made[0], "ORVEXKIT Raster Error (%d)",
                  -static_cast<int>(code - kRasterFirst));
    return text;
  }
  if (const char* name = FindName(kNames, code)) return name;
  char* text = NextMadeText();
  std::snprintf(text, sizeof t_made[0], "0x%08X", static_cast<unsigned>(code));
  return text;
}

const char* GetResultName(HRESULT hr) {
  if (!TraceEnabled()) return "";
  return LookupResultName(hr);
}

}  // namespace flvdmx

namespace flvdmx {
bool ResultNameTableIsSorted() { return IsSorted(kNames) && IsSorted(kWinsockNames); }
}  // namespace flvdmx

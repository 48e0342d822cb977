// Component-model basics: integer types, HRESULT and its codes, GUID, IUnknown,
// the task allocator. On Windows these come from the SDK; elsewhere this header
// declares them with the same names, sizes and method order, so that code above
// the platform layer reads the same on both.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#else  // !_WIN32

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = int32_t;  // 32-bit on Windows, whatever the data model here
using ULONG = uint32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using BOOL = int;
using HRESULT = int32_t;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPVOID = void*;
using LPCVOID = const void*;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using HANDLE = void*;

#ifndef TRUE
#define TRUE 1
#endif
inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
#ifndef FALSE
#define FALSE 0
#endif

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualIID(const GUID& a, const GUID& b) { return a == b; }
inline bool IsEqualCLSID(const GUID& a, const GUID& b) { return a == b; }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }
inline constexpr HRESULT HRESULT_FROM_WIN32(uint32_t code) {
  return static_cast<HRESULT>(code) <= 0 ? static_cast<HRESULT>(code)
                                         : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

#define FLVDMX_HR(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = FLVDMX_HR(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = FLVDMX_HR(0x80004002);
inline constexpr HRESULT E_POINTER = FLVDMX_HR(0x80004003);
inline constexpr HRESULT E_ABORT = FLVDMX_HR(0x80004004);
inline constexpr HRESULT E_FAIL = FLVDMX_HR(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = FLVDMX_HR(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = FLVDMX_HR(0x80070005);
inline constexpr HRESULT E_HANDLE = FLVDMX_HR(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = FLVDMX_HR(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = FLVDMX_HR(0x80070057);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = FLVDMX_HR(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = FLVDMX_HR(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = FLVDMX_HR(0x80040154);
inline constexpr HRESULT STG_E_INVALIDHEADER = FLVDMX_HR(0x800300FB);
inline constexpr HRESULT STG_E_FILENOTFOUND = FLVDMX_HR(0x80030002);
#undef FLVDMX_HR

inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_OPERATION_ABORTED = 995;

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;
};
using LPUNKNOWN = IUnknown*;

using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct IClassFactory : IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;
};

inline constexpr IID IID_IPersist = {
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct IPersist : IUnknown {
  STDMETHOD(GetClassID)(CLSID* pClassID) PURE;
};

// Named by published signatures but never called through here.
struct IMoniker;
struct IEnumMoniker;

// The task allocator: blocks handed across interfaces (format blocks, pin ids).
void* CoTaskMemAlloc(size_t cb);
void* CoTaskMemRealloc(void* pv, size_t cb);
void CoTaskMemFree(void* pv);

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | 0x10;

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;

inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3u);

// The component runtime. The platform layer defines all of these but
// CoCreateInstance: off Windows that one is defined by the host
// (host/class_table_posix.cpp, over the host's class table), so every program
// that links the core library also links the host library (src/CMakeLists.txt
// says so to the linker). Code under src/ only calls it and never includes
// the host. It stays a link-time dependency rather than a hook the host
// installs at start-up because a static library's start-up code is not
// linked unless something names it, and the first call may come from any
// pin at any time.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
void CoFreeUnusedLibraries();
// Canonical braced text of a GUID; returns the characters written including
// the terminator, or 0 when cchMax is below 39.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// The same text in a task-allocated string for the caller to free.
HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);

#endif  // _WIN32

// Our own helpers, the same on both builds.
namespace flvdmx {

// Canonical upper-case braced text: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
// `buf` must hold 39 characters including the terminator.
void FormatGuid(const GUID& guid, char buf[39]);

// FOURCC subtype {XXXXXXXX-0000-0010-8000-00AA00389B71}, first character in
// the lowest byte of Data1.
constexpr GUID FourccGuid(uint32_t fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr uint32_t MakeFourcc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

}  // namespace flvdmx

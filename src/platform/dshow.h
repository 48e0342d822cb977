// DirectShow declarations: result codes, reference time, media types and the
// streaming interfaces. On Windows the SDK headers are used; elsewhere the
// interfaces are declared here as abstract classes in the published method
// order with the published argument types.
#pragma once

#include "platform/com.h"

#ifdef _WIN32

#include <strmif.h>
#include <uuids.h>
#include <amvideo.h>
#include <mmreg.h>
#include <control.h>
#include <evcode.h>
#include <vfwmsgs.h>

#else  // !_WIN32

using REFERENCE_TIME = LONGLONG;

#define FLVDMX_HR(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
inline constexpr HRESULT VFW_S_ESTIMATED = 0x00040260;
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = FLVDMX_HR(0x80040200);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = FLVDMX_HR(0x80040201);
inline constexpr HRESULT VFW_E_NEED_OWNER = FLVDMX_HR(0x80040202);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = FLVDMX_HR(0x80040203);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = FLVDMX_HR(0x80040204);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = FLVDMX_HR(0x80040205);
inline constexpr HRESULT VFW_E_NO_TYPES = FLVDMX_HR(0x80040206);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = FLVDMX_HR(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = FLVDMX_HR(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = FLVDMX_HR(0x80040209);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = FLVDMX_HR(0x8004020A);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = FLVDMX_HR(0x8004020B);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = FLVDMX_HR(0x8004020C);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = FLVDMX_HR(0x8004020D);
inline constexpr HRESULT VFW_E_BADALIGN = FLVDMX_HR(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = FLVDMX_HR(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = FLVDMX_HR(0x80040210);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = FLVDMX_HR(0x80040211);
inline constexpr HRESULT VFW_E_SIZENOTSET = FLVDMX_HR(0x80040212);
inline constexpr HRESULT VFW_E_NO_CLOCK = FLVDMX_HR(0x80040213);
inline constexpr HRESULT VFW_E_NO_SINK = FLVDMX_HR(0x80040214);
inline constexpr HRESULT VFW_E_NO_INTERFACE = FLVDMX_HR(0x80040215);
inline constexpr HRESULT VFW_E_NOT_FOUND = FLVDMX_HR(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = FLVDMX_HR(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = FLVDMX_HR(0x80040218);
inline constexpr HRESULT VFW_E_CHANGING_FORMAT = FLVDMX_HR(0x80040219);
inline constexpr HRESULT VFW_E_NO_COLOR_KEY_SET = FLVDMX_HR(0x8004021A);
inline constexpr HRESULT VFW_E_NOT_OVERLAY_CONNECTION = FLVDMX_HR(0x8004021B);
inline constexpr HRESULT VFW_E_NOT_SAMPLE_CONNECTION = FLVDMX_HR(0x8004021C);
inline constexpr HRESULT VFW_E_PALETTE_SET = FLVDMX_HR(0x8004021D);
inline constexpr HRESULT VFW_E_COLOR_KEY_SET = FLVDMX_HR(0x8004021E);
inline constexpr HRESULT VFW_E_NO_COLOR_KEY_FOUND = FLVDMX_HR(0x8004021F);
inline constexpr HRESULT VFW_E_NO_PALETTE_AVAILABLE = FLVDMX_HR(0x80040220);
inline constexpr HRESULT VFW_E_NO_DISPLAY_PALETTE = FLVDMX_HR(0x80040221);
inline constexpr HRESULT VFW_E_TOO_MANY_COLORS = FLVDMX_HR(0x80040222);
inline constexpr HRESULT VFW_E_STATE_CHANGED = FLVDMX_HR(0x80040223);
inline constexpr HRESULT VFW_E_NOT_STOPPED = FLVDMX_HR(0x80040224);
inline constexpr HRESULT VFW_E_NOT_PAUSED = FLVDMX_HR(0x80040225);
inline constexpr HRESULT VFW_E_NOT_RUNNING = FLVDMX_HR(0x80040226);
inline constexpr HRESULT VFW_E_WRONG_STATE = FLVDMX_HR(0x80040227);
inline constexpr HRESULT VFW_E_START_TIME_AFTER_END = FLVDMX_HR(0x80040228);
inline constexpr HRESULT VFW_E_INVALID_RECT = FLVDMX_HR(0x80040229);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = FLVDMX_HR(0x8004022A);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = FLVDMX_HR(0x8004022B);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = FLVDMX_HR(0x8004022C);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = FLVDMX_HR(0x8004022D);
inline constexpr HRESULT VFW_E_TIMEOUT = FLVDMX_HR(0x8004022E);
inline constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = FLVDMX_HR(0x8004022F);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_RANGE = FLVDMX_HR(0x80040230);
inline constexpr HRESULT VFW_E_CIRCULAR_GRAPH = FLVDMX_HR(0x80040231);
inline constexpr HRESULT VFW_E_NOT_ALLOWED_TO_SAVE = FLVDMX_HR(0x80040232);
inline constexpr HRESULT VFW_E_TIME_ALREADY_PASSED = FLVDMX_HR(0x80040233);
inline constexpr HRESULT VFW_E_ALREADY_CANCELLED = FLVDMX_HR(0x80040234);
inline constexpr HRESULT VFW_E_CORRUPT_GRAPH_FILE = FLVDMX_HR(0x80040235);
inline constexpr HRESULT VFW_E_ADVISE_ALREADY_SET = FLVDMX_HR(0x80040236);
inline constexpr HRESULT VFW_E_NO_MODEX_AVAILABLE = FLVDMX_HR(0x80040238);
inline constexpr HRESULT VFW_E_NO_ADVISE_SET = FLVDMX_HR(0x80040239);
inline constexpr HRESULT VFW_E_NO_FULLSCREEN = FLVDMX_HR(0x8004023A);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = FLVDMX_HR(0x80040240);
inline constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = FLVDMX_HR(0x80040241);
inline constexpr HRESULT VFW_E_FILE_TOO_SHORT = FLVDMX_HR(0x80040243);
inline constexpr HRESULT VFW_E_INVALID_FILE_VERSION = FLVDMX_HR(0x80040244);
inline constexpr HRESULT VFW_E_INVALID_CLSID = FLVDMX_HR(0x80040245);
inline constexpr HRESULT VFW_E_INVALID_MEDIA_TYPE = FLVDMX_HR(0x80040246);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = FLVDMX_HR(0x80040249);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = FLVDMX_HR(0x80040251);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT_SET = FLVDMX_HR(0x80040252);
inline constexpr HRESULT VFW_E_MONO_AUDIO_HW = FLVDMX_HR(0x80040253);
inline constexpr HRESULT VFW_E_NO_DECOMPRESSOR = FLVDMX_HR(0x80040255);
inline constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = FLVDMX_HR(0x80040256);
inline constexpr HRESULT VFW_E_RPZA = FLVDMX_HR(0x80040259);
inline constexpr HRESULT VFW_E_PROCESSOR_NOT_SUITABLE = FLVDMX_HR(0x8004025B);
inline constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = FLVDMX_HR(0x8004025C);
inline constexpr HRESULT VFW_E_UNSUPPORTED_VIDEO = FLVDMX_HR(0x8004025D);
inline constexpr HRESULT VFW_E_MPEG_NOT_CONSTRAINED = FLVDMX_HR(0x8004025E);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = FLVDMX_HR(0x8004025F);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT = FLVDMX_HR(0x80040261);
inline constexpr HRESULT VFW_E_READ_ONLY = FLVDMX_HR(0x80040262);
inline constexpr HRESULT VFW_E_BUFFER_UNDERFLOW = FLVDMX_HR(0x80040264);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = FLVDMX_HR(0x80040265);
inline constexpr HRESULT VFW_E_NO_TRANSPORT = FLVDMX_HR(0x80040266);
inline constexpr HRESULT VFW_E_BAD_VIDEOCD = FLVDMX_HR(0x80040269);
inline constexpr HRESULT VFW_E_OUT_OF_VIDEO_MEMORY = FLVDMX_HR(0x80040271);
inline constexpr HRESULT VFW_E_VP_NEGOTIATION_FAILED = FLVDMX_HR(0x80040272);
inline constexpr HRESULT VFW_E_DDRAW_CAPS_NOT_SUITABLE = FLVDMX_HR(0x80040273);
inline constexpr HRESULT VFW_E_NO_VP_HARDWARE = FLVDMX_HR(0x80040274);
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = FLVDMX_HR(0x80040275);
inline constexpr HRESULT VFW_E_DVD_OPERATION_INHIBITED = FLVDMX_HR(0x80040276);
inline constexpr HRESULT VFW_E_TIME_EXPIRED = FLVDMX_HR(0x80040279);
inline constexpr HRESULT VFW_E_BAD_KEY = FLVDMX_HR(0x800403F2);
inline constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
#undef FLVDMX_HR

inline constexpr long EC_COMPLETE = 0x01;
inline constexpr long EC_USERABORT = 0x02;
inline constexpr long EC_ERRORABORT = 0x03;
inline constexpr long EC_STREAM_ERROR_STOPPED = 0x06;

// Media type record (the platform's AM_MEDIA_TYPE layout).
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

struct IMemAllocator;

inline constexpr IID IID_IMediaSample = {0x56A8689A, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMediaSample : IUnknown {
  STDMETHOD(GetPointer)(BYTE** ppBuffer) PURE;
  STDMETHOD_(LONG, GetSize)() PURE;
  STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) PURE;
  STDMETHOD(IsSyncPoint)() PURE;
  STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) PURE;
  STDMETHOD(IsPreroll)() PURE;
  STDMETHOD(SetPreroll)(BOOL bIsPreroll) PURE;
  STDMETHOD_(LONG, GetActualDataLength)() PURE;
  STDMETHOD(SetActualDataLength)(LONG lLen) PURE;
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) PURE;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) PURE;
  STDMETHOD(IsDiscontinuity)() PURE;
  STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) PURE;
  STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
  STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) PURE;
};

struct AM_SAMPLE2_PROPERTIES {
  DWORD cbData;
  DWORD dwTypeSpecificFlags;
  DWORD dwSampleFlags;
  LONG lActual;
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  DWORD dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  BYTE* pbBuffer;
  LONG cbBuffer;
};

enum tagAM_SAMPLE_PROPERTY_FLAGS {
  AM_SAMPLE_SPLICEPOINT = 0x1,
  AM_SAMPLE_PREROLL = 0x2,
  AM_SAMPLE_DATADISCONTINUITY = 0x4,
  AM_SAMPLE_TYPECHANGED = 0x8,
  AM_SAMPLE_TIMEVALID = 0x10,
  AM_SAMPLE_TIMEDISCONTINUITY = 0x40,
  AM_SAMPLE_FLUSH_ON_PAUSE = 0x80,
  AM_SAMPLE_STOPVALID = 0x100,
  AM_SAMPLE_ENDOFSTREAM = 0x200,
};

inline constexpr IID IID_IMediaSample2 = {0x36B73884, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
struct IMediaSample2 : IMediaSample {
  STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* pbProperties) PURE;
  STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* pbProperties) PURE;
};

inline constexpr IID IID_IMemAllocator = {0x56A8689C, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMemAllocator : IUnknown {
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) PURE;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Commit)() PURE;
  STDMETHOD(Decommit)() PURE;
  STDMETHOD(GetBuffer)(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                       REFERENCE_TIME* pEndTime, DWORD dwFlags) PURE;
  STDMETHOD(ReleaseBuffer)(IMediaSample* pBuffer) PURE;
};

inline constexpr IID IID_IAsyncReader = {0x56A868AA, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IAsyncReader : IUnknown {
  STDMETHOD(RequestAllocator)(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                              IMemAllocator** ppActual) PURE;
  STDMETHOD(Request)(IMediaSample* pSample, DWORD_PTR dwUser) PURE;
  STDMETHOD(WaitForNext)(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) PURE;
  STDMETHOD(SyncReadAligned)(IMediaSample* pSample) PURE;
  STDMETHOD(SyncRead)(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) PURE;
  STDMETHOD(Length)(LONGLONG* pTotal, LONGLONG* pAvailable) PURE;
  STDMETHOD(BeginFlush)() PURE;
  STDMETHOD(EndFlush)() PURE;
};

#endif  // _WIN32

// Identities of our own, the same on both builds.
namespace flvdmx {
// FLV byte stream subtype: FOURCC "QFLV".
inline constexpr GUID MEDIASUBTYPE_QFLV = FourccGuid(MakeFourcc('Q', 'F', 'L', 'V'));
}  // namespace flvdmx

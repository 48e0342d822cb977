// Filters, pins and the graph around them: IMediaFilter, IBaseFilter, IPin,
// IMemInputPin, the enumerators, IQualityControl, IReferenceClock,
// IFilterGraph, IMediaEventSink, IMediaSeeking and IAMovieSetup, with their
// records and flags, in the platform's published method order. Non-Windows
// builds only; include platform/dshow.h instead.
#pragma once

#include "platform/com.h"
#include "platform/dshow_samples.h"

#ifndef _WIN32

struct IBaseFilter;
struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IFilterGraph;
struct IReferenceClock;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;
inline constexpr int CHARS_IN_GUID = 39;

struct PIN_INFO {
  IBaseFilter* pFilter;  // with a reference for the caller
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // with a reference for the caller, or null
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
  QualityMessageType Type;
  LONG Proportion;  // 1000 = as it should be
  REFERENCE_TIME Late;
  REFERENCE_TIME TimeStamp;
};

using HEVENT = DWORD_PTR;
using HSEMAPHORE = DWORD_PTR;

inline constexpr IID IID_IReferenceClock = {
    0x56A86897, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IReferenceClock : IUnknown {
  STDMETHOD(GetTime)(REFERENCE_TIME* pTime) PURE;
  STDMETHOD(AdviseTime)
  (REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
   DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(AdvisePeriodic)
  (REFERENCE_TIME startTime, REFERENCE_TIME periodTime, HSEMAPHORE hSemaphore,
   DWORD_PTR* pdwAdviseCookie) PURE;
  STDMETHOD(Unadvise)(DWORD_PTR dwAdviseCookie) PURE;
};

inline constexpr IID IID_IMediaFilter = {
    0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMediaFilter : IPersist {
  STDMETHOD(Stop)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Run)(REFERENCE_TIME tStart) PURE;
  STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* State) PURE;
  STDMETHOD(SetSyncSource)(IReferenceClock* pClock) PURE;
  STDMETHOD(GetSyncSource)(IReferenceClock** pClock) PURE;
};

inline constexpr IID IID_IBaseFilter = {
    0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IBaseFilter : IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins** ppEnum) PURE;
  STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) PURE;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) PURE;
  STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) PURE;
  STDMETHOD(QueryVendorInfo)(LPWSTR* pVendorInfo) PURE;
};

inline constexpr IID IID_IPin = {
    0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IPin : IUnknown {
  STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Disconnect)() PURE;
  STDMETHOD(ConnectedTo)(IPin** pPin) PURE;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) PURE;
  STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) PURE;
  STDMETHOD(QueryId)(LPWSTR* Id) PURE;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) PURE;
  STDMETHOD(QueryInternalConnections)(IPin** apPin, ULONG* nPin) PURE;
  STDMETHOD(EndOfStream)() PURE;
  STDMETHOD(BeginFlush)() PURE;
  STDMETHOD(EndFlush)() PURE;
  STDMETHOD(NewSegment)(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) PURE;
};

inline constexpr IID IID_IEnumPins = {
    0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IEnumPins : IUnknown {
  STDMETHOD(Next)(ULONG cPins, IPin** ppPins, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cPins) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumPins** ppEnum) PURE;
};

inline constexpr IID IID_IEnumMediaTypes = {
    0x89C31040, 0x846B, 0x11CE, {0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
struct IEnumMediaTypes : IUnknown {
  STDMETHOD(Next)(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cMediaTypes) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumMediaTypes** ppEnum) PURE;
};

inline constexpr IID IID_IEnumFilters = {
    0x56A86893, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IEnumFilters : IUnknown {
  STDMETHOD(Next)(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cFilters) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumFilters** ppEnum) PURE;
};

inline constexpr IID IID_IQualityControl = {
    0x56A868A5, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IQualityControl : IUnknown {
  STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) PURE;
  STDMETHOD(SetSink)(IQualityControl* piqc) PURE;
};

inline constexpr IID IID_IMemInputPin = {
    0x56A8689D, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMemInputPin : IUnknown {
  STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) PURE;
  STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) PURE;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) PURE;
  STDMETHOD(Receive)(IMediaSample* pSample) PURE;
  STDMETHOD(ReceiveMultiple)(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) PURE;
  STDMETHOD(ReceiveCanBlock)() PURE;
};

inline constexpr IID IID_IFilterGraph = {
    0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IFilterGraph : IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter* pFilter, LPCWSTR pName) PURE;
  STDMETHOD(RemoveFilter)(IBaseFilter* pFilter) PURE;
  STDMETHOD(EnumFilters)(IEnumFilters** ppEnum) PURE;
  STDMETHOD(FindFilterByName)(LPCWSTR pName, IBaseFilter** ppFilter) PURE;
  STDMETHOD(ConnectDirect)(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) PURE;
  STDMETHOD(Reconnect)(IPin* ppin) PURE;
  STDMETHOD(Disconnect)(IPin* ppin) PURE;
  STDMETHOD(SetDefaultSyncSource)() PURE;
};

inline constexpr IID IID_IMediaEventSink = {
    0x56A868A2, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMediaEventSink : IUnknown {
  STDMETHOD(Notify)(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) PURE;
};

inline constexpr IID IID_IAMovieSetup = {
    0xA3D8CEC0, 0x7E5A, 0x11CF, {0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20}};
struct IAMovieSetup : IUnknown {
  STDMETHOD(Register)() PURE;
  STDMETHOD(Unregister)() PURE;
};

// What a filter says of itself to the graph: a renderer is counted for the
// graph's end-of-stream (EC_COMPLETE) and is where graph seeking is applied.
inline constexpr DWORD AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
inline constexpr DWORD AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;
inline constexpr IID IID_IAMFilterMiscFlags = {
    0x2DD74950, 0xA890, 0x11D1, {0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
struct IAMFilterMiscFlags : IUnknown {
  STDMETHOD_(ULONG, GetMiscFlags)() PURE;
};

// IMediaSeeking capabilities.
enum AM_SEEKING_SEEKING_CAPABILITIES {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};

// IMediaSeeking::SetPositions flags: a positioning mode (mask 0x3) plus bits.
enum AM_SEEKING_SEEKING_FLAGS {
  AM_SEEKING_NoPositioning = 0x0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20,
};

inline constexpr IID IID_IMediaSeeking = {
    0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
struct IMediaSeeking : IUnknown {
  STDMETHOD(GetCapabilities)(DWORD* pCapabilities) PURE;
  STDMETHOD(CheckCapabilities)(DWORD* pCapabilities) PURE;
  STDMETHOD(IsFormatSupported)(const GUID* pFormat) PURE;
  STDMETHOD(QueryPreferredFormat)(GUID* pFormat) PURE;
  STDMETHOD(GetTimeFormat)(GUID* pFormat) PURE;
  STDMETHOD(IsUsingTimeFormat)(const GUID* pFormat) PURE;
  STDMETHOD(SetTimeFormat)(const GUID* pFormat) PURE;
  STDMETHOD(GetDuration)(LONGLONG* pDuration) PURE;
  STDMETHOD(GetStopPosition)(LONGLONG* pStop) PURE;
  STDMETHOD(GetCurrentPosition)(LONGLONG* pCurrent) PURE;
  STDMETHOD(ConvertTimeFormat)
  (LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source, const GUID* pSourceFormat) PURE;
  STDMETHOD(SetPositions)
  (LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) PURE;
  STDMETHOD(GetPositions)(LONGLONG* pCurrent, LONGLONG* pStop) PURE;
  STDMETHOD(GetAvailable)(LONGLONG* pEarliest, LONGLONG* pLatest) PURE;
  STDMETHOD(SetRate)(double dRate) PURE;
  STDMETHOD(GetRate)(double* pdRate) PURE;
  STDMETHOD(GetPreroll)(LONGLONG* pllPreroll) PURE;
};

#endif  // !_WIN32

// What an application drives a graph through: IGraphBuilder, and the
// automation-style IMediaControl and IMediaEvent (over a minimal IDispatch
// whose argument records stay opaque). Non-Windows builds only; include
// platform/dshow.h instead.
#pragma once

#include "platform/com.h"
#include "platform/dshow_filters.h"

#ifndef _WIN32

using BSTR = OLECHAR*;
using LCID = DWORD;
using DISPID = LONG;
struct ITypeInfo;
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;

inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
struct IDispatch : IUnknown {
  STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) PURE;
  STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) PURE;
  STDMETHOD(GetIDsOfNames)
  (REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) PURE;
  STDMETHOD(Invoke)
  (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) PURE;
};

inline constexpr IID IID_IGraphBuilder = {
    0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IGraphBuilder : IFilterGraph {
  STDMETHOD(Connect)(IPin* ppinOut, IPin* ppinIn) PURE;
  STDMETHOD(Render)(IPin* ppinOut) PURE;
  STDMETHOD(RenderFile)(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) PURE;
  STDMETHOD(AddSourceFilter)
  (LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) PURE;
  STDMETHOD(SetLogFile)(DWORD_PTR hFile) PURE;
  STDMETHOD(Abort)() PURE;
  STDMETHOD(ShouldOperationContinue)() PURE;
};

using OAFilterState = LONG;
using OAEVENT = LONG_PTR;

inline constexpr IID IID_IMediaControl = {
    0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMediaControl : IDispatch {
  STDMETHOD(Run)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Stop)() PURE;
  STDMETHOD(GetState)(LONG msTimeout, OAFilterState* pfs) PURE;
  STDMETHOD(RenderFile)(BSTR strFilename) PURE;
  STDMETHOD(AddSourceFilter)(BSTR strFilename, IDispatch** ppUnk) PURE;
  STDMETHOD(get_FilterCollection)(IDispatch** ppUnk) PURE;
  STDMETHOD(get_RegFilterCollection)(IDispatch** ppUnk) PURE;
  STDMETHOD(StopWhenReady)() PURE;
};

inline constexpr IID IID_IMediaEvent = {
    0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IMediaEvent : IDispatch {
  STDMETHOD(GetEventHandle)(OAEVENT* hEvent) PURE;
  STDMETHOD(GetEvent)(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) PURE;
  STDMETHOD(WaitForCompletion)(LONG msTimeout, LONG* pEvCode) PURE;
  STDMETHOD(CancelDefaultHandling)(LONG lEvCode) PURE;
  STDMETHOD(RestoreDefaultHandling)(LONG lEvCode) PURE;
  STDMETHOD(FreeEventParams)(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) PURE;
};

#endif  // !_WIN32

// The filter mappers (IFilterMapper2 and the older IFilterMapper) with the
// records that describe a filter to them, and the merit values. Non-Windows
// builds only; include platform/dshow.h instead.
#pragma once

#include "platform/com.h"

#ifndef _WIN32

enum {
  MERIT_PREFERRED = 0x800000,
  MERIT_NORMAL = 0x600000,
  MERIT_UNLIKELY = 0x400000,
  MERIT_DO_NOT_USE = 0x200000,
  MERIT_SW_COMPRESSOR = 0x100000,
  MERIT_HW_COMPRESSOR = 0x100050,
};

struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};

struct REGPINMEDIUM {
  CLSID clsMedium;
  DWORD dw1;
  DWORD dw2;
};

// A pin as REGFILTER2 version 1 describes it.
struct REGFILTERPINS {
  LPWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  const WCHAR* strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
};

enum {
  REG_PINFLAG_B_ZERO = 0x1,
  REG_PINFLAG_B_RENDERER = 0x2,
  REG_PINFLAG_B_MANY = 0x4,
  REG_PINFLAG_B_OUTPUT = 0x8,
};

// A pin as REGFILTER2 version 2 describes it.
struct REGFILTERPINS2 {
  DWORD dwFlags;  // REG_PINFLAG_B_*
  UINT cInstances;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
  UINT nMediums;
  const REGPINMEDIUM* lpMedium;
  const CLSID* clsPinCategory;
};

struct REGFILTER2 {
  DWORD dwVersion;  // 1: rgPins, 2: rgPins2
  DWORD dwMerit;
  union {
    struct {
      ULONG cPins;
      const REGFILTERPINS* rgPins;
    };
    struct {
      ULONG cPins2;
      const REGFILTERPINS2* rgPins2;
    };
  };
};

struct REGFILTER {
  CLSID Clsid;
  LPWSTR Name;
};

inline constexpr IID IID_IEnumRegFilters = {
    0x56A868A4, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IEnumRegFilters : IUnknown {
  STDMETHOD(Next)(ULONG cFilters, REGFILTER** apRegFilter, ULONG* pcFetched) PURE;
  STDMETHOD(Skip)(ULONG cFilters) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumRegFilters** ppEnum) PURE;
};

inline constexpr IID IID_IFilterMapper = {
    0x56A868A3, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
struct IFilterMapper : IUnknown {
  STDMETHOD(RegisterFilter)(CLSID clsid, LPCWSTR Name, DWORD dwMerit) PURE;
  STDMETHOD(RegisterFilterInstance)(CLSID clsid, LPCWSTR Name, CLSID* MRId) PURE;
  STDMETHOD(RegisterPin)
  (CLSID Filter, LPCWSTR Name, BOOL bRendered, BOOL bOutput, BOOL bZero, BOOL bMany,
   CLSID ConnectsToFilter, LPCWSTR ConnectsToPin) PURE;
  STDMETHOD(RegisterPinType)
  (CLSID clsFilter, LPCWSTR strName, CLSID clsMajorType, CLSID clsSubType) PURE;
  STDMETHOD(UnregisterFilter)(CLSID Filter) PURE;
  STDMETHOD(UnregisterFilterInstance)(CLSID MRId) PURE;
  STDMETHOD(UnregisterPin)(CLSID Filter, LPCWSTR Name) PURE;
  STDMETHOD(EnumMatchingFilters)
  (IEnumRegFilters** ppEnum, DWORD dwMerit, BOOL bInputNeeded, CLSID clsInMaj, CLSID clsInSub,
   BOOL bRender, BOOL bOutputNeeded, CLSID clsOutMaj, CLSID clsOutSub) PURE;
};

inline constexpr IID IID_IFilterMapper2 = {
    0xB79BB0B0, 0x33C1, 0x11D1, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
struct IFilterMapper2 : IUnknown {
  STDMETHOD(CreateCategory)
  (REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) PURE;
  STDMETHOD(UnregisterFilter)
  (const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) PURE;
  STDMETHOD(RegisterFilter)
  (REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker, const CLSID* pclsidCategory,
   LPCOLESTR szInstance, const REGFILTER2* prf2) PURE;
  STDMETHOD(EnumMatchingFilters)
  (IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit, BOOL bInputNeeded,
   DWORD cInputTypes, const GUID* pInputTypes, const REGPINMEDIUM* pMedIn,
   const CLSID* pPinCategoryIn, BOOL bRender, BOOL bOutputNeeded, DWORD cOutputTypes,
   const GUID* pOutputTypes, const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) PURE;
};

#endif  // !_WIN32

// What the filter mapper is told about a filter: its class, name, merit and
// pin table. Plain constant records of our own; the Windows mapper code turns
// them into the platform's REGFILTER2 / IFilterMapper calls.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace flvdmx {

struct FilterPinMediaType {
  GUID m_MajorType;
  GUID m_Subtype;
};

struct FilterPinSetup {
  const wchar_t* m_pszName;
  bool m_bRendered;
  bool m_bOutput;
  bool m_bZero;  // the pin may be absent
  bool m_bMany;  // the filter may have several such pins
  GUID m_ConnectsToFilter;
  const wchar_t* m_pszConnectsToPin;
  const FilterPinMediaType* m_pMediaTypes;
  uint32_t m_cMediaTypes;
};

struct FilterSetup {
  GUID m_Clsid;
  const wchar_t* m_pszName;
  DWORD m_dwMerit;
  const FilterPinSetup* m_pPins;
  uint32_t m_cPins;
};

}  // namespace flvdmx

// The class table: one entry per creatable class of the module, with what the
// class factory and registration need to know about it. Entries are constant
// data with static lifetime; a ClassTable is a non-owning view over them, so
// tests can hand registration and the factory a table of their own.
#pragma once

#include <cstddef>

#include "module/filter_setup.h"
#include "platform/com.h"

namespace flvdmx {

class CUnknown;

// Builds a new object of the entry's class, aggregated by pUnkOuter when it
// is not null. The object comes back with no reference held; *phr arrives as
// S_OK and the function may set a failure (the factory then deletes a built
// object).
using ClassCreateFunction = CUnknown* (*)(IUnknown* pUnkOuter, HRESULT* phr);

// Called at module load (TRUE) and unload (FALSE).
using ClassLoadHook = void (*)(BOOL bLoading, const CLSID* pClsid);

struct ClassTableEntry {
  const wchar_t* m_pszName;
  CLSID m_Clsid;
  ClassCreateFunction m_pfnCreate;    // null: the class cannot be built yet
  ClassLoadHook m_pfnLoadHook;        // may be null
  const FilterSetup* m_pFilterSetup;  // null: not a filter, nothing for the mapper
};

struct ClassTable {
  const ClassTableEntry* m_pEntries;
  size_t m_cEntries;

  const ClassTableEntry* begin() const { return m_pEntries; }
  const ClassTableEntry* end() const { return m_pEntries + m_cEntries; }
  const ClassTableEntry* Find(const CLSID& clsid) const {
    for (const auto& entry : *this)
      if (entry.m_Clsid == clsid) return &entry;
    return nullptr;
  }
};

// This module's table: the one entry "Orvex FLV Demultiplexer".
const ClassTable& GetModuleClassTable();

}  // namespace flvdmx

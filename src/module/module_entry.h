// The portable bodies of the module's entry points, over a class table. The
// exported functions (dll_entry_win.cpp) pass this module's table; tests pass
// their own.
#pragma once

#include "module/class_table.h"
#include "platform/com.h"

namespace flvdmx {

// DllGetClassObject: a new CClassFactory for the entry with that class
// identifier. E_POINTER, E_NOINTERFACE (checked before the class),
// CLASS_E_CLASSNOTAVAILABLE, E_OUTOFMEMORY or S_OK; *ppv is cleared first.
HRESULT GetClassObject(const ClassTable& classes, REFCLSID rclsid, REFIID riid, void** ppv);

// DllCanUnloadNow: S_FALSE while the server is locked or any counted object
// (a factory included) lives; otherwise closes the trace output and S_OK.
HRESULT CanUnloadModule();

// DllMain's load and unload notification of every entry's hook.
void CallLoadHooks(const ClassTable& classes, BOOL bLoading);

}  // namespace flvdmx

// The host's class table: what CoCreateInstance can build. On Linux it is the
// table behind our CoCreateInstance and knows CLSID_MemoryAllocator and the
// module's filter (through the module's class factory) from the start; on Windows registrations go
// to the component runtime (CoRegisterClassObject), beside the classes the system already knows.
// Later registrations of a class win over earlier ones until revoked, so a
// test may stand in its own allocator.
//
// Thread-safe; creation functions and factories are called without any lock
// of the table held.
#pragma once

#include "platform/com.h"

namespace flvdmx {

// Builds an object and hands out riid with one reference in *ppv.
using HostClassCreator = HRESULT (*)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

// The cookie identifies the registration for RevokeHostClass.
HRESULT RegisterHostClass(REFCLSID clsid, HostClassCreator pfnCreate, DWORD* pdwCookie);
// The table holds one reference on the factory until the class is revoked.
HRESULT RegisterHostClassFactory(REFCLSID clsid, IClassFactory* pFactory, DWORD* pdwCookie);
// E_INVALIDARG for a cookie that names no registration.
HRESULT RevokeHostClass(DWORD dwCookie);

}  // namespace flvdmx

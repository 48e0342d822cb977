// The bodies of DllRegisterServer and DllUnregisterServer, written over the
// registry and platform interfaces so that the whole footprint can be checked
// against an in-memory registry. Stateless: every call works on what it is
// given.
#pragma once

#include <string>

#include "module/class_table.h"
#include "module/registration_host.h"
#include "module/registry.h"

namespace flvdmx {

// Component keys, filter mapper, FLV content and ".flv" extension, media
// player lists and shell thumbnail entry. S_OK without writing anything when
// a copy with a higher file version is registered at another existing path.
// Stops at the first failing step and returns its HRESULT; what was written
// before stays.
HRESULT RegisterModule(IRegistrationHost& host, IRegistry& registry, const ClassTable& classes);

// Removes what RegisterModule wrote, except the media player entries. Does
// nothing when another existing copy of the module owns the registration.
// Never fails.
HRESULT UnregisterModule(IRegistrationHost& host, IRegistry& registry, const ClassTable& classes);

// Deletes a key with everything under it, depth first. An empty path is
// refused with E_FAIL; a key that does not open counts as gone (S_OK); the
// first failure stops the deletion and is returned.
HRESULT DeleteKeyTree(IRegistry& registry, RegistryRoot root, const std::wstring& path);

}  // namespace flvdmx

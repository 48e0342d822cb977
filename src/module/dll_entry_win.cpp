// The DLL's exported entry points: thin glue from the platform's calls to
// the portable bodies, with this module's class table, the real registry and
// the real platform calls.
#include "module/class_table.h"
#include "module/module_entry.h"
#include "module/registration.h"
#include "module/system_registration_host.h"
#include "module/system_registry.h"

namespace {

HMODULE g_hModule = nullptr;
DWORD g_dwPlatformVersion = 0;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*pReserved*/) {
  switch (dwReason) {
    case DLL_PROCESS_ATTACH:
      g_hModule = hInstance;
      DisableThreadLibraryCalls(hInstance);
      g_dwPlatformVersion = GetVersion();
      flvdmx::CallLoadHooks(flvdmx::GetModuleClassTable(), TRUE);
      break;
    case DLL_PROCESS_DETACH:
      flvdmx::CallLoadHooks(flvdmx::GetModuleClassTable(), FALSE);
      break;
    default:
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return flvdmx::GetClassObject(flvdmx::GetModuleClassTable(), rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return flvdmx::CanUnloadModule(); }

STDAPI DllRegisterServer() {
  flvdmx::CSystemRegistrationHost host(g_hModule);
  flvdmx::CSystemRegistry registry;
  return flvdmx::RegisterModule(host, registry, flvdmx::GetModuleClassTable());
}

STDAPI DllUnregisterServer() {
  flvdmx::CSystemRegistrationHost host(g_hModule);
  flvdmx::CSystemRegistry registry;
  return flvdmx::UnregisterModule(host, registry, flvdmx::GetModuleClassTable());
}

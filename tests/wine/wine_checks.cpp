// Checks run under Wine against the registered OXFLVDmxx.dll through the
// platform's own component runtime and filter mapper:
//   wine_checks mapper          - exit 0 if IFilterMapper2::EnumMatchingFilters
//                                 for MEDIATYPE_Stream + QFLV lists the
//                                 filter, 3 if it does not
//   wine_checks unload DLL      - DllCanUnloadNow through the life of a
//                                 filter and a server lock
// Prints one line per check; exit 1 on a failed check.
#include <windows.h>

#include <objbase.h>
#include <strmif.h>
#include <uuids.h>

#include <cstdio>
#include <cstring>

namespace {

// {E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}
const CLSID kClsidFlvDmx = {
    0xE2B7DF43, 0x38C5, 0x11D5, {0x91, 0xF6, 0x00, 0x10, 0x4B, 0xDB, 0x8F, 0xF9}};
// QFLV in the FOURCC subtype family.
const GUID kSubtypeQflv = {
    0x564C4651, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

int g_failures = 0;

void Check(bool ok, const char* what, HRESULT hr) {
  std::printf("%s %s (0x%08lX)\n", ok ? "ok  " : "FAIL", what, static_cast<unsigned long>(hr));
  if (!ok) ++g_failures;
}

int MapperCheck() {
  IFilterMapper2* pMapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(&pMapper));
  if (FAILED(hr)) {
    Check(false, "create the filter mapper", hr);
    return 1;
  }
  GUID types[2] = {MEDIATYPE_Stream, kSubtypeQflv};
  IEnumMoniker* pEnum = nullptr;
  hr = pMapper->EnumMatchingFilters(&pEnum, 0, FALSE, MERIT_DO_NOT_USE + 1, TRUE, 1, types, nullptr,
                                    nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr);
  bool found = false;
  if (SUCCEEDED(hr)) {
    IMoniker* pMoniker = nullptr;
    while (!found && pEnum->Next(1, &pMoniker, nullptr) == S_OK) {
      IPropertyBag* pBag = nullptr;
      if (SUCCEEDED(pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                            reinterpret_cast<void**>(&pBag)))) {
        VARIANT var;
        VariantInit(&var);
        if (SUCCEEDED(pBag->Read(L"CLSID", &var, nullptr)) && var.vt == VT_BSTR) {
          CLSID clsid;
          found =
              SUCCEEDED(CLSIDFromString(var.bstrVal, &clsid)) && IsEqualCLSID(clsid, kClsidFlvDmx);
        }
        VariantClear(&var);
        pBag->Release();
      }
      pMoniker->Release();
    }
    pEnum->Release();
  }
  pMapper->Release();
  std::printf("%s\n", found ? "found" : "not found");
  return SUCCEEDED(hr) ? (found ? 0 : 3) : 1;
}

int UnloadCheck(const char* pDll) {
  HMODULE hModule = LoadLibraryA(pDll);
  if (hModule == nullptr) {
    Check(false, "load the DLL", HRESULT_FROM_WIN32(GetLastError()));
    return 1;
  }
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
  // Through void*: the entry points' types differ from FARPROC's.
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(hModule, "DllGetClassObject")));
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
      reinterpret_cast<void*>(GetProcAddress(hModule, "DllCanUnloadNow")));
  if (getClassObject == nullptr || canUnloadNow == nullptr) {
    Check(false, "find the entry points", E_FAIL);
    return 1;
  }
  HRESULT hr = canUnloadNow();
  Check(hr == S_OK, "DllCanUnloadNow is S_OK before anything is made", hr);

  IClassFactory* pFactory = nullptr;
  hr = getClassObject(kClsidFlvDmx, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
  Check(SUCCEEDED(hr), "DllGetClassObject gives the class factory", hr);
  if (FAILED(hr)) return 1;
  hr = canUnloadNow();
  Check(hr == S_FALSE, "DllCanUnloadNow is S_FALSE while a class factory is held", hr);

  IBaseFilter* pFilter = nullptr;
  hr = pFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&pFilter));
  Check(SUCCEEDED(hr), "CreateInstance makes the filter", hr);
  pFactory->LockServer(TRUE);
  pFactory->Release();
  hr = canUnloadNow();
  Check(hr == S_FALSE, "DllCanUnloadNow is S_FALSE while a filter lives", hr);
  if (pFilter != nullptr) pFilter->Release();
  hr = canUnloadNow();
  Check(hr == S_FALSE, "DllCanUnloadNow is S_FALSE while the server is locked", hr);

  hr = getClassObject(kClsidFlvDmx, IID_IClassFactory, reinterpret_cast<void**>(&pFactory));
  if (SUCCEEDED(hr)) {
    pFactory->LockServer(FALSE);
    pFactory->Release();
  }
  hr = canUnloadNow();
  Check(hr == S_OK, "DllCanUnloadNow is S_OK after the last filter and lock are gone", hr);

  IUnknown* pUnknown = nullptr;
  hr = getClassObject(kClsidFlvDmx, IID_IBaseFilter, reinterpret_cast<void**>(&pUnknown));
  Check(hr == E_NOINTERFACE, "DllGetClassObject refuses interfaces other than the factory's", hr);
  FreeLibrary(hModule);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  int rc = 2;
  if (argc == 2 && std::strcmp(argv[1], "mapper") == 0) {
    rc = MapperCheck();
  } else if (argc == 3 && std::strcmp(argv[1], "unload") == 0) {
    rc = UnloadCheck(argv[2]);
  } else {
    std::fprintf(stderr, "usage: wine_checks mapper | unload DLL\n");
  }
  CoUninitialize();
  return rc;
}

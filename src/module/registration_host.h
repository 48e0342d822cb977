// What registration needs from the platform besides the registry: this
// module's file, other files' existence and version, the component runtime,
// and the two generations of the filter mapper. On Windows
// CSystemRegistrationHost makes the real calls; tests use a recording fake.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "module/filter_setup.h"
#include "platform/com.h"

namespace flvdmx {

// The calls registration makes on the platform's IFilterMapper2. An object
// holds the platform mapper for as long as it lives.
class IFilterMapperV2 {
 public:
  virtual ~IFilterMapperV2() = default;
  // No category, no instance.
  virtual HRESULT UnregisterFilter(const CLSID& clsid) = 0;
  // No moniker back, the default filter category, no instance; the setup is
  // handed over as a version-1 REGFILTER2.
  virtual HRESULT RegisterFilter(const FilterSetup& setup) = 0;
};

// The calls registration makes on the older IFilterMapper, used when the
// newer one cannot be created.
class IFilterMapperV1 {
 public:
  virtual ~IFilterMapperV1() = default;
  virtual HRESULT UnregisterFilter(const CLSID& clsid) = 0;
  virtual HRESULT RegisterFilter(const CLSID& clsid, const wchar_t* pszName, DWORD dwMerit) = 0;
  virtual HRESULT RegisterPin(const CLSID& clsid, const FilterPinSetup& pin) = 0;
  virtual HRESULT RegisterPinType(const CLSID& clsid, const wchar_t* pszPin,
                                  const FilterPinMediaType& type) = 0;
};

class IRegistrationHost {
 public:
  virtual ~IRegistrationHost() = default;

  // Full path of this module's file.
  virtual HRESULT GetModulePath(std::wstring* pPath) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  // The file version, most significant 32 bits first (as
  // VS_FIXEDFILEINFO's dwFileVersionMS:dwFileVersionLS).
  virtual HRESULT GetFileVersion(const std::wstring& path, uint64_t* pVersion) = 0;

  // Component-runtime initialisation for the calling thread; a success
  // (S_OK or S_FALSE) is undone by UninitializeComponentRuntime.
  virtual HRESULT InitializeComponentRuntime() = 0;
  virtual void UninitializeComponentRuntime() = 0;

  virtual HRESULT CreateFilterMapperV2(std::unique_ptr<IFilterMapperV2>* ppMapper) = 0;
  virtual HRESULT CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) = 0;
  // CoFreeUnusedLibraries.
  virtual void FreeUnusedLibraries() = 0;
};

}  // namespace flvdmx

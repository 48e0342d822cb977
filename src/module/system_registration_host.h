// CSystemRegistrationHost: IRegistrationHost over the real platform calls:
// the module file of the handle it is given, file version resources, the
// component runtime and the platform's filter mappers. Holds only the module
// handle; each mapper object it creates holds one reference on the platform
// mapper until it is destroyed. Windows builds only.
#pragma once

#ifdef _WIN32

#include "module/registration_host.h"

namespace flvdmx {

class CSystemRegistrationHost : public IRegistrationHost {
 public:
  explicit CSystemRegistrationHost(HMODULE hModule) : m_hModule(hModule) {}

  HRESULT GetModulePath(std::wstring* pPath) override;
  bool FileExists(const std::wstring& path) override;
  HRESULT GetFileVersion(const std::wstring& path, uint64_t* pVersion) override;
  HRESULT InitializeComponentRuntime() override;
  void UninitializeComponentRuntime() override;
  HRESULT CreateFilterMapperV2(std::unique_ptr<IFilterMapperV2>* ppMapper) override;
  HRESULT CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) override;
  void FreeUnusedLibraries() override;

 private:
  const HMODULE m_hModule;
};

}  // namespace flvdmx

#endif  // _WIN32

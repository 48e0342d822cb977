// CSystemRegistry: IRegistry over the Windows registry (RegCreateKeyExW and
// friends). Holds no handles between calls; errors come back as
// HRESULT_FROM_WIN32 of the platform's status. Windows builds only.
#pragma once

#ifdef _WIN32

#include "module/registry.h"

namespace flvdmx {

class CSystemRegistry : public IRegistry {
 public:
  HRESULT CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) override;
  HRESULT OpenKey(RegistryRoot root, const std::wstring& path) override;
  HRESULT QueryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                     RegistryValue* pValue) override;
  HRESULT SetString(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text) override;
  HRESULT SetDword(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                   DWORD dwValue) override;
  HRESULT EnumValue(RegistryRoot root, const std::wstring& path, DWORD index, std::wstring* pName,
                    RegistryValue* pValue) override;
  HRESULT EnumSubkey(RegistryRoot root, const std::wstring& path, DWORD index,
                     std::wstring* pName) override;
  HRESULT DeleteKey(RegistryRoot root, const std::wstring& path) override;
};

}  // namespace flvdmx

#endif  // _WIN32

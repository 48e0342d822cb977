// CMemoryRegistry: an IRegistry kept entirely in memory, with the platform's
// rules: names compare without regard to letter case but keep the case they
// were created with, subkeys enumerate in sorted order, values in the order
// they were first written, and a key with subkeys cannot be deleted on its
// own. Owns every key and value; not thread-safe (registration is one call on
// one thread).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "module/registry.h"

namespace flvdmx {

class CMemoryRegistry : public IRegistry {
 public:
  CMemoryRegistry();
  ~CMemoryRegistry() override;
  CMemoryRegistry(const CMemoryRegistry&) = delete;
  CMemoryRegistry& operator=(const CMemoryRegistry&) = delete;

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

  // Stores a value exactly as given, of any type and length: for values that
  // registration never writes itself, such as a count of the wrong size.
  HRESULT SetValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                   const RegistryValue& value);

 private:
  struct NameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  struct Key {
    std::map<std::wstring, std::unique_ptr<Key>, NameLess> m_Subkeys;
    std::vector<std::pair<std::wstring, RegistryValue>> m_Values;
  };

  HRESULT Find(RegistryRoot root, const std::wstring& path, Key** ppKey);
  RegistryValue* FindValue(Key& key, const std::wstring& name);

  Key m_Roots[3];
};

}  // namespace flvdmx

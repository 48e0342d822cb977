// Test doubles for registration: a recording platform host with mappers that
// can fail or be absent, a registry decorator that fails chosen operations,
// and a flat dump of a registry for before/after comparisons.
#pragma once

#include <cwctype>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "module/memory_registry.h"
#include "module/registration_host.h"
#include "module/registry.h"

namespace flvdmx {
namespace testing_module {

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

inline std::string Text(const GUID& guid) {
  char buf[39];
  FormatGuid(guid, buf);
  return buf;
}

inline std::wstring Upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

inline const char* RootName(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot: return "HKCR";
    case RegistryRoot::kLocalMachine: return "HKLM";
    case RegistryRoot::kCurrentUser: return "HKCU";
  }
  return "?";
}

// One line per key ("HKCR\A\B\") and per value ("HKCR\A\B\[name]=sz:text",
// "=dword:7", "=type3/2 bytes"), sorted.
inline void DumpKey(IRegistry& registry, RegistryRoot root, const std::wstring& path,
                    std::set<std::string>* pLines) {
  const std::string prefix = std::string(RootName(root)) + "\\" + Narrow(path) + (path.empty() ? "" : "\\");
  if (!path.empty()) pLines->insert(prefix);
  std::wstring name;
  RegistryValue value;
  for (DWORD i = 0; registry.EnumValue(root, path, i, &name, &value) == S_OK; ++i) {
    std::string data;
    if (value.IsString()) {
      data = "sz:" + Narrow(value.m_strText);
    } else if (value.IsDword()) {
      data = "dword:" + std::to_string(value.m_dwNumber);
    } else {
      data = "type" + std::to_string(value.m_dwType) + "/" + std::to_string(value.m_cbData) + " bytes";
    }
    pLines->insert(prefix + "[" + Narrow(name) + "]=" + data);
  }
  for (DWORD i = 0; registry.EnumSubkey(root, path, i, &name) == S_OK; ++i)
    DumpKey(registry, root, path.empty() ? name : path + L"\\" + name, pLines);
}

inline std::set<std::string> Dump(IRegistry& registry) {
  std::set<std::string> lines;
  for (auto root : {RegistryRoot::kClassesRoot, RegistryRoot::kLocalMachine, RegistryRoot::kCurrentUser})
    DumpKey(registry, root, L"", &lines);
  return lines;
}

// Lines of `after` that are not in `before`.
inline std::set<std::string> Added(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::set<std::string> added;
  for (const auto& line : after)
    if (!before.count(line)) added.insert(line);
  return added;
}

enum RegistryOperation { kOpCreate, kOpOpen, kOpQuery, kOpSet, kOpEnum, kOpDelete };

// Passes every call to a CMemoryRegistry except those on a key that a test
// has told to fail.
class CFaultyRegistry : public IRegistry {
 public:
  CMemoryRegistry m_Store;

  void Fail(RegistryOperation op, RegistryRoot root, const std::wstring& path, HRESULT hr) {
    m_Faults[{op, static_cast<int>(root), Upper(path)}] = hr;
  }

  HRESULT CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) override {
    return Check(kOpCreate, root, path, [&] { return m_Store.CreateKey(root, path, pbCreated); });
  }
  HRESULT OpenKey(RegistryRoot root, const std::wstring& path) override {
    return Check(kOpOpen, root, path, [&] { return m_Store.OpenKey(root, path); });
  }
  HRESULT QueryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                     RegistryValue* pValue) override {
    return Check(kOpQuery, root, path, [&] { return m_Store.QueryValue(root, path, name, pValue); });
  }
  HRESULT SetString(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text) override {
    return Check(kOpSet, root, path, [&] { return m_Store.SetString(root, path, name, text); });
  }
  HRESULT SetDword(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                   DWORD dwValue) override {
    return Check(kOpSet, root, path, [&] { return m_Store.SetDword(root, path, name, dwValue); });
  }
  HRESULT EnumValue(RegistryRoot root, const std::wstring& path, DWORD index, std::wstring* pName,
                    RegistryValue* pValue) override {
    return Check(kOpEnum, root, path, [&] { return m_Store.EnumValue(root, path, index, pName, pValue); });
  }
  HRESULT EnumSubkey(RegistryRoot root, const std::wstring& path, DWORD index,
                     std::wstring* pName) override {
    return Check(kOpEnum, root, path, [&] { return m_Store.EnumSubkey(root, path, index, pName); });
  }
  HRESULT DeleteKey(RegistryRoot root, const std::wstring& path) override {
    return Check(kOpDelete, root, path, [&] { return m_Store.DeleteKey(root, path); });
  }

 private:
  template <typename Call>
  HRESULT Check(RegistryOperation op, RegistryRoot root, const std::wstring& path, Call call) {
    const auto it = m_Faults.find({op, static_cast<int>(root), Upper(path)});
    return it != m_Faults.end() ? it->second : call();
  }

  std::map<std::tuple<int, int, std::wstring>, HRESULT> m_Faults;
};

// Records every platform call as a line of text. Files exist when added;
// a file added without a version has unreadable version information.
class CFakeRegistrationHost : public IRegistrationHost {
 public:
  std::wstring m_strModulePath = L"C:\\Filters\\OXFLVDmxx.dll";
  HRESULT m_hrModulePath = S_OK;
  HRESULT m_hrInit = S_OK;
  HRESULT m_hrCreateV2 = S_OK;  // a failure makes the newer mapper absent
  HRESULT m_hrCreateV1 = S_OK;
  HRESULT m_hrRegister = S_OK;  // answer of every Register* call
  HRESULT m_hrUnregister = S_OK;
  std::vector<std::string> m_Calls;

  CFakeRegistrationHost() { AddFile(m_strModulePath, 0x0001000200030004ull); }

  void AddFile(const std::wstring& path, std::optional<uint64_t> version) { m_Files[Upper(path)] = version; }

  HRESULT GetModulePath(std::wstring* pPath) override {
    if (FAILED(m_hrModulePath)) return m_hrModulePath;
    *pPath = m_strModulePath;
    return S_OK;
  }
  bool FileExists(const std::wstring& path) override { return m_Files.count(Upper(path)) != 0; }
  HRESULT GetFileVersion(const std::wstring& path, uint64_t* pVersion) override {
    const auto it = m_Files.find(Upper(path));
    if (it == m_Files.end()) return static_cast<HRESULT>(0x80070002u);
    if (!it->second) return static_cast<HRESULT>(0x80070716u);  // no version resource
    *pVersion = *it->second;
    return S_OK;
  }
  HRESULT InitializeComponentRuntime() override {
    m_Calls.push_back("CoInitialize");
    return m_hrInit;
  }
  void UninitializeComponentRuntime() override { m_Calls.push_back("CoUninitialize"); }
  void FreeUnusedLibraries() override { m_Calls.push_back("CoFreeUnusedLibraries"); }

  HRESULT CreateFilterMapperV2(std::unique_ptr<IFilterMapperV2>* ppMapper) override {
    m_Calls.push_back("create V2");
    if (FAILED(m_hrCreateV2)) return m_hrCreateV2;
    *ppMapper = std::make_unique<MapperV2>(this);
    return S_OK;
  }
  HRESULT CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) override {
    m_Calls.push_back("create V1");
    if (FAILED(m_hrCreateV1)) return m_hrCreateV1;
    *ppMapper = std::make_unique<MapperV1>(this);
    return S_OK;
  }

 private:
  static std::string Flags(const FilterPinSetup& pin) {
    return std::string(pin.m_bRendered ? " rendered" : "") + (pin.m_bOutput ? " output" : "") +
           (pin.m_bZero ? " zero" : "") + (pin.m_bMany ? " many" : "");
  }

  struct MapperV2 : IFilterMapperV2 {
    explicit MapperV2(CFakeRegistrationHost* host) : m_pHost(host) {}
    ~MapperV2() override { m_pHost->m_Calls.push_back("release V2"); }
    HRESULT UnregisterFilter(const CLSID& clsid) override {
      m_pHost->m_Calls.push_back("V2 UnregisterFilter " + Text(clsid));
      return m_pHost->m_hrUnregister;
    }
    HRESULT RegisterFilter(const FilterSetup& setup) override {
      std::string line = "V2 RegisterFilter " + Text(setup.m_Clsid) + " " + Narrow(setup.m_pszName) +
                         " merit=" + std::to_string(setup.m_dwMerit);
      for (uint32_t i = 0; i < setup.m_cPins; ++i) {
        const FilterPinSetup& pin = setup.m_pPins[i];
        line += " [" + Narrow(pin.m_pszName) + Flags(pin) + " to " + Text(pin.m_ConnectsToFilter) + " '" +
                Narrow(pin.m_pszConnectsToPin) + "'";
        for (uint32_t t = 0; t < pin.m_cMediaTypes; ++t)
          line += " " + Text(pin.m_pMediaTypes[t].m_MajorType) + "/" + Text(pin.m_pMediaTypes[t].m_Subtype);
        line += "]";
      }
      m_pHost->m_Calls.push_back(line);
      return m_pHost->m_hrRegister;
    }
    CFakeRegistrationHost* m_pHost;
  };

  struct MapperV1 : IFilterMapperV1 {
    explicit MapperV1(CFakeRegistrationHost* host) : m_pHost(host) {}
    ~MapperV1() override { m_pHost->m_Calls.push_back("release V1"); }
    HRESULT UnregisterFilter(const CLSID& clsid) override {
      m_pHost->m_Calls.push_back("V1 UnregisterFilter " + Text(clsid));
      return m_pHost->m_hrUnregister;
    }
    HRESULT RegisterFilter(const CLSID& clsid, const wchar_t* pszName, DWORD dwMerit) override {
      m_pHost->m_Calls.push_back("V1 RegisterFilter " + Text(clsid) + " " + Narrow(pszName) +
                                 " merit=" + std::to_string(dwMerit));
      return m_pHost->m_hrRegister;
    }
    HRESULT RegisterPin(const CLSID& clsid, const FilterPinSetup& pin) override {
      m_pHost->m_Calls.push_back("V1 RegisterPin " + Text(clsid) + " " + Narrow(pin.m_pszName) + Flags(pin) +
                                 " to " + Text(pin.m_ConnectsToFilter) + " '" +
                                 Narrow(pin.m_pszConnectsToPin) + "'");
      return m_pHost->m_hrRegister;
    }
    HRESULT RegisterPinType(const CLSID& clsid, const wchar_t* pszPin, const FilterPinMediaType& type) override {
      m_pHost->m_Calls.push_back("V1 RegisterPinType " + Text(clsid) + " " + Narrow(pszPin) + " " +
                                 Text(type.m_MajorType) + "/" + Text(type.m_Subtype));
      return m_pHost->m_hrRegister;
    }
    CFakeRegistrationHost* m_pHost;
  };

  std::map<std::wstring, std::optional<uint64_t>> m_Files;
};

}  // namespace testing_module
}  // namespace flvdmx

// Test doubles for registration: a registry that fails chosen operations, a
// platform host that records its calls, and a flat dump of a registry for
// before/after comparisons.
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

namespace flvdmx::testing_module {

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

// One line per key ("HKCR\A\B\") and per value ("HKCR\A\B\[name]=sz:text",
// "=dword:7", "=type3/2 bytes").
inline void DumpKey(IRegistry& registry, RegistryRoot root, const std::wstring& path, std::set<std::string>* pLines) {
  const char* rootName = root == RegistryRoot::kClassesRoot ? "HKCR" : root == RegistryRoot::kLocalMachine ? "HKLM" : "HKCU";
  const std::string prefix = std::string(rootName) + "\\" + Narrow(path) + (path.empty() ? "" : "\\");
  if (!path.empty()) pLines->insert(prefix);
  std::wstring name;
  RegistryValue v;
  for (DWORD i = 0; registry.EnumValue(root, path, i, &name, &v) == S_OK; ++i) {
    pLines->insert(prefix + "[" + Narrow(name) + "]=" +
                   (v.IsString()  ? "sz:" + Narrow(v.m_strText)
                    : v.IsDword() ? "dword:" + std::to_string(v.m_dwNumber)
                                  : "type" + std::to_string(v.m_dwType) + "/" + std::to_string(v.m_cbData) + " bytes"));
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

enum RegistryOperation { kOpCreate, kOpOpen, kOpSet, kOpDelete };

// An in-memory registry whose writes and opens on chosen keys fail.
class CFaultyRegistry : public CMemoryRegistry {
 public:
  void Fail(RegistryOperation op, RegistryRoot root, const std::wstring& path, HRESULT hr) {
    m_Faults[{op, root, Upper(path)}] = hr;
  }

  HRESULT CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) override {
    HRESULT hr;
    return Faulted(kOpCreate, root, path, &hr) ? hr : CMemoryRegistry::CreateKey(root, path, pbCreated);
  }
  HRESULT OpenKey(RegistryRoot root, const std::wstring& path) override {
    HRESULT hr;
    return Faulted(kOpOpen, root, path, &hr) ? hr : CMemoryRegistry::OpenKey(root, path);
  }
  HRESULT SetString(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text) override {
    HRESULT hr;
    return Faulted(kOpSet, root, path, &hr) ? hr : CMemoryRegistry::SetString(root, path, name, text);
  }
  HRESULT SetDword(RegistryRoot root, const std::wstring& path, const std::wstring& name, DWORD dwValue) override {
    HRESULT hr;
    return Faulted(kOpSet, root, path, &hr) ? hr : CMemoryRegistry::SetDword(root, path, name, dwValue);
  }
  HRESULT DeleteKey(RegistryRoot root, const std::wstring& path) override {
    HRESULT hr;
    return Faulted(kOpDelete, root, path, &hr) ? hr : CMemoryRegistry::DeleteKey(root, path);
  }

 private:
  bool Faulted(RegistryOperation op, RegistryRoot root, const std::wstring& path, HRESULT* phr) const {
    const auto it = m_Faults.find({op, root, Upper(path)});
    if (it != m_Faults.end()) *phr = it->second;
    return it != m_Faults.end();
  }

  std::map<std::tuple<RegistryOperation, RegistryRoot, std::wstring>, HRESULT> m_Faults;
};

// Records every platform call as a line of text. Files exist when added; a
// file added without a version has unreadable version information.
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
    if (SUCCEEDED(m_hrModulePath)) *pPath = m_strModulePath;
    return m_hrModulePath;
  }
  bool FileExists(const std::wstring& path) override { return m_Files.count(Upper(path)) != 0; }
  HRESULT GetFileVersion(const std::wstring& path, uint64_t* pVersion) override {
    const auto it = m_Files.find(Upper(path));
    if (it == m_Files.end()) return static_cast<HRESULT>(0x80070002u);
    if (!it->second) return static_cast<HRESULT>(0x80070716u);  // no version resource
    *pVersion = *it->second;
    return S_OK;
  }
  HRESULT InitializeComponentRuntime() override { return Call("CoInitialize", m_hrInit); }
  void UninitializeComponentRuntime() override { Call("CoUninitialize"); }
  void FreeUnusedLibraries() override { Call("CoFreeUnusedLibraries"); }

  HRESULT CreateFilterMapperV2(std::unique_ptr<IFilterMapperV2>* ppMapper) override {
    if (SUCCEEDED(Call("create V2", m_hrCreateV2))) *ppMapper = std::make_unique<Mapper>(this, "V2");
    return m_hrCreateV2;
  }
  HRESULT CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) override {
    if (SUCCEEDED(Call("create V1", m_hrCreateV1))) *ppMapper = std::make_unique<Mapper>(this, "V1");
    return m_hrCreateV1;
  }

 private:
  HRESULT Call(const std::string& line, HRESULT hr = S_OK) {
    m_Calls.push_back(line);
    return hr;
  }

  // Either generation of the mapper; each call is a line naming the generation.
  struct Mapper : IFilterMapperV2, IFilterMapperV1 {
    Mapper(CFakeRegistrationHost* pHost, const char* gen) : m_pHost(pHost), m_Gen(gen) {}
    ~Mapper() override { m_pHost->Call("release " + m_Gen); }
    HRESULT Say(const std::string& line) { return m_pHost->Call(m_Gen + " " + line, m_pHost->m_hrRegister); }
    static std::string Pin(const FilterPinSetup& pin) {
      return Narrow(pin.m_pszName) + (pin.m_bRendered ? " rendered" : "") + (pin.m_bOutput ? " output" : "") +
             (pin.m_bZero ? " zero" : "") + (pin.m_bMany ? " many" : "") + " to " + Text(pin.m_ConnectsToFilter) +
             " '" + Narrow(pin.m_pszConnectsToPin) + "'";
    }
    static std::string Type(const FilterPinMediaType& type) {
      return " " + Text(type.m_MajorType) + "/" + Text(type.m_Subtype);
    }

    HRESULT UnregisterFilter(const CLSID& clsid) override {
      return m_pHost->Call(m_Gen + " UnregisterFilter " + Text(clsid), m_pHost->m_hrUnregister);
    }
    HRESULT RegisterFilter(const FilterSetup& setup) override {
      std::string line = "RegisterFilter " + Text(setup.m_Clsid) + " " + Narrow(setup.m_pszName) +
                         " merit=" + std::to_string(setup.m_dwMerit);
      for (const FilterPinSetup* p = setup.m_pPins; p != setup.m_pPins + setup.m_cPins; ++p) {
        line += " [" + Pin(*p);
        for (uint32_t t = 0; t < p->m_cMediaTypes; ++t) line += Type(p->m_pMediaTypes[t]);
        line += "]";
      }
      return Say(line);
    }
    HRESULT RegisterFilter(const CLSID& clsid, const wchar_t* pszName, DWORD dwMerit) override {
      return Say("RegisterFilter " + Text(clsid) + " " + Narrow(pszName) + " merit=" + std::to_string(dwMerit));
    }
    HRESULT RegisterPin(const CLSID& clsid, const FilterPinSetup& pin) override {
      return Say("RegisterPin " + Text(clsid) + " " + Pin(pin));
    }
    HRESULT RegisterPinType(const CLSID& clsid, const wchar_t* pszPin, const FilterPinMediaType& type) override {
      return Say("RegisterPinType " + Text(clsid) + " " + Narrow(pszPin) + Type(type));
    }

    CFakeRegistrationHost* m_pHost;
    std::string m_Gen;
  };

  std::map<std::wstring, std::optional<uint64_t>> m_Files;
};

}  // namespace flvdmx::testing_module

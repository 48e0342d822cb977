#include "module/registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "module/class_table.h"
#include "module/memory_registry.h"
#include "module/registration_host.h"

namespace flvdmx {
namespace {

// Test doubles: a registry that fails chosen writes, a platform host that
// records its calls, and a flat dump of a registry.
std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

std::string Text(const GUID& guid) {
  char buf[39];
  FormatGuid(guid, buf);
  return buf;
}

std::wstring Upper(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

// One line per key ("HKCR\A\B\") and per value ("HKCR\A\B\[name]=sz:text", "=dword:7").
void DumpKey(IRegistry& registry, RegistryRoot root, const std::wstring& path,
             std::set<std::string>* pLines) {
  const char* rootName = root == RegistryRoot::kClassesRoot    ? "HKCR"
                         : root == RegistryRoot::kLocalMachine ? "HKLM"
                                                               : "HKCU";
  const std::string prefix =
      std::string(rootName) + "\\" + Narrow(path) + (path.empty() ? "" : "\\");
  if (!path.empty()) pLines->insert(prefix);
  std::wstring name;
  RegistryValue v;
  for (DWORD i = 0; registry.EnumValue(root, path, i, &name, &v) == S_OK; ++i) {
    pLines->insert(
        prefix + "[" + Narrow(name) + "]=" +
        (v.IsString() ? "sz:" + Narrow(v.m_strText) : "dword:" + std::to_string(v.m_dwNumber)));
  }
  for (DWORD i = 0; registry.EnumSubkey(root, path, i, &name) == S_OK; ++i)
    DumpKey(registry, root, path.empty() ? name : path + L"\\" + name, pLines);
}

std::set<std::string> Dump(IRegistry& registry) {
  std::set<std::string> lines;
  for (auto root :
       {RegistryRoot::kClassesRoot, RegistryRoot::kLocalMachine, RegistryRoot::kCurrentUser})
    DumpKey(registry, root, L"", &lines);
  return lines;
}

enum RegistryOperation { kOpCreate, kOpSet };

// An in-memory registry whose writes to chosen keys fail.
class CFaultyRegistry : public CMemoryRegistry {
 public:
  void Fail(RegistryOperation op, RegistryRoot root, const std::wstring& path, HRESULT hr) {
    m_Faults[{op, root, Upper(path)}] = hr;
  }

  HRESULT CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) override {
    return Faulted(kOpCreate, root, path,
                   [&] { return CMemoryRegistry::CreateKey(root, path, pbCreated); });
  }
  HRESULT SetString(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                    const std::wstring& text) override {
    return Faulted(kOpSet, root, path,
                   [&] { return CMemoryRegistry::SetString(root, path, name, text); });
  }
  HRESULT SetDword(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                   DWORD dwValue) override {
    return Faulted(kOpSet, root, path,
                   [&] { return CMemoryRegistry::SetDword(root, path, name, dwValue); });
  }

 private:
  template <typename Operation>
  HRESULT Faulted(RegistryOperation op, RegistryRoot root, const std::wstring& path,
                  Operation operation) const {
    const auto it = m_Faults.find({op, root, Upper(path)});
    return it != m_Faults.end() ? it->second : operation();
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

  void AddFile(const std::wstring& path, std::optional<uint64_t> version) {
    m_Files[Upper(path)] = version;
  }

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
    if (SUCCEEDED(Call("create V2", m_hrCreateV2)))
      *ppMapper = std::make_unique<Mapper>(this, "V2");
    return m_hrCreateV2;
  }
  HRESULT CreateFilterMapperV1(std::unique_ptr<IFilterMapperV1>* ppMapper) override {
    if (SUCCEEDED(Call("create V1", m_hrCreateV1)))
      *ppMapper = std::make_unique<Mapper>(this, "V1");
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
    HRESULT Say(const std::string& line) {
      return m_pHost->Call(m_Gen + " " + line, m_pHost->m_hrRegister);
    }
    static std::string Pin(const FilterPinSetup& pin) {
      return Narrow(pin.m_pszName) + (pin.m_bRendered ? " rendered" : "") +
             (pin.m_bOutput ? " output" : "") + (pin.m_bZero ? " zero" : "") +
             (pin.m_bMany ? " many" : "") + " to " + Text(pin.m_ConnectsToFilter) + " '" +
             Narrow(pin.m_pszConnectsToPin) + "'";
    }
    static std::string Type(const FilterPinMediaType& t) {
      return " " + Text(t.m_MajorType) + "/" + Text(t.m_Subtype);
    }

    HRESULT UnregisterFilter(const CLSID& clsid) override {
      return m_pHost->Call(m_Gen + " UnregisterFilter " + Text(clsid), m_pHost->m_hrUnregister);
    }
    // The pins of the newer call are those the older one registers one by one.
    HRESULT RegisterFilter(const FilterSetup& setup) override {
      return RegisterFilter(setup.m_Clsid, setup.m_pszName, setup.m_dwMerit);
    }
    HRESULT RegisterFilter(const CLSID& clsid, const wchar_t* pszName, DWORD dwMerit) override {
      return Say("RegisterFilter " + Text(clsid) + " " + Narrow(pszName) +
                 " merit=" + std::to_string(dwMerit));
    }
    HRESULT RegisterPin(const CLSID& clsid, const FilterPinSetup& pin) override {
      return Say("RegisterPin " + Text(clsid) + " " + Pin(pin));
    }
    HRESULT RegisterPinType(const CLSID& clsid, const wchar_t* pszPin,
                            const FilterPinMediaType& type) override {
      return Say("RegisterPinType " + Text(clsid) + " " + Narrow(pszPin) + Type(type));
    }

    CFakeRegistrationHost* m_pHost;
    std::string m_Gen;
  };

  std::map<std::wstring, std::optional<uint64_t>> m_Files;
};

constexpr RegistryRoot kHKCR = RegistryRoot::kClassesRoot;
constexpr RegistryRoot kHKLM = RegistryRoot::kLocalMachine;
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kNotRegistered = static_cast<HRESULT>(0x80040154u);

// Written out rather than taken from the code, so that a wrong constant shows.
#define CLSID_TEXT "{E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}"
#define STREAM_TEXT "{E436EB83-524F-11CE-9F53-0020AF0BA770}"
#define QFLV_TEXT "{564C4651-0000-0010-8000-00AA00389B71}"
#define NULL_GUID_TEXT "{00000000-0000-0000-0000-000000000000}"
#define COMPONENT "HKCR\\CLSID\\" CLSID_TEXT "\\"
#define CONTENT "HKCR\\Media Type\\" STREAM_TEXT "\\" QFLV_TEXT "\\"
#define EXTENSION "HKCR\\Media Type\\Extensions\\.flv\\"
#define SHELL "HKCR\\.flv\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}\\"
#define PLAYER "HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\"
#define WMPLAYER "HKLM\\SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions\\"
#define SETTINGS "SOFTWARE\\Orvex Technologies, Inc.\\DShow\\Filters\\OXFLVDmx"
#define CHECK_BYTES "0,3,,464c56"

const std::wstring kClsidKey = L"CLSID\\" CLSID_TEXT;
const std::wstring kInprocKey = kClsidKey + L"\\InprocServer32";
const std::wstring kContentKey = L"Media Type\\" STREAM_TEXT L"\\" QFLV_TEXT;
const std::wstring kShellKey = L".flv\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}";
const std::wstring kPlayerKey = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\";
const std::wstring kTypesKey = kPlayerKey + L"Types";
const std::wstring kWmPlayerKey = L"SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions";
constexpr uint64_t kOwnVersion = 0x0001000200030004ull;  // 1.2.3.4

struct RegistrationTest : ::testing::Test {
  // A machine with the media player: two list entries and WMPlayer's key.
  void SeedMediaPlayer() {
    Seed(kHKLM, kWmPlayerKey, {});
    for (const wchar_t* list : {L"Types", L"Descriptions", L"MUIDescriptions"})
      Seed(kHKLM, kPlayerKey + list, {{L"1", L"*.wmv"}, {L"2", L"*.asf"}});
  }
  // A key with string values; a null text stores a number instead.
  void Seed(RegistryRoot root, const std::wstring& key,
            std::vector<std::pair<std::wstring, const wchar_t*>> values) {
    ASSERT_EQ(m_Registry.CreateKey(root, key, nullptr), S_OK);
    for (const auto& [name, text] : values)
      ASSERT_EQ(text ? m_Registry.SetString(root, key, name, text)
                     : m_Registry.SetDword(root, key, name, 5),
                S_OK);
  }
  void SeedUsageCount(DWORD cb, DWORD value) {
    RegistryValue v;
    v.m_dwType = kRegTypeDword;
    v.m_cbData = cb;
    v.m_dwNumber = value;
    Seed(kHKCR, kContentKey, {});
    ASSERT_EQ(m_Registry.SetValue(kHKCR, kContentKey, L"Usage Count", v), S_OK);
  }
  // Another copy registered first from `path`; its file has `version`, or is gone for 0.
  void SeedOtherCopy(const wchar_t* path, std::optional<uint64_t> version) {
    CFakeRegistrationHost other;
    other.m_strModulePath = path;
    ASSERT_EQ(RegisterModule(other, m_Registry, GetModuleClassTable()), S_OK);
    if (version != 0u) m_Host.AddFile(path, version);
  }

  HRESULT Register() { return RegisterModule(m_Host, m_Registry, GetModuleClassTable()); }
  HRESULT Unregister() { return UnregisterModule(m_Host, m_Registry, GetModuleClassTable()); }

  CFaultyRegistry m_Registry;
  CFakeRegistrationHost m_Host;
};

// A seeded registry, then calls ('R' register, 'U' unregister, '!' the tweak), all but the last
// succeeding; afterwards each "+line" of `expect` ('|' between them) is in the dump and no line
// starts with a "-prefix".
using Step = std::function<void(RegistrationTest&)>;
struct Scenario {
  const char* name;
  const char* calls;
  HRESULT hrLast;
  std::string expect;
  Step seed = nullptr;
  Step tweak = nullptr;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class RegistrationScenarioTest : public RegistrationTest,
                                 public ::testing::WithParamInterface<Scenario> {};

TEST_P(RegistrationScenarioTest, RegistryAfterwards) {
  const Scenario& s = GetParam();
  if (s.seed) s.seed(*this);
  for (const char* p = s.calls; *p; ++p) {
    const HRESULT hr = *p == 'R' ? Register() : *p == 'U' ? Unregister() : (s.tweak(*this), S_OK);
    ASSERT_EQ(hr, p[1] ? S_OK : s.hrLast) << "call " << (p - s.calls);
  }
  const std::set<std::string> dump = Dump(m_Registry);
  for (size_t begin = 0, end = 0; begin < s.expect.size(); begin = end + 1) {
    end = std::min(s.expect.find('|', begin), s.expect.size());
    const std::string text = s.expect.substr(begin + 1, end - begin - 1);
    if (s.expect[begin] == '+') {
      EXPECT_EQ(dump.count(text), 1u) << "missing " << text;
    } else {
      for (const std::string& line : dump)
        EXPECT_NE(line.rfind(text, 0), 0u) << "present: " << line;
    }
  }
}

using Values = std::vector<std::pair<std::wstring, const wchar_t*>>;
Step Content(Values values) {
  return [=](auto& t) { t.Seed(kHKCR, kContentKey, values); };
}
Step Types(Values values) {
  return [=](auto& t) { t.Seed(kHKLM, kTypesKey, values); };
}
Step Usage(DWORD cb, DWORD value) {
  return [=](auto& t) { t.SeedUsageCount(cb, value); };
}
Step OtherCopy(const std::wstring& path, std::optional<uint64_t> version) {
  return [=](auto& t) { t.SeedOtherCopy(path.c_str(), version); };
}
Step Fail(RegistryOperation op, RegistryRoot root, const std::wstring& key) {
  return [=](auto& t) {
    t.SeedMediaPlayer();
    t.m_Registry.Fail(op, root, key, kAccessDenied);
  };
}
const std::wstring kOther = L"D:\\Old\\OXFLVDmxx.dll";
const std::wstring kGone = L"D:\\Gone\\OXFLVDmxx.dll";
const std::wstring kLong(300, L'x');
const std::wstring kLongFlv = kLong + L".flv";
#define OTHER_PATH COMPONENT "InprocServer32\\[]=sz:D:\\Old\\OXFLVDmxx.dll"
#define OWN_PATH COMPONENT "InprocServer32\\[]=sz:C:\\Filters\\OXFLVDmxx.dll"

const Scenario kScenarios[] = {
    // Usage count: the content key goes with the last use; odd stored counts.
    {"UnregisterOfTwoKeepsContent", "RRU", S_OK,
     "+" CONTENT "[Usage Count]=dword:1|+" CONTENT "[0]=sz:" CHECK_BYTES "|-" COMPONENT
     "|-" EXTENSION "|-HKCR\\.flv\\|-HKLM\\" SETTINGS "\\|-HKCU\\" SETTINGS "\\",
     [](auto& t) {
       for (auto root : {kHKLM, RegistryRoot::kCurrentUser})
         t.Seed(root, L"" SETTINGS L"\\Sub", {});
     }},
    {"CountOfWrongSizeIsOneUse", "U", S_OK, "-" CONTENT, Usage(2, 0)},
    {"LargestCountStays", "R", S_OK, "+" CONTENT "[Usage Count]=dword:4294967295",
     Usage(4, 0xFFFFFFFF)},
    // Check bytes: the first free slot unless present; a number or a gap ends the search.
    {"CheckBytesAlreadyInSlotOne", "R", S_OK, "+" CONTENT "[1]=sz:" CHECK_BYTES "|-" CONTENT "[2]",
     Content({{L"0", L"x"}, {L"1", L"" CHECK_BYTES}})},
    {"NumberEndsTheSearch", "R", S_OK, "+" CONTENT "[1]=sz:" CHECK_BYTES "|-" CONTENT "[3]",
     Content({{L"0", L"x"}, {L"1", nullptr}, {L"2", L"" CHECK_BYTES}})},
    {"GapEndsTheSearch", "R", S_OK, "+" CONTENT "[1]=sz:" CHECK_BYTES,
     Content({{L"0", L"x"}, {L"2", L"" CHECK_BYTES}})},
    // Media player lists: only where the keys exist, once, after the last number.
    {"NoMediaPlayerKeys", "R", S_OK, "-HKLM\\|+" EXTENSION "|+" SHELL},
    {"EmptyPlayerLists", "R", S_OK,
     "+" PLAYER "Types\\[1]=sz:*.flv|+" PLAYER "Descriptions\\[1]=sz:Flash Video (*.flv)|+" PLAYER
     "MUIDescriptions\\[1]=sz:Flash Video Format|-" WMPLAYER,
     [](auto& t) {
       for (auto l : {L"Types", L"Descriptions", L"MUIDescriptions"})
         t.Seed(kHKLM, kPlayerKey + l, {});
     }},
    {"NumberAfterHighest", "R", S_OK, "+" PLAYER "Types\\[13]=sz:*.flv|-" PLAYER "Descriptions",
     Types({{L"7", L"*.a"}, {L"12", L"*.b"}, {L"3", L"*.c"}})},
    // As the platform lists them, by name: "9" comes last but "12" is the highest.
    {"NameOrderedListOfTwelve", "R", S_OK,
     "+" PLAYER "Types\\[13]=sz:*.flv|+" PLAYER "Types\\[10]=sz:*.j",
     Types({{L"1", L"*.a"},
            {L"10", L"*.j"},
            {L"11", L"*.k"},
            {L"12", L"*.l"},
            {L"2", L"*.b"},
            {L"9", L"*.i"}})},
    {"AlreadyListedInOtherText", "R", S_OK, "-" PLAYER "Types\\[2]",
     Types({{L"1", L"*.f4v;*.flv"}})},
    {"OverlongEntriesLeftOut", "R", S_OK, "+" PLAYER "Types\\[6]=sz:*.flv",
     Types({{L"5", L"*.a"}, {L"9", kLongFlv.c_str()}, {kLong, L".flv"}})},
    // Another copy registered first: a newer one at an existing path keeps the registration.
    {"NewerCopyElsewhereKept", "R", S_OK, "+" OTHER_PATH "|+" CONTENT "[Usage Count]=dword:1",
     OtherCopy(kOther, kOwnVersion + 1)},
    {"NewerAboveTheSignBitKept", "R", S_OK, "+" OTHER_PATH, OtherCopy(kOther, 1ull << 63)},
    {"EqualCopyElsewhereReplaced", "R", S_OK, "+" OWN_PATH "|+" CONTENT "[Usage Count]=dword:2",
     OtherCopy(kOther, kOwnVersion)},
    {"UnreadableOwnVersionReplaces", "R", S_OK, "+" OWN_PATH,
     [](auto& t) {
       t.SeedOtherCopy(kOther.c_str(), kOwnVersion + 1);
       t.m_Host.AddFile(t.m_Host.m_strModulePath, std::nullopt);
     }},
    {"RegisteredFileMissingReplaced", "R", S_OK, "+" OWN_PATH, OtherCopy(kGone, 0)},
    {"OtherCopyKeepsItsRegistration", "U", S_OK, "+" OTHER_PATH "|+" CONTENT,
     OtherCopy(kOther, kOwnVersion)},
    // The same file named with another case of a non-ASCII letter is not another copy.
    {"OwnPathInOtherUnicodeCaseIsUnregistered", "U", S_OK, "-" COMPONENT "|-" CONTENT,
     [](auto& t) {
       t.m_Host.m_strModulePath = L"C:\\Filters\\\u00f6ko\\OXFLVDmxx.dll";
       t.SeedOtherCopy(L"C:\\FILTERS\\\u00d6KO\\OXFLVDMXX.DLL", kOwnVersion);
     }},
    // The extension key is shared: only what registration wrote there goes.
    {"OthersExtensionValuesStay", "RU", S_OK,
     "+HKCR\\.flv\\[]=sz:VLC.flv|+HKCR\\.flv\\[Content Type]=sz:video/x-flv"
     "|+HKCR\\.flv\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}\\[]=sz:{x}|-" SHELL,
     [](auto& t) {
       t.Seed(kHKCR, L".flv", {{L"", L"VLC.flv"}, {L"Content Type", L"video/x-flv"}});
       t.Seed(kHKCR, L".flv\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", {{L"", L"{x}"}});
     }},
    {"OthersValueInTheShellSlotKeepsIt", "RU", S_OK, "+" SHELL "[Flags]=sz:1|-" COMPONENT,
     [](auto& t) {
       t.Seed(kHKCR, kShellKey, {{L"Flags", L"1"}});
     }},
    {"MissingOtherCopyIsUnregistered", "U", S_OK, "-" COMPONENT "|-" CONTENT, OtherCopy(kGone, 0)},
    // Own path unreadable: registration fails, unregistration still works.
    {"UnreadableOwnPathFailsRegistration", "R!R", E_OUTOFMEMORY,
     "+" CONTENT "[Usage Count]=dword:1", nullptr,
     [](auto& t) { t.m_Host.m_hrModulePath = E_OUTOFMEMORY; }},
    // The component key goes only once the mapper let go of the filter.
    {"MapperRefusesToUnregister", "R!U", S_OK, "+" COMPONENT "|-" CONTENT, nullptr,
     [](auto& t) { t.m_Host.m_hrUnregister = E_FAIL; }},
    {"NoMapperToUnregister", "R!U", S_OK, "+" COMPONENT "|-" CONTENT, nullptr,
     [](auto& t) { t.m_Host.m_hrCreateV2 = t.m_Host.m_hrCreateV1 = kNotRegistered; }},
    // A failing write ends registration with its result, except for the best-effort entries.
    {"CreateComponentKeyFails", "R", kAccessDenied, "-" CONTENT "|-" SHELL,
     Fail(kOpCreate, kHKCR, kClsidKey)},
    {"SetInprocServerFails", "R", kAccessDenied, "-" CONTENT "|-" SHELL,
     Fail(kOpSet, kHKCR, kInprocKey)},
    {"ShellEntryIsBestEffort", "R", S_OK, "+" SHELL "|+" WMPLAYER ".flv\\[Runtime]=dword:7",
     Fail(kOpSet, kHKCR, kShellKey)},
    {"PlayerListIsBestEffort", "R", S_OK, "+" SHELL "|-" PLAYER "Types\\[3]",
     Fail(kOpSet, kHKLM, kTypesKey)},
};
INSTANTIATE_TEST_SUITE_P(Cases, RegistrationScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

using Calls = std::vector<std::string>;
struct MapperCase {
  const char* name;
  HRESULT hrInit, hrCreateV2, hrCreateV1, hrRegister;
  HRESULT expected;
  Calls calls;  // between CoInitialize and CoFreeUnusedLibraries
  bool bUninitialize;
};

class MapperTest : public RegistrationTest, public ::testing::WithParamInterface<MapperCase> {};

TEST_P(MapperTest, NewerMapperOrOlderFallback) {
  const MapperCase& c = GetParam();
  m_Host.m_hrInit = c.hrInit;
  m_Host.m_hrCreateV2 = c.hrCreateV2;
  m_Host.m_hrCreateV1 = c.hrCreateV1;
  m_Host.m_hrRegister = c.hrRegister;
  m_Host.m_hrUnregister = E_FAIL;  // ignored while registering
  EXPECT_EQ(Register(), c.expected);
  std::vector<std::string> calls = {"CoInitialize"};
  calls.insert(calls.end(), c.calls.begin(), c.calls.end());
  calls.push_back("CoFreeUnusedLibraries");
  if (c.bUninitialize) calls.push_back("CoUninitialize");
  EXPECT_EQ(m_Host.m_Calls, calls);
  EXPECT_EQ(m_Registry.OpenKey(kHKCR, kInprocKey), S_OK) << "component keys come first and stay";
  EXPECT_EQ(m_Registry.OpenKey(kHKCR, kContentKey) == S_OK, SUCCEEDED(c.expected))
      << "a mapper failure ends it";
}

#define REGISTER_FILTER " RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456"
const Calls kV2 = {"create V2", "V2 UnregisterFilter " CLSID_TEXT, "V2" REGISTER_FILTER,
                   "release V2"};
const Calls kV1 = {"create V2",
                   "create V1",
                   "V1 UnregisterFilter " CLSID_TEXT,
                   "V1" REGISTER_FILTER,
                   "V1 RegisterPin " CLSID_TEXT " Input to " NULL_GUID_TEXT " ''",
                   "V1 RegisterPinType " CLSID_TEXT " Input " STREAM_TEXT "/" QFLV_TEXT,
                   "V1 RegisterPin " CLSID_TEXT " Output output many to " NULL_GUID_TEXT " ''",
                   "release V1"};
INSTANTIATE_TEST_SUITE_P(
    Cases, MapperTest,
    ::testing::Values(
        MapperCase{"NewerFileNotFoundTolerated", S_OK, S_OK, S_OK, kFileNotFound, S_OK, kV2, true},
        MapperCase{"NewerFailureReturned", S_FALSE, S_OK, S_OK, E_FAIL, E_FAIL, kV2, true},
        MapperCase{"OlderWhenNewerAbsent", S_OK, kNotRegistered, S_OK, S_OK, S_OK, kV1, true},
        MapperCase{"OlderFailureStopsAtFirstCall", S_OK, kNotRegistered, S_OK, E_ACCESSDENIED,
                   E_ACCESSDENIED,
                   Calls{"create V2", "create V1", "V1 UnregisterFilter " CLSID_TEXT,
                         "V1" REGISTER_FILTER, "release V1"},
                   true},
        MapperCase{"NeitherMapper", S_OK, kNotRegistered, E_NOINTERFACE, S_OK, E_NOINTERFACE,
                   Calls{"create V2", "create V1"}, true},
        MapperCase{"FailedInitIsNotUndone", E_OUTOFMEMORY, S_OK, S_OK, S_OK, S_OK, kV2, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flvdmx

#include "module/registration.h"

#include <gtest/gtest.h>

#include <functional>

#include "module/class_table.h"
#include "registration_fakes.h"

namespace flvdmx {
namespace {

using testing_module::Added;
using testing_module::CFakeRegistrationHost;
using testing_module::CFaultyRegistry;
using testing_module::Dump;
using Lines = std::set<std::string>;

constexpr RegistryRoot kHKCR = RegistryRoot::kClassesRoot;
constexpr RegistryRoot kHKLM = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kNotRegistered = static_cast<HRESULT>(0x80040154u);

// Written out rather than taken from the code, so that a wrong constant shows.
#define CLSID_TEXT "{E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}"
#define STREAM_TEXT "{E436EB83-524F-11CE-9F53-0020AF0BA770}"
#define QFLV_TEXT "{564C4651-0000-0010-8000-00AA00389B71}"
#define ASYNC_READER_TEXT "{E436EBB5-524F-11CE-9F53-0020AF0BA770}"
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
const std::wstring kExtensionKey = L"Media Type\\Extensions\\.flv";
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
  void Seed(RegistryRoot root, const std::wstring& key, std::vector<std::pair<std::wstring, const wchar_t*>> values) {
    ASSERT_EQ(m_Registry.CreateKey(root, key, nullptr), S_OK);
    for (const auto& [name, text] : values)
      ASSERT_EQ(text ? m_Registry.SetString(root, key, name, text) : m_Registry.SetDword(root, key, name, 5), S_OK);
  }
  void SeedUsageCount(DWORD type, DWORD cb, DWORD value) {
    RegistryValue v;
    v.m_dwType = type;
    v.m_cbData = cb;
    v.m_dwNumber = value;
    Seed(kHKCR, kContentKey, {});
    ASSERT_EQ(m_Registry.SetValue(kHKCR, kContentKey, L"Usage Count", v), S_OK);
  }
  // Another copy of the module, registered first from `path`; the file is
  // there with that version unless `version` is 0 (gone).
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

TEST_F(RegistrationTest, RegisterWritesTheFootprintAndUnregisterLeavesOnlyShared) {
  SeedMediaPlayer();
  const Lines before = Dump(m_Registry);
  ASSERT_EQ(Register(), S_OK);
  const Lines registered = Dump(m_Registry);
  EXPECT_EQ(Added(registered, before), Lines{}) << "nothing removed or changed";
  // The parents, the media player entries and WMPlayer's subkey stay.
  const Lines shared = {
      "HKCR\\CLSID\\", "HKCR\\Media Type\\", "HKCR\\Media Type\\" STREAM_TEXT "\\", "HKCR\\Media Type\\Extensions\\",
      PLAYER "Types\\[3]=sz:*.flv", PLAYER "Descriptions\\[3]=sz:Flash Video (*.flv)",
      PLAYER "MUIDescriptions\\[3]=sz:Flash Video Format",
      WMPLAYER ".flv\\", WMPLAYER ".flv\\[Runtime]=dword:7", WMPLAYER ".flv\\[Permissions]=dword:15"};
  Lines expected = {
      COMPONENT, COMPONENT "[]=sz:Orvex FLV Demultiplexer", COMPONENT "InprocServer32\\",
      COMPONENT "InprocServer32\\[]=sz:C:\\Filters\\OXFLVDmxx.dll", COMPONENT "InprocServer32\\[ThreadingModel]=sz:Both",
      CONTENT, CONTENT "[Usage Count]=dword:1", CONTENT "[Source Filter]=sz:" ASYNC_READER_TEXT,
      CONTENT "[0]=sz:" CHECK_BYTES,
      EXTENSION, EXTENSION "[Source Filter]=sz:" ASYNC_READER_TEXT, EXTENSION "[Media Type]=sz:" STREAM_TEXT,
      EXTENSION "[Subtype]=sz:" QFLV_TEXT,
      "HKCR\\.flv\\", "HKCR\\.flv\\ShellEx\\", SHELL, SHELL "[]=sz:{c5a40261-cd64-4ccf-84cb-c394da41d590}"};
  expected.insert(shared.begin(), shared.end());
  EXPECT_EQ(Added(before, registered), expected);

  ASSERT_EQ(Unregister(), S_OK);
  EXPECT_EQ(Added(before, Dump(m_Registry)), shared);
}

// A scenario: a seeded registry, then a series of calls ('R' register, 'U'
// unregister, '!' the tweak); every call but the last succeeds. Afterwards
// each "+line" is in the dump and no dump line starts with a "-prefix".
struct Scenario {
  const char* name;
  std::function<void(RegistrationTest&)> seed;
  const char* calls;
  HRESULT hrLast;
  std::vector<std::string> expect;
  std::function<void(RegistrationTest&)> tweak = nullptr;
};

class RegistrationScenarioTest : public RegistrationTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(RegistrationScenarioTest, RegistryAfterwards) {
  const Scenario& s = GetParam();
  if (s.seed) s.seed(*this);
  for (const char* p = s.calls; *p; ++p) {
    const HRESULT hr = *p == 'R' ? Register() : *p == 'U' ? Unregister() : (s.tweak(*this), S_OK);
    ASSERT_EQ(hr, p[1] ? S_OK : s.hrLast) << "call " << (p - s.calls);
  }
  const Lines dump = Dump(m_Registry);
  for (const std::string& e : s.expect) {
    const std::string text = e.substr(1);
    if (e[0] == '+') {
      EXPECT_EQ(dump.count(text), 1u) << "missing " << text;
    } else {
      for (const std::string& line : dump) EXPECT_NE(line.rfind(text, 0), 0u) << "present: " << line;
    }
  }
}

void Seed(RegistrationTest& t, std::vector<std::pair<std::wstring, const wchar_t*>> content) {
  t.Seed(kHKCR, kContentKey, std::move(content));
}
void Types(RegistrationTest& t, std::vector<std::pair<std::wstring, const wchar_t*>> types) {
  t.Seed(kHKLM, kTypesKey, std::move(types));
}
void Fail(RegistrationTest& t, testing_module::RegistryOperation op, RegistryRoot root, const std::wstring& key) {
  t.SeedMediaPlayer();
  t.m_Registry.Fail(op, root, key, kAccessDenied);
}
const std::wstring kOther = L"D:\\Old\\OXFLVDmxx.dll";
const std::wstring kLong(300, L'x');
#define OTHER_PATH COMPONENT "InprocServer32\\[]=sz:D:\\Old\\OXFLVDmxx.dll"
#define OWN_PATH COMPONENT "InprocServer32\\[]=sz:C:\\Filters\\OXFLVDmxx.dll"

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistrationScenarioTest,
    ::testing::Values(
        // Usage count: kept across registrations, the content key goes with the last use.
        Scenario{"TwiceCountsTwo", nullptr, "RR", S_OK, {"+" CONTENT "[Usage Count]=dword:2", "-" CONTENT "[1]"}},
        Scenario{"UnregisterOfTwoKeepsContent",
                 [](auto& t) { for (auto root : {kHKLM, kHKCU}) t.Seed(root, L"" SETTINGS L"\\Sub", {}); }, "RRU",
                 S_OK, {"+" CONTENT "[Usage Count]=dword:1", "+" CONTENT "[0]=sz:" CHECK_BYTES, "-" COMPONENT,
                        "-" EXTENSION, "-HKCR\\.flv\\", "-HKLM\\" SETTINGS "\\", "-HKCU\\" SETTINGS "\\"}},
        Scenario{"StoredCountRaised", [](auto& t) { t.SeedUsageCount(kRegTypeDword, 4, 3); }, "R", S_OK,
                 {"+" CONTENT "[Usage Count]=dword:4"}},
        Scenario{"CountOfWrongSizeIsOneUse", [](auto& t) { t.SeedUsageCount(kRegTypeDword, 2, 0); }, "U", S_OK,
                 {"-" CONTENT}},
        Scenario{"LargestCountStays", [](auto& t) { t.SeedUsageCount(kRegTypeDword, 4, 0xFFFFFFFF); }, "R", S_OK,
                 {"+" CONTENT "[Usage Count]=dword:4294967295"}},
        // Check bytes: the first free slot unless present; a number or a gap ends the search.
        Scenario{"CheckBytesAlreadyInSlotOne", [](auto& t) { Seed(t, {{L"0", L"x"}, {L"1", L"" CHECK_BYTES}}); }, "R",
                 S_OK, {"+" CONTENT "[1]=sz:" CHECK_BYTES, "-" CONTENT "[2]"}},
        Scenario{"NumberEndsTheSearch", [](auto& t) { Seed(t, {{L"0", L"x"}, {L"1", nullptr}, {L"2", L"" CHECK_BYTES}}); },
                 "R", S_OK, {"+" CONTENT "[1]=sz:" CHECK_BYTES, "-" CONTENT "[3]"}},
        Scenario{"GapEndsTheSearch", [](auto& t) { Seed(t, {{L"0", L"x"}, {L"2", L"" CHECK_BYTES}}); }, "R", S_OK,
                 {"+" CONTENT "[1]=sz:" CHECK_BYTES}},
        // Media player lists: only where the keys exist, once, after the last number.
        Scenario{"NoMediaPlayerKeys", nullptr, "R", S_OK, {"-HKLM\\", "+" EXTENSION, "+" SHELL}},
        Scenario{"EmptyPlayerLists",
                 [](auto& t) { for (auto l : {L"Types", L"Descriptions", L"MUIDescriptions"}) t.Seed(kHKLM, kPlayerKey + l, {}); },
                 "R", S_OK, {"+" PLAYER "Types\\[1]=sz:*.flv", "+" PLAYER "Descriptions\\[1]=sz:Flash Video (*.flv)",
                             "+" PLAYER "MUIDescriptions\\[1]=sz:Flash Video Format", "-" WMPLAYER}},
        Scenario{"NumberAfterLastEnumerated", [](auto& t) { Types(t, {{L"7", L"*.a"}, {L"12", L"*.b"}, {L"3", L"*.c"}}); },
                 "R", S_OK, {"+" PLAYER "Types\\[4]=sz:*.flv", "-" PLAYER "Descriptions"}},
        Scenario{"AlreadyListedInOtherText", [](auto& t) { Types(t, {{L"1", L"*.f4v;*.flv"}}); }, "R", S_OK,
                 {"-" PLAYER "Types\\[2]"}},
        Scenario{"OverlongEntriesLeftOut",
                 [](auto& t) { Types(t, {{L"5", L"*.a"}, {L"9", (kLong + L".flv").c_str()}, {kLong, L".flv"}}); }, "R",
                 S_OK, {"+" PLAYER "Types\\[6]=sz:*.flv"}},
        // Another copy registered first: a newer one at an existing path keeps the registration.
        Scenario{"NewerCopyElsewhereKept", [](auto& t) { t.SeedOtherCopy(kOther.c_str(), kOwnVersion + 1); }, "R", S_OK,
                 {"+" OTHER_PATH, "+" CONTENT "[Usage Count]=dword:1"}},
        Scenario{"NewerAboveTheSignBitKept", [](auto& t) { t.SeedOtherCopy(kOther.c_str(), 1ull << 63); }, "R", S_OK,
                 {"+" OTHER_PATH}},
        Scenario{"EqualCopyElsewhereReplaced", [](auto& t) { t.SeedOtherCopy(kOther.c_str(), kOwnVersion); }, "R", S_OK,
                 {"+" OWN_PATH, "+" CONTENT "[Usage Count]=dword:2"}},
        Scenario{"UnreadableOwnVersionReplaces",
                 [](auto& t) { t.SeedOtherCopy(kOther.c_str(), kOwnVersion + 1); t.m_Host.AddFile(t.m_Host.m_strModulePath, std::nullopt); },
                 "R", S_OK, {"+" OWN_PATH}},
        Scenario{"RegisteredFileMissingReplaced", [](auto& t) { t.SeedOtherCopy(L"D:\\Gone\\OXFLVDmxx.dll", 0); }, "R",
                 S_OK, {"+" OWN_PATH}},
        Scenario{"OtherCopyKeepsItsRegistration", [](auto& t) { t.SeedOtherCopy(kOther.c_str(), kOwnVersion); }, "U",
                 S_OK, {"+" OTHER_PATH, "+" CONTENT}},
        Scenario{"MissingOtherCopyIsUnregistered", [](auto& t) { t.SeedOtherCopy(L"D:\\Gone\\OXFLVDmxx.dll", 0); }, "U",
                 S_OK, {"-" COMPONENT, "-" CONTENT}},
        // Own path unreadable: registration fails, unregistration still works.
        Scenario{"UnreadableOwnPathFailsRegistration", nullptr, "R!R", E_OUTOFMEMORY,
                 {"+" CONTENT "[Usage Count]=dword:1"}, [](auto& t) { t.m_Host.m_hrModulePath = E_OUTOFMEMORY; }},
        // The component key goes only once the mapper let go of the filter.
        Scenario{"MapperRefusesToUnregister", nullptr, "R!U", S_OK, {"+" COMPONENT, "-" CONTENT},
                 [](auto& t) { t.m_Host.m_hrUnregister = E_FAIL; }},
        Scenario{"NoMapperToUnregister", nullptr, "R!U", S_OK, {"+" COMPONENT, "-" CONTENT},
                 [](auto& t) { t.m_Host.m_hrCreateV2 = t.m_Host.m_hrCreateV1 = kNotRegistered; }},
        // A failing write ends registration with its result, except for the best-effort entries.
        Scenario{"CreateComponentKeyFails", [](auto& t) { Fail(t, testing_module::kOpCreate, kHKCR, kClsidKey); }, "R",
                 kAccessDenied, {"-" CONTENT, "-" SHELL}},
        Scenario{"SetInprocServerFails", [](auto& t) { Fail(t, testing_module::kOpSet, kHKCR, kInprocKey); }, "R",
                 kAccessDenied, {"-" CONTENT, "-" SHELL}},
        Scenario{"CreateExtensionKeyFails", [](auto& t) { Fail(t, testing_module::kOpCreate, kHKCR, kExtensionKey); },
                 "R", kAccessDenied, {"-" SHELL}},
        Scenario{"ShellEntryIsBestEffort", [](auto& t) { Fail(t, testing_module::kOpSet, kHKCR, kShellKey); }, "R", S_OK,
                 {"+" SHELL, "+" WMPLAYER ".flv\\[Runtime]=dword:7"}},
        Scenario{"PlayerListIsBestEffort", [](auto& t) { Fail(t, testing_module::kOpSet, kHKLM, kTypesKey); }, "R", S_OK,
                 {"+" SHELL, "-" PLAYER "Types\\[3]"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct MapperCase {
  const char* name;
  HRESULT hrInit, hrCreateV2, hrCreateV1, hrRegister;
  HRESULT expected;
  std::vector<std::string> calls;  // between CoInitialize and CoFreeUnusedLibraries
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
  EXPECT_EQ(m_Registry.OpenKey(kHKCR, kContentKey) == S_OK, SUCCEEDED(c.expected)) << "a mapper failure ends it";
}

#define V1_REGISTER "V1 RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456"
const std::vector<std::string> kV2 = {
    "create V2", "V2 UnregisterFilter " CLSID_TEXT,
    "V2 RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456 [Input to " NULL_GUID_TEXT " '' " STREAM_TEXT
    "/" QFLV_TEXT "] [Output output many to " NULL_GUID_TEXT " '']",
    "release V2"};
const std::vector<std::string> kV1 = {
    "create V2", "create V1", "V1 UnregisterFilter " CLSID_TEXT, V1_REGISTER,
    "V1 RegisterPin " CLSID_TEXT " Input to " NULL_GUID_TEXT " ''",
    "V1 RegisterPinType " CLSID_TEXT " Input " STREAM_TEXT "/" QFLV_TEXT,
    "V1 RegisterPin " CLSID_TEXT " Output output many to " NULL_GUID_TEXT " ''", "release V1"};
INSTANTIATE_TEST_SUITE_P(
    Cases, MapperTest,
    ::testing::Values(
        MapperCase{"NewerFileNotFoundTolerated", S_OK, S_OK, S_OK, kFileNotFound, S_OK, kV2, true},
        MapperCase{"NewerFailureReturned", S_FALSE, S_OK, S_OK, E_FAIL, E_FAIL, kV2, true},
        MapperCase{"OlderWhenNewerAbsent", S_OK, kNotRegistered, S_OK, S_OK, S_OK, kV1, true},
        MapperCase{"OlderFailureStopsAtFirstCall", S_OK, kNotRegistered, S_OK, E_ACCESSDENIED, E_ACCESSDENIED,
                   {"create V2", "create V1", "V1 UnregisterFilter " CLSID_TEXT, V1_REGISTER, "release V1"}, true},
        MapperCase{"NeitherMapper", S_OK, kNotRegistered, E_NOINTERFACE, S_OK, E_NOINTERFACE,
                   {"create V2", "create V1"}, true},
        MapperCase{"FailedInitIsNotUndone", E_OUTOFMEMORY, S_OK, S_OK, S_OK, S_OK, kV2, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, DeleteKeyTreeRemovesTheSubtreeAndStopsAtTheFirstFailure) {
  struct Case {
    const char* what;
    testing_module::RegistryOperation op;
    const wchar_t* faultKey;
    const wchar_t* key;
    HRESULT expected;
    Lines left;
  } cases[] = {
      {"whole tree", testing_module::kOpDelete, L"none", L"t", S_OK, {"HKCR\\Sibling\\"}},
      {"missing key is gone", testing_module::kOpDelete, L"none", L"Missing\\Key", S_OK, {}},
      {"empty name refused", testing_module::kOpDelete, L"none", L"", E_FAIL, {}},
      // Later subkeys are not reached.
      {"subkey failure", testing_module::kOpDelete, L"T\\a\\y\\deep", L"T", kAccessDenied,
       {"HKCR\\T\\a\\y\\deep\\", "HKCR\\T\\b\\"}},
      // A subkey that cannot be opened does not make it loop forever.
      {"unopenable subkey", testing_module::kOpOpen, L"T\\a", L"T", kAccessDenied, {"HKCR\\T\\a\\x\\"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CFaultyRegistry registry;
    for (const wchar_t* key : {L"T\\a\\x", L"T\\a\\y\\deep", L"T\\b", L"Sibling"})
      ASSERT_EQ(registry.CreateKey(kHKCR, key, nullptr), S_OK);
    ASSERT_EQ(registry.SetString(kHKCR, L"T\\a\\y", L"v", L"text"), S_OK);
    const Lines before = Dump(registry);
    registry.Fail(c.op, kHKCR, c.faultKey, kAccessDenied);
    EXPECT_EQ(DeleteKeyTree(registry, kHKCR, c.key), c.expected);
    const Lines after = Dump(registry);
    for (const std::string& line : c.left) EXPECT_EQ(after.count(line), 1u) << line;
    if (c.left.empty()) {
      EXPECT_EQ(after, before);
    } else if (c.expected == S_OK) {
      EXPECT_EQ(after, c.left);
    }
  }
}

}  // namespace
}  // namespace flvdmx

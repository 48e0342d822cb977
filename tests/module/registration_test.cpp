#include "module/registration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "module/class_table.h"
#include "registration_fakes.h"

namespace flvdmx {
namespace {

using testing_module::Added;
using testing_module::CFakeRegistrationHost;
using testing_module::CFaultyRegistry;
using testing_module::Dump;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Lines = std::set<std::string>;

constexpr RegistryRoot kHKCR = RegistryRoot::kClassesRoot;
constexpr RegistryRoot kHKLM = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);

// Written out here rather than taken from the code, so that a wrong constant
// shows.
#define CLSID_TEXT "{E2B7DF43-38C5-11D5-91F6-00104BDB8FF9}"
#define STREAM_TEXT "{E436EB83-524F-11CE-9F53-0020AF0BA770}"
#define QFLV_TEXT "{564C4651-0000-0010-8000-00AA00389B71}"
#define ASYNC_READER_TEXT "{E436EBB5-524F-11CE-9F53-0020AF0BA770}"
#define NULL_GUID_TEXT "{00000000-0000-0000-0000-000000000000}"
#define CONTENT "HKCR\\Media Type\\" STREAM_TEXT "\\" QFLV_TEXT "\\"
#define PLAYER "HKLM\\SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\"
#define WMPLAYER "HKLM\\SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions\\"

const std::wstring kClsidKey = L"CLSID\\" CLSID_TEXT;
const std::wstring kInprocKey = kClsidKey + L"\\InprocServer32";
const std::wstring kContentKey = L"Media Type\\" STREAM_TEXT L"\\" QFLV_TEXT;
const std::wstring kExtensionKey = L"Media Type\\Extensions\\.flv";
const std::wstring kShellKey = L".flv\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}";
const std::wstring kTypesKey = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
const std::wstring kDescriptionsKey = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
const std::wstring kMuiDescriptionsKey = L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\MUIDescriptions";
const std::wstring kWmPlayerKey = L"SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions";
const std::wstring kSettingsKey = L"SOFTWARE\\Orvex Technologies, Inc.\\DShow\\Filters\\OXFLVDmx";

const char kV2Register[] = "V2 RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456"
                           " [Input to " NULL_GUID_TEXT " '' " STREAM_TEXT "/" QFLV_TEXT "]"
                           " [Output output many to " NULL_GUID_TEXT " '']";

class RegistrationTest : public ::testing::Test {
 protected:
  // A machine with the media player: two list entries and WMPlayer's key.
  void SeedMediaPlayer() {
    for (const auto& key : {kTypesKey, kDescriptionsKey, kMuiDescriptionsKey, kWmPlayerKey})
      ASSERT_EQ(m_Store.CreateKey(kHKLM, key, nullptr), S_OK);
    for (const auto& [name, type, description] :
         {std::tuple{L"1", L"*.wmv", L"Windows Media Video"}, std::tuple{L"2", L"*.asf", L"Advanced Systems"}}) {
      ASSERT_EQ(m_Store.SetString(kHKLM, kTypesKey, name, type), S_OK);
      ASSERT_EQ(m_Store.SetString(kHKLM, kDescriptionsKey, name, description), S_OK);
      ASSERT_EQ(m_Store.SetString(kHKLM, kMuiDescriptionsKey, name, description), S_OK);
    }
  }

  HRESULT Register() { return RegisterModule(m_Host, m_Registry, GetModuleClassTable()); }
  HRESULT Unregister() { return UnregisterModule(m_Host, m_Registry, GetModuleClassTable()); }

  bool KeyExists(RegistryRoot root, const std::wstring& path) { return m_Store.OpenKey(root, path) == S_OK; }
  std::wstring StringValue(RegistryRoot root, const std::wstring& path, const std::wstring& name) {
    RegistryValue value;
    if (m_Store.QueryValue(root, path, name, &value) != S_OK || !value.IsString()) return L"<none>";
    return value.m_strText;
  }
  DWORD UsageCount() {
    RegistryValue value;
    if (m_Store.QueryValue(kHKCR, kContentKey, L"Usage Count", &value) != S_OK || !value.IsDword()) return 0;
    return value.m_dwNumber;
  }

  CFaultyRegistry m_Registry;
  CMemoryRegistry& m_Store = m_Registry.m_Store;
  CFakeRegistrationHost m_Host;
};

TEST_F(RegistrationTest, RegisterWritesTheWholeFootprint) {
  SeedMediaPlayer();
  const Lines before = Dump(m_Store);

  ASSERT_EQ(Register(), S_OK);

  const Lines after = Dump(m_Store);
  EXPECT_THAT(Added(after, before), IsEmpty()) << "nothing removed or changed";
  EXPECT_EQ(Added(before, after), (Lines{
      "HKCR\\CLSID\\",
      "HKCR\\CLSID\\" CLSID_TEXT "\\",
      "HKCR\\CLSID\\" CLSID_TEXT "\\[]=sz:Orvex FLV Demultiplexer",
      "HKCR\\CLSID\\" CLSID_TEXT "\\InprocServer32\\",
      "HKCR\\CLSID\\" CLSID_TEXT "\\InprocServer32\\[]=sz:C:\\Filters\\OXFLVDmxx.dll",
      "HKCR\\CLSID\\" CLSID_TEXT "\\InprocServer32\\[ThreadingModel]=sz:Both",
      "HKCR\\Media Type\\",
      "HKCR\\Media Type\\" STREAM_TEXT "\\",
      CONTENT,
      CONTENT "[Usage Count]=dword:1",
      CONTENT "[Source Filter]=sz:" ASYNC_READER_TEXT,
      CONTENT "[0]=sz:0,3,,464c56",
      "HKCR\\Media Type\\Extensions\\",
      "HKCR\\Media Type\\Extensions\\.flv\\",
      "HKCR\\Media Type\\Extensions\\.flv\\[Source Filter]=sz:" ASYNC_READER_TEXT,
      "HKCR\\Media Type\\Extensions\\.flv\\[Media Type]=sz:" STREAM_TEXT,
      "HKCR\\Media Type\\Extensions\\.flv\\[Subtype]=sz:" QFLV_TEXT,
      "HKCR\\.flv\\",
      "HKCR\\.flv\\ShellEx\\",
      "HKCR\\.flv\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}\\",
      "HKCR\\.flv\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}\\[]=sz:{c5a40261-cd64-4ccf-84cb-c394da41d590}",
      PLAYER "Types\\[3]=sz:*.flv",
      PLAYER "Descriptions\\[3]=sz:Flash Video (*.flv)",
      PLAYER "MUIDescriptions\\[3]=sz:Flash Video Format",
      WMPLAYER ".flv\\",
      WMPLAYER ".flv\\[Runtime]=dword:7",
      WMPLAYER ".flv\\[Permissions]=dword:15",
  }));
  EXPECT_THAT(m_Host.m_Calls, ElementsAre("CoInitialize", "create V2", "V2 UnregisterFilter " CLSID_TEXT,
                                          kV2Register, "release V2", "CoFreeUnusedLibraries", "CoUninitialize"));
}

TEST_F(RegistrationTest, RegisteringTwiceOnlyRaisesTheUsageCount) {
  SeedMediaPlayer();
  ASSERT_EQ(Register(), S_OK);
  const Lines once = Dump(m_Store);
  ASSERT_EQ(Register(), S_OK);
  const Lines twice = Dump(m_Store);
  EXPECT_EQ(Added(once, twice), Lines{CONTENT "[Usage Count]=dword:2"});
  EXPECT_EQ(Added(twice, once), Lines{CONTENT "[Usage Count]=dword:1"});
}

TEST_F(RegistrationTest, UnregisterKeepsContentKeyUntilTheLastUse) {
  SeedMediaPlayer();
  const Lines seeded = Dump(m_Store);
  ASSERT_EQ(Register(), S_OK);
  ASSERT_EQ(Register(), S_OK);
  for (RegistryRoot root : {kHKLM, kHKCU}) {
    ASSERT_EQ(m_Store.CreateKey(root, kSettingsKey + L"\\Sub", nullptr), S_OK);
    ASSERT_EQ(m_Store.SetDword(root, kSettingsKey, L"x", 1), S_OK);
  }

  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_EQ(UsageCount(), 1u);
  EXPECT_EQ(StringValue(kHKCR, kContentKey, L"0"), L"0,3,,464c56");
  for (const auto& [root, key] : {std::pair{kHKCR, kClsidKey}, std::pair{kHKCR, kExtensionKey},
                                  std::pair{kHKCR, std::wstring(L".flv")}, std::pair{kHKLM, kSettingsKey},
                                  std::pair{kHKCU, kSettingsKey}})
    EXPECT_FALSE(KeyExists(root, key)) << testing_module::Narrow(key);

  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_FALSE(KeyExists(kHKCR, kContentKey));
  // What stays: the parents we created, the media player entries and the
  // WMPlayer subkey.
  EXPECT_EQ(Added(seeded, Dump(m_Store)), (Lines{
      "HKCR\\CLSID\\",
      "HKCR\\Media Type\\",
      "HKCR\\Media Type\\" STREAM_TEXT "\\",
      "HKCR\\Media Type\\Extensions\\",
      "HKLM\\SOFTWARE\\Orvex Technologies, Inc.\\",
      "HKLM\\SOFTWARE\\Orvex Technologies, Inc.\\DShow\\",
      "HKLM\\SOFTWARE\\Orvex Technologies, Inc.\\DShow\\Filters\\",
      "HKCU\\SOFTWARE\\",
      "HKCU\\SOFTWARE\\Orvex Technologies, Inc.\\",
      "HKCU\\SOFTWARE\\Orvex Technologies, Inc.\\DShow\\",
      "HKCU\\SOFTWARE\\Orvex Technologies, Inc.\\DShow\\Filters\\",
      PLAYER "Types\\[3]=sz:*.flv",
      PLAYER "Descriptions\\[3]=sz:Flash Video (*.flv)",
      PLAYER "MUIDescriptions\\[3]=sz:Flash Video Format",
      WMPLAYER ".flv\\",
      WMPLAYER ".flv\\[Runtime]=dword:7",
      WMPLAYER ".flv\\[Permissions]=dword:15",
  }));
}

// Another copy of the module registered first, at kOtherPath.
struct OtherCopyCase {
  const char* name;
  const wchar_t* registeredPath;
  bool bExists;
  std::optional<uint64_t> otherVersion;
  std::optional<uint64_t> ownVersion;
  bool bRegisterWrites;
  bool bUnregisterRemoves;
};

class OtherCopyTest : public RegistrationTest, public ::testing::WithParamInterface<OtherCopyCase> {};

TEST_P(OtherCopyTest, VersionAndOwnershipRules) {
  const OtherCopyCase& c = GetParam();
  CFakeRegistrationHost other;
  other.m_strModulePath = c.registeredPath;
  ASSERT_EQ(RegisterModule(other, m_Registry, GetModuleClassTable()), S_OK);
  const Lines seeded = Dump(m_Store);
  m_Host.AddFile(m_Host.m_strModulePath, c.ownVersion);
  if (c.bExists) m_Host.AddFile(c.registeredPath, c.otherVersion);

  ASSERT_EQ(Register(), S_OK);
  if (c.bRegisterWrites) {
    EXPECT_EQ(StringValue(kHKCR, kInprocKey, L""), m_Host.m_strModulePath);
    EXPECT_EQ(UsageCount(), 2u);
  } else {
    EXPECT_EQ(Dump(m_Store), seeded);
    EXPECT_THAT(m_Host.m_Calls, IsEmpty());
  }

  CFaultyRegistry fresh;
  ASSERT_EQ(RegisterModule(other, fresh, GetModuleClassTable()), S_OK);
  const Lines freshSeeded = Dump(fresh);
  ASSERT_EQ(UnregisterModule(m_Host, fresh, GetModuleClassTable()), S_OK);
  if (c.bUnregisterRemoves) {
    EXPECT_NE(fresh.OpenKey(kHKCR, kClsidKey), S_OK);
    EXPECT_NE(fresh.OpenKey(kHKCR, kContentKey), S_OK);
  } else {
    EXPECT_EQ(Dump(fresh), freshSeeded);
  }
}

constexpr uint64_t kOwn = 0x0001000200030004ull;  // 1.2.3.4
INSTANTIATE_TEST_SUITE_P(
    Cases, OtherCopyTest,
    ::testing::Values(
        OtherCopyCase{"NewerElsewhere", L"D:\\Old\\OXFLVDmxx.dll", true, 0x0002000000000000ull, kOwn, false, false},
        OtherCopyCase{"NewerInLowHalf", L"D:\\Old\\OXFLVDmxx.dll", true, kOwn + 1, kOwn, false, false},
        OtherCopyCase{"NewerAboveSignBit", L"D:\\Old\\OXFLVDmxx.dll", true, 0x8000000000000000ull, kOwn, false, false},
        OtherCopyCase{"EqualElsewhere", L"D:\\Old\\OXFLVDmxx.dll", true, kOwn, kOwn, true, false},
        OtherCopyCase{"OlderElsewhere", L"D:\\Old\\OXFLVDmxx.dll", true, kOwn - 1, kOwn, true, false},
        OtherCopyCase{"OtherVersionUnreadable", L"D:\\Old\\OXFLVDmxx.dll", true, std::nullopt, kOwn, true, false},
        OtherCopyCase{"OwnVersionUnreadable", L"D:\\Old\\OXFLVDmxx.dll", true, kOwn + 1, std::nullopt, true, false},
        OtherCopyCase{"RegisteredFileMissing", L"D:\\Gone\\OXFLVDmxx.dll", false, std::nullopt, kOwn, true, true},
        OtherCopyCase{"SameFileOtherCase", L"c:\\filters\\oxflvdmxx.DLL", true, kOwn + 1, kOwn, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, UnreadableOwnPathFailsRegistrationButNotUnregistration) {
  ASSERT_EQ(Register(), S_OK);
  m_Host.m_hrModulePath = E_OUTOFMEMORY;
  EXPECT_EQ(Register(), E_OUTOFMEMORY);
  EXPECT_EQ(UsageCount(), 1u);
  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_FALSE(KeyExists(kHKCR, kClsidKey));
  EXPECT_FALSE(KeyExists(kHKCR, kContentKey));
}

struct CheckBytesCase {
  const char* name;
  std::vector<std::pair<const wchar_t*, const wchar_t*>> seeded;  // null text: a number
  std::vector<std::wstring> expectedSlots;                         // "0", "1", ... afterwards
};

class CheckBytesTest : public RegistrationTest, public ::testing::WithParamInterface<CheckBytesCase> {};

TEST_P(CheckBytesTest, TextGoesToTheFirstFreeSlotUnlessPresent) {
  ASSERT_EQ(m_Store.CreateKey(kHKCR, kContentKey, nullptr), S_OK);
  for (const auto& [name, text] : GetParam().seeded) {
    if (text) {
      ASSERT_EQ(m_Store.SetString(kHKCR, kContentKey, name, text), S_OK);
    } else {
      ASSERT_EQ(m_Store.SetDword(kHKCR, kContentKey, name, 5), S_OK);
    }
  }
  ASSERT_EQ(Register(), S_OK);
  std::vector<std::wstring> slots;
  for (const wchar_t* name : {L"0", L"1", L"2", L"3"}) slots.push_back(StringValue(kHKCR, kContentKey, name));
  EXPECT_EQ(slots, GetParam().expectedSlots);
}

const wchar_t kCheck[] = L"0,3,,464c56";
INSTANTIATE_TEST_SUITE_P(
    Cases, CheckBytesTest,
    ::testing::Values(
        CheckBytesCase{"Empty", {}, {kCheck, L"<none>", L"<none>", L"<none>"}},
        CheckBytesCase{"TwoOthers", {{L"0", L"0,4,,12345678"}, {L"1", L"8,2,ffff,abcd"}},
                       {L"0,4,,12345678", L"8,2,ffff,abcd", kCheck, L"<none>"}},
        CheckBytesCase{"AlreadyInSecondSlot", {{L"0", L"x"}, {L"1", kCheck}}, {L"x", kCheck, L"<none>", L"<none>"}},
        CheckBytesCase{"NumberStopsTheSearch", {{L"0", L"x"}, {L"1", nullptr}, {L"2", kCheck}},
                       {L"x", kCheck, kCheck, L"<none>"}},
        CheckBytesCase{"GapStopsTheSearch", {{L"0", L"x"}, {L"2", kCheck}}, {L"x", kCheck, kCheck, L"<none>"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct UsageCountCase {
  const char* name;
  std::optional<RegistryValue> stored;  // in an existing content key
  DWORD afterRegister;
  DWORD afterUnregister;  // 0: the key is gone
};

RegistryValue Number(DWORD value) {
  RegistryValue v;
  v.m_dwType = kRegTypeDword;
  v.m_cbData = 4;
  v.m_dwNumber = value;
  return v;
}
RegistryValue Bytes(DWORD type, DWORD size) {
  RegistryValue v;
  v.m_dwType = type;
  v.m_cbData = size;
  return v;
}

class UsageCountTest : public RegistrationTest, public ::testing::WithParamInterface<UsageCountCase> {};

TEST_P(UsageCountTest, StoredCountIsReadAsNumberOrOne) {
  const UsageCountCase& c = GetParam();
  auto seed = [&](CMemoryRegistry& store) {
    ASSERT_EQ(store.CreateKey(kHKCR, kContentKey, nullptr), S_OK);
    if (c.stored) {
      ASSERT_EQ(store.SetValue(kHKCR, kContentKey, L"Usage Count", *c.stored), S_OK);
    }
  };
  seed(m_Store);
  ASSERT_EQ(Register(), S_OK);
  EXPECT_EQ(UsageCount(), c.afterRegister);

  CFaultyRegistry fresh;
  seed(fresh.m_Store);
  ASSERT_EQ(UnregisterModule(m_Host, fresh, GetModuleClassTable()), S_OK);
  RegistryValue value;
  if (c.afterUnregister == 0) {
    EXPECT_NE(fresh.OpenKey(kHKCR, kContentKey), S_OK);
  } else {
    ASSERT_EQ(fresh.QueryValue(kHKCR, kContentKey, L"Usage Count", &value), S_OK);
    EXPECT_EQ(value.m_dwNumber, c.afterUnregister);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageCountTest,
    ::testing::Values(UsageCountCase{"Missing", std::nullopt, 2, 0},
                      UsageCountCase{"Three", Number(3), 4, 2},
                      UsageCountCase{"Zero", Number(0), 1, 0},
                      UsageCountCase{"TwoBytes", Bytes(kRegTypeDword, 2), 2, 0},
                      UsageCountCase{"EightBytes", Bytes(kRegTypeBinary, 8), 2, 0},
                      UsageCountCase{"Largest", Number(0xFFFFFFFFu), 0xFFFFFFFFu, 0xFFFFFFFEu}),
    [](const auto& info) { return std::string(info.param.name); });

struct PlayerListCase {
  const char* name;
  bool bListsExist;
  std::vector<std::pair<std::wstring, std::wstring>> types;  // Types values, in order
  bool bDescriptionsExist;
  bool bWmPlayerExists;
  Lines expectedHklm;  // HKLM lines added
};

class PlayerListTest : public RegistrationTest, public ::testing::WithParamInterface<PlayerListCase> {};

TEST_P(PlayerListTest, ExtensionIsListedOnceWherePlayerKeysExist) {
  const PlayerListCase& c = GetParam();
  if (c.bListsExist) {
    ASSERT_EQ(m_Store.CreateKey(kHKLM, kTypesKey, nullptr), S_OK);
    for (const auto& [name, text] : c.types) ASSERT_EQ(m_Store.SetString(kHKLM, kTypesKey, name, text), S_OK);
  }
  if (c.bDescriptionsExist) {
    ASSERT_EQ(m_Store.CreateKey(kHKLM, kDescriptionsKey, nullptr), S_OK);
    ASSERT_EQ(m_Store.CreateKey(kHKLM, kMuiDescriptionsKey, nullptr), S_OK);
  }
  if (c.bWmPlayerExists) {
    ASSERT_EQ(m_Store.CreateKey(kHKLM, kWmPlayerKey, nullptr), S_OK);
  }
  const Lines before = Dump(m_Store);

  ASSERT_EQ(Register(), S_OK);

  Lines addedHklm;
  for (const auto& line : Added(before, Dump(m_Store)))
    if (line.rfind("HKLM", 0) == 0) addedHklm.insert(line);
  EXPECT_EQ(addedHklm, c.expectedHklm);
  EXPECT_EQ(StringValue(kHKCR, kExtensionKey, L"Source Filter"), L"" ASYNC_READER_TEXT);
  EXPECT_EQ(StringValue(kHKCR, kShellKey, L""), L"{c5a40261-cd64-4ccf-84cb-c394da41d590}");
}

const std::wstring kLongText(300, L'x');
INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerListTest,
    ::testing::Values(
        PlayerListCase{"NoPlayerKeys", false, {}, false, false, {}},
        PlayerListCase{"EmptyLists", true, {}, true, false,
                       {PLAYER "Types\\[1]=sz:*.flv", PLAYER "Descriptions\\[1]=sz:Flash Video (*.flv)",
                        PLAYER "MUIDescriptions\\[1]=sz:Flash Video Format"}},
        PlayerListCase{"NumberAfterLastEnumerated", true, {{L"7", L"*.a"}, {L"12", L"*.b"}, {L"3", L"*.c"}}, false,
                       false, {PLAYER "Types\\[4]=sz:*.flv"}},
        PlayerListCase{"AlreadyListedInsideOtherText", true, {{L"1", L"*.f4v;*.flv"}}, true, true,
                       {WMPLAYER ".flv\\", WMPLAYER ".flv\\[Runtime]=dword:7",
                        WMPLAYER ".flv\\[Permissions]=dword:15"}},
        PlayerListCase{"MatchIsCaseSensitive", true, {{L"1", L"*.FLV"}}, false, false,
                       {PLAYER "Types\\[2]=sz:*.flv"}},
        PlayerListCase{"OverlongEntriesAreLeftOut", true, {{L"5", L"*.a"}, {L"9", kLongText + L".flv"},
                                                           {kLongText, L".flv"}}, false, false,
                       {PLAYER "Types\\[6]=sz:*.flv"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct MapperCase {
  const char* name;
  HRESULT hrInit, hrCreateV2, hrCreateV1, hrRegister;
  HRESULT expected;
  std::vector<std::string> calls;
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
  EXPECT_EQ(m_Host.m_Calls, c.calls);
  EXPECT_TRUE(KeyExists(kHKCR, kInprocKey)) << "component keys come first and stay";
  EXPECT_EQ(KeyExists(kHKCR, kContentKey), SUCCEEDED(c.expected)) << "a mapper failure ends registration";
}

#define V1_CALLS                                                                                 \
  "V1 UnregisterFilter " CLSID_TEXT, "V1 RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456", \
      "V1 RegisterPin " CLSID_TEXT " Input to " NULL_GUID_TEXT " ''",                          \
      "V1 RegisterPinType " CLSID_TEXT " Input " STREAM_TEXT "/" QFLV_TEXT,                     \
      "V1 RegisterPin " CLSID_TEXT " Output output many to " NULL_GUID_TEXT " ''"
constexpr HRESULT kNotRegistered = static_cast<HRESULT>(0x80040154u);
INSTANTIATE_TEST_SUITE_P(
    Cases, MapperTest,
    ::testing::Values(
        MapperCase{"NewerFileNotFoundTolerated", S_OK, S_OK, S_OK, kFileNotFound, S_OK,
                   {"CoInitialize", "create V2", "V2 UnregisterFilter " CLSID_TEXT, kV2Register, "release V2",
                    "CoFreeUnusedLibraries", "CoUninitialize"}},
        MapperCase{"NewerFailureReturned", S_FALSE, S_OK, S_OK, E_FAIL, E_FAIL,
                   {"CoInitialize", "create V2", "V2 UnregisterFilter " CLSID_TEXT, kV2Register, "release V2",
                    "CoFreeUnusedLibraries", "CoUninitialize"}},
        MapperCase{"OlderWhenNewerAbsent", S_OK, kNotRegistered, S_OK, S_OK, S_OK,
                   {"CoInitialize", "create V2", "create V1", V1_CALLS, "release V1", "CoFreeUnusedLibraries",
                    "CoUninitialize"}},
        MapperCase{"OlderFileNotFoundTolerated", S_OK, kNotRegistered, S_OK, kFileNotFound, S_OK,
                   {"CoInitialize", "create V2", "create V1", V1_CALLS, "release V1", "CoFreeUnusedLibraries",
                    "CoUninitialize"}},
        MapperCase{"OlderFailureStopsAtFirstCall", S_OK, kNotRegistered, S_OK, E_ACCESSDENIED, E_ACCESSDENIED,
                   {"CoInitialize", "create V2", "create V1", "V1 UnregisterFilter " CLSID_TEXT,
                    "V1 RegisterFilter " CLSID_TEXT " Orvex FLV Demultiplexer merit=6291456", "release V1",
                    "CoFreeUnusedLibraries", "CoUninitialize"}},
        MapperCase{"NeitherMapper", S_OK, kNotRegistered, E_NOINTERFACE, S_OK, E_NOINTERFACE,
                   {"CoInitialize", "create V2", "create V1", "CoFreeUnusedLibraries", "CoUninitialize"}},
        MapperCase{"FailedInitIsNotUndone", E_OUTOFMEMORY, S_OK, S_OK, S_OK, S_OK,
                   {"CoInitialize", "create V2", "V2 UnregisterFilter " CLSID_TEXT, kV2Register, "release V2",
                    "CoFreeUnusedLibraries"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct UnregisterMapperCase {
  const char* name;
  HRESULT hrCreateV2, hrUnregister;
  bool bComponentKeyRemoved;
};

class UnregisterMapperTest : public RegistrationTest, public ::testing::WithParamInterface<UnregisterMapperCase> {};

TEST_P(UnregisterMapperTest, ComponentKeyGoesOnlyAfterTheMapperLetGo) {
  const UnregisterMapperCase& c = GetParam();
  ASSERT_EQ(Register(), S_OK);
  m_Host.m_Calls.clear();
  m_Host.m_hrCreateV2 = c.hrCreateV2;
  m_Host.m_hrCreateV1 = c.hrCreateV2;
  m_Host.m_hrUnregister = c.hrUnregister;
  EXPECT_EQ(Unregister(), S_OK);
  EXPECT_EQ(!KeyExists(kHKCR, kClsidKey), c.bComponentKeyRemoved);
  EXPECT_FALSE(KeyExists(kHKCR, kContentKey)) << "the other steps do not depend on the mapper";
  EXPECT_EQ(m_Host.m_Calls.back(), "CoUninitialize");
}

INSTANTIATE_TEST_SUITE_P(Cases, UnregisterMapperTest,
                         ::testing::Values(UnregisterMapperCase{"Unregistered", S_OK, S_OK, true},
                                           UnregisterMapperCase{"NothingToUnregister", S_OK, kFileNotFound, true},
                                           UnregisterMapperCase{"MapperRefuses", S_OK, E_FAIL, false},
                                           UnregisterMapperCase{"NoMapper", kNotRegistered, S_OK, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WriteFailureCase {
  const char* name;
  testing_module::RegistryOperation op;
  RegistryRoot root;
  std::wstring key;
  HRESULT expected;
  bool bShellEntryWritten;
};

class WriteFailureTest : public RegistrationTest, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(WriteFailureTest, FailingWriteEndsRegistrationWithItsResult) {
  const WriteFailureCase& c = GetParam();
  SeedMediaPlayer();
  m_Registry.Fail(c.op, c.root, c.key, kAccessDenied);
  EXPECT_EQ(Register(), c.expected);
  EXPECT_EQ(KeyExists(kHKCR, kShellKey), c.bShellEntryWritten);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFailureTest,
    ::testing::Values(
        WriteFailureCase{"CreateComponentKey", testing_module::kOpCreate, kHKCR, kClsidKey, kAccessDenied, false},
        WriteFailureCase{"SetInprocServer", testing_module::kOpSet, kHKCR, kInprocKey, kAccessDenied, false},
        WriteFailureCase{"CreateContentKey", testing_module::kOpCreate, kHKCR, kContentKey, kAccessDenied, false},
        WriteFailureCase{"SetContentValue", testing_module::kOpSet, kHKCR, kContentKey, kAccessDenied, false},
        WriteFailureCase{"CreateExtensionKey", testing_module::kOpCreate, kHKCR, kExtensionKey, kAccessDenied,
                         false},
        WriteFailureCase{"SetExtensionValue", testing_module::kOpSet, kHKCR, kExtensionKey, kAccessDenied, false},
        WriteFailureCase{"ShellEntryIsBestEffort", testing_module::kOpSet, kHKCR, kShellKey, S_OK, true},
        WriteFailureCase{"PlayerListIsBestEffort", testing_module::kOpSet, kHKLM, kTypesKey, S_OK, true},
        WriteFailureCase{"WmPlayerIsBestEffort", testing_module::kOpCreate, kHKLM, kWmPlayerKey + L"\\.flv", S_OK,
                         true}),
    [](const auto& info) { return std::string(info.param.name); });

class DeleteKeyTreeTest : public RegistrationTest {
 protected:
  void SetUp() override {
    for (const wchar_t* key : {L"T\\a\\x", L"T\\a\\y\\deep", L"T\\b", L"Sibling"})
      ASSERT_EQ(m_Store.CreateKey(kHKCR, key, nullptr), S_OK);
    ASSERT_EQ(m_Store.SetString(kHKCR, L"T\\a\\y", L"v", L"text"), S_OK);
  }
};

TEST_F(DeleteKeyTreeTest, RemovesEverythingUnderTheKeyAndNothingElse) {
  EXPECT_EQ(DeleteKeyTree(m_Registry, kHKCR, L"t"), S_OK);
  EXPECT_EQ(Dump(m_Store), Lines{"HKCR\\Sibling\\"});
}

TEST_F(DeleteKeyTreeTest, RefusesEmptyNameAndTakesMissingKeyAsGone) {
  const Lines before = Dump(m_Store);
  EXPECT_EQ(DeleteKeyTree(m_Registry, kHKCR, L""), E_FAIL);
  EXPECT_EQ(DeleteKeyTree(m_Registry, kHKCR, L"Missing\\Key"), S_OK);
  EXPECT_EQ(Dump(m_Store), before);
}

TEST_F(DeleteKeyTreeTest, SubkeyFailureStopsTheDeletion) {
  m_Registry.Fail(testing_module::kOpDelete, kHKCR, L"T\\a\\y\\deep", kAccessDenied);
  EXPECT_EQ(DeleteKeyTree(m_Registry, kHKCR, L"T"), kAccessDenied);
  EXPECT_TRUE(KeyExists(kHKCR, L"T\\a\\y\\deep"));
  EXPECT_TRUE(KeyExists(kHKCR, L"T\\b")) << "later subkeys are not reached";
}

TEST_F(DeleteKeyTreeTest, SubkeyThatCannotBeOpenedDoesNotLoopForever) {
  m_Registry.Fail(testing_module::kOpOpen, kHKCR, L"T\\a", kAccessDenied);
  EXPECT_EQ(DeleteKeyTree(m_Registry, kHKCR, L"T"), kAccessDenied);
  EXPECT_TRUE(KeyExists(kHKCR, L"T\\a\\x"));
}

}  // namespace
}  // namespace flvdmx

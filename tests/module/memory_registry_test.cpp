#include "module/memory_registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace flvdmx {
namespace {

constexpr RegistryRoot kRoot = RegistryRoot::kClassesRoot;
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);

std::vector<std::wstring> Subkeys(CMemoryRegistry& registry, const std::wstring& path) {
  std::vector<std::wstring> names;
  std::wstring name;
  for (DWORD i = 0; registry.EnumSubkey(kRoot, path, i, &name) == S_OK; ++i) names.push_back(name);
  return names;
}

std::vector<std::wstring> ValueNames(CMemoryRegistry& registry, const std::wstring& path) {
  std::vector<std::wstring> names;
  std::wstring name;
  RegistryValue value;
  for (DWORD i = 0; registry.EnumValue(kRoot, path, i, &name, &value) == S_OK; ++i) names.push_back(name);
  return names;
}

TEST(MemoryRegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  CMemoryRegistry registry;
  bool bCreated = false;
  ASSERT_EQ(registry.CreateKey(kRoot, L"Media Type\\Extensions", &bCreated), S_OK);
  EXPECT_TRUE(bCreated);
  ASSERT_EQ(registry.CreateKey(kRoot, L"MEDIA TYPE\\extensions", &bCreated), S_OK);
  EXPECT_FALSE(bCreated);
  EXPECT_EQ(Subkeys(registry, L""), std::vector<std::wstring>{L"Media Type"});

  ASSERT_EQ(registry.SetString(kRoot, L"media type", L"Usage", L"a"), S_OK);
  ASSERT_EQ(registry.SetDword(kRoot, L"Media Type", L"USAGE", 3), S_OK);
  RegistryValue value;
  ASSERT_EQ(registry.QueryValue(kRoot, L"MEDIA TYPE", L"usage", &value), S_OK);
  EXPECT_TRUE(value.IsDword());
  EXPECT_EQ(value.m_dwNumber, 3u);
  EXPECT_EQ(ValueNames(registry, L"Media Type"), std::vector<std::wstring>{L"Usage"});
}

TEST(MemoryRegistryTest, SubkeysEnumerateSortedAndValuesInWriteOrder) {
  CMemoryRegistry registry;
  for (const wchar_t* name : {L"k\\b", L"k\\C", L"k\\a"}) ASSERT_EQ(registry.CreateKey(kRoot, name, nullptr), S_OK);
  EXPECT_EQ(Subkeys(registry, L"k"), (std::vector<std::wstring>{L"a", L"b", L"C"}));

  for (const wchar_t* name : {L"7", L"12", L"3", L"7"}) ASSERT_EQ(registry.SetString(kRoot, L"k", name, L"x"), S_OK);
  EXPECT_EQ(ValueNames(registry, L"k"), (std::vector<std::wstring>{L"7", L"12", L"3"}));
}

TEST(MemoryRegistryTest, StringsAreStoredWithTheirTerminatorInUtf16Units) {
  CMemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey(kRoot, L"k", nullptr), S_OK);
  ASSERT_EQ(registry.SetString(kRoot, L"k", L"", L"Both"), S_OK);
  RegistryValue value;
  ASSERT_EQ(registry.QueryValue(kRoot, L"k", L"", &value), S_OK);
  EXPECT_EQ(value.m_dwType, static_cast<DWORD>(kRegTypeString));
  EXPECT_EQ(value.m_cbData, 10u);
  EXPECT_EQ(value.m_strText, L"Both");
}

TEST(MemoryRegistryTest, RefusesWhatThePlatformRefuses) {
  CMemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey(kRoot, L"a\\b", nullptr), S_OK);
  RegistryValue value;
  struct Case {
    const char* what;
    HRESULT hr;
    HRESULT expected;
  } cases[] = {
      {"delete a key with subkeys", registry.DeleteKey(kRoot, L"a"), static_cast<HRESULT>(0x80070005u)},
      {"delete a missing key", registry.DeleteKey(kRoot, L"a\\c"), kNotFound},
      {"delete a root", registry.DeleteKey(kRoot, L""), E_INVALIDARG},
      {"set in a missing key", registry.SetString(kRoot, L"x", L"v", L"t"), kNotFound},
      {"open a missing key", registry.OpenKey(kRoot, L"x"), kNotFound},
      {"query a missing value", registry.QueryValue(kRoot, L"a", L"v", &value), kNotFound},
      {"empty name inside a path", registry.CreateKey(kRoot, L"a\\\\b", nullptr), static_cast<HRESULT>(0x800700A1u)},
      {"leading backslash", registry.OpenKey(kRoot, L"\\a"), static_cast<HRESULT>(0x800700A1u)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.hr, c.expected) << c.what;
  EXPECT_EQ(registry.OpenKey(kRoot, L"x"), kNotFound) << "a failed set creates nothing";
  EXPECT_EQ(registry.DeleteKey(kRoot, L"a\\b"), S_OK);
  EXPECT_EQ(registry.DeleteKey(kRoot, L"a"), S_OK);
}

}  // namespace
}  // namespace flvdmx

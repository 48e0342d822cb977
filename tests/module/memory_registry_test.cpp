#include "module/memory_registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace flvdmx {
namespace {

constexpr RegistryRoot kRoot = RegistryRoot::kClassesRoot;
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);

// Subkey names, or value names with `values`, in enumeration order.
std::vector<std::wstring> Names(CMemoryRegistry& registry, const std::wstring& path, bool values = false) {
  std::vector<std::wstring> names;
  std::wstring name;
  RegistryValue value;
  for (DWORD i = 0; (values ? registry.EnumValue(kRoot, path, i, &name, &value)
                            : registry.EnumSubkey(kRoot, path, i, &name)) == S_OK; ++i)
    names.push_back(name);
  return names;
}

TEST(MemoryRegistryTest, NamesIgnoreCaseKeepTheirFirstSpellingAndEnumerateInPlatformOrder) {
  CMemoryRegistry registry;
  bool bCreated = false;
  ASSERT_EQ(registry.CreateKey(kRoot, L"Media Type\\b", &bCreated), S_OK);
  EXPECT_TRUE(bCreated);
  ASSERT_EQ(registry.CreateKey(kRoot, L"MEDIA TYPE\\B", &bCreated), S_OK);
  EXPECT_FALSE(bCreated);
  for (const wchar_t* name : {L"media type\\C", L"Media Type\\a"}) ASSERT_EQ(registry.CreateKey(kRoot, name, nullptr), S_OK);
  EXPECT_EQ(Names(registry, L""), std::vector<std::wstring>{L"Media Type"});
  EXPECT_EQ(Names(registry, L"MEDIA type"), (std::vector<std::wstring>{L"a", L"b", L"C"})) << "subkeys sorted";

  for (const wchar_t* name : {L"7", L"12", L"Usage", L"3"}) ASSERT_EQ(registry.SetString(kRoot, L"media type", name, L"x"), S_OK);
  ASSERT_EQ(registry.SetDword(kRoot, L"Media Type", L"USAGE", 3), S_OK);
  EXPECT_EQ(Names(registry, L"Media Type", true), (std::vector<std::wstring>{L"7", L"12", L"Usage", L"3"}))
      << "values in the order first written";
  RegistryValue value;
  ASSERT_EQ(registry.QueryValue(kRoot, L"MEDIA TYPE", L"usage", &value), S_OK);
  EXPECT_TRUE(value.IsDword());
  EXPECT_EQ(value.m_dwNumber, 3u);
  // Strings are counted in UTF-16 units with their terminator.
  ASSERT_EQ(registry.SetString(kRoot, L"Media Type", L"", L"Both"), S_OK);
  ASSERT_EQ(registry.QueryValue(kRoot, L"Media Type", L"", &value), S_OK);
  EXPECT_EQ(value.m_dwType, static_cast<DWORD>(kRegTypeString));
  EXPECT_EQ(value.m_cbData, 10u);
  EXPECT_EQ(value.m_strText, L"Both");
}

TEST(MemoryRegistryTest, RefusesWhatThePlatformRefuses) {
  CMemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey(kRoot, L"a\\b", nullptr), S_OK);
  RegistryValue value;
  const HRESULT kBadName = static_cast<HRESULT>(0x800700A1u);
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
      {"empty name inside a path", registry.CreateKey(kRoot, L"a\\\\b", nullptr), kBadName},
      {"leading backslash", registry.OpenKey(kRoot, L"\\a"), kBadName},
  };
  for (const auto& c : cases) EXPECT_EQ(c.hr, c.expected) << c.what;
  EXPECT_EQ(registry.OpenKey(kRoot, L"x"), kNotFound) << "a failed set creates nothing";
  EXPECT_EQ(registry.DeleteKey(kRoot, L"a\\b"), S_OK);
  EXPECT_EQ(registry.DeleteKey(kRoot, L"a"), S_OK);
}

}  // namespace
}  // namespace flvdmx

#include "module/registration.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#ifndef _WIN32
#include <locale.h>
#include <wctype.h>
#endif

#include "diag/result_name.h"
#include "diag/trace.h"
#include "module/module_ids.h"

namespace flvdmx {
namespace {

constexpr RegistryRoot kHKCR = RegistryRoot::kClassesRoot;
constexpr RegistryRoot kHKLM = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHKCU = RegistryRoot::kCurrentUser;

// The mapper answers "file not found" when there is nothing to replace.
constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002u);

struct ExtensionEntry {
  const wchar_t* m_pszDescription;
  const wchar_t* m_pszMuiDescription;
  const wchar_t* m_pszTypeFilter;
  const wchar_t* m_pszExtension;
};

constexpr ExtensionEntry kExtensions[] = {
    {L"Flash Video (*.flv)", L"Flash Video Format", L"*.flv", L".flv"},
};

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Orvex Technologies, Inc.\\DShow\\Filters\\OXFLVDmx";
constexpr wchar_t kPlayerTypesKey[] =
    L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
constexpr wchar_t kPlayerDescriptionsKey[] =
    L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
constexpr wchar_t kPlayerMuiDescriptionsKey[] =
    L"SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\MUIDescriptions";
constexpr wchar_t kWmPlayerExtensionsKey[] =
    L"SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions";
// The shell's thumbnail-extractor slot and the platform's own video extractor.
constexpr wchar_t kShellThumbnailSlot[] = L"\\ShellEx\\{BB2E617C-0920-11d1-9A0B-00C04FC2D6C1}";
constexpr wchar_t kVideoThumbnailExtractor[] = L"{c5a40261-cd64-4ccf-84cb-c394da41d590}";

// Media player list entries longer than this are left out of the search.
constexpr size_t kMaxPlayerListText = 255;

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

std::wstring GuidText(const GUID& guid) {
  char buf[39];
  FormatGuid(guid, buf);
  return Widen(buf);
}

std::wstring CheckBytesText() {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0,3,,%02x%02x%02x", 0x46, 0x4C, 0x56);  // "FLV"
  return Widen(buf);
}

std::wstring ClsidKey(const CLSID& clsid) { return L"CLSID\\" + GuidText(clsid); }
std::wstring InprocServerKey(const CLSID& clsid) { return ClsidKey(clsid) + L"\\InprocServer32"; }
std::wstring ContentKey() {
  return L"Media Type\\" + GuidText(kMediaTypeStream) + L"\\" + GuidText(MEDIASUBTYPE_QFLV);
}
std::wstring ExtensionKey(const ExtensionEntry& ext) {
  return std::wstring(L"Media Type\\Extensions\\") + ext.m_pszExtension;
}

// Paths compare as the file system names them: without regard to case, for
// every letter, not only ASCII ones.
#ifdef _WIN32
bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}
#else
wint_t UpperCase(wchar_t c) {
  // The "C" locale maps ASCII letters only; a Unicode one maps them all.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return unicode != static_cast<locale_t>(0) ? ::towupper_l(static_cast<wint_t>(c), unicode)
                                             : std::towupper(static_cast<wint_t>(c));
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperCase(a[i]) != UpperCase(b[i])) return false;
  return true;
}
#endif

// The path in CLSID\{clsid}\InprocServer32, when there is one.
bool ReadRegisteredPath(IRegistry& registry, const CLSID& clsid, std::wstring* pPath) {
  RegistryValue value;
  if (FAILED(registry.QueryValue(kHKCR, InprocServerKey(clsid), L"", &value))) return false;
  if (!value.IsString() || value.m_strText.empty()) return false;
  *pPath = value.m_strText;
  return true;
}

// Another copy of the module, at a path that exists, is registered for the
// class. Any doubt answers false, so that we act rather than leave things be.
bool AnotherCopyIsRegistered(IRegistrationHost& host, IRegistry& registry, const CLSID& clsid,
                             const std::wstring& ownPath, std::wstring* pOtherPath) {
  if (ownPath.empty()) return false;
  if (!ReadRegisteredPath(registry, clsid, pOtherPath)) return false;
  return host.FileExists(*pOtherPath) && !SamePath(*pOtherPath, ownPath);
}

bool NewerCopyIsRegistered(IRegistrationHost& host, IRegistry& registry, const CLSID& clsid,
                           const std::wstring& ownPath) {
  std::wstring otherPath;
  if (!AnotherCopyIsRegistered(host, registry, clsid, ownPath, &otherPath)) return false;
  uint64_t otherVersion = 0;
  uint64_t ownVersion = 0;
  if (FAILED(host.GetFileVersion(otherPath, &otherVersion))) return false;
  if (FAILED(host.GetFileVersion(ownPath, &ownVersion))) return false;
  // Most significant half first, then the least: one unsigned comparison.
  return otherVersion > ownVersion;
}

HRESULT RegisterComponent(IRegistry& registry, const ClassTableEntry& entry,
                          const std::wstring& modulePath) {
  const std::wstring clsidKey = ClsidKey(entry.m_Clsid);
  const std::wstring inprocKey = InprocServerKey(entry.m_Clsid);
  HRESULT hr = registry.CreateKey(kHKCR, clsidKey, nullptr);
  if (SUCCEEDED(hr)) hr = registry.SetString(kHKCR, clsidKey, L"", entry.m_pszName);
  if (SUCCEEDED(hr)) hr = registry.CreateKey(kHKCR, inprocKey, nullptr);
  if (SUCCEEDED(hr)) hr = registry.SetString(kHKCR, inprocKey, L"", modulePath);
  if (SUCCEEDED(hr)) hr = registry.SetString(kHKCR, inprocKey, L"ThreadingModel", L"Both");
  return hr;
}

HRESULT Tolerated(HRESULT hr) { return hr == kFileNotFound ? S_OK : hr; }

HRESULT RegisterWithMapperV2(IFilterMapperV2& mapper, const FilterSetup& setup, bool bRegister) {
  if (!bRegister) return Tolerated(mapper.UnregisterFilter(setup.m_Clsid));
  // Clears what an earlier registration left; its result says nothing useful.
  (void)mapper.UnregisterFilter(setup.m_Clsid);
  return Tolerated(mapper.RegisterFilter(setup));
}

HRESULT RegisterWithMapperV1(IFilterMapperV1& mapper, const FilterSetup& setup, bool bRegister) {
  if (!bRegister) return Tolerated(mapper.UnregisterFilter(setup.m_Clsid));
  (void)mapper.UnregisterFilter(setup.m_Clsid);
  HRESULT hr = Tolerated(mapper.RegisterFilter(setup.m_Clsid, setup.m_pszName, setup.m_dwMerit));
  for (uint32_t i = 0; SUCCEEDED(hr) && i < setup.m_cPins; ++i) {
    const FilterPinSetup& pin = setup.m_pPins[i];
    hr = Tolerated(mapper.RegisterPin(setup.m_Clsid, pin));
    for (uint32_t t = 0; SUCCEEDED(hr) && t < pin.m_cMediaTypes; ++t)
      hr = Tolerated(mapper.RegisterPinType(setup.m_Clsid, pin.m_pszName, pin.m_pMediaTypes[t]));
  }
  return hr;
}

// Registers (or unregisters) every filter of the table with the newer mapper,
// or with the older one when the newer cannot be created.
HRESULT UseFilterMapper(IRegistrationHost& host, const ClassTable& classes, bool bRegister) {
  const HRESULT hrInit = host.InitializeComponentRuntime();
  HRESULT hr;
  {
    std::unique_ptr<IFilterMapperV2> mapperV2;
    std::unique_ptr<IFilterMapperV1> mapperV1;
    hr = host.CreateFilterMapperV2(&mapperV2);
    if (SUCCEEDED(hr) && mapperV2) {
      for (const auto& entry : classes) {
        if (!entry.m_pFilterSetup) continue;
        hr = RegisterWithMapperV2(*mapperV2, *entry.m_pFilterSetup, bRegister);
        if (FAILED(hr)) break;
      }
    } else {
      hr = host.CreateFilterMapperV1(&mapperV1);
      if (SUCCEEDED(hr) && !mapperV1) hr = E_NOINTERFACE;
      for (const auto& entry : classes) {
        if (FAILED(hr)) break;
        if (!entry.m_pFilterSetup) continue;
        hr = RegisterWithMapperV1(*mapperV1, *entry.m_pFilterSetup, bRegister);
      }
    }
  }
  host.FreeUnusedLibraries();
  if (SUCCEEDED(hrInit)) host.UninitializeComponentRuntime();
  if (FAILED(hr)) {
    Trace("\n%s - filter mapper failed: %s",
          bRegister ? "DllRegisterServer" : "DllUnregisterServer", GetResultName(hr));
  }
  return hr;
}

// "Usage Count" as stored; missing or not a 4-byte number counts as 1.
DWORD StoredUsageCount(IRegistry& registry) {
  RegistryValue value;
  if (FAILED(registry.QueryValue(kHKCR, ContentKey(), L"Usage Count", &value)) || !value.IsDword())
    return 1;
  return value.m_dwNumber;
}

// Writes the check bytes under the first free slot "0", "1", ... unless a
// slot before it holds them already.
HRESULT WriteCheckBytes(IRegistry& registry, const std::wstring& key) {
  const std::wstring text = CheckBytesText();
  for (DWORD slot = 0;; ++slot) {
    const std::wstring name = std::to_wstring(slot);
    RegistryValue value;
    if (FAILED(registry.QueryValue(kHKCR, key, name, &value)) || !value.IsString())
      return registry.SetString(kHKCR, key, name, text);
    if (value.m_strText == text) return S_OK;
  }
}

HRESULT RegisterContent(IRegistry& registry) {
  const std::wstring key = ContentKey();
  bool bCreated = false;
  HRESULT hr = registry.CreateKey(kHKCR, key, &bCreated);
  if (FAILED(hr)) return hr;
  DWORD count = 1;
  if (!bCreated) {
    const DWORD stored = StoredUsageCount(registry);
    count = stored == 0xFFFFFFFFu ? stored : stored + 1;
  }
  hr = registry.SetDword(kHKCR, key, L"Usage Count", count);
  if (SUCCEEDED(hr))
    hr = registry.SetString(kHKCR, key, L"Source Filter", GuidText(kClsidAsyncReader));
  if (SUCCEEDED(hr)) hr = WriteCheckBytes(registry, key);
  return hr;
}

// The leading decimal digits of a list value name, as a number.
uint64_t LeadingNumber(const std::wstring& name) {
  uint64_t number = 0;
  for (wchar_t c : name) {
    if (c < L'0' || c > L'9') break;
    if (number > 0xFFFFFFFFu) break;  // far past any real list; stop growing
    number = number * 10 + static_cast<uint64_t>(c - L'0');
  }
  return number;
}

// Adds the extension to the media player's three lists under a new number,
// unless the Types list names it already. Best effort: nothing here fails
// registration.
void AddToMediaPlayerLists(IRegistry& registry, const ExtensionEntry& ext) {
  if (FAILED(registry.OpenKey(kHKLM, kPlayerTypesKey))) return;
  // Values enumerate in name order ("10" before "9"): the new entry follows
  // the highest number, not the last name seen.
  uint64_t highest = 0;
  for (DWORD index = 0;; ++index) {
    std::wstring name;
    RegistryValue value;
    if (registry.EnumValue(kHKLM, kPlayerTypesKey, index, &name, &value) != S_OK) break;
    if (name.size() > kMaxPlayerListText || value.m_strText.size() > kMaxPlayerListText) continue;
    highest = std::max(highest, LeadingNumber(name));
    if (value.IsString() && value.m_strText.find(ext.m_pszExtension) != std::wstring::npos) return;
  }
  const std::wstring newName = std::to_wstring(highest + 1);
  (void)registry.SetString(kHKLM, kPlayerTypesKey, newName, ext.m_pszTypeFilter);
  if (SUCCEEDED(registry.OpenKey(kHKLM, kPlayerDescriptionsKey)))
    (void)registry.SetString(kHKLM, kPlayerDescriptionsKey, newName, ext.m_pszDescription);
  if (SUCCEEDED(registry.OpenKey(kHKLM, kPlayerMuiDescriptionsKey)))
    (void)registry.SetString(kHKLM, kPlayerMuiDescriptionsKey, newName, ext.m_pszMuiDescription);
}

// Only where the player's own key exists; we never create it.
void AddToWmPlayer(IRegistry& registry, const ExtensionEntry& ext) {
  if (FAILED(registry.OpenKey(kHKLM, kWmPlayerExtensionsKey))) return;
  const std::wstring key = std::wstring(kWmPlayerExtensionsKey) + L"\\" + ext.m_pszExtension;
  if (FAILED(registry.CreateKey(kHKLM, key, nullptr))) return;
  (void)registry.SetDword(kHKLM, key, L"Runtime", 7);
  (void)registry.SetDword(kHKLM, key, L"Permissions", 15);
}

void AddShellThumbnailEntry(IRegistry& registry, const ExtensionEntry& ext) {
  const std::wstring key = ext.m_pszExtension + std::wstring(kShellThumbnailSlot);
  if (SUCCEEDED(registry.CreateKey(kHKCR, key, nullptr)))
    (void)registry.SetString(kHKCR, key, L"", kVideoThumbnailExtractor);
}

HRESULT RegisterExtension(IRegistry& registry, const ExtensionEntry& ext) {
  const std::wstring key = ExtensionKey(ext);
  HRESULT hr = registry.CreateKey(kHKCR, key, nullptr);
  if (SUCCEEDED(hr))
    hr = registry.SetString(kHKCR, key, L"Source Filter", GuidText(kClsidAsyncReader));
  if (SUCCEEDED(hr)) hr = registry.SetString(kHKCR, key, L"Media Type", GuidText(kMediaTypeStream));
  if (FAILED(hr)) return hr;
  (void)registry.SetString(kHKCR, key, L"Subtype", GuidText(MEDIASUBTYPE_QFLV));
  AddToMediaPlayerLists(registry, ext);
  AddToWmPlayer(registry, ext);
  AddShellThumbnailEntry(registry, ext);
  return S_OK;
}

// Nothing in the key but, when bDefaultIsOurs, its default value.
bool KeyHoldsNothingElse(IRegistry& registry, const std::wstring& path, bool bDefaultIsOurs) {
  std::wstring name;
  RegistryValue value;
  if (registry.EnumSubkey(kHKCR, path, 0, &name) == S_OK) return false;
  for (DWORD i = 0; registry.EnumValue(kHKCR, path, i, &name, &value) == S_OK; ++i)
    if (!(bDefaultIsOurs && name.empty())) return false;
  return true;
}

// Takes back the shell entry registration made, and the keys above it up to
// the extension's own key as far as nothing else is in them: the extension
// key belongs to every program that handles the type.
void RemoveShellThumbnailEntry(IRegistry& registry, const ExtensionEntry& ext) {
  const std::wstring extKey = ext.m_pszExtension;
  const std::wstring shellKey = extKey + L"\\ShellEx";
  const std::wstring slotKey = extKey + kShellThumbnailSlot;
  RegistryValue value;
  const bool bOurs = SUCCEEDED(registry.QueryValue(kHKCR, slotKey, L"", &value)) &&
                     value.IsString() && SamePath(value.m_strText, kVideoThumbnailExtractor);
  if (bOurs && KeyHoldsNothingElse(registry, slotKey, true))
    (void)registry.DeleteKey(kHKCR, slotKey);
  for (const std::wstring& key : {shellKey, extKey}) {
    if (FAILED(registry.OpenKey(kHKCR, key)) || !KeyHoldsNothingElse(registry, key, false)) return;
    (void)registry.DeleteKey(kHKCR, key);
  }
}

void UnregisterContent(IRegistry& registry) {
  const DWORD count = StoredUsageCount(registry);
  if (count > 1) {
    (void)registry.SetDword(kHKCR, ContentKey(), L"Usage Count", count - 1);
  } else {
    (void)DeleteKeyTree(registry, kHKCR, ContentKey());
  }
}

}  // namespace

HRESULT DeleteKeyTree(IRegistry& registry, RegistryRoot root, const std::wstring& path) {
  if (path.empty()) return E_FAIL;
  if (FAILED(registry.OpenKey(root, path))) return S_OK;
  std::wstring previous;
  for (;;) {
    std::wstring subkey;
    HRESULT hr = registry.EnumSubkey(root, path, 0, &subkey);
    if (FAILED(hr)) return hr;
    if (hr != S_OK) break;
    // A subkey that cannot be opened counts as gone yet stays listed: stop
    // rather than take it again and again.
    if (!previous.empty() && SamePath(subkey, previous)) return E_ACCESSDENIED;
    hr = DeleteKeyTree(registry, root, path + L"\\" + subkey);
    if (FAILED(hr)) return hr;
    previous = subkey;
  }
  return registry.DeleteKey(root, path);
}

HRESULT RegisterModule(IRegistrationHost& host, IRegistry& registry, const ClassTable& classes) {
  std::wstring modulePath;
  const HRESULT hrPath = host.GetModulePath(&modulePath);
  if (FAILED(hrPath)) modulePath.clear();

  if (classes.m_cEntries > 0 &&
      NewerCopyIsRegistered(host, registry, classes.m_pEntries[0].m_Clsid, modulePath)) {
    Trace("\nDllRegisterServer - a newer module is registered; nothing written");
    return S_OK;
  }
  if (FAILED(hrPath)) return hrPath;

  HRESULT hr = S_OK;
  for (const auto& entry : classes) {
    hr = RegisterComponent(registry, entry, modulePath);
    if (FAILED(hr)) return hr;
  }
  hr = UseFilterMapper(host, classes, true);
  if (FAILED(hr)) return hr;
  hr = RegisterContent(registry);
  if (FAILED(hr)) return hr;

  HRESULT hrExtensions = S_OK;
  for (const auto& ext : kExtensions) {
    hr = RegisterExtension(registry, ext);
    if (FAILED(hr)) hrExtensions = hr;
  }
  return hrExtensions;
}

HRESULT UnregisterModule(IRegistrationHost& host, IRegistry& registry, const ClassTable& classes) {
  std::wstring modulePath;
  if (FAILED(host.GetModulePath(&modulePath))) modulePath.clear();
  std::wstring otherPath;
  if (classes.m_cEntries > 0 &&
      AnotherCopyIsRegistered(host, registry, classes.m_pEntries[0].m_Clsid, modulePath,
                              &otherPath)) {
    Trace("\nDllUnregisterServer - another copy owns the registration; nothing removed");
    return S_OK;
  }

  UnregisterContent(registry);
  for (const auto& ext : kExtensions) {
    (void)DeleteKeyTree(registry, kHKCR, ExtensionKey(ext));
    RemoveShellThumbnailEntry(registry, ext);
  }
  (void)DeleteKeyTree(registry, kHKLM, kSettingsKey);
  (void)DeleteKeyTree(registry, kHKCU, kSettingsKey);

  if (SUCCEEDED(UseFilterMapper(host, classes, false))) {
    for (const auto& entry : classes) (void)DeleteKeyTree(registry, kHKCR, ClsidKey(entry.m_Clsid));
  }
  return S_OK;
}

}  // namespace flvdmx

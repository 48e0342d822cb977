#include "module/memory_registry.h"

#include <cwctype>
#include <iterator>

namespace flvdmx {
namespace {

constexpr uint32_t kErrorBadPathname = 161;

HRESULT NotFound() { return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); }

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

// Splits "A\\B\\C" into its names; an empty name inside the path is refused
// as the platform refuses it. The empty path names the root itself.
HRESULT SplitPath(const std::wstring& path, std::vector<std::wstring>* pNames) {
  pNames->clear();
  if (path.empty()) return S_OK;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(L'\\', start);
    const size_t len = (end == std::wstring::npos ? path.size() : end) - start;
    if (len == 0) return HRESULT_FROM_WIN32(kErrorBadPathname);
    pNames->push_back(path.substr(start, len));
    if (end == std::wstring::npos) return S_OK;
    start = end + 1;
  }
}

RegistryValue StringValue(const std::wstring& text) {
  RegistryValue value;
  value.m_dwType = kRegTypeString;
  value.m_strText = text;
  value.m_cbData = static_cast<DWORD>((text.size() + 1) * 2);
  return value;
}

}  // namespace

bool CMemoryRegistry::NameLess::operator()(const std::wstring& a, const std::wstring& b) const {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = std::towupper(a[i]);
    const auto cb = std::towupper(b[i]);
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

CMemoryRegistry::CMemoryRegistry() = default;
CMemoryRegistry::~CMemoryRegistry() = default;

HRESULT CMemoryRegistry::Find(RegistryRoot root, const std::wstring& path, Key** ppKey) {
  *ppKey = nullptr;
  std::vector<std::wstring> names;
  const HRESULT hr = SplitPath(path, &names);
  if (FAILED(hr)) return hr;
  Key* key = &m_Roots[static_cast<int>(root)];
  for (const auto& name : names) {
    const auto it = key->m_Subkeys.find(name);
    if (it == key->m_Subkeys.end()) return NotFound();
    key = it->second.get();
  }
  *ppKey = key;
  return S_OK;
}

RegistryValue* CMemoryRegistry::FindValue(Key& key, const std::wstring& name) {
  for (auto& entry : key.m_Values)
    if (SameName(entry.first, name)) return &entry.second;
  return nullptr;
}

HRESULT CMemoryRegistry::CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) {
  if (pbCreated) *pbCreated = false;
  std::vector<std::wstring> names;
  const HRESULT hr = SplitPath(path, &names);
  if (FAILED(hr)) return hr;
  Key* key = &m_Roots[static_cast<int>(root)];
  bool bCreated = false;
  for (const auto& name : names) {
    auto& slot = key->m_Subkeys[name];
    bCreated = !slot;
    if (bCreated) slot = std::make_unique<Key>();
    key = slot.get();
  }
  if (pbCreated) *pbCreated = bCreated;
  return S_OK;
}

HRESULT CMemoryRegistry::OpenKey(RegistryRoot root, const std::wstring& path) {
  Key* key;
  return Find(root, path, &key);
}

HRESULT CMemoryRegistry::QueryValue(RegistryRoot root, const std::wstring& path,
                                    const std::wstring& name, RegistryValue* pValue) {
  if (!pValue) return E_POINTER;
  Key* key;
  const HRESULT hr = Find(root, path, &key);
  if (FAILED(hr)) return hr;
  const RegistryValue* found = FindValue(*key, name);
  if (!found) return NotFound();
  *pValue = *found;
  return S_OK;
}

HRESULT CMemoryRegistry::SetValue(RegistryRoot root, const std::wstring& path,
                                  const std::wstring& name, const RegistryValue& value) {
  Key* key;
  const HRESULT hr = Find(root, path, &key);
  if (FAILED(hr)) return hr;
  if (RegistryValue* existing = FindValue(*key, name)) {
    *existing = value;
  } else {
    key->m_Values.emplace_back(name, value);
  }
  return S_OK;
}

HRESULT CMemoryRegistry::SetString(RegistryRoot root, const std::wstring& path,
                                   const std::wstring& name, const std::wstring& text) {
  return SetValue(root, path, name, StringValue(text));
}

HRESULT CMemoryRegistry::SetDword(RegistryRoot root, const std::wstring& path,
                                  const std::wstring& name, DWORD dwValue) {
  RegistryValue value;
  value.m_dwType = kRegTypeDword;
  value.m_cbData = sizeof(DWORD);
  value.m_dwNumber = dwValue;
  return SetValue(root, path, name, value);
}

HRESULT CMemoryRegistry::EnumValue(RegistryRoot root, const std::wstring& path, DWORD index,
                                   std::wstring* pName, RegistryValue* pValue) {
  if (!pName || !pValue) return E_POINTER;
  Key* key;
  const HRESULT hr = Find(root, path, &key);
  if (FAILED(hr)) return hr;
  if (index >= key->m_Values.size()) return S_FALSE;
  *pName = key->m_Values[index].first;
  *pValue = key->m_Values[index].second;
  return S_OK;
}

HRESULT CMemoryRegistry::EnumSubkey(RegistryRoot root, const std::wstring& path, DWORD index,
                                    std::wstring* pName) {
  if (!pName) return E_POINTER;
  Key* key;
  const HRESULT hr = Find(root, path, &key);
  if (FAILED(hr)) return hr;
  if (index >= key->m_Subkeys.size()) return S_FALSE;
  auto it = key->m_Subkeys.begin();
  std::advance(it, index);
  *pName = it->first;
  return S_OK;
}

HRESULT CMemoryRegistry::DeleteKey(RegistryRoot root, const std::wstring& path) {
  std::vector<std::wstring> names;
  HRESULT hr = SplitPath(path, &names);
  if (FAILED(hr)) return hr;
  if (names.empty()) return E_INVALIDARG;  // a root cannot be deleted
  const std::wstring leaf = names.back();
  const size_t cut = path.size() - leaf.size();
  Key* parent;
  hr = Find(root, cut == 0 ? std::wstring() : path.substr(0, cut - 1), &parent);
  if (FAILED(hr)) return hr;
  const auto it = parent->m_Subkeys.find(leaf);
  if (it == parent->m_Subkeys.end()) return NotFound();
  if (!it->second->m_Subkeys.empty()) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  parent->m_Subkeys.erase(it);
  return S_OK;
}

}  // namespace flvdmx

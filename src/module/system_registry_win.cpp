#include "module/system_registry.h"

#include <cstring>
#include <vector>

namespace flvdmx {
namespace {

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
  }
  return HKEY_CLASSES_ROOT;
}

HRESULT FromStatus(LONG status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<unsigned long>(status));
}

// One open key, closed when it goes out of scope.
class CScopedKey {
 public:
  CScopedKey() = default;
  CScopedKey(const CScopedKey&) = delete;
  CScopedKey& operator=(const CScopedKey&) = delete;
  ~CScopedKey() {
    if (m_hKey != nullptr) RegCloseKey(m_hKey);
  }
  HRESULT Open(RegistryRoot root, const std::wstring& path, REGSAM access) {
    return FromStatus(RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &m_hKey));
  }
  HKEY m_hKey = nullptr;
};

// Turns raw value bytes into a RegistryValue.
void Decode(DWORD dwType, const BYTE* pData, DWORD cbData, RegistryValue* pValue) {
  *pValue = RegistryValue();
  pValue->m_dwType = dwType;
  pValue->m_cbData = cbData;
  if (pValue->IsString()) {
    // Stored strings may lack their terminator; stop at the first zero.
    const size_t cch = cbData / sizeof(wchar_t);
    std::wstring text(cch, L'\0');
    if (cch != 0) std::memcpy(&text[0], pData, cch * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    pValue->m_strText = text;
  } else if (cbData == sizeof(DWORD)) {
    std::memcpy(&pValue->m_dwNumber, pData, sizeof(DWORD));
  }
}

// A value may grow between asking its size and reading it: try a few times.
constexpr int kReadAttempts = 4;

}  // namespace

HRESULT CSystemRegistry::CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) {
  if (pbCreated) *pbCreated = false;
  HKEY hKey = nullptr;
  DWORD dwDisposition = 0;
  const LONG status =
      RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE, nullptr, &hKey, &dwDisposition);
  if (status != ERROR_SUCCESS) return FromStatus(status);
  RegCloseKey(hKey);
  if (pbCreated) *pbCreated = dwDisposition == REG_CREATED_NEW_KEY;
  return S_OK;
}

HRESULT CSystemRegistry::OpenKey(RegistryRoot root, const std::wstring& path) {
  CScopedKey key;
  return key.Open(root, path, KEY_READ);
}

HRESULT CSystemRegistry::QueryValue(RegistryRoot root, const std::wstring& path,
                                    const std::wstring& name, RegistryValue* pValue) {
  if (pValue == nullptr) return E_POINTER;
  CScopedKey key;
  HRESULT hr = key.Open(root, path, KEY_QUERY_VALUE);
  if (FAILED(hr)) return hr;
  DWORD cbData = 0;
  LONG status = RegQueryValueExW(key.m_hKey, name.c_str(), nullptr, nullptr, nullptr, &cbData);
  for (int attempt = 0; attempt < kReadAttempts && status == ERROR_SUCCESS; ++attempt) {
    std::vector<BYTE> data(cbData + sizeof(wchar_t));
    DWORD dwType = 0;
    DWORD cbRead = cbData;
    status = RegQueryValueExW(key.m_hKey, name.c_str(), nullptr, &dwType, data.data(), &cbRead);
    if (status == ERROR_SUCCESS) {
      Decode(dwType, data.data(), cbRead, pValue);
      return S_OK;
    }
    if (status == ERROR_MORE_DATA)
      status = RegQueryValueExW(key.m_hKey, name.c_str(), nullptr, nullptr, nullptr, &cbData);
  }
  return status == ERROR_SUCCESS ? HRESULT_FROM_WIN32(ERROR_MORE_DATA) : FromStatus(status);
}

HRESULT CSystemRegistry::SetString(RegistryRoot root, const std::wstring& path,
                                   const std::wstring& name, const std::wstring& text) {
  CScopedKey key;
  HRESULT hr = key.Open(root, path, KEY_SET_VALUE);
  if (FAILED(hr)) return hr;
  const DWORD cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return FromStatus(RegSetValueExW(key.m_hKey, name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()), cbData));
}

HRESULT CSystemRegistry::SetDword(RegistryRoot root, const std::wstring& path,
                                  const std::wstring& name, DWORD dwValue) {
  CScopedKey key;
  HRESULT hr = key.Open(root, path, KEY_SET_VALUE);
  if (FAILED(hr)) return hr;
  return FromStatus(RegSetValueExW(key.m_hKey, name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue));
}

HRESULT CSystemRegistry::EnumValue(RegistryRoot root, const std::wstring& path, DWORD index,
                                   std::wstring* pName, RegistryValue* pValue) {
  if (pName == nullptr || pValue == nullptr) return E_POINTER;
  CScopedKey key;
  HRESULT hr = key.Open(root, path, KEY_QUERY_VALUE);
  if (FAILED(hr)) return hr;
  LONG status = ERROR_MORE_DATA;
  for (int attempt = 0; attempt < kReadAttempts && status == ERROR_MORE_DATA; ++attempt) {
    DWORD cchMaxName = 0;
    DWORD cbMaxData = 0;
    status = RegQueryInfoKeyW(key.m_hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, &cchMaxName, &cbMaxData, nullptr, nullptr);
    if (status != ERROR_SUCCESS) break;
    std::vector<wchar_t> name(cchMaxName + 1);
    std::vector<BYTE> data(cbMaxData + sizeof(wchar_t));
    DWORD cchName = static_cast<DWORD>(name.size());
    DWORD cbData = cbMaxData;
    DWORD dwType = 0;
    status = RegEnumValueW(key.m_hKey, index, name.data(), &cchName, nullptr, &dwType, data.data(),
                           &cbData);
    if (status == ERROR_SUCCESS) {
      pName->assign(name.data(), cchName);
      Decode(dwType, data.data(), cbData, pValue);
      return S_OK;
    }
  }
  return status == ERROR_NO_MORE_ITEMS ? S_FALSE : FromStatus(status);
}

HRESULT CSystemRegistry::EnumSubkey(RegistryRoot root, const std::wstring& path, DWORD index,
                                    std::wstring* pName) {
  if (pName == nullptr) return E_POINTER;
  CScopedKey key;
  HRESULT hr = key.Open(root, path, KEY_ENUMERATE_SUB_KEYS);
  if (FAILED(hr)) return hr;
  wchar_t name[256];  // key names are at most 255 characters
  DWORD cchName = 256;
  const LONG status =
      RegEnumKeyExW(key.m_hKey, index, name, &cchName, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_NO_MORE_ITEMS) return S_FALSE;
  if (status != ERROR_SUCCESS) return FromStatus(status);
  pName->assign(name, cchName);
  return S_OK;
}

HRESULT CSystemRegistry::DeleteKey(RegistryRoot root, const std::wstring& path) {
  if (path.empty()) return E_INVALIDARG;  // a root cannot be deleted
  return FromStatus(RegDeleteKeyW(RootKey(root), path.c_str()));
}

}  // namespace flvdmx

// IRegistry: the hierarchical key-value store that registration writes to,
// reduced to what registration needs. On Windows CSystemRegistry forwards to
// the platform registry; CMemoryRegistry keeps a store in memory for tests and
// for hosts without a registry.
//
// Keys are named by a root and a backslash-separated path below it; every
// call opens what it needs and closes it again, so no handles cross this
// interface. Key and value names compare without regard to letter case, as on
// Windows. The empty value name is the key's default value. Failures are
// HRESULTs; system error codes come back as HRESULT_FROM_WIN32 (a missing key
// or value is 0x80070002).
#pragma once

#include <string>

#include "platform/com.h"

namespace flvdmx {

enum class RegistryRoot { kClassesRoot, kLocalMachine, kCurrentUser };

// Value types, numbered as the platform numbers them.
enum RegistryValueType : DWORD {
  kRegTypeNone = 0,
  kRegTypeString = 1,        // REG_SZ
  kRegTypeExpandString = 2,  // REG_EXPAND_SZ
  kRegTypeBinary = 3,        // REG_BINARY
  kRegTypeDword = 4,         // REG_DWORD
};

// A value as read back. m_cbData is the stored byte length, so that a number
// of the wrong size can be told apart from a real 32-bit number; strings are
// counted in UTF-16 units with their terminating zero, as the platform stores
// them.
struct RegistryValue {
  DWORD m_dwType = kRegTypeNone;
  DWORD m_cbData = 0;
  std::wstring m_strText;  // string types only, without the terminator
  DWORD m_dwNumber = 0;    // 4-byte values only

  bool IsString() const { return m_dwType == kRegTypeString || m_dwType == kRegTypeExpandString; }
  bool IsDword() const { return m_dwType == kRegTypeDword && m_cbData == sizeof(DWORD); }
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // Opens the key, creating it and any missing keys above it. *pbCreated
  // (optional) tells whether the key itself was new.
  virtual HRESULT CreateKey(RegistryRoot root, const std::wstring& path, bool* pbCreated) = 0;
  // S_OK when the key exists and can be opened; nothing is created.
  virtual HRESULT OpenKey(RegistryRoot root, const std::wstring& path) = 0;

  virtual HRESULT QueryValue(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                             RegistryValue* pValue) = 0;
  // The key must exist already; strings are stored with their terminator.
  virtual HRESULT SetString(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                            const std::wstring& text) = 0;
  virtual HRESULT SetDword(RegistryRoot root, const std::wstring& path, const std::wstring& name,
                           DWORD dwValue) = 0;

  // The value or subkey at `index` in the platform's order (values in the
  // order written, subkeys sorted); S_FALSE past the last one.
  virtual HRESULT EnumValue(RegistryRoot root, const std::wstring& path, DWORD index,
                            std::wstring* pName, RegistryValue* pValue) = 0;
  virtual HRESULT EnumSubkey(RegistryRoot root, const std::wstring& path, DWORD index,
                             std::wstring* pName) = 0;

  // Deletes one key with its values. A key that still has subkeys is refused
  // (0x80070005), as the platform refuses it; see DeleteKeyTree.
  virtual HRESULT DeleteKey(RegistryRoot root, const std::wstring& path) = 0;
};

}  // namespace flvdmx

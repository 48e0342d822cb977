#include "com_text.h"

namespace flvdmx::cli {

std::string GuidText(const GUID& guid) {
  char text[39];
  FormatGuid(guid, text);
  return text;
}

std::string NarrowName(const wchar_t* pName) {
  std::string name;
  for (; pName != nullptr && *pName != 0; ++pName)
    name.push_back(*pName < 0x80 ? static_cast<char>(*pName) : '?');
  return name;
}

}  // namespace flvdmx::cli

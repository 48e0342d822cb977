// Text of COM values for the tool's output.
#pragma once

#include <string>

#include "platform/dshow.h"

namespace flvdmx::cli {

// "{73646976-0000-0010-8000-00AA00389B71}": the platform's canonical text.
std::string GuidText(const GUID& guid);

// "Video" from a pin's wide name (pin names are ASCII).
std::string NarrowName(const wchar_t* pName);

}  // namespace flvdmx::cli

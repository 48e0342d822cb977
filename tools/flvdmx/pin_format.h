// What `probe` says about an output pin's media type beyond its GUIDs: the
// format block decoded (picture size and frame duration, or the wave format
// and AAC's AudioSpecificConfig), as JSON fields and as one line for people.
// Pure functions over the media type.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "baseclasses/mediatype.h"

namespace flvdmx::cli {

struct DecodedFormat {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  std::string text;
};

// Nothing for a format block that is not the pin's kind or is too short.
DecodedFormat DecodeFormat(const CMediaType& mt);

// The four characters of a FOURCC subtype, or "" for another identity.
std::string FourccText(const GUID& subtype);

// Lower-case hex of the bytes.
std::string Hex(const BYTE* p, ULONG cb);

}  // namespace flvdmx::cli

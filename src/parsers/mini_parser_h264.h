// CMiniParserH264: the H.264 mini-parser. A group starts at a sequence
// parameter set and spans it and the picture parameter set after it; only
// the sequence parameter set is parsed (by the H.264 library), the picture
// parameter set just marks where it ends.
//
// Created and owned by the video stream description; see CMiniParser.
#pragma once

#include "parsers/mini_parser.h"

namespace flvdmx {

class CMiniParserH264 : public CMiniParser {
 public:
  CMiniParserH264();
  ~CMiniParserH264() override;

  // kParsed, kNotFound (no sequence parameter set, or the library rejected
  // it; *pInfo unchanged), kIncomplete (no start code after it yet) or
  // kOutOfMemory. Public so that the
  // parameter sets of a decoder configuration can be parsed directly.
  ParameterSetsResult ParseParameterSets(VideoStreamInfo* pInfo, const uint8_t* pData,
                                         uint32_t cbData, const uint8_t** ppResume) override;
};

}  // namespace flvdmx

// CMiniParserH265: the H.265 mini-parser. A group starts at a video
// parameter set; the parser needs a video, a sequence and a picture
// parameter set (in any order after the first video parameter set), parses
// all three and derives the stream information from them.
//
// Created and owned by the video stream description; it owns the three
// records, each holding the last set of its kind that was parsed.
#pragma once

#include "parsers/h265_parameter_sets.h"
#include "parsers/mini_parser.h"

namespace flvdmx {

class CMiniParserH265 : public CMiniParser {
 public:
  CMiniParserH265();
  ~CMiniParserH265() override;

  // kParsed (info filled), kNotFound (a kind is missing, a unit is too
  // short or rejected, or a video or sequence parameter set has no start
  // code after it) or kOutOfMemory. Never kIncomplete. Public so that the parameter sets of a
  // decoder configuration can be parsed directly.
  ParameterSetsResult ParseParameterSets(VideoStreamInfo* pInfo, const uint8_t* pData,
                                         uint32_t cbData, const uint8_t** ppResume) override;

 private:
  void FillStreamInfo(VideoStreamInfo* pInfo) const;

  H265VideoParameterSet m_Vps{};
  H265SeqParameterSet m_Sps{};  // some 24 KB: reference picture sets, HRD tables
  H265PicParameterSet m_Pps{};
};

}  // namespace flvdmx

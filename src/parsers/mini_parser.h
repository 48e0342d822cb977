// CMiniParser: finds the parameter sets of a compressed video elementary
// stream in start-code form, has the concrete parser parse them, and keeps
// what a media type needs (VideoStreamInfo) plus the raw parameter-set bytes.
//
// Input may come in pieces of any size: a few bytes are carried over between
// calls so that a start code split across two calls is still found, and a
// parameter-set group cut off by the end of one call is held until the rest
// arrives. Once a group has been parsed the parser is done and ignores
// further input.
//
// Owned by the video stream description that created it; it owns its two
// buffers. Not thread-safe: one caller at a time.
#pragma once

#include <cstdint>

#include "base/buffer.h"
#include "nal/video_stream_info.h"
#include "platform/com.h"

namespace flvdmx {

// Statuses of Parse. Negative HRESULTs (E_OUTOFMEMORY) are failures.
inline constexpr HRESULT kMiniParserFound = 0;
inline constexpr HRESULT kMiniParserNothingYet = 1;  // S_FALSE: nothing yet, or already done
inline constexpr HRESULT kMiniParserIncomplete = 7;  // a group began; waiting for its end

// Outcome of ParseParameterSets; it stays between a parser and its base.
enum class ParameterSetsResult {
  kParsed,
  kNotFound,  // absent or not parsable
  kIncomplete,
  kOutOfMemory,
};

class CMiniParser {
 public:
  enum State : uint32_t { kSearching = 0, kDone = 1, kWaitingForRest = 2 };

  CMiniParser(const CMiniParser&) = delete;
  CMiniParser& operator=(const CMiniParser&) = delete;
  virtual ~CMiniParser();

  // Feeds the next piece of the stream: kMiniParserFound when a complete
  // group was found and parsed now, kMiniParserNothingYet, kMiniParserIncomplete,
  // or E_OUTOFMEMORY.
  virtual HRESULT Parse(const uint8_t* pData, uint32_t cbData);

  const VideoStreamInfo& GetStreamInfo() const { return m_Info; }
  uint32_t GetState() const { return m_dwState; }
  // The units of the parsed group (or, while waiting, of the incomplete one).
  const CBuffer& GetParameterSets() const { return m_ParameterSets; }

 protected:
  // triggerMask/triggerValue: a unit whose header byte & mask == value starts
  // a group. groupSize: start codes that follow the trigger unit in a
  // complete group.
  CMiniParser(uint8_t triggerMask, uint8_t triggerValue, int groupSize);

  // Parses the group whose trigger unit's start code begins at pData:
  // kParsed (info filled), kNotFound, kIncomplete or kOutOfMemory. On
  // kNotFound a parser that walked past further trigger units may set
  // *ppResume (when not null) to where the search goes on: no group
  // starting before it can parse either. Without it a run of trigger units
  // would each be walked to the end, quadratic in the input.
  virtual ParameterSetsResult ParseParameterSets(VideoStreamInfo* pInfo, const uint8_t* pData,
                                                 uint32_t cbData, const uint8_t** ppResume) = 0;

 private:
  HRESULT Search(const uint8_t* pInput, const uint8_t* pEnd, bool inCarryOver);
  HRESULT KeepGroup(const uint8_t* pStartCode, const uint8_t* pEnd);
  void KeepTail(const uint8_t* pInput, const uint8_t* pEnd, bool inCarryOver);

  uint32_t m_dwState = kSearching;
  VideoStreamInfo m_Info;
  CBuffer m_ParameterSets;
  // The last four bytes of the previous input, or all of it when it was
  // too short to search or a unit began right at its end.
  CBuffer m_CarryOver;
  const uint8_t m_bTriggerMask;
  const uint8_t m_bTriggerValue;
  const int m_iGroupSize;
};

}  // namespace flvdmx

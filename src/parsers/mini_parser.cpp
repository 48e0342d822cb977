#include "parsers/mini_parser.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "parsers/start_code.h"

namespace flvdmx {

namespace {
constexpr int kCarryOverBytes = 4;  // a start code and a header byte
}

CMiniParser::CMiniParser(uint8_t triggerMask, uint8_t triggerValue, int groupSize)
    : m_bTriggerMask(triggerMask), m_bTriggerValue(triggerValue), m_iGroupSize(groupSize) {}

CMiniParser::~CMiniParser() = default;

HRESULT CMiniParser::Parse(const uint8_t* pData, uint32_t cbData) {
  if (m_dwState == kDone) return S_FALSE;
  if (!pData) cbData = 0;
  const int cbIn = cbData > static_cast<uint32_t>(INT32_MAX) ? -1 : static_cast<int>(cbData);

  // The search runs over carry-over + held group + new data, joined in the
  // carry-over buffer; when memory for that runs out only the new data is
  // searched.
  bool joined = false;
  if (m_dwState == kWaitingForRest) {
    m_dwState = kSearching;
    m_CarryOver.Clear();  // emptied when the group was put on hold
    if (cbIn >= 0 && SUCCEEDED(m_ParameterSets.Append(pData, cbIn))) {
      m_CarryOver.Swap(&m_ParameterSets);
      joined = true;
    }
    m_ParameterSets.Clear();
  } else if (cbIn >= 0 && SUCCEEDED(m_CarryOver.Append(pData, cbIn))) {
    joined = true;
  }

  if (joined) {
    const uint8_t* pInput = m_CarryOver.Data();
    return Search(pInput, pInput + m_CarryOver.Size(), true);
  }
  m_CarryOver.Clear();
  return Search(pData, pData + cbData, false);
}

HRESULT CMiniParser::Search(const uint8_t* pInput, const uint8_t* pEnd, bool inCarryOver) {
  const uint8_t* pCur = pInput;
  for (;;) {
    const uint8_t* pHeader = FindStartCode(pCur, static_cast<size_t>(pEnd - pCur));
    if (!pHeader) {
      KeepTail(pInput, pEnd, inCarryOver);
      return S_FALSE;
    }
    // The next start code may begin at this header byte: a zero there
    // makes the unit empty.
    pCur = pHeader;
    if ((*pHeader & m_bTriggerMask) == m_bTriggerValue) {
      const uint8_t* pStartCode = pHeader - 3;
      const uint32_t cbGroup = static_cast<uint32_t>(pEnd - pStartCode);
      const uint8_t* pResume = pCur;
      const ParameterSetsResult result = ParseParameterSets(&m_Info, pStartCode, cbGroup, &pResume);
      if (result == ParameterSetsResult::kIncomplete) {
        // Hold the group before dropping the carry-over it may live in.
        if (FAILED(m_ParameterSets.Assign(pStartCode, static_cast<int>(cbGroup)))) {
          KeepTail(pInput, pEnd, inCarryOver);
          return E_OUTOFMEMORY;
        }
        m_CarryOver.Clear();
        m_dwState = kWaitingForRest;
        return kMiniParserIncomplete;
      }
      if (result == ParameterSetsResult::kParsed) return KeepGroup(pStartCode, pEnd);
      if (pResume > pCur && pResume <= pEnd) pCur = pResume;
    }
    if (pEnd - pCur < 5) {
      KeepTail(pInput, pEnd, inCarryOver);
      return S_FALSE;
    }
  }
}

HRESULT CMiniParser::KeepGroup(const uint8_t* pStartCode, const uint8_t* pEnd) {
  m_dwState = kDone;
  const uint8_t* pGroupEnd = pEnd;
  const uint8_t* pUnit = pStartCode + 3;
  int found = 0;
  while (found < m_iGroupSize) {
    const uint8_t* pNext = FindStartCode(pUnit, static_cast<size_t>(pEnd - pUnit));
    if (!pNext) break;
    pUnit = pNext;
    ++found;
  }
  // A complete group ends with the start code of the unit after it.
  if (found == m_iGroupSize) pGroupEnd = pUnit;
  const HRESULT hr = m_ParameterSets.Assign(pStartCode, static_cast<int>(pGroupEnd - pStartCode));
  m_CarryOver.Clear();
  return FAILED(hr) ? hr : kMiniParserFound;
}

void CMiniParser::KeepTail(const uint8_t* pInput, const uint8_t* pEnd, bool inCarryOver) {
  // Only a unit that begins in the last bytes can still be found. Four are
  // kept, not three: a start code whose header byte ends the input was not
  // found (a unit needs a byte after its header) and would lose its first
  // zero. A shorter input is kept whole.
  const int cbKeep = static_cast<int>(std::min<ptrdiff_t>(pEnd - pInput, kCarryOverBytes));
  if (cbKeep == 0) {
    m_CarryOver.Clear();
  } else if (inCarryOver) {
    std::memmove(m_CarryOver.Data(), pEnd - cbKeep, static_cast<size_t>(cbKeep));
    m_CarryOver.SetSize(cbKeep);
  } else if (FAILED(m_CarryOver.Assign(pEnd - cbKeep, cbKeep))) {
    m_CarryOver.Clear();
  }
}

}  // namespace flvdmx

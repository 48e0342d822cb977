#include "parsers/mini_parser.h"

#include <cstring>

#include "baseclasses/mediatype.h"
#include "parsers/start_code.h"
#include "platform/mediatypes.h"

namespace flvdmx {

namespace {
constexpr uint32_t kVideoInfoHeaderSize = 88;
constexpr int kCarryOverBytes = 4;  // a start code and a header byte
}

CMiniParser::CMiniParser(uint8_t triggerMask, uint8_t triggerValue, int groupSize, uint32_t fourcc)
    : m_bTriggerMask(triggerMask), m_bTriggerValue(triggerValue), m_iGroupSize(groupSize), m_dwFourcc(fourcc) {}

CMiniParser::~CMiniParser() = default;

HRESULT CMiniParser::Parse(const uint8_t* pData, uint32_t cbData) {
  if (m_dwState == kDone) return S_FALSE;
  if (!pData) cbData = 0;
  const int cbIn = cbData > static_cast<uint32_t>(INT32_MAX) ? -1 : static_cast<int>(cbData);

  if (m_dwState == kSearching && m_ParameterSets.Size() > 0) {
    if (ParseParameterSets(&m_Info, m_ParameterSets.Data(), static_cast<uint32_t>(m_ParameterSets.Size())) ==
        kParameterSetsParsed) {
      m_dwState = kDone;
      return kMiniParserFound;
    }
  }

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
      KeepTail(pInput, pCur, pEnd, inCarryOver);
      return S_FALSE;
    }
    if ((*pHeader & m_bTriggerMask) == m_bTriggerValue) {
      const uint8_t* pStartCode = pHeader - 3;
      const uint32_t cbGroup = static_cast<uint32_t>(pEnd - pStartCode);
      const HRESULT hr = ParseParameterSets(&m_Info, pStartCode, cbGroup);
      if (hr == kParameterSetsIncomplete) {
        // Hold the group before dropping the carry-over it may live in.
        if (FAILED(m_ParameterSets.Assign(pStartCode, static_cast<int>(cbGroup)))) {
          KeepTail(pInput, pHeader + 1, pEnd, inCarryOver);
          return E_OUTOFMEMORY;
        }
        m_CarryOver.Clear();
        m_dwState = kWaitingForRest;
        return kMiniParserIncomplete;
      }
      if (hr == kParameterSetsParsed) return KeepGroup(pStartCode, pEnd);
    }
    pCur = pHeader + 1;
    if (pEnd - pCur < 5) {
      KeepTail(pInput, pCur, pEnd, inCarryOver);
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

void CMiniParser::KeepTail(const uint8_t* pInput, const uint8_t* pCur, const uint8_t* pEnd, bool inCarryOver) {
  if (pEnd - pCur >= 4) {
    // Only a unit that begins in the last bytes can still be found. Four
    // are kept, not three: a start code whose header byte ends the input
    // was not found (a unit needs a byte after its header) and would lose
    // its first zero.
    if (inCarryOver) {
      std::memmove(m_CarryOver.Data(), pEnd - kCarryOverBytes, kCarryOverBytes);
      m_CarryOver.SetSize(kCarryOverBytes);
    } else if (FAILED(m_CarryOver.Assign(pEnd - kCarryOverBytes, kCarryOverBytes))) {
      m_CarryOver.Clear();
    }
    return;
  }
  // Too little was left to search: keep the whole input for the next call.
  if (!inCarryOver && FAILED(m_CarryOver.Assign(pInput, static_cast<int>(pEnd - pInput)))) m_CarryOver.Clear();
}

HRESULT CMiniParser::GetMediaType(CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  const uint32_t cbSets = static_cast<uint32_t>(m_ParameterSets.Size());
  BYTE* pFormat = pmt->AllocFormatBuffer(kVideoInfoHeaderSize + cbSets);
  if (!pFormat) return E_OUTOFMEMORY;

  const GUID subtype = FourccGuid(m_dwFourcc);
  pmt->SetType(&MEDIATYPE_Video);
  pmt->SetSubtype(&subtype);
  pmt->SetFormatType(&FORMAT_VideoInfo);
  pmt->SetTemporalCompression(TRUE);

  VIDEOINFOHEADER vih;
  std::memset(&vih, 0, sizeof(vih));
  // A rate of zero means nothing was parsed: no frame time rather than a
  // division by zero.
  if (m_Info.m_dFrameRate > 0) vih.AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / m_Info.m_dFrameRate);
  vih.bmiHeader.biSize = 40 + cbSets;
  vih.bmiHeader.biWidth = static_cast<LONG>(m_Info.m_dwWidth);
  vih.bmiHeader.biHeight = static_cast<LONG>(m_Info.m_dwHeight);
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = 24;
  vih.bmiHeader.biCompression = m_dwFourcc;
  // Computed wide: a hostile size must not overflow.
  const int64_t stride = (int64_t{vih.bmiHeader.biWidth} * 24 + 31) / 32 * 4;
  const int64_t rows = vih.bmiHeader.biHeight < 0 ? -int64_t{vih.bmiHeader.biHeight} : vih.bmiHeader.biHeight;
  vih.bmiHeader.biSizeImage = static_cast<DWORD>(static_cast<uint64_t>(stride * rows));

  std::memcpy(pFormat, &vih, kVideoInfoHeaderSize);
  if (cbSets) std::memcpy(pFormat + kVideoInfoHeaderSize, m_ParameterSets.Data(), cbSets);
  return S_OK;
}

}  // namespace flvdmx

#include "obu_writer.h"

#include <algorithm>

namespace flvdmx::cli {

namespace {

constexpr uint8_t kObuSequenceHeader = 1;
constexpr uint8_t kObuTemporalDelimiter = 2;
// A temporal delimiter OBU: type 2 with a size field of 0.
constexpr uint8_t kTemporalDelimiter[] = {kObuTemporalDelimiter << 3 | 0x02, 0x00};

// leb128 as OBU sizes use it: at most eight bytes.
bool ReadLeb128(const uint8_t* p, size_t cb, size_t* pPos, uint64_t* pValue) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) {
    if (*pPos >= cb) return false;
    const uint8_t byte = p[(*pPos)++];
    value |= uint64_t{byte & 0x7Fu} << (7 * i);
    if ((byte & 0x80) == 0) {
      *pValue = value;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ListObuTypes(const uint8_t* pData, size_t cb, std::vector<uint8_t>* pTypes, size_t* pcbFirst) {
  pTypes->clear();
  *pcbFirst = 0;
  size_t pos = 0;
  while (pos < cb) {
    const uint8_t header = pData[pos++];
    pTypes->push_back(header >> 3 & 0x0F);
    if (header & 0x04) ++pos;  // extension header
    uint64_t cbObu = cb - std::min(pos, cb);
    if (header & 0x02) {
      if (!ReadLeb128(pData, cb, &pos, &cbObu)) return false;
    } else if (pos > cb) {
      return false;
    }
    if (pos > cb || cbObu > cb - pos) return false;
    pos += static_cast<size_t>(cbObu);
    if (*pcbFirst == 0) *pcbFirst = pos;
  }
  return true;
}

ObuWriter::~ObuWriter() { CloseFile(&m_pFile); }

bool ObuWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) {
  if (m_pFile == nullptr) return false;
  std::vector<uint8_t> types;
  size_t cbFirst = 0;
  if (!ListObuTypes(pData, cb, &types, &cbFirst)) ++m_cMalformed;
  // The unit's own delimiter, if any, gives way to the one written here.
  if (!types.empty() && types[0] == kObuTemporalDelimiter && cbFirst <= cb) {
    pData += cbFirst;
    cb -= cbFirst;
  }
  const bool bHasSequenceHeader =
      std::find(types.begin(), types.end(), kObuSequenceHeader) != types.end();
  bool bOk = WriteBytes(m_pFile, kTemporalDelimiter, sizeof kTemporalDelimiter);
  if (m_cSamples == 0 && !bHasSequenceHeader)
    bOk = bOk && WriteBytes(m_pFile, m_ConfigObus.data(), m_ConfigObus.size());
  ++m_cSamples;
  return bOk && WriteBytes(m_pFile, pData, cb);
}

bool ObuWriter::Finish() { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

}  // namespace flvdmx::cli

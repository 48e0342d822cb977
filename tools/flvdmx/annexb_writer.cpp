#include "annexb_writer.h"

#include <utility>

#include "streams/decoder_config.h"

namespace flvdmx::cli {

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
// HEVC samples start with the packet type and the 24-bit composition time.
constexpr size_t kHevcPacketHeader = 4;
constexpr uint8_t kCodedPicturesPacket = 1;

class UnitCollector final : public DecoderConfigUnitSink {
 public:
  explicit UnitCollector(ParameterSets* pSets) : m_pSets(pSets) {}
  bool OnUnit(const uint8_t* pUnit, size_t cbUnit) override {
    m_pSets->units.emplace_back(pUnit, pUnit + cbUnit);
    return true;
  }

 private:
  ParameterSets* m_pSets;
};

bool Collect(const uint8_t* pRecord, size_t cbRecord, DecoderConfigLayout layout,
             ParameterSets* pSets) {
  UnitCollector collector(pSets);
  return ParseDecoderConfigRecord(pRecord, cbRecord, layout, &collector, &pSets->cbLengthSize) ==
         DecoderConfigResult::kParsed;
}

// Whether the sample is length-prefixed units that end exactly at its end.
bool TilesAsUnits(const uint8_t* pData, size_t cb, size_t cbLength) {
  size_t pos = 0;
  while (pos < cb) {
    if (cbLength == 0 || cbLength > cb - pos) return false;
    size_t cbUnit = 0;
    for (size_t i = 0; i < cbLength; ++i) cbUnit = cbUnit << 8 | pData[pos + i];
    pos += cbLength;
    if (cbUnit > cb - pos) return false;
    pos += cbUnit;
  }
  return true;
}

}  // namespace

bool ParseDecoderConfiguration(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                               ParameterSets* pOut) {
  ParameterSets sets;
  bool bOk = false;
  if (!bHevc) {
    bOk = Collect(pRecord, cbRecord, DecoderConfigLayout::kAvc, &sets);
  } else {
    bOk = Collect(pRecord, cbRecord, DecoderConfigLayout::kHvcc, &sets);
    if (!bOk) {
      sets = ParameterSets();
      bOk = Collect(pRecord, cbRecord, DecoderConfigLayout::kHevcAvcLike, &sets);
    }
  }
  if (bOk) *pOut = std::move(sets);
  return bOk;
}

AnnexBWriter::AnnexBWriter(bool bHevc, ParameterSets sets)
    : StreamWriter(bHevc ? "H.265 Annex B" : "H.264 Annex B"),
      m_bHevc(bHevc),
      m_Sets(std::move(sets)) {}

AnnexBWriter::~AnnexBWriter() { CloseFile(&m_pFile); }

bool AnnexBWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool bSync) {
  if (m_pFile == nullptr) return false;
  // The filter leaves the packet type and composition time in front of
  // HEVC data from legacy tags, and delivers their sequence header and
  // end-of-sequence packets too: only coded pictures go into the stream.
  // HEVC from enhanced (FourCC) tags comes as bare units, with the same
  // media type: a sample whose units tile it exactly and that is not a
  // coded-picture packet is one of those. (A 4-byte prefix starting with 1
  // would be a unit of 16 MB.)
  const bool bBareUnits = m_bHevc && (cb == 0 || pData[0] != kCodedPicturesPacket) &&
                          TilesAsUnits(pData, cb, m_Sets.cbLengthSize);
  if (m_bHevc && !bBareUnits) {
    if (cb < kHevcPacketHeader) {
      ++m_cMalformed;
      return true;
    }
    if (pData[0] != kCodedPicturesPacket) return true;
    pData += kHevcPacketHeader;
    cb -= kHevcPacketHeader;
  }
  m_Out.clear();
  if (m_cSamples == 0 || bSync) {
    for (const auto& unit : m_Sets.units) Append(unit.data(), unit.size());
  }
  AppendSample(pData, cb);
  ++m_cSamples;
  return WriteBytes(m_pFile, m_Out.data(), m_Out.size());
}

// Each length-prefixed unit with a start code instead; a unit that runs
// past the sample is written as far as it goes.
void AnnexBWriter::AppendSample(const uint8_t* pData, size_t cb) {
  const size_t cbLength = m_Sets.cbLengthSize;
  size_t pos = 0;
  while (pos < cb) {
    if (cbLength > cb - pos) {
      ++m_cMalformed;
      break;
    }
    size_t cbUnit = 0;
    for (size_t i = 0; i < cbLength; ++i) cbUnit = cbUnit << 8 | pData[pos + i];
    pos += cbLength;
    if (cbUnit > cb - pos) {
      ++m_cMalformed;
      cbUnit = cb - pos;
    }
    Append(pData + pos, cbUnit);
    pos += cbUnit;
  }
}

bool AnnexBWriter::Finish() { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

void AnnexBWriter::Append(const uint8_t* p, size_t n) {
  m_Out.insert(m_Out.end(), kStartCode, kStartCode + sizeof kStartCode);
  m_Out.insert(m_Out.end(), p, p + n);
}

}  // namespace flvdmx::cli

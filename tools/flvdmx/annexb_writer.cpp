#include "annexb_writer.h"

#include <utility>

#include "streams/decoder_config.h"

namespace flvdmx::cli {

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

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
    : StreamWriter(bHevc ? "H.265 Annex B" : "H.264 Annex B"), m_Sets(std::move(sets)) {}

AnnexBWriter::~AnnexBWriter() { CloseFile(&m_pFile); }

bool AnnexBWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool bSync) {
  if (m_pFile == nullptr) return false;
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

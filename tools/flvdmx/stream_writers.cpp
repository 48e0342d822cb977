#include "stream_writers.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/mediatypes.h"

namespace flvdmx::cli {

namespace {

// Big stdio buffers: samples arrive in many small writes.
constexpr size_t kFileBuffer = 1 << 20;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
constexpr size_t kAdtsHeaderSize = 7;
constexpr size_t kMaxAdtsFrame = 0x1FFF;  // 13-bit frame length, header included
constexpr uint32_t kAdtsFrequencies[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
constexpr size_t kWavHeaderSize = 44;
// HEVC samples start with the packet type and the 24-bit composition time.
constexpr size_t kHevcPacketHeader = 4;
constexpr uint8_t kCodedPicturesPacket = 1;

uint32_t LoadBE16(const uint8_t* p) { return uint32_t{p[0]} << 8 | p[1]; }

void StoreLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void StoreLE32(uint8_t* p, uint32_t v) {
  StoreLE16(p, v & 0xFFFF);
  StoreLE16(p + 2, v >> 16);
}

// Bounded reads over a record: every read checks what is left first.
class RecordCursor {
 public:
  RecordCursor(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
  [[nodiscard]] bool Byte(uint8_t* pValue) {
    if (m_pos >= m_n) return false;
    *pValue = m_p[m_pos++];
    return true;
  }
  [[nodiscard]] bool BE16(uint32_t* pValue) {
    if (2 > m_n - m_pos) return false;
    *pValue = LoadBE16(m_p + m_pos);
    m_pos += 2;
    return true;
  }
  [[nodiscard]] bool Skip(size_t n) {
    if (n > m_n - m_pos) return false;
    m_pos += n;
    return true;
  }
  bool AtEnd() const { return m_pos == m_n; }
  // A unit with a 16-bit length in front.
  [[nodiscard]] bool Unit(std::vector<uint8_t>* pUnit) {
    uint32_t cb = 0;
    if (!BE16(&cb) || cb > m_n - m_pos) return false;
    pUnit->assign(m_p + m_pos, m_p + m_pos + cb);
    m_pos += cb;
    return true;
  }

 private:
  const uint8_t* m_p;
  size_t m_n;
  size_t m_pos = 0;
};

// Most-significant-bit-first reads over an AudioSpecificConfig.
class ConfigBits {
 public:
  ConfigBits(const uint8_t* p, size_t n) : m_p(p), m_cBits(n * 8) {}
  [[nodiscard]] bool Read(int cBits, uint32_t* pValue) {
    if (static_cast<size_t>(cBits) > m_cBits - m_bit) return false;
    uint32_t v = 0;
    for (int i = 0; i < cBits; ++i, ++m_bit)
      v = v << 1 | ((m_p[m_bit / 8] >> (7 - m_bit % 8)) & 1u);
    *pValue = v;
    return true;
  }

 private:
  const uint8_t* m_p;
  size_t m_cBits;
  size_t m_bit = 0;
};

bool ReadObjectType(ConfigBits& bits, uint32_t* pType) {
  if (!bits.Read(5, pType)) return false;
  if (*pType != 31) return true;
  uint32_t ext = 0;
  if (!bits.Read(6, &ext)) return false;
  *pType = 32 + ext;
  return true;
}

// The frequency index, an explicit 24-bit frequency mapped to the nearest.
bool ReadFrequencyIndex(ConfigBits& bits, uint8_t* pIndex) {
  uint32_t index = 0;
  if (!bits.Read(4, &index)) return false;
  if (index < 13) {
    *pIndex = static_cast<uint8_t>(index);
    return true;
  }
  if (index != 15) return false;
  uint32_t hz = 0;
  if (!bits.Read(24, &hz)) return false;
  uint8_t best = 0;
  for (uint8_t i = 1; i < 13; ++i) {
    const auto distance = [hz](uint32_t f) { return f > hz ? f - hz : hz - f; };
    if (distance(kAdtsFrequencies[i]) < distance(kAdtsFrequencies[best])) best = i;
  }
  *pIndex = best;
  return true;
}

bool ParseAvcLike(RecordCursor& cursor, uint32_t cLeading, ParameterSets* pOut) {
  for (uint32_t i = 0; i < cLeading; ++i) {
    std::vector<uint8_t> unit;
    if (!cursor.Unit(&unit)) return false;
    pOut->units.push_back(std::move(unit));
  }
  return true;
}

// AVCDecoderConfigurationRecord: every sequence and picture parameter set.
bool ParseAvcRecord(const uint8_t* p, size_t n, ParameterSets* pOut) {
  if (n < 7) return false;
  pOut->cbLengthSize = (p[4] & 3u) + 1;
  RecordCursor cursor(p, n);
  if (!cursor.Skip(6) || !ParseAvcLike(cursor, p[5] & 0x1Fu, pOut)) return false;
  uint8_t cPps = 0;
  if (!cursor.Byte(&cPps)) return false;
  return ParseAvcLike(cursor, cPps, pOut);
}

// HEVCDecoderConfigurationRecord: every unit of every array. Only a record
// that is exactly that (the arrays fill it, each holds parameter sets or SEI
// of its own type) counts: the AVC-like layout would otherwise pass for one.
bool ParseHvccRecord(const uint8_t* p, size_t n, ParameterSets* pOut) {
  if (n < 23 || p[0] != 1) return false;
  pOut->cbLengthSize = (p[21] & 3u) + 1;
  RecordCursor cursor(p, n);
  if (!cursor.Skip(22)) return false;
  uint8_t cArrays = 0;
  if (!cursor.Byte(&cArrays) || cArrays == 0) return false;
  for (uint8_t a = 0; a < cArrays; ++a) {
    uint8_t type = 0;
    uint32_t cUnits = 0;
    if (!cursor.Byte(&type) || !cursor.BE16(&cUnits)) return false;
    const uint8_t nalType = type & 0x3F;
    if (nalType < 32 || (nalType > 34 && nalType != 39 && nalType != 40)) return false;
    for (uint32_t i = 0; i < cUnits; ++i) {
      std::vector<uint8_t> unit;
      if (!cursor.Unit(&unit) || unit.empty() || ((unit[0] >> 1) & 0x3F) != nalType) return false;
      pOut->units.push_back(std::move(unit));
    }
  }
  return cursor.AtEnd();
}

// The layout the filter itself reads HEVC in: leading units counted by the
// low five bits of the sixth byte, then one counted picture parameter set.
bool ParseHevcAvcLikeRecord(const uint8_t* p, size_t n, ParameterSets* pOut) {
  if (n < 7) return false;
  pOut->cbLengthSize = (p[4] & 3u) + 1;
  RecordCursor cursor(p, n);
  return cursor.Skip(6) && ParseAvcLike(cursor, p[5] & 0x1Fu, pOut) && cursor.Skip(1) &&
         ParseAvcLike(cursor, 1, pOut);
}

// AVC and HEVC: length-prefixed NAL units to Annex B.
class AnnexBWriter final : public StreamWriter {
 public:
  AnnexBWriter(bool bHevc, ParameterSets sets)
      : StreamWriter(bHevc ? "H.265 Annex B" : "H.264 Annex B"), m_bHevc(bHevc), m_Sets(std::move(sets)) {}
  ~AnnexBWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool bSync) override {
    if (m_pFile == nullptr) return false;
    if (m_bHevc) {
      // The filter leaves the packet type and composition time in front of
      // HEVC data, and delivers the sequence header and end-of-sequence
      // packets too: only coded pictures go into the stream.
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
    ++m_cSamples;
    return WriteBytes(m_pFile, m_Out.data(), m_Out.size());
  }

  bool Finish() override { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

 private:
  void Append(const uint8_t* p, size_t n) {
    m_Out.insert(m_Out.end(), kStartCode, kStartCode + sizeof kStartCode);
    m_Out.insert(m_Out.end(), p, p + n);
  }

  const bool m_bHevc;
  ParameterSets m_Sets;
  std::FILE* m_pFile = nullptr;
  // Reused for every sample: no allocation once it has grown.
  std::vector<uint8_t> m_Out;
};

class AdtsWriter final : public StreamWriter {
 public:
  explicit AdtsWriter(const AdtsConfig& config) : StreamWriter("ADTS AAC"), m_Config(config) {}
  ~AdtsWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) override {
    if (m_pFile == nullptr) return false;
    // A frame too long for the header's length field is cut to it.
    if (cb > kMaxAdtsFrame - kAdtsHeaderSize) {
      ++m_cMalformed;
      cb = kMaxAdtsFrame - kAdtsHeaderSize;
    }
    uint8_t header[kAdtsHeaderSize];
    BuildAdtsHeader(m_Config, cb, header);
    ++m_cSamples;
    return WriteBytes(m_pFile, header, sizeof header) && WriteBytes(m_pFile, pData, cb);
  }

  bool Finish() override { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

 private:
  AdtsConfig m_Config;
  std::FILE* m_pFile = nullptr;
};

// Payloads one after the other (MPEG audio is self-framing).
class ConcatWriter final : public StreamWriter {
 public:
  explicit ConcatWriter(std::string kind) : StreamWriter(std::move(kind)) {}
  ~ConcatWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) { return OpenFile(path, &m_pFile); }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) override {
    if (m_pFile == nullptr) return false;
    ++m_cSamples;
    return WriteBytes(m_pFile, pData, cb);
  }

  bool Finish() override { return CloseFile(&m_pFile) && StreamWriter::Finish(); }

 private:
  std::FILE* m_pFile = nullptr;
};

class WavWriter final : public StreamWriter {
 public:
  explicit WavWriter(const WAVEFORMATEX& wfx) : StreamWriter("WAV PCM"), m_Format(wfx) {}
  ~WavWriter() override { CloseFile(&m_pFile); }

  bool Open(const std::string& path) {
    if (!OpenFile(path, &m_pFile)) return false;
    uint8_t header[kWavHeaderSize];
    BuildHeader(0, header);  // sizes filled in by Finish
    return WriteBytes(m_pFile, header, sizeof header);
  }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) override {
    if (m_pFile == nullptr) return false;
    ++m_cSamples;
    m_cbData += cb;
    return WriteBytes(m_pFile, pData, cb);
  }

  bool Finish() override {
    if (m_pFile != nullptr) {
      uint8_t header[kWavHeaderSize];
      BuildHeader(m_cbData, header);
      if (std::fseek(m_pFile, 0, SEEK_SET) != 0) {
        CloseFile(&m_pFile);
        return Fail(std::string("cannot complete the WAV header: ") + std::strerror(errno));
      }
      if (!WriteBytes(m_pFile, header, sizeof header)) {
        CloseFile(&m_pFile);
        return false;
      }
    }
    return CloseFile(&m_pFile) && StreamWriter::Finish();
  }

 private:
  void BuildHeader(uint64_t cbData, uint8_t header[kWavHeaderSize]) const {
    // RIFF sizes are 32-bit; a longer stream keeps the largest it can say.
    const uint32_t cbDataField =
        static_cast<uint32_t>(std::min<uint64_t>(cbData, 0xFFFFFFFFu - (kWavHeaderSize - 8)));
    std::memcpy(header, "RIFF", 4);
    StoreLE32(header + 4, cbDataField + (kWavHeaderSize - 8));
    std::memcpy(header + 8, "WAVEfmt ", 8);
    StoreLE32(header + 16, 16);
    StoreLE16(header + 20, WAVE_FORMAT_PCM);
    StoreLE16(header + 22, m_Format.nChannels);
    StoreLE32(header + 24, m_Format.nSamplesPerSec);
    StoreLE32(header + 28, m_Format.nAvgBytesPerSec);
    StoreLE16(header + 32, m_Format.nBlockAlign);
    StoreLE16(header + 34, m_Format.wBitsPerSample);
    std::memcpy(header + 36, "data", 4);
    StoreLE32(header + 40, cbDataField);
  }

  WAVEFORMATEX m_Format;
  std::FILE* m_pFile = nullptr;
  uint64_t m_cbData = 0;
};

// Streams without a standard raw form: the payloads, and where each one
// starts in time, how long it is and whether it is a key frame.
class IndexedRawWriter final : public StreamWriter {
 public:
  explicit IndexedRawWriter(std::string kind) : StreamWriter(std::move(kind)) {}
  ~IndexedRawWriter() override {
    CloseFile(&m_pData);
    CloseFile(&m_pIndex);
  }

  bool Open(const std::string& path) {
    return OpenFile(path, &m_pData) && OpenFile(path + ".jsonl", &m_pIndex);
  }

  bool Write(const uint8_t* pData, size_t cb, REFERENCE_TIME tStart, bool bSync) override {
    if (m_pData == nullptr || m_pIndex == nullptr) return false;
    ++m_cSamples;
    if (!WriteBytes(m_pData, pData, cb)) return false;
    if (std::fprintf(m_pIndex, "{\"time\":%" PRId64 ",\"size\":%" PRIu64 ",\"key\":%s}\n",
                     static_cast<int64_t>(tStart), static_cast<uint64_t>(cb), bSync ? "true" : "false") < 0) {
      return Fail(std::string("cannot write the index: ") + std::strerror(errno));
    }
    return true;
  }

  bool Finish() override {
    const bool bData = CloseFile(&m_pData);
    const bool bIndex = CloseFile(&m_pIndex);
    return bData && bIndex && StreamWriter::Finish();
  }

 private:
  std::FILE* m_pData = nullptr;
  std::FILE* m_pIndex = nullptr;
};

// The decoder configuration record behind a VIDEOINFOHEADER: the box right
// after the bitmap header, without its 8-byte size and type.
bool ConfigurationRecord(const AM_MEDIA_TYPE& mt, const uint8_t** ppRecord, size_t* pcbRecord) {
  *ppRecord = nullptr;
  *pcbRecord = 0;
  if (mt.formattype != FORMAT_VideoInfo || mt.pbFormat == nullptr ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER)) {
    return false;
  }
  const size_t cbBox = mt.cbFormat - sizeof(VIDEOINFOHEADER);
  if (cbBox == 0) return true;  // no sequence header was seen
  if (cbBox < 8) return false;
  const uint8_t* pBox = mt.pbFormat + sizeof(VIDEOINFOHEADER);
  const size_t cbDeclared = size_t{pBox[0]} << 24 | size_t{pBox[1]} << 16 | size_t{pBox[2]} << 8 | pBox[3];
  if (cbDeclared < 8 || cbDeclared > cbBox) return false;
  *ppRecord = pBox + 8;
  *pcbRecord = cbDeclared - 8;
  return true;
}

const WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || mt.pbFormat == nullptr ||
      mt.cbFormat < sizeof(WAVEFORMATEX)) {
    return nullptr;
  }
  return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

template <class Writer, class... Args>
std::unique_ptr<StreamWriter> Make(const std::string& path, std::string* pError, Args&&... args) {
  auto writer = std::make_unique<Writer>(std::forward<Args>(args)...);
  if (!writer->Open(path)) {
    *pError = writer->Error();
    return nullptr;
  }
  return writer;
}

}  // namespace

StreamWriter::~StreamWriter() = default;

bool StreamWriter::Finish() { return m_Error.empty(); }

bool StreamWriter::OpenFile(const std::string& path, std::FILE** ppFile) {
  *ppFile = std::fopen(path.c_str(), "wb");
  if (*ppFile == nullptr) return Fail("cannot create " + path + ": " + std::strerror(errno));
  std::setvbuf(*ppFile, nullptr, _IOFBF, kFileBuffer);
  m_Files.push_back(path);
  return true;
}

bool StreamWriter::WriteBytes(std::FILE* pFile, const void* pData, size_t cb) {
  if (cb == 0 || std::fwrite(pData, 1, cb, pFile) == cb) return true;
  return Fail(std::string("write failed: ") + std::strerror(errno));
}

bool StreamWriter::CloseFile(std::FILE** ppFile) {
  if (*ppFile == nullptr) return true;
  const int rc = std::fclose(*ppFile);
  *ppFile = nullptr;
  if (rc != 0) return Fail(std::string("write failed: ") + std::strerror(errno));
  return true;
}

bool StreamWriter::Fail(const std::string& error) {
  if (m_Error.empty()) m_Error = error;
  return false;
}

bool ParseDecoderConfiguration(const uint8_t* pRecord, size_t cbRecord, bool bHevc,
                               ParameterSets* pOut) {
  ParameterSets sets;
  bool bOk = false;
  if (!bHevc) {
    bOk = ParseAvcRecord(pRecord, cbRecord, &sets);
  } else {
    bOk = ParseHvccRecord(pRecord, cbRecord, &sets);
    if (!bOk) {
      sets = ParameterSets();
      bOk = ParseHevcAvcLikeRecord(pRecord, cbRecord, &sets);
    }
  }
  if (bOk) *pOut = std::move(sets);
  return bOk;
}

bool ParseAudioSpecificConfig(const uint8_t* pConfig, size_t cbConfig, AdtsConfig* pOut) {
  ConfigBits bits(pConfig, cbConfig);
  uint32_t objectType = 0;
  uint8_t frequencyIndex = 0;
  uint32_t channels = 0;
  if (!ReadObjectType(bits, &objectType) || !ReadFrequencyIndex(bits, &frequencyIndex) ||
      !bits.Read(4, &channels)) {
    return false;
  }
  // SBR and PS signalled explicitly: ADTS carries the core object type and
  // rate, and the decoder finds the extension in the frames.
  if (objectType == 5 || objectType == 29) {
    uint8_t extensionIndex = 0;
    if (!ReadFrequencyIndex(bits, &extensionIndex) || !ReadObjectType(bits, &objectType)) return false;
  }
  if (objectType < 1 || objectType > 4) return false;
  pOut->profile = static_cast<uint8_t>(objectType - 1);
  pOut->samplingFrequencyIndex = frequencyIndex;
  pOut->channelConfiguration = static_cast<uint8_t>(channels);
  return true;
}

uint32_t SamplingFrequency(uint8_t index) {
  return index < sizeof kAdtsFrequencies / sizeof kAdtsFrequencies[0] ? kAdtsFrequencies[index] : 0;
}

void BuildAdtsHeader(const AdtsConfig& config, size_t cbPayload, uint8_t header[7]) {
  const uint32_t frameLength = static_cast<uint32_t>(cbPayload + kAdtsHeaderSize);
  const uint32_t bufferFullness = 0x7FF;  // variable bit rate
  header[0] = 0xFF;
  header[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  header[2] = static_cast<uint8_t>((config.profile & 3u) << 6 |
                                   (config.samplingFrequencyIndex & 0xFu) << 2 |
                                   (config.channelConfiguration >> 2 & 1u));
  header[3] = static_cast<uint8_t>((config.channelConfiguration & 3u) << 6 | frameLength >> 11);
  header[4] = static_cast<uint8_t>(frameLength >> 3);
  header[5] = static_cast<uint8_t>((frameLength & 7u) << 5 | bufferFullness >> 6);
  header[6] = static_cast<uint8_t>((bufferFullness & 0x3Fu) << 2);  // one raw data block
}

std::unique_ptr<StreamWriter> CreateStreamWriter(const AM_MEDIA_TYPE& mt, const std::string& dir,
                                                 const std::string& baseName, std::string* pError) {
  // Native separators: the tool also runs on Windows.
  const std::string stem = (std::filesystem::path(dir) / baseName).string();
  const GUID& subtype = mt.subtype;

  if (subtype == MEDIASUBTYPE_avc1 || subtype == MEDIASUBTYPE_hvc1) {
    const bool bHevc = subtype == MEDIASUBTYPE_hvc1;
    const uint8_t* pRecord = nullptr;
    size_t cbRecord = 0;
    ParameterSets sets;
    if (!ConfigurationRecord(mt, &pRecord, &cbRecord) ||
        (cbRecord != 0 && !ParseDecoderConfiguration(pRecord, cbRecord, bHevc, &sets))) {
      *pError = "the decoder configuration is malformed";
      return nullptr;
    }
    return Make<AnnexBWriter>(stem + (bHevc ? ".h265" : ".h264"), pError, bHevc, std::move(sets));
  }

  if (subtype == MEDIASUBTYPE_mp4a) {
    const WAVEFORMATEX* pwfx = WaveFormat(mt);
    AdtsConfig config;
    const size_t cbExtra = pwfx == nullptr ? 0 : std::min<size_t>(pwfx->cbSize, mt.cbFormat - sizeof(WAVEFORMATEX));
    if (pwfx == nullptr ||
        !ParseAudioSpecificConfig(mt.pbFormat + sizeof(WAVEFORMATEX), cbExtra, &config)) {
      *pError = "the AudioSpecificConfig is missing or names no ADTS object type";
      return nullptr;
    }
    return Make<AdtsWriter>(stem + ".aac", pError, config);
  }

  if (subtype == MEDIASUBTYPE_MP3) return Make<ConcatWriter>(stem + ".mp3", pError, "MP3");
  if (subtype == MEDIASUBTYPE_MPEG1AudioPayload)
    return Make<ConcatWriter>(stem + ".mp2", pError, "MPEG audio");

  if (subtype == MEDIASUBTYPE_PCM) {
    const WAVEFORMATEX* pwfx = WaveFormat(mt);
    if (pwfx == nullptr) {
      *pError = "the PCM format block is missing";
      return nullptr;
    }
    return Make<WavWriter>(stem + ".wav", pError, *pwfx);
  }

  static const struct {
    const GUID* pSubtype;
    const char* pszExtension;
    const char* pszKind;
  } kRawKinds[] = {
      {&MEDIASUBTYPE_S263, ".s263", "Sorenson H.263 payloads"},
      {&MEDIASUBTYPE_FSV1, ".fsv1", "screen video payloads"},
      {&MEDIASUBTYPE_FSV2, ".fsv2", "screen video 2 payloads"},
      {&MEDIASUBTYPE_VP6F, ".vp6f", "VP6 payloads"},
      {&MEDIASUBTYPE_NELL, ".nelly", "Nellymoser payloads"},
      {&MEDIASUBTYPE_spex, ".speex", "Speex payloads"},
  };
  for (const auto& kind : kRawKinds) {
    if (subtype == *kind.pSubtype) return Make<IndexedRawWriter>(stem + kind.pszExtension, pError, kind.pszKind);
  }
  *pError = "no writer for this media subtype";
  return nullptr;
}

}  // namespace flvdmx::cli

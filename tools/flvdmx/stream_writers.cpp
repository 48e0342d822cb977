#include "stream_writers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "adts_writer.h"
#include "annexb_writer.h"
#include "codecs.h"
#include "concat_writer.h"
#include "enhanced_subtypes.h"
#include "flac_writer.h"
#include "ivf_writer.h"
#include "obu_writer.h"
#include "ogg_opus_writer.h"
#include "platform/mediatypes.h"
#include "raw_index_writer.h"
#include "wav_writer.h"

namespace flvdmx::cli {

namespace {

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
  const size_t cbDeclared =
      size_t{pBox[0]} << 24 | size_t{pBox[1]} << 16 | size_t{pBox[2]} << 8 | pBox[3];
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

// The bytes after a wave format's fixed part, as far as cbSize and the block reach.
std::vector<uint8_t> WaveExtra(const AM_MEDIA_TYPE& mt) {
  const WAVEFORMATEX* pwfx = WaveFormat(mt);
  if (pwfx == nullptr) return {};
  const size_t cbExtra = std::min<size_t>(pwfx->cbSize, mt.cbFormat - sizeof(WAVEFORMATEX));
  const uint8_t* p = mt.pbFormat + sizeof(WAVEFORMATEX);
  return std::vector<uint8_t>(p, p + cbExtra);
}

// A VIDEOINFOHEADER2 type: its picture and the codec record after it.
bool VideoInfo2(const AM_MEDIA_TYPE& mt, VIDEOINFOHEADER2* pvih, std::vector<uint8_t>* pRecord) {
  if (mt.formattype != FORMAT_VideoInfo2 || mt.pbFormat == nullptr ||
      mt.cbFormat < sizeof(VIDEOINFOHEADER2)) {
    return false;
  }
  std::memcpy(pvih, mt.pbFormat, sizeof *pvih);
  pRecord->assign(mt.pbFormat + sizeof(VIDEOINFOHEADER2), mt.pbFormat + mt.cbFormat);
  return true;
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

// AV1, VP9 and VP8: IVF, or AV1's own OBU stream.
std::unique_ptr<StreamWriter> CreateVpxAv1Writer(const AM_MEDIA_TYPE& mt, const std::string& stem,
                                                 const WriterOptions& options,
                                                 std::string* pError) {
  VIDEOINFOHEADER2 vih;
  std::vector<uint8_t> record;
  if (!VideoInfo2(mt, &vih, &record)) {
    *pError = "the VIDEOINFOHEADER2 format block is missing";
    return nullptr;
  }
  const bool bAv1 = mt.subtype == kSubtypeAv01;
  if (bAv1 && !options.bAv1Ivf) {
    // The sequence header OBUs follow the av1C record's four fixed bytes.
    if (record.size() > 4)
      record.erase(record.begin(), record.begin() + 4);
    else
      record.clear();
    return Make<ObuWriter>(stem + ".obu", pError, std::move(record));
  }
  const char* fourcc = bAv1 ? "AV01" : mt.subtype == kSubtypeVp90 ? "VP90" : "VP80";
  const auto width = static_cast<uint16_t>(vih.bmiHeader.biWidth);
  const auto height = static_cast<uint16_t>(std::abs(vih.bmiHeader.biHeight));
  return Make<IvfWriter>(stem + ".ivf", pError, fourcc, width, height);
}

// Opus, FLAC, AC-3 and E-AC-3; null with *pError empty for another subtype.
std::unique_ptr<StreamWriter> CreateEnhancedAudioWriter(const AM_MEDIA_TYPE& mt,
                                                        const std::string& stem,
                                                        std::string* pError) {
  const GUID& subtype = mt.subtype;
  if (subtype == kSubtypeOpus) {
    if (!OggOpusWriter::Available()) {
      *pError = "this build has no Ogg library, so it cannot write Opus";
      return nullptr;
    }
    std::vector<uint8_t> head = WaveExtra(mt);
    if (head.size() < 19 || std::memcmp(head.data(), "OpusHead", 8) != 0) {
      *pError = "the Opus identification header is missing";
      return nullptr;
    }
    return Make<OggOpusWriter>(stem + ".opus", pError, std::move(head));
  }
  if (subtype == kSubtypeFlac) {
    const std::vector<uint8_t> extra = WaveExtra(mt);
    std::vector<uint8_t> header = FlacFileHeader(extra.data(), extra.size());
    if (header.empty()) {
      *pError = "the FLAC STREAMINFO is missing";
      return nullptr;
    }
    return Make<FlacWriter>(stem + ".flac", pError, std::move(header));
  }
  if (subtype == kSubtypeDolbyAc3) return Make<ConcatWriter>(stem + ".ac3", pError, "AC-3");
  if (subtype == kSubtypeDolbyDdPlus) return Make<ConcatWriter>(stem + ".eac3", pError, "E-AC-3");
  return nullptr;
}

}  // namespace

std::unique_ptr<StreamWriter> CreateStreamWriter(const AM_MEDIA_TYPE& mt, const std::string& dir,
                                                 const std::string& baseName,
                                                 const WriterOptions& options,
                                                 std::string* pError) {
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
    AudioSpecificConfig config;
    const size_t cbExtra =
        pwfx == nullptr ? 0 : std::min<size_t>(pwfx->cbSize, mt.cbFormat - sizeof(WAVEFORMATEX));
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

  if (subtype == kSubtypeAv01 || subtype == kSubtypeVp90 || subtype == kSubtypeVp80)
    return CreateVpxAv1Writer(mt, stem, options, pError);
  pError->clear();
  if (auto writer = CreateEnhancedAudioWriter(mt, stem, pError)) return writer;
  if (!pError->empty()) return nullptr;

  const CodecInfo* pCodec = FindCodecBySubtype(subtype);
  if (pCodec != nullptr && pCodec->pszRawExtension != nullptr) {
    return Make<RawIndexWriter>(stem + pCodec->pszRawExtension, pError,
                                std::string(pCodec->pszName) + " payloads");
  }
  *pError = "no writer for this media subtype";
  return nullptr;
}

}  // namespace flvdmx::cli

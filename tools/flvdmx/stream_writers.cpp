#include "stream_writers.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "adts_writer.h"
#include "annexb_writer.h"
#include "codecs.h"
#include "concat_writer.h"
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

  const CodecInfo* pCodec = FindCodecBySubtype(subtype);
  if (pCodec != nullptr && pCodec->pszRawExtension != nullptr) {
    return Make<RawIndexWriter>(stem + pCodec->pszRawExtension, pError,
                                std::string(pCodec->pszName) + " payloads");
  }
  *pError = "no writer for this media subtype";
  return nullptr;
}

}  // namespace flvdmx::cli

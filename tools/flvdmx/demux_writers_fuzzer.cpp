// Fuzz target: the writers behind `flvdmx demux`, writing to the null
// device. The first byte picks the writer (0 H.264 Annex B, 1 H.265 Annex B,
// 2 ADTS, 3 WAV); then one length byte and that many bytes of configuration
// (the decoder configuration record, the AudioSpecificConfig, or the wave
// format's channels, rate and bits); then samples, each a two-byte length,
// a key-frame byte and the payload.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "adts_writer.h"
#include "annexb_writer.h"
#include "wav_writer.h"

namespace {

using flvdmx::cli::StreamWriter;

constexpr const char* kNullDevice = "/dev/null";

std::unique_ptr<StreamWriter> MakeWriter(uint8_t kind, const uint8_t* pConfig, size_t cbConfig) {
  if (kind <= 1) {
    flvdmx::cli::ParameterSets sets;
    if (!flvdmx::cli::ParseDecoderConfiguration(pConfig, cbConfig, kind == 1, &sets)) return {};
    auto p = std::make_unique<flvdmx::cli::AnnexBWriter>(kind == 1, std::move(sets));
    return p->Open(kNullDevice) ? std::move(p) : nullptr;
  }
  if (kind == 2) {
    flvdmx::AudioSpecificConfig config;
    if (!flvdmx::ParseAudioSpecificConfig(pConfig, cbConfig, &config)) return {};
    auto p = std::make_unique<flvdmx::cli::AdtsWriter>(config);
    return p->Open(kNullDevice) ? std::move(p) : nullptr;
  }
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  uint8_t raw[4] = {};
  std::memcpy(raw, pConfig, std::min<size_t>(cbConfig, sizeof raw));
  wfx.nChannels = static_cast<WORD>(raw[0]);
  wfx.nSamplesPerSec = static_cast<DWORD>(raw[1] << 8 | raw[2]) * 4;
  wfx.wBitsPerSample = raw[3];
  wfx.nBlockAlign = static_cast<WORD>(wfx.nChannels * ((wfx.wBitsPerSample + 7) / 8));
  wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
  auto p = std::make_unique<flvdmx::cli::WavWriter>(wfx);
  return p->Open(kNullDevice) ? std::move(p) : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t kind = data[0] & 3;
  const size_t cbConfig = std::min<size_t>(data[1], size - 2);
  std::unique_ptr<StreamWriter> pWriter = MakeWriter(kind, data + 2, cbConfig);
  if (!pWriter) return 0;
  size_t pos = 2 + cbConfig;
  REFERENCE_TIME tStart = 0;
  while (size - pos >= 3) {
    const size_t cb =
        std::min<size_t>(static_cast<size_t>(data[pos] << 8 | data[pos + 1]), size - pos - 3);
    const bool bSync = (data[pos + 2] & 1) != 0;
    pos += 3;
    // Each payload in a block of its own size, so a read past it is caught.
    std::unique_ptr<uint8_t[]> payload(new uint8_t[cb]);
    std::memcpy(payload.get(), data + pos, cb);
    if (!pWriter->Write(payload.get(), cb, tStart, bSync)) break;
    pos += cb;
    tStart += 400000;
  }
  (void)pWriter->Finish();
  return 0;
}

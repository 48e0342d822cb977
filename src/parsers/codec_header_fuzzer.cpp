// Fuzz target: the codec header readers of the newer FLV codecs. The first
// byte picks the reader; the rest is the record or frame it is handed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "parsers/ac3_info.h"
#include "parsers/av1_info.h"
#include "parsers/flac_info.h"
#include "parsers/opus_head.h"
#include "parsers/vp_info.h"

namespace {

// A picture size a reader accepts must be one a decoder could be asked for:
// the readers take 16-bit (VP) or 16-bit-plus-one (AV1) fields.
void CheckSize(uint32_t width, uint32_t height) {
  if (width > 65536 || height > 65536) std::abort();
}

void RunVideo(uint8_t selector, const uint8_t* data, size_t size) {
  flvdmx::Av1Info av1;
  flvdmx::VpInfo vp;
  switch (selector) {
    case 0:
      if (flvdmx::ParseAv1CodecConfig(data, size, &av1)) CheckSize(av1.width, av1.height);
      break;
    case 1:
      if (flvdmx::ParseAv1SequenceHeaderObus(data, size, &av1)) CheckSize(av1.width, av1.height);
      break;
    case 2:
      (void)flvdmx::ParseVpCodecConfig(data, size, &vp);
      break;
    case 3:
      if (flvdmx::ParseVp9KeyFrameSize(data, size, &vp)) CheckSize(vp.width, vp.height);
      break;
    default:
      if (flvdmx::ParseVp8KeyFrameSize(data, size, &vp)) CheckSize(vp.width, vp.height);
      break;
  }
}

void RunAudio(uint8_t selector, const uint8_t* data, size_t size) {
  switch (selector) {
    case 5: {
      auto pOpus = std::make_unique<flvdmx::OpusHeadInfo>();
      if (flvdmx::ParseOpusHead(data, size, pOpus.get()) && pOpus->channels == 0) std::abort();
      break;
    }
    case 6: {
      flvdmx::FlacStreamInfo flac;
      (void)flvdmx::ParseFlacStreamInfo(data, size, &flac);
      break;
    }
    default: {
      flvdmx::Ac3Info ac3;
      // A frame size of zero would stall a walk that steps by it.
      if (flvdmx::ParseAc3SyncFrame(data, size, &ac3) && ac3.frameBytes == 0) std::abort();
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0] % 8;
  if (selector < 5) {
    RunVideo(selector, data + 1, size - 1);
  } else {
    RunAudio(selector, data + 1, size - 1);
  }
  return 0;
}

// Fuzz target: the header scan a connection runs (header, stream
// descriptions, metadata, the tail search for the duration) over an
// in-memory file, then every media type the descriptions offer. It drives
// src/flv through the host's memory reader, so it lives here.
#include <cstdint>

#include "baseclasses/mediatype.h"
#include "flv/flv_file_state.h"
#include "flv/flv_header_scan.h"
#include "host/memory_reader.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto* pReader = new flvdmx::CMemoryReader(flvdmx::CMemoryReader::kBorrow, data, size);
  flvdmx::CFlvFileState file;
  if (flvdmx::ReadAndParseHeader(pReader, file) == S_OK) {
    for (int i = 0; i < 4; ++i) {
      flvdmx::CMediaType mt;
      (void)file.VideoEntry().GetMediaType(i, &mt);
      flvdmx::CMediaType mtAudio;
      (void)file.AudioEntry().GetMediaType(i, &mtAudio);
    }
    (void)file.VideoEntry().GetMaxSampleSize();
    (void)file.AudioEntry().GetMaxSampleSize();
  }
  pReader->Release();
  return 0;
}

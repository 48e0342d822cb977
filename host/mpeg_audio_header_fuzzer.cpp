// Fuzz target: the MPEG audio frame header at the start of an MP3 tag's
// payload, read through the host's memory reader as the stream description
// reads it, then the media types it gives. The first two bytes are the
// duration the tag plays (ms); the rest is the payload after the flags byte.
// The same bytes are also read as a whole audio tag payload (flags byte
// first), which reaches the other formats' readers.
#include <cstdint>

#include "baseclasses/mediatype.h"
#include "flvdefs/flv_codecs.h"
#include "flvdefs/flv_tag.h"
#include "host/memory_reader.h"
#include "streams/audio_sample_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t dwDuration = static_cast<uint32_t>(data[0] << 8 | data[1]);
  auto* pReader = new flvdmx::CMemoryReader(data + 2, size - 2);
  flvdmx::FlvTag tag;
  tag.TagType = flvdmx::kFlvTagAudio;
  tag.DataSize = static_cast<uint32_t>(size - 2 + 1);  // the flags byte before the payload
  flvdmx::AudioSampleEntry entry;
  if (entry.ReadMpeg1AudioHeader(pReader, 0, &tag, dwDuration) == S_OK) {
    for (int i = 0; i < 3; ++i) {
      flvdmx::CMediaType mt;
      (void)entry.GetMediaType(i, &mt);
    }
    (void)entry.GetMaxSampleSize();
  }
  flvdmx::AudioSampleEntry whole;
  tag.DataSize = static_cast<uint32_t>(size - 2);
  if (SUCCEEDED(whole.ReadFormatFromTag(pReader, 0, &tag, dwDuration))) {
    flvdmx::CMediaType mt;
    (void)whole.GetMediaType(0, &mt);
    (void)whole.GetMaxSampleSize();
  }
  pReader->Release();
  return 0;
}

// Fuzz target: the tag walk behind `flvdmx tags` over an in-memory file,
// with a sink that only counts: the walk, its resynchronisation and the
// metadata reads are what is driven.
#include <cstdint>

#include "host/memory_reader.h"
#include "tag_walk.h"

namespace {

class CountingSink final : public flvdmx::cli::TagSink {
 public:
  void OnHeader(const flvdmx::FlvHeader&, int64_t) override { ++m_cEvents; }
  void OnTag(const flvdmx::cli::TagLine&) override { ++m_cEvents; }
  void OnMetadata(const flvdmx::cli::MetadataLine&) override { ++m_cEvents; }
  void OnResync(const flvdmx::cli::ResyncLine&) override { ++m_cEvents; }

 private:
  uint64_t m_cEvents = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto* pReader = new flvdmx::CMemoryReader(flvdmx::CMemoryReader::kBorrow, data, size);
  CountingSink sink;
  (void)flvdmx::cli::WalkTags(pReader, sink);
  pReader->Release();
  return 0;
}

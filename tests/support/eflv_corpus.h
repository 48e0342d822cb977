// The enhanced FLV corpus: files the tests build once into the media
// directory from the Matroska sources of scripts/media/enhanced-sources.sh,
// and what each output pin must deliver, taken from ffprobe's packets of the
// source.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "support/eflv_writer.h"

namespace flvdmx {

// The packets and SequenceStart body of a Matroska file's one stream, read
// with ffprobe; decode times as DecodeTimesMs gives them. Fails the test
// (empty packets) when ffprobe cannot read it.
EflvStream LoadMatroskaStream(const std::string& path);

// A pin of a corpus file and the source whose packets it plays.
struct EflvPinSource {
  const char* pin;     // "Video", "Audio 2", ...
  const char* source;  // "av1.mkv"
  const char* fourcc;
  int32_t nanoOffset = 0;  // ModEx offset added to every sample time
};

struct EflvCorpusFile {
  const char* name;  // "av1_opus.flv"
  std::vector<EflvPinSource> pins;
  EflvLayout layout;
};

const std::vector<EflvCorpusFile>& EnhancedCorpus();

// MEDIA/enhanced/name, built on the first call in the process (written
// under a temporary name and renamed, so parallel test processes never see
// half a file).
std::string EnhancedMediaPath(const std::string& name);

// The file's name, for test parameter output.
void PrintTo(const EflvCorpusFile& file, std::ostream* os);

// One sample a pin must deliver.
struct ExpectedSample {
  int64_t time;  // 100 ns units, the decode time
  int64_t size;
  bool key;
  std::string crc32;
};

// ffprobe's packets of `source`, timed as the corpus writes them.
std::vector<ExpectedSample> ExpectedSamples(const EflvPinSource& pin);

}  // namespace flvdmx

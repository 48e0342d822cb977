// Fuzz target: the mini-parser's search of a start-code stream. Byte 0 picks
// H.264 (even) or H.265 (odd); bytes 1-2 (big-endian, modulo the stream's
// length) pick a split point and byte 3 a chunk size of 1 to 256 (raised for
// long streams); the stream is the rest. It is fed whole, then in two pieces
// at the split, then in chunks of that size, so one input costs about three
// parses and the fuzzer, not the target, walks the split points. Where a
// piece ends must not change the picture found: for H.264 any difference
// from the whole-input result aborts. H.265 drops a group cut by the end of
// a piece (its parser never holds one) and goes on to the next group, so
// there a split may find nothing or a later group, but never a picture where
// the whole input has none.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "parsers/mini_parser.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"

namespace {

using flvdmx::CMiniParser;

constexpr size_t kHeaderBytes = 4;
// A held H.264 group is searched again from its start on every call, so tiny
// chunks of a long stream would cost a parse per chunk: long streams get
// larger chunks instead.
constexpr size_t kMaxChunks = 256;

struct Outcome {
  uint32_t dwState;
  flvdmx::VideoStreamInfo info;
};

bool SameInfo(const Outcome& a, const Outcome& b) {
  const flvdmx::VideoStreamInfo &x = a.info, &y = b.info;
  return x.m_dwWidth == y.m_dwWidth && x.m_dwHeight == y.m_dwHeight &&
         x.m_dwProfile == y.m_dwProfile && x.m_dwLevel == y.m_dwLevel &&
         x.m_dwSarWidth == y.m_dwSarWidth && x.m_dwSarHeight == y.m_dwSarHeight &&
         x.m_bInterlaced == y.m_bInterlaced && x.m_dwLumaBitDepth == y.m_dwLumaBitDepth &&
         (x.m_dFrameRate == y.m_dFrameRate ||
          (x.m_dFrameRate != x.m_dFrameRate && y.m_dFrameRate != y.m_dFrameRate));
}

std::unique_ptr<CMiniParser> MakeParser(bool bHevc) {
  if (bHevc) return std::make_unique<flvdmx::CMiniParserH265>();
  return std::make_unique<flvdmx::CMiniParserH264>();
}

void FeedPiece(CMiniParser* pParser, const uint8_t* p, size_t n) {
  if (pParser->Parse(p, static_cast<uint32_t>(n)) < 0) std::abort();
}

Outcome Result(const CMiniParser& parser) { return {parser.GetState(), parser.GetStreamInfo()}; }

// Aborts when feeding in pieces changed the outcome in a way the codec's
// parser does not allow.
void Compare(bool bHevc, const Outcome& whole, const Outcome& part, const char* what, size_t value,
             size_t n) {
  const bool bFound = part.dwState == CMiniParser::kDone;
  const bool bWholeFound = whole.dwState == CMiniParser::kDone;
  const bool bDiffers = bFound != bWholeFound || (bFound && !SameInfo(whole, part));
  if (bHevc ? bFound && !bWholeFound : bDiffers) {
    std::fprintf(stderr, "%s %zu of %zu changes the outcome\n", what, value, n);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const bool bHevc = (data[0] & 1) != 0;
  const uint8_t* p = data + kHeaderBytes;
  const size_t n = size - kHeaderBytes;
  const size_t split = n == 0 ? 0 : (size_t{data[1]} << 8 | data[2]) % n;
  const size_t chunk = std::max(size_t{data[3]} + 1, (n + kMaxChunks - 1) / kMaxChunks);

  std::unique_ptr<CMiniParser> pParser = MakeParser(bHevc);
  FeedPiece(pParser.get(), p, n);
  const Outcome whole = Result(*pParser);

  pParser = MakeParser(bHevc);
  FeedPiece(pParser.get(), p, split);
  FeedPiece(pParser.get(), p + split, n - split);
  Compare(bHevc, whole, Result(*pParser), "split at", split, n);

  // Once done the parser ignores input, so the chunks stop there.
  pParser = MakeParser(bHevc);
  for (size_t pos = 0; pos < n && pParser->GetState() != CMiniParser::kDone; pos += chunk)
    FeedPiece(pParser.get(), p + pos, std::min(chunk, n - pos));
  Compare(bHevc, whole, Result(*pParser), "chunks of", chunk, n);
  return 0;
}

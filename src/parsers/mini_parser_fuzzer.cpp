// Fuzz target: the mini-parser's search of a start-code stream. The first
// byte picks H.264 or H.265; the rest is fed whole, then in two pieces at
// every split point (at evenly spaced points for long inputs). Where a piece
// ends must not change the picture found: for H.264 any difference from the
// whole-input result aborts. H.265 drops a group cut by the end of a piece
// (its parser never holds one) and goes on to the next group, so there a
// split may find nothing or a later group, but never a picture where the
// whole input has none.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "parsers/mini_parser.h"
#include "parsers/mini_parser_h264.h"
#include "parsers/mini_parser_h265.h"

namespace {

using flvdmx::CMiniParser;

// Beyond this many bytes the split points are spaced out, so that one input
// stays well under a second.
constexpr size_t kEverySplitUpTo = 256;
constexpr size_t kSpacedSplits = 64;

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

Outcome Feed(bool bHevc, const uint8_t* p, size_t n, size_t split) {
  std::unique_ptr<CMiniParser> pParser = MakeParser(bHevc);
  if (pParser->Parse(p, static_cast<uint32_t>(split)) < 0) std::abort();
  if (pParser->Parse(p + split, static_cast<uint32_t>(n - split)) < 0) std::abort();
  return {pParser->GetState(), pParser->GetStreamInfo()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool bHevc = (data[0] & 1) != 0;
  const uint8_t* p = data + 1;
  const size_t n = size - 1;
  const Outcome whole = Feed(bHevc, p, n, n);
  const size_t step = n <= kEverySplitUpTo ? 1 : n / kSpacedSplits;
  for (size_t split = 0; split < n; split += step) {
    const Outcome part = Feed(bHevc, p, n, split);
    const bool bFound = part.dwState == CMiniParser::kDone;
    const bool bWholeFound = whole.dwState == CMiniParser::kDone;
    const bool bDiffers = bFound != bWholeFound || (bFound && !SameInfo(whole, part));
    if (bHevc ? bFound && !bWholeFound : bDiffers) {
      std::fprintf(stderr, "split at %zu of %zu changes the outcome\n", split, n);
      std::abort();
    }
  }
  return 0;
}

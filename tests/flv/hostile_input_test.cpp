// Damaged and hostile files through every container operation: truncation at
// every length, lying headers, sizes past the end, garbage, deep AMF nesting,
// random bytes and bit flips. What counts is that every call returns (no
// crash, no endless loop, no read outside the data under ASan) with a
// result of its documented kind.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "flv/amf0.h"
#include "flv/flv_file_state.h"
#include "flv/flv_reader.h"
#include "flv/flv_seek.h"
#include "support/flv_writer.h"
#include "test_reader.h"

namespace flvdmx {
namespace {

struct Outcome {
  HRESULT header = E_UNEXPECTED;
  uint64_t tags = 0;
  uint32_t duration = 0;
};

bool IsSeekResult(HRESULT hr) {
  return hr == S_OK || hr == S_FALSE || hr == VFW_E_INVALID_FILE_FORMAT || hr == E_INVALIDARG;
}

// Runs what the filter runs on a file: header, a scan of the chain with
// metadata and fix-ups, the tail search, and positioning of both streams at a
// few targets from the first tag and from a cached point.
Outcome Exercise(const std::vector<uint8_t>& bytes) {
  Outcome out;
  TestReader r(bytes);
  CFlvFileState state;
  {
    CFlvReader reader(r.get(), 0, &state.m_TagLinkFixups);
    out.header = ReadFlvHeader(reader, state.m_FlvHeader);
    EXPECT_TRUE(out.header == S_OK || out.header == S_FALSE ||
                out.header == VFW_E_INVALID_FILE_FORMAT);
    if (out.header != S_OK) return out;
    state.m_llAvailable = reader.Available();

    int64_t p = state.m_FlvHeader.DataOffset;
    int64_t prevPos = 0;
    while (p < reader.Available()) {
      FlvTag t;
      if (ReadTagHeader(reader, p, t) != S_OK) break;
      ++out.tags;
      if (prevPos && PreviousTagPosition(p, t) != prevPos)
        (void)state.m_TagLinkFixups.Add(prevPos, p);
      if (t.TagType == kFlvTagScript && t.DataSize > 0) {
        uint32_t duration = 0;
        int32_t audio = -1, video = -1;
        const HRESULT hr = ParseScriptDataTag(reader, p, t, &duration, &audio, &video);
        EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << std::hex << hr;
      } else if (t.TagType == kFlvTagAudio || t.TagType == kFlvTagVideo) {
        if (state.m_dwDuration < t.TimeStamp) state.m_dwDuration = t.TimeStamp;
      }
      prevPos = p;
      p = NextTagPosition(p, t);
    }
    const HRESULT tail = state.FindTimestampOfLastSample(reader, state.m_FlvHeader.DataOffset);
    EXPECT_TRUE(tail == S_OK || tail == E_FAIL);
    out.duration = state.m_dwDuration;
  }

  CFlvReader reader(r.get(), state.m_dwDuration, &state.m_TagLinkFixups);
  for (uint8_t type : {kFlvTagAudio, kFlvTagVideo}) {
    FlvTag first;
    int64_t firstPos = 0;
    const HRESULT hrFirst =
        FindNextTagOfType(reader, state.m_FlvHeader.DataOffset, 0, 0, type, first, firstPos);
    EXPECT_TRUE(IsSeekResult(hrFirst)) << std::hex << hrFirst;
    for (uint32_t target : {0u, 1500u, 60000u, out.duration / 2, out.duration, 0xFFFFFFF0u}) {
      for (bool cached : {false, true}) {
        if (cached && hrFirst != S_OK) continue;
        int64_t pos = cached ? firstPos : state.m_FlvHeader.DataOffset;
        uint32_t t = target;
        FlvTag tag;
        int64_t count = 0;
        const HRESULT hr = FindPreviousFrame(reader, type, pos, cached ? 7000 : 0, t, tag, count);
        EXPECT_TRUE(IsSeekResult(hr)) << std::hex << hr;
        if (hr == S_OK) {
          FlvTag prev = tag;
          int64_t prevPos = 0;
          (void)FindPrevTagOfType(reader, pos, type, prev, prevPos, tag.TimeStamp);
        }
      }
    }
  }
  return out;
}

// About 1.3 KB: metadata, then 40 ms video and 23 ms audio tags with small
// payloads for 1.2 s.
std::vector<uint8_t> SmallFile() {
  FlvWriter w;
  w.Script(OnMetaData(1.2, 2, 7));
  for (uint32_t t = 0, a = 0; t < 1200; t += 40) {
    w.Video(t, VideoPayload(t % 400 == 0, 4 + t % 7));
    for (; a <= t; a += 23) w.Audio(a, AudioPayload(3 + a % 5));
  }
  return w.Bytes();
}

TEST(HostileInput, TruncationAtEveryLength) {
  const std::vector<uint8_t> whole = SmallFile();
  uint64_t lastTags = 0;
  for (size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE("length " + std::to_string(n));
    const Outcome o = Exercise(std::vector<uint8_t>(whole.begin(), whole.begin() + n));
    EXPECT_EQ(o.header, n < 9 ? S_FALSE : S_OK);
    EXPECT_GE(o.tags, lastTags) << "a longer file never has fewer whole tag headers";
    lastTags = o.tags;
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(lastTags, 80u) << "the whole file is read whole";
}

struct HostileCase {
  const char* name;
  std::vector<uint8_t> (*make)();
  HRESULT header;
};

class HostileFiles : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileFiles, AreHandledWithoutHarm) {
  const Outcome o = Exercise(GetParam().make());
  EXPECT_EQ(o.header, GetParam().header);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileFiles,
    ::testing::Values(HostileCase{"ZeroLength", [] { return std::vector<uint8_t>(); }, S_FALSE},
                      HostileCase{"DataOffsetPastTheEnd",
                                  [] {
                                    std::vector<uint8_t> f = {'F',  'L',  'V',  1,   kFlvHasAudio,
                                                              0xFF, 0xFF, 0xFF, 0xF0};
                                    const std::vector<uint8_t> tags = SmallFile();
                                    f.insert(f.end(), tags.begin() + 9, tags.end());
                                    return f;
                                  },
                                  S_OK},
                      HostileCase{"DataSizePastTheEnd",
                                  [] {
                                    FlvWriter w;
                                    w.Audio(0, AudioPayload(5));
                                    FlvWriter::TagOptions o;
                                    o.dataSize = 0xFFFFFF;
                                    w.Tag(kFlvTagVideo, 40, VideoPayload(true, 5), o);
                                    return w.Bytes();
                                  },
                                  S_OK},
                      HostileCase{"EveryTagMaximal",
                                  [] {
                                    FlvWriter w;
                                    FlvWriter::TagOptions o;
                                    o.dataSize = 0xFFFFFF;
                                    o.previousTagSize = 0xFFFFFFFF;
                                    for (int i = 0; i < 20; ++i)
                                      w.Tag(kFlvTagVideo, 0xFFFFFFFF, {}, o);
                                    return w.Bytes();
                                  },
                                  S_OK},
                      HostileCase{"GarbageBetweenTags",
                                  [] {
                                    FlvWriter w;
                                    AvFileLayout layout;
                                    layout.durationMs = 20000;
                                    WriteAvTags(w, layout);
                                    std::mt19937 rng(7);
                                    std::vector<uint8_t> junk(3000);
                                    for (auto& b : junk) b = static_cast<uint8_t>(rng());
                                    w.Raw(junk);
                                    layout.startMs = 20000;
                                    layout.metadata = false;
                                    WriteAvTags(w, layout);
                                    return w.Bytes();
                                  },
                                  S_OK},
                      HostileCase{"AmfNested100000Deep",
                                  [] {
                                    AmfWriter amf;
                                    amf.String("onMetaData");
                                    for (int i = 0; i < 100000; ++i) amf.BeginObject().Name("o");
                                    FlvWriter w;
                                    w.Script(amf.Bytes());
                                    w.Audio(0, AudioPayload(5));
                                    return w.Bytes();
                                  },
                                  S_OK},
                      HostileCase{"TimesAroundTheWrap",
                                  [] {
                                    FlvWriter w;
                                    AvFileLayout layout;
                                    layout.startMs = 0xFFFFFFFF - 30000;
                                    layout.durationMs = 25000;
                                    WriteAvTags(w, layout);
                                    return w.Bytes();
                                  },
                                  S_OK}),
    [](const auto& info) { return info.param.name; });

TEST(HostileInput, RandomBytes) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> f(rng() % 40000);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    // Half of them get a valid header, so the chain code sees the noise.
    if (i % 2 && f.size() >= 9) {
      const uint8_t header[] = {'F', 'L', 'V', 1, 5, 0, 0, 0, 9};
      std::copy(std::begin(header), std::end(header), f.begin());
    }
    // Bias toward plausible type bytes so that candidates get checked.
    for (size_t j = 13; j < f.size(); j += 1 + rng() % 64) f[j] = (rng() % 2) ? 8 : 9;
    SCOPED_TRACE(i);
    Exercise(f);
    if (HasFatalFailure()) return;
  }
}

TEST(HostileInput, BitFlips) {
  const std::vector<uint8_t> whole = SmallFile();
  std::mt19937 rng(99);
  for (int i = 0; i < 1500; ++i) {
    std::vector<uint8_t> f = whole;
    for (int k = 0; k < 1 + i % 4; ++k)
      f[rng() % f.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    SCOPED_TRACE(i);
    Exercise(f);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace flvdmx

// AC-3 and E-AC-3 sync frames from ffmpeg's encoders checked against
// ffprobe, and hand-written headers for the frame size table, the channel
// modes and the reduced rates.
#include "parsers/ac3_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec_media.h"
#include "syntax_writers.h"

namespace flvdmx {
namespace {

using test::Bytes;

std::string Describe(const Ac3Info& i) {
  return std::string(i.enhanced ? "E-AC-3 " : "AC-3 ") + std::to_string(i.sampleRate) + " Hz " +
         std::to_string(i.bitRate) + " bit/s " + std::to_string(i.frameBytes) + " bytes " +
         std::to_string(i.channels) + "ch" + (i.lfe ? " lfe " : " ") +
         std::to_string(i.samplesPerFrame) + " samples";
}

uint32_t FirstPacketSize(const std::string& name) {
  const std::string out = RunCommand("ffprobe -v error -show_entries packet=size -of csv=p=0 " +
                                     ShellQuote(MediaPath(name.c_str())) + " | head -1");
  return static_cast<uint32_t>(std::strtoul(out.c_str(), nullptr, 10));
}

TEST(Ac3Info, EncoderFramesMatchFfprobe) {
  const char* const files[] = {
      "ch_ac3_48000_stereo.ac3",   "ch_ac3_44100_5.1.ac3",   "ch_ac3_32000_mono.ac3",
      "ch_eac3_48000_stereo.eac3", "ch_eac3_44100_5.1.eac3", "ch_eac3_32000_mono.eac3",
  };
  for (const char* name : files) {
    SCOPED_TRACE(name);
    const auto probe = test::ProbeFirstStream(name);
    const Bytes file = test::ReadMedia(name);
    Ac3Info info;
    ASSERT_TRUE(ParseAc3SyncFrame(file.data(), file.size(), &info));
    EXPECT_EQ(info.enhanced, probe.at("codec_name") == "eac3");
    EXPECT_EQ(info.sampleRate, test::ProbeNumber(probe, "sample_rate"));
    EXPECT_EQ(info.channels, test::ProbeNumber(probe, "channels"));
    EXPECT_EQ(info.lfe, info.channels == 6);
    EXPECT_EQ(info.bitRate, test::ProbeNumber(probe, "bit_rate"));
    EXPECT_EQ(info.frameBytes, FirstPacketSize(name));
    EXPECT_EQ(info.samplesPerFrame, 1536);

    // The smallest prefix that parses holds the header; every shorter one fails.
    const Bytes head(file.begin(), file.begin() + 16);
    size_t needed = 0;
    while (needed <= head.size() && !ParseAc3SyncFrame(head.data(), needed, &info)) ++needed;
    ASSERT_LE(needed, 8u);
    test::ExpectPrefixes<Ac3Info>(head, ParseAc3SyncFrame, Describe,
                                  [&](size_t n) { return n >= needed; });
  }
}

struct Ac3Fields {
  uint32_t syncword = 0x0B77, fscod = 0, frmsizecod = 30, bsid = 8, acmod = 7, lfeon = 1;
};

Bytes WriteAc3(const Ac3Fields& f) {
  test::BitWriter w;
  w.Bits(f.syncword, 16).Bits(0xABCD, 16).Bits(f.fscod, 2).Bits(f.frmsizecod, 6);
  w.Bits(f.bsid, 5).Bits(0, 3).Bits(f.acmod, 3);
  if ((f.acmod & 1) && f.acmod != 1) w.Bits(1, 2);  // cmixlev
  if (f.acmod & 4) w.Bits(1, 2);                    // surmixlev
  if (f.acmod == 2) w.Bits(0, 2);                   // dsurmod
  return w.Flag(f.lfeon).Bits(0, 5).Bytes();        // dialnorm follows
}

struct Eac3Fields {
  uint32_t strmtyp = 0, frmsiz = 767, fscod = 0, fscod2 = 0, numblkscod = 3, acmod = 2, lfeon = 0,
           bsid = 16;
};

Bytes WriteEac3(const Eac3Fields& f) {
  test::BitWriter w;
  w.Bits(0x0B77, 16).Bits(f.strmtyp, 2).Bits(0, 3).Bits(f.frmsiz, 11).Bits(f.fscod, 2);
  w.Bits(f.fscod == 3 ? f.fscod2 : f.numblkscod, 2).Bits(f.acmod, 3).Flag(f.lfeon);
  return w.Bits(f.bsid, 5).Bits(0, 5).Bytes();
}

TEST(Ac3Info, HandWrittenHeaders) {
  struct Case {
    const char* name;
    Bytes frame;
    const char* expected;  // null: rejected
  };
  auto ac3 = [](std::function<void(Ac3Fields&)> edit) {
    Ac3Fields f;
    edit(f);
    return WriteAc3(f);
  };
  auto eac3 = [](std::function<void(Eac3Fields&)> edit) {
    Eac3Fields f;
    edit(f);
    return WriteEac3(f);
  };
  const Case cases[] = {
      {"Ac3Rate44100OddCodeAddsAWord",
       ac3([](Ac3Fields& f) { f.fscod = 1, f.frmsizecod = 1, f.acmod = 1, f.lfeon = 0; }),
       "AC-3 44100 Hz 32000 bit/s 140 bytes 1ch 1536 samples"},
      {"Ac3Rate44100Top",
       ac3([](Ac3Fields& f) { f.fscod = 1, f.frmsizecod = 36, f.acmod = 2, f.lfeon = 0; }),
       "AC-3 44100 Hz 640000 bit/s 2786 bytes 2ch 1536 samples"},
      {"Ac3Rate32000Top", ac3([](Ac3Fields& f) { f.fscod = 2, f.frmsizecod = 37, f.acmod = 3; }),
       "AC-3 32000 Hz 640000 bit/s 3840 bytes 4ch lfe 1536 samples"},
      {"Ac3DualMono", ac3([](Ac3Fields& f) { f.acmod = 0, f.lfeon = 0; }),
       "AC-3 48000 Hz 448000 bit/s 1792 bytes 2ch 1536 samples"},
      {"Ac3SurroundNoCentre", ac3([](Ac3Fields& f) { f.acmod = 6; }),
       "AC-3 48000 Hz 448000 bit/s 1792 bytes 5ch lfe 1536 samples"},
      {"Ac3HalfRate", ac3([](Ac3Fields& f) { f.bsid = 9; }),
       "AC-3 24000 Hz 224000 bit/s 1792 bytes 6ch lfe 1536 samples"},
      {"Ac3QuarterRate", ac3([](Ac3Fields& f) { f.bsid = 10, f.fscod = 1; }),
       "AC-3 11025 Hz 112000 bit/s 1950 bytes 6ch lfe 1536 samples"},
      {"Ac3ReservedRate", ac3([](Ac3Fields& f) { f.fscod = 3; }), nullptr},
      {"Ac3FrameSizeCode38", ac3([](Ac3Fields& f) { f.frmsizecod = 38; }), nullptr},
      {"Ac3BadSync", ac3([](Ac3Fields& f) { f.syncword = 0x770B; }), nullptr},
      {"Bsid17", ac3([](Ac3Fields& f) { f.bsid = 17; }), nullptr},
      {"Eac3OneBlock", eac3([](Eac3Fields& f) { f.numblkscod = 0, f.frmsiz = 127; }),
       "E-AC-3 48000 Hz 384000 bit/s 256 bytes 2ch 256 samples"},
      {"Eac3ReducedRate",
       eac3([](Eac3Fields& f) { f.fscod = 3, f.fscod2 = 1, f.acmod = 7, f.lfeon = 1; }),
       "E-AC-3 22050 Hz 176400 bit/s 1536 bytes 6ch lfe 1536 samples"},
      {"Eac3ConvertedFromAc3", eac3([](Eac3Fields& f) { f.strmtyp = 2, f.bsid = 11; }),
       "E-AC-3 48000 Hz 384000 bit/s 1536 bytes 2ch 1536 samples"},
      {"Eac3DependentFirst", eac3([](Eac3Fields& f) { f.strmtyp = 1; }), nullptr},
      {"Eac3ReservedStreamType", eac3([](Eac3Fields& f) { f.strmtyp = 3; }), nullptr},
      {"Eac3ReservedReducedRate", eac3([](Eac3Fields& f) { f.fscod = 3, f.fscod2 = 3; }), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ExpectParsed(c.frame, ParseAc3SyncFrame, Describe, c.expected);
  }
}

}  // namespace
}  // namespace flvdmx

// The one decoder-configuration parser: which units each layout yields, and
// where a record that runs out or does not fit its layout is refused.
#include "streams/decoder_config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dshow.h"
#include "video_units.h"

namespace flvdmx {
namespace {

using Units = std::vector<std::vector<uint8_t>>;
using Layout = DecoderConfigLayout;

class Collector final : public DecoderConfigUnitSink {
 public:
  bool OnUnit(const uint8_t* p, size_t n) override {
    units.emplace_back(p, p + n);
    return units.size() < refuseAt;
  }
  Units units;
  size_t refuseAt = 1000;
};

// Copies the record into an exactly sized block, so ASan sees an over-read.
DecoderConfigResult Parse(const std::vector<uint8_t>& record, Layout layout, Collector* pOut,
                          uint32_t* pcbLength) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[record.size()]);
  std::copy(record.begin(), record.end(), exact.get());
  return ParseDecoderConfigRecord(exact.get(), record.size(), layout, pOut, pcbLength);
}

TEST(DecoderConfigRecord, EachLayoutYieldsItsUnits) {
  std::vector<uint8_t> twoPps = ConfigRecord({kH264Sps}, kH264Pps);
  twoPps[twoPps.size() - kH264Pps.size() - 3] = 2;  // the picture parameter set count
  twoPps.insert(twoPps.end(), {0, 2, 0x68, 0x01});
  std::vector<uint8_t> noSps = ConfigRecord({kH264Sps}, kH264Pps);
  noSps[5] = 0xE0;  // a leading count of zero
  const std::vector<uint8_t> hevcAvcLike = ConfigRecord({kH265Vps, kH265Sps}, kH265Pps, 0x01);
  const std::vector<uint8_t> hvcc =
      HvccRecord({{32, {kH265Vps}}, {33, {kH265Sps}}, {34, {kH265Pps}}});
  const struct {
    const char* name;
    std::vector<uint8_t> record;
    Layout layout;
    DecoderConfigResult result;
    Units units;
    uint32_t cbLength;
  } cases[] = {
      {"Avc", twoPps, Layout::kAvc, DecoderConfigResult::kParsed,
       Units{kH264Sps, kH264Pps, {0x68, 0x01}}, 4},
      {"AvcFirstSetsIgnoresCounts", twoPps, Layout::kAvcFirstSets, DecoderConfigResult::kParsed,
       Units{kH264Sps, kH264Pps}, 4},
      {"AvcCountOfZeroTakesNoUnits", noSps, Layout::kAvc, DecoderConfigResult::kParsed, Units{}, 4},
      {"FirstSetsReadsOneAnyway", noSps, Layout::kAvcFirstSets, DecoderConfigResult::kParsed,
       Units{kH264Sps, kH264Pps}, 4},
      {"HevcAvcLike", hevcAvcLike, Layout::kHevcAvcLike, DecoderConfigResult::kParsed,
       Units{kH265Vps, kH265Sps, kH265Pps}, 4},
      {"Hvcc", hvcc, Layout::kHvcc, DecoderConfigResult::kParsed,
       Units{kH265Vps, kH265Sps, kH265Pps}, 4},
      {"AvcLikeIsNoHvcc", hevcAvcLike, Layout::kHvcc, DecoderConfigResult::kMalformed, {}, 0},
      {"HvccUnitOfAnotherType", HvccRecord({{32, {kH265Sps}}}), Layout::kHvcc,
       DecoderConfigResult::kMalformed, Units{}, 4},
      {"HvccWithBytesBehind",
       [&] {
         auto r = hvcc;
         r.push_back(0);
         return r;
       }(),
       Layout::kHvcc, DecoderConfigResult::kMalformed, Units{kH265Vps, kH265Sps, kH265Pps}, 4},
      {"HeaderOnly", std::vector<uint8_t>{1, 0x64, 0, 0x0C, 0xFD}, Layout::kAvcFirstSets,
       DecoderConfigResult::kMalformed, Units{}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Collector sink;
    uint32_t cbLength = 0;
    EXPECT_EQ(Parse(c.record, c.layout, &sink, &cbLength), c.result);
    if (c.result == DecoderConfigResult::kParsed || !c.units.empty()) {
      EXPECT_EQ(sink.units, c.units);
    }
    EXPECT_EQ(cbLength, c.cbLength);
  }
}

TEST(DecoderConfigRecord, EveryCutIsRefusedAndASinkCanStopIt) {
  const std::vector<uint8_t> record = ConfigRecord({kH264Sps}, kH264Pps);
  for (size_t cut = 0; cut < record.size(); ++cut) {
    Collector sink;
    const std::vector<uint8_t> part(record.begin(), record.begin() + cut);
    EXPECT_EQ(Parse(part, Layout::kAvc, &sink, nullptr), DecoderConfigResult::kMalformed) << cut;
  }
  Collector refusing;
  refusing.refuseAt = 1;
  EXPECT_EQ(Parse(record, Layout::kAvc, &refusing, nullptr), DecoderConfigResult::kSinkFailed);
  EXPECT_EQ(refusing.units.size(), 1u);
}

TEST(DecoderConfigRecord, FilterGetsStartCodeForm) {
  const std::vector<uint8_t> record = ConfigRecord({kH264Sps}, kH264Pps);
  CBuffer units;
  ASSERT_EQ(AppendParameterSetsFromRecord(record.data(), record.size(), false, &units), S_OK);
  std::vector<uint8_t> expected = {0, 0, 1};
  expected.insert(expected.end(), kH264Sps.begin(), kH264Sps.end());
  expected.insert(expected.end(), {0, 0, 1});
  expected.insert(expected.end(), kH264Pps.begin(), kH264Pps.end());
  EXPECT_EQ(std::vector<uint8_t>(units.Data(), units.Data() + units.Size()), expected);
  EXPECT_EQ(AppendParameterSetsFromRecord(record.data(), 8, false, &units),
            VFW_E_INVALID_FILE_FORMAT);
}

}  // namespace
}  // namespace flvdmx

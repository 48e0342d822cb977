#include "base/block_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "base/com_ptr.h"
#include "host/memory_reader.h"

namespace flvdmx {
namespace {

constexpr uint32_t kBlock = 64;
constexpr int kFileSize = 256;

std::vector<uint8_t> Pattern(size_t cb) {
  std::vector<uint8_t> bytes(cb);
  for (size_t i = 0; i < cb; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

// One step of a case: a read through the block reader, or something done to
// the upstream reader or the shared flush state in between.
enum class Op { kRead, kSetLength, kFailAt, kFlushBegin, kFlushEnd, kDrop, kSkip };
struct Step {
  Op op;
  // kRead, kSkip: where; kSetLength: the length; kFailAt: the offset
  int64_t llPosition = 0;
  LONG lLength = 0;     // kRead: how much; kSkip: how far
  HRESULT hr = S_OK;    // kRead: the expected result
  uint64_t cReads = 0;  // kRead: upstream reads so far
};
struct Case {
  const char* name;
  std::vector<Step> steps;
};

Step Read(int64_t llPosition, LONG lLength, HRESULT hr, uint64_t cReads) {
  return {Op::kRead, llPosition, lLength, hr, cReads};
}
Step Do(Op op, int64_t llValue = 0) { return {op, llValue}; }
Step Skip(int64_t llFrom, int64_t llTo) {
  return {Op::kSkip, llFrom, static_cast<LONG>(llTo - llFrom)};
}

// Block memory as an earlier reader over a shorter file of other bytes
// leaves it: both blocks filled, the second one smaller than a block, so a
// reader that trusted what the memory holds, or its size, would fail.
void FillWithOtherBytes(CBlockMemory* pMemory) {
  ComPtr<CMemoryReader> upstream(new CMemoryReader(std::vector<uint8_t>(kBlock + 8, 0x5A)));
  upstream->Release();
  ComPtr<CBlockReader> reader(new CBlockReader(upstream.Get(), kBlock, kBlock, nullptr, pMemory));
  reader->Release();
  uint8_t b[4];
  ASSERT_EQ(reader->SyncRead(0, 4, b), S_OK);
  ASSERT_EQ(reader->SyncRead(kBlock + 4, 4, b), S_OK);
  ASSERT_EQ(pMemory->cbCapacity[1], 8u);
}

// Each case runs with memory of the reader's own and with memory kept from
// an earlier reader: reads and bytes must not differ.
class BlockReaderTable : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(BlockReaderTable, ServesTheUpstreamBytesWithFewerReads) {
  const auto& [param, bKeptMemory] = GetParam();
  CBlockMemory memory;
  if (bKeptMemory) FillWithOtherBytes(&memory);
  const std::vector<uint8_t> bytes = Pattern(kFileSize);
  ComPtr<CMemoryReader> upstream(new CMemoryReader(bytes));
  upstream->Release();  // the ComPtr holds the one reference
  CReaderFlushState flush;
  ComPtr<CBlockReader> reader(
      new CBlockReader(upstream.Get(), kBlock, kBlock, &flush, bKeptMemory ? &memory : nullptr));
  reader->Release();
  int iStep = 0;
  for (const Step& step : param.steps) {
    SCOPED_TRACE(::testing::Message() << "step " << iStep++);
    switch (step.op) {
      case Op::kSetLength:
        upstream->SetLength(step.llPosition, step.llPosition);
        break;
      case Op::kFailAt:
        upstream->FailReadsAt(step.llPosition, E_FAIL);
        break;
      case Op::kFlushBegin:
        flush.Begin();
        upstream->BeginFlush();
        break;
      case Op::kFlushEnd:
        upstream->EndFlush();
        flush.End();
        break;
      case Op::kDrop:
        reader->Drop();
        break;
      case Op::kSkip:
        reader->Skip(step.llPosition, step.llPosition + step.lLength);
        break;
      case Op::kRead: {
        std::vector<uint8_t> got(static_cast<size_t>(step.lLength), 0xEE);
        EXPECT_EQ(reader->SyncRead(step.llPosition, step.lLength, got.data()), step.hr);
        if (step.hr == S_OK) {
          EXPECT_EQ(got, std::vector<uint8_t>(bytes.begin() + step.llPosition,
                                              bytes.begin() + step.llPosition + step.lLength));
        }
        EXPECT_EQ(upstream->ReadCount(), step.cReads);
        break;
      }
    }
  }
}

const Case kCases[] = {
    {"ReadsInsideOneBlockCostOneRead",
     {Read(0, 9, S_OK, 1), Read(9, 15, S_OK, 1), Read(40, 10, S_OK, 1), Read(2, 3, S_OK, 1)}},
    {"TheTwoLastBlocksStayCached",  // the walk reads ahead of the payload it delivers
     {Read(50, 4, S_OK, 1), Read(70, 4, S_OK, 2), Read(54, 6, S_OK, 2), Read(74, 4, S_OK, 2),
      Read(130, 4, S_OK, 3), Read(0, 4, S_OK, 4)}},
    {"AStraddlingReadPassesThrough",
     {Read(0, 4, S_OK, 1), Read(60, 8, S_OK, 2), Read(4, 4, S_OK, 2),
      // the next block starts where the passed-through read ended
      Read(68, 10, S_OK, 3), Read(64, 4, S_OK, 4)}},
    {"ALargeReadPassesThroughAndFillsNothing",
     {Read(10, 100, S_OK, 1), Read(10, kBlock / 4 + 1, S_OK, 2), Read(12, 4, S_OK, 3),
      Read(0, kBlock / 4, S_OK, 3)}},
    {"ALargeReadTakesItsHeadFromTheBlock",
     {Read(0, 4, S_OK, 1), Read(40, 30, S_OK, 2), Read(66, 4, S_OK, 3)}},
    {"ALargeReadTakesItsTailFromTheBlockAfterIt",  // the next header was read first
     {Read(100, 4, S_OK, 1), Read(40, 30, S_OK, 2), Read(0, 4, S_OK, 3)}},
    {"ALargeReadBetweenTwoBlocksReadsNothing",
     {Read(0, 4, S_OK, 1), Read(100, 4, S_OK, 2), Read(40, 40, S_OK, 2)}},
    {"AReadLargerThanABlockStillUsesTheBlocks",
     {Read(0, 4, S_OK, 1), Read(200, 4, S_OK, 2), Read(10, 200, S_OK, 3), Read(60, 4, S_OK, 3),
      Read(192, 4, S_OK, 3)}},
    {"ALargeReadWhoseRestFailsFailsAsAWhole",
     {Do(Op::kFailAt, 66), Read(0, 4, S_OK, 1), Read(40, 30, E_FAIL, 3)}},
    {"NoBytesPastTheReportedLength",
     {Do(Op::kSetLength, 100), Read(90, 8, S_OK, 1), Read(96, 8, S_OK, 2), Read(64, 4, S_OK, 2)}},
    {"AGrowingFileRereadsItsTailBlock",
     {Do(Op::kSetLength, 100), Read(64, 4, S_OK, 1), Do(Op::kSetLength, kFileSize),
      Read(100, 4, S_OK, 2), Read(120, 8, S_OK, 2)}},
    {"AShortReadAtTheEndIsTheUpstreamOne", {Read(250, 10, S_FALSE, 1), Read(192, 8, S_OK, 2)}},
    {"AFlushIsNeverHidden",
     {Read(0, 4, S_OK, 1), Do(Op::kFlushBegin), Read(4, 4, VFW_E_WRONG_STATE, 1), Do(Op::kFlushEnd),
      Read(8, 4, S_OK, 2), Read(12, 4, S_OK, 2)}},
    {"AFlushOpenedAndClosedBetweenReadsDropsTheBlock",
     {Read(0, 4, S_OK, 1), Do(Op::kFlushBegin), Do(Op::kFlushEnd), Read(4, 4, S_OK, 2)}},
    {"ASeekDropsTheBlock", {Read(0, 4, S_OK, 1), Do(Op::kDrop), Read(4, 4, S_OK, 2)}},
    // The gap blocks here start at 16 bytes and never go below.
    {"AGapBlockStartsAtTheEndOfALongSkip",  // and holds none of the bytes skipped
     {Read(0, 4, S_OK, 1), Skip(4, 100), Read(100, 4, S_OK, 2), Read(108, 8, S_OK, 2),
      Read(96, 4, S_OK, 3)}},
    {"AShortSkipKeepsAlignedBlocks",
     {Read(0, 4, S_OK, 1), Skip(4, 66), Read(70, 4, S_OK, 2), Read(64, 6, S_OK, 2)}},
    {"ARunPastAGapBlockReadsARegularOneFromItsStart",
     {Read(0, 4, S_OK, 1), Skip(4, 100), Read(100, 4, S_OK, 2), Read(112, 8, S_OK, 3),
      Read(150, 8, S_OK, 3), Read(96, 4, S_OK, 4)}},
    {"ARunPastAGapBlockDoublesTheNextGap",
     {Read(0, 4, S_OK, 1), Skip(4, 70), Read(70, 4, S_OK, 2), Read(84, 4, S_OK, 3), Skip(90, 170),
      Read(170, 4, S_OK, 4), Read(196, 4, S_OK, 4)}},
    {"ASkipOverAMostlyUnreadGapBlockHalvesTheNextGap",
     {Read(0, 4, S_OK, 1), Skip(4, 70), Read(70, 4, S_OK, 2), Read(84, 4, S_OK, 3), Skip(74, 150),
      Read(150, 4, S_OK, 4), Skip(154, 220), Read(220, 4, S_OK, 5), Read(232, 8, S_OK, 6)}},
    {"ASeekForgetsTheSkip",
     {Read(0, 4, S_OK, 1), Skip(4, 100), Do(Op::kDrop), Read(100, 4, S_OK, 2),
      Read(64, 4, S_OK, 2)}},
    {"AFailedFillLeavesTheReadItsOwnResult",
     // (failed reads count too: the fill's, then the read's own)
     {Do(Op::kFailAt, 50), Read(0, 4, S_OK, 2), Read(48, 4, E_FAIL, 4), Read(64, 4, S_OK, 5),
      Read(66, 4, S_OK, 5)}},
};

INSTANTIATE_TEST_SUITE_P(Cases, BlockReaderTable,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_KeptMemory" : "");
                         });

TEST(BlockReader, OwnFlushBracketStopsServingAndIsPassedOn) {
  ComPtr<CMemoryReader> upstream(new CMemoryReader(Pattern(kFileSize)));
  upstream->Release();
  ComPtr<CBlockReader> reader(new CBlockReader(upstream.Get(), kBlock, kBlock, nullptr));
  reader->Release();
  uint8_t b[4];
  ASSERT_EQ(reader->SyncRead(0, 4, b), S_OK);
  ASSERT_EQ(reader->BeginFlush(), S_OK);
  EXPECT_EQ(reader->SyncRead(4, 4, b), VFW_E_WRONG_STATE);
  ASSERT_EQ(reader->EndFlush(), S_OK);
  EXPECT_EQ(reader->SyncRead(4, 4, b), S_OK);
  EXPECT_EQ(upstream->ReadCount(), 2u);
}

// Headers far apart (large payloads between, read by someone else): the
// blocks shrink, so the walk does not read the whole file.
TEST(BlockReader, AWalkOverDistantHeadersShrinksItsBlocks) {
  constexpr size_t kFile = 4 << 20;
  constexpr int64_t kGap = 200 * 1024;
  ComPtr<CMemoryReader> upstream(new CMemoryReader(Pattern(kFile)));
  upstream->Release();
  ComPtr<CBlockReader> reader(
      new CBlockReader(upstream.Get(), kDefaultReadBlock, kDefaultMinFill, nullptr));
  reader->Release();
  uint8_t header[15];
  for (int64_t p = 0; p + 15 <= static_cast<int64_t>(kFile); p += kGap)
    ASSERT_EQ(reader->SyncRead(p, 15, header), S_OK);
  EXPECT_LT(upstream->BytesRead(), kFile / 4);
}

}  // namespace
}  // namespace flvdmx

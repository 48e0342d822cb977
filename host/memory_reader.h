// CMemoryReader: an IAsyncReader over bytes in memory, for tests and tools.
// Besides serving the bytes it can misbehave on purpose:
//   - report any total and available length (SetLength), or fail Length with
//     a chosen result (FailLength);
//   - fail every read that touches a chosen offset with a chosen result
//     (FailReadsAt), or every read from the Nth on, as a disk or a network
//     share that goes away does (FailReadsFrom);
// and it counts the reads that reached the data and the bytes they brought
// (ReadCount, BytesRead), e.g. to check one read per tag header.
//
// The reader either keeps its own copy of the bytes or, made with kBorrow,
// serves bytes the caller owns and keeps alive for the reader's whole life:
// a fuzz target that makes a reader per input then copies nothing.
//
// Reads are served from the bytes whatever the reported lengths say; a read
// past the end of the bytes is short (S_FALSE). Configure the reader before
// reading from it; reads and the counters are safe from several threads.
// Flush and lifetime: CAsyncReaderBase (`new` gives the caller's reference).
//
//   auto* reader = new CMemoryReader(bytes);
//   reader->FailReadsAt(100, E_FAIL);
//   ... code under test reads through `reader` ...
//   EXPECT_EQ(reader->ReadCount(), 1u);
//   reader->Release();
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "host/async_reader_base.h"

namespace flvdmx {

class CMemoryReader : public CAsyncReaderBase {
 public:
  struct Borrow {};
  static constexpr Borrow kBorrow{};

  explicit CMemoryReader(std::vector<uint8_t> bytes);
  CMemoryReader(const void* pData, size_t cb);
  // No copy: [pData, pData + cb) must outlive the reader.
  CMemoryReader(Borrow, const void* pData, size_t cb);

  HRESULT STDMETHODCALLTYPE Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;

  // What Length reports from now on (by default both are the byte count).
  void SetLength(int64_t llTotal, int64_t llAvailable);
  // Length answers hr (and no lengths) from now on; S_OK restores it.
  void FailLength(HRESULT hr);
  // Every later read whose range [position, position + length) holds llOffset
  // fails with hr.
  void FailReadsAt(int64_t llOffset, HRESULT hr);
  // Reads number nRead (counting from 0, as ReadCount counts) and every one
  // after it fail with hr; with S_FALSE they are short instead (half the
  // bytes asked for, none for a single byte), as a truncated copy reads.
  void FailReadsFrom(uint64_t nRead, HRESULT hr);

  uint64_t ReadCount() const { return m_cReads.load(); }
  uint64_t BytesRead() const { return m_cbRead.load(); }

 private:
  ~CMemoryReader() override = default;
  HRESULT ReadAt(int64_t llPosition, uint32_t cb, uint8_t* pBuffer, uint32_t* pcbRead) override;

  struct ReadFailure {
    int64_t llOffset;
    HRESULT hr;
  };

  std::vector<uint8_t> m_Owned;  // empty when borrowing
  const uint8_t* m_pData;        // m_Owned's bytes, or the caller's
  size_t m_cbData;
  int64_t m_llTotal;
  int64_t m_llAvailable;
  HRESULT m_hrLength = S_OK;
  std::vector<ReadFailure> m_Failures;
  uint64_t m_nFailFrom = UINT64_MAX;
  HRESULT m_hrFailFrom = S_OK;
  std::atomic<uint64_t> m_cReads{0};
  std::atomic<uint64_t> m_cbRead{0};
};

}  // namespace flvdmx

// The reader object through which all FLV code reads the file, and the two
// record readers built on it: the file header and one tag header.
#pragma once

#include <cstdint>

#include "base/block_reader.h"
#include "flvdefs/flv_tag.h"
#include "flv/tag_link_fixups.h"
#include "platform/dshow.h"

namespace flvdmx {

// CFlvReader: a short-lived object on the stack of one FLV operation. It holds
// its own reference on the upstream reader for its lifetime, the reader's
// lengths as `Length` gave them when it was made (both 0 when that call did
// not return S_OK), the time that belongs to the end of the data, and the
// filter's fix-up table (not owned; may be null, which reads as empty).
// Not copyable; use it from one thread.
class CFlvReader {
 public:
  CFlvReader(IAsyncReader* pReader, uint32_t dwEndTime, CTagLinkFixups* pFixups);
  ~CFlvReader();
  CFlvReader(const CFlvReader&) = delete;
  CFlvReader& operator=(const CFlvReader&) = delete;

  IAsyncReader* Reader() const { return m_pReader; }
  int64_t Available() const { return m_llAvailable; }
  int64_t Total() const { return m_llTotal; }
  uint32_t EndTime() const { return m_dwEndTime; }

  // IAsyncReader::SyncRead, or E_POINTER without a reader.
  HRESULT Read(int64_t llPosition, uint32_t cbLength, uint8_t* pBuffer) const;

  // From now on every read, Reader()'s included, goes through a read-ahead
  // block of this object's own (CBlockReader) that stops serving while
  // pFlush (may be null) shows an open flush; its blocks live in pMemory
  // when given (it must outlive this object). S_OK (also without a reader);
  // E_OUTOFMEMORY, reads then go straight to the upstream reader.
  HRESULT EnableReadAhead(const CReaderFlushState* pFlush, CBlockMemory* pMemory = nullptr);
  // Forgets the read-ahead block (a new position); nothing without one.
  void DropReadAhead() const;
  // The first failed read result since read-ahead was enabled (S_OK: none,
  // and always without read-ahead).
  HRESULT ReadFailure() const;
  // Forgets the failure ReadFailure gives (a new segment after a flush).
  void ClearReadFailure() const;
  // Tells the read-ahead that the caller passes over [llFrom, llTo) and reads
  // on at llTo (another stream's payload); nothing without one.
  void SkipReadAhead(int64_t llFrom, int64_t llTo) const;

  // The fix-up table's FindPredecessor; false without a table.
  bool FindPredecessor(int64_t llValue, int64_t* pllKey) const;
  // Records a repaired link in the fix-up table (none: nothing happens).
  void AddFixup(int64_t llKey, int64_t llValue) const;

 private:
  IAsyncReader* m_pReader;
  CBlockReader* m_pBlock = nullptr;  // m_pReader once read-ahead is on
  int64_t m_llAvailable = 0;
  int64_t m_llTotal = 0;
  uint32_t m_dwEndTime;
  CTagLinkFixups* m_pFixups;
};

// Reads and validates the file header. S_OK; E_POINTER without a reader; the
// result of a read that did not return S_OK (S_FALSE for a file shorter than
// the header); VFW_E_INVALID_FILE_FORMAT for a signature other than "FLV",
// flags with neither audio nor video, or a data offset below 9.
HRESULT ReadFlvHeader(const CFlvReader& reader, FlvHeader& header);

// Reads the 15 bytes at a tag position into `tag` (TimeStamp is the raw 24-bit
// value). S_OK; E_POINTER without a reader; otherwise the first read result
// that is not S_OK, S_FALSE from a short read at the end of the file included,
// with the fields whose bytes were read filled and the others unchanged.
// One read per call unless that read comes back short or failed.
HRESULT ReadTagHeader(const CFlvReader& reader, int64_t llPosition, FlvTag& tag);

}  // namespace flvdmx

#include "flv/flv_reader.h"

#include <new>

#include "base/byte_reader.h"

namespace flvdmx {

CFlvReader::CFlvReader(IAsyncReader* pReader, uint32_t dwEndTime, CTagLinkFixups* pFixups)
    : m_pReader(pReader), m_dwEndTime(dwEndTime), m_pFixups(pFixups) {
  if (!m_pReader) return;
  m_pReader->AddRef();
  LONGLONG total = 0;
  LONGLONG available = 0;
  if (m_pReader->Length(&total, &available) == S_OK) {
    m_llTotal = total;
    m_llAvailable = available;
  }
}

CFlvReader::~CFlvReader() {
  if (m_pReader) m_pReader->Release();
}

HRESULT CFlvReader::Read(int64_t llPosition, uint32_t cbLength, uint8_t* pBuffer) const {
  if (!m_pReader) return E_POINTER;
  return m_pReader->SyncRead(llPosition, static_cast<LONG>(cbLength), pBuffer);
}

HRESULT CFlvReader::EnableReadAhead(const CReaderFlushState* pFlush, CBlockMemory* pMemory) {
  if (!m_pReader || m_pBlock) return S_OK;
  CBlockReader* pBlock = new (std::nothrow)
      CBlockReader(m_pReader, kDefaultReadBlock, kDefaultMinFill, pFlush, pMemory);
  if (pBlock == nullptr) return E_OUTOFMEMORY;
  m_pReader->Release();  // the block reader holds its own reference
  m_pReader = pBlock;
  m_pBlock = pBlock;
  return S_OK;
}

void CFlvReader::DropReadAhead() const {
  if (m_pBlock) m_pBlock->Drop();
}

HRESULT CFlvReader::ReadFailure() const { return m_pBlock ? m_pBlock->FirstFailure() : S_OK; }

void CFlvReader::ClearReadFailure() const {
  if (m_pBlock) m_pBlock->ClearFailure();
}

void CFlvReader::SkipReadAhead(int64_t llFrom, int64_t llTo) const {
  if (m_pBlock) m_pBlock->Skip(llFrom, llTo);
}

bool CFlvReader::FindPredecessor(int64_t llValue, int64_t* pllKey) const {
  return m_pFixups != nullptr && m_pFixups->FindPredecessor(llValue, pllKey);
}

void CFlvReader::AddFixup(int64_t llKey, int64_t llValue) const {
  // Out of memory leaves the link unrepaired; the next walk finds it again.
  if (m_pFixups != nullptr) (void)m_pFixups->Add(llKey, llValue);
}

namespace {

constexpr uint32_t kFlvHeaderSize = 9;
constexpr uint8_t kFlvSignature[3] = {'F', 'L', 'V'};

bool HeaderIsValid(const FlvHeader& header) {
  return (header.Flags & (kFlvHasVideo | kFlvHasAudio)) != 0 && header.DataOffset >= kFlvHeaderSize;
}

bool SignatureIsFlv(const uint8_t* p) {
  return p[0] == kFlvSignature[0] && p[1] == kFlvSignature[1] && p[2] == kFlvSignature[2];
}

// A big-endian field of 1, 3 or 4 bytes read on its own at llPosition.
HRESULT ReadField(const CFlvReader& reader, int64_t llPosition, uint32_t cbField,
                  uint32_t* pValue) {
  uint8_t b[4];
  const HRESULT hr = reader.Read(llPosition, cbField, b);
  if (hr != S_OK) return hr;
  ByteReader r(b, cbField);
  uint8_t u8 = 0;
  const bool ok = cbField == 1 ? r.GetU8(&u8) : cbField == 3 ? r.GetU24(pValue) : r.GetU32(pValue);
  if (cbField == 1) *pValue = u8;
  return ok ? S_OK : E_UNEXPECTED;
}

// The field-by-field form: a short or failed whole-header read is repeated
// one field at a time, so that the record and the result are exactly what
// reading each field on its own gives.
HRESULT ReadFlvHeaderByField(const CFlvReader& reader, FlvHeader& header) {
  uint8_t b[3];
  HRESULT hr = reader.Read(0, 3, b);
  if (hr != S_OK) return hr;
  header.Signature[0] = b[0];
  header.Signature[1] = b[1];
  header.Signature[2] = b[2];
  if (!SignatureIsFlv(b)) return VFW_E_INVALID_FILE_FORMAT;
  uint32_t v = 0;
  if ((hr = ReadField(reader, 3, 1, &v)) != S_OK) return hr;
  header.Version = static_cast<uint8_t>(v);
  if ((hr = ReadField(reader, 4, 1, &v)) != S_OK) return hr;
  header.Flags = static_cast<uint8_t>(v);
  if ((hr = ReadField(reader, 5, 4, &v)) != S_OK) return hr;
  header.DataOffset = v;
  return HeaderIsValid(header) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT ReadTagHeaderByField(const CFlvReader& reader, int64_t p, FlvTag& tag) {
  uint32_t v = 0;
  HRESULT hr = ReadField(reader, p, 4, &v);
  if (hr != S_OK) return hr;
  tag.PreviousTagSize = v;
  if ((hr = ReadField(reader, p + 4, 1, &v)) != S_OK) return hr;
  tag.TagType = static_cast<uint8_t>(v);
  if ((hr = ReadField(reader, p + 5, 3, &v)) != S_OK) return hr;
  tag.DataSize = v;
  if ((hr = ReadField(reader, p + 8, 3, &v)) != S_OK) return hr;
  tag.TimeStamp = v;
  if ((hr = ReadField(reader, p + 11, 4, &v)) != S_OK) return hr;
  tag.ExtendedTimeStampAndStreamId = v;
  return S_OK;
}

}  // namespace

HRESULT ReadFlvHeader(const CFlvReader& reader, FlvHeader& header) {
  if (!reader.Reader()) return E_POINTER;
  uint8_t b[kFlvHeaderSize];
  if (reader.Read(0, kFlvHeaderSize, b) != S_OK) return ReadFlvHeaderByField(reader, header);
  header.Signature[0] = b[0];
  header.Signature[1] = b[1];
  header.Signature[2] = b[2];
  if (!SignatureIsFlv(b)) return VFW_E_INVALID_FILE_FORMAT;
  ByteReader r(b + 3, kFlvHeaderSize - 3);
  FlvHeader read = header;
  // Cannot fail: the buffer holds every field.
  if (!r.GetU8(&read.Version) || !r.GetU8(&read.Flags) || !r.GetU32(&read.DataOffset)) {
    return E_UNEXPECTED;
  }
  header = read;
  return HeaderIsValid(header) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT ReadTagHeader(const CFlvReader& reader, int64_t llPosition, FlvTag& tag) {
  if (!reader.Reader()) return E_POINTER;
  uint8_t b[kFlvTagPayloadOffset];
  // The reader does not say how many bytes a short read brought, so only a
  // whole read is taken apart here.
  if (reader.Read(llPosition, sizeof(b), b) != S_OK)
    return ReadTagHeaderByField(reader, llPosition, tag);
  ByteReader r(b, sizeof(b));
  FlvTag read = tag;
  // Cannot fail: the buffer holds every field.
  if (!r.GetU32(&read.PreviousTagSize) || !r.GetU8(&read.TagType) || !r.GetU24(&read.DataSize) ||
      !r.GetU24(&read.TimeStamp) || !r.GetU32(&read.ExtendedTimeStampAndStreamId)) {
    return E_UNEXPECTED;
  }
  tag = read;
  return S_OK;
}

}  // namespace flvdmx

#include "flv/flv_reader.h"

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

bool CFlvReader::FindPredecessor(int64_t llValue, int64_t* pllKey) const {
  return m_pFixups != nullptr && m_pFixups->FindPredecessor(llValue, pllKey);
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

// The field-by-field form: a short or failed whole-header read is repeated
// one field at a time, so that the record and the result are exactly what
// reading each field on its own gives.
HRESULT ReadFlvHeaderByField(const CFlvReader& reader, FlvHeader& header) {
  uint8_t b[4];
  HRESULT hr = reader.Read(0, 3, b);
  if (hr != S_OK) return hr;
  header.Signature[0] = b[0];
  header.Signature[1] = b[1];
  header.Signature[2] = b[2];
  if (!SignatureIsFlv(b)) return VFW_E_INVALID_FILE_FORMAT;
  if ((hr = reader.Read(3, 1, b)) != S_OK) return hr;
  header.Version = b[0];
  if ((hr = reader.Read(4, 1, b)) != S_OK) return hr;
  header.Flags = b[0];
  if ((hr = reader.Read(5, 4, b)) != S_OK) return hr;
  header.DataOffset = LoadBE32(b);
  return HeaderIsValid(header) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT ReadTagHeaderByField(const CFlvReader& reader, int64_t p, FlvTag& tag) {
  uint8_t b[4];
  HRESULT hr = reader.Read(p, 4, b);
  if (hr != S_OK) return hr;
  tag.PreviousTagSize = LoadBE32(b);
  if ((hr = reader.Read(p + 4, 1, b)) != S_OK) return hr;
  tag.TagType = b[0];
  if ((hr = reader.Read(p + 5, 3, b)) != S_OK) return hr;
  tag.DataSize = LoadBE24(b);
  if ((hr = reader.Read(p + 8, 3, b)) != S_OK) return hr;
  tag.TimeStamp = LoadBE24(b);
  if ((hr = reader.Read(p + 11, 4, b)) != S_OK) return hr;
  tag.ExtendedTimeStampAndStreamId = LoadBE32(b);
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
  header.Version = b[3];
  header.Flags = b[4];
  header.DataOffset = LoadBE32(b + 5);
  return HeaderIsValid(header) ? S_OK : VFW_E_INVALID_FILE_FORMAT;
}

HRESULT ReadTagHeader(const CFlvReader& reader, int64_t llPosition, FlvTag& tag) {
  if (!reader.Reader()) return E_POINTER;
  uint8_t b[kFlvTagPayloadOffset];
  // The reader does not say how many bytes a short read brought, so only a
  // whole read is taken apart here.
  if (reader.Read(llPosition, sizeof(b), b) != S_OK)
    return ReadTagHeaderByField(reader, llPosition, tag);
  tag.PreviousTagSize = LoadBE32(b);
  tag.TagType = b[4];
  tag.DataSize = LoadBE24(b + 5);
  tag.TimeStamp = LoadBE24(b + 8);
  tag.ExtendedTimeStampAndStreamId = LoadBE32(b + 11);
  return S_OK;
}

}  // namespace flvdmx

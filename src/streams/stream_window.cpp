#include "streams/stream_window.h"

#include <algorithm>
#include <cstring>

namespace flvdmx {

namespace {
constexpr uint32_t kPieceSize = 4;
}  // namespace

HRESULT StreamWindow::Init(IAsyncReader* pReader, int64_t llPosition, uint32_t cbLength) {
  if (pReader == nullptr) return E_POINTER;
  m_pReader = pReader;
  m_llPosition = llPosition;
  m_cbLength = cbLength;
  m_Bytes.Clear();
  m_cbReadInto = 0;
  return S_OK;
}

HRESULT StreamWindow::FetchPiece() {
  const uint32_t cbFetched = static_cast<uint32_t>(m_Bytes.Size());
  if (cbFetched == m_cbLength) return kStreamDataShort;
  return ReadMore(std::min(kPieceSize, m_cbLength - cbFetched));
}

HRESULT StreamWindow::Fetch(uint32_t cb) {
  if (cb > m_cbLength) return kStreamDataShort;
  const uint32_t cbFetched = static_cast<uint32_t>(m_Bytes.Size());
  return cb <= cbFetched ? S_OK : ReadMore(cb - cbFetched);
}

HRESULT StreamWindow::ReadMore(uint32_t cb) {
  if (m_pReader == nullptr) return E_POINTER;
  if (cb > 0x7FFFFFFFu) return E_INVALIDARG;  // SyncRead takes a LONG length
  const int cbFetched = m_Bytes.Size();
  uint8_t* pTail = nullptr;
  HRESULT hr = m_Bytes.ReserveTail(static_cast<int>(cb), &pTail);
  if (FAILED(hr)) return hr;
  std::memset(pTail, 0, cb);
  m_cbReadInto = static_cast<uint32_t>(cbFetched) + cb;
  hr = m_pReader->SyncRead(m_llPosition + cbFetched, static_cast<LONG>(cb), pTail);
  if (hr == S_OK) m_Bytes.SetSize(cbFetched + static_cast<int>(cb));
  return hr;
}

}  // namespace flvdmx

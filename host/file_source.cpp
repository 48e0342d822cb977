#include "host/file_source.h"

#include <cstring>
#include <new>

#include "host/file_reader.h"
#include "platform/mediatypes.h"

namespace flvdmx {

// The source's output pin: offers the stream type and hands out the reader.
class CFileSource::CSourcePin : public CBasePin {
 public:
  CSourcePin(CFileSource* pFilter, HRESULT* phr)
      : CBasePin(L"CFileSource::CSourcePin", pFilter, &pFilter->m_Lock, phr, L"Output",
                 PINDIR_OUTPUT),
        m_pSource(pFilter) {}

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IAsyncReader) return GetInterface(m_pSource->m_pReader.Get(), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
  }

  // Flushing and end-of-stream travel downstream from here, never into it.
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

  HRESULT CheckMediaType(const CMediaType* pmt) override {
    if (pmt == nullptr) return E_POINTER;
    const CMediaType& offered = m_pSource->m_mt;
    return *pmt->Type() == *offered.Type() && *pmt->Subtype() == *offered.Subtype() ? S_OK
                                                                                    : S_FALSE;
  }
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
    if (pmt == nullptr) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return pmt->Set(m_pSource->m_mt);
  }

 private:
  CFileSource* const m_pSource;
};

CFileSource::CFileSource(IAsyncReader* pReader, HRESULT* phr)
    : CBaseFilter(L"CFileSource", nullptr, &m_Lock, CLSID_HostFileSource), m_pReader(pReader) {
  m_mt.SetType(&MEDIATYPE_Stream);
  m_mt.SetFormatType(&GUID_NULL);
  BYTE signature[3] = {};
  const bool bFlv = m_pReader->SyncRead(0, sizeof(signature), signature) == S_OK &&
                    std::memcmp(signature, "FLV", sizeof(signature)) == 0;
  m_mt.SetSubtype(bFlv ? &MEDIASUBTYPE_QFLV : &MEDIASUBTYPE_NULL);
  m_pPin.reset(new (std::nothrow) CSourcePin(this, phr));
  if (!m_pPin && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CFileSource::~CFileSource() { m_pPin.reset(); }

HRESULT CFileSource::Create(IAsyncReader* pReader, CFileSource** ppSource) {
  if (ppSource == nullptr) return E_POINTER;
  *ppSource = nullptr;
  if (pReader == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  auto* pSource = new (std::nothrow) CFileSource(pReader, &hr);
  if (pSource == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete pSource;
    return hr;
  }
  pSource->NonDelegatingAddRef();
  *ppSource = pSource;
  return S_OK;
}

HRESULT CFileSource::Open(const char* pszPath, CFileSource** ppSource) {
  if (ppSource == nullptr) return E_POINTER;
  *ppSource = nullptr;
  ComPtr<CFileReader> pReader;
  const HRESULT hr = CFileReader::Open(pszPath, pReader.Put());
  if (FAILED(hr)) return hr;
  return Create(pReader.Get(), ppSource);
}

int CFileSource::GetPinCount() { return 1; }

CBasePin* CFileSource::GetPin(int n) { return n == 0 ? m_pPin.get() : nullptr; }

IPin* CFileSource::OutputPin() { return m_pPin.get(); }

}  // namespace flvdmx

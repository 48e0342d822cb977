#include "framework/dmx_output_pin.h"

#include <utility>

#include "baseclasses/wide_string.h"
#include "framework/base_dmx.h"

namespace flvdmx {

CBaseDmxOutputPin::CBaseDmxOutputPin(CBaseDmx* pFilter, int iOutputIndex, HRESULT* phr,
                                     const wchar_t* pName)
    : CPushPin(L"CBaseDmxOutputPin", pFilter, pFilter != nullptr ? pFilter->FilterLock() : nullptr,
               phr, pName),
      m_pDmx(pFilter),
      m_iOutputIndex(iOutputIndex) {
  if (pFilter != nullptr) SetFlushState(&pFilter->ReaderFlushState());
}

CBaseDmxOutputPin::~CBaseDmxOutputPin() { StopThread(); }

STDMETHODIMP CBaseDmxOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IMediaSeeking && m_pDmx != nullptr)
    m_bMainSeekingPin = m_pDmx->ClaimMainSeekingPin(this);
  return CPushPin::NonDelegatingQueryInterface(riid, ppv);
}

BOOL CBaseDmxOutputPin::DecideMainSeekingPin() {
  if (m_pDmx == nullptr) return CPushPin::DecideMainSeekingPin();
  m_bMainSeekingPin = m_pDmx->ClaimMainSeekingPin(this);
  return m_bMainSeekingPin;
}

HRESULT CBaseDmxOutputPin::CheckConnect(IPin* pPin) {
  const HRESULT hr = m_pDmx->PinCheckConnect(GetPinNumber(), pPin);
  if (FAILED(hr)) return hr;
  return CPushPin::CheckConnect(pPin);
}

HRESULT CBaseDmxOutputPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  for (int iPosition = 0; iPosition < 2; ++iPosition) {
    CMediaType offered;
    const HRESULT hr = GetMediaType(iPosition, &offered);
    if (hr != S_OK) return hr;
    if (offered == *pmt) return S_OK;
  }
  return S_FALSE;
}

HRESULT CBaseDmxOutputPin::GetMediaType(int iPosition, CMediaType* pmt) {
  if (m_pSampleEntry == nullptr) return E_UNEXPECTED;
  return m_pDmx->PinGetMediaType(GetPinNumber(), iPosition, pmt);
}

HRESULT CBaseDmxOutputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = CPushPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  IAsyncReader* pReader = m_pDmx->GetReader();
  SetReader(pReader);
  if (pReader != nullptr) pReader->Release();
  return m_pDmx->PinCompleteConnect(GetPinNumber(), pReceivePin);
}

HRESULT CBaseDmxOutputPin::BreakConnect() {
  m_pDmx->PinBreakConnect(GetPinNumber());
  return CPushPin::BreakConnect();
}

HRESULT CBaseDmxOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  return m_pDmx->PinDecideBufferSize(GetPinNumber(), pAlloc, pRequest);
}

HRESULT CBaseDmxOutputPin::Process() {
  if (m_pDmx == nullptr) return E_UNEXPECTED;
  return m_pDmx->PinProcess(GetPinNumber(), this);
}

HRESULT CBaseDmxOutputPin::SetName(const wchar_t* pName) {
  if (pName == nullptr) return E_POINTER;
  WCHAR* pCopy = DuplicateWideString(pName);
  const bool bCopied = pCopy != nullptr;
  {
    // Another thread may be copying the old name out (QueryPinInfo).
    CAutoLock lock(&m_csName);
    std::swap(m_pName, pCopy);
  }
  delete[] pCopy;
  return bCopied ? S_OK : E_OUTOFMEMORY;
}

}  // namespace flvdmx

#include "baseclasses/enum_pins.h"

#include <new>

#include "baseclasses/filter.h"
#include "baseclasses/pin.h"

namespace flvdmx {

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pToCopy)
    : CUnknown(L"CEnumPins", nullptr), m_pFilter(pFilter) {
  m_pFilter->AddRef();
  if (pToCopy != nullptr) {
    m_Position = pToCopy->m_Position;
    m_Version = pToCopy->m_Version;
  } else {
    m_Version = m_pFilter->GetPinVersion();
  }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

STDMETHODIMP CEnumPins::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CEnumPins::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CEnumPins::Release() { return GetOwner()->Release(); }

STDMETHODIMP CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumPins::IsOutOfSync() const { return m_Version != m_pFilter->GetPinVersion(); }

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  if (ppPins == nullptr) return E_POINTER;
  if (pcFetched == nullptr && cPins != 1) return E_INVALIDARG;
  if (pcFetched != nullptr) *pcFetched = 0;
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;

  ULONG cFetched = 0;
  const int cTotal = m_pFilter->GetPinCount();
  while (cFetched < cPins && m_Position < cTotal) {
    IPin* pPin = m_pFilter->AcquirePin(m_Position++);
    if (pPin == nullptr) continue;
    ppPins[cFetched++] = pPin;
  }
  if (pcFetched != nullptr) *pcFetched = cFetched;
  return cFetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const int cLeft = m_pFilter->GetPinCount() - m_Position;
  if (cLeft <= 0 || cPins > static_cast<ULONG>(cLeft)) {
    m_Position += cLeft > 0 ? cLeft : 0;
    return S_FALSE;
  }
  m_Position += static_cast<int>(cPins);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  m_Version = m_pFilter->GetPinVersion();
  m_Position = 0;
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* pClone = new (std::nothrow) CEnumPins(m_pFilter, this);
  if (pClone == nullptr) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumPins*>(pClone), reinterpret_cast<void**>(ppEnum));
}

}  // namespace flvdmx

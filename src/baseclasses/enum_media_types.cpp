#include "baseclasses/enum_media_types.h"

#include <new>

#include "baseclasses/pin.h"

namespace flvdmx {

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pToCopy)
    : CUnknown(L"CEnumMediaTypes", nullptr), m_pPin(pPin) {
  static_cast<IPin*>(m_pPin)->AddRef();
  if (pToCopy != nullptr) {
    m_Position = pToCopy->m_Position;
    m_Version = pToCopy->m_Version;
  } else {
    m_Version = m_pPin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { static_cast<IPin*>(m_pPin)->Release(); }

STDMETHODIMP CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
  return GetOwner()->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CEnumMediaTypes::AddRef() { return GetOwner()->AddRef(); }
STDMETHODIMP_(ULONG) CEnumMediaTypes::Release() { return GetOwner()->Release(); }

STDMETHODIMP CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CEnumMediaTypes::IsOutOfSync() const { return m_Version != m_pPin->GetMediaTypeVersion(); }

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                   ULONG* pcFetched) {
  if (ppMediaTypes == nullptr) return E_POINTER;
  if (pcFetched == nullptr && cMediaTypes != 1) return E_INVALIDARG;
  if (pcFetched != nullptr) *pcFetched = 0;
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;

  ULONG cFetched = 0;
  while (cFetched < cMediaTypes) {
    CMediaType mt;
    if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) break;
    AM_MEDIA_TYPE* pCopy = CreateMediaType(&mt);
    if (pCopy == nullptr) {
      // All or nothing: the caller gets no half-filled array to free.
      while (cFetched > 0) {
        DeleteMediaType(ppMediaTypes[--cFetched]);
        ppMediaTypes[cFetched] = nullptr;
        --m_Position;
      }
      return E_OUTOFMEMORY;
    }
    ppMediaTypes[cFetched++] = pCopy;
    ++m_Position;
  }
  if (pcFetched != nullptr) *pcFetched = cFetched;
  return cFetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  for (; cMediaTypes > 0; --cMediaTypes) {
    CMediaType mt;
    if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) return S_FALSE;
    ++m_Position;
  }
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  m_Version = m_pPin->GetMediaTypeVersion();
  m_Position = 0;
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  if (IsOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* pClone = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  if (pClone == nullptr) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(pClone), reinterpret_cast<void**>(ppEnum));
}

}  // namespace flvdmx

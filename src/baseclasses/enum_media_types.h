// CEnumMediaTypes: IEnumMediaTypes over a pin's GetMediaType(0, 1, ...),
// which ends at the first position that does not give S_OK. It remembers the
// pin's type version; once that changes, Next and Skip answer
// VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// Ownership: holds one reference on the pin (and so, for most pins, on its
// filter) for its whole life. Each type it hands out is task-allocated for
// the caller, who frees it with DeleteMediaType.
#pragma once

#include "baseclasses/unknown.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBasePin;

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pToCopy);
  ~CEnumMediaTypes() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // S_OK when all came, S_FALSE when fewer did; E_OUTOFMEMORY (nothing
  // handed out) when a copy cannot be made.
  STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cMediaTypes) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

 private:
  bool IsOutOfSync() const;

  CBasePin* const m_pPin;
  int m_Position = 0;
  LONG m_Version = 0;
};

}  // namespace flvdmx

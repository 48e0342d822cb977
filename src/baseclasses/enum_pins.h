// CEnumPins: IEnumPins over a filter's GetPinCount/GetPin. It remembers the
// filter's pin version when made or reset; once the pins change, Next and
// Skip answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// Ownership: holds one reference on the filter for its whole life; pins it
// hands out carry a reference for the caller. Used by one thread at a time,
// like every enumerator.
#pragma once

#include "baseclasses/unknown.h"
#include "platform/dshow.h"

namespace flvdmx {

class CBaseFilter;

class CEnumPins : public CUnknown, public IEnumPins {
 public:
  // pToCopy: an enumerator whose position and version this one starts from,
  // or null for a fresh walk.
  CEnumPins(CBaseFilter* pFilter, const CEnumPins* pToCopy);
  ~CEnumPins() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // S_OK when all cPins came, S_FALSE when fewer did. pcFetched may be null
  // only when cPins is 1.
  STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  // S_FALSE when the walk ends before cPins pins.
  STDMETHODIMP Skip(ULONG cPins) override;
  STDMETHODIMP Reset() override;
  // VFW_E_ENUM_OUT_OF_SYNC when this enumerator is.
  STDMETHODIMP Clone(IEnumPins** ppEnum) override;

 private:
  bool IsOutOfSync() const;

  CBaseFilter* const m_pFilter;
  int m_Position = 0;
  LONG m_Version = 0;
};

}  // namespace flvdmx

// CFileSource: the host's stand-in for the platform's asynchronous file
// source. Its one output pin ("Output") offers MEDIATYPE_Stream with a
// subtype taken from the file's first bytes (the QFLV subtype when they are
// "FLV", else MEDIASUBTYPE_NULL) and, asked for IAsyncReader, hands out the
// reader it was made over. It pushes nothing: the downstream filter pulls
// every byte through that reader.
//
// Ownership and lifetime: made with one reference for the caller (Create,
// Open); holds one reference on the reader for its whole life. The pin is a
// member and shares the filter's reference count. The reader handed out by
// the pin is the reader object itself, with a reference of its own.
//
// Locks: the filter's state lock is also the pin's lock (connection calls).
// The reader is fixed at construction, so handing it out takes no lock.
#pragma once

#include <memory>

#include "baseclasses/critsec.h"
#include "baseclasses/filter.h"
#include "baseclasses/mediatype.h"
#include "base/com_ptr.h"
#include "baseclasses/pin.h"
#include "platform/dshow.h"

namespace flvdmx {

// {6F1C2A10-5B7E-4C1D-9E3A-2B8F4D6A7C01}
inline constexpr CLSID CLSID_HostFileSource = {
    0x6F1C2A10, 0x5B7E, 0x4C1D, {0x9E, 0x3A, 0x2B, 0x8F, 0x4D, 0x6A, 0x7C, 0x01}};

class CFileSource : public CBaseFilter {
 public:
  // A source over pReader (a reference is added). The subtype is settled
  // here from the first three bytes; a reader that cannot give them gets
  // MEDIASUBTYPE_NULL. E_POINTER for null arguments, E_OUTOFMEMORY.
  static HRESULT Create(IAsyncReader* pReader, CFileSource** ppSource);
  // A source over the file at pszPath (UTF-8), read by a CFileReader; the
  // reader's open failure (0x80070002 for a missing file, ...) is returned.
  static HRESULT Open(const char* pszPath, CFileSource** ppSource);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // The pin without a reference, and what it offers.
  IPin* OutputPin();
  const CMediaType& OfferedType() const { return m_mt; }
  IBaseFilter* AsBaseFilter() { return static_cast<IBaseFilter*>(this); }

 private:
  class CSourcePin;

  CFileSource(IAsyncReader* pReader, HRESULT* phr);
  ~CFileSource() override;

  CCritSec m_Lock;
  const ComPtr<IAsyncReader> m_pReader;
  CMediaType m_mt;
  std::unique_ptr<CSourcePin> m_pPin;
};

}  // namespace flvdmx

#include "filter_session.h"

#include "com_text.h"
#include "host/file_reader.h"
#include "unplayable_stream.h"

namespace flvdmx::cli {

ComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pEnum;
  if (FAILED(pFilter->EnumPins(pEnum.Put()))) return nullptr;
  ComPtr<IPin> pPin;
  while (pEnum->Next(1, pPin.Put(), nullptr) == S_OK) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (SUCCEEDED(pPin->QueryDirection(&dir)) && dir == direction) return pPin;
  }
  return nullptr;
}

bool FilterSession::OpenFile(const std::string& file, SessionError* pError) {
  ComPtr<CFileReader> pFileReader;
  HRESULT hr = CFileReader::Open(file.c_str(), pFileReader.Put());
  if (FAILED(hr)) {
    *pError = {"cannot open the file", hr};
    return false;
  }
  m_pReader = ComPtr<CCountingReader>::Attach(new CCountingReader(pFileReader.Get()));
  BYTE signature[3] = {};
  if (m_pReader->SyncRead(0, 3, signature) != S_OK || signature[0] != 'F' || signature[1] != 'L' ||
      signature[2] != 'V') {
    *pError = {"not an FLV file (it does not begin with \"FLV\")", VFW_E_INVALID_FILE_FORMAT};
    return false;
  }
  m_pReader->ResetCounters();
  return true;
}

SessionError FilterSession::DescribeConnectFailure(HRESULT hr) const {
  // The filter refuses a file whose first video tag it cannot play, as an
  // invalid one: say which codec it was.
  SessionError unplayable;
  if ((hr == VFW_E_INVALID_FILE_FORMAT || hr == VFW_E_UNSUPPORTED_VIDEO) &&
      DescribeUnsupportedVideo(m_pReader.Get(), &unplayable))
    return unplayable;
  // A file whose every stream is unknown (an enhanced FourCC no one plays).
  if (hr == VFW_E_UNSUPPORTED_STREAM) return DescribeNoPlayableStream(m_pReader.Get());
  if (hr == VFW_E_INVALID_FILE_FORMAT)
    return {"not a valid FLV file (bad header, or a first video tag that cannot be read)", hr};
  if (hr == VFW_E_FILE_TOO_SHORT) return {"the data ends before any stream could be read", hr};
  if (hr == VFW_E_UNSUPPORTED_AUDIO || hr == VFW_E_UNSUPPORTED_VIDEO)
    return {"unsupported codec", hr};
  return {"cannot be read as FLV", hr};
}

void FilterSession::AddIfOutput(ComPtr<IPin> pPin) {
  PIN_DIRECTION dir = PINDIR_INPUT;
  PIN_INFO info{};
  if (FAILED(pPin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT ||
      FAILED(pPin->QueryPinInfo(&info))) {
    return;
  }
  ComPtr<IBaseFilter>::Attach(info.pFilter);  // the reference the query added
  CMediaType mt;
  ComPtr<IEnumMediaTypes> pTypes;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (SUCCEEDED(pPin->EnumMediaTypes(pTypes.Put())) && pTypes->Next(1, &pmt, nullptr) == S_OK &&
      pmt != nullptr) {
    mt.Set(*pmt);
    DeleteMediaType(pmt);
  }
  m_Pins.push_back(OutputPinInfo{std::move(pPin), NarrowName(info.achName), mt});
}

bool FilterSession::ListOutputPins(SessionError* pError) {
  ComPtr<IEnumPins> pEnum;
  HRESULT hr = m_pFilter->EnumPins(pEnum.Put());
  if (FAILED(hr)) {
    *pError = {"cannot list the filter's pins", hr};
    return false;
  }
  ComPtr<IPin> pPin;
  while (pEnum->Next(1, pPin.Put(), nullptr) == S_OK) AddIfOutput(std::move(pPin));
  if (m_Pins.empty()) {
    *pError = DescribeNoPlayableStream(m_pReader.Get());
    return false;
  }
  return true;
}

HRESULT FilterSession::Play(const std::function<void()>& onTick, DWORD dwTickMs) {
  const HRESULT hr = RunGraph(onTick, dwTickMs);
  if (FAILED(hr)) return hr;
  return m_pReader->FirstReadFailure();
}

HRESULT FilterSession::GetAnySeeking(IMediaSeeking** ppSeeking) {
  if (ppSeeking == nullptr) return E_POINTER;
  *ppSeeking = nullptr;
  if (m_Pins.empty()) return E_NOINTERFACE;
  return m_Pins.front().pPin->QueryInterface(IID_IMediaSeeking,
                                             reinterpret_cast<void**>(ppSeeking));
}

}  // namespace flvdmx::cli

#include "filter_session.h"

#include <cstdio>

#include "flv/flv_reader.h"
#include "flv/flv_seek.h"
#include "host/file_reader.h"
#include "module/class_table.h"
#include "module/module_entry.h"
#include "module/module_ids.h"
#include "platform/mediatypes.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx::cli {

namespace {

// The first pin of the filter in that direction, with a reference.
IPin* FirstPin(IBaseFilter* pFilter, PIN_DIRECTION direction) {
  IEnumPins* pEnum = nullptr;
  if (FAILED(pFilter->EnumPins(&pEnum))) return nullptr;
  IPin* pFound = nullptr;
  IPin* pPin = nullptr;
  while (pFound == nullptr && pEnum->Next(1, &pPin, nullptr) == S_OK) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (SUCCEEDED(pPin->QueryDirection(&dir)) && dir == direction) {
      pFound = pPin;
    } else {
      pPin->Release();
    }
  }
  pEnum->Release();
  return pFound;
}

const char* SoundFormatName(int format) {
  switch (format) {
    case kSoundFormatPcmPlatform:
    case kSoundFormatPcmLittleEndian:
      return "PCM";
    case kSoundFormatAdpcm:
      return "ADPCM";
    case kSoundFormatMp3:
    case kSoundFormatMp38k:
      return "MP3";
    case kSoundFormatNellymoser16k:
    case kSoundFormatNellymoser8k:
    case kSoundFormatNellymoser:
      return "Nellymoser";
    case kSoundFormatG711ALaw:
      return "G.711 A-law";
    case kSoundFormatG711MuLaw:
      return "G.711 mu-law";
    case kSoundFormatAac:
      return "AAC";
    case kSoundFormatSpeex:
      return "Speex";
    case kSoundFormatDeviceSpecific:
      return "device-specific";
  }
  return "unknown";
}

const char* VideoCodecName(int codec) {
  switch (codec) {
    case 1:
      return "JPEG";
    case kVideoCodecH263:
      return "Sorenson H.263";
    case kVideoCodecScreen:
      return "screen video";
    case kVideoCodecVp6:
      return "VP6";
    case kVideoCodecVp6Alpha:
      return "VP6 with alpha";
    case kVideoCodecScreen2:
      return "screen video 2";
    case kVideoCodecAvc:
      return "H.264";
    case kVideoCodecHevc:
      return "H.265";
  }
  return "unknown";
}

}  // namespace

HRESULT CreateFlvFilter(IBaseFilter** ppFilter) {
#ifdef _WIN32
  // The filter linked into the tool, not whichever one the system has
  // registered under its class id.
  IClassFactory* pFactory = nullptr;
  HRESULT hr = GetClassObject(GetModuleClassTable(), kClsidFlvDmx, IID_IClassFactory,
                              reinterpret_cast<void**>(&pFactory));
  if (FAILED(hr)) return hr;
  hr = pFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
  pFactory->Release();
  return hr;
#else
  return CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(ppFilter));
#endif
}

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string NarrowName(const wchar_t* pName) {
  std::string name;
  for (; pName != nullptr && *pName != 0; ++pName)
    name.push_back(*pName < 0x80 ? static_cast<char>(*pName) : '?');
  return name;
}

FilterSession::~FilterSession() {
  for (OutputPinInfo& pin : m_Pins) pin.pPin->Release();
  m_Pins.clear();
  if (m_pGraph != nullptr) {
    m_pGraph->RemoveAllFilters();
    m_pGraph->Release();
  }
  if (m_pFilter != nullptr) m_pFilter->Release();
  if (m_pSource != nullptr) m_pSource->Release();
  if (m_pReader != nullptr) m_pReader->Release();
}

bool FilterSession::Open(const std::string& file, SessionError* pError) {
  CFileReader* pFileReader = nullptr;
  HRESULT hr = CFileReader::Open(file.c_str(), &pFileReader);
  if (FAILED(hr)) {
    *pError = {"cannot open the file", hr};
    return false;
  }
  m_pReader = new CCountingReader(pFileReader);
  pFileReader->Release();

  hr = CFileSource::Create(m_pReader, &m_pSource);
  if (SUCCEEDED(hr)) hr = CreateFlvFilter(&m_pFilter);
  if (SUCCEEDED(hr)) hr = CHostGraph::Create(&m_pGraph);
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pSource->AsBaseFilter(), L"Source");
  if (SUCCEEDED(hr)) hr = m_pGraph->AddFilter(m_pFilter, L"Orvex FLV Demultiplexer");
  if (FAILED(hr)) {
    *pError = {"cannot build the filter graph", hr};
    return false;
  }
  if (*m_pSource->OfferedType().Subtype() != MEDIASUBTYPE_QFLV) {
    *pError = {"not an FLV file (it does not begin with \"FLV\")", VFW_E_INVALID_FILE_FORMAT};
    return false;
  }

  IPin* pInput = FirstPin(m_pFilter, PINDIR_INPUT);
  hr = pInput != nullptr ? m_pGraph->Connect(m_pSource->OutputPin(), pInput) : E_UNEXPECTED;
  if (pInput != nullptr) pInput->Release();
  if (FAILED(hr)) {
    if (hr == VFW_E_INVALID_FILE_FORMAT) {
      *pError = {"not a valid FLV file (bad header, or a first video tag that cannot be read)", hr};
    } else if (hr == VFW_E_UNSUPPORTED_AUDIO || hr == VFW_E_UNSUPPORTED_VIDEO) {
      *pError = {"unsupported codec", hr};
    } else {
      *pError = {"cannot be read as FLV", hr};
    }
    return false;
  }

  IEnumPins* pEnum = nullptr;
  hr = m_pFilter->EnumPins(&pEnum);
  if (FAILED(hr)) {
    *pError = {"cannot list the filter's pins", hr};
    return false;
  }
  IPin* pPin = nullptr;
  while (pEnum->Next(1, &pPin, nullptr) == S_OK) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    PIN_INFO info{};
    CMediaType mt;
    IEnumMediaTypes* pTypes = nullptr;
    AM_MEDIA_TYPE* pmt = nullptr;
    if (FAILED(pPin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT ||
        FAILED(pPin->QueryPinInfo(&info))) {
      pPin->Release();
      continue;
    }
    if (info.pFilter != nullptr) info.pFilter->Release();
    if (SUCCEEDED(pPin->EnumMediaTypes(&pTypes))) {
      if (pTypes->Next(1, &pmt, nullptr) == S_OK && pmt != nullptr) {
        mt.Set(*pmt);
        DeleteMediaType(pmt);
      }
      pTypes->Release();
    }
    m_Pins.push_back(OutputPinInfo{pPin, NarrowName(info.achName), mt});
  }
  pEnum->Release();

  if (m_Pins.empty()) {
    *pError = DescribeNoPlayableStream();
    return false;
  }
  return true;
}

const OutputPinInfo* FilterSession::FindPin(const std::string& name) const {
  for (const OutputPinInfo& pin : m_Pins)
    if (pin.name == name) return &pin;
  return nullptr;
}

HRESULT FilterSession::ConnectSink(IPin* pOutput, IBaseFilter* pSink, IPin* pSinkInput) {
  HRESULT hr = m_pGraph->AddFilter(pSink, nullptr);
  if (FAILED(hr)) return hr;
  return m_pGraph->Connect(pOutput, pSinkInput);
}

HRESULT FilterSession::GetSeeking(IMediaSeeking** ppSeeking) { return m_pGraph->GetSeeking(ppSeeking); }

HRESULT FilterSession::GetAnySeeking(IMediaSeeking** ppSeeking) {
  if (ppSeeking == nullptr) return E_POINTER;
  *ppSeeking = nullptr;
  if (m_Pins.empty()) return E_NOINTERFACE;
  return m_Pins.front().pPin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
}

HRESULT FilterSession::Play(const std::function<void()>& onTick, DWORD dwTickMs) {
  HRESULT hr = m_pGraph->Run();
  if (FAILED(hr)) return hr;
  LONG lCode = 0;
  for (;;) {
    hr = m_pGraph->WaitForCompletion(dwTickMs, &lCode);
    if (hr != E_ABORT) break;
    if (onTick) onTick();
  }
  m_pGraph->Stop();
  if (FAILED(hr)) return hr;
  if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX) {
    for (const CHostGraph::Event& event : m_pGraph->PeekEvents()) {
      if (event.lCode == EC_ERRORABORT || event.lCode == EC_ERRORABORTEX)
        return FAILED(static_cast<HRESULT>(event.lParam1)) ? static_cast<HRESULT>(event.lParam1) : E_FAIL;
    }
    return E_FAIL;
  }
  return S_OK;
}

void FilterSession::RequestEnd() { m_pGraph->Notify(EC_USERABORT, 0, 0); }

SessionError FilterSession::DescribeNoPlayableStream() const {
  CFlvReader reader(m_pReader, 0, nullptr);
  FlvHeader header;
  std::string problem = "no playable stream";
  HRESULT hr = VFW_E_UNSUPPORTED_STREAM;
  if (ReadFlvHeader(reader, header) != S_OK) return {problem, hr};

  std::string found;
  const uint8_t types[] = {kFlvTagVideo, kFlvTagAudio};
  for (uint8_t type : types) {
    FlvTag tag;
    int64_t llPosition = 0;
    uint8_t flags = 0;
    if (FindNextTagOfType(reader, header.DataOffset, 0, 0, type, tag, llPosition) != S_OK ||
        tag.DataSize == 0 || reader.Read(llPosition + kFlvTagPayloadOffset, 1, &flags) != S_OK) {
      continue;
    }
    char text[96];
    if (type == kFlvTagVideo) {
      std::snprintf(text, sizeof text, "video codec %d (%s)", flags & 0x0F, VideoCodecName(flags & 0x0F));
      hr = VFW_E_UNSUPPORTED_VIDEO;
    } else {
      std::snprintf(text, sizeof text, "audio codec %d (%s)", flags >> 4, SoundFormatName(flags >> 4));
      hr = VFW_E_UNSUPPORTED_AUDIO;
    }
    found += found.empty() ? text : std::string(" and ") + text;
  }
  if (found.empty()) return {problem + ": the file has no audio or video tags", VFW_E_UNSUPPORTED_STREAM};
  return {problem + ": " + found + " not supported", hr};
}

}  // namespace flvdmx::cli

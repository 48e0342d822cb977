#include "filter_session.h"

#include <atomic>
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

namespace {
std::atomic<bool> g_bUseLinkedFilter{false};
}  // namespace

void UseLinkedFilter(bool bLinked) { g_bUseLinkedFilter = bLinked; }

HRESULT CreateFlvFilter(IBaseFilter** ppFilter) {
  if (g_bUseLinkedFilter) {
    IClassFactory* pFactory = nullptr;
    HRESULT hr = GetClassObject(GetModuleClassTable(), kClsidFlvDmx, IID_IClassFactory,
                                reinterpret_cast<void**>(&pFactory));
    if (FAILED(hr)) return hr;
    hr = pFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
    pFactory->Release();
    return hr;
  }
  return CoCreateInstance(kClsidFlvDmx, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(ppFilter));
}

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

bool FilterSession::OpenFile(const std::string& file, SessionError* pError) {
  CFileReader* pFileReader = nullptr;
  HRESULT hr = CFileReader::Open(file.c_str(), &pFileReader);
  if (FAILED(hr)) {
    *pError = {"cannot open the file", hr};
    return false;
  }
  m_pReader = new CCountingReader(pFileReader);
  pFileReader->Release();
  BYTE signature[3] = {};
  if (m_pReader->SyncRead(0, 3, signature) != S_OK || signature[0] != 'F' || signature[1] != 'L' ||
      signature[2] != 'V') {
    *pError = {"not an FLV file (it does not begin with \"FLV\")", VFW_E_INVALID_FILE_FORMAT};
    return false;
  }
  m_pReader->ResetCounters();
  return true;
}

SessionError FilterSession::DescribeConnectFailure(HRESULT hr) {
  if (hr == VFW_E_INVALID_FILE_FORMAT)
    return {"not a valid FLV file (bad header, or a first video tag that cannot be read)", hr};
  if (hr == VFW_E_UNSUPPORTED_AUDIO || hr == VFW_E_UNSUPPORTED_VIDEO) return {"unsupported codec", hr};
  return {"cannot be read as FLV", hr};
}

bool FilterSession::ListOutputPins(SessionError* pError) {
  IEnumPins* pEnum = nullptr;
  HRESULT hr = m_pFilter->EnumPins(&pEnum);
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

HRESULT FilterSession::GetAnySeeking(IMediaSeeking** ppSeeking) {
  if (ppSeeking == nullptr) return E_POINTER;
  *ppSeeking = nullptr;
  if (m_Pins.empty()) return E_NOINTERFACE;
  return m_Pins.front().pPin->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
}

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

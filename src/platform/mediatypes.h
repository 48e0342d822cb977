// Media type vocabulary: the platform's format structures (WAVEFORMATEX and
// its MPEG extensions, BITMAPINFOHEADER, VIDEOINFOHEADER(2), RECT), the major
// type, subtype and format type identities, the wave format tags and MPEG
// flag constants, and the product's own FOURCC subtypes.
//
// On Windows the SDK's declarations are used. Elsewhere this header declares
// the same names laid out byte for byte as Windows lays them out
// (little-endian, the SDK's packing), because format blocks are handed to
// decoders as raw bytes. The static asserts at the end hold on both builds.
#pragma once

#include <cstddef>

#include "platform/com.h"
#include "platform/dshow.h"

#ifdef _WIN32

#include <amvideo.h>
#include <dvdmedia.h>
#include <mmreg.h>
#include <uuids.h>

#else  // !_WIN32

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// The wave structures are byte-packed in the SDK (mmreg.h).
#pragma pack(push, 1)

struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;  // bytes of format-specific data after these 18
};

struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD wID;
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};

struct MPEG1WAVEFORMAT {
  WAVEFORMATEX wfx;
  WORD fwHeadLayer;
  DWORD dwHeadBitrate;
  WORD fwHeadMode;
  WORD fwHeadModeExt;
  WORD wHeadEmphasis;
  WORD fwHeadFlags;
  DWORD dwPTSLow;
  DWORD dwPTSHigh;
};

#pragma pack(pop)

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  union {
    DWORD dwControlFlags;
    DWORD dwReserved1;
  };
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};

inline constexpr WORD WAVE_FORMAT_UNKNOWN = 0x0000;
inline constexpr WORD WAVE_FORMAT_PCM = 0x0001;
inline constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
inline constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
inline constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
inline constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
inline constexpr WORD WAVE_FORMAT_RAW_AAC1 = 0x00FF;
inline constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

inline constexpr WORD MPEGLAYER3_WFX_EXTRA_BYTES = 12;
inline constexpr WORD MPEGLAYER3_ID_UNKNOWN = 0;
inline constexpr WORD MPEGLAYER3_ID_MPEG = 1;
inline constexpr WORD MPEGLAYER3_ID_CONSTANTFRAMESIZE = 2;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0x00000000;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_ON = 0x00000001;
inline constexpr DWORD MPEGLAYER3_FLAG_PADDING_OFF = 0x00000002;

// MPEG1WAVEFORMAT: fwHeadLayer, fwHeadMode and fwHeadFlags bits.
inline constexpr WORD ACM_MPEG_LAYER1 = 0x0001;
inline constexpr WORD ACM_MPEG_LAYER2 = 0x0002;
inline constexpr WORD ACM_MPEG_LAYER3 = 0x0004;
inline constexpr WORD ACM_MPEG_STEREO = 0x0001;
inline constexpr WORD ACM_MPEG_JOINTSTEREO = 0x0002;
inline constexpr WORD ACM_MPEG_DUALCHANNEL = 0x0004;
inline constexpr WORD ACM_MPEG_SINGLECHANNEL = 0x0008;
inline constexpr WORD ACM_MPEG_PRIVATEBIT = 0x0001;
inline constexpr WORD ACM_MPEG_COPYRIGHT = 0x0002;
inline constexpr WORD ACM_MPEG_ORIGINALHOME = 0x0004;
inline constexpr WORD ACM_MPEG_PROTECTIONBIT = 0x0008;
inline constexpr WORD ACM_MPEG_ID_MPEG1 = 0x0010;

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_BITFIELDS = 3;

// Identities with the SDK's names and values. The FOURCC-style ones are the
// base GUID {XXXXXXXX-0000-0010-8000-00AA00389B71} with Data1 replaced.
inline constexpr GUID MEDIATYPE_Video = flvdmx::FourccGuid(0x73646976);          // "vids"
inline constexpr GUID MEDIATYPE_Audio = flvdmx::FourccGuid(0x73647561);          // "auds"
inline constexpr GUID MEDIATYPE_Text = flvdmx::FourccGuid(0x73747874);           // "txts"
inline constexpr GUID MEDIATYPE_Midi = flvdmx::FourccGuid(0x7364696D);           // "mids"
inline constexpr GUID MEDIATYPE_Interleaved = flvdmx::FourccGuid(0x73766169);    // "iavs"
inline constexpr GUID MEDIATYPE_File = flvdmx::FourccGuid(0x656C6966);           // "file"
inline constexpr GUID MEDIATYPE_ScriptCommand = flvdmx::FourccGuid(0x73636D64);  // "scmd"
inline constexpr GUID MEDIATYPE_Stream = {
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIATYPE_Timecode = {
    0x0482DEE3, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
inline constexpr GUID MEDIATYPE_AnalogVideo = {
    0x0482DDE1, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};
inline constexpr GUID MEDIATYPE_AnalogAudio = {
    0x0482DEE1, 0x7817, 0x11CF, {0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65}};

inline constexpr GUID MEDIASUBTYPE_None = {
    0xE436EB8E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_PCM = flvdmx::FourccGuid(WAVE_FORMAT_PCM);
inline constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = flvdmx::FourccGuid(WAVE_FORMAT_IEEE_FLOAT);
inline constexpr GUID MEDIASUBTYPE_MPEG1AudioPayload = flvdmx::FourccGuid(WAVE_FORMAT_MPEG);
inline constexpr GUID MEDIASUBTYPE_MPEG1Payload = {
    0xE436EB81, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_MPEG1Audio = {
    0xE436EB87, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_MPEG2_AUDIO = {
    0xE06D802B, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
inline constexpr GUID MEDIASUBTYPE_YUY2 = flvdmx::FourccGuid(0x32595559);
inline constexpr GUID MEDIASUBTYPE_UYVY = flvdmx::FourccGuid(0x59565955);
inline constexpr GUID MEDIASUBTYPE_YV12 = flvdmx::FourccGuid(0x32315659);
inline constexpr GUID MEDIASUBTYPE_NV12 = flvdmx::FourccGuid(0x3231564E);
inline constexpr GUID MEDIASUBTYPE_RGB24 = {
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB32 = {
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

inline constexpr GUID FORMAT_None = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID FORMAT_VideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_MPEGVideo = {
    0x05589F82, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_MPEGStreams = {
    0x05589F83, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_DvInfo = {
    0x05589F84, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_VideoInfo2 = {
    0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID FORMAT_MPEG2Video = {
    0xE06D80E3, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};

#endif  // _WIN32

// The null identities: the SDK spells them as GUID_NULL, mingw-w64 lacks them.
#ifndef MEDIATYPE_NULL
inline constexpr GUID MEDIATYPE_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#endif
#ifndef MEDIASUBTYPE_NULL
inline constexpr GUID MEDIASUBTYPE_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#endif

// Identities of our own, the same on both builds.
namespace flvdmx {

// Sizes of the video format blocks the media type equality rule knows; the
// MPEG ones are the SDK's MPEG1VIDEOINFO and MPEG2VIDEOINFO with a one-word
// sequence header.
inline constexpr ULONG kVideoInfoSize = 88;
inline constexpr ULONG kVideoInfo2Size = 112;
inline constexpr ULONG kMpeg1VideoInfoSize = 104;
inline constexpr ULONG kMpeg2VideoInfoSize = 136;
inline constexpr ULONG kVideoInfo144Size = 144;

// A VIDEOINFOHEADER-style format with a 144-byte minimum block, which the
// equality rule accepts beside the SDK's video formats.
inline constexpr GUID FORMAT_VideoInfo144 = {
    0x48799704, 0x2735, 0x4BE6, {0xA0, 0xCE, 0xDD, 0xC6, 0x2C, 0x25, 0xA4, 0xF2}};

// Layer III audio: wFormatTag 0x0055 as a subtype (the SDK has no name for it).
inline constexpr GUID MEDIASUBTYPE_MP3 = FourccGuid(0x00000055);

// Input stream subtypes (MEDIASUBTYPE_QFLV is in dshow.h).
inline constexpr GUID MEDIASUBTYPE_QISO = FourccGuid(MakeFourcc('Q', 'I', 'S', 'O'));

// Audio output subtypes.
inline constexpr uint32_t kFourccNELL = MakeFourcc('N', 'E', 'L', 'L');
inline constexpr uint32_t kFourccMP4A = MakeFourcc('m', 'p', '4', 'a');
inline constexpr uint32_t kFourccSPEX = MakeFourcc('s', 'p', 'e', 'x');
inline constexpr GUID MEDIASUBTYPE_NELL = FourccGuid(kFourccNELL);
inline constexpr GUID MEDIASUBTYPE_mp4a = FourccGuid(kFourccMP4A);
inline constexpr GUID MEDIASUBTYPE_spex = FourccGuid(kFourccSPEX);

// Video output subtypes; the FOURCC is also the bitmap compression code.
inline constexpr uint32_t kFourccS263 = MakeFourcc('S', '2', '6', '3');
inline constexpr uint32_t kFourccFSV1 = MakeFourcc('F', 'S', 'V', '1');
inline constexpr uint32_t kFourccVP6F = MakeFourcc('V', 'P', '6', 'F');
inline constexpr uint32_t kFourccFSV2 = MakeFourcc('F', 'S', 'V', '2');
inline constexpr uint32_t kFourccAVC1 = MakeFourcc('a', 'v', 'c', '1');
inline constexpr uint32_t kFourccHVC1 = MakeFourcc('h', 'v', 'c', '1');
inline constexpr uint32_t kFourccH264 = MakeFourcc('H', '2', '6', '4');
inline constexpr uint32_t kFourccH265 = MakeFourcc('H', '2', '6', '5');
inline constexpr GUID MEDIASUBTYPE_S263 = FourccGuid(kFourccS263);
inline constexpr GUID MEDIASUBTYPE_FSV1 = FourccGuid(kFourccFSV1);
inline constexpr GUID MEDIASUBTYPE_VP6F = FourccGuid(kFourccVP6F);
inline constexpr GUID MEDIASUBTYPE_FSV2 = FourccGuid(kFourccFSV2);
inline constexpr GUID MEDIASUBTYPE_avc1 = FourccGuid(kFourccAVC1);
inline constexpr GUID MEDIASUBTYPE_hvc1 = FourccGuid(kFourccHVC1);
// What the elementary-stream mini-parsers describe.
inline constexpr GUID MEDIASUBTYPE_H264 = FourccGuid(kFourccH264);
inline constexpr GUID MEDIASUBTYPE_H265 = FourccGuid(kFourccH265);

// Bitmap compression codes the equality rule treats specially.
inline constexpr uint32_t kFourccQGRY = MakeFourcc('Q', 'G', 'R', 'Y');
inline constexpr uint32_t kFourccYUY2 = MakeFourcc('Y', 'U', 'Y', '2');
inline constexpr uint32_t kFourccUYVY = MakeFourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t kFourccYV12 = MakeFourcc('Y', 'V', '1', '2');
inline constexpr uint32_t kFourccI420 = MakeFourcc('I', '4', '2', '0');
inline constexpr uint32_t kFourccNV12 = MakeFourcc('N', 'V', '1', '2');

}  // namespace flvdmx

// Format blocks are copied from host structures as they are: the byte order
// must be the platform's.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "format blocks are little-endian; this host is not"
#endif

// Layouts that decoders read as raw bytes; these hold on both builds.
static_assert(sizeof(RECT) == 16);
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);
static_assert(offsetof(MPEGLAYER3WAVEFORMAT, wID) == 18);
static_assert(offsetof(MPEGLAYER3WAVEFORMAT, fdwFlags) == 20);
static_assert(offsetof(MPEGLAYER3WAVEFORMAT, nBlockSize) == 24);
static_assert(offsetof(MPEGLAYER3WAVEFORMAT, nFramesPerBlock) == 26);
static_assert(offsetof(MPEGLAYER3WAVEFORMAT, nCodecDelay) == 28);
static_assert(sizeof(MPEG1WAVEFORMAT) == 40);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadLayer) == 18);
static_assert(offsetof(MPEG1WAVEFORMAT, dwHeadBitrate) == 20);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadMode) == 24);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadModeExt) == 26);
static_assert(offsetof(MPEG1WAVEFORMAT, wHeadEmphasis) == 28);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadFlags) == 30);
static_assert(offsetof(MPEG1WAVEFORMAT, dwPTSLow) == 32);
static_assert(offsetof(MPEG1WAVEFORMAT, dwPTSHigh) == 36);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biWidth) == 4);
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == 8);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biSizeImage) == 20);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);
static_assert(sizeof(VIDEOINFOHEADER) == flvdmx::kVideoInfoSize);
static_assert(offsetof(VIDEOINFOHEADER, rcTarget) == 16);
static_assert(offsetof(VIDEOINFOHEADER, dwBitRate) == 32);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(VIDEOINFOHEADER2) == flvdmx::kVideoInfo2Size);
static_assert(offsetof(VIDEOINFOHEADER2, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER2, dwPictAspectRatioX) == 56);
static_assert(offsetof(VIDEOINFOHEADER2, dwPictAspectRatioY) == 60);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);
static_assert(flvdmx::MEDIASUBTYPE_avc1.Data1 == 0x31637661);
static_assert(flvdmx::MEDIASUBTYPE_mp4a.Data1 == 0x6134706D);
static_assert(flvdmx::MEDIASUBTYPE_H264.Data1 == 0x34363248);
static_assert(flvdmx::MEDIASUBTYPE_QFLV.Data1 == 0x564C4651);
#ifndef _WIN32
// On Windows these identities are the SDK's link-time constants.
static_assert(MEDIATYPE_Video.Data1 == 0x73646976 && MEDIATYPE_Video.Data4[7] == 0x71);
static_assert(MEDIATYPE_Audio.Data1 == 0x73647561);
static_assert(FORMAT_VideoInfo.Data1 == 0x05589F80 && FORMAT_WaveFormatEx.Data1 == 0x05589F81);
#endif

#include "codecs.h"

#include <cstring>

#include "flvdefs/flv_codecs.h"
#include "enhanced_subtypes.h"
#include "platform/mediatypes.h"

namespace flvdmx::cli {

namespace {

// The JPEG CodecID: the filter never plays it, so flvdefs has no name for it.
constexpr int kVideoCodecJpeg = 1;

const CodecInfo kCodecs[] = {
    {true, kVideoCodecJpeg, nullptr, nullptr, "JPEG"},
    {true, kVideoCodecH263, &MEDIASUBTYPE_S263, "sorenson_h263", "Sorenson H.263", ".s263"},
    {true, kVideoCodecScreen, &MEDIASUBTYPE_FSV1, "screen_video", "screen video", ".fsv1"},
    {true, kVideoCodecVp6, &MEDIASUBTYPE_VP6F, "vp6", "VP6", ".vp6f"},
    {true, kVideoCodecVp6Alpha, nullptr, nullptr, "VP6 with alpha"},
    {true, kVideoCodecScreen2, &MEDIASUBTYPE_FSV2, "screen_video_2", "screen video 2", ".fsv2"},
    {true, kVideoCodecAvc, &MEDIASUBTYPE_avc1, "h264", "H.264", nullptr, "avc1"},
    {true, kVideoCodecHevc, &MEDIASUBTYPE_hvc1, "hevc", "H.265", nullptr, "hvc1"},
    {false, kSoundFormatPcmPlatform, &MEDIASUBTYPE_PCM, "pcm", "PCM"},
    {false, kSoundFormatPcmLittleEndian, &MEDIASUBTYPE_PCM, "pcm", "PCM"},
    {false, kSoundFormatAdpcm, nullptr, nullptr, "ADPCM"},
    {false, kSoundFormatMp3, &MEDIASUBTYPE_MP3, "mp3", "MP3", nullptr, ".mp3"},
    {false, kSoundFormatMp38k, &MEDIASUBTYPE_MP3, "mp3", "MP3"},
    // MP3 tags whose frames are MPEG Layer I or II.
    {false, -1, &MEDIASUBTYPE_MPEG1AudioPayload, "mpeg_audio", "MPEG audio"},
    {false, kSoundFormatNellymoser16k, &MEDIASUBTYPE_NELL, "nellymoser", "Nellymoser", ".nelly"},
    {false, kSoundFormatNellymoser8k, &MEDIASUBTYPE_NELL, "nellymoser", "Nellymoser", ".nelly"},
    {false, kSoundFormatNellymoser, &MEDIASUBTYPE_NELL, "nellymoser", "Nellymoser", ".nelly"},
    {false, kSoundFormatG711ALaw, nullptr, nullptr, "G.711 A-law"},
    {false, kSoundFormatG711MuLaw, nullptr, nullptr, "G.711 mu-law"},
    {false, kSoundFormatAac, &MEDIASUBTYPE_mp4a, "aac", "AAC", nullptr, "mp4a"},
    {false, kSoundFormatSpeex, &MEDIASUBTYPE_spex, "speex", "Speex", ".speex"},
    {false, kSoundFormatDeviceSpecific, nullptr, nullptr, "device-specific"},
    // Codecs that only enhanced FLV carries, named there by FourCC.
    {true, -1, &kSubtypeAv01, "av1", "AV1", nullptr, "av01"},
    {true, -1, &kSubtypeVp90, "vp9", "VP9", nullptr, "vp09"},
    {true, -1, &kSubtypeVp80, "vp8", "VP8", nullptr, "vp08"},
    {false, -1, &kSubtypeOpus, "opus", "Opus", nullptr, "Opus"},
    {false, -1, &kSubtypeFlac, "flac", "FLAC", nullptr, "fLaC"},
    {false, -1, &kSubtypeDolbyAc3, "ac3", "AC-3", nullptr, "ac-3"},
    {false, -1, &kSubtypeDolbyDdPlus, "eac3", "E-AC-3", nullptr, "ec-3"},
};

}  // namespace

const CodecInfo* FindCodecBySubtype(const GUID& subtype) {
  for (const CodecInfo& codec : kCodecs)
    if (codec.pSubtype != nullptr && *codec.pSubtype == subtype) return &codec;
  return nullptr;
}

const CodecInfo* FindFlvCodec(bool bVideo, int flvId) {
  for (const CodecInfo& codec : kCodecs)
    if (codec.bVideo == bVideo && codec.flvId == flvId) return &codec;
  return nullptr;
}

const CodecInfo* FindFourccCodec(bool bVideo, const char fourcc[4]) {
  for (const CodecInfo& codec : kCodecs)
    if (codec.bVideo == bVideo && codec.pszFourcc != nullptr &&
        std::memcmp(codec.pszFourcc, fourcc, 4) == 0) {
      return &codec;
    }
  return nullptr;
}

}  // namespace flvdmx::cli

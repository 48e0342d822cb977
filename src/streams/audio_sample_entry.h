// AudioSampleEntry: the description of an FLV file's audio stream. From the
// first audio tag it takes the codec (SoundFormat) and the format: channels,
// sample rate and sample size from the tag's flags byte, or where the stream
// says more exactly from the stream: the MPEG frame header for MP3, the
// AudioSpecificConfig (rate and channels a decoder puts out) for AAC. It describes the stream
// as a WAVEFORMATEX media type (MPEGLAYER3WAVEFORMAT / MPEG1WAVEFORMAT for
// MPEG audio).
//
// A member of the filter, written by the header scan and read-only after it
// (see SampleEntry).
#pragma once

#include <cstdint>

#include "flvdefs/flv_codecs.h"
#include "platform/mediatypes.h"
#include "streams/sample_entry.h"

namespace flvdmx {

// Bytes after the WAVEFORMATEX: the AudioSpecificConfig of AAC (at most 20)
// or the tail of the MPEG structures (12 or 22).
inline constexpr uint32_t kAudioExtraSize = 22;
// The smallest buffer an enhanced audio track's samples get.
inline constexpr uint32_t kMinExAudioSampleSize = 0x40000;

struct WaveFormatWithExtra {
  WAVEFORMATEX wfx;
  BYTE abExtra[kAudioExtraSize];
};

// The 40-byte format block, seen as whichever structure the codec uses. All
// views share the WAVEFORMATEX at the front.
union AudioFormatBlock {
  WAVEFORMATEX wfx;
  MPEGLAYER3WAVEFORMAT mp3;
  MPEG1WAVEFORMAT mpeg1;
  WaveFormatWithExtra ext;
};
static_assert(sizeof(AudioFormatBlock) == 40);
static_assert(sizeof(WaveFormatWithExtra) == 40);

class AudioSampleEntry final : public SampleEntry {
 public:
  AudioSampleEntry();

  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  HRESULT ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition, const FlvTag* pTag,
                            uint32_t dwDuration) override;
  // nAvgBytesPerSec; 0 is possible (free-format MPEG audio).
  uint32_t GetMaxSampleSize() override;

  // The MPEG audio frame header at llPosition (the byte after the tag's flags
  // byte) rewrites the format block as MPEGLAYER3WAVEFORMAT (Layer III) or
  // MPEG1WAVEFORMAT (Layers I and II). dwDuration (ms this tag plays, or 0)
  // corrects the Layer III bit rate to the one observed. S_OK;
  // kStreamDataShort for an invalid layer, bit rate or sample rate, or fewer
  // than four header bytes (the block is then left untouched); E_POINTER for
  // a null reader; a SyncRead failure unchanged.
  HRESULT ReadMpeg1AudioHeader(IAsyncReader* pReader, int64_t llPosition, const FlvTag* pTag,
                               uint32_t dwDuration);

  // The AudioSpecificConfig of an AAC sequence header at llPosition (the
  // AACPacketType byte) into the extension area, and the rate and channels
  // it gives into the wave format (the flags byte always says 44 kHz stereo
  // for AAC). S_FALSE when the tag is not a sequence header or its payload
  // exceeds 22 bytes.
  HRESULT ReadAacHeader(IAsyncReader* pReader, int64_t llPosition, const FlvTag* pTag,
                        uint32_t dwDuration);

  // The subtype for the stored SoundFormat, or VFW_E_UNSUPPORTED_AUDIO. The
  // MPEG subtype depends on the layer and is chosen by GetMpegAudioMediaType.
  HRESULT GetAudioSubtype(GUID* pSubtype) const;

  bool IsAac() const { return m_iSoundFormat == kSoundFormatAac; }

  // Enhanced tracks (m_dwFourCc set by the caller first). The SequenceStart
  // body: the AAC config record, OpusHead, or FLAC's STREAMINFO ("fLaC" and
  // metadata blocks), kept as carried. S_OK; VFW_E_INVALID_FILE_FORMAT for a
  // body that does not parse; VFW_E_UNSUPPORTED_AUDIO for a FourCC this
  // system does not play.
  HRESULT ReadExSequenceStart(const uint8_t* pBody, size_t cbBody);
  // A coded frame: AC-3 and E-AC-3 are described by their sync frame. S_OK
  // when the description is complete, S_FALSE when a later frame must tell.
  HRESULT ReadExCodedFrame(const uint8_t* pFrame, size_t cbFrame);
  // An MP3 frame of cbFrame bytes at llPosition (described as legacy MP3).
  HRESULT ReadExMp3Frame(IAsyncReader* pReader, int64_t llPosition, uint32_t cbFrame);
  // MultichannelConfig: channel order, count, and mask or map. S_OK;
  // VFW_E_INVALID_FILE_FORMAT when truncated.
  HRESULT ReadExMultichannelConfig(const uint8_t* pBody, size_t cbBody);
  // Whether an enhanced description still lacks what its media type needs.
  bool NeedsMoreExData() const { return IsEnhanced() && !m_bExDescribed && IsExPlayable(); }
  bool IsExPlayable() const;

  // From MultichannelConfig: the AudioChannelOrder, and for the native order
  // the mask of channels present (0 when not given).
  uint8_t m_uChannelOrder = 0;
  uint32_t m_dwChannelMask = 0;
  bool m_bExDescribed = false;

  // SoundFormat of the first audio tag, -1 until read.
  int32_t m_iSoundFormat = -1;
  AudioFormatBlock m_Format;

 private:
  HRESULT GetMpegAudioMediaType(CMediaType* pmt) const;
  HRESULT GetExMediaType(CMediaType* pmt) const;
  // PCM-like block and byte rate of the decoded output, from the format's
  // channels, rate and bits.
  void SetDecodedRates();
  // Rate and channels from the AudioSpecificConfig in the extension area,
  // when it parses; block alignment and byte rate follow them.
  void TakeRateAndChannelsFromConfig();
};

}  // namespace flvdmx

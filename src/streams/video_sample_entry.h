// VideoSampleEntry: the description of an FLV file's video stream. From the
// first video tag it takes the codec (CodecID) and the picture size from the
// codec's own header: the H.263 picture header, the screen-video header, the
// VP6 intra-frame header, or for AVC and HEVC the decoder configuration
// record, whose parameter sets a mini-parser reads. It describes the stream
// as a VIDEOINFOHEADER media type with a FOURCC subtype, the decoder
// configuration box (AVC, HEVC) right after the bitmap header.
//
// A member of the filter, written by the header scan and read-only after it
// (see SampleEntry). Owns its mini-parser, which lives until the entry goes
// or the next scan replaces it.
#pragma once

#include <cstdint>
#include <memory>

#include "flvdefs/flv_codecs.h"
#include "platform/mediatypes.h"
#include "streams/sample_entry.h"

namespace flvdmx {

class CMiniParserH264;
class CMiniParserH265;

// Bytes of the decoder configuration box in front of the record: a 32-bit
// big-endian size and the type: "avcC" for AVC and for HEVC in the AVC-like
// layout, "hvcC" for an HEVCDecoderConfigurationRecord.
inline constexpr uint32_t kConfigBoxHeaderSize = 8;
// The smallest buffer an enhanced video track's samples get.
inline constexpr uint32_t kMinExVideoSampleSize = 0x100000;

// What a Metadata packet's colorInfo object says; -1 where it says nothing.
struct VideoColorInfo {
  bool bPresent = false;
  int32_t iBitDepth = -1;
  int32_t iColorPrimaries = -1;
  int32_t iTransferCharacteristics = -1;
  int32_t iMatrixCoefficients = -1;
  int32_t iMaxCll = -1;
  int32_t iMaxFall = -1;
  double dMaxLuminance = -1;
  double dMinLuminance = -1;
};

// The smallest video buffer: a key frame of a small picture at high quality
// can be larger than two raw pictures.
inline constexpr uint32_t kVideoSampleFloor = 256 * 1024;

class VideoSampleEntry final : public SampleEntry {
 public:
  VideoSampleEntry();
  ~VideoSampleEntry();

  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  // The duration is not used. S_OK also for an AVC or HEVC tag that is not a
  // sequence header (the size then stays as it was); S_FALSE for a VP6
  // first frame that is not an intra frame; VFW_E_INVALID_FILE_FORMAT for a
  // broken H.263 or VP6 header or a parameter set that runs past its record;
  // VFW_E_UNSUPPORTED_VIDEO for other codecs.
  HRESULT ReadFormatFromTag(IAsyncReader* pReader, int64_t llDataPosition, const FlvTag* pTag,
                            uint32_t dwDuration) override;
  // Two pictures at width x height x bit count, fitted to the tags seen
  // (FitToTags) with a floor of kVideoSampleFloor.
  uint32_t GetMaxSampleSize() override;

  void SetAvgTimePerFrame(REFERENCE_TIME llAvgTimePerFrame) {
    m_llAvgTimePerFrame = llAvgTimePerFrame;
  }
  bool IsVp6() const { return m_iCodecID == kVideoCodecVp6; }
  // AVC or HEVC still without a decoder configuration: a later sequence
  // header can give it.
  bool NeedsDecoderConfiguration() const {
    return (m_iCodecID == kVideoCodecAvc || m_iCodecID == kVideoCodecHevc) &&
           m_ConfigBytes.Size() == 0;
  }

  // The FOURCC subtype for the stored CodecID, or VFW_E_UNSUPPORTED_VIDEO.
  HRESULT GetVideoSubtype(GUID* pSubtype) const;

  // Enhanced tracks (m_dwFourCc set by the caller first). The SequenceStart
  // body: avcC / hvcC as for CodecID 7 / 12, av1C or vpcC kept as carried.
  // S_OK; VFW_E_INVALID_FILE_FORMAT for a record that does not parse;
  // VFW_E_UNSUPPORTED_VIDEO for a FourCC this system does not play.
  HRESULT ReadExSequenceStart(const uint8_t* pBody, size_t cbBody);
  // A coded frame: the picture size of AV1, VP9 and VP8 when the record did
  // not give it (key frames only). S_OK when the size is known now, S_FALSE
  // when a later frame must tell.
  HRESULT ReadExCodedFrame(const uint8_t* pFrame, size_t cbFrame, bool bKeyFrame);
  // Whether an enhanced description still lacks its record or size.
  bool NeedsMoreExData() const;

  uint16_t m_wWidth = 1;
  uint16_t m_wHeight = 1;
  uint16_t m_wBitCount = 24;
  // CodecID of the first video tag, -1 until read.
  int32_t m_iCodecID = -1;
  REFERENCE_TIME m_llAvgTimePerFrame = 0;
  std::unique_ptr<CMiniParserH264> m_pH264Parser;
  std::unique_ptr<CMiniParserH265> m_pH265Parser;
  VideoColorInfo m_ColorInfo;
  bool m_bExRecordSeen = false;

 private:
  // The box in m_ConfigBytes: its parameter sets give the picture size.
  HRESULT ParseConfigBox();
  HRESULT GetExMediaType(CMediaType* pmt);
  // The video type both forms share: picture, frame duration and the
  // configuration record behind the header. VIDEOINFOHEADER2, which carries
  // the colour flags, for the enhanced codecs; VIDEOINFOHEADER otherwise.
  HRESULT SetVideoType(CMediaType* pmt, const GUID& subtype, bool bInfo2,
                       DWORD dwControlFlags) const;
  // Each parses from the window's start (the codec byte); kStreamDataShort
  // when the bytes run out.
  HRESULT ReadCodecHeader(BitReader& r);
  HRESULT ReadH263Header(BitReader& r);
  HRESULT ReadScreenVideoHeader(BitReader& r);
  HRESULT ReadVp6Header(BitReader& r);
  HRESULT ReadDecoderConfiguration(StreamWindow& window, const FlvTag& tag);
  HRESULT ParsePictureSize(const uint8_t* pUnits, uint32_t cbUnits);
};

}  // namespace flvdmx

// CFlvHeaderScan: the scan that runs once when the upstream source connects.
// It validates the file header, walks the first tags, finds which streams
// exist, has the stream descriptions built from the first tags of each
// stream, estimates the video frame duration and settles the file's
// duration: from metadata, from the largest tag time seen, or from the tail
// of the file. Every broken back-link it meets goes into the fix-up table.
//
// The filter derives from it, so the scan and its results are members of the
// filter; they stay valid until the next scan (the next input connection).
// The scan runs on the thread that completes the connection, before any
// delivery thread exists, and takes no lock of its own (the fix-up table
// locks itself).
#pragma once

#include <cstdint>

#include "flv/flv_file_state.h"
#include "platform/dshow.h"
#include "streams/audio_sample_entry.h"
#include "streams/video_sample_entry.h"

namespace flvdmx {

// m_dwStreamsSeen bits: the header flag bits of the two streams.
inline constexpr uint32_t kStreamVideoSeen = kFlvHasVideo;
inline constexpr uint32_t kStreamAudioSeen = kFlvHasAudio;

// Frame duration assumed when too few video tags were seen: 30 frames/s.
inline constexpr int64_t kDefaultAvgTimePerFrame = 333333;

class CFlvHeaderScan : public CFlvFileState {
 public:
  CFlvHeaderScan() = default;

  // Resets the header, m_dwStreamsSeen, the duration, the lengths and the
  // frame duration, then scans through pReader (not kept). The caller has
  // cleared the fix-up table. Returns
  //  - S_OK;
  //  - VFW_E_INVALID_FILE_FORMAT when Length does not answer S_OK, the header
  //    is unreadable or invalid, or the video description fails;
  //  - S_FALSE, or a failure, from the audio description: the scan stops
  //    there (S_FALSE does not fail the connection; what was found so far
  //    stands);
  //  - E_POINTER without a reader.
  HRESULT ReadAndParseHeader(IAsyncReader* pReader);

  // Bit 0x01: a video tag with data was seen; 0x04: an audio tag.
  uint32_t m_dwStreamsSeen = 0;
  // Average video frame duration, 100 ns units.
  int64_t m_llAvgTimePerFrame = 0;
  VideoSampleEntry m_VideoEntry;
  AudioSampleEntry m_AudioEntry;
};

}  // namespace flvdmx

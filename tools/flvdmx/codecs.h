// The tool's one table of codecs: each FLV video CodecID and SoundFormat, the
// media subtype the filter offers for it when it plays it, the word
// `probe --json` prints, the name for people and demux's raw file extension. `probe` looks rows up
// by the pin's subtype, the no-playable-stream message by the FLV id or FourCC.
#pragma once

#include "platform/dshow.h"

namespace flvdmx::cli {

struct CodecInfo {
  bool bVideo;
  int flvId;             // CodecID or SoundFormat; -1 for a subtype with no id of its own
  const GUID* pSubtype;  // null: the filter offers no pin for it
  const char* pszWord;   // "h264"; null without a subtype
  const char* pszName;   // "H.264"
  // Streams with no standard raw form: demux writes their payloads as they
  // come, with an index, to a file of this extension (".s263"); else null.
  const char* pszRawExtension = nullptr;
  // The FourCC enhanced FLV names it by ("av01"); null when it has none.
  const char* pszFourcc = nullptr;
};

// The first row offering `subtype`, or null.
const CodecInfo* FindCodecBySubtype(const GUID& subtype);
// The row of a video CodecID (bVideo) or a SoundFormat, or null.
const CodecInfo* FindFlvCodec(bool bVideo, int flvId);
// The row of an enhanced FLV FourCC, or null.
const CodecInfo* FindFourccCodec(bool bVideo, const char fourcc[4]);

}  // namespace flvdmx::cli

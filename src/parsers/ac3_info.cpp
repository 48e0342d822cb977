#include "parsers/ac3_info.h"

#include "base/bit_reader.h"

namespace flvdmx {
namespace {

constexpr uint32_t kSyncWord = 0x0B77;
constexpr uint32_t kSampleRates[3] = {48000, 44100, 32000};
// AC-3 bit rates in kbit/s, one per pair of frmsizecod values.
constexpr uint16_t kBitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                    192, 224, 256, 320, 384, 448, 512, 576, 640};
// Full-bandwidth channels for each acmod (0 is dual mono, 1+1).
constexpr uint8_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

// AC-3 syncinfo and the start of bsi, the reader just past the sync word.
bool ParseAc3(BitReader& r, uint32_t bsid, Ac3Info* out) {
  uint32_t crc1, fscod, frmsizecod, bsidAgain, bsmod, acmod, mix, lfeon;
  if (!r.ReadBits(16, &crc1) || !r.ReadBits(2, &fscod) || !r.ReadBits(6, &frmsizecod)) return false;
  if (fscod == 3 || frmsizecod >= 2 * 19) return false;
  if (!r.ReadBits(5, &bsidAgain) || !r.ReadBits(3, &bsmod) || !r.ReadBits(3, &acmod)) return false;
  // cmixlev, surmixlev and dsurmod come before lfeon only for some modes.
  if ((acmod & 1) && acmod != 1 && !r.ReadBits(2, &mix)) return false;
  if ((acmod & 4) && !r.ReadBits(2, &mix)) return false;
  if (acmod == 2 && !r.ReadBits(2, &mix)) return false;
  if (!r.ReadFlag(&lfeon)) return false;
  const uint32_t kbps = kBitRates[frmsizecod / 2];
  uint32_t words;  // 16-bit words per frame of 1536 samples
  if (fscod == 0)
    words = kbps * 2;
  else if (fscod == 2)
    words = kbps * 3;
  else  // 44.1 kHz does not divide evenly: odd codes carry the extra word
    words = kbps * 1000 * 1536 / 44100 / 16 + (frmsizecod & 1);
  // bsid 9 and 10 are the half and quarter rate forms of the same frame.
  const uint32_t shift = bsid > 8 ? bsid - 8 : 0;
  Ac3Info info;
  info.sampleRate = kSampleRates[fscod] >> shift;
  info.bitRate = (kbps * 1000) >> shift;
  info.frameBytes = words * 2;
  info.channels = static_cast<uint8_t>(kChannels[acmod] + lfeon);
  info.lfe = lfeon != 0;
  *out = info;
  return true;
}

// E-AC-3 bsi up to bsid, the reader just past the sync word. Only the first
// (independent) substream is read: the channels it carries.
bool ParseEac3(BitReader& r, Ac3Info* out) {
  uint32_t strmtyp, substreamid, frmsiz, fscod, fscod2 = 0, numblkscod = 3, acmod, lfeon;
  if (!r.ReadBits(2, &strmtyp) || !r.ReadBits(3, &substreamid) || !r.ReadBits(11, &frmsiz) ||
      !r.ReadBits(2, &fscod))
    return false;
  if (fscod == 3 ? !r.ReadBits(2, &fscod2) : !r.ReadBits(2, &numblkscod)) return false;
  if (!r.ReadBits(3, &acmod) || !r.ReadFlag(&lfeon)) return false;
  // A frame starts with an independent substream (type 0, or 2 for one
  // converted from AC-3); 3 is reserved, and fscod2 3 too.
  if (strmtyp == 1 || strmtyp == 3 || (fscod == 3 && fscod2 == 3)) return false;
  static constexpr uint8_t kBlocks[4] = {1, 2, 3, 6};
  Ac3Info info;
  info.enhanced = true;
  info.sampleRate = fscod == 3 ? kSampleRates[fscod2] / 2 : kSampleRates[fscod];
  info.samplesPerFrame = static_cast<uint16_t>(256 * kBlocks[numblkscod]);
  info.frameBytes = (frmsiz + 1) * 2;
  info.bitRate =
      static_cast<uint32_t>(uint64_t{info.frameBytes} * 8 * info.sampleRate / info.samplesPerFrame);
  info.channels = static_cast<uint8_t>(kChannels[acmod] + lfeon);
  info.lfe = lfeon != 0;
  *out = info;
  return true;
}

}  // namespace

bool ParseAc3SyncFrame(const uint8_t* data, size_t size, Ac3Info* out) {
  // bsid sits at the same place in both forms: the top five bits of byte 5.
  if (size < 6) return false;
  BitReader r(data, size);
  uint32_t syncword;
  if (!r.ReadBits(16, &syncword) || syncword != kSyncWord) return false;
  const uint32_t bsid = data[5] >> 3;
  if (bsid <= 10) return ParseAc3(r, bsid, out);
  if (bsid <= 16) return ParseEac3(r, out);
  return false;
}

}  // namespace flvdmx

#include "ogg_opus_writer.h"

#include <cstring>

#if FLVDMX_HAVE_OGG
#include <ogg/ogg.h>
#endif

namespace flvdmx::cli {

uint32_t OpusPacketSamples(const uint8_t* pData, size_t cb) {
  if (cb == 0) return 0;
  const uint8_t toc = pData[0];
  const uint8_t config = toc >> 3;
  // Frame sizes in 48 kHz samples: SILK 10/20/40/60 ms, hybrid 10/20 ms,
  // CELT 2.5/5/10/20 ms.
  static const uint32_t kSilk[] = {480, 960, 1920, 2880};
  static const uint32_t kCelt[] = {120, 240, 480, 960};
  const uint32_t frame = config < 12   ? kSilk[config & 3]
                         : config < 16 ? (config & 1 ? 960u : 480u)
                                       : kCelt[config & 3];
  uint32_t frames = 1;
  switch (toc & 3) {
    case 0:
      break;
    case 1:
    case 2:
      frames = 2;
      break;
    default:
      if (cb < 2) return 0;
      frames = pData[1] & 0x3F;
  }
  // A packet holds at most 120 ms.
  return frames * frame <= 5760 ? frames * frame : 0;
}

#if FLVDMX_HAVE_OGG

struct OggOpusWriter::Stream {
  ogg_stream_state state;
};

bool OggOpusWriter::Available() { return true; }

OggOpusWriter::OggOpusWriter(std::vector<uint8_t> opusHead)
    : StreamWriter("Ogg Opus"), m_OpusHead(std::move(opusHead)), m_pStream(new Stream) {
  ogg_stream_init(&m_pStream->state, 0x464C5644);  // any serial: the file has one stream
}

OggOpusWriter::~OggOpusWriter() {
  CloseFile(&m_pFile);
  ogg_stream_clear(&m_pStream->state);
}

bool OggOpusWriter::Open(const std::string& path) {
  if (!OpenFile(path, &m_pFile)) return false;
  static const char kVendor[] = "flvdmx";
  std::vector<uint8_t> tags = {'O', 'p', 'u', 's', 'T', 'a', 'g', 's', sizeof kVendor - 1, 0, 0, 0};
  tags.insert(tags.end(), kVendor, kVendor + sizeof kVendor - 1);
  tags.insert(tags.end(), {0, 0, 0, 0});  // no comments
  // The two headers each end a page, as Ogg Opus requires.
  return PutPacket(m_OpusHead, false) && PutPacket(tags, false);
}

bool OggOpusWriter::PutPacket(const std::vector<uint8_t>& packet, bool bLast) {
  ogg_packet op{};
  op.packet = const_cast<unsigned char*>(packet.data());
  op.bytes = static_cast<long>(packet.size());
  op.b_o_s = m_llPacketNo == 0;
  op.e_o_s = bLast;
  const bool bHeader = m_llPacketNo < 2;
  op.granulepos = bHeader ? 0 : m_llGranule;
  op.packetno = m_llPacketNo++;
  if (ogg_stream_packetin(&m_pStream->state, &op) != 0) return Fail("libogg refused a packet");
  ogg_page page;
  for (;;) {
    const int n = bHeader || bLast ? ogg_stream_flush(&m_pStream->state, &page)
                                   : ogg_stream_pageout(&m_pStream->state, &page);
    if (n == 0) return true;
    if (!WriteBytes(m_pFile, page.header, static_cast<size_t>(page.header_len)) ||
        !WriteBytes(m_pFile, page.body, static_cast<size_t>(page.body_len))) {
      return false;
    }
  }
}

bool OggOpusWriter::Write(const uint8_t* pData, size_t cb, REFERENCE_TIME, bool) {
  if (m_pFile == nullptr) return false;
  const uint32_t samples = OpusPacketSamples(pData, cb);
  if (samples == 0) ++m_cMalformed;
  bool bOk = true;
  if (m_bPending) bOk = PutPacket(m_Pending, false);
  m_llGranule += samples;
  m_Pending.assign(pData, pData + cb);
  m_bPending = true;
  ++m_cSamples;
  return bOk;
}

bool OggOpusWriter::Finish() {
  bool bOk = m_pFile != nullptr;
  if (bOk && m_bPending) bOk = PutPacket(m_Pending, true);
  m_bPending = false;
  return CloseFile(&m_pFile) && bOk && StreamWriter::Finish();
}

#else

struct OggOpusWriter::Stream {};

bool OggOpusWriter::Available() { return false; }

OggOpusWriter::OggOpusWriter(std::vector<uint8_t> opusHead)
    : StreamWriter("Ogg Opus"), m_OpusHead(std::move(opusHead)) {}

OggOpusWriter::~OggOpusWriter() { CloseFile(&m_pFile); }

bool OggOpusWriter::Open(const std::string&) {
  return Fail("this build has no Ogg library, so it cannot write Opus");
}

bool OggOpusWriter::PutPacket(const std::vector<uint8_t>&, bool) { return false; }

bool OggOpusWriter::Write(const uint8_t*, size_t, REFERENCE_TIME, bool) { return false; }

bool OggOpusWriter::Finish() { return StreamWriter::Finish(); }

#endif

}  // namespace flvdmx::cli

"""Crafted seeds for the parser fuzz targets: small inputs, built field by
field, for the branches that no test medium takes (rare syntax, the escapes
and the cut-short forms); and small FLV files for the whole-file targets,
for the file-format paths no test medium takes. make-fuzz-seeds.py writes them beside the seeds
taken from the media; each list names what its inputs exercise."""
import struct
import sys


class Bits:
    """Most-significant-bit-first writer with Exp-Golomb codes. It notes where
    each field lies and which call in this file wrote it, for the cuts."""

    def __init__(self):
        self.bits = []
        self.fields = []  # (first bit, end bit, the call that wrote it)
        self._depth = 0

    def _put(self, write):
        self._depth += 1
        start = len(self.bits)
        write()
        self._depth -= 1
        if self._depth == 0:
            caller = sys._getframe(2)
            self.fields.append((start, len(self.bits), (caller.f_code, caller.f_lasti)))
        return self

    def u(self, n, v):
        return self._put(lambda: self.bits.extend((v >> (n - 1 - i)) & 1 for i in range(n)))

    def flag(self, v):
        return self._put(lambda: self.u(1, 1 if v else 0))

    def ue(self, v):
        n = (v + 1).bit_length()
        return self._put(lambda: self.u(n - 1, 0).u(n, v + 1))

    def se(self, v):
        return self._put(lambda: self.ue(2 * v - 1 if v > 0 else -2 * v))

    def zeros(self, n):
        return self.u(n, 0)

    def field_cuts(self, seen=None):
        """Byte prefixes that end inside a field, one for each call that wrote
        one (a loop's fields count once): each makes a different read the
        first to fail."""
        seen, out = set() if seen is None else seen, []
        for end in range(8, len(self.bits), 8):
            tag = next(t for a, b, t in self.fields if a <= end < b)
            if tag not in seen:
                seen.add(tag)
                out.append(Bits._pack(self.bits[:end]))
        return out

    @staticmethod
    def _pack(bits):
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))

    def data(self, stop_bit=True):
        bits = self.bits + ([1] if stop_bit else [])
        return Bits._pack(bits + [0] * (-len(bits) % 8))


def with_epb(rbsp):
    """Inserts the emulation-prevention bytes a NAL unit payload carries."""
    out, zeros = bytearray(), 0
    for b in rbsp:
        if zeros >= 2 and b <= 3:
            out.append(3)
            zeros = 0
        out.append(b)
        zeros = zeros + 1 if b == 0 else 0
    return bytes(out)


# --- AMF0 script data --------------------------------------------------------

def amf_str(s):
    return struct.pack(">H", len(s)) + s.encode()


def amf_num(v):
    return b"\x00" + struct.pack(">d", v)


def amf0_seeds():
    strict = b"\x0a" + struct.pack(">I", 3) + amf_num(1) + b"\x01\x01" + b"\x02" + amf_str("x")
    nested = b"\x03" + amf_str("a") + amf_num(2) + amf_str("") + b"\x09"
    props = (amf_str("duration") + b"\x02" + amf_str("12.5") + amf_str("audiocodecid") +
             amf_num(1e12) + amf_str("videocodecid") + amf_num(-1e12) + amf_str("list") + strict +
             amf_str("inner") + nested + amf_str("") + b"\x09")
    meta = b"\x02" + amf_str("onMetaData") + b"\x08" + struct.pack(">I", 5) + props
    yield "crafted_all_types", meta
    yield "crafted_date", b"\x02" + amf_str("onMetaData") + b"\x0b" + bytes(10)
    yield "crafted_unknown_marker", b"\x0d\x00"
    yield "crafted_short_ecma", b"\x08\x00\x00"
    yield "crafted_short_strict", b"\x0a\x00\x00\x00\x05" + amf_num(1)
    yield "crafted_strict_no_count", b"\x0a\x00\x00"
    yield "crafted_duration_bool", (b"\x03" + amf_str("duration") + b"\x01\x01" + amf_str("") +
                                    b"\x09")


# --- AAC decoder config records --------------------------------------------------

def asc_seeds():
    # AAC LC with the backward-compatible SBR and PS signalling after it, an
    # explicit frequency for the SBR rate.
    b = Bits().u(5, 2).u(4, 4).u(4, 2).u(1, 0).u(1, 1).u(14, 100).u(1, 1).u(1, 0)
    b.u(11, 0x2B7).u(5, 5).u(1, 1).u(4, 15).u(24, 44000).u(11, 0x548).u(1, 1)
    yield "crafted_implicit_sbr_ps", b.data(False)
    yield "crafted_explicit_ps", Bits().u(5, 29).u(4, 6).u(4, 1).u(4, 3).u(5, 2).data(False)
    yield "crafted_explicit_sbr", Bits().u(5, 5).u(4, 8).u(4, 2).u(4, 5).u(5, 2).data(False)
    yield "crafted_explicit_sbr_cut", Bits().u(5, 5).u(4, 8).u(4, 2).data(False)
    yield "crafted_escaped_type", Bits().u(5, 31).u(6, 1).u(4, 3).u(4, 2).data(False)
    yield "crafted_pce", Bits().u(5, 2).u(4, 3).u(4, 0).u(8, 0xFF).data(False)
    yield "crafted_bad_frequency", Bits().u(5, 2).u(4, 13).u(4, 2).data(False)
    yield "crafted_short", b"\x12"


# --- decoder configuration records ---------------------------------------------

def decoder_config_seeds():
    sps, pps = b"\x67\x42\x00\x1e\x95", b"\x68\xce\x38\x80"
    avc = bytes([1, 0x42, 0, 0x1E, 0xFF, 0xE2]) + b"\x00\x05" + sps + b"\x00\x05" + sps
    yield "crafted_avc_two_sps", avc + b"\x01\x00\x04" + pps
    yield "crafted_avc_unit_past_end", bytes([1, 0x42, 0, 0x1E, 0xFF, 0xE1]) + b"\x00\x40" + sps
    yield "crafted_avc_header_only", bytes([1, 0x42, 0, 0x1E])
    hdr = bytes([1]) + bytes(20) + b"\x0f"
    vps, hsps = b"\x40\x01\x0c", b"\x42\x01\x01"
    arr = lambda t, us: bytes([t]) + struct.pack(">H", len(us)) + b"".join(
        struct.pack(">H", len(u)) + u for u in us)
    yield "crafted_hvcc_two_vps", hdr + b"\x03" + arr(32, [vps, vps]) + arr(33, [hsps]) + arr(
        39, [b"\x4e\x01\x05"])
    yield "crafted_hvcc_wrong_type", hdr + b"\x01" + arr(33, [vps])
    yield "crafted_hvcc_bad_array", hdr + b"\x01" + arr(20, [vps])
    yield "crafted_hvcc_trailing", hdr + b"\x01" + arr(32, [vps]) + b"\x00"


# --- MPEG audio headers and legacy audio flags ---------------------------------

def mpa_header(id_, layer, prot, rate, freq, pad, priv, mode, ext, copy, orig, emph, sync_low=1):
    b = Bits().u(11, 0x7FF).u(1, sync_low).u(1, id_).u(2, layer).u(1, prot).u(4, rate)
    b.u(2, freq).u(1, pad).u(1, priv).u(2, mode).u(2, ext).u(1, copy).u(1, orig).u(2, emph)
    return b.data(False)


def mpeg_audio_header_seeds():
    # Two duration bytes, then the payload after the flags byte; the same
    # bytes read as a whole tag start with the flags byte (0x2F: MP3).
    layer2 = mpa_header(1, 2, 1, 8, 0, 0, 1, 1, 2, 1, 1, 1)
    yield "crafted_layer2", b"\x00\x1a" + layer2 + bytes(60)
    layer1 = mpa_header(1, 3, 0, 4, 1, 1, 0, 3, 0, 0, 0, 0)
    yield "crafted_layer1_mono", b"\x00\x08" + layer1 + bytes(40)
    free = mpa_header(1, 2, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0)
    yield "crafted_layer2_free", b"\x00\x00" + free + bytes(20)
    mpeg25 = mpa_header(0, 1, 1, 5, 0, 0, 0, 1, 0, 0, 0, 0, 0)
    yield "crafted_mpeg25", b"\x00\x30" + mpeg25 + bytes(30)
    yield "crafted_cut_after_layer", b"\x00\x1a\x2f\xfb"
    yield "crafted_mp3_flags", b"\x00\x1a\x2f" + mpa_header(1, 1, 1, 9, 0, 0, 0, 1, 0, 0, 0, 0)
    yield "crafted_mp2_flags", b"\x00\x1a\x2f" + layer2
    # Every other legacy sound format by its flags byte.
    for flags in (0x0F, 0x3E, 0x41, 0x52, 0x63, 0xB2, 0x70):
        yield "crafted_flags_%02x" % flags, b"\x00\x14" + bytes([flags]) + bytes(16)
    yield "crafted_aac_config", b"\x00\x17\xaf\x00\x12\x10"
    yield "crafted_aac_config_ps", b"\x00\x17\xaf\x00" + Bits().u(5, 29).u(4, 6).u(4, 1).u(
        4, 3).u(5, 2).data(False)
    yield "crafted_aac_raw", b"\x00\x17\xaf\x01\x21\x00"
    yield "crafted_aac_long_config", b"\x00\x17\xaf\x00" + bytes(24)
    yield "crafted_aac_flags_only", b"\x00\x17\xaf"


# --- H.264 sequence parameter set --------------------------------------------

def q264_full_sps():
    """High profile with scaling lists (one falling back to the default),
    POC type 1, field coding, cropping and every VUI field up to timing."""
    b = Bits().u(8, 100).u(8, 0).u(8, 40).ue(0)
    b.ue(1).ue(0).ue(0).flag(0).flag(1)  # chroma format 1, 8 bits, scaling matrix present
    b.flag(1)
    for _ in range(16):
        b.se(1)
    b.flag(1).se(-8)  # nextScale 0 at once: the default list
    b.flag(0).flag(0).flag(0).flag(0)
    b.flag(1)
    for _ in range(64):
        b.se(0)
    b.flag(0)
    b.ue(0).ue(1).flag(0).se(-2).se(1).ue(2).se(1).se(-1)  # POC type 1 with a cycle of two
    b.ue(2).flag(0).ue(19).ue(14).flag(0).flag(1).flag(1)  # 320x480 in fields
    b.flag(1).ue(1).ue(1).ue(1).ue(1)  # cropping
    b.flag(1).flag(1).u(8, 255).u(16, 4).u(16, 3).flag(1).flag(1)  # VUI: SAR, overscan
    b.flag(1).u(3, 5).flag(1).flag(1).u(8, 1).u(8, 1).u(8, 1)  # signal type, colour
    return b.flag(1).ue(1).ue(1).flag(1).u(32, 1001).u(32, 60000).flag(1)  # chroma loc, timing


def q264_sps_seeds():
    full = q264_full_sps()
    yield "crafted_high_all_fields", b"\x67" + with_epb(full.data())
    for n, cut in enumerate(full.field_cuts()):
        yield "crafted_high_cut%02d" % n, b"\x67" + with_epb(cut)
    bad = Bits().u(8, 100).u(8, 0).u(8, 40).ue(0).ue(1).ue(0).ue(0).flag(0).flag(1).flag(1)
    yield "crafted_scale_out_of_range", b"\x67" + with_epb(bad.se(-200).data())


# --- H.265 parameter sets ------------------------------------------------------

def h265_profile_bits(b):
    return b.u(2, 0).flag(0).u(5, 1).u(32, 0x60000000).u(4, 0b1001).zeros(44)


def h265_ptl(b, max_sub):
    h265_profile_bits(b).u(8, 93)
    for _ in range(max_sub):
        b.flag(1).flag(1)
    if max_sub:
        b.zeros(2 * (8 - max_sub))
    for _ in range(max_sub):
        h265_profile_bits(b).u(8, 90)
    return b


def h265_sub_layer_hrd(b, count, sub_pic):
    for _ in range(count):
        b.ue(1000).ue(2000)
        if sub_pic:
            b.ue(10).ue(20)
        b.flag(1)


def h265_hrd(b, common, max_sub):
    """Common part with NAL, VCL and sub-picture parameters; each sub-layer
    takes a different way through the fixed-rate flags."""
    nal = vcl = sub_pic = 1 if common else 0
    if common:
        b.flag(nal).flag(vcl).flag(sub_pic).u(8, 23).u(5, 1).flag(1).u(5, 2)
        b.u(4, 1).u(4, 2).u(4, 3).u(5, 23).u(5, 23).u(5, 23)
    for i in range(max_sub + 1):
        if i == 0:
            b.flag(0).flag(0).flag(0 if common else 1)  # neither fixed rate; low delay?
            if common:
                b.ue(1)
            count = 2
        else:
            b.flag(1).ue(0).ue(0)  # general fixed rate: within CVS inferred, no low-delay flag
            count = 1
        if nal:
            h265_sub_layer_hrd(b, count, sub_pic)
        if vcl:
            h265_sub_layer_hrd(b, count, sub_pic)
    return b


# Each unit is built twice with fields of other lengths early on (`shift`), so
# that the later fields cross other byte boundaries and more of them can be cut.
def h265_vps(shift=False):
    b = Bits().u(4, 0).flag(1).flag(1).u(6, 0).u(3, 1).flag(1).u(16, 0xFFFF)
    h265_ptl(b, 1)
    b.flag(0).ue(1 if shift else 4).ue(2).ue(0)  # only the highest sub-layer's ordering
    b.u(6, 1).ue(1).flag(1).flag(1)  # one more layer set, both layers in it
    b.flag(1).u(32, 1001).u(32, 60000).flag(1).ue(100).ue(2)
    b.ue(0)
    h265_hrd(b, True, 1)
    b.ue(1).flag(0)
    h265_hrd(b, False, 1)
    return b.flag(0)


def h265_scaling_list_data(b):
    """Explicit, copied (with the DC value for 16x16 and up) and default lists."""
    for size_id in range(4):
        step = 3 if size_id == 3 else 1
        for matrix_id in range(0, 6, step):
            explicit = matrix_id == 0 and size_id != 1
            if explicit:
                b.flag(1)
                if size_id > 1:
                    b.se(-7 if size_id == 3 else 8)
                for k in range(min(64, 16 << (2 * size_id))):
                    b.se(1 if k % 2 else -1)
            else:
                b.flag(0).ue(1 if matrix_id == step and size_id != 1 else 0)
    return b


def h265_sps(shift=False):
    b = Bits().u(4, 0).u(3, 1).flag(1)
    h265_ptl(b, 1)
    if shift:
        b.ue(0).ue(1)  # 4:2:0: no separate-planes flag
    else:
        b.ue(0).ue(3).flag(0)
    b.ue(320).ue(240).flag(1).ue(1).ue(1).ue(1).ue(1)
    b.ue(0).ue(0).ue(4).flag(1).ue(4).ue(2).ue(0).ue(4).ue(2).ue(0)
    b.ue(0).ue(3).ue(0).ue(3).ue(1).ue(1).flag(1).flag(1)
    h265_scaling_list_data(b)
    b.flag(1).flag(1).flag(1).u(4, 7).u(4, 7).ue(0).ue(1).flag(1)  # AMP, SAO, PCM
    # Four short-term sets: one coded, three predicted (negative and positive
    # deltaRps, each reaching both lists).
    b.ue(4).ue(2).ue(1).ue(0).flag(1).ue(1).flag(1).ue(0).flag(1)
    b.flag(1).flag(1).ue(1).flag(1).flag(1).flag(1).flag(1)  # deltaRps -2
    b.flag(1).flag(0).ue(1).flag(1).flag(1).flag(1).flag(1).flag(1)  # +2
    b.flag(1).flag(0).ue(0).flag(1).flag(1).flag(1).flag(1).flag(1)  # +1
    b.flag(1).ue(2).u(8, 5).flag(1).u(8, 9).flag(0)  # long-term pictures
    b.flag(1).flag(1).flag(1)
    b.flag(1).u(8, 255).u(16, 1).u(16, 1).flag(1).flag(0).flag(1).u(3, 5).flag(0).flag(1)
    b.u(8, 1).u(8, 1).u(8, 1).flag(1).ue(0).ue(0)
    b.flag(0).flag(0).flag(0).flag(1).ue(2).ue(2).ue(2).ue(2)  # default display window
    b.flag(1).u(32, 1001).u(32, 60000).flag(1).ue(1).flag(1)
    h265_hrd(b, True, 1)
    b.flag(1).flag(1).flag(1).flag(1).ue(0).ue(2).ue(1).ue(15).ue(15)
    return b.flag(0)


def h265_pps(shift=False):
    b = Bits().ue(0).ue(0).flag(0).flag(0).u(3, 0).flag(0).flag(0).ue(0).ue(0)
    b.se(0 if shift else -2)
    b.flag(0).flag(0).flag(1).ue(1).se(1).se(-1).flag(0).flag(0).flag(0).flag(0).flag(1).flag(0)
    b.ue(2).ue(1).flag(0).ue(3).ue(4).ue(5).flag(1)  # tiles, not uniformly spaced
    b.flag(1).flag(1).flag(1).flag(0).se(1).se(-1)  # deblocking with offsets
    b.flag(1)
    h265_scaling_list_data(b)
    return b.flag(0).ue(0).flag(0)


def h265_parameter_sets_seeds():
    for name, build in (("vps", h265_vps), ("sps", h265_sps), ("pps", h265_pps)):
        unit, seen = build(), set()
        yield "crafted_%s_all_fields" % name, with_epb(unit.data())
        for n, cut in enumerate(unit.field_cuts(seen)):
            yield "crafted_%s_cut%02d" % (name, n), with_epb(cut)
        for n, cut in enumerate(build(shift=True).field_cuts(seen)):
            yield "crafted_%s_shifted_cut%02d" % (name, n), with_epb(cut)
    yield "crafted_too_many_sub_layers", Bits().u(4, 0).u(3, 7).u(5, 0).u(3, 7).data()


# --- enhanced audio and video tag headers ----------------------------------------

def flv_ex_tag_seeds():
    """First byte: 1 for a video tag, 0 for audio; then the tag's payload."""
    avc = b"avc1"
    modex = bytes([0x80 | 0x10 | 7, 0xFF]) + struct.pack(">H", 255) + bytes([0, 0, 9]) + bytes(253)
    yield "crafted_video_modex_long", b"\x01" + modex + b"\x01" + avc + b"\x00\x00\x21" + bytes(8)
    yield "crafted_video_command", b"\x01" + bytes([0x80 | 0x50 | 1, 0])
    yield "crafted_video_multitrack_bad_type", b"\x01" + bytes([0x96, 0x31]) + avc
    yield "crafted_video_multitrack_nested", b"\x01" + bytes([0x96, 0x06]) + avc
    yield "crafted_video_many_codecs_cut", b"\x01" + bytes([0x96, 0x21]) + b"av"
    track = lambda fourcc, tid, body: fourcc + bytes([tid]) + len(body).to_bytes(3, "big") + body
    yield "crafted_video_many_codecs", b"\x01" + bytes([0x96, 0x21]) + track(
        avc, 0, b"\x00\x00\x01" + bytes(6)) + track(b"vp09", 1, bytes(5))
    opus = b"Opus"
    many = bytes([0x95, 0x11]) + opus + b"\x00\x00\x00\x03" + bytes(3) + b"\x01\x00\x00\x40"
    yield "crafted_audio_track_past_end", b"\x00" + many + bytes(4)
    yield "crafted_audio_one_track", b"\x00" + bytes([0x95, 0x01]) + opus + b"\x02" + bytes(6)


# --- codec headers of the newer codecs ------------------------------------------

def obu(obu_type, payload):
    return bytes([obu_type << 3 | 2, len(payload)]) + payload


def codec_header_seeds():
    """First byte picks the reader: 0 av1C, 1 AV1 OBUs, 2 vpcC, 3 VP9 and 4
    VP8 frames, 5 OpusHead, 6 FLAC, 7 (E-)AC-3."""
    still = Bits().u(3, 0).flag(1).flag(1).u(5, 8).u(4, 7).u(4, 7).u(8, 99).u(8, 49)
    still.u(3, 0).u(3, 0).flag(0).flag(0).flag(1).u(8, 1).u(8, 13).u(8, 0).flag(0).flag(0)
    yield "crafted_av1_still_rgb", b"\x01" + obu(2, b"") + obu(1, still.data(False))
    long_uvlc = Bits().u(3, 0).flag(0).flag(0).flag(1).u(32, 1).u(32, 30).flag(1).zeros(40)
    yield "crafted_av1_long_uvlc", b"\x01" + obu(1, long_uvlc.data(False))
    yield "crafted_av1_long_size", b"\x01" + bytes([0x0A]) + b"\x80" * 9
    yield "crafted_av1_no_sequence_header", b"\x01" + obu(2, b"") + obu(15, b"\x00")
    vp9 = Bits().u(2, 2).flag(0).flag(0).flag(0).flag(0).flag(1).flag(0).u(24, 0x498342)
    yield "crafted_vp9_rgb_profile0", b"\x03" + vp9.u(3, 7).u(16, 63).u(16, 63).data(False)
    # Profile 3 ends exactly before the reserved bit after the subsampling.
    vp9_p3 = Bits().u(2, 2).flag(1).flag(1).flag(0).flag(0).flag(0).flag(1).flag(0)
    vp9_p3.u(24, 0x498342).flag(0).u(3, 1).flag(0).flag(1).flag(0)
    yield "crafted_vp9_profile3_cut", b"\x03" + vp9_p3.data(False)
    frame = Bits().u(2, 2).flag(0).flag(0).flag(0).flag(0).flag(1).flag(0).u(24, 0x498342)
    frame = frame.u(3, 1).flag(0).u(16, 175).u(16, 143).data(False) + bytes(4)
    index = bytes([0xC1, len(frame), 3, 0xC1])
    yield "crafted_vp9_superframe", b"\x03" + frame + b"\x00\x00\x00" + index
    yield "crafted_vpcc_v0", b"\x02" + bytes([0, 0, 0, 0, 0, 10, 0x80, 0x11, 0, 0])
    yield "crafted_vpcc_v2", b"\x02" + bytes([2, 0, 0, 0, 0, 10, 0x80, 0, 0, 0, 0, 0])
    yield "crafted_vpcc_init_past_end", b"\x02" + bytes([1, 0, 0, 0, 0, 10, 0x80, 1, 1, 1, 0, 9])
    head = b"OpusHead" + bytes([1, 3]) + struct.pack("<HIhB", 312, 48000, 0, 3)
    yield "crafted_opus_family3", b"\x05" + head + bytes([2, 1]) + bytes(2 * 3 * 3)
    yield "crafted_opus_cut", b"\x05" + b"OpusHead" + bytes([1, 2])
    yield "crafted_ac3_bsid17", b"\x07" + bytes([0x0B, 0x77, 0, 0, 0, 17 << 3, 0, 0])


# --- whole FLV files for the file targets ----------------------------------------

def tag(typ, time, payload, link=None):
    """One tag and the size after it; `link` writes another size there, so
    that the next tag's back-link is wrong."""
    head = bytes([typ]) + len(payload).to_bytes(3, "big") + (time & 0xFFFFFF).to_bytes(3, "big")
    head += bytes([time >> 24 & 0xFF]) + b"\x00\x00\x00"
    return head + payload + (11 + len(payload) if link is None else link).to_bytes(4, "big")


def flv(flags, body):
    return b"FLV\x01" + bytes([flags]) + b"\x00\x00\x00\x09" + b"\x00\x00\x00\x00" + body


def amf_object(props):
    return b"\x03" + b"".join(amf_str(k) + v for k, v in props) + b"\x00\x00\x09"


def on_meta_data(props):
    return b"\x02" + amf_str("onMetaData") + amf_object(props)


def ex_video(frame_type, packet_type, fourcc, body):
    return bytes([0x80 | frame_type << 4 | packet_type]) + fourcc + body


def ex_audio(packet_type, fourcc, body):
    return bytes([0x90 | packet_type]) + fourcc + body


def color_info(code):
    """A Metadata packet body: colorInfo with the code as primaries, transfer
    and matrix, and the light levels a HDR writer adds."""
    config = [("bitDepth", amf_num(10))] + [(n, amf_num(code)) for n in (
        "colorPrimaries", "transferCharacteristics", "matrixCoefficients")]
    cll = [("maxFall", amf_num(400)), ("maxCLL", amf_num(1000))]
    mdcv = [("maxLuminance", amf_num(1000)), ("minLuminance", amf_num(0.0001))]
    return b"\x02" + amf_str("colorInfo") + amf_object(
        [("colorConfig", amf_object(config)), ("hdrCll", amf_object(cll)),
         ("hdrMdcv", amf_object(mdcv))])


def vp9_key_frame(width, height):
    b = Bits().u(2, 2).flag(0).flag(0).flag(0).flag(0).flag(1).flag(0).u(24, 0x498342)
    return b.u(3, 1).flag(0).u(16, width - 1).u(16, height - 1).data(False) + bytes(16)


def vp8_key_frame(width, height):
    tag_bits = 40 << 5 | 1 << 4  # first partition size, shown, version 0, key frame
    return (tag_bits.to_bytes(3, "little") + b"\x9d\x01\x2a" + width.to_bytes(2, "little") +
            height.to_bytes(2, "little") + bytes(16))


# Every colour code the media type maps to one of its own (H.273 codes), and
# 2 ("not given"), which maps to none. The mutator seldom makes an exact AMF
# double, so each code gets its own file.
COLOR_CODES = (1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 18, 22)


def color_info_files():
    """VP9 (with a vpcC) and VP8 (sized by its key frame) in turn: record,
    colorInfo, a key frame and an inter frame."""
    vpcc = bytes([1, 0, 0, 0, 0, 10, 0x82, 1, 1, 1, 0, 0])
    for n, code in enumerate(COLOR_CODES):
        vp9 = n % 2 == 0
        fourcc = b"vp09" if vp9 else b"vp08"
        key = vp9_key_frame(176, 144) if vp9 else vp8_key_frame(176, 144)
        body = tag(9, 0, ex_video(1, 0, fourcc, vpcc)) if vp9 else b""
        body += tag(9, 0, ex_video(1, 4, fourcc, color_info(code)))
        body += tag(9, 0, ex_video(1, 1, fourcc, key))
        body += tag(9, 40, ex_video(2, 1, fourcc, bytes([0x01]) + bytes(24)))
        yield "crafted_color_%02d_%s.flv" % (code, fourcc.decode()), flv(1, body)


def ac3_frame(eac3):
    """A 128-byte stereo 48 kHz sync frame: AC-3 (bsid 8) or E-AC-3 (bsid 16)."""
    b = Bits().u(16, 0x0B77)
    if eac3:
        b.u(2, 0).u(3, 0).u(11, 63).u(2, 0).u(2, 3).u(3, 2).flag(0).u(5, 16)
    else:
        b.u(16, 0).u(2, 0).u(6, 0).u(5, 8).u(3, 0).u(3, 2).u(2, 0).flag(0)
    head = b.data(False)
    return head + bytes(128 - len(head))


def ex_audio_files():
    """A SequenceStart for each codec that describes itself in its frames
    (AC-3 and E-AC-3 with their config box bytes, MP3 with none), then
    frames."""
    mp3 = mpa_header(1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0)
    mp3 += bytes(104 - len(mp3))
    for fourcc, config, frame, step in ((b"ac-3", b"\x10\x08\x00", ac3_frame(False), 32),
                                        (b"ec-3", b"\x00\xc0\x20\x0f\x00", ac3_frame(True), 32),
                                        (b".mp3", b"", mp3, 26)):
        body = tag(8, 0, ex_audio(0, fourcc, config))
        for i in range(3):
            body += tag(8, i * step, ex_audio(1, fourcc, frame))
        yield "crafted_audio_start_%s.flv" % fourcc.decode().strip("."), flv(4, body)


def short_record_files():
    """avc1 and hvc1 SequenceStarts whose records end before the unit count
    (an hvc1 record that short is read in the AVC layout too), then a
    frame."""
    frame = b"\x00\x00\x00" + b"\x00\x00\x00\x05" + b"\x65\x88\x84\x00\x10"
    for fourcc, record in ((b"avc1", b""), (b"avc1", b"\x01\x64\x00"),
                           (b"hvc1", b"\x01\x01\x60\x00\x00")):
        body = tag(9, 0, ex_video(1, 0, fourcc, record)) + tag(9, 0, ex_video(1, 1, fourcc, frame))
        yield "crafted_short_record_%s_%d.flv" % (fourcc.decode(), len(record)), flv(1, body)


def filter_seeds():
    yield from color_info_files()
    yield from ex_audio_files()
    yield from short_record_files()


def late_duration_files():
    """Over ten seconds of MP3 whose first onMetaData has no duration: the
    tail search fails and a second onMetaData gives the duration. In the
    short file the tail is within the part already scanned; in the long one
    the last back-link is wrong, so no tag in the tail is followed by two
    good links."""
    frame = b"\x2f" + mpa_header(1, 1, 1, 9, 0, 0, 0, 1, 0, 0, 0, 0) + bytes(40)
    first = on_meta_data([("audiocodecid", amf_num(2)), ("stereo", b"\x01\x01")])
    second = on_meta_data([("duration", amf_num(11.5))])
    head = tag(18, 0, first) + tag(8, 0, frame) + tag(8, 26, frame)
    yield "crafted_late_duration_short.flv", flv(4, head + tag(8, 11000, frame) + tag(
        18, 11000, second) + tag(8, 11026, frame))
    # The tag after the ten seconds is long enough to put the rest past one
    # search window.
    body = head + tag(8, 11000, frame + bytes(9000)) + tag(18, 11000, second)
    body += tag(8, 11026, frame, link=7) + tag(8, 11052, frame)
    yield "crafted_late_duration_bad_link.flv", flv(4, body)


def flv_header_scan_seeds():
    yield from late_duration_files()

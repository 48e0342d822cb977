#!/usr/bin/env python3
"""Makes the fuzz seed corpus under tests/fuzz/<target>/ from the ffmpeg-made
test media (scripts/make-test-media.sh) plus a few crafted files. Run once
when the targets or the media change; the seeds are kept in the tree.

Usage: scripts/make-fuzz-seeds.py MEDIA_DIR
"""
import hashlib
import os
import struct
import sys

import fuzz_crafted_seeds as crafted

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
OUT = os.path.join(ROOT, "tests", "fuzz")
HEAD = 16 * 1024  # prefix kept of most files: the scan and the first tags
WHOLE = ["h263_mp3.flv", "aac_only.flv", "screen1.flv", "nellymoser.flv", "speex.flv"]


def put(target, name, data):
    d = os.path.join(OUT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def tags(data):
    """(type, time, payload) of each tag of an FLV file."""
    pos = struct.unpack(">I", data[5:9])[0] + 4
    while pos + 11 <= len(data):
        typ = data[pos] & 0x1F
        size = int.from_bytes(data[pos + 1:pos + 4], "big")
        time = int.from_bytes(data[pos + 4:pos + 7], "big") | data[pos + 7] << 24
        payload = data[pos + 11:pos + 11 + size]
        yield typ, time, payload
        pos += 11 + size + 4


def units(stream):
    """The NAL units of an Annex B stream."""
    out, i, n = [], 0, len(stream)
    starts = []
    while True:
        j = stream.find(b"\x00\x00\x01", i)
        if j < 0:
            break
        starts.append(j + 3)
        i = j + 3
    for k, s in enumerate(starts):
        e = starts[k + 1] - 3 if k + 1 < len(starts) else n
        u = stream[s:e]
        while u.endswith(b"\x00"):
            u = u[:-1]
        out.append(u)
    return out


tag, flv = crafted.tag, crafted.flv


def avcc(sps, pps):
    return (bytes([1, sps[1], sps[2], sps[3], 0xFF, 0xE1]) + len(sps).to_bytes(2, "big") + sps +
            b"\x01" + len(pps).to_bytes(2, "big") + pps)


def hvcc(vps, sps, pps):
    rec = bytes([1]) + bytes(20) + bytes([0x0F])  # header fields, lengthSizeMinusOne 3
    arrays = [(32, vps), (33, sps), (34, pps)]
    rec += bytes([len(arrays)])
    for t, u in arrays:
        rec += bytes([0x80 | t]) + (1).to_bytes(2, "big") + len(u).to_bytes(2, "big") + u
    return rec


def large_tag_files(media):
    """Files of several hundred KB whose tags are large: the paths where a tag
    outgrows the buffers estimated from the picture size."""
    h264 = open(os.path.join(media, "ps_h264_high_1280x720_50.h264"), "rb").read()
    us = units(h264)
    sps = next(u for u in us if u[0] & 0x1F == 7)
    pps = next(u for u in us if u[0] & 0x1F == 8)
    body = tag(9, 0, b"\x17\x00\x00\x00\x00" + avcc(sps, pps))
    for i, size in enumerate([200000, 20000, 100000, 400]):
        nal = bytes([0x65 if i == 0 else 0x41]) + bytes((k * 7 + i) & 0xFF for k in range(size))
        frame = bytes([0x17 if i == 0 else 0x27, 1, 0, 0, 0]) + len(nal).to_bytes(4, "big") + nal
        body += tag(9, i * 40, frame)
    yield "large_h264_tags.flv", flv(1, body)
    # Screen video declaring a tiny picture, then a 250 KB tag.
    screen = b"\x13\x10\x08\x10\x08" + bytes(k & 0xFF for k in range(150000))
    body = tag(9, 0, b"\x13\x10\x08\x10\x08" + bytes(64)) + tag(9, 100, screen)
    body += tag(8, 0, b"\x3F" + bytes(100000))
    yield "large_screen_pcm_tags.flv", flv(5, body)


FOURCC_SELECTOR = {b"av01": 0, b"vp09": 2, b"vp08": 2, b"Opus": 5, b"fLaC": 6}


def enhanced_files(media):
    """The enhanced-FLV files: heads for the file targets, each kind of
    enhanced tag for the tag reader, and their sequence headers and first
    frames for the codec header readers."""
    d = os.path.join(media, "enhanced")
    if not os.path.isdir(d):
        return
    for f in sorted(x for x in os.listdir(d) if x.endswith(".flv")):
        data = open(os.path.join(d, f), "rb").read()
        stem = "enhanced_" + f[:-4]
        for target in ("filter", "flv_header_scan", "tag_walk"):
            put(target, stem + ".head.flv", data[:HEAD])
        seen = set()
        for typ, _, payload in tags(data):
            if typ not in (8, 9) or len(payload) < 5:
                continue
            ex = payload[0] & 0x80 if typ == 9 else payload[0] >> 4 == 9
            if not ex:
                continue
            key = (typ, payload[0], payload[1:5])
            if key in seen:
                continue
            seen.add(key)
            name = "%s.%d.%02x" % (stem, typ, payload[0])
            put("flv_ex_tag", name, bytes([typ == 9]) + payload[:4096])
            packet = payload[0] & 0x0F
            selector = FOURCC_SELECTOR.get(payload[1:5])
            if packet == 0 and selector is not None:
                put("codec_header", name, bytes([selector]) + payload[5:1024])
            elif packet == 1 and payload[1:5] in (b"ac-3", b"ec-3"):
                put("codec_header", name, b"\x07" + payload[5:256])


def codec_header_files(media):
    """Raw codec streams: first frames (IVF), identification headers."""
    for f in sorted(x for x in os.listdir(media) if x.startswith("ch_")):
        data = open(os.path.join(media, f), "rb").read()
        if f.endswith(".ivf"):
            selector = 1 if "_av1_" in f else 3 if "_vp9_" in f else 4
            size = int.from_bytes(data[32:36], "little")
            put("codec_header", f, bytes([selector]) + data[44:44 + min(size, 2048)])
        elif f.endswith(".opus") and b"OpusHead" in data:
            i = data.index(b"OpusHead")
            put("codec_header", f, b"\x05" + data[i:data.find(b"OggS", i)])
        elif f.endswith(".flac"):
            put("codec_header", f, b"\x06" + data[:256])
        elif f.endswith(".ac3") or f.endswith(".eac3"):
            put("codec_header", f, b"\x07" + data[:128])


CRAFTED = {
    "amf0": crafted.amf0_seeds,
    "audio_specific_config": crafted.asc_seeds,
    "decoder_config": crafted.decoder_config_seeds,
    "mpeg_audio_header": crafted.mpeg_audio_header_seeds,
    "q264_sps": crafted.q264_sps_seeds,
    "h265_parameter_sets": crafted.h265_parameter_sets_seeds,
    "flv_ex_tag": crafted.flv_ex_tag_seeds,
    "codec_header": crafted.codec_header_seeds,
    "filter": crafted.filter_seeds,
    "flv_header_scan": crafted.flv_header_scan_seeds,
}


def main():
    media = sys.argv[1]
    for target, seeds in CRAFTED.items():
        for name, data in seeds():
            put(target, name, data)
    enhanced_files(media)
    codec_header_files(media)
    flvs = sorted(f for f in os.listdir(media) if f.endswith(".flv") and "long" not in f)
    for f in flvs:
        data = open(os.path.join(media, f), "rb").read()
        stem = f[:-4]
        for target in ("filter", "flv_header_scan", "tag_walk"):
            put(target, stem + ".head.flv", data[:HEAD])
        if f in WHOLE:
            put("filter", f, data)
        if f == "h264_aac_short.flv":
            put("tag_walk", f, data)
        seen = set()
        for typ, time, payload in tags(data):
            key = (typ, payload[:2] if typ != 18 else b"")
            if typ == 18:
                put("amf0", stem + ".script", payload)
            elif typ == 9 and payload[:2] in (b"\x17\x00", b"\x1c\x00") and key not in seen:
                put("decoder_config", stem + ".record", payload[5:])
                cfg = payload[5:]
                frames = [p for t, _, p in tags(data) if t == 9 and p[1:2] == b"\x01"][:4]
                sample = b"".join(len(p[5:]).to_bytes(2, "big") + bytes([p[0] >> 4 == 1]) +
                                  p[5:] for p in frames)
                put("demux_writers", stem + ".annexb", bytes([0, len(cfg)]) + cfg + sample)
            elif typ == 8 and payload[:1] and payload[0] >> 4 == 10 and payload[1:2] == b"\x00":
                asc = payload[2:]
                put("audio_specific_config", stem + ".asc", asc)
                frames = [p for t, _, p in tags(data) if t == 8 and p[1:2] == b"\x01"][:4]
                sample = b"".join(len(p[2:]).to_bytes(2, "big") + b"\x01" + p[2:] for p in frames)
                put("demux_writers", stem + ".adts", bytes([2, len(asc)]) + asc + sample)
            elif typ == 8 and payload[:1] and payload[0] >> 4 == 2 and key not in seen:
                put("mpeg_audio_header", stem + ".mp3", b"\x00\x1a" + payload[1:64])
            elif typ == 8 and payload[:1] and payload[0] >> 4 == 3 and key not in seen:
                put("demux_writers", stem + ".wav", bytes([3, 4, 2, 0x2b, 0x11, 16]) +
                    len(payload[1:]).to_bytes(2, "big") + b"\x01" + payload[1:2049])
                put("mpeg_audio_header", stem + ".pcm", b"\x00\x1a" + payload[:64])
            seen.add(key)
    for f in sorted(os.listdir(media)):
        if not f.startswith("ps_"):
            continue
        data = open(os.path.join(media, f), "rb").read()
        stem = f[:-5]
        hevc = f.endswith(".h265")
        # Codec, split point (big-endian, taken modulo the length), chunk size - 1:
        # a different split and chunk for each file.
        pick = hashlib.sha1(stem.encode()).digest()
        put("mini_parser", stem, bytes([1 if hevc else 0]) + pick[:3] + data[:3000])
        us = units(data)
        if hevc:
            sets = {u[0] >> 1 & 0x3F: u for u in reversed(us) if len(u) > 2}
            for t in (32, 33, 34):
                if t in sets:
                    put("h265_parameter_sets", "%s.%d" % (stem, t), sets[t][2:])
            if all(t in sets for t in (32, 33, 34)):
                rec = hvcc(sets[32], sets[33], sets[34])
                put("decoder_config", stem + ".hvcc", rec)
                put("demux_writers", stem + ".hvcc", bytes([1, len(rec)]) + rec)
        else:
            for u in us:
                if u and u[0] & 0x1F == 7:
                    put("q264_sps", stem + ".sps", u)
                    break
    for name, data in large_tag_files(media):
        put("filter", name, data)
        put("flv_header_scan", name, data)
    sample = os.path.join(ROOT, "samples", "sample.flv")
    if os.path.exists(sample):
        put("filter", "sample.flv", open(sample, "rb").read())


if __name__ == "__main__":
    main()

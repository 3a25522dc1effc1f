#!/usr/bin/env python3
"""Rebuilds the inputs of the findings reported before the fuzz targets existed (their
original files were not kept), each shaped as the report describes it. The fuzzers'
own findings are kept as the files they wrote."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "seeds"))
import make_seeds  # noqa: E402


def put(target, name, data):
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    with open(os.path.join(HERE, target, name), "wb") as f:
        f.write(data)


def i32(*v):
    return b"".join(struct.pack("<i", x) for x in v)


def qtk_header(channels, orders, instruments, tempo=125, speed=6, patterns_max=65536):
    out = b"QTK" + bytes([10]) + b"OrbTracker"
    out += i32(patterns_max, 256, 256, tempo, speed, 1, tempo, speed)
    out += struct.pack("<ff", 0.5, 1.0) + bytes([4]) + b"seed"
    out += i32(channels, 1, orders, instruments)
    return out


def qtk_line_texts():
    """Thousands of patterns that each claim 65535 lines and hold no track."""
    out = qtk_header(1, 0, 0) + b"".join(i32(0) for _ in range(0))
    count = 20000
    out += i32(count) + (b"\x01" + struct.pack("<HHH", 0, 65535, 0)) * count
    return out


def qtk_envelope_ticks():
    """An instrument whose envelope points lie 4e9 ticks apart (ticks from the QTKX block)."""
    out = qtk_header(1, 0, 1)
    inst = bytes([1]) + b"i" + struct.pack("<H", 0)
    inst += i32(1, 2, 0) + i32(0, 0, 0, 0)
    inst += i32(2) + bytes([0]) + struct.pack("<f", 0.2) + bytes([1]) + struct.pack("<f", 1.0)
    inst += i32(0, 0, 0) + i32(0, 0, 0, 0, 0, 0, 0, 0)
    frames = 64
    sample = bytes([1]) + b"s" + i32(frames, 0, frames, 1) + struct.pack("<ff", 1.0, 0.0)
    sample += i32(0, 0, 0, 8363, frames * 2) + b"".join(struct.pack("<h", 8000 if k % 16 < 8 else -8000) for k in range(frames))
    inst += i32(1) + b"\x01" + sample
    out += b"\x01" + inst
    lines = 8
    track = struct.pack("<H", lines) + struct.pack("<H", 0)
    for line in range(lines):
        track += (b"\x03" + struct.pack("<H", 49) + b"\x01") if line == 0 else b"\x00"
    pattern = struct.pack("<HHH", 0, lines, 1) + track
    out += i32(1) + b"\x01" + pattern
    out += b"QTKX" + i32(1) + i32(1, 0) + i32(1, 1, 0, 0, 2, -2000000000, 2000000000) + i32(0)
    return out


def qtk_extreme_tempo():
    """A native song at tempo 2^31 - 1 whose one pattern jumps to itself."""
    out = qtk_header(4, 0, 0, tempo=0x7FFFFFFF, speed=1)
    lines = 4
    tracks = b""
    for t in range(4):
        tr = struct.pack("<HH", lines, 0)
        for line in range(lines):
            tr += (b"\x18" + bytes([11, 0])) if (t == 0 and line == 1) else b"\x00"
        tracks += tr
    out += i32(1) + b"\x01" + struct.pack("<HHH", 0, lines, 4) + tracks
    return out


def xm_many_patterns():
    """256 stored patterns of 256 lines x 64 channels, one packed byte each."""
    hdr = b"Extended Module: " + b"big".ljust(20, b"\0") + b"\x1a" + b"t".ljust(20, b"\0")
    hdr += struct.pack("<HIHHHHHHHH", 0x0104, 276, 1, 0, 64, 256, 0, 1, 6, 125) + bytes(256)
    return hdr + (struct.pack("<IBHH", 9, 0, 256, 1) + b"\x80") * 256


def xm_fast_self_jump():
    """64 channels, tempo 65535, speed 1, the first line jumps back to itself."""
    hdr = b"Extended Module: " + b"fast".ljust(20, b"\0") + b"\x1a" + b"t".ljust(20, b"\0")
    hdr += struct.pack("<HIHHHHHHHH", 0x0104, 276, 1, 0, 64, 1, 1, 1, 1, 65535) + bytes(256)
    packed = b""
    for ch in range(64):
        packed += bytes([0x9B, 49, 1, 0x0B, 0x00]) if ch == 0 else bytes([0x83, 49, 1])
    hdr += struct.pack("<IBHH", 9, 0, 1, len(packed)) + packed
    inst = b"i".ljust(22, b"\0") + b"\0" + struct.pack("<H", 1) + struct.pack("<I", 40) + bytes(96)
    inst += bytes(48) + bytes(48) + bytes(14) + struct.pack("<HH", 0, 0)
    inst = struct.pack("<I", 4 + len(inst) + 22) + inst + bytes(22)
    data = bytes([30] + [0] * 15)
    smp = struct.pack("<IIIBbBBbB", len(data), 0, len(data), 64, 0, 1, 128, 0, 0) + b"s".ljust(22, b"\0")
    return hdr + inst + smp + data


def main():
    put("music_qtk", "line-texts.qtk", qtk_line_texts())
    put("music_qtk", "envelope-ticks.qtk", qtk_envelope_ticks())
    put("music_qtk", "extreme-tempo.qtk", qtk_extreme_tempo())
    put("music_xm", "many-patterns.xm", xm_many_patterns())
    put("music_xm", "fast-self-jump.xm", xm_fast_self_jump())
    put("song_sample", "endless.mod", make_seeds.mod_song([(0, 0, 0xF, 1), (3, 0, 0xB, 0x00)]))
    put("pixmap", "huge-claim.jpg", jpeg_huge_claim())
    # Complete and valid, just above the pixel limit: 8200 x 4100 flat blocks.
    put("pixmap", "over-pixel-limit.jpg", jpeg_huge_claim(8200, 4100, (1025 * 513 * 2 + 7) // 8 + 16))


def jpeg_huge_claim(width=16384, height=5400, data=66000):
    """A baseline grey JPEG of width x height whose blocks are all flat (two bits each):
    `data` zero bytes of entropy data."""
    def seg(marker, body):
        return bytes([0xFF, marker]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8"
    out += seg(0xDB, bytes([0]) + bytes([1] * 64))
    out += seg(0xC0, bytes([8]) + struct.pack(">HH", height, width) + bytes([1, 1, 0x11, 0]))
    # DC table: one code of length 1 for category 0; AC table: one code of length 1 for EOB.
    out += seg(0xC4, bytes([0x00]) + bytes([1] + [0] * 15) + bytes([0]))
    out += seg(0xC4, bytes([0x10]) + bytes([1] + [0] * 15) + bytes([0]))
    out += seg(0xDA, bytes([1, 1, 0x00, 0, 63, 0]))
    return out + bytes(data) + b"\xff\xd9"


if __name__ == "__main__":
    main()

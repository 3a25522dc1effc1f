#!/usr/bin/env python3
"""Writes the small hand-made seed inputs of the fuzz targets into the folders beside
this script (one folder a target). Run it again after changing it; the files are kept in
the repository so that the replay test feeds them too."""
import os
import struct
import wave
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    with open(os.path.join(HERE, target, name), "wb") as f:
        f.write(data)


def mod_song(effects):
    """A 4-channel MOD: two samples, one pattern using the given (line, channel, effect,
    parameter) cells, order list 0, 0."""
    out = b"seed".ljust(20, b"\0")
    for i in range(31):
        if i < 2:
            out += b"s%d" % i + b"\0" * 20  # name, 22 bytes
            out += struct.pack(">HBBHH", 16, 0, 64, 0 if i == 0 else 4, 0 if i == 0 else 8)
        else:
            out += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    out += bytes([2, 127]) + bytes([0, 0] + [0] * 126) + b"M.K."
    cells = {}
    for line, ch, fx, val in effects:
        cells[(line, ch)] = (fx, val)
    for line in range(64):
        for ch in range(4):
            period = 428 if line % 8 == 0 else 0
            inst = 1 + (ch & 1) if period else 0
            fx, val = cells.get((line, ch), (0, 0))
            out += bytes([(inst & 0xF0) | (period >> 8), period & 0xFF, ((inst & 0x0F) << 4) | fx, val])
    for i in range(2):
        out += bytes((k * 37) & 0xFF for k in range(32))
    return out


def xm_song(channels, tempo, speed, cells_per_line, samples16=False):
    """A small XM: one pattern of 16 lines, one instrument with one sample and an envelope."""
    hdr = b"Extended Module: " + b"seed".ljust(20, b"\0") + b"\x1a" + b"seed tracker".ljust(20, b"\0")
    hdr += struct.pack("<HIHHHHHHHH", 0x0104, 276, 2, 0, channels, 1, 1, 1, speed, tempo)
    hdr += bytes([0, 0] + [0] * 254)
    lines = 16
    packed = b""
    for line in range(lines):
        for ch in range(channels):
            if line % 4 == 0 and ch == 0:
                packed += bytes([49, 1, 0x40]) + bytes(cells_per_line.get(line, (0, 0)))
            elif line in cells_per_line and ch == 1:
                packed += bytes([0x98]) + bytes(cells_per_line[line])
            else:
                packed += b"\x80"
    hdr += struct.pack("<IBHH", 9, 0, lines, len(packed)) + packed
    inst = b"inst".ljust(22, b"\0") + b"\0" + struct.pack("<H", 1) + struct.pack("<I", 40)
    inst += bytes(96)
    env = [(0, 64), (10, 32), (20, 48), (40, 0)] + [(0, 0)] * 8
    inst += b"".join(struct.pack("<HH", t, v) for t, v in env)
    inst += bytes(48)
    inst += bytes([4, 0, 1, 1, 3, 0, 0, 0, 1 | 2 | 4, 0, 0, 0, 0, 0]) + struct.pack("<HH", 256, 0)
    inst = struct.pack("<I", 4 + len(inst) + 22) + inst + bytes(22)
    nframes = 32
    if samples16:
        data = b"".join(struct.pack("<h", 300 if k == 0 else (600 if k % 8 < 4 else -600)) for k in range(nframes))
        smp = struct.pack("<IIIBbBBbB", len(data), 0, len(data), 64, 0, 0x11, 128, 0, 0)
    else:
        data = bytes([20] + [(5 if k % 8 < 4 else 251) for k in range(nframes - 1)])
        smp = struct.pack("<IIIBbBBbB", len(data), 0, len(data), 64, 0, 0x02, 128, 0, 0)
    smp += b"smp".ljust(22, b"\0")
    return hdr + inst + smp + data


def wav_file(bits, channels, rate, frames):
    import io
    buf = io.BytesIO()
    w = wave.open(buf, "wb")
    w.setnchannels(channels)
    w.setsampwidth(bits // 8)
    w.setframerate(rate)
    if bits == 8:
        w.writeframes(bytes((128 + (40 if (k // 4) % 2 else -40)) & 0xFF for k in range(frames * channels)))
    else:
        w.writeframes(b"".join(struct.pack("<h", 9000 if (k // 4) % 2 else -9000) for k in range(frames * channels)))
    w.close()
    return buf.getvalue()


def bmp(width, height, bpp):
    row = (width * bpp // 8 + 3) & ~3
    palette = b"".join(bytes([i, 255 - i, i // 2, 0]) for i in range(256)) if bpp == 8 else b""
    pixels = bytes((x * 7 + y * 13) & 0xFF for y in range(height) for x in range(row))
    off = 14 + 40 + len(palette)
    return (b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(pixels), 2835, 2835,
                        256 if bpp == 8 else 0, 0) + palette + pixels)


def tga(width, height, kind, bpp):
    hdr = struct.pack("<BBBHHBHHHHBB", 0, 0, kind, 0, 0, 0, 0, 0, width, height, bpp, 0x20)
    px = bytes((i * 11) & 0xFF for i in range(width * height * bpp // 8))
    if kind == 10:  # run-length: one raw packet per row
        b = bpp // 8
        px = b"".join(bytes([0x80 | (width - 1)]) + px[y * width * b:y * width * b + b] for y in range(height))
    return hdr + px


def png(width, height, colour, depth):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    row = (width * channels * depth + 7) // 8
    raw = b"".join(b"\x01" + bytes((x * 5 + y) & 0xFF for x in range(row)) for y in range(height))
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0))
    if colour == 3:
        out += chunk(b"PLTE", bytes(range(48))) + chunk(b"tRNS", b"\x00\x80")
    return out + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


BDF = b"""STARTFONT 2.1
FONT -seed-fixed-medium-r-normal--8-80-75-75-c-40-iso10646-1
SIZE 8 75 75
FONTBOUNDINGBOX 4 8 0 -1
STARTPROPERTIES 2
FONT_ASCENT 7
FONT_DESCENT 1
ENDPROPERTIES
CHARS 2
STARTCHAR A
ENCODING 65
SWIDTH 500 0
DWIDTH 4 0
BBX 4 8 0 -1
BITMAP
00
60
90
90
F0
90
90
00
ENDCHAR
STARTCHAR g
ENCODING 103
SWIDTH 500 0
DWIDTH 4 0
BBX 4 8 0 -1
BITMAP
00
00
70
90
90
70
10
60
ENDCHAR
ENDFONT
"""


def main():
    songs = {
        "mod_effects.mod": mod_song([(0, 0, 0xF, 3), (1, 1, 0xF, 200), (2, 2, 0x4, 0x46), (3, 3, 0xA, 0x0F),
                                     (4, 0, 0xE, 0x60), (5, 0, 0xE, 0x62), (6, 1, 0x3, 0x10), (7, 2, 0x0, 0x37),
                                     (8, 3, 0xC, 0x20), (9, 0, 0x7, 0x44), (10, 1, 0xE, 0xE2), (11, 2, 0x1, 0x05),
                                     (12, 3, 0x9, 0x04), (16, 0, 0xD, 0x32), (40, 0, 0xB, 0x00)]),
        "mod_jump.mod": mod_song([(0, 0, 0xF, 1), (0, 1, 0xF, 255), (3, 0, 0xB, 0x00)]),
        "xm_small.xm": xm_song(4, 125, 6, {4: (0x0A, 0x0F), 8: (0x0F, 0x80), 12: (0x0D, 0x02)}),
        "xm_16bit.xm": xm_song(8, 200, 3, {2: (0x0E, 0x64), 6: (0x0B, 0x00)}, samples16=True),
    }
    for name, data in songs.items():
        put("music_registry", name, data)
        put("song_sample", name, data)
        put("music_mod" if name.endswith(".mod") else "music_xm", name, data)
    for bits, ch, rate in [(8, 1, 8000), (16, 2, 44100), (16, 1, 11025), (8, 2, 22050)]:
        data = wav_file(bits, ch, rate, 64)
        name = "pcm%d_%dch_%d.wav" % (bits, ch, rate)
        put("music_wav", name, data)
        put("sample", name, data)
    put("music_registry", "pcm8_1ch_8000.wav", wav_file(8, 1, 8000, 64))
    put("pixmap", "pal8.bmp", bmp(5, 3, 8))
    put("pixmap", "rgb24.bmp", bmp(3, 2, 24))
    put("pixmap", "rgba32.tga", tga(3, 2, 2, 32))
    put("pixmap", "rle24.tga", tga(4, 2, 10, 24))
    put("pixmap", "grey8.tga", tga(2, 2, 3, 8))
    put("pixmap", "rgba8.png", png(3, 2, 6, 8))
    put("pixmap", "pal4.png", png(5, 2, 3, 4))
    put("pixmap", "grey16.png", png(2, 2, 0, 16))
    put("font", "tiny.bdf", BDF)
    put("http_reply", "ok.txt", b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nABCDEF0123\r\n-+-\r\nmore\r\n")
    put("http_reply", "bare.txt", b"line one\nline two\0line three\r\n\r\n")
    put("score_reply", "reply.txt", b"HTTP/1.0 200 OK\n\n  0041424344\n-+-\nZZ\n")
    put("url", "nested.txt", b"bigendian::littleendian::incbin::fuzz")
    put("url", "incbin.txt", b"INCBIN::fuzz")
    put("settings", "hex.txt", b"0A1B2C3D4E5F60718293A4B5C6D7E8F9\n00112233445566778899AABBCCDDEEFF\n")
    # Text streams: the first byte is encoding - 1 (bits 0-1), socket-like (bit 2) and the
    # string length - 1 (bits 3-7).
    words = "h\u00e9llo\r\nw\u00f6rld \U0001F600\n\u4e2d\n"
    put("text_stream", "latin1.txt", bytes([0 | 3 << 3]) + "h\u00e9llo\nw\u00f6rld\n".encode("latin-1"))
    put("text_stream", "utf8_bom.txt", bytes([1 | 4]) + b"\xef\xbb\xbf" + words.encode("utf-8") + b"\xc3\x28\xed\xa0\x80")
    put("text_stream", "utf16_bom.txt", bytes([2 | 1 << 3]) + b"\xff\xfe" + words.encode("utf-16-le") + b"\x00\xd8A")
    put("text_stream", "utf16le.txt", bytes([3 | 4 | 7 << 3]) + words.encode("utf-16-le"))
    # Stored objects: the first byte chooses image (bit 0), socket-like (bit 1), in place (bit 2).
    def pixmap(w, h, fmt, bpp):
        return struct.pack("<3i", w, h, fmt) + bytes((i * 29) & 0xFF for i in range(w * h * bpp))
    put("data_object", "pixmap_rgb.bin", bytes([0]) + pixmap(3, 2, 4, 3))
    put("data_object", "pixmap_socket.bin", bytes([2 | 4]) + pixmap(2, 2, 6, 4))
    image = struct.pack("<6i2fi", 2, 2, 0, 255, 0, 255, 0.5, 1.0, 2) + pixmap(2, 2, 6, 4) + pixmap(2, 2, 6, 4)
    put("data_object", "image_two_frames.bin", bytes([1]) + image)
    put("data_object", "image_in_place.bin", bytes([1 | 2 | 4]) + image)
    # Score service: an even first byte, then a request head; an odd one, then a plain record
    # as UTF-16LE.
    put("score_request", "page.txt", b"\0GET /?x=1 HTTP/1.0\r\nHost: scores\r\n\r\n")
    put("score_request", "json.txt", b"\0GET /api/scores?gameid=20 HTTP/1.1\nUser-Agent: a%20b\n\n")
    put("score_request", "exchange.txt", b"\0GET /kwscoreme.php?gameid=20&info=0A1B2C+%41 HTTP/1.0\n\n")
    put("score_request", "record.txt", b"\1" + "Zo\u00e9 <b>|4711|12345".encode("utf-16-le"))
    put("score_request", "record_pair.txt", b"\1" + "\U0001F600&\"|1|4294967295".encode("utf-16-le"))


if __name__ == "__main__":
    main()

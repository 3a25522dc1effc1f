#!/usr/bin/python3
"""Tiny XM files, one playback rule each, and their figures against openmpt123.

usage: xm_rules.py write DIR                 writes one RULE.xm per rule into DIR
       xm_rules.py compare [--ormix PATH] [RULE ...]
                                             renders every rule with ours, xmp and
                                             openmpt123 and prints both figures of ours
                                             and of xmp against openmpt123's render
       xm_rules.py check --ormix PATH        as compare, and fails (exit 1) when a rule
                                             comes out below its expected figures

The figures are those of scripts/music_bench.py: the correlation of the loudness
envelopes (50 ms windows) and the mean cosine of the band spectra. `check` skips (exit
77) without openmpt123, unless CI=true.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "scripts"))

RATE = 44100

# ----------------------------------------------------------------------------------------
# File writer


def note(name):
    """'C-4' -> XM note byte (1 = C-0 ... 96 = B-7); 'off' -> 97."""
    if name == "off":
        return 97
    names = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
    return names.index(name[:2]) + 12 * int(name[2]) + 1


class Sample:
    def __init__(self, data, loop=None, volume=64, finetune=0, pan=128, relnote=0, bits=8,
                 pingpong=False):
        self.data, self.loop, self.volume, self.finetune = data, loop, volume, finetune
        self.pan, self.relnote, self.bits, self.pingpong = pan, relnote, bits, pingpong

    adpcm = False  # 4-bit delta-table coding (marked by 0xAD in the reserved byte)

    def header(self, name=b""):
        width = self.bits // 8
        flags = (0 if self.loop is None else (2 if self.pingpong else 1)) | (0x10 if self.bits == 16 else 0)
        start, length = self.loop if self.loop else (0, 0)
        return struct.pack("<IIIBbBBbB22s", len(self.data) * width, start * width, length * width,
                           self.volume, self.finetune, flags, self.pan, self.relnote,
                           0xAD if self.adpcm else 0, name)

    def body(self):
        if self.adpcm:
            # A table of 16 signed steps, then one nibble a frame (low nibble first).
            steps = [0, 1, 2, 4, 8, 16, 32, 64, -1, -2, -4, -8, -16, -32, -64, -128]
            out, value, nibbles = bytearray(bytes(s & 0xFF for s in steps)), 0, []
            for v in self.data:
                k = min(range(16), key=lambda i: abs(((value + steps[i] + 128) & 0xFF) - 128 - v))
                value = (value + steps[k]) & 0xFF
                nibbles.append(k)
            nibbles += [0] * (len(nibbles) & 1)
            return bytes(out) + bytes(nibbles[i] | (nibbles[i + 1] << 4) for i in range(0, len(nibbles), 2))
        out, prev = bytearray(), 0
        for v in self.data:
            if self.bits == 16:
                out += struct.pack("<H", (v - prev) & 0xFFFF)
            else:
                out.append((v - prev) & 0xFF)
            prev = v
        return bytes(out)


def square(cycle=32, cycles=2, level=100, bits=8):
    scale = 256 if bits == 16 else 1
    return [(level if (i % cycle) < cycle // 2 else -level) * scale for i in range(cycle * cycles)]


def looped(bits=8, **kw):
    data = square(bits=bits)
    return Sample(data, loop=(0, len(data)), bits=bits, **kw)


def decaying(frames=30000, cycle=32, **kw):
    """An unlooped square wave that fades out over `frames`: a restart is audible."""
    data = [int((100 if (i % cycle) < cycle // 2 else -100) * (1 - i / frames)) for i in range(frames)]
    return Sample(data, **kw)


class Instrument:
    def __init__(self, samples, keymap=None, vol_env=None, vol_sustain=None, vol_loop=None,
                 pan_env=None, fadeout=0, header_size=263, sample_header_size=40, pan_sustain=None,
                 pan_loop=None, vibrato=(0, 0, 0, 0)):
        self.samples, self.keymap, self.vol_env = samples, keymap, vol_env
        self.vol_sustain, self.vol_loop, self.pan_env = vol_sustain, vol_loop, pan_env
        self.fadeout, self.header_size = fadeout, header_size
        self.sample_header_size = sample_header_size
        self.pan_sustain, self.pan_loop = pan_sustain, pan_loop
        self.vibrato = vibrato  # auto-vibrato: type, sweep, depth, rate

    def bytes(self):
        head = struct.pack("<22sBH", b"", 0, len(self.samples))
        if self.samples:
            keymap = self.keymap or [0] * 96
            env = lambda points: b"".join(struct.pack("<HH", t, v) for t, v in (points or [])).ljust(48, b"\0")
            vtype = (1 if self.vol_env is not None else 0) | (2 if self.vol_sustain is not None else 0) | \
                (4 if self.vol_loop else 0)
            ptype = (1 if self.pan_env else 0) | (2 if self.pan_sustain is not None else 0) | \
                (4 if self.pan_loop else 0)
            head += struct.pack("<I", self.sample_header_size) + bytes(keymap) + env(self.vol_env) + env(self.pan_env)
            head += struct.pack("<8B", len(self.vol_env or []), len(self.pan_env or []),
                                self.vol_sustain or 0, *(self.vol_loop or (0, 0)), self.pan_sustain or 0,
                                *(self.pan_loop or (0, 0)))
            head += struct.pack("<6BHH", vtype, ptype, *self.vibrato, self.fadeout, 0)
        size = self.header_size if self.samples else max(29, min(self.header_size, 29))
        head = struct.pack("<I", size) + head
        head = head[:size].ljust(size, b"\0")
        out = head + b"".join(s.header() for s in self.samples)
        return out + b"".join(s.body() for s in self.samples)


def cell_bytes(cell):
    """A cell (note, inst, vol, fx, fxv), None for an empty field, packed as FT2 does."""
    if cell is None:
        return b"\x80"
    fields = list(cell) + [None] * (5 - len(cell))
    if all(f is not None for f in fields):
        return bytes(fields)
    mask, out = 0x80, bytearray()
    for bit, f in enumerate(fields):
        if f is not None:
            mask |= 1 << bit
            out.append(f)
    return bytes([mask]) + bytes(out)


def xm(patterns, instruments, channels=1, speed=6, bpm=125, linear=True, orders=None,
       version=0x0104, restart=0):
    """patterns: lists of lines, each a list of `channels` cells (or a dict {line: cells})."""
    packed = []
    for p in patterns:
        rows, lines = (p["rows"], p["lines"]) if isinstance(p, dict) else (len(p), dict(enumerate(p)))
        data = b"".join(cell_bytes(((lines.get(r) or []) + [None] * channels)[c])
                        for r in range(rows) for c in range(channels))
        if version >= 0x0103:
            packed.append(struct.pack("<IBHH", 9, p.get("packing", 0) if isinstance(p, dict) else 0, rows,
                                      len(data)) + data)
        else:
            packed.append(struct.pack("<IBBH", 8, 0, rows - 1, len(data)) + data)
    orders = orders if orders is not None else list(range(len(patterns)))
    head = b"Extended Module: " + b"rule".ljust(20, b"\0") + b"\x1a" + b"gen".ljust(20, b"\0")
    head += struct.pack("<HIHHHHHHHH", version, 276, len(orders), restart, channels, len(patterns),
                        len(instruments), 1 if linear else 0, speed, bpm)
    head += bytes(orders).ljust(256, b"\0")
    if version >= 0x0104:
        return head + b"".join(packed) + b"".join(i.bytes() for i in instruments)
    # Older files: instrument and sample headers, then the patterns, then the sample data.
    out = head
    for i in instruments:
        whole = i.bytes()
        out += whole[: len(whole) - sum(len(s.body()) for s in i.samples)]
    out += b"".join(packed)
    return out + b"".join(s.body() for i in instruments for s in i.samples)


def pat(rows, events, channels=1):
    """A pattern of `rows` lines with cells given as {line: cell} (one channel) or
    {line: [cells]}."""
    lines = {}
    for r, c in events.items():
        lines[r] = c if isinstance(c, list) else [c] + [None] * (channels - 1)
    return {"rows": rows, "lines": lines}


# ----------------------------------------------------------------------------------------
# The rules

SUSTAIN_ENV = [(0, 64), (4, 48), (8, 40), (40, 0)]


def rules():
    """name -> file bytes."""
    C4, E4, G4, C5, C3 = note("C-4"), note("C-4") + 4, note("C-4") + 7, note("C-5"), note("C-3")
    OFF = 97
    one = [Instrument([looped()])]
    env = [Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=2000)]
    env_nosus = [Instrument([looped()], vol_env=SUSTAIN_ENV + [(80, 0)], fadeout=800)]
    decay = [Instrument([decaying()])]
    r = {}

    # Note delay: the delayed note takes the instrument's volume, the volume column of its
    # line, its envelope from the start; a delay without a note plays the last note again.
    r["delay_inst_volume"] = xm([pat(32, {0: (C4, 1, 0x20), 8: (E4, 1, None, 0x0E, 0xD3),
                                          16: (G4, None, None, 0x0E, 0xD4), 24: (C5, 1, 0x50, 0x0E, 0xD2)})], one)
    r["delay_volume_column"] = xm([pat(32, {0: (C4, 1), 8: (E4, None, 0x18, 0x0E, 0xD3),
                                            16: (G4, 1, 0x30, 0x0E, 0xD5), 24: (None, None, 0x40, 0x0E, 0xD2)})], one)
    r["delay_without_note"] = xm([pat(32, {0: (C4, 1), 8: (None, 1, None, 0x0E, 0xD3),
                                           16: (None, None, None, 0x0E, 0xD2), 24: (None, None, 0x20, 0x0E, 0xD4)})],
                                 decay)
    r["delay_envelope"] = xm([pat(32, {0: (C4, 1), 6: (OFF,), 10: (E4, 1, None, 0x0E, 0xD3),
                                       16: (OFF, None, None, 0x0E, 0xD2), 22: (G4, None, None, 0x0E, 0xD4)})], env)
    r["delay_keyoff_note"] = xm([pat(32, {0: (C4, 1), 8: (OFF, None, None, 0x0E, 0xD3),
                                          16: (C5, 1), 24: (OFF, 1, None, 0x0E, 0xD4)})], one)
    r["delay_past_speed"] = xm([pat(32, {0: (C4, 1), 8: (E4, 1, None, 0x0E, 0xD9),
                                         16: (G4, 1, None, 0x0E, 0xD6)})], one)

    # An instrument number without a note: volume, pan and envelopes back, sample not
    # restarted; invalid instrument numbers.
    r["inst_alone_volume"] = xm([pat(32, {0: (C4, 1), 4: (None, None, None, 0x0C, 0x10),
                                          12: (None, 1), 16: (None, None, 0x18), 24: (None, 1, None, 0x08, 0x20)})],
                                decay)
    r["inst_alone_envelope"] = xm([pat(40, {0: (C4, 1), 6: (OFF,), 16: (None, 1), 26: (OFF,), 34: (None, 1)})], env)
    r["inst_alone_other"] = xm([pat(32, {0: (C4, 1), 8: (None, 2), 16: (None, 1, 0x20), 24: (E4,)})],
                               [Instrument([decaying()]), Instrument([looped(volume=20)])])
    r["inst_invalid"] = xm([pat(32, {0: (C4, 1), 8: (E4, 5), 12: (G4,), 16: (C4, 1), 20: (None, 9),
                                     24: (E4, 2), 28: (G4, 1)})],
                           [Instrument([looped()]), Instrument([])])

    r["inst_above_128"] = xm([pat(32, {0: (C4, 1), 8: (E4, 0xC1), 16: (None, 0x90, 0x20), 20: (None, 1),
                                       24: (G4, 0xFF, 0x30)})], decay)

    # Key off: K00 at once, Kxx later; with and without a sustain point, with no envelope;
    # fade-out and an instrument change.
    r["keyoff_k00_kxx"] = xm([pat(32, {0: (C4, 1), 4: (None, None, None, 20, 0), 8: (E4, 1),
                                       12: (None, None, None, 20, 3), 16: (G4, 1, None, 20, 2),
                                       24: (C5, 1, None, 20, 9)})], env)
    r["keyoff_no_envelope"] = xm([pat(32, {0: (C4, 1), 4: (OFF,), 8: (E4, 1), 12: (None, None, None, 20, 2),
                                           16: (G4, 1), 20: (OFF, None, 0x30), 24: (C5, 1), 28: (OFF, 1)})], one)
    r["keyoff_with_instrument"] = xm([pat(40, {0: (C4, 1), 8: (OFF, 1), 16: (OFF,), 24: (E4, 1),
                                               30: (OFF, 1, 0x20), 36: (None, None, None, 20, 0)})], env)
    r["keyoff_sustain"] = xm([pat(48, {0: (C4, 1), 8: (OFF,), 24: (E4, 1), 26: (OFF,), 40: (OFF,)})], env)
    r["keyoff_no_sustain"] = xm([pat(48, {0: (C4, 1), 4: (OFF,), 16: (E4, 1), 32: (OFF,), 36: (G4, 1)})], env_nosus)
    r["fadeout_inst_change"] = xm([pat(32, {0: (C4, 1), 4: (OFF,), 8: (None, 2), 12: (E4, 1), 14: (OFF,),
                                            16: (G4, 2), 20: (OFF,), 24: (None, 1)})],
                                  [Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=600),
                                   Instrument([looped(volume=48)], vol_env=[(0, 64), (10, 32)], vol_sustain=1,
                                              fadeout=4000)])

    # Pitch out of the sample's range: note plus relative note below C-0 or above B-9.
    r["note_out_of_range"] = xm([pat(32, {0: (note("C-1"), 1), 8: (note("A-7"), 2), 16: (note("C-4"), 1),
                                          24: (note("B-7"), 2)})],
                                [Instrument([looped(relnote=-24)]), Instrument([looped(relnote=30)])])

    # Sample offset: memory, without a note, past the end.
    r["offset_memory"] = xm([pat(32, {0: (C4, 1, None, 9, 0x20), 8: (C4, 1, None, 9, 0), 12: (None, None, None, 9, 0x60),
                                      16: (E4, 1), 20: (G4, 1, None, 9, 0)})], decay)
    r["offset_past_end"] = xm([pat(32, {0: (C4, 1), 8: (E4, 1, None, 9, 0xF0), 16: (G4, 1), 24: (C5, 1, None, 9, 0)})],
                              decay)
    r["offset_past_loop_end"] = xm([pat(32, {0: (C4, 1), 8: (E4, 1, None, 9, 0x02), 16: (G4, 1, 0x20),
                                             24: (C5, 1, None, 9, 0)})], one)

    # Tone portamento: the target of a new note, an instrument number with it.
    r["porta_target"] = xm([pat(32, {0: (C4, 1), 4: (C5, None, 0x20, 3, 0x04), 8: (C3, None, 0x40, 3, 0),
                                     12: (None, None, 0x18, 3, 0), 16: (G4, None, 0x50), 20: (E4, None, 0x28, 3, 0x10),
                                     24: (C5, None, 0x40, 3, 0x02), 26: (C3, 1, 0x18, 3, 0)})], one)
    r["porta_first_note"] = xm([pat(32, {0: (C4, 1, None, 3, 0x08), 8: (E4, 1), 12: (OFF,),
                                         16: (C5, 1, None, 3, 0x08), 24: (G4, 1, None, 5, 0x01)})], env)
    r["porta_instrument"] = xm([pat(40, {0: (C4, 1), 6: (OFF,), 12: (C5, 1, None, 3, 0x08), 20: (OFF,),
                                         28: (C3, 1, 0x20, 3, 0x08)})], env)
    # Another instrument with a tone portamento or without a note: whose envelope and
    # volume, whose sample.
    fading = Instrument([looped(volume=24, pan=40)], vol_env=[(0, 64), (30, 0)])
    r["porta_instrument_change"] = xm([pat(40, {0: (C4, 1), 4: (None, None, 0x28), 8: (C5, 2, None, 3, 0x08),
                                                16: (None, None, None, 3, 0), 20: (None, None, 0x30, 3, 0), 24: (E4, 1),
                                                32: (G4, 2, None, 3, 0x20), 36: (None, None, 0x20, 3, 0)})],
                                      [Instrument([looped()]), fading])
    r["inst_alone_change"] = xm([pat(40, {0: (C4, 1), 8: (None, 2), 16: (E4,), 24: (None, 1), 32: (G4,)})],
                                [Instrument([looped()]), fading])
    r["porta_volume_column"] = xm([pat(32, {0: (C4, 1), 4: (C5, None, 0xF4), 12: (C3, None, 0xF0),
                                            20: (G4, 1, 0xF8, 0x0A, 0x02)})], one)

    # Vibrato phase: kept or restarted by an instrument number alone, a note without one,
    # a note with one, a tone portamento with one.
    vib = {l: (None, None, None, 4, 0) for l in range(48)}
    vib.update({0: (C4, 1, None, 4, 0x1F), 8: (None, 1, None, 4, 0), 16: (E4, None, None, 4, 0),
                24: (G4, 1, None, 4, 0), 32: (C5, 1, 0xF8), 40: (C4, 1, None, 4, 0)})
    vib.update({l: (None, None, 0x28, 4, 0) for l in (4, 12, 20, 28, 44)})
    r["vibrato_phase"] = xm([pat(48, vib)], one)

    # Lines with fields left empty.
    r["empty_fields"] = xm([pat(32, {0: (C4, 1), 4: (E4,), 8: (None, None, 0x30), 12: (None, 2),
                                     16: (G4,), 20: (None, None, None, 0x0A, 0x04), 24: (C5, None, None, 0, 0),
                                     28: (0, 0, 0, 0, 0)})],
                           [Instrument([looped()]), Instrument([decaying(volume=40)])])

    # Files: 16-bit delta samples, sample volumes above 64, an old version layout.
    r["sample_16bit"] = xm([pat(16, {0: (C4, 1, 0x50), 4: (E4, 2, 0x20), 8: (G4, 1, 0x38), 12: (C5, 2, 0x14)})],
                           [Instrument([looped(bits=16)]), Instrument([looped(bits=16, pingpong=True)])])
    r["sample_volume_high"] = xm([pat(16, {0: (C4, 1), 4: (E4, 2), 8: (G4, 1), 12: (C5, 2)})],
                                 [Instrument([looped(volume=200)]), Instrument([looped(volume=32)])])
    for version in (0x0102, 0x0103):
        r["version_%04x" % version] = xm([pat(16, {0: (C4, 1), 4: (E4, 2), 8: (G4, 1, 0x20), 12: (C5, 2)})],
                                         [Instrument([looped()]), Instrument([looped(bits=16, volume=16)])],
                                         version=version)
    odd = pat(16, {0: (C4, 1), 4: (E4, 1, 0x20), 8: (G4, 1), 12: (C5, 1, 0x10)})
    odd["packing"] = 1
    r["pattern_packing_type"] = xm([odd], one)
    r["instrument_header_short"] = xm([pat(16, {0: (C4, 1), 4: (E4, 2), 8: (G4, 1, 0x18), 12: (C5, 2)})],
                                      [Instrument([looped()], header_size=243),
                                       Instrument([looped(volume=40)], header_size=300)])
    def adpcm(**kw):
        sm = decaying(frames=12000, **kw)
        sm.adpcm = True
        return sm
    r["sample_adpcm"] = xm([pat(32, {0: (C4, 1), 8: (E4, 2), 16: (G4, 1), 24: (C5, 2)})],
                           [Instrument([adpcm()]), Instrument([decaying(frames=12000, volume=40)])])
    r["envelope_few_points"] = xm([pat(32, {0: (C4, 1), 8: (E4, 2), 12: (OFF,), 16: (G4, 3), 20: (OFF,),
                                            24: (C5, 1, 0x20)})],
                                  [Instrument([looped()], vol_env=[]), Instrument([looped()], vol_env=[(0, 20)]),
                                   Instrument([looped()], vol_env=[(0, 64), (0, 10), (20, 40)])])
    r["amiga_periods"] = xm([pat(32, {0: (C4, 1), 4: (None, None, None, 1, 0x08), 8: (E4, 1, 0x30),
                                      12: (None, None, None, 2, 0x10), 16: (G4, 1), 20: (C5, None, None, 3, 0x10),
                                      24: (C3, 1, 0x20, 4, 0x48)})], one, linear=False)
    r["note_map_beyond"] = xm([pat(32, {0: (C4, 1), 8: (C5, 1), 16: (C3, 1, 0x20), 24: (note("C-6"), 1)})],
                              [Instrument([looped(), looped(volume=30, relnote=7)],
                                          keymap=[0] * 36 + [1] * 12 + [5] * 12 + [17] * 36)])

    def cells(lines, cell, over=None):
        """The same cell on `lines`, then the cells of `over`."""
        out = {l: cell for l in lines}
        out.update(over or {})
        return out

    # Volume column: slides on the later ticks and fine slides on the first, vibrato
    # speed and depth (shared with 4xy), panning and panning slides, tone portamento
    # speed (shared with 3xx).
    r["volcol_slides"] = xm([pat(32, {0: (C4, 1, 0x50), 2: (None, None, 0x64), 3: (None, None, 0x62),
                                      6: (None, None, 0x73), 8: (None, None, 0x7F), 10: (None, None, 0x85),
                                      11: (None, None, 0x85), 12: (None, None, 0x8F), 14: (None, None, 0x9A),
                                      16: (E4, 1, 0x60), 17: (None, None, 0x68, 0x0A, 0x20),
                                      20: (None, None, 0x80, 0x0A, 0), 22: (None, None, 0x93, 0x0C, 0x10),
                                      24: (G4, None, 0x24), 26: (None, None, 0x70, 0x0A, 0x03)})], decay)
    vv = cells(range(2, 6), (None, None, 0xB0))
    vv.update(cells(range(8, 12), (None, None, None, 4, 0)))
    vv.update(cells(range(14, 18), (None, None, 0xB0, 4, 0x00)))
    vv.update(cells(range(20, 24), (None, None, 0xB0)))
    vv.update(cells(range(26, 30), (None, None, 0xB0, 6, 0x01)))
    vv.update({0: (C4, 1, 0xA6), 1: (None, None, 0xB8), 7: (None, None, None, 4, 0x3C), 12: (E4, 1, 0xA2),
               13: (None, None, 0xB0, 4, 0x84), 19: (None, None, 0xAC, 4, 0), 25: (G4, 1, 0xB4)})
    r["volcol_vibrato"] = xm([pat(32, vv)], one)
    r["volcol_panning"] = xm([pat(32, {0: (C4, 1, 0xC0), 4: (None, None, 0xE8), 8: (None, None, 0xDF),
                                       12: (E4, 1, 0xCF), 16: (None, None, 0xD4, 8, 0xC0), 20: (None, None, 0xE0),
                                       24: (G4, 1, 0xC4, 0x19, 0x40), 28: (None, None, 0xE2, 0x19, 0)})],
                             [Instrument([looped(pan=30)])])
    r["volcol_porta_memory"] = xm([pat(32, {0: (C4, 1), 2: (C5, None, None, 3, 0x04), 6: (C3, None, 0xF0),
                                            10: (G4, None, 0xF2), 14: (C5, None, None, 3, 0), 18: (C4, None, 0xF0),
                                            22: (E4, 1, None, 5, 0x02), 26: (C5, None, 0xF1, 3, 0x20)})], one)

    # Multi retrig Rxy: the volume table, x 0, with and without a note, the tick counter
    # running across lines; E9x retrig.
    rv = {l: (None, None, None, 27, (l << 4) | 3) for l in range(16)}
    rv.update({0: (C4, 1, 0x20, 27, 0x03), 8: (None, None, 0x30, 27, 0x83), 16: (E4, 1, None, 27, 0xF2),
               17: (None, None, None, 27, 0)})
    r["retrig_volume_table"] = xm([pat(24, rv)], decay)
    r["retrig_counter"] = xm([pat(32, {0: (C4, 1, None, 27, 0x04), 1: (None, None, None, 27, 0),
                                       2: (None, None, None, 27, 0x05), 4: (E4, 1, None, 27, 0),
                                       5: (None, None, None, 27, 0x50), 8: (G4, 1), 9: (None, None, None, 27, 0x07),
                                       10: (None, None, None, 27, 0x07), 12: (C5, 1, None, 27, 0x01),
                                       16: (C4, 1, 0x30, 27, 0xA3), 20: (None, None, None, 27, 0x00)})], decay)
    r["retrig_e9x"] = xm([pat(32, {0: (C4, 1, None, 0x0E, 0x92), 2: (None, None, None, 0x0E, 0x93),
                                   4: (E4, 1, None, 0x0E, 0x90), 6: (None, None, 0x20, 0x0E, 0x94),
                                   8: (G4, None, None, 0x0E, 0x97), 10: (None, 1, None, 0x0E, 0x91),
                                   12: (C5, 1, 0x18, 0x0E, 0x93), 16: (None, None, None, 0x0E, 0x95)})], env)

    # Tremor, note cut, note delay beyond the line.
    r["tremor"] = xm([pat(32, cells(range(0, 28), (None, None, None, 29, 0), {0: (C4, 1, None, 29, 0x12), 6: (None, None, None, 29, 0x31),
                                      10: (None, None, 0x30, 29, 0), 14: (E4, 1, None, 29, 0x00),
                                      18: (None, None, None, 29, 0x00), 20: (None, None, None, 0, 0),
                                      22: (None, None, None, 29, 0x24), 28: (G4, 1)}))], one)
    r["note_cut"] = xm([pat(32, {0: (C4, 1, None, 0x0E, 0xC0), 4: (E4, 1, None, 0x0E, 0xC3),
                                 8: (None, None, 0x30), 12: (G4, 1, None, 0x0E, 0xC9), 16: (C5, 1, 0x20, 0x0E, 0xC1),
                                 20: (None, None, None, 0x0A, 0x40), 24: (C4, 1, None, 0x0E, 0xC5)})], env)

    # Global volume: set, above 64, slide memory, both nibbles, how soon it applies.
    gv = {0: (C4, 1, None, 16, 0x20), 4: (None, None, None, 16, 0x80), 8: (None, None, None, 17, 0x04),
          9: (None, None, None, 17, 0), 10: (None, None, None, 17, 0), 12: (None, None, None, 17, 0x30),
          13: (None, None, None, 17, 0), 16: (E4, 1, None, 17, 0x8F), 18: (None, None, None, 16, 0x00),
          20: (None, None, None, 17, 0x50), 24: (G4, 1, None, 16, 0x30), 26: (None, None, None, 17, 0x0F),
          27: (None, None, None, 17, 0)}
    r["global_volume"] = xm([pat(32, {k: [v, (C3, 1) if k % 8 == 0 else None] for k, v in gv.items()})], one,
                            channels=2)
    r["pan_slide"] = xm([pat(32, cells(range(1, 8), (None, None, None, 25, 0x00), {0: (C4, 1, None, 25, 0x40), 8: (None, None, None, 8, 0x80),
                                         9: (None, None, None, 25, 0x08), 10: (None, None, None, 25, 0),
                                         16: (E4, 1, None, 25, 0xFF), 20: (None, None, None, 25, 0x0F),
                                         24: (None, None, None, 25, 0xF0)}))], [Instrument([looped(pan=0)])])

    # Fine and extra-fine portamento: memories of their own, a parameter of 0.
    for name, linear in (("fine_porta_memory", True), ("fine_porta_memory_amiga", False)):
        r[name] = xm([pat(32, {0: (C4, 1, None, 0x0E, 0x1F), 2: (None, None, None, 0x0E, 0x10),
                               4: (None, None, None, 0x0E, 0x10), 6: (None, None, None, 0x0E, 0x28),
                               8: (None, None, None, 0x0E, 0x20), 10: (None, None, None, 0x21, 0x0F),
                               12: (None, None, None, 0x21, 0x00), 14: (None, None, None, 0x21, 0x00),
                               16: (None, None, None, 0x21, 0x2A), 18: (None, None, None, 0x21, 0x20),
                               20: (None, None, None, 0x0E, 0x10), 22: (None, None, None, 0x21, 0x10),
                               24: (None, None, None, 1, 0x04), 26: (None, None, None, 0x0E, 0x10),
                               28: (None, None, None, 0x21, 0x20)})], one, linear=linear)
    # Effect memories: 1xx, 2xx, 4xy, 7xy, Axy each keep their own; Axy with both digits.
    r["effect_memory"] = xm([pat(40, {0: (C4, 1, None, 1, 0x08), 1: (None, None, None, 1, 0),
                                      2: (None, None, None, 2, 0x03), 3: (None, None, None, 1, 0),
                                      4: (None, None, None, 2, 0), 6: (E4, 1, None, 0x0A, 0x02),
                                      7: (None, None, None, 0x0A, 0), 8: (None, None, None, 0x0A, 0x30),
                                      9: (None, None, None, 0x0A, 0), 10: (None, None, None, 0x0A, 0x34),
                                      11: (None, None, None, 0x0A, 0x0F), 12: (None, None, None, 0x0A, 0xF1),
                                      14: (G4, 1, None, 4, 0x48), 15: (None, None, None, 7, 0x28),
                                      16: (None, None, None, 4, 0), 17: (None, None, None, 7, 0),
                                      18: (None, None, None, 6, 0x01), 19: (None, None, None, 6, 0),
                                      20: (None, None, None, 5, 0), 22: (C4, 1, None, 0x07, 0x8F),
                                      23: (None, None, None, 7, 0x00), 24: (None, None, None, 0x07, 0x40),
                                      26: (C5, 1, None, 2, 0x10), 27: (None, None, None, 2, 0),
                                      28: (None, None, None, 1, 0), 30: (None, None, None, 0x0E, 0x20),
                                      32: (None, None, None, 0x0A, 0x00)})], one)
    # Vibrato and tremolo waveforms (and keeping the phase), glissando, fine tune.
    wf = cells(range(0, 36), (None, None, None, 4, 0))
    wf.update({0: (C4, 1, None, 4, 0x6C), 6: (None, None, None, 0x0E, 0x41), 12: (None, None, None, 0x0E, 0x42),
               18: (E4, 1, None, 0x0E, 0x44), 19: (E4, 1, None, 4, 0), 24: (G4, 1, None, 0x0E, 0x40),
               30: (None, None, None, 0x0E, 0x43)})
    r["vibrato_waveforms"] = xm([pat(36, wf)], decay)
    tw = cells(range(0, 32), (None, None, None, 7, 0))
    tw.update({0: (C4, 1, None, 7, 0x4F), 8: (None, None, None, 0x0E, 0x71), 16: (None, None, None, 0x0E, 0x72),
               24: (E4, 1, None, 0x0E, 0x74), 25: (E4, 1, None, 7, 0)})
    r["tremolo_waveforms"] = xm([pat(32, tw)], one)
    r["glissando"] = xm([pat(32, cells(range(2, 12), (None, None, None, 3, 0), {0: (C4, 1, None, 0x0E, 0x31), 1: (C5, None, None, 3, 0x06),
                                         12: (None, None, None, 0x0E, 0x30), 13: (C4, None, None, 3, 0x06),
                                         14: (None, None, None, 3, 0), 16: (None, None, None, 0x0E, 0x31),
                                         17: (G4, None, None, 3, 0x03), 18: (None, None, 0xF0),
                                         19: (None, None, 0xF0), 20: (None, None, None, 3, 0)}))], decay)
    r["finetune_effect"] = xm([pat(32, {0: (C4, 1, None, 0x0E, 0x5F), 4: (None, None, None, 0x0E, 0x50),
                                        8: (E4, 1, None, 0x0E, 0x50), 12: (E4, 1), 16: (G4, 1, None, 0x0E, 0x54),
                                        20: (None, None, None, 1, 0x04), 24: (C5, 1, None, 0x0E, 0x5C)})],
                              [Instrument([looped(finetune=-40)])])
    r["vibrato_first_tick"] = xm([pat(32, cells(range(0, 32, 2), (None, None, None, 4, 0), {0: (C4, 1, None, 4, 0x1F), 8: (E4, 1, None, 4, 0xF8),
                                                 16: (G4, None, None, 4, 0x2F), 24: (C5, 1, None, 0x06, 0x02)}))],
                                   one, speed=3)
    # Arpeggio: the tick order at the line's end, at small and large speeds, both tables.
    for name, speed, linear in (("arpeggio_speed_5", 5, True), ("arpeggio_speed_18", 18, True),
                                ("arpeggio_amiga", 7, False)):
        r[name] = xm([pat(12, cells(range(0, 12), (None, None, None, 0, 0x47), {0: (C4, 1, None, 0, 0x37), 4: (E4, 1, None, 0, 0xC0), 8: (C3, 1, None, 0, 0x0C),
                                      10: (None, None, None, 0, 0x00)}))], decay, speed=speed, linear=linear)

    # Envelopes: sustain at the loop start, loop end at the sustain point, a pan envelope
    # with sustain and loop, fade-out 0 and at its largest, auto-vibrato, Lxx.
    ramp = [(0, 64), (6, 10), (12, 50), (18, 20), (40, 0)]
    r["env_sustain_loop_start"] = xm([pat(48, {0: (C4, 1), 20: (OFF,), 28: (E4, 1), 40: (OFF,)})],
                                     [Instrument([looped()], vol_env=ramp, vol_sustain=1, vol_loop=(1, 3),
                                                 fadeout=500)])
    r["env_loop_end_sustain"] = xm([pat(48, {0: (C4, 1), 20: (OFF,), 28: (E4, 1), 40: (OFF,)})],
                                   [Instrument([looped()], vol_env=ramp, vol_sustain=3, vol_loop=(1, 3),
                                               fadeout=500)])
    r["env_loop_no_sustain"] = xm([pat(32, {0: (C4, 1), 16: (OFF,), 20: (E4, 1)})],
                                  [Instrument([looped()], vol_env=ramp, vol_loop=(0, 2), fadeout=0)])
    r["pan_envelope"] = xm([pat(32, {0: (C4, 1), 12: (OFF,), 16: (E4, 1, None, 8, 0x20), 28: (OFF,)})],
                           [Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=300,
                                       pan_env=[(0, 0), (10, 64), (20, 10)], pan_sustain=1, pan_loop=(1, 2))])
    r["fadeout_extremes"] = xm([pat(32, {0: (C4, 1), 4: (OFF,), 8: (E4, 2), 10: (OFF,), 16: (G4, 3), 18: (OFF,)})],
                               [Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=0),
                                Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=0xFFF),
                                Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=0x7FFF)])
    r["envelope_position"] = xm([pat(32, {0: (C4, 1), 4: (None, None, None, 21, 20), 8: (None, None, None, 21, 2),
                                          12: (OFF,), 14: (None, None, None, 21, 8), 20: (E4, 1, None, 21, 30),
                                          24: (None, None, None, 21, 0)})],
                                [Instrument([looped()], vol_env=ramp, vol_sustain=3, fadeout=900,
                                            pan_env=[(0, 0), (30, 64)], pan_sustain=1)])
    r["env_cut_note"] = xm([pat(32, {0: (C4, 1, None, 0x0E, 0xC2), 6: (None, None, 0x40), 10: (None, None, None, 0x0C, 0),
                                     14: (None, None, 0x30), 18: (OFF,), 22: (None, None, 0x40)})],
                           [Instrument([looped()], vol_env=ramp, vol_sustain=3, fadeout=900)])
    for vtype in range(4):
        r["autovibrato_type%d" % vtype] = xm([pat(16, {0: (C4, 1), 8: (E4, 1), 12: (OFF,)})],
                                             [Instrument([looped()], vol_env=SUSTAIN_ENV, vol_sustain=1, fadeout=400,
                                                         vibrato=(vtype, 0, 12, 8))])
    r["autovibrato_sweep"] = xm([pat(24, {0: (C4, 1), 8: (E4, 1), 12: (None, 1), 16: (C3, 2)})],
                                [Instrument([looped()], vibrato=(0, 40, 15, 20)),
                                 Instrument([looped()], vibrato=(0, 255, 8, 63))])
    r["autovibrato_amiga"] = xm([pat(16, {0: (C4, 1), 8: (C3, 1, None, 4, 0x44)})],
                                [Instrument([looped()], vibrato=(0, 10, 15, 12))], linear=False)

    # Song flow: loops with breaks and jumps, break parameters, speed and tempo limits,
    # the restart position, missing, empty and full-length patterns. Every line sets a
    # volume of its own, so the loudness tells which lines played in which order.
    def flow(patterns, **kw):
        """patterns: (rows, {line: [cells]}) each, on two channels."""
        out = []
        for p, (rows, events) in enumerate(patterns):
            lines = {}
            for line in range(rows):
                level = 0x11 + (p * 13 + line * 5) % 64
                given = events.get(line, [])
                first = (C4 if line == 0 else None, 1 if line == 0 else None, level)
                if given and given[0]:
                    first += tuple(given[0][3:])
                lines[line] = [first] + list(given[1:])
            out.append(pat(rows, lines, channels=2))
        return xm(out, one, channels=2, **kw)

    def e(effect, param):
        return (None, None, None, effect, param)

    r["loop_then_break"] = flow([(16, {4: [e(0x0E, 0x60)], 8: [e(0x0E, 0x62)], 10: [e(0x0D, 0x00)]}),
                                 (16, {})])
    r["loop_break_same_line"] = flow([(16, {2: [e(0x0E, 0x60)], 6: [e(0x0E, 0x61), e(0x0D, 0x04)]}),
                                      (16, {}), (16, {})])
    r["loop_row_carries"] = flow([(16, {2: [e(0x0E, 0x60)], 4: [e(0x0E, 0x61)]}), (8, {}),
                                  (16, {6: [None, e(0x0E, 0x60)], 9: [None, e(0x0E, 0x62)]}), (16, {})])
    r["loop_two_channels"] = flow([(16, {2: [e(0x0E, 0x60)], 5: [None, e(0x0E, 0x60)],
                                         7: [e(0x0E, 0x61), e(0x0E, 0x62)]}), (16, {})])
    for name, line in (("jump_then_break", [e(0x0B, 2), e(0x0D, 0x08)]),
                       ("break_then_jump", [e(0x0D, 0x08), e(0x0B, 2)])):
        r[name] = flow([(16, {4: line}), (16, {}), (16, {12: [e(0x0D, 0x12)]}), (32, {})])
    r["break_parameters"] = flow([(16, {8: [e(0x0D, 0x1A)]}), (32, {24: [e(0x0D, 0x70)]}),
                                  (32, {10: [e(0x0D, 0x40)]}), (64, {50: [e(0x0D, 0x28)]}), (16, {})])
    r["break_to_long_pattern"] = flow([(16, {4: [e(0x0D, 0x70)]}), (128, {})], speed=2)
    r["speed_tempo_limits"] = flow([(32, {0: [e(0x0F, 0x20)], 4: [e(0x0F, 0x1F)], 6: [e(0x0F, 0x03)],
                                          10: [e(0x0F, 0xFF)], 16: [e(0x0F, 0x01)], 20: [e(0x0F, 0x00)]})])
    r["restart_position"] = flow([(8, {}), (8, {}), (8, {})], orders=[0, 1, 2, 1], restart=2)
    r["pattern_rows_extremes"] = flow([(256, {}), (0, {}), (8, {})], speed=2)
    r["pattern_delay"] = flow([(16, {2: [e(0x0E, 0xE2)], 5: [e(0x0E, 0xE1), e(0x0D, 0x03)],
                                     }), (16, {3: [e(0x0E, 0x60)], 6: [e(0x0E, 0x61), e(0x0E, 0xE2)],
                                               9: [(C4, 1, 0x30, 0x0E, 0xE1)]})])
    r["pattern_delay_notes"] = xm([pat(16, {0: (C4, 1), 2: (E4, 1, None, 0x0E, 0xE2), 4: (None, None, 0x20, 0x0E, 0xE1),
                                            6: (G4, 1, None, 0x0E, 0xD2), 7: (None, None, None, 0x0E, 0xE1),
                                            8: (C5, 1, None, 0x0A, 0x04), 9: (None, None, None, 0x0E, 0xE3)})], decay)
    r["song_length_zero"] = xm([pat(8, {0: (C4, 1), 4: (E4, 1)})], one, orders=[])
    r["volume_set_limits"] = xm([pat(32, {0: (C4, 1, None, 0x0C, 0x20), 4: (None, None, None, 0x0C, 0x50),
                                          8: (None, None, 0x18, 0x0C, 0x10), 12: (None, None, 0x55),
                                          16: (E4, 1, 0x50), 20: (None, None, 0x30, 0x0C, 0x7F),
                                          24: (G4, 1, 0x20, 0x0C, 0x00), 28: (None, None, 0x0F)})], decay)
    # Portamento up and down past the pitch range, with both frequency tables.
    for name, linear in (("porta_limits", True), ("porta_limits_amiga", False)):
        r[name] = xm([pat(32, cells(range(1, 14), (None, None, None, 1, 0xFF),
                                   cells(range(17, 31), (None, None, None, 2, 0xFF),
                                         {0: (note("C-6"), 1, None, 1, 0xFF), 16: (note("C-2"), 1, None, 2, 0xFF)})))],
                     one, linear=linear)
    r["pan_positions"] = xm([pat(32, {0: (C4, 1, None, 8, 0x00), 4: (E4, 1, None, 8, 0xFF), 8: (G4, 1, 0xC8),
                                      12: (C5, 1, None, 0x0E, 0x84), 16: (C4, 1, 0xCF), 20: (E4, 1),
                                      24: (G4, 1, 0xC0, 8, 0x80), 28: (C5, 1, None, 0x19, 0x0F)})],
                            [Instrument([decaying(frames=8000, pan=255)])])
    r["order_missing_pattern"] = flow([(8, {3: [e(0x0B, 3)]}), (8, {}), (8, {})], orders=[0, 5, 1, 2, 7, 1])
    return r


# ----------------------------------------------------------------------------------------
# Comparing

# Rule -> the figures (envelope, bands) ours reach against openmpt123's render; `check`
# allows 0.005 below them. xmp's figures on the same files, for comparison, are printed
# by `compare`.
EXPECTED = {
    "amiga_periods": (1.000, 0.996),
    "arpeggio_amiga": (1.000, 0.994),
    "arpeggio_speed_18": (1.000, 0.995),
    "arpeggio_speed_5": (0.999, 0.995),
    "autovibrato_amiga": (0.016, 0.996),
    "autovibrato_sweep": (0.544, 0.996),
    "autovibrato_type0": (1.000, 0.996),
    "autovibrato_type1": (1.000, 0.996),
    "autovibrato_type2": (1.000, 0.987),
    "autovibrato_type3": (1.000, 0.987),
    "break_parameters": (1.000, 0.996),
    "break_then_jump": (1.000, 0.996),
    "break_to_long_pattern": (1.000, 0.995),
    "delay_envelope": (1.000, 0.997),
    "delay_inst_volume": (1.000, 0.997),
    "delay_keyoff_note": (1.000, 0.997),
    "delay_past_speed": (0.967, 0.997),
    "delay_volume_column": (1.000, 0.997),
    "delay_without_note": (1.000, 0.997),
    "effect_memory": (0.997, 0.996),
    "empty_fields": (1.000, 0.997),
    "env_cut_note": (0.999, 0.996),
    "env_loop_end_sustain": (1.000, 0.995),
    "env_loop_no_sustain": (0.997, 0.995),
    "env_sustain_loop_start": (0.999, 0.996),
    "envelope_few_points": (1.000, 0.997),
    "envelope_position": (0.998, 0.996),
    "fadeout_extremes": (0.996, 0.995),
    "fadeout_inst_change": (1.000, 0.996),
    "fine_porta_memory": (0.937, 0.997),
    "fine_porta_memory_amiga": (0.950, 0.997),
    "finetune_effect": (-0.001, 0.997),
    "glissando": (1.000, 0.989),
    "global_volume": (0.996, 0.996),
    "inst_above_128": (1.000, 0.997),
    "inst_alone_change": (1.000, 0.997),
    "inst_alone_envelope": (1.000, 0.997),
    "inst_alone_other": (1.000, 0.997),
    "inst_alone_volume": (1.000, 0.997),
    "inst_invalid": (1.000, 0.997),
    "instrument_header_short": (1.000, 0.997),
    "jump_then_break": (1.000, 0.996),
    "keyoff_k00_kxx": (1.000, 0.996),
    "keyoff_no_envelope": (1.000, 0.997),
    "keyoff_no_sustain": (0.999, 0.994),
    "keyoff_sustain": (1.000, 0.997),
    "keyoff_with_instrument": (1.000, 0.997),
    "loop_break_same_line": (1.000, 0.996),
    "loop_row_carries": (1.000, 0.996),
    "loop_then_break": (1.000, 0.996),
    "loop_two_channels": (1.000, 0.996),
    "note_cut": (1.000, 0.996),
    "note_map_beyond": (1.000, 0.998),
    "note_out_of_range": (1.000, 0.996),
    "offset_memory": (1.000, 0.997),
    "offset_past_end": (1.000, 0.997),
    "offset_past_loop_end": (1.000, 0.997),
    "order_missing_pattern": (1.000, 0.997),
    "pan_envelope": (1.000, 0.997),
    "pan_positions": (1.000, 0.997),
    "pan_slide": (0.823, 0.997),
    "pattern_delay": (1.000, 0.996),
    "pattern_delay_notes": (1.000, 0.997),
    "pattern_packing_type": (1.000, 0.997),
    "pattern_rows_extremes": (1.000, 0.995),
    "porta_first_note": (1.000, 0.997),
    "porta_instrument": (1.000, 0.997),
    "porta_instrument_change": (1.000, 0.997),
    "porta_limits": (0.559, 0.620),
    "porta_limits_amiga": (0.999, 0.874),
    "porta_target": (1.000, 0.996),
    "porta_volume_column": (1.000, 0.997),
    "restart_position": (1.000, 0.997),
    "retrig_counter": (0.999, 0.994),
    "retrig_e9x": (1.000, 0.997),
    "retrig_volume_table": (1.000, 0.971),
    "sample_16bit": (1.000, 0.989),
    "sample_adpcm": (1.000, 0.997),
    "sample_volume_high": (1.000, 0.997),
    "song_length_zero": (0.390, 0.997),
    "speed_tempo_limits": (1.000, 0.997),
    "tremolo_waveforms": (0.991, 0.996),
    "tremor": (1.000, 0.991),
    "version_0102": (1.000, 0.997),
    "version_0103": (1.000, 0.997),
    "vibrato_first_tick": (1.000, 0.995),
    "vibrato_phase": (1.000, 0.995),
    "vibrato_waveforms": (1.000, 0.978),
    "volcol_panning": (0.255, 0.997),
    "volcol_porta_memory": (1.000, 0.997),
    "volcol_slides": (1.000, 0.997),
    "volcol_vibrato": (1.000, 0.991),
    "volume_set_limits": (1.000, 0.997),
}


def render(cmd, path):
    with open(path, "wb") as out:
        subprocess.run(cmd, stdout=out, stderr=subprocess.DEVNULL, check=False, timeout=60)


def compare(ormix, names, check):
    try:
        import music_bench  # numpy; the same figures as the benchmark's
    except ImportError:
        print("numpy is not installed (Debian package python3-numpy): no figures")
        return 1 if check and os.environ.get("CI") == "true" else 77
    tmp = tempfile.mkdtemp(prefix="xm_rules.")
    failed = []
    try:
        all_rules = rules()
        print("%-24s %15s %15s" % ("rule", "env ours/xmp", "bands ours/xmp"))
        for name in names or sorted(all_rules):
            song = os.path.join(tmp, name + ".xm")
            with open(song, "wb") as f:
                f.write(all_rules[name])
            ref, ours, xmp = (os.path.join(tmp, name + k) for k in (".ref", ".ours", ".xmp"))
            render(["openmpt123", "-q", "--batch", "--stdout", "--samplerate", str(RATE), "--channels", "2",
                    "--no-float", "--dither", "0", song], ref)
            render([ormix, "music", "render", song, "-"], ours)
            e_o, c_o = music_bench.figures(ours, ref)
            line = "%-24s %7.3f/%-7s %7.3f/%-7s" % (name, e_o, "", c_o, "")
            if not check and shutil.which("xmp"):
                render(["xmp", "-q", "-c", "-i", "linear", "-f", str(RATE), song], xmp)
                e_x, c_x = music_bench.figures(xmp, ref)
                line = "%-24s %7.3f/%-7.3f %7.3f/%-7.3f" % (name, e_o, e_x, c_o, c_x)
            want = EXPECTED.get(name)
            if want and not (e_o >= want[0] - 0.005 and c_o >= want[1] - 0.005):
                failed.append(name)
                line += "  below %.3f/%.3f" % want
            print(line)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    if check and failed:
        print("below their expected figures: " + ", ".join(failed))
        return 1
    return 0


def main(argv):
    if argv[:1] == ["write"] and len(argv) == 2:
        os.makedirs(argv[1], exist_ok=True)
        for name, data in rules().items():
            with open(os.path.join(argv[1], name + ".xm"), "wb") as f:
                f.write(data)
        return 0
    if argv[:1] in (["compare"], ["check"]):
        check = argv[0] == "check"
        ormix = os.path.join(HERE, "..", "..", "..", "build", "bin", "ormix")
        rest = argv[1:]
        if rest[:1] == ["--ormix"]:
            ormix, rest = rest[1], rest[2:]
        if not shutil.which("openmpt123"):
            print("openmpt123 is not installed (Debian package openmpt123): nothing to compare with")
            return 1 if check and os.environ.get("CI") == "true" else 77
        return compare(ormix, rest, check)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

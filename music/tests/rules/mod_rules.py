#!/usr/bin/python3
"""Tiny MOD files, one playback rule each, and their figures against openmpt123.

usage: mod_rules.py write DIR                 writes one RULE.mod per rule into DIR
       mod_rules.py compare [--ormix PATH] [RULE ...]
                                              renders every rule with ours, xmp and
                                              openmpt123 and prints the lengths (seconds)
                                              and both figures of ours and of xmp against
                                              openmpt123's render, and the peak and RMS
                                              level of ours against openmpt123's (dB)

The figures are those of scripts/music_bench.py: the correlation of the loudness
envelopes (50 ms windows) and the mean cosine of the band spectra. The files written
by `write` are the fixtures of music/tests/mod_rules_test.cpp, which holds each rule's
expected length and notes.
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

# Amiga periods of octaves 1..3 (finetune 0), C-1 first.
PERIODS = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
           428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
           214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]
NAMES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]


def period(name):
    """'C-2' -> 428."""
    return PERIODS[NAMES.index(name[:2]) + 12 * (int(name[2]) - 1)]


class Sample:
    """Sample data as signed bytes; lengths and loops in bytes (even), written in words."""

    def __init__(self, data, loop=None, volume=64, finetune=0, name=b"", words=None, loop_words=None):
        self.data, self.loop, self.volume, self.finetune, self.name = data, loop, volume, finetune, name
        self.words = words            # length field override (words)
        self.loop_words = loop_words  # (start, length) field override (words)

    def header(self):
        words = self.words if self.words is not None else len(self.data) // 2
        if self.loop_words is not None:
            ls, ll = self.loop_words
        elif self.loop:
            ls, ll = self.loop[0] // 2, self.loop[1] // 2
        else:
            ls, ll = 0, 1
        return struct.pack(">22sHBBHH", self.name, words, self.finetune & 15, self.volume, ls, ll)

    def body(self):
        return bytes(v & 0xFF for v in self.data)


def square(cycle=32, cycles=2, level=100):
    return [level if (i % cycle) < cycle // 2 else -level for i in range(cycle * cycles)]


def looped(**kw):
    data = square()
    return Sample(data, loop=(0, len(data)), **kw)


def decaying(frames=4000, cycle=32, **kw):
    """An unlooped square wave that fades out: a restart is audible."""
    return Sample([int((100 if (i % cycle) < cycle // 2 else -100) * (1 - i / frames)) for i in range(frames)], **kw)


def cell(c):
    """(note name or period or None, sample, effect, parameter) -> 4 bytes."""
    if c is None:
        return b"\0\0\0\0"
    c = list(c) + [0] * (4 - len(c))
    p = period(c[0]) if isinstance(c[0], str) else (c[0] or 0)
    s, fx, fxv = c[1] or 0, c[2] or 0, c[3] or 0
    return bytes([(s & 0xF0) | (p >> 8), p & 0xFF, ((s & 15) << 4) | fx, fxv])


def pattern_bytes(events, channels):
    """events: {line: cell} (first channel) or {line: [cells]}."""
    out = bytearray()
    for line in range(64):
        e = events.get(line)
        cells = e if isinstance(e, list) else [e]
        cells = cells + [None] * (channels - len(cells))
        for c in cells[:channels]:
            out += cell(c)
    return bytes(out)


def mod(patterns, samples, orders=None, tag=b"M.K.", channels=4, restart=None, length=None):
    """patterns: lists of {line: cells}; samples: up to 31 (15 for the old layout)."""
    orders = orders if orders is not None else list(range(len(patterns)))
    old = tag is None
    if restart is None:
        restart = 0x78 if old else 127  # the 15-sample layout's standard tempo byte
    count = 15 if old else 31
    heads = [s.header() for s in samples] + [struct.pack(">22sHBBHH", b"", 0, 0, 0, 0, 1)] * (count - len(samples))
    out = b"rule".ljust(20, b"\0") + b"".join(heads)
    out += bytes([length if length is not None else len(orders), restart]) + bytes(orders).ljust(128, b"\0")
    if not old:
        out += tag
    stored = max(orders) + 1 if orders else 0
    for p in range(stored):
        events = patterns[p] if p < len(patterns) else {}
        out += pattern_bytes(events, channels)
    return out + b"".join(s.body() for s in samples)


def _flt8(patterns, samples, orders):
    """An FLT8 song: each pattern is stored as two 4-channel patterns (channels 1-4, then
    5-8) and the order list names the first of each pair."""
    heads = [s.header() for s in samples] + [struct.pack(">22sHBBHH", b"", 0, 0, 0, 0, 1)] * (31 - len(samples))
    out = b"rule".ljust(20, b"\0") + b"".join(heads)
    out += bytes([len(orders), 127]) + bytes(o * 2 for o in orders).ljust(128, b"\0") + b"FLT8"
    for p in range(max(orders) + 1):
        events = patterns[p]
        left = {k: (v if isinstance(v, list) else [v])[:4] for k, v in events.items()}
        right = {k: (v if isinstance(v, list) else [v])[4:] for k, v in events.items()}
        out += pattern_bytes(left, 4) + pattern_bytes(right, 4)
    return out + b"".join(s.body() for s in samples)


def _tracks(positions, tracks, samples, tag=b"MTN\0"):
    """The track layout: each song position names four stored one-channel tracks;
    the song length and the track count at 950, the positions from 952, the tag at 1464."""
    heads = [s.header() for s in samples] + [struct.pack(">22sHBBHH", b"", 0, 0, 0, 0, 1)] * (31 - len(samples))
    out = b"rule".ljust(20, b"\0") + b"".join(heads)
    out += bytes([len(positions), len(tracks)]) + b"".join(bytes(p) for p in positions).ljust(512, b"\0") + tag
    out += b"".join(pattern_bytes(t, 1) for t in tracks)
    return out + b"".join(s.body() for s in samples)


# ----------------------------------------------------------------------------------------
# The rules

def rules():
    """name -> file bytes."""
    one = [looped()]
    two = [looped(), decaying()]
    C2, E2, G2, C3 = "C-2", "E-2", "G-2", "C-3"
    r = {}

    # Song flow. A pattern holds 64 lines of 6 ticks at tempo 125: 7.68 s.
    # A jump and a break on one line: the jump's order; the break's line when the break
    # comes after the jump in channel order, line 0 when it comes before.
    r["jump_then_break"] = mod([{0: [(C2, 1), (None, 0, 0xB, 2), (None, 0, 0xD, 0x32)]},
                                {0: (E2, 1)}, {0: (G2, 1), 40: (C3, 1)}], one)
    r["break_then_jump"] = mod([{0: [(C2, 1), (None, 0, 0xD, 0x16), (None, 0, 0xB, 2)]},
                                {0: (E2, 1)}, {0: (G2, 1), 40: (C3, 1)}], one)
    # A break to a line past the pattern's end goes to line 0.
    r["break_past_end"] = mod([{0: (C2, 1), 8: (None, 0, 0xD, 0x70)}, {0: (E2, 1)}], one)
    # Two breaks on one line: the last channel's line counts.
    r["two_breaks"] = mod([{0: [(C2, 1), (None, 0, 0xD, 0x10), (None, 0, 0xD, 0x30)]}, {0: (E2, 1), 40: (G2, 1)}],
                          one)
    # A jump back to an order already played ends the song there.
    r["jump_back"] = mod([{0: (C2, 1)}, {0: (E2, 1), 32: (None, 0, 0xB, 0)}], one)
    # A jump to an order past the song's end.
    r["jump_past_end"] = mod([{0: (C2, 1), 16: (None, 0, 0xB, 9)}, {0: (E2, 1)}], one)
    # A break on the last order ends the song (or wraps) at once.
    r["break_last_order"] = mod([{0: (C2, 1)}, {0: (E2, 1), 16: (None, 0, 0xD, 0)}], one)
    # Pattern loop: E60 marks, E62 repeats twice.
    r["loop_basic"] = mod([{0: (C2, 1), 8: (None, 0, 0xE, 0x60), 9: (E2, 1), 15: (None, 0, 0xE, 0x62),
                            16: (G2, 1), 31: (None, 0, 0xD, 0)}], one)
    # Loop with a break on the same line as the E6x.
    r["loop_with_break"] = mod([{0: (C2, 1), 4: (None, 0, 0xE, 0x60), 5: (E2, 1),
                                 8: [(None, 0, 0xE, 0x62), (None, 0, 0xD, 0x20)]}, {0: (G2, 1)}], one)
    # Loop with a jump on the same line as the E6x.
    r["loop_with_jump"] = mod([{0: (C2, 1), 4: (None, 0, 0xE, 0x60), 5: (E2, 1),
                                8: [(None, 0, 0xE, 0x62), (None, 0, 0xB, 2)]}, {0: (G2, 1)}, {0: (C3, 1)}], one)
    # A break inside a loop body.
    r["loop_break_inside"] = mod([{0: (C2, 1), 4: (None, 0, 0xE, 0x60), 5: (E2, 1), 6: [None, (None, 0, 0xD, 0)],
                                   8: (None, 0, 0xE, 0x62)}, {0: (G2, 1)}], one)
    # Loops in two channels at once.
    r["loop_two_channels"] = mod([{0: [(C2, 1), (None, 0, 0xE, 0x60)], 4: [(E2, 1), None, (None, 0, 0xE, 0x60)],
                                   8: [(G2, 1), (None, 0, 0xE, 0x61), (None, 0, 0xE, 0x62)], 9: (C3, 1),
                                   12: (None, 0, 0xD, 0)}], one)
    # The loop start is kept across patterns (no E60 in the second one).
    r["loop_start_next_pattern"] = mod([{0: (C2, 1), 10: (None, 0, 0xE, 0x60), 12: (None, 0, 0xD, 0x04)},
                                        {0: (E2, 1), 8: (G2, 1), 12: (None, 0, 0xE, 0x61), 16: (None, 0, 0xD, 0)},
                                        {0: (C3, 1)}], one)
    # A loop whose end line comes back after the loop ran out (a second round of it).
    r["loop_again"] = mod([{0: (C2, 1), 4: (E2, 1), 6: (None, 0, 0xE, 0x61), 7: (G2, 1), 8: (None, 0, 0xE, 0x60),
                            10: (None, 0, 0xE, 0x61), 12: (None, 0, 0xD, 0)}], one)
    # A pattern delay with a break on its line.
    r["delay_with_break"] = mod([{0: (C2, 1), 4: [(None, 0, 0xE, 0xE4), (None, 0, 0xD, 0x05)]},
                                 {0: (E2, 1), 5: (G2, 1), 6: (C3, 1), 7: (E2, 1), 12: (None, 0, 0xD, 0)}], one)
    # A pattern delay on the line of a loop end.
    r["delay_with_loop"] = mod([{0: (C2, 1), 2: (None, 0, 0xE, 0x60), 3: (E2, 1),
                                 4: [(None, 0, 0xE, 0x62), (None, 0, 0xE, 0xE2)], 5: (None, 0, 0xD, 0)}], one)
    # The same with one repeat: each of the delayed line's three passes counts the loop,
    # and a pass that went back sends play back even though the last one ran it out.
    r["delay_with_loop_back"] = mod([{0: (C2, 1), 2: (None, 0, 0xE, 0x60), 3: (E2, 1),
                                      4: [(None, 0, 0xE, 0x61), (None, 0, 0xE, 0xE2)], 8: (None, 0, 0xD, 0)}], one)
    # Other trackers than Protracker: a jump takes the line of a break after it, and a
    # delayed line counts its loop once ("M!K!" files take the first rule only).
    r["jump_then_break_4chn"] = mod([{0: [(C2, 1), (None, 0, 0xB, 2), (None, 0, 0xD, 0x32)]},
                                     {0: (E2, 1)}, {0: (G2, 1), 40: (C3, 1)}], one, tag=b"4CHN")
    r["jump_then_break_mkk"] = mod([{0: [(C2, 1), (None, 0, 0xB, 2), (None, 0, 0xD, 0x32)]},
                                    {0: (E2, 1)}, {0: (G2, 1), 40: (C3, 1)}], one, tag=b"M!K!")
    r["delay_with_loop_4chn"] = mod([{0: (C2, 1), 2: (None, 0, 0xE, 0x60), 3: (E2, 1),
                                      4: [(None, 0, 0xE, 0x62), (None, 0, 0xE, 0xE2)], 5: (None, 0, 0xD, 0)}], one,
                                    tag=b"4CHN")
    r["delay_with_loop_mkk"] = mod([{0: (C2, 1), 2: (None, 0, 0xE, 0x60), 3: (E2, 1),
                                     4: [(None, 0, 0xE, 0x62), (None, 0, 0xE, 0xE2)], 5: (None, 0, 0xD, 0)}], one,
                                   tag=b"M!K!")
    # Startrekker: no pattern loop; Fxx is the speed, at most 31 (F40 too).
    r["flt4_flow"] = mod([{0: (C2, 1), 8: (None, 0, 0xE, 0x60), 9: (E2, 1),
                           15: [(None, 0, 0xE, 0x62), (None, 0, 0xF, 0x40)], 16: (G2, 1), 31: (None, 0, 0xD, 0)}],
                         one, tag=b"FLT4")
    # His Master's Noise: a break always goes to line 0.
    r["two_breaks_noise"] = mod([{0: [(C2, 1), (None, 0, 0xD, 0x10), (None, 0, 0xD, 0x30)]},
                                 {0: (E2, 1), 40: (G2, 1)}], one, tag=b"FEST")
    r["tdz4"] = mod([{0: [(C2, 1), (E2, 1), (G2, 1), (C3, 1)], 16: (None, 0, 0xD, 0)}], one, tag=b"TDZ4")
    # Soundtracker (15 samples): no loops, a break to line 0, Fxx the speed's low digit.
    r["st15_flow"] = mod([{0: (C2, 1), 2: (None, 0, 0xE, 0x60), 4: [(None, 0, 0xE, 0x61), (None, 0, 0xF, 0x23)],
                           8: (None, 0, 0xD, 0x10)}, {0: (E2, 2), 4: (None, 0, 0xD, 0)}], two, tag=None)
    # Speed 0 (F00).
    r["speed_zero"] = mod([{0: (C2, 1), 8: (None, 0, 0xF, 0)}, {0: (E2, 1)}], one)
    # Speed and tempo on one line, in two channels.
    r["speed_and_tempo"] = mod([{0: [(C2, 1), (None, 0, 0xF, 3), (None, 0, 0xF, 200)], 32: (None, 0, 0xF, 0x20)}],
                               one)
    # The song length byte past the order table's used entries.
    r["length_long"] = mod([{0: (C2, 1)}, {0: (E2, 1)}], one, orders=[0, 1], length=3)
    # The restart byte.
    r["restart_position"] = mod([{0: (C2, 1)}, {0: (E2, 1)}], one, restart=1)

    # Variants.
    eight = {0: [(C2, 1), (E2, 2), (G2, 1), (C3, 2), (C2, 2), (E2, 1), (G2, 2), (C3, 1)],
             16: [None] * 7 + [(None, 0, 0xD, 0)]}
    r["chn8"] = mod([eight], two, tag=b"8CHN", channels=8)
    r["cd81"] = mod([eight], two, tag=b"CD81", channels=8)
    r["flt8"] = _flt8([eight, {0: [(C3, 1)] + [None] * 7, 20: [None] * 4 + [(None, 0, 0xD, 0)]}], two, [0, 1])
    r["chn6"] = mod([{0: [(C2, 1), None, None, None, None, (G2, 2)], 24: [None, (None, 0, 0xD, 0)]}], two,
                    tag=b"6CHN", channels=6)
    # The track layout (two taggings): position 1 plays the tracks of position 0 in
    # other channels; a break in track 3 ends each position at line 16.
    ice_tracks = [{0: (C2, 1)}, {0: (E2, 2), 8: (G2, 2)}, {4: (C3, 1)}, {16: (None, 0, 0xD, 0)}]
    r["ice"] = _tracks([[0, 1, 2, 3], [1, 0, 3, 2]], ice_tracks, two)
    r["ice_it10"] = _tracks([[0, 1, 2, 3], [2, 3, 1, 0]], ice_tracks, two, tag=b"IT10")
    # Soundtracker 15-sample files.
    st = [{0: (C2, 1), 8: (E2, 2), 16: (G2, 1), 24: (None, 0, 0xD, 0)}]
    r["st15"] = mod(st, two, tag=None)
    r["st15_odd_names"] = mod(st, [looped(name=b"st-01:\x82\xe9 bass\x01"), decaying(name=b"\xff\xfeSNARE")],
                              tag=None)
    r["st15_odd_volume"] = mod(st, [looped(volume=80), decaying(volume=255)], tag=None)
    # A short looped wave whose loop start was written in bytes: read in words it lies
    # past the sample, and the note would stop after one pass.
    r["st15_loop_bytes"] = mod(st, [Sample(square(), loop_words=(32, 16)), decaying()], tag=None)
    r["st15_tempo_byte"] = mod(st, two, tag=None, restart=0x40)

    # Samples: loops that reach past the data, tiny loops, finetune, silent headers.
    r["loop_past_end"] = mod([{0: (C2, 1), 16: (E2, 2), 32: (None, 0, 0xD, 0)}],
                             [Sample(square(cycles=4), loop_words=(32, 64)),
                              Sample(square(cycles=4), loop_words=(80, 32))])
    r["loop_one_word"] = mod([{0: (C2, 1), 16: (E2, 2), 32: (None, 0, 0xD, 0)}],
                             [Sample(square(cycles=4), loop_words=(0, 1)), Sample(square(cycles=4), loop_words=(16, 1))])
    r["finetune"] = mod([{0: (C2, 1), 8: (C2, 2), 16: (C2, 3), 24: (None, 0, 0xD, 0)}],
                        [looped(), looped(finetune=7), looped(finetune=-8)])
    r["length_past_data"] = mod([{0: (C2, 1), 16: (E2, 2), 32: (None, 0, 0xD, 0)}],
                                [looped(), Sample(square(cycles=4), words=3000, loop_words=(0, 3000))])
    r["volume_over_64"] = mod([{0: (C2, 1), 16: (E2, 2), 32: (None, 0, 0xD, 0)}],
                              [looped(volume=64), looped(volume=0x7F)])

    # Protracker effects, each on a fading or a looped wave so that what it does shows
    # in the loudness and the spectrum.
    fade = [decaying(30000), decaying(8000), decaying(8000, cycle=20)]
    E = 0xE
    r["retrig"] = mod([{0: (C2, 2, E, 0x93), 8: (None, 0, E, 0x92), 16: (E2, 2, E, 0x90), 24: (None, 0, 0xD, 0)}],
                      fade)
    r["note_delay"] = mod([{0: (C2, 2), 8: (E2, 2, E, 0xD3), 16: (G2, 2, E, 0xD8), 24: (None, 3, E, 0xD2),
                            32: (None, 0, 0xD, 0)}], fade)
    r["note_cut"] = mod([{0: (C2, 1, E, 0xC2), 8: (E2, 1, E, 0xC0), 16: (G2, 1), 17: (None, 0, E, 0xC4),
                          24: (None, 0, 0xD, 0)}], fade)
    r["instrument_alone"] = mod([{0: (C2, 1, 0xC, 0x20), 8: (None, 1), 16: (None, 3), 24: (C2, 2), 28: (None, 1),
                                  36: (None, 0, 0xD, 0)}], fade)
    r["offset"] = mod([{0: (C2, 2, 9, 0x08), 8: (C2, 2, 9, 0), 16: (C2, 2, 9, 0x40), 24: (E2, 2), 25: (None, 0, 9, 0x10),
                        32: (None, 0, 0xD, 0)}], fade)
    r["arpeggio"] = mod([{0: (C2, 1, 0, 0x47), 1: (None, 0, 0, 0x47), 2: (None, 0, 0, 0x37), 3: (None, 0, 0xF, 5),
                          4: (None, 0, 0, 0x0C), 5: (None, 0, 0, 0x0C), 6: (None, 0, 0, 0xC0), 12: (None, 0, 0xD, 0)}],
                        fade)
    r["vibrato_waves"] = mod([{0: (C2, 1, 4, 0x48), 4: (None, 0, E, 0x41), 5: (C2, 1, 4, 0x48), 10: (None, 0, E, 0x42),
                               11: (C2, 1, 4, 0x8C), 16: (None, 0, E, 0x44), 17: (C2, 1, 4, 0x48), 20: (C2, 1, 4, 0),
                               24: (None, 0, 0xD, 0)}], fade)
    r["tremolo_waves"] = mod([{0: (C2, 1, 7, 0x48), 4: (None, 0, E, 0x71), 5: (C2, 1, 7, 0x48), 10: (None, 0, E, 0x72),
                               11: (C2, 1, 7, 0x8C), 16: (None, 0, E, 0x74), 17: (C2, 1, 7, 0x48), 20: (C2, 1, 7, 0),
                               24: (None, 0, 0xD, 0)}], fade)
    r["finetune_set"] = mod([{0: (C2, 1, E, 0x57), 4: (C2, 1), 8: (C2, 1, E, 0x58), 12: (None, 0, E, 0x53),
                              16: (None, 0, 0xD, 0)}], fade)
    r["fine_slides"] = mod([{0: (C2, 1, E, 0x1F), 1: (None, 0, E, 0x1F), 2: (None, 0, E, 0x10), 4: (None, 0, E, 0x28),
                             5: (None, 0, E, 0x20), 8: (C2, 1, E, 0xB8), 9: (None, 0, E, 0xB0), 10: (None, 0, E, 0xA4),
                             16: (None, 0, 0xD, 0)}], fade)
    r["volume_slides"] = mod([{0: (C2, 1, 0xA, 0x42), 4: (None, 0, 0xA, 0x04), 8: (None, 0, 0xA, 0x00),
                               12: (None, 0, 0xA, 0x20), 16: (None, 0, 0xC, 0x40), 17: (None, 0, 0xA, 0x0F),
                               24: (None, 0, 0xD, 0)}], fade)
    r["period_limits"] = mod([{0: ("C-3", 1, 1, 0x20), 8: ("C-1", 1, 2, 0x40), 16: (C2, 1, 1, 0xFF),
                               24: (None, 0, 0xD, 0)}], fade)
    r["tone_porta"] = mod([{0: (C2, 1), 2: ("C-3", 0, 3, 0x08), 8: ("C-1", 0, 3, 0), 14: (E2, 1, 3, 0x20),
                            16: (G2, 1, 5, 0x02), 24: (None, 0, 0xD, 0)}], fade)
    r["speed_boundary"] = mod([{0: (C2, 2, 0xF, 0x1F), 1: (E2, 2), 2: (G2, 2, 0xF, 0x20), 8: (C2, 2), 16: (None, 0, 0xD, 0)}],
                              fade)
    r["glissando"] = mod([{0: (C2, 1, E, 0x31), 1: ("C-3", 0, 3, 0x04), 12: (None, 0, E, 0x30),
                           13: (C2, 0, 3, 0x04), 24: (None, 0, 0xD, 0)}], fade)
    r["invert_loop"] = mod([{0: (C2, 1, E, 0xF8), 16: (None, 0, 0xD, 0)}], one)
    r["loop_two_words"] = mod([{0: (C2, 1), 16: (None, 0, 0xD, 0)}],
                              [Sample(square(cycles=8), loop_words=(64, 2)), decaying()])
    r["finetune_porta"] = mod([{0: (C2, 1), 4: ("C-3", 0, 3, 0x10), 12: (E2, 2), 14: (C2, 0, 3, 0x10),
                                24: (None, 0, 0xD, 0)}], [looped(finetune=5), decaying(8000, finetune=-3)])

    # Loudness: one, two and four channels at full volume, panned as the format does.
    full = [looped(), Sample([127 if (i % 32) < 16 else -128 for i in range(64)], loop=(0, 64))]
    r["level_one"] = mod([{0: (C2, 2), 16: (None, 0, 0xD, 0)}], full)
    r["level_two"] = mod([{0: [(C2, 2), (E2, 2)], 16: (None, 0, 0xD, 0)}], full)
    r["level_four"] = mod([{0: [(C2, 2), (E2, 2), (G2, 2), (C3, 2)], 16: (None, 0, 0xD, 0)}], full)
    r["level_eight"] = mod([{0: [None, (C2, 2)], 16: (None, 0, 0xD, 0)}], full, tag=b"8CHN", channels=8)
    r["pan_center"] = mod([{0: (C2, 2, 8, 0x80), 16: (None, 0, 0xD, 0)}], full)
    # What 8xx means follows the values a song gives it: all below 0x30 are no pans;
    # all below 0x90 (some below 0x80) cover 0..0x80; else 0..0xFF. E8x covers 0..15.
    r["pan_ignored"] = mod([{0: [None, (C2, 2, 8, 0x20)], 16: (None, 0, 0xD, 0)}], full)
    r["pan_half_range"] = mod([{0: (C2, 2, 8, 0x60), 8: [None, None, None, (None, 0, 8, 0x10)],
                                16: (None, 0, 0xD, 0)}], full)
    r["pan_full_range"] = mod([{0: (C2, 2, 8, 0x60), 12: [None, None, None, (None, 0, 8, 0xFF)],
                                16: (None, 0, 0xD, 0)}], full)
    r["pan_fine"] = mod([{0: (C2, 2, 0xE, 0x84), 16: (None, 0, 0xD, 0)}], full)
    return r


# ----------------------------------------------------------------------------------------
# Comparing

def render(cmd, path):
    with open(path, "wb") as out:
        subprocess.run(cmd, stdout=out, stderr=subprocess.DEVNULL, check=False, timeout=120)


def levels(path, np):
    a = np.fromfile(path, dtype="<i2").astype(np.float64) / 32768.0
    if len(a) == 0:
        return float("nan"), float("nan"), 0.0
    peak = np.abs(a).max()
    rms = np.sqrt((a * a).mean())
    clip = (np.abs(a) >= 32767 / 32768.0).mean()
    db = lambda v: 20 * np.log10(v) if v > 0 else -200.0
    return db(peak), db(rms), clip


def compare(ormix, names):
    import numpy as np
    import music_bench  # the same figures as the benchmark's
    tmp = tempfile.mkdtemp(prefix="mod_rules.")
    try:
        all_rules = rules()
        print("%-24s %20s %15s %15s %13s" % ("rule", "seconds ours/xmp/ref", "env ours/xmp", "bands ours/xmp",
                                             "dB peak/rms"))
        for name in names or sorted(all_rules):
            song = os.path.join(tmp, name + ".mod")
            with open(song, "wb") as f:
                f.write(all_rules[name])
            ref, ours, xmp = (os.path.join(tmp, name + k) for k in (".ref", ".ours", ".xmp"))
            render(["openmpt123", "-q", "--batch", "--stdout", "--samplerate", str(RATE), "--channels", "2",
                    "--no-float", "--dither", "0", "--subsong", "0", song], ref)
            render([ormix, "music", "render", song, "-"], ours)
            render(["xmp", "-q", "-c", "-i", "linear", "-f", str(RATE), song], xmp)
            secs = [os.path.getsize(p) / 4.0 / RATE for p in (ours, xmp, ref)]
            e_o, c_o = music_bench.figures(ours, ref)
            e_x, c_x = music_bench.figures(xmp, ref)
            po, ro, _ = levels(ours, np)
            pr, rr, _ = levels(ref, np)
            print("%-24s %6.2f/%6.2f/%6.2f %7.3f/%-7.3f %7.3f/%-7.3f %+6.1f/%+6.1f" %
                  (name, secs[0], secs[1], secs[2], e_o, e_x, c_o, c_x, po - pr, ro - rr))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


def main(argv):
    if argv[:1] == ["write"] and len(argv) == 2:
        os.makedirs(argv[1], exist_ok=True)
        for name, data in rules().items():
            with open(os.path.join(argv[1], name + ".mod"), "wb") as f:
                f.write(data)
        return 0
    if argv[:1] == ["compare"]:
        ormix = os.path.join(HERE, "..", "..", "..", "build", "bin", "ormix")
        rest = argv[1:]
        if rest[:1] == ["--ormix"]:
            ormix, rest = rest[1], rest[2:]
        for tool in ("openmpt123", "xmp"):
            if not shutil.which(tool):
                print("%s is not installed (Debian package %s): nothing to compare with" % (tool, tool))
                return 77
        return compare(ormix, rest)
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

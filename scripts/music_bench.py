#!/usr/bin/python3
"""Tracker playback against the reference players, song by song.

usage: scripts/music_bench.py [--ormix PATH] [--classic] [--runs N] [SONG ...]
       scripts/music_bench.py --compare OURS.raw REF.raw

Renders each song (default: every file in ../shared/corpus/music) at 44100 Hz with
`ormix music render`, `xmp` and `openmpt123`, and prints per song the two figures of
ours against openmpt123's render and of xmp's against the same render:
  env  correlation of the loudness envelopes (log RMS of 50 ms windows, mono)
  bands mean cosine of 32 log-spaced band spectra of the same windows (loud windows)
and the whole-process render time of ours and of xmp (best of N runs, default 3).
The last line gives the median time ratio and the songs whose figures fall more than
0.01 below xmp's. --compare prints the two figures of two raw renders.
Needs numpy (Debian's python3-numpy); xmp and openmpt123 from Debian.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

RATE = 44100
W = 2205  # 50 ms windows


def load(path):
    a = np.fromfile(path, dtype="<i2").astype(np.float64)
    return a[: len(a) // 2 * 2].reshape(-1, 2).mean(axis=1) / 32768.0


def band_spectra(frames):
    magnitude = np.abs(np.fft.rfft(frames * np.hanning(W), axis=1))
    edges = np.unique(np.geomspace(2, magnitude.shape[1] - 1, 33).astype(int))
    return np.stack([magnitude[:, a:b].sum(axis=1) for a, b in zip(edges[:-1], edges[1:])], axis=1)


def figures(ours_path, ref_path):
    """(envelope correlation, band-spectrum cosine) of two renders, cut to the shorter."""
    a, b = load(ours_path), load(ref_path)
    n = min(len(a), len(b)) // W
    if n < 4:
        return float("nan"), float("nan")
    a, b = a[: n * W].reshape(n, W), b[: n * W].reshape(n, W)
    la = np.log10(np.sqrt((a * a).mean(axis=1)) + 1e-4)
    lb = np.log10(np.sqrt((b * b).mean(axis=1)) + 1e-4)
    env = np.corrcoef(la, lb)[0, 1] if la.std() > 0 and lb.std() > 0 else float("nan")
    sa, sb = band_spectra(a), band_spectra(b)
    loud = np.sqrt((b * b).mean(axis=1)) > 1e-3
    cos = (sa * sb).sum(axis=1) / (np.linalg.norm(sa, axis=1) * np.linalg.norm(sb, axis=1) + 1e-12)
    return env, (cos[loud].mean() if loud.any() else float("nan"))


def timed(cmd, out_path, runs):
    """Best whole-process time in ms of `cmd` writing raw PCM to stdout (kept in out_path)."""
    best = None
    for _ in range(runs):
        with open(out_path, "wb") as out:
            t = time.perf_counter()
            subprocess.run(cmd, stdout=out, stderr=subprocess.DEVNULL, check=True)
            ms = (time.perf_counter() - t) * 1000.0
        best = ms if best is None else min(best, ms)
    return best


def main(argv):
    if argv[:1] == ["--compare"] and len(argv) == 3:
        env, cos = figures(argv[1], argv[2])
        print("envelope_corr %.4f spectral_cos %.4f" % (env, cos))
        return 0
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ormix = os.path.join(root, "build", "bin", "ormix")
    runs, classic, songs = 3, False, []
    i = 0
    while i < len(argv):
        if argv[i] == "--ormix":
            ormix, i = argv[i + 1], i + 2
        elif argv[i] == "--runs":
            runs, i = int(argv[i + 1]), i + 2
        elif argv[i] == "--classic":
            classic, i = True, i + 1
        else:
            songs.append(argv[i])
            i += 1
    if not songs:
        corpus = os.path.join(root, "..", "shared", "corpus", "music")
        if not os.path.isdir(corpus):
            print("corpus not found at %s: give songs on the command line" % corpus)
            return 0
        songs = sorted(os.path.join(corpus, f) for f in os.listdir(corpus))
    for tool in ("xmp", "openmpt123"):
        if not shutil.which(tool):
            print("%s is not installed (Debian package %s): nothing to compare with" % (tool, tool))
            return 0
    tmp = tempfile.mkdtemp(prefix="music_bench.")
    print("%-26s %15s %15s %17s" % ("song", "env ours/xmp", "bands ours/xmp", "time ms ours/xmp"))
    ratios, below = [], []
    try:
        for song in songs:
            name = os.path.basename(song)
            ref, ours, xmp = (os.path.join(tmp, k + ".raw") for k in ("ref", "ours", "xmp"))
            with open(ref, "wb") as out:
                subprocess.run(["openmpt123", "-q", "--batch", "--stdout", "--samplerate", str(RATE),
                                "--channels", "2", "--no-float", "--dither", "0", song],
                               stdout=out, stderr=subprocess.DEVNULL, check=True)
            cmd = [ormix, "music", "render", song, "-"] + (["--classic"] if classic else [])
            t_ours = timed(cmd, ours, runs)
            t_xmp = timed(["xmp", "-q", "-c", "-i", "linear", "-f", str(RATE), song], xmp, runs)
            e_o, c_o = figures(ours, ref)
            e_x, c_x = figures(xmp, ref)
            ratios.append(t_ours / t_xmp)
            if e_o < e_x - 0.01 or c_o < c_x - 0.01:
                below.append(name)
            print("%-26s %7.3f/%-7.3f %7.3f/%-7.3f %8.0f/%-8.0f" % (name, e_o, e_x, c_o, c_x, t_ours, t_xmp))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("median time ours/xmp %.2f; figures more than 0.01 below xmp: %s" %
          (float(np.median(ratios)), ", ".join(below) if below else "none"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

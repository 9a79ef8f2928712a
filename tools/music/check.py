#!/usr/bin/python3
"""Checks the finished .ogg the way the card will use it.

  * container/codec: Vorbis, 44100 Hz, stereo, 2-3 minutes, under 3 MB;
  * decoded audio: no clipping, peak under full scale;
  * no gap: no stretch of near-silence longer than 1 s inside the piece;
  * loop seam: first and last frames near zero, little silence across the join,
    no jump bigger than the music's own sample-to-sample steps;
  * melody: at every tune note of verse 1 (and, for information, the other
    sections) the newly sounding pitch is the note of the tune.

The expected tune is written out here independently of score.py, as note
names, so a slip in either one shows up as a mismatch.  Only the onset times
come from the score's timeline.

Usage: check.py FILE.ogg TIMELINE.json      (exit status 1 on any failure)
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import wave

import numpy as np

RATE = 44100
SILENCE_DBFS = -60.0
WIN_S = 0.05

# "Silent night" in C major, verse melody, one entry per sung note.
TUNE = """
G4 A4 G4 E4 | G4 A4 G4 E4 | D5 D5 B4 | C5 C5 G4 |
A4 A4 C5 B4 A4 | G4 A4 G4 E4 | A4 A4 C5 B4 A4 | G4 A4 G4 E4 |
D5 D5 F5 D5 B4 | C5 E5 | C5 G4 E4 G4 F4 D4 | C4
"""
NAMES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def midi(name):
    return 12 * (int(name[1:]) + 1) + NAMES[name[0]]


def note_name(m):
    return "C C# D D# E F F# G G# A A# B".split()[m % 12] + str(m // 12 - 1)


EXPECTED = [midi(n) for n in TUNE.split() if n != "|"]

failures = []


def check(ok, what):
    print("  [%s] %s" % ("ok" if ok else "FAIL", what))
    if not ok:
        failures.append(what)


def stream_info(path):
    out = subprocess.run(["ogginfo", path], capture_output=True, text=True).stdout
    info = {"vorbis": "type vorbis" in out}
    m = re.search(r"^Channels: (\d+)", out, re.M)
    info["channels"] = int(m.group(1)) if m else 0
    m = re.search(r"^Rate: (\d+)", out, re.M)
    info["rate"] = int(m.group(1)) if m else 0
    m = re.search(r"Playback length: (\d+)m:([\d.]+)s", out)
    info["seconds"] = int(m.group(1)) * 60 + float(m.group(2)) if m else 0.0
    return info


def decode(path):
    with tempfile.TemporaryDirectory() as d:
        wav = os.path.join(d, "decoded.wav")
        subprocess.run(["oggdec", "-Q", "-o", wav, path], check=True)
        with wave.open(wav) as w:
            assert w.getsampwidth() == 2
            frames = w.readframes(w.getnframes())
            ch = w.getnchannels()
    return np.frombuffer(frames, dtype="<i2").reshape(-1, ch).astype(np.float64) / 32768.0


def rms_db(x, win):
    mono = x.mean(axis=1)
    n = len(mono) // win
    r = np.sqrt((mono[: n * win].reshape(n, win) ** 2).mean(axis=1) + 1e-20)
    return 20 * np.log10(r)


def longest_run(mask):
    best = cur = 0
    for v in mask:
        cur = cur + 1 if v else 0
        best = max(best, cur)
    return best


def spectrum(mono, a, b, nfft=1 << 15):
    seg = mono[max(0, a):b]
    return np.abs(np.fft.rfft(seg * np.hanning(len(seg)), nfft)), RATE / nfft


def onset_strength(mono, hop=256, n=1024):
    """Spectral flux on a log-magnitude spectrogram; returns (times, flux)."""
    frames = np.lib.stride_tricks.sliding_window_view(mono, n)[::hop]
    mag = np.log1p(100.0 * np.abs(np.fft.rfft(frames * np.hanning(n), axis=1)))
    flux = np.maximum(np.diff(mag, axis=0), 0.0).sum(axis=1)
    times = (np.arange(len(flux)) + 1) * hop / RATE + 0.5 * n / RATE
    return times, flux


def snap(times, flux, t, before=0.15, after=0.10):
    """The strongest onset the audio shows near the score's time t.  The
    synthesizer's tempo handling drifts by up to ~0.1 s over the piece, and the
    humanised onsets move a few ms either way."""
    near = (times > t - before) & (times < t + after)
    return float(times[np.argmax(np.where(near, flux, -1.0))])


def new_pitch(mono, t, t_next, lo, hi):
    """The dominant newly sounding pitch in [lo, hi] at onset t: the candidate
    whose fundamental gained the most energy.  The spectrum just before the
    onset is subtracted (partly: held notes decay meanwhile), so notes held
    under the pedal do not count."""
    a = int((t + 0.03) * RATE)
    length = int(min(0.25, max(0.08, t_next - t - 0.04)) * RATE)
    after, df = spectrum(mono, a, a + length)
    before, _ = spectrum(mono, a - int(0.03 * RATE) - length, a - int(0.03 * RATE))
    fresh = np.maximum(after - 0.7 * before, 0.0)
    best, best_energy = None, -1.0
    for m in range(lo, hi + 1):
        k = 440.0 * 2 ** ((m - 69) / 12.0) / df
        width = max(2, int(k * 0.015))       # about a quarter tone
        i = int(round(k))
        energy = fresh[max(0, i - width): i + width + 1].max()
        if energy > best_energy:
            best, best_energy = m, energy
    return best


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check.py FILE.ogg TIMELINE.json")
    path, tl_path = sys.argv[1], sys.argv[2]
    with open(tl_path) as f:
        timeline = json.load(f)

    print("format")
    size = os.path.getsize(path)
    info = stream_info(path)
    check(info["vorbis"], "Ogg Vorbis stream")
    check(info["rate"] == RATE, "sample rate %d Hz" % info["rate"])
    check(info["channels"] == 2, "%d channels" % info["channels"])
    check(120.0 <= info["seconds"] <= 180.0, "duration %.2f s (2-3 min)" % info["seconds"])
    check(size < 3 * 1024 * 1024, "size %d bytes (< 3 MB)" % size)

    x = decode(path)
    mono = x.mean(axis=1)
    print("level")
    peak = np.abs(x).max()
    peak_db = 20 * np.log10(peak)
    clipped = int((np.abs(x) >= 32767 / 32768.0).sum())
    check(peak_db < -0.1 and clipped == 0,
          "peak %.2f dBFS, %d samples at full scale" % (peak_db, clipped))

    print("gaps")
    win = int(WIN_S * RATE)
    env = rms_db(x, win)
    quiet = env < SILENCE_DBFS
    loud = np.nonzero(~quiet)[0]
    lead = int(loud[0]) * WIN_S
    trail = (len(env) - 1 - int(loud[-1])) * WIN_S
    inner = longest_run(quiet[loud[0]: loud[-1] + 1]) * WIN_S
    check(inner <= 1.0, "longest silence inside the piece %.2f s (RMS over %d ms windows "
          "under %.0f dBFS)" % (inner, WIN_S * 1000, SILENCE_DBFS))

    print("loop seam")
    first, last = x[0], x[-1]
    jump = np.abs(last - first).max()
    steps = np.abs(np.diff(x, axis=0))
    typical = np.median(steps)
    check(np.abs(first).max() < 1e-3 and np.abs(last).max() < 1e-3,
          "first frame %s, last frame %s" % (np.round(first, 5).tolist(), np.round(last, 5).tolist()))
    check(jump <= typical,
          "jump across the seam %.5f vs median step inside the music %.5f" % (jump, typical))
    check(lead + trail <= 0.5,
          "silence at the seam %.2f s (%.2f s at the end + %.2f s at the start)"
          % (lead + trail, trail, lead))
    seam_ms = 0.25
    tail_db = 20 * np.log10(np.sqrt((mono[-int(seam_ms * RATE):] ** 2).mean()) + 1e-12)
    head_db = 20 * np.log10(np.sqrt((mono[: int(seam_ms * RATE)] ** 2).mean()) + 1e-12)
    print("  [info] RMS of the last %.2f s %.1f dBFS, of the first %.2f s %.1f dBFS"
          % (seam_ms, tail_db, seam_ms, head_db))

    print("melody")
    times, flux = onset_strength(mono)
    sections = {}
    for n in timeline["melody"]:
        sections.setdefault(n["section"], []).append(n)
    verse1 = sections.get("verse1", [])
    check(len(verse1) == len(EXPECTED),
          "verse 1 has %d tune notes, the tune has %d" % (len(verse1), len(EXPECTED)))
    for name, notes in sections.items():
        if name.startswith("verse"):
            shift = notes[0]["pitch"] - EXPECTED[0]
            expected = [m + shift for m in EXPECTED]
        else:   # intro and interlude quote the closing phrase
            shift = notes[-1]["pitch"] - EXPECTED[-1]
            expected = [m + shift for m in EXPECTED[-len(notes):]]
        hits, misses, offsets = 0, [], []
        onsets = [snap(times, flux, n["t"]) for n in notes]
        # The left hand stays at or below B3, so search the right hand's range.
        lo, hi = max(60, min(expected) - 5), max(expected) + 5
        for i, n in enumerate(notes):
            t = onsets[i]
            t_next = onsets[i + 1] if i + 1 < len(notes) else t + 1.0
            offsets.append(t - n["t"])
            heard = new_pitch(mono, t, t_next, lo, hi)
            if heard == expected[i]:
                hits += 1
            else:
                misses.append("bar %d note %d: heard %s, expected %s"
                              % (n["bar"], n["index"] + 1, note_name(heard), note_name(expected[i])))
        line = ("%s: %d of %d tune notes heard at the expected pitch "
                "(onsets found %+.0f ms from the score on median)"
                % (name, hits, len(notes), 1000 * float(np.median(offsets))))
        if name == "verse1":
            check(hits == len(notes), line)
        else:
            print("  [info] " + line)
        for m in misses:
            print("         " + m)

    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()

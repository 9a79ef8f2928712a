#!/usr/bin/python3
"""Turns FluidSynth's raw render into the loop-ready master.

The card plays the track in an endless loop, so both ends must meet at zero:
  * leading silence is trimmed and the first few milliseconds faded in, so the
    very first frame is 0;
  * the final chord is left to ring for a few seconds, the last of them faded
    out along a quarter sine that ends at exactly 0;
  * the whole is scaled so the peak sits at -1 dBFS, leaving room for the
    Vorbis encoder's overshoot.

Usage: finish.py IN.raw(float32 LE stereo) TIMELINE.json OUT.wav
"""

import json
import sys
import wave

import numpy as np

RATE = 44100
PEAK_DBFS = -1.0
FADE_IN_S = 0.004
RING_S = 5.0           # the last chord has fallen some 25 dB by then
FADE_OUT_S = 1.6


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: finish.py IN.raw TIMELINE.json OUT.wav")
    raw = np.fromfile(sys.argv[1], dtype="<f4").reshape(-1, 2)
    with open(sys.argv[2]) as f:
        timeline = json.load(f)

    # Start: skip any leading zeros the renderer left before the first note.
    audible = np.nonzero(np.abs(raw).max(axis=1) > 1e-5)[0]
    if len(audible) == 0:
        sys.exit("finish: render is silent")
    start = max(0, int(audible[0]) - int(0.002 * RATE))

    # End: the final chord rings for RING_S, the last FADE_OUT_S of it faded.
    chord = int(timeline["final_chord_s"] * RATE)
    end = min(len(raw), chord + int(RING_S * RATE))

    y = raw[start:end].astype(np.float64)

    # Fade-in: a few milliseconds of raised cosine, so frame 0 is exactly 0.
    n_in = int(FADE_IN_S * RATE)
    fade_in = 0.5 - 0.5 * np.cos(np.linspace(0.0, np.pi, n_in))
    y[:n_in] *= fade_in[:, None]
    # Fade-out: a quarter sine, ending at exactly 0.  It keeps the decaying
    # chord audible almost to the end, so the loop does not sit in silence.
    n_out = int(FADE_OUT_S * RATE)
    fade_out = np.sin(np.linspace(0.5 * np.pi, 0.0, n_out))
    y[-n_out:] *= fade_out[:, None]

    peak = np.abs(y).max()
    y *= (10 ** (PEAK_DBFS / 20.0)) / peak
    pcm = np.round(y * 32767.0).astype("<i2")

    with wave.open(sys.argv[3], "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm.tobytes())
    print("finish: trimmed %.3f s at the start, length %.2f s, gain %+.1f dB"
          % (start / RATE, len(pcm) / RATE, 20 * np.log10((10 ** (PEAK_DBFS / 20)) / peak)))


if __name__ == "__main__":
    main()

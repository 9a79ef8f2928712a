#!/usr/bin/python3
"""Writes our piano arrangement of "Silent night" (Franz Gruber, 1818) as a
Standard MIDI File, plus a small JSON timeline of the melody notes that the
post-processing and the output checks use.

Form (6/8, C major, dotted-quarter around 42 per minute):
    intro      2 bars of left-hand arpeggio, then the closing phrase
               ("sleep in heavenly peace") an octave up
    verse 1    melody as written, broken chords below
    verse 2    fuller: a second voice under the melody, octave bass
    interlude  closing phrase echoed an octave up
    verse 3    melody an octave higher over the plain accompaniment, quiet,
               ritardando at the end
    coda       plagal IV - I, final chord rolled and left to ring

The performance is humanised deterministically: a fixed seed drives small
onset and velocity jitter and a gently breathing tempo map; dynamics follow
the two-bar phrases and the arc of each verse.

Usage: score.py OUT.mid OUT_timeline.json
"""

import json
import math
import random
import struct
import sys

SEED = 1818
PPQ = 480                 # ticks per quarter note
EIGHTH = PPQ // 2         # the counting unit of 6/8
BAR = 6 * EIGHTH
BASE_BPM = 42.0           # dotted quarters per minute

# MIDI note numbers of the pitches used below.
C2, D2, E2, F2, G2, A2, B2 = 36, 38, 40, 41, 43, 45, 47
C3, D3, E3, F3, G3, A3, B3 = 48, 50, 52, 53, 55, 57, 59
C4, D4, E4, F4, G4, A4, B4 = 60, 62, 64, 65, 67, 69, 71
C5, D5, E5, F5, G5, A5, B5 = 72, 74, 76, 77, 79, 81, 83
C6 = 84

# The tune, one list per bar, (pitch, length in eighths).  12 bars.
_A = [(G4, 1.5), (A4, 0.5), (G4, 1), (E4, 3)]               # "Si-lent night"
_B = [(A4, 2), (A4, 1), (C5, 1.5), (B4, 0.5), (A4, 1)]     # "Round yon vir-gin"
MELODY = [
    _A,                                                     # Silent night
    _A,                                                     # Holy night
    [(D5, 2), (D5, 1), (B4, 3)],                            # All is calm
    [(C5, 2), (C5, 1), (G4, 3)],                            # all is bright
    _B,                                                     # Round yon virgin
    _A,                                                     # mother and child
    _B,                                                     # Holy infant so
    _A,                                                     # tender and mild
    [(D5, 2), (D5, 1), (F5, 1.5), (D5, 0.5), (B4, 1)],      # Sleep in heavenly
    [(C5, 3), (E5, 3)],                                     # peace
    [(C5, 1.5), (G4, 0.5), (E4, 1), (G4, 1.5), (F4, 0.5), (D4, 1)],  # Sleep in heavenly
    [(C4, 6)],                                              # peace
]

# Harmony per bar: list of (start eighth, length in eighths, chord name).
_WHOLE = {"C": [(0, 6, "C")], "F": [(0, 6, "F")], "G7": [(0, 6, "G7")]}
HARMONY = [
    _WHOLE["C"], _WHOLE["C"], _WHOLE["G7"], _WHOLE["C"],
    _WHOLE["F"], _WHOLE["C"], _WHOLE["F"], _WHOLE["C"],
    _WHOLE["G7"], _WHOLE["C"], [(0, 3, "C"), (3, 3, "G7")], _WHOLE["C"],
]

# Left-hand chord shapes: bass, fifth, octave (or seventh), tenth.
# Kept at or below B3 so they never share a key with the melody.
LH_SHAPE = {
    "C": (C2, G2, C3, E3),
    "F": (F2, C3, F3, A3),
    "G7": (G2, D3, F3, B3),
}
CHORD_TONES = {"C": (0, 4, 7), "F": (5, 9, 0), "G7": (7, 11, 2, 5)}

# Broken-chord figures, indices into the shape, one per eighth.
FIG_SIX = (0, 1, 2, 3, 2, 1)
FIG_THREE = (0, 1, 3)
FIG_FULL = (0, 1, 3, 2, 3, 1)   # under an octave bass: fifth, tenth, octave


class Note:
    __slots__ = ("start", "end", "pitch", "vel", "hand")

    def __init__(self, start, end, pitch, vel, hand):
        self.start, self.end, self.pitch, self.vel, self.hand = start, end, pitch, vel, hand


class Arrangement:
    def __init__(self, seed=SEED):
        self.rng = random.Random(seed)
        self.notes = []          # Note, ticks
        self.pedal = []          # (tick, value)
        self.tempo_factor = {}   # eighth index -> stretch factor (>1 = slower)
        self.melody_marks = []   # (tick, pitch, section, bar, index) of tune notes
        self.bar = 0             # next free bar

    # -- helpers ----------------------------------------------------------

    def jitter(self, sigma=3.0, limit=8):
        return int(round(max(-limit, min(limit, self.rng.gauss(0.0, sigma)))))

    def vel(self, v, sigma=3.0):
        v = v + self.rng.gauss(0.0, sigma)
        return int(max(12, min(118, round(v))))

    def add(self, start, length, pitch, vel, hand):
        start = max(0, start)
        self.notes.append(Note(start, start + length, pitch, vel, hand))

    def stretch(self, bar, eighth_from, eighth_to, f0, f1):
        """Slow the tempo from factor f0 to f1 across the given eighths of a bar."""
        n = eighth_to - eighth_from
        for i in range(n):
            k = bar * 6 + eighth_from + i
            f = f0 + (f1 - f0) * (i / max(1, n - 1))
            self.tempo_factor[k] = max(self.tempo_factor.get(k, 1.0), f)

    def pedal_change(self, tick, first=False):
        # Legato pedalling: lift just after the new harmony sounds, catch it again.
        if not first:
            self.pedal.append((tick + 10, 0))
        self.pedal.append((tick + 60, 127))

    # -- left hand --------------------------------------------------------

    def left_hand(self, bar, tune_bar, level, style="plain"):
        """Broken chords for one bar.  level: loudness around which we move."""
        for start, length, chord in HARMONY[tune_bar]:
            shape = LH_SHAPE[chord]
            if length != 6:
                fig = FIG_THREE
            else:
                fig = FIG_FULL if style == "full" else FIG_SIX
            t0 = bar * BAR + start * EIGHTH
            self.pedal_change(t0, first=(bar == 0 and start == 0))
            for i, idx in enumerate(fig):
                t = t0 + i * EIGHTH
                # Downbeats a little heavier, the figure's turn a little lighter.
                accent = 5 if i == 0 else (2 if i == 3 else -2)
                pitch = shape[idx]
                if style == "full" and i == 0:
                    # Octave bass on the downbeat.
                    self.add(t + self.jitter(), EIGHTH * len(fig), pitch + 12, self.vel(level - 4), "lh")
                hold = EIGHTH * (len(fig) - i)   # fingers hold; pedal does the rest
                self.add(t + self.jitter(), hold, pitch, self.vel(level + accent), "lh")

    # -- right hand -------------------------------------------------------

    def melody_bar(self, bar, tune_bar, level, shift=0, second_voice=False,
                   section="", arc=None):
        t = bar * BAR
        pos = 0.0
        notes = MELODY[tune_bar]
        for i, (pitch, length) in enumerate(notes):
            ticks = int(round(length * EIGHTH))
            onset = t + int(round(pos * EIGHTH))
            # Phrase shape: swell across each two-bar sub-phrase.
            phrase_pos = ((tune_bar % 2) * 6 + pos + length / 2) / 12.0
            swell = 9.0 * math.sin(math.pi * phrase_pos)
            shape = arc(tune_bar) if arc else 0.0
            v = level + swell + shape
            if length < 1:
                v -= 6            # passing sixteenths stay light
            elif length >= 3:
                v += 2
            # The melody sits a hair ahead of the accompaniment.
            on = max(0, onset - 3 + self.jitter())
            self.add(on, ticks + 12, pitch + shift, self.vel(v), "rh")
            self.melody_marks.append((onset, pitch + shift, section, tune_bar, i))
            if second_voice and length >= 1:
                below = self.voice_below(pitch + shift, self.chord_at(tune_bar, pos))
                if below is not None:
                    self.add(on + self.jitter(2, 4), ticks, below, self.vel(v - 26), "rh")
            pos += length

    @staticmethod
    def chord_at(tune_bar, pos):
        for start, length, chord in HARMONY[tune_bar]:
            if start <= pos < start + length:
                return chord
        return HARMONY[tune_bar][-1][2]

    @staticmethod
    def voice_below(pitch, chord):
        """Highest chord tone a third to a sixth under the melody, kept above
        the left hand's range."""
        for step in range(3, 10):
            p = pitch - step
            if p % 12 in CHORD_TONES[chord] and p >= C4:
                return p
        return None

    # -- form -------------------------------------------------------------

    def intro(self):
        # Two bars of accompaniment alone, growing out of silence.
        for k in range(2):
            self.left_hand(self.bar, 0, 30 + 6 * k)
            self.bar += 1
        # The closing phrase as a soft bell an octave up.
        for tune_bar in (10, 11):
            self.left_hand(self.bar, tune_bar, 34)
            self.melody_bar(self.bar, tune_bar, 48, shift=12, section="intro")
            self.bar += 1
        self.stretch(self.bar - 1, 3, 6, 1.06, 1.15)

    def verse(self, number):
        first = self.bar
        if number == 1:
            level, lh_level, shift, style, second = 62, 38, 0, "plain", False
        elif number == 2:
            level, lh_level, shift, style, second = 72, 45, 0, "full", True
        else:
            level, lh_level, shift, style, second = 58, 32, 12, "plain", False

        def arc(tune_bar):
            # Verse arc: rise towards "Sleep in heavenly peace", then settle.
            return (0, 1, 3, 2, 3, 2, 5, 4, 9, 8, 2, -3)[tune_bar]

        for tune_bar in range(12):
            bar = first + tune_bar
            self.left_hand(bar, tune_bar, lh_level + arc(tune_bar) * 0.6, style=style)
            self.melody_bar(bar, tune_bar, level, shift=shift, second_voice=second,
                            section="verse%d" % number, arc=arc)
            # Breathe at the end of each four-bar phrase.
            if tune_bar in (3, 7):
                self.stretch(bar, 4, 6, 1.04, 1.10)
        self.bar = first + 12
        if number < 3:
            self.stretch(self.bar - 1, 3, 6, 1.05, 1.14)
        else:
            # Final verse: ritardando over the last phrase.
            self.stretch(first + 8, 0, 6, 1.02, 1.06)
            self.stretch(first + 9, 0, 6, 1.07, 1.12)
            self.stretch(first + 10, 0, 6, 1.14, 1.24)
            self.stretch(first + 11, 0, 6, 1.26, 1.34)

    def interlude(self):
        for tune_bar in (10, 11):
            self.left_hand(self.bar, tune_bar, 36)
            self.melody_bar(self.bar, tune_bar, 50, shift=12, section="interlude")
            self.bar += 1
        self.stretch(self.bar - 1, 3, 6, 1.06, 1.16)

    def coda(self):
        # IV: left hand broken F chord, right hand F/A/C settling on C/E/G.
        bar = self.bar
        t = bar * BAR
        self.pedal_change(t)
        for i, idx in enumerate(FIG_SIX):
            p = LH_SHAPE["F"][idx]
            self.add(t + i * EIGHTH + self.jitter(), EIGHTH * (6 - i), p, self.vel(36), "lh")
        for p in (F4, A4, C5):
            self.add(t + self.jitter(), EIGHTH * 3, p, self.vel(42), "rh")
        for p in (E4, G4, C5):
            self.add(t + 3 * EIGHTH + self.jitter(), EIGHTH * 3 + 20, p, self.vel(38), "rh")
        self.stretch(bar, 0, 6, 1.38, 1.55)
        # I: rolled from the bottom, held under the pedal and left to die away.
        bar += 1
        t = bar * BAR
        self.pedal_change(t)
        roll = (C2, G2, E3, C4, G4, C5, E5, G5)
        for i, p in enumerate(roll):
            v = 40 - 1.2 * i if p < C5 else 36
            self.add(t + i * 28 + self.jitter(2, 4), BAR * 3, p, self.vel(v, 2), "rh" if p >= C4 else "lh")
        self.stretch(bar, 0, 6, 1.6, 1.8)
        self.bar = bar + 1
        self.final_chord_tick = t

    def build(self):
        self.intro()
        self.verse(1)
        self.verse(2)
        self.interlude()
        self.verse(3)
        self.coda()
        # Breathing tempo: a per-eighth wobble of about one percent.
        for k in range(self.bar * 6 + 18):
            f = self.tempo_factor.get(k, 1.0)
            self.tempo_factor[k] = f * (1.0 + max(-0.02, min(0.02, self.rng.gauss(0, 0.008))))
        self.fix_overlaps()
        return self

    def fix_overlaps(self):
        """A key can't be struck while it is still held: end every note just
        before the next strike of the same pitch (both hands share a channel)."""
        by_pitch = {}
        for n in self.notes:
            by_pitch.setdefault(n.pitch, []).append(n)
        for notes in by_pitch.values():
            notes.sort(key=lambda n: n.start)
            for a, b in zip(notes, notes[1:]):
                if a.end >= b.start:
                    a.end = max(a.start + 10, b.start - 2)
                if a.end >= b.start:       # two strikes closer than 12 ticks
                    b.start = a.end + 1
                    b.end = max(b.end, b.start + 10)

    # -- time -------------------------------------------------------------

    def tempo_us_per_quarter(self, k):
        eighth_s = 60.0 / (BASE_BPM * 3.0) * self.tempo_factor.get(k, 1.0)
        return int(round(eighth_s * 2 * 1e6))

    def tick_to_seconds(self, tick):
        k, rem = divmod(tick, EIGHTH)
        s = 0.0
        for i in range(k):
            s += self.tempo_us_per_quarter(i) / 1e6 / 2
        return s + self.tempo_us_per_quarter(k) / 1e6 / 2 * rem / EIGHTH


# -- Standard MIDI File writer ------------------------------------------------

def varlen(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def track_chunk(events):
    """events: list of (tick, order, bytes).  order breaks ties at one tick."""
    events.sort(key=lambda e: (e[0], e[1]))
    data = bytearray()
    last = 0
    for tick, _, msg in events:
        data += varlen(tick - last) + msg
        last = tick
    data += varlen(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def meta(kind, payload):
    return bytes([0xFF, kind]) + varlen(len(payload)) + payload


def write_midi(arr, path, tail_ticks):
    ch = 0
    conductor = [
        (0, 0, meta(0x03, b"Silent night")),
        (0, 0, meta(0x58, bytes([6, 3, 24, 8]))),      # 6/8
        (0, 0, meta(0x59, bytes([0, 0]))),             # C major
    ]
    for k in range(arr.bar * 6 + tail_ticks // EIGHTH + 1):
        conductor.append((k * EIGHTH, 1, meta(0x51, struct.pack(">I", arr.tempo_us_per_quarter(k))[1:])))
    end_tick = arr.bar * BAR + tail_ticks
    conductor.append((end_tick, 9, meta(0x01, b"end")))

    setup = [
        (0, 0, bytes([0xC0 | ch, 0])),                 # acoustic grand piano
        (0, 0, bytes([0xB0 | ch, 7, 100])),            # volume
        (0, 0, bytes([0xB0 | ch, 10, 64])),            # pan centre
        (0, 0, bytes([0xB0 | ch, 91, 52])),            # reverb send
        (0, 0, bytes([0xB0 | ch, 93, 0])),             # no chorus
    ]
    tracks = {"rh": [(0, 0, meta(0x03, b"Right hand"))] + setup,
              "lh": [(0, 0, meta(0x03, b"Left hand"))]}
    for n in arr.notes:
        tracks[n.hand].append((n.start, 3, bytes([0x90 | ch, n.pitch, n.vel])))
        tracks[n.hand].append((n.end, 1, bytes([0x80 | ch, n.pitch, 64])))
    for tick, value in arr.pedal:
        tracks["lh"].append((tick, 2, bytes([0xB0 | ch, 64, value])))
    tracks["lh"].append((end_tick, 2, bytes([0xB0 | ch, 64, 0])))

    chunks = [track_chunk(conductor), track_chunk(tracks["rh"]), track_chunk(tracks["lh"])]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(chunks), PPQ)
    with open(path, "wb") as f:
        f.write(header + b"".join(chunks))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: score.py OUT.mid OUT_timeline.json")
    arr = Arrangement().build()
    tail_ticks = BAR * 2          # let the last chord ring; trimmed afterwards
    write_midi(arr, sys.argv[1], tail_ticks)
    timeline = {
        "final_chord_s": arr.tick_to_seconds(arr.final_chord_tick),
        "end_s": arr.tick_to_seconds(arr.bar * BAR + tail_ticks),
        "melody": [
            {"t": round(arr.tick_to_seconds(tick), 4), "pitch": pitch,
             "section": section, "bar": bar + 1, "index": i}
            for tick, pitch, section, bar, i in arr.melody_marks
        ],
    }
    with open(sys.argv[2], "w") as f:
        json.dump(timeline, f, indent=1)
    print("score: %d notes, %d bars, %.1f s to the final chord"
          % (len(arr.notes), arr.bar, timeline["final_chord_s"]))


if __name__ == "__main__":
    main()

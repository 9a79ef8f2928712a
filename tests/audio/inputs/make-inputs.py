#!/usr/bin/env python3
"""Writes the hostile sample files of this folder and expected.txt.

Each file is one case the sample loaders must survive: a chunk that claims
more than the file holds, a cut header, a channel count no format has, an
Ogg page cut short. HostileInputTest replays every file of the folder
through ReadAudioSample and checks what expected.txt says:

    null        ReadAudioSample gives Null
    sample N    ReadAudioSample gives a sample of N frames
    sane        either: Null, or a sample no larger than the file can carry

A file that has no line (a crash a fuzzer found, dropped in as it is) is
held to "sane". The Ogg cases start from the card's music
(app/assets/Palewind-Silent night (piano).ogg): its header pages and first
audio pages, cut or changed. Run from anywhere; the files are written
beside this script.

    python3 tests/audio/inputs/make-inputs.py
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))

cases = []  # (name, expectation, why)


def case(name, data, expect, why):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    cases.append((name, expect, why))


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


# --- WAV ---------------------------------------------------------------------


def fmt(tag=1, channels=1, rate=8000, bits=16, size=16):
    block = channels * bits // 8
    body = u16(tag) + u16(channels) + u32(rate) + u32(rate * block) + u16(block) + u16(bits)
    return b"fmt " + u32(size) + body + b"\0" * max(0, size - 16)


def wav(fmt_chunk=None, chunks=None, data=b"\1\0\2\0\3\0\4\0", data_size=None):
    if fmt_chunk is None:
        fmt_chunk = fmt()
    if chunks is None:
        chunks = b"data" + u32(len(data) if data_size is None else data_size) + data
    body = b"WAVE" + fmt_chunk + chunks
    return b"RIFF" + u32(len(body)) + body


case("ok-4-frames.wav", wav(), "sample 4", "mono 16-bit PCM: the replay reaches the decoder")
case("truncated-riff.wav", b"RIFF\x10\0", "null", "the file ends inside the RIFF header")
case("not-wave.wav", b"RIFF" + u32(4) + b"AVI ", "null", "a RIFF file of another form")
case("cut-fmt-chunk.wav", wav()[:12 + 8 + 6], "null", "the file ends inside the fmt chunk")
case("chunk-before-fmt.wav", b"RIFF" + u32(40) + b"WAVE" + b"LIST" + u32(4) + b"INFO" + fmt()[:24],
     "null", "a chunk between WAVE and fmt")
case("float-format.wav", wav(fmt(tag=3, bits=32)), "null", "format tag 3 (float)")
case("bad-channel-count.wav", wav(fmt(channels=3)), "null", "three channels")
case("zero-channels.wav", wav(fmt(channels=0)), "null", "no channels")
case("bad-bits.wav", wav(fmt(bits=24)), "null", "24-bit samples")
case("huge-fmt-size.wav", wav(fmt(size=16)[:4] + u32(0xFFFFFFFF) + fmt()[8:]), "null",
     "a fmt chunk that claims 4 GB")
case("huge-data-chunk.wav", wav(data_size=0x7FFFFFF0), "null",
     "a data chunk of 2 GB in a file of fifty bytes")
case("data-size-over-2g.wav", wav(data_size=0xFFFFFFF0), "null",
     "a data chunk size beyond 2^31 - 1")
case("huge-skipped-chunk.wav", wav(chunks=b"junk" + u32(0x7FFFFFF0) + b"\0" * 8), "null",
     "a chunk before data that claims 2 GB")
case("no-data-chunk.wav", wav(chunks=b"junk" + u32(4) + b"\0" * 4), "null", "no data chunk")
case("cut-data.wav", wav(data=b"\0" * 50, data_size=100), "null",
     "a data chunk of 100 bytes with 50 present")
case("odd-data-size.wav", wav(data=b"\1\0\2\0\3", data_size=5), "sample 2",
     "a trailing partial frame is not read")
case("zero-rate.wav", wav(fmt(rate=0)), "sane", "a rate of 0")

# --- Ogg ---------------------------------------------------------------------


def crc_table():
    table = []
    for i in range(256):
        r = i << 24
        for _ in range(8):
            r = ((r << 1) ^ 0x04C11DB7) if r & 0x80000000 else r << 1
        table.append(r & 0xFFFFFFFF)
    return table


CRC = crc_table()


def ogg_crc(data):
    r = 0
    for b in data:
        r = ((r << 8) & 0xFFFFFFFF) ^ CRC[((r >> 24) & 0xFF) ^ b]
    return r


def pages(data):
    """The pages of an Ogg file as (header fields, segment table, body)."""
    out = []
    i = 0
    while i + 27 <= len(data) and data[i:i + 4] == b"OggS":
        count = data[i + 26]
        segments = data[i + 27:i + 27 + count]
        start = i + 27 + count
        out.append((bytearray(data[i:i + 27]), bytes(segments), bytes(data[start:start + sum(segments)])))
        i = start + sum(segments)
    return out


def page_bytes(page, fix_crc=True):
    head, segments, body = page
    head = bytearray(head)
    if fix_crc:
        head[22:26] = b"\0\0\0\0"
        head[22:26] = u32(ogg_crc(bytes(head) + segments + body))
    return bytes(head) + segments + body


with open(os.path.join(ROOT, "app", "assets", "Palewind-Silent night (piano).ogg"), "rb") as f:
    MUSIC = pages(f.read(16384))
# Page 0: identification header; page 1: comment and setup headers; then audio.
HEADERS = MUSIC[:2]
AUDIO = MUSIC[2:3]


def ogg(page_list):
    return b"".join(page_bytes(p) for p in page_list)


def with_id_header(change):
    head, segments, body = HEADERS[0]
    body = bytearray(body)
    change(body)
    return [(head, segments, bytes(body))] + HEADERS[1:]


def with_granule(page, granule):
    head, segments, body = page
    head = bytearray(head)
    head[6:14] = struct.pack("<q", granule)
    return (head, segments, body)


def set_channels(n):
    def change(body):
        body[11] = n
    return change


def set_blocksizes(value):
    def change(body):
        body[28] = value
    return change


def set_rate(rate):
    def change(body):
        body[12:16] = u32(rate)
    return change


full = ogg(HEADERS + AUDIO)
case("ok-first-page.ogg", full, "sample 14272", "the headers and one audio page: the replay reaches the decoder")
case("cut-first-page.ogg", full[:40], "null", "the file ends inside the first page")
case("capture-only.ogg", b"OggS" + bytes(range(60)), "null", "a capture pattern and then noise")
case("cut-header-pages.ogg", full[:2000], "null", "the file ends inside the setup header")
case("headers-only.ogg", ogg(HEADERS), "sample 0", "the three headers and no audio")
case("cut-audio-page.ogg", full[:len(ogg(HEADERS)) + 1500], "sample 0",
     "the first audio page cut short: no frames")
case("three-channels.ogg", ogg(with_id_header(set_channels(3)) + AUDIO), "null",
     "three channels: no sample format holds them")
case("zero-channels.ogg", ogg(with_id_header(set_channels(0)) + AUDIO), "null", "no channels")
case("zero-rate.ogg", ogg(with_id_header(set_rate(0)) + AUDIO), "null", "a rate of 0")
case("bad-blocksizes.ogg", ogg(with_id_header(set_blocksizes(0xFF)) + AUDIO), "null",
     "block sizes of 2^15, above what Vorbis allows")
case("huge-granule.ogg", ogg(HEADERS + [with_granule(AUDIO[0], 1 << 62)]), "sample 14272",
     "the last page claims 2^62 frames: only what decodes is kept")
case("bad-page-crc.ogg", page_bytes(HEADERS[0], fix_crc=False)[:22] + b"\xde\xad\xbe\xef"
     + page_bytes(HEADERS[0])[26:] + ogg(HEADERS[1:] + AUDIO), "null",
     "the first page's checksum does not match")

with open(os.path.join(HERE, "expected.txt"), "w") as f:
    f.write("# Written by make-inputs.py: file, what ReadAudioSample must give, and why.\n")
    f.write("# null | sample N (frames) | sane (Null, or a sample the file can carry).\n")
    f.write("# A file without a line is held to \"sane\".\n")
    for name, expect, why in cases:
        f.write(f"{name}\t{expect}\t{why}\n")

#!/usr/bin/env python3
"""Writes the hostile picture files of this folder and expected.txt.

Each file is one case the picture loaders must survive: a header that
claims too much, an offset or a run that leaves the picture, a file cut
short. HostileInputTest replays every file of the folder through
LoadPixmap and checks what expected.txt says:

    null         LoadPixmap gives Null
    pixmap WxH   LoadPixmap gives a W x H pixmap
    sane         either: Null, or a pixmap whose size the file can carry

A file that has no line (a crash a fuzzer found, dropped in as it is) is
held to "sane". The JPEG cases start from the card's picture
(app/assets/image.jpg): its tables and scan header, with the frame header
changed. Run from anywhere; the files are written beside this script.

    python3 tests/pixmap/loaders/inputs/make-inputs.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", "..", ".."))

cases = []  # (name, expectation, why)


def case(name, data, expect, why):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    cases.append((name, expect, why))


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


# --- BMP ---------------------------------------------------------------------


def bmp(width=2, height=2, bits=24, compression=0, colours=0, info_size=40,
        offset=None, extra=b"", palette=b"", pixels=None):
    """File header, a 40-byte info header (grown to info_size), `extra`
    (masks), the palette, then the pixel data at `offset`."""
    info = struct.pack("<IiiHHIIiiiI", info_size, width, height, 1, bits,
                       compression, 0, 2835, 2835, colours, 0)
    info += b"\0" * max(0, info_size - 40)
    head_len = 14 + len(info) + len(extra) + len(palette)
    if offset is None:
        offset = head_len
    if pixels is None:
        row = (width * bits + 31) // 32 * 4
        pixels = b"\x40" * (row * abs(height))
    file_size = head_len + len(pixels)
    return b"BM" + u32(file_size) + u32(0) + u32(offset) + info + extra + palette + pixels


def grey_palette(n):
    return b"".join(bytes([i & 0xFF, i & 0xFF, i & 0xFF, 0]) for i in range(n))


case("ok-2x2.bmp", bmp(), "pixmap 2x2", "a plain 24-bit file: the replay reaches the decoder")
case("truncated-header.bmp", bmp()[:20], "null", "the file ends inside the info header")
case("small-info-header.bmp", bmp(info_size=12), "null", "an info header below 40 bytes")
case("huge-info-header.bmp", bmp()[:14] + u32(0x10000) + bmp()[18:], "null",
     "an info header size far above any real one")
case("bad-bit-count.bmp", bmp(bits=16), "null", "16 bits a pixel is not decoded")
case("zero-width.bmp", bmp(width=0, pixels=b""), "null", "a width of 0")
case("negative-width.bmp", bmp(width=-4, pixels=b"\0" * 32), "null", "a negative width")
case("over-side-limit.bmp", bmp(width=16385, height=1, pixels=b""), "null",
     "a side above 16384")
case("too-many-pixels.bmp", bmp(width=16384, height=16384, bits=1, pixels=b""), "null",
     "2^28 pixels, above the 2^26 limit")
case("stored-bomb.bmp", bmp(width=8192, height=8192, bits=32, pixels=b"\0" * 64), "null",
     "256 MB of stored rows claimed by a file of a hundred bytes")
case("palette-overflow.bmp", bmp(bits=8, colours=257, palette=grey_palette(257)), "null",
     "more palette entries than 8 bits can index")
case("negative-colours.bmp", bmp(bits=8, colours=-1), "null", "a negative colour count")
case("rle8-with-24-bits.bmp", bmp(compression=1), "null", "RLE8 on a 24-bit picture")
case("top-down-rle.bmp", bmp(height=-2, bits=8, compression=1, colours=2, palette=grey_palette(2),
                             pixels=b"\x02\x01\0\0\x02\x01\0\1"), "null",
     "run-length data with a negative (top first) height")
case("bitfields-not-whole-bytes.bmp",
     bmp(bits=32, compression=3, extra=u32(0x7C00) + u32(0x03E0) + u32(0x001F)), "null",
     "bit-field masks that are not whole bytes")
case("bitfields-same-byte.bmp",
     bmp(bits=32, compression=3, extra=u32(0xFF0000) + u32(0xFF0000) + u32(0xFF)), "null",
     "two bit-field masks that select the same byte")
case("bitfields-24-bits.bmp", bmp(compression=3, extra=u32(0xFF0000) + u32(0xFF00) + u32(0xFF)),
     "null", "bit fields on a 24-bit picture")
case("unknown-compression.bmp", bmp(compression=4), "null", "an embedded-JPEG compression code")
case("offset-past-end.bmp", bmp(offset=0x10000), "null", "a pixel data offset beyond the file")
case("offset-near-4g.bmp", bmp(offset=0xFFFFFFF0), "null",
     "a pixel data offset whose gap does not fit 32 bits")
case("truncated-rows.bmp", bmp(width=4, height=4)[:54 + 12], "null",
     "one row of four present")
rle_head = dict(width=4, height=2, bits=8, compression=1, colours=2, palette=grey_palette(2))
case("rle-run-overrun.bmp", bmp(pixels=b"\x05\x01\0\1", **rle_head), "null",
     "an RLE8 run of 5 in a row of 4")
case("rle-literal-overrun.bmp", bmp(pixels=b"\x00\x06\1\1\1\1\1\1\0\1", **rle_head), "null",
     "an RLE8 literal of 6 in a row of 4")
case("rle-delta-overrun.bmp", bmp(pixels=b"\x00\x02\x01\x05\0\1", **rle_head), "null",
     "an RLE8 delta below the last row")
case("rle4-run-overrun.bmp", bmp(width=4, height=2, bits=4, compression=2, colours=2,
                                 palette=grey_palette(2), pixels=b"\x09\x11\0\1"), "null",
     "an RLE4 run of 9 in a row of 4")
case("rle-cut.bmp", bmp(pixels=b"\x04\x01\0\0", **rle_head), "null",
     "run-length data that ends before the picture does")
case("rle-bomb.bmp", bmp(width=8192, height=8192, bits=8, compression=1, colours=2,
                         palette=grey_palette(2), pixels=b"\xff\x01" * 16 + b"\0\1"), "null",
     "2^26 pixels claimed from a few run-length packets")

# --- TGA ---------------------------------------------------------------------


def tga(width=2, height=2, psize=24, imgtype=2, idlen=0, cmaptype=0, attbits=0, body=None):
    head = bytes([idlen, cmaptype, imgtype, 0, 0, 0, 0, 0]) + u16(0) + u16(0) + u16(width) + u16(
        height) + bytes([psize, attbits])
    if body is None:
        body = b"\x80" * (width * height * ((psize + 7) // 8))
    return head + b"I" * min(idlen, 4) + body


case("ok-2x2.tga", tga(), "pixmap 2x2", "a plain 24-bit file: the replay reaches the decoder")
case("truncated-header.tga", tga()[:11], "null", "the file ends inside the 18-byte header")
case("colour-map.tga", tga(cmaptype=1), "null", "a colour map is never read")
case("colour-mapped.tga", tga(imgtype=1, psize=8, body=b"\0" * 4), "null",
     "a colour-mapped image (type 1)")
case("bad-pixel-size.tga", tga(psize=8), "null", "8 bits a pixel in a true-colour file")
case("zero-width.tga", tga(width=0, body=b""), "null", "a width of 0")
case("over-side-limit.tga", tga(width=4097, height=1, body=b""), "null", "a side above 4096")
case("id-past-end.tga", tga(idlen=255, body=b""), "null",
     "an identification field longer than the file")
case("stored-bomb.tga", tga(width=4096, height=4096, psize=32, body=b"\0" * 16), "null",
     "64 MB of stored pixels claimed by a file of a few dozen bytes")
case("rle-bomb.tga", tga(width=4096, height=4096, psize=32, imgtype=10,
                         body=b"\xff\0\0\0\0" * 4), "null",
     "64 MB claimed from a few run-length packets")
case("rle-overrun.tga", tga(width=4, height=2, imgtype=10, body=b"\x87\1\2\3" * 2), "null",
     "a run-length packet of 8 in a row of 4")
case("rle-cut.tga", tga(width=4, height=4, imgtype=10, body=b"\x83\1\2\3"), "null",
     "run-length data that ends after the first row")
case("truncated-rows.tga", tga(width=4, height=4, body=b"\0" * 12), "null",
     "one stored row of four present")

# --- PNG ---------------------------------------------------------------------

PNG_SIG = b"\x89PNG\r\n\x1a\n"


def chunk(tag, data, crc=None):
    if crc is None:
        crc = zlib.crc32(tag + data)
    return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", crc & 0xFFFFFFFF)


def ihdr(width, height, depth=8, colour=2, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))


def png(width=2, height=2, depth=8, colour=2, rows=None, extra=b""):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour, 3)
    if rows is None:
        row_bytes = (width * channels * depth + 7) // 8
        rows = b"".join(b"\0" + b"\x60" * row_bytes for _ in range(height))
    return PNG_SIG + ihdr(width, height, depth, colour) + extra + chunk(
        b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def bomb_png(width, height):
    # Rows of zeros deflate to almost nothing; the header alone says how
    # much the decoder would need.
    return PNG_SIG + ihdr(width, height, 8, 6) + chunk(b"IDAT", zlib.compress(b"\0" * 4096)) + chunk(
        b"IEND", b"")


case("ok-2x2.png", png(), "pixmap 2x2", "a plain RGB file: the replay reaches the decoder")
case("truncated-signature.png", PNG_SIG[:5], "null", "the file ends inside the signature")
case("truncated-ihdr.png", png()[:20], "null", "the file ends inside the header chunk")
case("huge-ihdr.png", PNG_SIG + ihdr(0x7FFFFFFF, 0x7FFFFFFF) + chunk(b"IEND", b""), "null",
     "sides of 2^31 - 1")
case("over-side-limit.png", bomb_png(16385, 1), "null", "a side above 16384")
case("too-many-pixels.png", bomb_png(16384, 16384), "null", "2^28 pixels, above the 2^26 limit")
case("deflate-bomb.png", bomb_png(8000, 8000), "null",
     "256 MB of rows from a few bytes of deflate data")
case("zero-width.png", PNG_SIG + ihdr(0, 2) + chunk(b"IEND", b""), "null", "a width of 0")
case("bad-ihdr-crc.png", PNG_SIG + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0), 0)
     + chunk(b"IEND", b""), "null", "a header chunk whose CRC does not match")
case("bad-bit-depth.png", PNG_SIG + ihdr(2, 2, 3, 0) + chunk(b"IEND", b""), "null",
     "a bit depth of 3")
case("bad-colour-type.png", PNG_SIG + ihdr(2, 2, 8, 5) + chunk(b"IEND", b""), "null",
     "colour type 5")
case("huge-chunk-length.png", PNG_SIG + ihdr(2, 2) + struct.pack(">I", 0x7FFFFFF0) + b"IDAT" + b"\0" * 8,
     "null", "a chunk that claims 2 GB")
case("missing-palette.png", png(colour=3), "null", "a palette picture without PLTE")
case("palette-overflow.png", png(depth=1, colour=3, extra=chunk(b"PLTE", b"\x10\x20\x30" * 256)),
     "sane", "256 palette entries for a 1-bit picture")
case("truncated-idat.png", png(width=64, height=64)[:80], "null",
     "the file ends inside the image data")
case("short-rows.png", png(width=8, height=8, rows=b"\0" * 9 * 2), "sane",
     "image data for two rows of eight")
case("bad-filter.png", png(rows=b"\x07\1\2\3\4\5\6" * 2), "null", "row filter type 7")

# --- JPEG --------------------------------------------------------------------


def jpeg_parts():
    """The card's picture split into its segments before the scan (SOF0
    among them), the scan header, and the entropy-coded data."""
    with open(os.path.join(ROOT, "app", "assets", "image.jpg"), "rb") as f:
        data = f.read()
    segments = []
    i = 2
    while True:
        marker = data[i + 1]
        length = data[i + 2] << 8 | data[i + 3]
        segments.append((marker, data[i:i + 2 + length]))
        i += 2 + length
        if marker == 0xDA:
            break
    return segments, data[i:]


SEGMENTS, SCAN = jpeg_parts()


def sof(width, height, components=3):
    spec = b"".join(bytes([c + 1, 0x11, 0 if c == 0 else 1]) for c in range(components))
    body = bytes([8]) + struct.pack(">HH", height, width) + bytes([components]) + spec
    return b"\xff\xc0" + struct.pack(">H", len(body) + 2) + body


def jpeg(frame=None, scan_bytes=4096, eoi=False, drop=()):
    out = b"\xff\xd8"
    for marker, seg in SEGMENTS:
        if marker in drop:
            continue
        out += frame if (marker == 0xC0 and frame is not None) else seg
    out += SCAN[:scan_bytes]
    return out + (b"\xff\xd9" if eoi else b"")


case("truncated-scan.jpg", jpeg(scan_bytes=2048), "pixmap 1024x768",
     "the scan ends early: what is there decodes, the rest stays grey")
case("truncated-header.jpg", jpeg()[:120], "null", "the file ends inside the tables")
case("huge-sof.jpg", jpeg(sof(65500, 65500), 256), "null", "sides of 65500")
case("too-many-pixels.jpg", jpeg(sof(16384, 8192), 256), "null", "2^27 pixels, above the 2^26 limit")
case("jpeg-bomb.jpg", jpeg(sof(8192, 8192), 256, eoi=True), "null",
     "2^26 pixels from a few hundred bytes: more than each 8 x 8 block's bit")
case("zero-height.jpg", jpeg(sof(64, 0), 256), "null", "a height of 0")
case("four-components.jpg", jpeg(sof(64, 64, 4), 256), "null", "four components (CMYK)")
case("sof-length-overrun.jpg", b"\xff\xd8\xff\xc0\xff\xf0" + b"\x08\0\x10", "null",
     "a frame header whose length runs past the end of the file")
case("no-frame-header.jpg", jpeg(drop=(0xC0,)), "null", "tables and a scan without SOF")
case("garbage-after-soi.jpg", b"\xff\xd8" + bytes(range(256)) * 2, "null",
     "the start marker and then no segment")

with open(os.path.join(HERE, "expected.txt"), "w") as f:
    f.write("# Written by make-inputs.py: file, what LoadPixmap must give, and why.\n")
    f.write("# null | pixmap WxH | sane (Null, or a pixmap the file can carry).\n")
    f.write("# A file without a line is held to \"sane\".\n")
    for name, expect, why in cases:
        f.write(f"{name}\t{expect}\t{why}\n")

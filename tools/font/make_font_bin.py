#!/usr/bin/env python3
"""Writes the framework's built-in 8 x 16 bitmap font (1536 bytes) from a
PSF console font: 16 rows of 96 bytes, byte j of row i holding row i of the
character 32 + j, bit 0 being the leftmost pixel. Characters the console font
does not map (such as 127) stay blank.

Usage: make_font_bin.py FONT.psf[.gz] OUTPUT.bin [OUTPUT.bin ...]
"""
import gzip
import struct
import sys


def read_psf(path):
    data = open(path, "rb").read()
    if path.endswith(".gz"):
        data = gzip.decompress(data)
    if data[:2] == b"\x36\x04":  # PSF1
        mode, height = data[2], data[3]
        count = 512 if mode & 1 else 256
        width, glyph_bytes, offset = 8, height, 4
        glyphs = [data[offset + i * height: offset + (i + 1) * height] for i in range(count)]
        table = {}
        if mode & 2:  # unicode table: uint16 entries, 0xFFFF ends a glyph
            pos = offset + count * height
            for index in range(count):
                while True:
                    (value,) = struct.unpack_from("<H", data, pos)
                    pos += 2
                    if value == 0xFFFF:
                        break
                    if value != 0xFFFE:
                        table.setdefault(value, index)
        return width, height, glyphs, table
    if data[:4] == b"\x72\xb5\x4a\x86":  # PSF2
        _, _, header, flags, count, glyph_bytes, height, width = struct.unpack_from("<8I", data, 0)
        glyphs = [data[header + i * glyph_bytes: header + (i + 1) * glyph_bytes] for i in range(count)]
        table = {}
        if flags & 1:
            pos = header + count * glyph_bytes
            for index in range(count):
                text = bytearray()
                while data[pos] != 0xFF:
                    text.append(data[pos])
                    pos += 1
                pos += 1
                for ch in text.split(b"\xfe")[0].decode("utf-8", "replace"):
                    table.setdefault(ord(ch), index)
        return width, height, glyphs, table
    raise SystemExit(f"{path}: not a PSF font")


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    width, height, glyphs, table = read_psf(sys.argv[1])
    if width != 8 or height != 16:
        raise SystemExit(f"need an 8 x 16 font, got {width} x {height}")
    out = bytearray(16 * 96)
    for j in range(96):
        code = 32 + j
        index = table.get(code, code if not table else None)
        if index is None or code == 127:
            continue
        glyph = glyphs[index]
        for i in range(16):
            row = glyph[i]
            # PSF keeps the leftmost pixel in the top bit; ours is bit 0.
            out[i * 96 + j] = int(f"{row:08b}"[::-1], 2)
    for path in sys.argv[2:]:
        open(path, "wb").write(bytes(out))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target: corpus/<target>/, small valid
inputs, one for each feature of the format that the target's parser handles.

The fuzzers start from these files and the replay tests (tests/fuzz/) run
every one of them in the normal builds, so each must stay small (a few KiB).
Pictures, samples and most texts are written here byte by byte; the JPEG,
Ogg Vorbis and font seeds come from Debian's cjpeg and jpegtran
(libjpeg-turbo-progs), oggenc (vorbis-tools) and fontTools' subsetter
(python3-fonttools) with DejaVu Sans (fonts-dejavu-core). Run from anywhere:

    python3 fuzz/make-corpus.py
"""

import math
import os
import shutil
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TMP = tempfile.mkdtemp()


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def copy(target, name, source):
    with open(source, "rb") as f:
        write(target, name, f.read())


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def i32(v):
    return struct.pack("<i", v)


def pixels(w, h, channels):
    """A small gradient, one tuple of channel values a pixel, row by row."""
    return [[tuple((x * 80 + y * 50 + c * 90) % 256 for c in range(channels)) for x in range(w)]
            for y in range(h)]


# --- TGA -------------------------------------------------------------------

def tga(imgtype, w, h, psize, attbits, body, ident=b""):
    return (bytes([len(ident), 0, imgtype, 0, 0, 0, 0, 0]) + u16(0) + u16(0) + u16(w) + u16(h) +
            bytes([psize, attbits]) + ident + body)


def tga_pixel(p, psize):
    if psize == 24:
        return bytes(p[:3])
    if psize == 32:
        return bytes(p[:4])
    v = (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3) | (0x8000 if p[3] > 127 else 0)
    return u16(v)


def tga_stored(w, h, psize):
    rows = pixels(w, h, 4)
    return b"".join(tga_pixel(p, psize) for row in rows for p in row)


def tga_rle(w, h, psize):
    """Each row: a run packet of two equal pixels, then a raw packet."""
    out = b""
    for row in pixels(w, h, 4):
        out += bytes([0x80 | 1]) + tga_pixel(row[0], psize)
        out += bytes([w - 3]) + b"".join(tga_pixel(p, psize) for p in row[2:])
    return out


def make_tga():
    write("tga", "rgb24-bottom-up.tga", tga(2, 3, 2, 24, 0, tga_stored(3, 2, 24)))
    write("tga", "rgba32-top-first.tga", tga(2, 3, 2, 32, 0x28, tga_stored(3, 2, 32)))
    write("tga", "rgb16-alpha.tga", tga(2, 2, 2, 16, 0x01, tga_stored(2, 2, 16)))
    write("tga", "rgb15-right-first.tga", tga(2, 2, 2, 15, 0x10, tga_stored(2, 2, 15)))
    write("tga", "rle24.tga", tga(10, 4, 2, 24, 0, tga_rle(4, 2, 24)))
    write("tga", "rle32-top-first.tga", tga(10, 4, 3, 32, 0x28, tga_rle(4, 3, 32)))
    write("tga", "with-id.tga", tga(2, 1, 1, 24, 0, b"\x10\x20\x30", b"seed"))


# --- BMP -------------------------------------------------------------------

def bmp(w, h, bits, body, palette=b"", compression=0, masks=b"", header=40):
    if header == 12:
        info = u32(12) + u16(w) + u16(h) + u16(1) + u16(bits)
    else:
        info = (u32(header) + i32(w) + i32(h) + u16(1) + u16(bits) + u32(compression) +
                u32(len(body)) + u32(2835) + u32(2835) + u32(len(palette) // 4) + u32(0))
        info += masks
        info += b"\0" * (header - len(info)) if header > len(info) else b""
    offset = 14 + len(info) + len(palette)
    return b"BM" + u32(offset + len(body)) + u32(0) + u32(offset) + info + palette + body


def bmp_rows(w, h, bits, value):
    rowbytes = (w * bits + 31) // 32 * 4
    out = b""
    for y in range(h):
        row = bytearray(rowbytes)
        for x in range(w):
            v = value(x, y)
            if bits >= 8:
                row[x * bits // 8:(x + 1) * bits // 8] = v.to_bytes(bits // 8, "little")
            else:
                bit = x * bits
                row[bit // 8] |= v << (8 - bits - bit % 8)
        out += bytes(row)
    return out


def grey_palette(n, quad=True):
    return b"".join(bytes([i * 255 // max(n - 1, 1)] * 3) + (b"\0" if quad else b"") for i in range(n))


def make_bmp():
    write("bmp", "rgb24-padded-rows.bmp", bmp(3, 2, 24, bmp_rows(3, 2, 24, lambda x, y: 0x102030 * (x + y + 1))))
    write("bmp", "top-down.bmp", bmp(2, -2, 24, bmp_rows(2, 2, 24, lambda x, y: 0x405060 * (x + 1))))
    write("bmp", "pal8.bmp", bmp(3, 3, 8, bmp_rows(3, 3, 8, lambda x, y: (x + y) % 4), grey_palette(4)))
    write("bmp", "pal4.bmp", bmp(5, 2, 4, bmp_rows(5, 2, 4, lambda x, y: (x + y) % 16), grey_palette(16)))
    write("bmp", "pal1.bmp", bmp(9, 2, 1, bmp_rows(9, 2, 1, lambda x, y: (x ^ y) & 1), grey_palette(2)))
    # Run-length: a run, an absolute run (padded to a word), a delta, line and
    # picture ends.
    rle8 = bytes([2, 1, 0, 3, 0, 1, 2, 0, 0, 0, 2, 1, 0, 0, 0, 1])
    write("bmp", "rle8-runs-delta.bmp", bmp(5, 3, 8, rle8, grey_palette(4), compression=1))
    rle4 = bytes([4, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 0, 0, 1])
    write("bmp", "rle4-runs.bmp", bmp(4, 2, 4, rle4, grey_palette(16), compression=2))
    masks32 = u32(0x00FF0000) + u32(0x0000FF00) + u32(0x000000FF) + u32(0xFF000000)
    write("bmp", "bitfields32-alpha-v4.bmp",
          bmp(2, 2, 32, bmp_rows(2, 2, 32, lambda x, y: 0x80112233 + x), compression=3, masks=masks32,
              header=108))
    write("bmp", "bitfields32-masks-after-header.bmp",
          bmp(2, 2, 32, bmp_rows(2, 2, 32, lambda x, y: 0x00445566 * (y + 1)), compression=3,
              masks=u32(0x0000FF00) + u32(0x00FF0000) + u32(0xFF000000)))
    write("bmp", "rgb32.bmp", bmp(2, 1, 32, bmp_rows(2, 1, 32, lambda x, y: 0x00AABBCC)))


# --- PNG -------------------------------------------------------------------

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(w, h, depth, colour, raw, extra=b"", interlace=0):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(raw)) +
            chunk(b"IEND", b""))


def png_rows(rows, filters=(0,)):
    """Filtered scanlines; rows are byte strings, bpp 1 for the filters."""
    out, prev = b"", bytes(len(rows[0]))
    for y, row in enumerate(rows):
        f = filters[y % len(filters)]
        line = bytearray()
        for x, v in enumerate(row):
            a = row[x - 1] if x else 0
            b = prev[x]
            c = prev[x - 1] if x else 0
            if f == 0:
                p = 0
            elif f == 1:
                p = a
            elif f == 2:
                p = b
            elif f == 3:
                p = (a + b) // 2
            else:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            line.append((v - p) & 0xFF)
        out += bytes([f]) + bytes(line)
        prev = row
    return out


def flat(w, h, channels, depth=8):
    rows = []
    for row in pixels(w, h, channels):
        if depth == 16:
            rows.append(b"".join(struct.pack(">H", v * 257) for p in row for v in p))
        else:
            rows.append(bytes(v for p in row for v in p))
    return rows


def packed(w, h, depth):
    rows = []
    for y in range(h):
        bits = "".join(format((x + y) % (1 << depth), "0%db" % depth) for x in range(w))
        bits += "0" * (-len(bits) % 8)
        rows.append(bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8)))
    return rows


def adam7(w, h):
    """Grey 8-bit interlaced data: the seven passes, each filtered with 0."""
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    out = b""
    for x0, y0, dx, dy in passes:
        for y in range(y0, h, dy):
            row = bytes((x * 30 + y * 7) % 256 for x in range(x0, w, dx))
            if row:
                out += b"\0" + row
    return out


def make_png():
    write("png", "grey8-all-filters.png", png(4, 5, 8, 0, png_rows(flat(4, 5, 1), (0, 1, 2, 3, 4))))
    write("png", "rgb8.png", png(3, 2, 8, 2, png_rows(flat(3, 2, 3))))
    write("png", "rgba8.png", png(3, 2, 8, 6, png_rows(flat(3, 2, 4))))
    write("png", "grey-alpha8.png", png(2, 2, 8, 4, png_rows(flat(2, 2, 2))))
    write("png", "rgb16.png", png(2, 2, 16, 2, png_rows(flat(2, 2, 3, 16))))
    for depth in (1, 2, 4):
        write("png", "grey%d.png" % depth, png(5, 2, depth, 0, png_rows(packed(5, 2, depth))))
    plte = chunk(b"PLTE", bytes([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255]))
    trns = chunk(b"tRNS", bytes([0, 128]))
    write("png", "palette-trns.png", png(4, 2, 2, 3, png_rows(packed(4, 2, 2)), plte + trns))
    write("png", "grey-trns-gama-text.png",
          png(2, 2, 8, 0, png_rows(flat(2, 2, 1)),
              chunk(b"gAMA", struct.pack(">I", 45455)) + chunk(b"tRNS", b"\0\x50") +
              chunk(b"tEXt", b"Comment\0seed")))
    write("png", "interlaced.png", png(9, 9, 8, 0, adam7(9, 9), interlace=1))


# --- JPEG ------------------------------------------------------------------

def ppm(w, h, grey=False):
    rows = pixels(w, h, 1 if grey else 3)
    body = bytes(v for row in rows for p in row for v in p)
    return (b"P5" if grey else b"P6") + b"\n%d %d\n255\n" % (w, h) + body


def cjpeg(name, options, w=16, h=16, grey=False, transform=None):
    source = os.path.join(TMP, "in.pgm" if grey else "in.ppm")
    with open(source, "wb") as f:
        f.write(ppm(w, h, grey))
    out = os.path.join(TMP, name)
    subprocess.run(["cjpeg", "-quality", "50"] + options + ["-outfile", out, source], check=True)
    if transform:
        moved = out + ".t"
        subprocess.run(["jpegtran"] + transform + ["-outfile", moved, out], check=True)
        out = moved
    copy("jpeg", name, out)


def make_jpeg():
    cjpeg("baseline-420.jpg", ["-sample", "2x2"], 17, 15)
    cjpeg("baseline-444.jpg", ["-sample", "1x1"], 8, 8)
    cjpeg("grey.jpg", [], 9, 7, grey=True)
    cjpeg("progressive.jpg", ["-progressive"], 16, 16)
    cjpeg("restart-intervals.jpg", ["-restart", "1B", "-sample", "2x1"], 24, 8)
    cjpeg("optimised-huffman.jpg", ["-optimize"], 8, 16)
    cjpeg("arithmetic.jpg", ["-arithmetic"], 8, 8)
    cjpeg("progressive-grey-rotated.jpg", ["-progressive"], 10, 6, grey=True, transform=["-rotate", "90"])


# --- Pictures through the whole chain ----------------------------------------

def make_pixmap():
    for target, name in (("tga", "rle24.tga"), ("bmp", "pal8.bmp"), ("png", "rgba8.png"),
                         ("jpeg", "baseline-420.jpg")):
        copy("pixmap", name, os.path.join(HERE, "corpus", target, name))


# --- WAV -------------------------------------------------------------------

def riff(chunks):
    body = b"WAVE" + b"".join(kind + u32(len(data)) + data + (b"\0" if len(data) % 2 else b"")
                              for kind, data in chunks)
    return b"RIFF" + u32(len(body)) + body


def fmt(channels, rate, bits, tag=1):
    align = channels * bits // 8
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * align) + u16(align) + u16(bits)


def make_wav():
    write("wav", "mono8.wav", riff([(b"fmt ", fmt(1, 8000, 8)), (b"data", bytes([128, 200, 50, 128]))]))
    write("wav", "stereo16.wav",
          riff([(b"fmt ", fmt(2, 22050, 16)), (b"data", b"".join(struct.pack("<hh", i * 900, -i * 900)
                                                                  for i in range(4)))]))
    write("wav", "list-chunk-before-data.wav",
          riff([(b"fmt ", fmt(1, 11025, 16)), (b"LIST", b"INFOISFT\x06\0\0\0seeds\0"),
                (b"data", struct.pack("<hhh", 1, -1, 300))]))
    write("wav", "chunks-after-data.wav",
          riff([(b"fmt ", fmt(1, 8000, 8)), (b"data", b"\x10\x20"), (b"junk", b"tail")]))
    write("wav", "fmt-with-extra-bytes.wav",
          riff([(b"fmt ", fmt(2, 44100, 16) + u16(0)), (b"data", b"\0\1\2\3")]))
    write("wav", "odd-chunk-padded.wav",
          riff([(b"fmt ", fmt(1, 8000, 8)), (b"LIST", b"INFOx"), (b"data", b"\x80\x90")]))


# --- Ogg Vorbis ----------------------------------------------------------------

def oggenc(name, channels, rate, frames):
    raw = os.path.join(TMP, "in.raw")
    with open(raw, "wb") as f:
        for i in range(frames):
            for c in range(channels):
                f.write(struct.pack("<h", int(8000 * math.sin(i * (0.05 + 0.03 * c)))))
    out = os.path.join(TMP, name)
    subprocess.run(["oggenc", "-Q", "-r", "-B", "16", "-C", str(channels), "-R", str(rate), "-q", "-1",
                    "-o", out, raw], check=True)
    copy("ogg", name, out)


def make_ogg():
    oggenc("mono-8000.ogg", 1, 8000, 400)
    oggenc("stereo-22050.ogg", 2, 22050, 300)


def make_audiosample():
    copy("audiosample", "stereo16.wav", os.path.join(HERE, "corpus", "wav", "stereo16.wav"))
    copy("audiosample", "mono-8000.ogg", os.path.join(HERE, "corpus", "ogg", "mono-8000.ogg"))


# --- Text ------------------------------------------------------------------

def make_text():
    write("text", "latin1-crlf-lines.txt", b"first line\r\nsecond \xe9t\xe9\r\n\r\nlast")
    write("text", "utf8-mark-all-lengths.txt",
          b"\xef\xbb\xbfA \xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e end\n\xe4\xb8\xad\n")
    write("text", "utf16le-mark.txt", b"\xff\xfe" + "line \u00e9\u20ac\nnext\r\n".encode("utf-16-le"))
    write("text", "utf16be-mark.txt", b"\xfe\xff" + "line \u00e9\u20ac\nnext\n".encode("utf-16-be"))
    write("text", "zero-ends-line.txt", b"one\0two\nthree")
    write("text", "hex-lines.txt", b"00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF\r\n0A0B\n")
    write("text", "utf8-odd-forms.txt", b"\xc0\x80\xed\xa0\x80\xf8\x88\x80\x80x\xe0")
    write("text", "empty.txt", b"")


def make_string():
    for i, text in enumerate([b"12345", b"  -42", b"+7", b"$FFff", b"%101", b"-$80000000", b"4294967297",
                              b"99999999999999999999", b"3.25e10", b"-1.5E-310", b"inf", b"nan", b"0x1p3",
                              b"\t\n 12abc", "h\u00e9llo \u20ac \U0001d11e".encode("utf-8"),
                              b"\xc3\xa9\0after", b"\xf4\x8f\xbf\xbf"]):
        write("string", "%02d.txt" % i, text)


# --- Fonts -----------------------------------------------------------------

BDF = """STARTFONT 2.1
FONT -seed-fixed-medium-r-normal--8-80-75-75-c-40-iso10646-1
SIZE 8 75 75
FONTBOUNDINGBOX 4 8 0 -2
STARTPROPERTIES 2
FONT_ASCENT 6
FONT_DESCENT 2
ENDPROPERTIES
CHARS 2
STARTCHAR A
ENCODING 65
SWIDTH 500 0
DWIDTH 4 0
BBX 4 6 0 0
BITMAP
60
90
90
F0
90
90
ENDCHAR
STARTCHAR space
ENCODING 32
SWIDTH 500 0
DWIDTH 4 0
BBX 1 1 0 0
BITMAP
00
ENDCHAR
ENDFONT
"""


def make_font():
    write("font", "two-glyphs.bdf", BDF.encode("ascii"))
    dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
    for name, text, hinting in (("dejavu-subset.ttf", "Ab", "--no-hinting"),
                                ("dejavu-subset-hinted.ttf", "g", "--hinting")):
        out = os.path.join(TMP, name)
        # Debian's Python, where python3-fonttools installs.
        subprocess.run(["/usr/bin/python3", "-m", "fontTools.subset", dejavu, "--text=" + text,
                        "--output-file=" + out, hinting, "--drop-tables+=FFTM,GPOS,GSUB,GDEF"], check=True)
        copy("font", name, out)


# --- Lua, metadata, HTTP, RIvo ----------------------------------------------------

def make_lua():
    scripts = {
        "functions-and-tables.lua": "local t = {1, 2, x = 3, [\"y\"] = {}}\nfunction t.f(a, ...)\n"
                                    "  return a + select('#', ...)\nend\nreturn t\n",
        "control-flow.lua": "for i = 1, 10, 2 do if i % 3 == 0 then break elseif i > 7 then goto done end end\n"
                            "::done::\nwhile false do end\nrepeat local x = 1 until x\n",
        "strings-and-numbers.lua": "local s = 'a\\tb\\x41\\u{20AC}\\z\n  c' .. [==[long\n]] string]==]\n"
                                   "local n = 0x1p4 + 3e-2 + 0xff // 7 ~ 5 << 2\n-- a comment\n--[[ long\n"
                                   "comment ]]\nreturn #s, n\n",
        "methods-metatables.lua": "local mt = {__index = function(t, k) return k end}\n"
                                  "local o = setmetatable({}, mt)\nfunction o:m(x) return self, x end\n"
                                  "local a <const> = 1\nlocal b <close> = nil\nreturn o:m(a)\n",
        "syntax-error.lua": "local = function end (",
        "shebang.lua": "#!/usr/bin/lua\nprint('hi')\n",
    }
    for name, text in scripts.items():
        write("lua", name, text.encode("utf-8"))


def make_metadata():
    for i, text in enumerate([b"name=value", b'a=1 name="quoted value" b=2', b'x="" y=z', b"{}",
                              b"i", b"$", b":Object", b"[]i", b"[,]d", b"[][]:String", b":module.path.Name",
                              b'key="unterminated']):
        write("metadata", "%02d.txt" % i, text)


def make_httpheader():
    write("httpheader", "ok.txt",
          b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\nbody")
    write("httpheader", "lf-only.txt", b"HTTP/1.1 301 Moved\nLocation: /x\n\n")
    write("httpheader", "chunked-folded.txt",
          b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-Long: a\r\n  folded\r\n\r\n4\r\nbody\r\n0\r\n\r\n")
    write("httpheader", "not-found.txt", b"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n")
    write("httpheader", "no-end.txt", b"HTTP/1.0 200 OK\r\nServer: x")


def rivo_message(state, ident, slots):
    return bytes([state << 4 | ident >> 8, ident & 0xFF]) + slots


def make_rivo():
    every_type = (bytes([1 << 5 | 0]) + struct.pack(">i", -5) + bytes([2 << 5 | 1]) + b"\x3c\x00" +
                  bytes([3 << 5 | 2]) + struct.pack(">H", 5) + b"hello" + bytes([4 << 5 | 3, 200]) +
                  bytes([5 << 5 | 4]) + struct.pack(">H", 60000) + bytes([6 << 5 | 31]) +
                  struct.pack(">f", 1.5))
    write("rivo", "created-every-type.bin", rivo_message(1, 1, every_type))
    write("rivo", "modified-one-int.bin", rivo_message(2, 4095, bytes([1 << 5 | 7]) + struct.pack(">i", 7)))
    write("rivo", "closed-empty.bin", rivo_message(3, 300, b""))
    write("rivo", "message-string.bin", rivo_message(5, 2, bytes([3 << 5]) + struct.pack(">H", 3) + b"abc"))
    write("rivo", "slots-only.bin", bytes([4 << 5 | 1, 9, 2 << 5 | 2]) + b"\x7e\x00")


def main():
    shutil.rmtree(os.path.join(HERE, "corpus"), ignore_errors=True)
    for make in (make_tga, make_bmp, make_png, make_jpeg, make_pixmap, make_wav, make_ogg, make_audiosample,
                 make_text, make_string, make_font, make_lua, make_metadata, make_httpheader, make_rivo):
        make()
    shutil.rmtree(TMP)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Checks the generated card assets in the given folder:

  image.jpg  1024x768, 3 components, baseline (SOF0, no SOF2), small enough
  matte.png  1024x768, 8-bit greyscale, not interlaced, only 0 and 255,
             a sensible share of white, black sky, and values that agree
             with the scene geometry at known points; the top edge of the
             white areas must coincide with an edge in the picture
  snow.png   12x3, 8-bit RGBA, not interlaced, white, four distinct flakes

Prints one line per check and exits non-zero if any failed.
"""

import os
import struct
import sys

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

results = []


def check(name, ok, detail=''):
    results.append(bool(ok))
    print('%s  %s%s' % ('PASS' if ok else 'FAIL', name, ('  (' + detail + ')') if detail else ''))


def png_ihdr(path):
    with open(path, 'rb') as f:
        data = f.read(33)
    assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    length, kind = struct.unpack('>I4s', data[8:16])
    assert kind == b'IHDR' and length == 13
    w, h, depth, ctype, comp, filt, interlace = struct.unpack('>IIBBBBB', data[16:29])
    return dict(width=w, height=h, depth=depth, colour_type=ctype, interlace=interlace)


def jpeg_frames(path):
    """Frame markers (SOFn) of a JPEG and the component count of the first."""
    with open(path, 'rb') as f:
        data = f.read()
    assert data[:2] == b'\xff\xd8', 'not a JPEG'
    i, sofs, comps, dims = 2, [], None, None
    while i < len(data):
        if data[i] != 0xFF:
            raise ValueError('lost marker sync at %d' % i)
        marker = data[i + 1]
        if marker == 0xFF:
            i += 1
            continue
        if marker in (0xD8, 0x01) or 0xD0 <= marker <= 0xD7:
            i += 2
            continue
        length = struct.unpack('>H', data[i + 2:i + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            sofs.append(marker)
            if comps is None:
                precision, hh, ww, comps = struct.unpack('>BHHB', data[i + 4:i + 10])
                dims = (ww, hh)
        if marker == 0xDA:      # start of scan: entropy-coded data follows
            break
        i += 2 + length
    return sofs, comps, dims


def check_image(path):
    sofs, comps, dims = jpeg_frames(path)
    check('image.jpg is baseline (SOF0, no progressive frame)', sofs == [0xC0], 'frames %s' % [hex(s) for s in sofs])
    check('image.jpg frame is 1024x768 with 3 components', dims == (1024, 768) and comps == 3,
          'frame %s, %s components' % (dims, comps))
    im = Image.open(path)
    check('image.jpg opens as RGB 1024x768', im.mode == 'RGB' and im.size == (1024, 768), '%s %s' % (im.mode, im.size))
    check('Pillow does not see it as progressive', not ({'progressive', 'progression'} & set(im.info)),
          'info keys %s' % sorted(im.info))
    size = os.path.getsize(path)
    check('image.jpg is at most 400 KB', size <= 400 * 1024, '%d bytes' % size)
    return np.asarray(im.convert('RGB'), np.float32) / 255.0


def check_matte(path, picture):
    hdr = png_ihdr(path)
    check('matte.png IHDR: 1024x768, 8-bit, colour type 0, not interlaced',
          (hdr['width'], hdr['height'], hdr['depth'], hdr['colour_type'], hdr['interlace']) == (1024, 768, 8, 0, 0),
          str(hdr))
    im = Image.open(path)
    m = np.asarray(im)
    check('matte.png opens as L 1024x768', im.mode == 'L' and im.size == (1024, 768), '%s %s' % (im.mode, im.size))
    values = sorted(np.unique(m).tolist())
    check('matte holds only 0 and 255', values == [0, 255], 'values %s' % values[:8])
    share = float((m == 255).mean())
    check('white share of the matte is between 25% and 60%', 0.25 <= share <= 0.60, '%.1f%% white' % (100 * share))
    check('upper sky band (rows 0..319) is all black', m[:320].max() == 0)
    ground = float((m[740:] == 255).mean())
    check('bottom rows (740..767) are mostly ground (white)', ground > 0.9, '%.1f%% white' % (100 * ground))

    import scene
    bad = []
    for name, x, y, want in scene.probes():
        got = int(m[int(y), int(x)])
        if got != want:
            bad.append('%s at (%d, %d): %d, expected %d' % (name, x, y, got, want))
    n = len(scene.probes())
    check('matte agrees with the scene at %d known points' % n, not bad, '; '.join(bad))

    # The first white pixel down each column is the top of a surface (a roof,
    # a tree, the ground...).  All of those are brighter than what lies above
    # them, so the picture must step up in brightness right there.
    lum = picture @ np.array([0.299, 0.587, 0.114], np.float32)
    col_has = m.max(axis=0) == 255
    first = np.argmax(m == 255, axis=0)
    tested = aligned = 0
    worst = []
    for x in np.nonzero(col_has)[0]:
        y0 = int(first[x])
        if y0 < 6 or y0 > 760:
            continue
        above, below = lum[y0 - 5, x], lum[y0 + 3, x]
        if below - above < 0.12:
            continue
        tested += 1
        mid = (above + below) / 2
        prof = lum[y0 - 5:y0 + 4, x]
        cross = int(np.argmax(prof >= mid)) + (y0 - 5)
        if abs(cross - y0) <= 1:
            aligned += 1
        else:
            worst.append((int(x), y0, cross))
    frac = aligned / max(tested, 1)
    check('top edges of the matte sit on the picture\'s edges (within 1 px) in >= 97%% of %d columns' % tested,
          tested > 600 and frac >= 0.97, '%.1f%% aligned; e.g. %s' % (100 * frac, worst[:5]))


def check_snow(path):
    hdr = png_ihdr(path)
    check('snow.png IHDR: 12x3, 8-bit, colour type 6, not interlaced',
          (hdr['width'], hdr['height'], hdr['depth'], hdr['colour_type'], hdr['interlace']) == (12, 3, 8, 6, 0),
          str(hdr))
    im = Image.open(path)
    a = np.asarray(im)
    check('snow.png opens as RGBA 12x3', im.mode == 'RGBA' and im.size == (12, 3))
    check('snow.png colour is white everywhere', (a[..., :3] == 255).all())
    sprites = [a[:, 3 * k:3 * k + 3, 3] for k in range(4)]
    check('each flake is brightest in its centre and has soft (partial) alpha',
          all(s[1, 1] == s.max() and s[1, 1] > 200 and ((s > 0) & (s < 255)).any() for s in sprites))
    check('the four flakes differ', len({s.tobytes() for s in sprites}) == 4)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: check_assets.py ASSET_DIR')
    d = sys.argv[1]
    picture = check_image(os.path.join(d, 'image.jpg'))
    check_matte(os.path.join(d, 'matte.png'), picture)
    check_snow(os.path.join(d, 'snow.png'))
    passed, failed = results.count(True), results.count(False)
    print('%d passed, %d failed' % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == '__main__':
    main()

"""Small supersampling painter used to draw the card's background picture.

Everything is drawn at `ss` times the output resolution into a float RGB
buffer.  Alongside the colour buffer the canvas keeps a boolean "matte"
buffer: every opaque shape may say whether the surface it draws is one that
snow can settle on (True) or not (False), and later shapes overwrite earlier
ones exactly like they do in the colour buffer.  Because both buffers are
written from the very same coverage masks, the matte lines up with the
picture pixel for pixel once both are reduced to the output size.

Coordinates passed to the drawing helpers are in output pixels (0..width,
0..height, y down); the canvas scales them.  A pixel is covered when its
centre lies inside a shape.
"""

import numpy as np
from PIL import Image


def hexc(s):
    """'#rrggbb' -> float RGB array in 0..1."""
    s = s.lstrip('#')
    return np.array([int(s[i:i + 2], 16) / 255.0 for i in (0, 2, 4)], np.float32)


def mix(a, b, t):
    """Linear blend of two colours; t may be an array (broadcast on a new last axis)."""
    t = np.asarray(t, np.float32)
    return np.asarray(a, np.float32) * (1 - t[..., None]) + np.asarray(b, np.float32) * t[..., None]


def ramp(t, stops):
    """Piecewise-linear colour ramp.  stops: list of (position, colour)."""
    t = np.asarray(t, np.float32)
    pos = [p for p, _ in stops]
    out = np.empty(t.shape + (3,), np.float32)
    for c in range(3):
        out[..., c] = np.interp(t, pos, [col[c] for _, col in stops])
    return out


def smoothstep(e0, e1, x):
    t = np.clip((x - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3 - 2 * t)


def box_blur(a, r, passes=3):
    """Approximate Gaussian blur of a 2D float array (repeated box filter, edges clamped)."""
    if r < 1:
        return a
    out = a.astype(np.float32)
    for _ in range(passes):
        for axis in (0, 1):
            pad = [(0, 0), (0, 0)]
            pad[axis] = (r + 1, r)
            p = np.pad(out, pad, mode='edge')
            c = np.cumsum(p, axis=axis, dtype=np.float64)
            n = out.shape[axis]
            hi = np.take(c, np.arange(2 * r + 1, 2 * r + 1 + n), axis=axis)
            lo = np.take(c, np.arange(0, n), axis=axis)
            out = ((hi - lo) / (2 * r + 1)).astype(np.float32)
    return out


def value_noise(h, w, cell, seed):
    """Smooth deterministic noise in -1..1 with features about `cell` pixels wide."""
    rng = np.random.default_rng(seed)
    gh, gw = int(np.ceil(h / cell)) + 3, int(np.ceil(w / cell)) + 3
    grid = rng.uniform(-1, 1, (gh, gw)).astype(np.float32)
    img = Image.fromarray(grid, 'F').resize((int(gw * cell), int(gh * cell)), Image.Resampling.BICUBIC)
    arr = np.asarray(img, np.float32)
    o = int(cell)
    return np.ascontiguousarray(arr[o:o + h, o:o + w])


class Mask:
    """Coverage of a shape inside a bounding box of the supersampled canvas.

    `a` is bool for hard shapes and float (0..1) for soft ones.
    """

    def __init__(self, y0, x0, a):
        self.y0, self.x0, self.a = y0, x0, a

    @property
    def sl(self):
        h, w = self.a.shape
        return (slice(self.y0, self.y0 + h), slice(self.x0, self.x0 + w))


def intersect(m1, m2):
    """Hard mask covering what both hard masks cover (in m1's box)."""
    if m1 is None or m2 is None:
        return None
    out = Mask(m1.y0, m1.x0, np.zeros_like(m1.a))
    y0, x0 = max(m1.y0, m2.y0), max(m1.x0, m2.x0)
    y1 = min(m1.y0 + m1.a.shape[0], m2.y0 + m2.a.shape[0])
    x1 = min(m1.x0 + m1.a.shape[1], m2.x0 + m2.a.shape[1])
    if y1 > y0 and x1 > x0:
        out.a[y0 - m1.y0:y1 - m1.y0, x0 - m1.x0:x1 - m1.x0] = (
            m1.a[y0 - m1.y0:y1 - m1.y0, x0 - m1.x0:x1 - m1.x0] & m2.a[y0 - m2.y0:y1 - m2.y0, x0 - m2.x0:x1 - m2.x0])
    return out


class Region:
    """What colour/alpha callbacks receive: output-pixel coordinates of the
    sample centres (Y as a column, X as a row) and the buffer slice."""

    def __init__(self, canvas, mask):
        self.canvas = canvas
        self.sl = mask.sl
        h, w = mask.a.shape
        ss = canvas.ss
        self.Y = ((np.arange(mask.y0, mask.y0 + h, dtype=np.float32) + 0.5) / ss)[:, None]
        self.X = ((np.arange(mask.x0, mask.x0 + w, dtype=np.float32) + 0.5) / ss)[None, :]
        self.shape = (h, w)

    def noise(self, name):
        return self.canvas.noise[name][self.sl]


class Canvas:
    def __init__(self, width, height, ss):
        self.w, self.h, self.ss = width, height, ss
        self.W, self.H = width * ss, height * ss
        self.rgb = np.zeros((self.H, self.W, 3), np.float32)
        self.matte = np.zeros((self.H, self.W), np.bool_)
        # light emitted by what is visible at each sample (lit windows); later
        # opaque shapes cover it just as they cover the colour and the matte
        self.emit = np.zeros((self.H, self.W), np.float32)
        self.noise = {}

    def add_noise(self, name, cell_px, seed):
        """Register a full-canvas noise field; `cell_px` is in output pixels."""
        self.noise[name] = value_noise(self.H, self.W, cell_px * self.ss, seed)

    # ---- shapes -------------------------------------------------------
    def _bbox(self, xmin, ymin, xmax, ymax):
        ss = self.ss
        x0 = max(int(np.floor(xmin * ss)), 0)
        y0 = max(int(np.floor(ymin * ss)), 0)
        x1 = min(int(np.ceil(xmax * ss)), self.W)
        y1 = min(int(np.ceil(ymax * ss)), self.H)
        if x1 <= x0 or y1 <= y0:
            return None
        return x0, y0, x1, y1

    def full(self):
        return Mask(0, 0, np.ones((self.H, self.W), np.bool_))

    def polygon(self, pts):
        """Even-odd scanline fill of a polygon (list of (x, y) in output pixels)."""
        p = np.asarray(pts, np.float64)
        if len(p) < 3:
            return None
        bb = self._bbox(p[:, 0].min(), p[:, 1].min(), p[:, 0].max(), p[:, 1].max())
        if bb is None:
            return None
        x0, y0, x1, y1 = bb
        p = p * self.ss
        xa, ya = p[:, 0], p[:, 1]
        xb, yb = np.roll(xa, -1), np.roll(ya, -1)
        yc = np.arange(y0, y1, dtype=np.float64) + 0.5
        cross = (ya[None, :] <= yc[:, None]) != (yb[None, :] <= yc[:, None])
        r, e = np.nonzero(cross)
        t = (yc[r] - ya[e]) / (yb[e] - ya[e])
        xi = xa[e] + t * (xb[e] - xa[e])
        ncol = x1 - x0
        col = np.clip(np.ceil(xi - 0.5).astype(np.int64) - x0, 0, ncol)
        acc = np.bincount(r * (ncol + 1) + col, minlength=(y1 - y0) * (ncol + 1))
        acc = acc.reshape(y1 - y0, ncol + 1)
        inside = (np.cumsum(acc, axis=1) & 1)[:, :ncol].astype(np.bool_)
        return Mask(y0, x0, inside)

    def ellipse(self, cx, cy, rx, ry=None):
        ry = rx if ry is None else ry
        bb = self._bbox(cx - rx, cy - ry, cx + rx, cy + ry)
        if bb is None:
            return None
        x0, y0, x1, y1 = bb
        m = Mask(y0, x0, np.zeros((y1 - y0, x1 - x0), np.bool_))
        r = Region(self, m)
        m.a = ((r.X - cx) / rx) ** 2 + ((r.Y - cy) / ry) ** 2 <= 1.0
        return m

    def soft(self, xmin, ymin, xmax, ymax, fn):
        """Soft mask over a box; fn(region) returns alpha in 0..1."""
        bb = self._bbox(xmin, ymin, xmax, ymax)
        if bb is None:
            return None
        x0, y0, x1, y1 = bb
        m = Mask(y0, x0, np.zeros((y1 - y0, x1 - x0), np.float32))
        m.a = np.clip(np.broadcast_to(fn(Region(self, m)), m.a.shape), 0, 1).astype(np.float32)
        return m

    # ---- painting -----------------------------------------------------
    def _colour(self, mask, colour):
        if callable(colour):
            c = colour(Region(self, mask))
        else:
            c = np.asarray(colour, np.float32)
        return np.broadcast_to(c, mask.a.shape + (3,))

    def _alpha(self, mask, alpha):
        a = mask.a.astype(np.float32)
        if callable(alpha):
            a = a * alpha(Region(self, mask))
        elif alpha != 1.0:
            a = a * alpha
        return a

    def fill(self, mask, colour, alpha=1.0, matte=None, emit=0.0):
        """Paint `colour` over the mask.  If `matte` is True/False the covered
        samples of the matte are set to it; that needs a hard, opaque shape.
        Hard opaque shapes also set the emitted light under them to `emit`."""
        if mask is None:
            return
        opaque = mask.a.dtype == np.bool_ and not callable(alpha) and alpha == 1.0
        if matte is not None:
            assert opaque, 'matte needs an opaque hard shape'
        a = self._alpha(mask, alpha)
        c = self._colour(mask, colour)
        dst = self.rgb[mask.sl]
        dst += (c - dst) * a[..., None]
        if matte is not None:
            self.matte[mask.sl][mask.a] = bool(matte)
        if opaque:
            self.emit[mask.sl][mask.a] = emit

    def add(self, mask, colour, alpha=1.0):
        """Additive light (glows, stars)."""
        if mask is None:
            return
        a = self._alpha(mask, alpha)
        c = self._colour(mask, colour)
        self.rgb[mask.sl] += c * a[..., None]

    def multiply(self, mask, colour, alpha=1.0):
        """Darken towards `colour` as a multiplier (soft shadows)."""
        if mask is None:
            return
        a = self._alpha(mask, alpha)
        c = self._colour(mask, colour)
        dst = self.rgb[mask.sl]
        dst *= 1 + (c - 1) * a[..., None]

    # ---- output -------------------------------------------------------
    def reduce_rgb(self):
        """Downscale the colour buffer to the output size (Lanczos, per channel)."""
        out = np.empty((self.h, self.w, 3), np.float32)
        for c in range(3):
            img = Image.fromarray(np.ascontiguousarray(self.rgb[..., c]), 'F')
            out[..., c] = np.asarray(img.resize((self.w, self.h), Image.Resampling.LANCZOS))
        return out

    def reduce_matte(self):
        """Coverage of the matte per output pixel (box average of the samples)."""
        ss = self.ss
        m = self.matte.reshape(self.h, ss, self.w, ss)
        return m.mean(axis=(1, 3), dtype=np.float32)


def quantise(rgb, seed):
    """Float RGB (0..1) -> uint8 with a small triangular dither so that the
    slow sky and snow gradients do not band."""
    rng = np.random.default_rng(seed)
    d = (rng.random(rgb.shape, np.float32) - rng.random(rgb.shape, np.float32)) * 0.75
    return np.clip(np.rint(rgb * 255.0 + d), 0, 255).astype(np.uint8)

#!/usr/bin/python3
"""Draws the greeting card's background picture and its snow matte.

Outputs (1024 x 768):
  image.jpg  baseline JPEG, quality 90, of a snowy village on a moonlit night
  matte.png  8-bit greyscale, 255 where falling snow may settle (roofs,
             chimney caps, tree branches, fences, window sills, the ground),
             0 elsewhere (sky, moon, walls, doors, trunks...)
and optionally a review image with the matte laid over the picture in red.

The picture and the matte come from one pass over the same shapes (see
raster.Canvas), so they line up exactly.  Everything is seeded: every run
produces the same files.
"""

import argparse
import math
import os

import numpy as np
from PIL import Image

from raster import Canvas, hexc, mix, ramp, smoothstep, box_blur, quantise, intersect

W, H = 1024, 768
SS = 4                      # supersampling factor
DEPTH_K = 0.40              # oblique projection: side faces rise by this per pixel of depth

MOON = (792.0, 138.0, 40.0)  # centre x, y, radius


# ---------------------------------------------------------------------------
# Landscape profiles (y of the top edge as a function of x)
# ---------------------------------------------------------------------------

def far_hills(x):
    x = np.asarray(x, np.float64)
    return 430 + 17 * np.sin(0.0047 * x + 1.0) + 9 * np.sin(0.0113 * x + 2.2) + 3.5 * np.sin(0.029 * x + 0.4)


def mid_hills(x):
    x = np.asarray(x, np.float64)
    return 486 + 19 * np.sin(0.0061 * x + 2.6) + 10 * np.sin(0.0135 * x + 0.7) + 3 * np.sin(0.037 * x + 1.1)


def ground_top(x):
    x = np.asarray(x, np.float64)
    return 556 + 9 * np.sin(0.0052 * x + 0.3) + 5 * np.sin(0.0147 * x + 2.0)


def profile_polygon(fn, bottom=H + 4):
    xs = np.linspace(-4, W + 4, 700)
    pts = list(zip(xs, fn(xs)))
    return pts + [(W + 4, bottom), (-4, bottom)]


# ---------------------------------------------------------------------------
# Small geometry helpers
# ---------------------------------------------------------------------------

def qbez(p0, p1, p2, n=24):
    t = np.linspace(0, 1, n)[:, None]
    p0, p1, p2 = (np.asarray(p, np.float64) for p in (p0, p1, p2))
    return list(map(tuple, (1 - t) ** 2 * p0 + 2 * (1 - t) * t * p1 + t ** 2 * p2))


def cbez(p0, p1, p2, p3, n=40):
    t = np.linspace(0, 1, n)[:, None]
    p0, p1, p2, p3 = (np.asarray(p, np.float64) for p in (p0, p1, p2, p3))
    return ((1 - t) ** 3 * p0 + 3 * (1 - t) ** 2 * t * p1 + 3 * (1 - t) * t ** 2 * p2 + t ** 3 * p3)


def lumpy_line(a, b, height, n_lumps, rng, n=60, up=(0.0, -1.0), taper=True):
    """Points from a to b pushed along `up` by a soft row of lumps (snow lying
    on an edge).  The ends taper to zero when `taper` is set."""
    a, b = np.asarray(a, np.float64), np.asarray(b, np.float64)
    t = np.linspace(0, 1, n)
    phase = rng.uniform(0, 2 * np.pi)
    lump = 0.75 + 0.25 * np.abs(np.sin(np.pi * n_lumps * t + phase))
    env = np.sin(np.pi * t) ** 0.35 if taper else np.ones_like(t)
    h = height * lump * env
    up = np.asarray(up, np.float64)
    pts = a[None, :] + t[:, None] * (b - a)[None, :] + h[:, None] * up[None, :]
    return [tuple(p) for p in pts]


def snow_on_edge(a, b, thick, rng, lumps=3, overhang=1.5):
    """Closed polygon of a snow layer lying on top of the segment a-b."""
    a, b = np.asarray(a, np.float64), np.asarray(b, np.float64)
    top = lumpy_line(a + (-overhang, 0), b + (overhang, 0), thick, lumps, rng)
    bottom = [tuple(b + (overhang * 0.5, 0.8)), tuple(a + (-overhang * 0.5, 0.8))]
    return top + bottom


# ---------------------------------------------------------------------------
# Colours
# ---------------------------------------------------------------------------

SNOW_LIT = hexc('#eef3ff')
SNOW_MID = hexc('#c9d5ee')
SNOW_SHADE = hexc('#93a5cf')
WARM = np.array([1.0, 0.63, 0.27], np.float32)
GLASS_STOPS = [(0.0, hexc('#fff4c8')), (0.55, hexc('#ffcf6e')), (1.0, hexc('#f59a3c')), (1.6, hexc('#c8652a'))]
FRAME = hexc('#2b1d17')


def snow_colour(lit=0.5):
    """A flat snow colour between shaded and moonlit."""
    if lit < 0.5:
        return mix(SNOW_SHADE, SNOW_MID, lit * 2)
    return mix(SNOW_MID, SNOW_LIT, (lit - 0.5) * 2)


def snow_fill(lit_fn, grain=0.025):
    """Colour callback for snow: lit_fn(region) gives 0 (shade) .. 1 (moonlit)."""
    def fn(r):
        t = np.clip(lit_fn(r), 0, 1)
        c = np.where((t < 0.5)[..., None], mix(SNOW_SHADE, SNOW_MID, np.clip(t * 2, 0, 1)),
                     mix(SNOW_MID, SNOW_LIT, np.clip(t * 2 - 1, 0, 1)))
        return c * (1 + grain * r.noise('fine')[..., None])
    return fn


# ---------------------------------------------------------------------------
# Light and shade maps (built at output resolution, blurred, then applied)
# ---------------------------------------------------------------------------

class LightMaps:
    def __init__(self):
        self.shade = Canvas(W, H, 2)   # soft shadows and the trodden path on the snow
        self.spill = Canvas(W, H, 2)   # warm light thrown on the snow
        self.spills = []

    @staticmethod
    def _poly(cv, pts, strength):
        cv.fill(cv.polygon(pts), (1, 1, 1), alpha=strength)

    def shadow(self, pts, strength=1.0):
        self._poly(self.shade, pts, strength)

    def spill_ellipse(self, cx, cy, rx, ry, strength, source):
        """Warm light on the snow, thrown by the lit pane at `source`; it is
        kept only if that pane is still visible once the village is drawn."""
        self.spills.append((cx, cy, rx, ry, strength, source))

    @staticmethod
    def _soften(m, blur, ss_out):
        m = box_blur(m, blur)
        img = Image.fromarray(m.astype(np.float32), 'F').resize((W * ss_out, H * ss_out), Image.Resampling.BILINEAR)
        return np.asarray(img, np.float32)

    @staticmethod
    def _reduce(a, ss):
        return a.reshape(H, ss, W, ss).mean(axis=(1, 3))

    def finish_shade(self, ss_out):
        m = self._reduce(self.shade.rgb[..., 0], self.shade.ss)
        self.shade_map = np.clip(self._soften(m, 3, ss_out), 0, 1)

    def finish_glow(self, cv):
        """Bloom around whatever glowing panes are visible on `cv`, and the
        light they throw on the snow."""
        self.halo_map = self._soften(self._reduce(cv.emit, cv.ss), 5, cv.ss)
        for cx, cy, rx, ry, strength, (sx, sy) in self.spills:
            if cv.emit[int(sy * cv.ss), int(sx * cv.ss)] > 0:
                self.spill.fill(self.spill.ellipse(cx, cy, rx, ry), (1, 1, 1), alpha=strength)
        self.spill_map = self._soften(self._reduce(self.spill.rgb[..., 0], self.spill.ss), 9, cv.ss)


# ---------------------------------------------------------------------------
# Sky
# ---------------------------------------------------------------------------

SKY_STOPS = [
    (0.00, hexc('#050a22')),
    (0.30, hexc('#0c1a4a')),
    (0.62, hexc('#1f3a7c')),
    (0.86, hexc('#45609f')),
    (1.00, hexc('#7388bd')),
]


def draw_sky(cv):
    mx, my, mr = MOON

    def colour(r):
        t = np.clip(r.Y / 470.0, 0, 1)
        base = ramp(np.broadcast_to(t, r.shape), SKY_STOPS)
        d = np.sqrt((r.X - mx) ** 2 + (r.Y - my) ** 2)
        glow = 0.22 * np.exp(-np.maximum(d - mr, 0) / 38.0) + 0.13 * np.exp(-(d / 230.0) ** 2)
        # a faint band of lighter haze just above the horizon
        haze = 0.05 * np.exp(-((r.Y - 420) / 45.0) ** 2)
        return base + (glow + haze)[..., None] * hexc('#b9c6ea')

    cv.fill(cv.full(), colour, matte=False)


def draw_stars(cv):
    rng = np.random.default_rng(20241224)
    mx, my, mr = MOON
    placed = 0
    while placed < 230:
        x = rng.uniform(4, W - 4)
        y = 395 * rng.uniform(0, 1) ** 1.5
        u = rng.uniform()
        if math.hypot(x - mx, y - my) < mr + 70 + 60 * (1 - u):
            continue
        placed += 1
        # fainter towards the horizon where the sky is lighter
        fade = 1 - smoothstep(200, 400, y)
        b = (0.25 + 0.75 * u ** 3.2) * (0.35 + 0.65 * fade)
        sigma = 0.42 + 0.55 * u ** 5
        tint = mix(hexc('#cfdcff'), hexc('#fff1d6'), rng.uniform())
        rad = sigma * 4
        m = cv.soft(x - rad, y - rad, x + rad, y + rad,
                    lambda r, x=x, y=y, s=sigma: np.exp(-((r.X - x) ** 2 + (r.Y - y) ** 2) / (2 * s * s)))
        cv.add(m, tint, alpha=float(b))
        if u > 0.93:
            # a few bright ones get a faint four-point twinkle
            L = 5 + 5 * (u - 0.93) / 0.07
            for dx, dy in ((1, 0), (0, 1)):
                def spike(r, x=x, y=y, dx=dx, dy=dy, L=L):
                    along = (r.X - x) * dx + (r.Y - y) * dy
                    across = (r.X - x) * dy + (r.Y - y) * dx
                    return np.exp(-(across / 0.35) ** 2) * np.exp(-np.abs(along) / (L * 0.35))
                m = cv.soft(x - L, y - L, x + L, y + L, spike)
                cv.add(m, tint, alpha=0.55 * float(b))


def draw_moon(cv):
    mx, my, mr = MOON

    def colour(r):
        dx, dy = (r.X - mx) / mr, (r.Y - my) / mr
        rho2 = np.clip(dx * dx + dy * dy, 0, 1)
        limb = 0.86 + 0.14 * np.sqrt(1 - rho2)
        c = hexc('#fbf6e2') * limb[..., None]
        # soft grey "seas"
        seas = np.zeros(r.shape, np.float32)
        for ex, ey, er, k in ((-0.30, -0.22, 0.34, 0.10), (0.18, -0.35, 0.22, 0.08), (0.28, 0.15, 0.30, 0.09),
                              (-0.12, 0.35, 0.26, 0.07), (-0.45, 0.18, 0.16, 0.06)):
            seas += k * np.exp(-((dx - ex) ** 2 + (dy - ey) ** 2) / (er * er))
        seas += 0.02 * r.noise('mid')
        return c * (1 - seas)[..., None]

    cv.fill(cv.ellipse(mx, my, mr), colour, matte=False)
    # bright rim of the halo right outside the disc
    m = cv.soft(mx - mr - 20, my - mr - 20, mx + mr + 20, my + mr + 20,
                lambda r: np.exp(-np.maximum(np.sqrt((r.X - mx) ** 2 + (r.Y - my) ** 2) - mr, 0) / 5.0)
                * (np.sqrt((r.X - mx) ** 2 + (r.Y - my) ** 2) > mr))
    cv.add(m, hexc('#cfd8f2'), alpha=0.18)


# ---------------------------------------------------------------------------
# Hills and ground
# ---------------------------------------------------------------------------

def draw_far_hills(cv):
    def colour(r):
        t = np.clip((r.Y - far_hills(r.X)) / 70.0, 0, 1)
        c = mix(hexc("#6377ad"), hexc("#42548b"), t)
        rim = np.exp(-((r.Y - far_hills(r.X)) / 1.6) ** 2)
        return c + 0.06 * rim[..., None] + 0.012 * r.noise('mid')[..., None]
    cv.fill(cv.polygon(profile_polygon(far_hills)), colour)


def tiny_pine(cv, x, y, h, body, snow):
    w = h * 0.42
    cv.fill(cv.polygon([(x - 0.6, y), (x + 0.6, y), (x + 0.6, y - h * 0.25), (x - 0.6, y - h * 0.25)]), body)
    for k in range(3):
        top = y - h + k * h * 0.28
        bot = y - h * 0.18 - (2 - k) * h * 0.2
        hw = w * (0.45 + 0.28 * k)
        cv.fill(cv.polygon([(x, top), (x + hw, bot), (x - hw, bot)]), body)
        cv.fill(cv.polygon([(x, top), (x + hw * 0.45, top + (bot - top) * 0.45),
                            (x - hw * 0.2, top + (bot - top) * 0.4)]), snow)


def draw_mid_hills(cv):
    def colour(r):
        top = mid_hills(r.X)
        t = np.clip((r.Y - top) / 60.0, 0, 1)
        c = mix(hexc('#8697c6'), hexc('#5c6ea5'), t)
        rim = np.exp(-((r.Y - top) / 1.8) ** 2)
        return c + 0.07 * rim[..., None] + 0.015 * r.noise('mid')[..., None]
    cv.fill(cv.polygon(profile_polygon(mid_hills)), colour)

    # a distant wood along the crest, and a far-off farmhouse with a lit window
    rng = np.random.default_rng(31)
    body = hexc('#24304f')
    snow = hexc('#7483b3')
    xs = np.sort(np.concatenate([rng.uniform(0, 300, 16), rng.uniform(640, 1024, 18)]))
    for x in xs:
        y = float(mid_hills(x)) + rng.uniform(3, 14)
        tiny_pine(cv, x, y, rng.uniform(11, 22), body, snow)
    fx = 162.0
    fy = float(mid_hills(fx)) + 13
    cv.fill(cv.polygon([(fx - 9, fy), (fx - 9, fy - 7), (fx, fy - 13), (fx + 9, fy - 7), (fx + 9, fy)]), hexc('#2d3554'))
    cv.fill(cv.polygon([(fx - 11, fy - 6.2), (fx, fy - 14), (fx + 11, fy - 6.2), (fx + 11, fy - 7.6), (fx, fy - 15.2),
                        (fx - 11, fy - 7.6)]), hexc('#98a6cf'))
    cv.fill(cv.polygon([(fx + 2, fy - 5), (fx + 5, fy - 5), (fx + 5, fy - 2), (fx + 2, fy - 2)]), hexc('#ffc25a'))
    m = cv.soft(fx - 6, fy - 10, fx + 12, fy + 4,
                lambda r: np.exp(-((r.X - fx - 3.5) ** 2 + (r.Y - fy + 3.5) ** 2) / 8.0))
    cv.add(m, WARM, alpha=0.35)


DRIFTS = [
    # (centre line y(x), x start, x end, rim strength, shadow strength, shadow length)
    (lambda x: 598 + 5 * np.sin(0.011 * x + 0.4), -40, 1070, 0.05, 0.10, 14),
    (lambda x: 646 + 11 * np.sin(0.0085 * x + 1.2) - 0.02 * x, -60, 560, 0.07, 0.14, 26),
    (lambda x: 702 + 9 * np.sin(0.0065 * x + 2.4) + 0.015 * (x - 700), 380, 1100, 0.07, 0.14, 30),
    (lambda x: 744 + 6 * np.sin(0.012 * x + 0.2), -40, 420, 0.05, 0.10, 22),
]


def draw_ground(cv, lights):
    def lit(r):
        top = ground_top(r.X)
        v = np.clip((r.Y - top) / (H - 556.0), 0, 1)
        t = 0.30 + 0.55 * v ** 0.8
        for fn, xa, xb, rim_k, sh_k, sh_len in DRIFTS:
            d = r.Y - fn(r.X)
            env = smoothstep(xa, xa + 90, r.X) * (1 - smoothstep(xb - 90, xb, r.X))
            rim = np.exp(-(d / 5.0) ** 2) * (d < 0)
            sh = (d > 0) * (1 - np.exp(-np.maximum(d, 0) / 6.0)) * np.exp(-np.maximum(d, 0) / sh_len)
            lift = (d < 0) * np.exp(-np.maximum(-d, 0) / (sh_len * 0.8))
            t = t + env * (rim_k * 1.6 * rim + 0.6 * rim_k * lift - sh_k * 3.2 * sh)
        # gentle broad undulation
        t = t + 0.05 * r.noise('broad')
        # the edge where the ground meets the hill catches the moonlight
        t = t + 0.25 * np.exp(-((r.Y - top) / 1.8) ** 2)
        return t

    ground = cv.polygon(profile_polygon(ground_top))
    cv.fill(ground, snow_fill(lit, grain=0.02), matte=True)
    # soft shadows and the trodden path
    cv.multiply(ground, hexc('#6d7fb6'), alpha=lambda r: 0.55 * lights.shade_map[r.sl])


def path_polygon():
    centre = cbez((600, H + 6), (520, 700), (452, 650), (478, 588), n=60)
    half = np.linspace(34, 5, len(centre))
    d = np.gradient(centre, axis=0)
    n = np.stack([-d[:, 1], d[:, 0]], 1)
    n /= np.linalg.norm(n, axis=1, keepdims=True)
    left = centre + n * half[:, None]
    right = centre - n * half[:, None]
    return [tuple(p) for p in left] + [tuple(p) for p in right[::-1]]


# ---------------------------------------------------------------------------
# Houses
# ---------------------------------------------------------------------------

def plank_wall(base, line_every=4.2, horizontal_from=None, slope=0.0, darken=0.16, texture=0.05):
    """Wall colour callback with horizontal boards (lines following `slope`)."""
    ox, oy = horizontal_from

    def fn(r):
        v = (oy - r.Y) - (r.X - ox) * slope
        f = np.mod(v, line_every) / line_every
        line = (f < 0.16).astype(np.float32)
        board = np.floor(v / line_every)
        var = 0.04 * np.sin(board * 12.9898 + 78.233)
        shade = (1 - darken * line + var + texture * r.noise('fine') * 0.6
                 + 0.04 * r.noise('mid'))
        return np.asarray(base, np.float32) * shade[..., None]
    return fn


def stone_wall(base, origin, slope=0.0, course=5.0, block=9.0):
    ox, oy = origin

    def fn(r):
        v = (oy - r.Y) - (r.X - ox) * slope
        u = r.X - ox
        row = np.floor(v / course)
        fu = np.mod(u + (row % 2) * block * 0.5, block)
        fv = np.mod(v, course)
        joint = ((fv < 0.7) | (fu < 0.7)).astype(np.float32)
        var = 0.05 * np.sin(row * 7.1 + np.floor((u + (row % 2) * block * 0.5) / block) * 3.7)
        shade = 1 - 0.18 * joint + var + 0.05 * r.noise('fine') + 0.04 * r.noise('mid')
        return np.asarray(base, np.float32) * shade[..., None]
    return fn


class Face:
    """Maps local wall coordinates (u across, v up from the wall foot) to
    picture coordinates; the side faces recede to the upper right."""

    def __init__(self, x, y, slope=0.0):
        self.x, self.y, self.slope = x, y, slope

    def p(self, u, v):
        return (self.x + u, self.y - u * self.slope - v)

    def rect(self, u, v, w, h):
        return [self.p(u, v), self.p(u + w, v), self.p(u + w, v + h), self.p(u, v + h)]

    def arch(self, u, v, w, h, n=18):
        r = w / 2.0
        pts = [self.p(u, v), self.p(u + w, v), self.p(u + w, v + h - r)]
        for a in np.linspace(0, np.pi, n)[1:-1]:
            pts.append(self.p(u + r + r * math.cos(a), v + h - r + r * math.sin(a)))
        pts.append(self.p(u, v + h - r))
        return pts


def glass_colour(cx, cy, sx, sy, lit=True):
    def fn(r):
        d = np.sqrt(((r.X - cx) / sx) ** 2 + ((r.Y - cy) / sy) ** 2)
        if lit:
            return ramp(d, GLASS_STOPS) * (1 + 0.03 * r.noise('fine')[..., None])
        # a dark pane with a cold reflection of the sky
        return mix(hexc('#3c5488'), hexc('#141d38'), np.clip(d * 0.9 + (r.Y - cy) / sy * 0.4, 0, 1))
    return fn


def draw_window(cv, face, lights, u, v, w, h, lit=True, arch=False, rng=None, sill_colour=hexc('#8b7a66'),
                bars=True, frame=FRAME):
    rng = rng or np.random.default_rng(0)
    shape = face.arch if arch else face.rect
    cv.fill(cv.polygon(shape(u - 1.3, v - 0.6, w + 2.6, h + 1.9)), frame)
    gl = shape(u, v, w, h)
    c = face.p(u + w / 2, v + h * 0.45)
    cv.fill(cv.polygon(gl), glass_colour(c[0], c[1], w * 0.62, h * 0.62, lit), emit=1.0 if lit else 0.0)
    if bars:
        cv.fill(cv.polygon(face.rect(u + w / 2 - 0.6, v, 1.2, h)), frame)
        cv.fill(cv.polygon(face.rect(u, v + h * 0.58 - 0.6, w, 1.2)), frame)
    # sill with a little snow on it
    sill = face.rect(u - 2.4, v - 2.6, w + 4.8, 2.4)
    cv.fill(cv.polygon(sill), sill_colour, matte=True)
    a, b = face.p(u - 2.4, v - 0.2), face.p(u + w + 2.4, v - 0.2)
    cv.fill(cv.polygon(snow_on_edge(a, b, 1.9, rng, lumps=2, overhang=0.6)), snow_colour(0.75), matte=True)


def draw_door(cv, face, u, w, h, colour, wreath=False, lit_glass=True, rng=None):
    cv.fill(cv.polygon(face.rect(u - 1.4, 0, w + 2.8, h + 1.4)), FRAME)
    base = colour

    def planks(r):
        x0 = face.p(u, 0)[0]
        f = np.mod(r.X - x0, w / 3.0) / (w / 3.0)
        return np.asarray(base, np.float32) * (1 - 0.22 * (f < 0.1) + 0.05 * r.noise('fine'))[..., None]
    cv.fill(cv.polygon(face.rect(u, 0, w, h)), planks)
    if lit_glass:
        g = face.rect(u + w * 0.25, h * 0.72, w * 0.5, h * 0.16)
        c = face.p(u + w / 2, h * 0.8)
        cv.fill(cv.polygon(g), glass_colour(c[0], c[1], w * 0.4, h * 0.15), emit=1.0)
    kn = face.p(u + w * 0.8, h * 0.45)
    cv.fill(cv.ellipse(kn[0], kn[1], 0.9), hexc('#d8b25a'))
    if wreath:
        cx, cy = face.p(u + w / 2, h * 0.5)
        R = w * 0.3
        ring = cv.soft(cx - R - 2, cy - R - 2, cx + R + 2, cy + R + 2,
                       lambda r: (np.abs(np.sqrt((r.X - cx) ** 2 + (r.Y - cy) ** 2) - R) < 1.6).astype(np.float32))
        cv.fill(ring, lambda r: hexc('#1f5a35') * (1 + 0.35 * r.noise('fine'))[..., None])
        rng = rng or np.random.default_rng(1)
        for a in rng.uniform(0, 2 * np.pi, 6):
            cv.fill(cv.ellipse(cx + R * math.cos(a), cy + R * math.sin(a), 0.8), hexc('#d0282c'))
        cv.fill(cv.polygon([(cx, cy + R), (cx - 2.6, cy + R - 1.6), (cx - 2.6, cy + R + 1.6)]), hexc('#c21f2a'))
        cv.fill(cv.polygon([(cx, cy + R), (cx + 2.6, cy + R - 1.6), (cx + 2.6, cy + R + 1.6)]), hexc('#c21f2a'))


def snow_bank(cv, face, length, rng, height=3.5):
    """Snow heaped along the foot of a wall."""
    a = np.array(face.p(-3, 0))
    b = np.array(face.p(length + 3, 0))
    top = lumpy_line(a, b, height, max(2, int(length / 18)), rng, taper=True)
    pts = top + [tuple(b + (0, 2.5)), tuple(a + (0, 2.5))]
    cv.fill(cv.polygon(pts), snow_fill(lambda r: 0.55 + 0.25 * np.exp(-np.maximum(r.Y - (a[1] - height), 0) / 2.0)),
            matte=True)


def smoke(cv, x, y, rng, drift=-1.0, puffs=11):
    for i in range(puffs):
        px = x + drift * (i * 4.5 + 3 * math.sin(i * 0.9)) + rng.uniform(-1.5, 1.5)
        py = y - 5 - i * 8.5
        rr = 3.2 + i * 1.7
        a = 0.16 * (1 - i / (puffs + 1)) ** 1.3
        m = cv.soft(px - rr * 2, py - rr * 2, px + rr * 2, py + rr * 2,
                    lambda r, px=px, py=py, rr=rr: np.exp(-((r.X - px) ** 2 + (r.Y - py) ** 2) / (rr * rr))
                    * (1 + 0.35 * r.noise('mid')))
        cv.fill(m, hexc('#aab4d2'), alpha=a)


class House:
    def __init__(self, cx, base_off, w, h, rh, d, wall, kind='wood', trim='#2e211b', roof_edge='#3a2a24',
                 windows_front=(), windows_side=(), door=None, chimney=None, gable_window=None, seed=0,
                 icicles=True):
        self.cx, self.w, self.h, self.rh, self.d = cx, w, h, rh, d
        self.base = float(ground_top(cx)) + base_off
        self.wall, self.kind = hexc(wall), kind
        self.trim, self.roof_edge = hexc(trim), hexc(roof_edge)
        self.windows_front, self.windows_side = windows_front, windows_side
        self.door, self.chimney, self.gable_window = door, chimney, gable_window
        self.seed, self.icicles = seed, icicles

    # geometry shared by the picture, the shadow and the matte
    def geometry(self):
        x0, x1 = self.cx - self.w / 2, self.cx + self.w / 2
        yb, yt = self.base, self.base - self.h
        A = np.array([self.cx, yt - self.rh])
        D = np.array([self.d, -self.d * DEPTH_K])
        ov = 7.0
        e = ov / (self.w / 2)
        B = A + (1 + e) * (np.array([x1, yt]) - A)
        L = A + (1 + e) * (np.array([x0, yt]) - A)
        return x0, x1, yb, yt, A, B, L, D

    def cast_shadow(self, lights):
        x0, x1, yb, yt, A, B, L, D = self.geometry()
        s = 16 + self.h * 0.35
        pts = [(x0, yb), (x1 + D[0], yb + D[1]), (x1 + D[0] - s * 0.9, yb + D[1] + s), (x0 - s * 0.9, yb + s)]
        lights.shadow(pts, 0.85)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        x0, x1, yb, yt, A, B, L, D = self.geometry()
        front = Face(x0, yb)
        side = Face(x1, yb, DEPTH_K)
        front_col = self.wall * np.array([0.70, 0.72, 0.80], np.float32)
        side_col = self.wall * np.array([0.98, 0.98, 1.06], np.float32)

        side_poly = [(x1, yb), (x1, yt), (x1 + D[0], yt + D[1]), (x1 + D[0], yb + D[1])]
        front_poly = [(x0, yb), (x0, yt), tuple(A), (x1, yt), (x1, yb)]
        if self.kind == 'stone':
            side_fill = stone_wall(side_col, (x1, yb), slope=DEPTH_K)
            front_fill = stone_wall(front_col, (x0, yb))
        else:
            side_fill = plank_wall(side_col, horizontal_from=(x1, yb), slope=DEPTH_K)
            front_fill = plank_wall(front_col, horizontal_from=(x0, yb))
        cv.fill(cv.polygon(side_poly), side_fill, matte=False)
        cv.fill(cv.polygon(front_poly), front_fill, matte=False)
        # moonlight grazing the far corner of the side wall, dusk under the eaves
        cv.multiply(cv.polygon(side_poly), (0.55, 0.6, 0.75),
                    alpha=lambda r: 0.55 * np.exp(-np.maximum((r.Y - (yt - (r.X - x1) * DEPTH_K)), 0) / 9.0))
        cv.multiply(cv.polygon(front_poly), (0.55, 0.6, 0.75),
                    alpha=lambda r: 0.45 * np.exp(-np.maximum(r.Y - yt, 0) / 8.0) * (r.Y > yt - 0.5))

        # windows and door
        for wdef in self.windows_front:
            draw_window(cv, front, lights, *wdef, rng=rng)
        for wdef in self.windows_side:
            draw_window(cv, side, lights, *wdef, rng=rng)
        if self.gable_window:
            gw = self.gable_window
            u, v, ww, wh = self.w / 2 - gw / 2, self.h + self.rh * 0.22, gw, gw
            draw_window(cv, front, lights, u, v, ww, wh, rng=rng)
        if self.door:
            where, u, dw, dh, col, wreath = self.door
            face = front if where == 'front' else side
            draw_door(cv, face, u, dw, dh, hexc(col), wreath=wreath, rng=rng)
            c = face.p(u + dw / 2, 0)
            lights.spill_ellipse(c[0] - 6, c[1] + 9, dw * 0.9, 4.5, 0.6, face.p(u + dw * 0.4, dh * 0.8))

        # warm light thrown onto the snow in front of the lit front windows
        for wdef in self.windows_front:
            u, v, ww, wh = wdef[:4]
            lit = wdef[4] if len(wdef) > 4 else True
            if lit:
                c = front.p(u + ww / 2, 0)
                lights.spill_ellipse(c[0] - 8, c[1] + 11, ww * 1.3, 5.5, 0.55, front.p(u + ww * 0.25, v + wh * 0.3))

        self.draw_roof(cv, rng, A, B, L, D)
        if self.chimney:
            self.draw_chimney(cv, rng, A, B, D)

        snow_bank(cv, front, self.w, rng)
        snow_bank(cv, side, self.d, rng, height=3.0)

    def draw_chimney(self, cv, rng, A, B, D):
        s, t, cw, ch = self.chimney
        slope_dir = B - A
        P = A + s * slope_dir + t * D
        k = slope_dir[1] / slope_dir[0]
        xl, xr = P[0] - cw / 2, P[0] + cw / 2
        cd = cw * 0.7
        top = P[1] - ch

        def ybot(x):
            return P[1] + (x - P[0]) * k

        brick = hexc('#7b3f33')

        def bricks(col, origin, slope):
            ox, oy = origin

            def fn(r):
                v = (oy - r.Y) - (r.X - ox) * slope
                row = np.floor(v / 2.6)
                f = np.mod(v, 2.6)
                u = np.mod(r.X - ox + (row % 2) * 2.5, 5.0)
                j = (f < 0.45) | (u < 0.45)
                return np.asarray(col, np.float32) * (1 - 0.25 * j + 0.05 * r.noise('fine'))[..., None]
            return fn

        front = [(xl, top), (xr, top), (xr, ybot(xr) + 2), (xl, ybot(xl) + 2)]
        sidep = [(xr, top), (xr + cd, top - cd * DEPTH_K), (xr + cd, ybot(xr) + 2 - cd * DEPTH_K), (xr, ybot(xr) + 2)]
        cv.fill(cv.polygon(sidep), bricks(brick * 1.05, (xr, top), DEPTH_K), matte=False)
        cv.fill(cv.polygon(front), bricks(brick * 0.68, (xl, top), 0.0), matte=False)
        # cap slab and its snow: the surface flakes land on
        c0, c1 = xl - 1.5, xr + 1.5
        cap_front = [(c0, top - 3), (c1, top - 3), (c1, top + 0.5), (c0, top + 0.5)]
        cap_side = [(c1, top - 3), (c1 + cd, top - 3 - cd * DEPTH_K), (c1 + cd, top + 0.5 - cd * DEPTH_K),
                    (c1, top + 0.5)]
        cv.fill(cv.polygon(cap_side), hexc('#5a5566'), matte=True)
        cv.fill(cv.polygon(cap_front), hexc('#3f3b4a'), matte=True)
        snow_top = (lumpy_line((c0 - 0.8, top - 3), (c1 + cd + 0.5, top - 3 - cd * DEPTH_K), 3.2, 2, rng)
                    + [(c1 + cd, top - 2.2 - cd * DEPTH_K), (c1, top - 2.2), (c0 - 0.8, top - 2.2)])
        cv.fill(cv.polygon(snow_top), snow_fill(lambda r: 0.6 + 0.4 * smoothstep(c0, c1 + cd, r.X)), matte=True)
        # snow heaped against the foot of the chimney
        yl, yr = ybot(xl), ybot(xr)
        heap = lumpy_line((xl - 1.5, yl + 1.5), (xr + 1.5, yr + 1.5), 2.6, 1, rng) + [(xr + 1.5, yr + 3), (xl - 1.5, yl + 3)]
        cv.fill(cv.polygon(heap), snow_colour(0.8), matte=True)
        self.smoke_at = ((xl + xr + cd) / 2, top - 5)

    def draw_roof(self, cv, rng, A, B, L, D):
        AB = B - A
        C, Dp = B + D, A + D

        def roof_lit(r):
            s = ((r.X - A[0]) * AB[0] + (r.Y - A[1]) * AB[1]) / float(AB @ AB)
            return 0.95 - 0.35 * np.clip(s, 0, 1) + 0.06 * r.noise('mid')

        # the visible (right-hand) roof slope, covered in snow
        plane = [tuple(A), tuple(B), tuple(C), tuple(Dp)]
        cv.fill(cv.polygon(plane), snow_fill(roof_lit, grain=0.03), matte=True)

        # eave: the roof's edge board under the snow, snow overhanging it, icicles
        th = 3.2
        fascia = [tuple(B), tuple(C), tuple(C + (0, th)), tuple(B + (0, th))]
        cv.fill(cv.polygon(fascia), self.roof_edge, matte=True)
        lip = lumpy_line(B + (-1.0, 0.4), C + (0.5, 0.4), -2.0, max(3, int(self.d / 9)), rng, up=(0.0, -1.0))
        lip = [tuple(B + (-0.5, -0.8))] + lip + [tuple(C + (0.5, -0.8))]
        cv.fill(cv.polygon(lip), snow_fill(lambda r: 0.55), matte=True)
        if self.icicles:
            n = int(self.d / 5)
            for i in range(n):
                f = (i + rng.uniform(0.2, 0.8)) / n
                p = B + f * D + (0, th + 0.8)
                ln = rng.uniform(2.0, 7.5) * (0.4 + 0.6 * math.sin(math.pi * f))
                wd = rng.uniform(0.7, 1.1)
                cv.fill(cv.polygon([(p[0] - wd, p[1] - 1), (p[0] + wd, p[1] - 1), (p[0] + 0.15, p[1] + ln)]),
                        hexc('#dbe7ff'), alpha=0.85)

        # barge boards along both front edges of the gable
        tb = 3.6
        for P0, P1 in ((L, A), (A, B)):
            band = [tuple(P0), tuple(P1), tuple(P1 + (0, tb)), tuple(P0 + (0, tb))]
            cv.fill(cv.polygon(band), self.trim, matte=True)
        # the other slope's snow seen edge-on above the left barge board
        ts = 5.2
        n = 40
        t = np.linspace(0, 1, n)
        edge = L[None, :] + t[:, None] * (A - L)[None, :]
        thick = ts * (0.55 + 0.45 * np.sin(np.pi * np.clip(t * 0.9 + 0.05, 0, 1))) * (1 - 0.35 * t)
        bump = 0.6 * np.sin(t * 17 + rng.uniform(0, 6))
        top = edge - np.stack([np.zeros(n), thick + bump], 1)
        end = [tuple(L + (-2.2, 1.2)), tuple(L + (-2.8, -1.5))]
        pts = end + [tuple(p) for p in top] + [tuple(A + (1.0, -0.6)), tuple(A + (0.5, 0.8))] + \
            [tuple(p) for p in edge[::-1]] + [tuple(L + (-1.0, 2.0))]
        cv.fill(cv.polygon(pts), snow_fill(lambda r: 0.42 + 0.25 * np.clip((A[1] + 10 - r.Y) / 60.0, -1, 1),
                                           grain=0.03), matte=True)
        # the ridge: a rounded roll of snow along the top
        ridge = lumpy_line(A + (-1.2, 0.6), Dp + (1.2, 0.6), 2.4, max(2, int(self.d / 14)), rng)
        ridge = ridge + [tuple(Dp + (1.2, 1.6)), tuple(A + (-1.2, 1.6))]
        cv.fill(cv.polygon(ridge), snow_colour(0.98), matte=True)


# ---------------------------------------------------------------------------
# Church
# ---------------------------------------------------------------------------

class Church(House):
    def __init__(self, cx, base_off, seed=5):
        super().__init__(cx, base_off, w=100, h=72, rh=50, d=96, wall='#9394ad', kind='stone',
                         trim='#3b3a4c', roof_edge='#3b3a4c', seed=seed, icicles=True,
                         windows_front=(), windows_side=())
        self.tower = dict(x0=cx - self.w / 2 - 40, w=38, h=150, d=30, spire=86, base=self.base + 5)

    def cast_shadow(self, lights):
        super().cast_shadow(lights)
        t = self.tower
        x0, x1, yb = t['x0'], t['x0'] + t['w'], t['base']
        s = 34
        lights.shadow([(x0, yb), (x1 + t['d'], yb - t['d'] * DEPTH_K), (x1 + t['d'] - s, yb + s * 0.7),
                       (x0 - s, yb + s * 0.9)], 0.85)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        x0, x1, yb, yt, A, B, L, D = self.geometry()
        super().draw(cv, lights)
        front = Face(x0, yb)
        side = Face(x1, yb, DEPTH_K)
        stone = np.array([0.72, 0.70, 0.78], np.float32)
        # tall arched windows along the nave, a rose window and an arched door
        for u in (14, 40, 66):
            draw_window(cv, side, lights, u, 22, 11, 36, True, True, rng, sill_colour=stone, bars=False)
            c = side.p(u + 5.5, 0)
            lights.spill_ellipse(c[0] - 10, c[1] + 14, 9, 4, 0.35, side.p(u + 3, 30))
        draw_window(cv, front, lights, self.w / 2 - 8, 30, 16, 34, True, True, rng, sill_colour=stone, bars=False)
        rx, ry = front.p(self.w / 2, self.h + self.rh * 0.36)
        cv.fill(cv.ellipse(rx, ry, 9.0), FRAME)
        cv.fill(cv.ellipse(rx, ry, 7.4), glass_colour(rx, ry, 6.5, 6.5), emit=1.0)
        for a in np.linspace(0, np.pi, 4, endpoint=False):
            dx, dy = 7.4 * math.cos(a), 7.4 * math.sin(a)
            cv.fill(cv.polygon([(rx - dx - 0.5 * math.sin(a), ry - dy + 0.5 * math.cos(a)),
                                (rx + dx - 0.5 * math.sin(a), ry + dy + 0.5 * math.cos(a)),
                                (rx + dx + 0.5 * math.sin(a), ry + dy - 0.5 * math.cos(a)),
                                (rx - dx + 0.5 * math.sin(a), ry - dy - 0.5 * math.cos(a))]), FRAME)
        # door: open, warm light inside
        du, dw, dh = self.w / 2 - 10, 20, 27
        cv.fill(cv.polygon(front.arch(du - 2, 0, dw + 4, dh + 2)), hexc('#4b4a5e'))
        door = front.arch(du, 0, dw, dh)
        c = front.p(du + dw / 2, dh * 0.45)
        cv.fill(cv.polygon(door), glass_colour(c[0], c[1], dw * 0.7, dh * 0.7), emit=1.2)
        cv.fill(cv.polygon(front.rect(du, 0, dw * 0.28, dh - dw / 2)), hexc('#5a3423'))
        c = front.p(du + dw / 2, 0)
        lights.spill_ellipse(c[0] - 4, c[1] + 16, 16, 8, 1.0, front.p(du + dw * 0.6, dh * 0.3))
        snow_bank(cv, front, self.w, rng)
        self.draw_tower(cv, lights, rng)

    def draw_tower(self, cv, lights, rng):
        t = self.tower
        x0, w, h, d, yb = t['x0'], t['w'], t['h'], t['d'], t['base']
        x1 = x0 + w
        yt = yb - h
        Dv = np.array([d, -d * DEPTH_K])
        front = Face(x0, yb)
        side = Face(x1, yb, DEPTH_K)
        wall = hexc('#9a9bb5')
        side_poly = [(x1, yb), (x1, yt), (x1 + d, yt - d * DEPTH_K), (x1 + d, yb - d * DEPTH_K)]
        front_poly = front.rect(0, 0, w, h)
        cv.fill(cv.polygon(side_poly), stone_wall(wall * 1.0, (x1, yb), slope=DEPTH_K), matte=False)
        cv.fill(cv.polygon(front_poly), stone_wall(wall * np.array([0.7, 0.72, 0.8], np.float32), (x0, yb)),
                matte=False)
        stone = np.array([0.72, 0.70, 0.78], np.float32)
        # a small lit window low down, a clock, and the belfry openings
        draw_window(cv, front, lights, w / 2 - 4, 40, 8, 18, True, True, rng, sill_colour=stone, bars=False)
        cx, cy = front.p(w / 2, 96)
        cv.fill(cv.ellipse(cx, cy, 8.2), hexc('#3b3a4c'))
        cv.fill(cv.ellipse(cx, cy, 7.0), lambda r: mix(hexc('#fff0c4'), hexc('#e2c07a'),
                                                         np.clip(np.sqrt((r.X - cx) ** 2 + (r.Y - cy) ** 2) / 7, 0, 1)),
                emit=0.5)
        for ang, ln in ((-1.9, 5.0), (-0.2, 3.6)):  # ten past ten
            ex, ey = cx + ln * math.cos(ang), cy + ln * math.sin(ang)
            nx, ny = -math.sin(ang) * 0.55, math.cos(ang) * 0.55
            cv.fill(cv.polygon([(cx + nx, cy + ny), (ex + nx, ey + ny), (ex - nx, ey - ny), (cx - nx, cy - ny)]),
                    hexc('#2a2230'))
        for face, u in ((front, w / 2 - 6), (side, d / 2 - 5)):
            cv.fill(cv.polygon(face.arch(u - 1.3, 116, 12 + 2.6, 24 + 1.3)), hexc('#4b4a5e'))
            cv.fill(cv.polygon(face.arch(u, 117, 12, 23)), hexc('#161b33'))
            bx, by = face.p(u + 6, 131)
            cv.fill(cv.polygon([(bx - 3.2, by + 4), (bx + 3.2, by + 4), (bx + 2, by - 1), (bx, by - 2.6),
                                (bx - 2, by - 1)]), hexc('#a8894a'))
            # a ledge under each opening
            cv.fill(cv.polygon(face.rect(u - 2, 114, 16, 2)), hexc('#7d7e98'), matte=True)
            a, b = face.p(u - 2, 116), face.p(u + 14, 116)
            cv.fill(cv.polygon(snow_on_edge(a, b, 1.8, rng, 2, 0.3)), snow_colour(0.8), matte=True)
        # cornice and the snow lying on it
        ov = 2.5
        cor_front = [(x0 - ov, yt + 3), (x1 + ov, yt + 3), (x1 + ov, yt - 1), (x0 - ov, yt - 1)]
        cor_side = [(x1 + ov, yt + 3), (x1 + ov + d, yt + 3 - d * DEPTH_K), (x1 + ov + d, yt - 1 - d * DEPTH_K),
                    (x1 + ov, yt - 1)]
        cv.fill(cv.polygon(cor_side), hexc('#9899b2'), matte=True)
        cv.fill(cv.polygon(cor_front), hexc('#64657e'), matte=True)
        # spire: a pyramid on the square top
        apex = np.array([x0 + w / 2 + d / 2, yt - d * DEPTH_K / 2 - t['spire']])
        fl, fr = np.array([x0 - 0.5, yt - 1]), np.array([x1 + 0.5, yt - 1])
        sr = fr + Dv
        def stripes(base):
            # slates in thin vertical courses showing through the snow
            def fn(r):
                seam = np.mod(r.X * 0.7 + r.Y * 0.05, 3.0) < 0.6
                return np.asarray(base, np.float32) * (1 - 0.1 * seam + 0.03 * r.noise('fine'))[..., None]
            return fn
        cv.fill(cv.polygon([tuple(fr), tuple(sr), tuple(apex)]), stripes(hexc('#d9e2f6')), matte=True)
        cv.fill(cv.polygon([tuple(fl), tuple(fr), tuple(apex)]), stripes(hexc('#8695bf')), matte=True)
        cv.fill(cv.polygon(snow_on_edge(fl + (0, -0.2), fr + (0, -0.2), 2.2, rng, 2, 1.5)), snow_colour(0.7),
                matte=True)
        # gilded cross on the tip
        gx, gy = apex
        gold = hexc('#e6c36a')
        cv.fill(cv.polygon([(gx - 0.8, gy + 1), (gx + 0.8, gy + 1), (gx + 0.8, gy - 15), (gx - 0.8, gy - 15)]), gold)
        cv.fill(cv.polygon([(gx - 4.5, gy - 10.8), (gx + 4.5, gy - 10.8), (gx + 4.5, gy - 9.2), (gx - 4.5, gy - 9.2)]),
                gold)
        snow_bank(cv, front, w, rng)
        snow_bank(cv, side, d, rng, height=3.0)


# ---------------------------------------------------------------------------
# Pine trees
# ---------------------------------------------------------------------------

PINE_DARK = hexc('#0f2a26')
PINE_MID = hexc('#1d4438')


class Pine:
    def __init__(self, cx, base, height, width, tiers, seed, shade=1.0):
        self.cx, self.base, self.height, self.width = cx, base, height, width
        self.tiers, self.seed, self.shade = tiers, seed, shade

    def cast_shadow(self, lights):
        x, y, w = self.cx, self.base, self.width
        s = self.height * 0.22
        lights.shadow([(x - w * 0.35, y - 2), (x + w * 0.35, y - 4), (x + w * 0.2 - s * 0.6, y + s),
                       (x - w * 0.45 - s * 0.7, y + s * 0.9)], 0.7)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        cx, base, Ht, Wd, n = self.cx, self.base, self.height, self.width, self.tiers
        trunk_h = Ht * 0.09
        top = base - Ht
        crown = Ht - trunk_h
        tw = max(Wd * 0.05, 1.6)
        cv.fill(cv.polygon([(cx - tw, base + 1), (cx + tw, base + 1), (cx + tw * 0.6, base - trunk_h - 12),
                            (cx - tw * 0.6, base - trunk_h - 12)]),
                lambda r: mix(hexc('#22150f'), hexc('#4a3024'), smoothstep(cx - tw, cx + tw, r.X)), matte=False)
        # tier k (0 = top) shows between the bottom of tier k-1 and its own bottom;
        # tiers are drawn bottom-up so that each one overlaps the one below
        # (tiers get a little taller towards the bottom, like a real fir)
        weights = np.array([1.0 + 0.12 * k for k in range(n)])
        bots = top + crown * np.cumsum(weights) / weights.sum()
        tiers = []
        for k in range(n):
            vis_top = top if k == 0 else bots[k - 1]
            band = bots[k] - vis_top
            t_top = top if k == 0 else vis_top - band * 0.75
            hw = Wd / 2 * ((k + 0.85) / (n - 0.15)) ** 0.9 * rng.uniform(0.94, 1.04)
            off = 0.0 if k == 0 else rng.uniform(-0.8, 0.8)
            tiers.append((cx + off, t_top, vis_top, bots[k] + rng.uniform(-0.5, 0.5), hw))
        for k in reversed(range(n)):
            self.draw_tier(cv, rng, *tiers[k], first=(k == 0))
        heap = lumpy_line((cx - Wd * 0.26, base + 1), (cx + Wd * 0.26, base + 1), 3.5, 2, rng) + \
            [(cx + Wd * 0.26, base + 3), (cx - Wd * 0.26, base + 3)]
        cv.fill(cv.polygon(heap), snow_colour(0.7), matte=True)

    def draw_tier(self, cv, rng, cx, t_top, vis_top, t_bot, hw, first=False):
        h = t_bot - t_top
        n_bunch = max(3, int(round(hw / 6.5)))
        droop = min(h * 0.16, 7.0)
        tip_l = np.array([cx - hw, t_bot - droop * 0.4])
        tip_r = np.array([cx + hw, t_bot - droop * 0.4])
        left = qbez((cx, t_top), (cx - hw * 0.35, t_top + h * 0.55), tip_l, 24)
        right = qbez(tip_r, (cx + hw * 0.35, t_top + h * 0.55), (cx, t_top), 24)
        # lower edge: a row of hanging bunches of needles, each ending in a point
        u = np.linspace(0, 1, n_bunch * 12 + 1)
        ph = np.mod(u * n_bunch, 1.0)
        size = np.interp(u * n_bunch, np.arange(n_bunch + 1), rng.uniform(0.7, 1.15, n_bunch + 1))
        hang = droop * size * (0.65 * np.sin(np.pi * ph) ** 0.8 + 0.35 * np.exp(-((ph - 0.6) / 0.13) ** 2))
        belly = h * 0.07 * np.sin(np.pi * u)
        bottom = [(cx - hw + 2 * hw * uu, t_bot - droop * 0.4 + bb + hh) for uu, bb, hh in zip(u, belly, hang)]
        tier = cv.polygon(left + bottom + right)

        shade = self.shade
        band = t_bot - vis_top

        def needles(r):
            v = np.clip((r.Y - vis_top) / band, 0, 1)
            side = np.clip((r.X - cx) / hw, -1, 1)
            c = mix(PINE_DARK, PINE_MID, np.clip(0.25 + 0.35 * side + 0.45 * v, 0, 1))
            tex = 0.22 * r.noise('fine') + 0.10 * r.noise('mid')
            return c * (shade * (1 + tex))[..., None]
        cv.fill(tier, needles, matte=True)

        # snow on the upper part of the visible band, running down the
        # branch ends towards the tips; its lower edge is lumpy
        m = 60
        uu = np.linspace(-1.15, 1.15, m)
        frac = 0.40 if not first else 0.55
        y_c = vis_top + band * frac
        y_tip = t_bot - droop * 0.9
        lumps = max(2, int(round(hw / 8)))
        edge_y = y_c + (y_tip - y_c) * np.clip(np.abs(uu), 0, 1) ** 2.2
        edge_y += band * 0.12 * np.abs(np.sin(np.pi * lumps * (uu + 1) / 2 + rng.uniform(0, 3))) ** 0.5
        edge = [(cx + hw * x, y) for x, y in zip(uu, edge_y)]
        above = edge + [(cx + hw * 1.2, t_top - 5), (cx - hw * 1.2, t_top - 5)]
        snow = intersect(tier, cv.polygon(above))

        def snow_lit(r):
            return (0.30 + 0.6 * np.clip((r.X - cx) / hw * 0.8 + 0.45, 0, 1)
                    - 0.15 * np.clip((r.Y - vis_top) / band, 0, 1) + 0.05 * r.noise('mid'))
        cv.fill(snow, snow_fill(snow_lit, grain=0.03), matte=True)


# ---------------------------------------------------------------------------
# Fences
# ---------------------------------------------------------------------------

class Fence:
    def __init__(self, xs, base_fn, post_h, seed):
        self.xs, self.base_fn, self.post_h, self.seed = xs, base_fn, post_h, seed

    def cast_shadow(self, lights):
        pts_top = [(x - 8, self.base_fn(x) + 3) for x in self.xs]
        pts_bot = [(x - 14, self.base_fn(x) + 12) for x in self.xs[::-1]]
        lights.shadow(pts_top + pts_bot, 0.45)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        ph = self.post_h
        wood = hexc('#4a3529')
        posts = []
        for x in self.xs:
            y = self.base_fn(x)
            lean = rng.uniform(-0.05, 0.05)
            hh = ph * rng.uniform(0.92, 1.06)
            posts.append((x, y, hh, lean))
        # rails first, posts on top of them
        for (xa, ya, ha, la), (xb, yb, hb, lb) in zip(posts[:-1], posts[1:]):
            for level, th in ((0.72, 3.4), (0.34, 3.0)):
                pa = (xa + la * ha * level, ya - ha * level)
                pb = (xb + lb * hb * level, yb - hb * level)
                sag = rng.uniform(-0.6, 0.8)
                rail = [(pa[0], pa[1] - th / 2), ((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2 - th / 2 + sag),
                        (pb[0], pb[1] - th / 2), (pb[0], pb[1] + th / 2),
                        ((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2 + th / 2 + sag), (pa[0], pa[1] + th / 2)]
                cv.fill(cv.polygon(rail), lambda r: wood * (0.95 + 0.08 * r.noise('fine'))[..., None], matte=True)
                cv.fill(cv.polygon(rail[:3][::1] + [(pb[0], pb[1] - th / 2 + 1.1),
                                                     ((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2 - th / 2 + sag + 1.1),
                                                     (pa[0], pa[1] - th / 2 + 1.1)]),
                        wood * 1.35, matte=True)
                a = np.array(rail[0])
                mid = np.array(rail[1])
                b = np.array(rail[2])
                s1 = lumpy_line(a, mid, 2.4, 2, rng, n=20, taper=False)
                s2 = lumpy_line(mid, b, 2.4, 2, rng, n=20, taper=False)
                top = [(a[0], a[1] - 0.5)] + s1 + s2 + [(b[0], b[1] - 0.5)]
                cv.fill(cv.polygon(top + [(b[0], b[1] + 0.9), (mid[0], mid[1] + 0.9), (a[0], a[1] + 0.9)]),
                        snow_fill(lambda r: 0.72 + 0.1 * r.noise('mid')), matte=True)
        for x, y, hh, lean in posts:
            pw = 2.8
            top_y = y - hh
            pts = [(x - pw, y + 2), (x + pw, y + 2), (x + pw + lean * hh, top_y + 1.5), (x + lean * hh, top_y - 1.5),
                   (x - pw + lean * hh, top_y + 1.5)]
            cv.fill(cv.polygon(pts), lambda r, x=x, pw=pw: mix(wood * 0.7, wood * 1.35,
                                                              smoothstep(x - pw, x + pw, r.X)), matte=True)
            cx = x + lean * hh
            cap = lumpy_line((cx - pw - 1.2, top_y + 1.5), (cx + pw + 1.2, top_y + 1.5), 3.8, 1, rng, n=24)
            cv.fill(cv.polygon(cap + [(cx + pw + 0.5, top_y + 2.6), (cx - pw - 0.5, top_y + 2.6)]),
                    snow_colour(0.85), matte=True)
            heap = lumpy_line((x - 6, y + 1.5), (x + 6, y + 1.5), 2.2, 1, rng, n=16) + [(x + 6, y + 3), (x - 6, y + 3)]
            cv.fill(cv.polygon(heap), snow_colour(0.72), matte=True)


# ---------------------------------------------------------------------------
# Lamp post and snowman in the foreground
# ---------------------------------------------------------------------------

class Lamp:
    def __init__(self, x, base, height, seed):
        self.x, self.base, self.height, self.seed = x, base, height, seed

    def cast_shadow(self, lights):
        x, y = self.x, self.base
        lights.shadow([(x - 2, y), (x + 2, y), (x - 14, y + 26), (x - 19, y + 25)], 0.5)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        x, yb, h = self.x, self.base, self.height
        ly = yb - h            # centre of the lantern glass
        # light pooled on the snow around the foot, and the glow in the air
        pool = cv.soft(x - 60, yb - 22, x + 60, yb + 24,
                       lambda r: np.exp(-(((r.X - x) / 38.0) ** 2 + ((r.Y - yb - 2) / 11.0) ** 2)))
        cv.add(pool, WARM, alpha=0.42)
        iron = hexc('#1c1a24')
        pole = [(x - 1.4, yb), (x + 1.4, yb), (x + 1.1, ly + 9), (x - 1.1, ly + 9)]
        cv.fill(cv.polygon(pole), lambda r: mix(iron, iron * 2.2, smoothstep(x - 1.4, x + 1.4, r.X)), matte=True)
        cv.fill(cv.polygon([(x - 3.4, yb + 1), (x + 3.4, yb + 1), (x + 2.2, yb - 7), (x - 2.2, yb - 7)]), iron,
                matte=True)
        # ladder rest with a thread of snow on it
        cv.fill(cv.polygon([(x - 7, ly + 16), (x + 7, ly + 16), (x + 7, ly + 17.6), (x - 7, ly + 17.6)]), iron,
                matte=True)
        cv.fill(cv.polygon(snow_on_edge((x - 7, ly + 16), (x + 7, ly + 16), 1.7, rng, 2, 0.6)), snow_colour(0.85),
                matte=True)
        # lantern: frame, glowing glass, a hood with snow on top
        cv.fill(cv.polygon([(x - 3.5, ly + 9.5), (x + 3.5, ly + 9.5), (x + 5.6, ly + 7), (x - 5.6, ly + 7)]), iron,
                matte=True)
        glass = [(x - 5.2, ly + 7), (x + 5.2, ly + 7), (x + 6.2, ly - 7), (x - 6.2, ly - 7)]
        cv.fill(cv.polygon(glass), glass_colour(x, ly, 6.0, 8.0), matte=False)
        cv.fill(cv.polygon([(x - 0.5, ly + 7), (x + 0.5, ly + 7), (x + 0.5, ly - 7), (x - 0.5, ly - 7)]), iron)
        hood = [(x - 8.2, ly - 6.5), (x + 8.2, ly - 6.5), (x + 2.0, ly - 12.5), (x - 2.0, ly - 12.5)]
        cv.fill(cv.polygon(hood), iron, matte=True)
        cap = (lumpy_line((x - 8.8, ly - 6.8), (x - 1.8, ly - 12.8), 2.4, 1, rng, n=16)
               + lumpy_line((x - 1.8, ly - 12.8), (x + 1.8, ly - 12.8), 2.8, 1, rng, n=8, taper=False)
               + lumpy_line((x + 1.8, ly - 12.8), (x + 8.8, ly - 6.8), 2.4, 1, rng, n=16)
               + [(x + 8.8, ly - 5.9), (x - 8.8, ly - 5.9)])
        cv.fill(cv.polygon(cap), snow_colour(0.9), matte=True)
        cv.fill(cv.ellipse(x, ly - 15.8, 1.6), iron, matte=True)
        halo = cv.soft(x - 45, ly - 45, x + 45, ly + 45,
                       lambda r: 0.55 * np.exp(-np.sqrt((r.X - x) ** 2 + (r.Y - ly) ** 2) / 7.0)
                       + 0.25 * np.exp(-((r.X - x) ** 2 + (r.Y - ly) ** 2) / 600.0))
        cv.add(halo, WARM, alpha=0.8)


class Snowman:
    def __init__(self, x, base, seed):
        self.x, self.base, self.seed = x, base, seed
        self.balls = [(0, 17.5), (-27, 12.5), (-46, 9.0)]   # (centre offset up from base, radius)

    def cast_shadow(self, lights):
        x, y = self.x, self.base
        lights.shadow([(x - 18, y - 4), (x + 16, y - 6), (x - 12, y + 22), (x - 44, y + 18)], 0.8)

    def draw(self, cv, lights):
        rng = np.random.default_rng(self.seed)
        x, yb = self.x, self.base
        # stick arms behind the body
        wood = hexc('#3e2a1f')
        for side in (-1, 1):
            sx, sy = x + side * 8, yb - 36
            ex, ey = x + side * 27, yb - 48 - (4 if side > 0 else -2)
            nx, ny = -(ey - sy), (ex - sx)
            ln = math.hypot(nx, ny)
            nx, ny = nx / ln * 0.9, ny / ln * 0.9
            cv.fill(cv.polygon([(sx + nx, sy + ny), (ex + nx * 0.5, ey + ny * 0.5), (ex - nx * 0.5, ey - ny * 0.5),
                                (sx - nx, sy - ny)]), wood)
            fx, fy = ex - side * 5, ey + 2
            cv.fill(cv.polygon([(fx, fy), (fx + side * 6, fy - 5), (fx + side * 6.4, fy - 4), (fx + 0.8, fy + 1)]),
                    wood)

        def ball_fill(bx, by, br):
            def fn(r):
                dx, dy = (r.X - bx) / br, (r.Y - by) / br
                lit = 0.55 + 0.38 * dx - 0.35 * dy - 0.25 * (dx * dx + dy * dy)
                return snow_fill(lambda rr: lit, grain=0.03)(r)
            return fn
        for off, br in self.balls:
            by = yb - br + 2 + off
            cv.fill(cv.ellipse(x, by, br * 1.04, br), ball_fill(x, by, br), matte=True)
        hx, hy = x, yb - 9.0 + 2 - 46
        coal = hexc('#15141c')
        for ex, ey in ((-3.2, -2.0), (3.0, -2.2)):
            cv.fill(cv.ellipse(hx + ex, hy + ey, 1.1), coal, matte=True)
        for by in (yb - 21.0, yb - 28.5, yb - 36.0):
            cv.fill(cv.ellipse(x + 0.3, by, 1.3), coal, matte=True)
        cv.fill(cv.polygon([(hx + 0.5, hy - 0.2), (hx + 0.5, hy + 2.2), (hx + 9.5, hy + 1.6)]), hexc('#ef7a22'),
                matte=True)
        for k in range(5):
            a = math.pi * (0.2 + 0.6 * k / 4)
            cv.fill(cv.ellipse(hx + 5.2 * math.cos(a), hy + 2 + 3.2 * math.sin(a), 0.7), coal, matte=True)
        # scarf
        red = hexc('#b8242c')
        sy = yb - 38.5
        scarf = [(x - 10, sy - 2.2), (x + 10, sy - 2.6), (x + 10.5, sy + 2.0), (x - 10.2, sy + 2.4)]
        def stripes(r):
            return red * (1 - 0.25 * (np.mod(r.X * 0.5, 2.0) < 0.6))[..., None]
        cv.fill(cv.polygon(scarf), stripes, matte=True)
        cv.fill(cv.polygon([(x + 4, sy), (x + 9, sy), (x + 11.5, sy + 13), (x + 6.5, sy + 13.5)]), stripes, matte=True)
        # top hat with a sprinkle of snow on the crown
        hat = hexc('#1a1822')
        cv.fill(cv.polygon([(hx - 10.5, hy - 6.5), (hx + 10.5, hy - 7.5), (hx + 10.5, hy - 5.5), (hx - 10.5, hy - 4.5)]),
                hat, matte=True)
        crown = [(hx - 6.5, hy - 6), (hx + 6.5, hy - 6.6), (hx + 6.0, hy - 19.6), (hx - 6.0, hy - 19)]
        cv.fill(cv.polygon(crown), lambda r: mix(hat, hat * 2.6, smoothstep(hx - 6, hx + 6, r.X)), matte=True)
        cv.fill(cv.polygon([(hx - 6.4, hy - 9), (hx + 6.4, hy - 9.6), (hx + 6.3, hy - 11.6), (hx - 6.3, hy - 11)]),
                red, matte=True)
        cv.fill(cv.polygon(snow_on_edge((hx - 6.0, hy - 19), (hx + 6.0, hy - 19.6), 2.2, rng, 1, 0.6)),
                snow_colour(0.9), matte=True)


# ---------------------------------------------------------------------------
# Scene
# ---------------------------------------------------------------------------

def build_scene():
    houses = [
        House(318, 22, 88, 52, 42, 48, '#8c6b3a', seed=12, trim='#e9e2d4',
              windows_front=((14, 18, 14, 16), (60, 18, 14, 16)), windows_side=((16, 20, 12, 14, False),),
              door=('front', 37, 14, 26, '#5a2f22', False), gable_window=11,
              chimney=(0.4, 0.7, 8, 14)),
        House(652, 30, 104, 60, 46, 54, '#3f5f72', seed=13, trim='#e4ddd0',
              windows_front=((14, 22, 15, 18), (75, 22, 15, 18)), windows_side=((10, 22, 13, 16), (33, 22, 13, 16)),
              door=('front', 44, 16, 31, '#6b3a26', False), gable_window=12,
              chimney=(0.55, 0.3, 9, 16)),
        House(935, 16, 84, 50, 40, 44, '#9a7a44', seed=14,
              windows_front=((12, 16, 13, 15, False), (58, 16, 13, 15)), windows_side=((14, 18, 12, 14),),
              chimney=(0.5, 0.6, 8, 13)),
        House(204, 50, 122, 70, 56, 62, '#8b3328', seed=15, trim='#efe8da',
              windows_front=((16, 26, 17, 20), (89, 26, 17, 20)), windows_side=((12, 26, 15, 18), (38, 26, 15, 18)),
              door=('front', 51, 20, 38, '#2f4a33', True), gable_window=14,
              chimney=(0.5, 0.35, 10, 19)),
        House(800, 62, 128, 72, 58, 64, '#7a3a2a', seed=16, trim='#f0e9dc',
              windows_front=((16, 27, 17, 20), (95, 27, 17, 20)), windows_side=((12, 27, 15, 18), (38, 27, 15, 18)),
              door=('front', 54, 20, 38, '#3b2a20', True), gable_window=15,
              chimney=(0.45, 0.65, 10, 20)),
    ]
    church = Church(478, 14)
    trees = [
        Pine(272, float(ground_top(272)) + 12, 92, 50, 5, 101),
        Pine(395, float(ground_top(395)) + 30, 70, 40, 4, 102),
        Pine(545, float(ground_top(545)) + 8, 74, 40, 4, 103),
        Pine(712, float(ground_top(712)) + 12, 88, 48, 5, 104),
        Pine(870, float(ground_top(870)) + 8, 96, 52, 5, 105),
        Pine(122, float(ground_top(122)) + 22, 120, 64, 5, 106),
        Pine(590, float(ground_top(590)) + 70, 64, 38, 4, 107),
        Pine(1000, float(ground_top(1000)) + 30, 110, 60, 5, 108),
    ]
    village = sorted(houses + [church] + trees, key=lambda o: o.base)

    fences = [
        Fence(list(np.arange(-6, 372, 31)), lambda x: 676 - 0.055 * x + 3 * math.sin(0.02 * x), 30, 201),
        Fence(list(np.arange(650, 1040, 33)), lambda x: 722 - 0.05 * (x - 650) + 3 * math.sin(0.017 * x), 32, 202),
    ]
    foreground = [
        Lamp(578, 708, 66, 401),
        Snowman(418, 738, 402),
        Pine(58, 752, 400, 212, 7, 301),
        Pine(998, 762, 300, 176, 6, 302),
    ]
    return village, fences, foreground


def render():
    cv = Canvas(W, H, SS)
    cv.add_noise('fine', 1.2, 1)
    cv.add_noise('mid', 9.0, 2)
    cv.add_noise('broad', 70.0, 3)

    village, fences, foreground = build_scene()

    # soft shadows and the path are collected first because the ground uses them
    lights = LightMaps()
    for obj in village + fences + foreground:
        obj.cast_shadow(lights)
    lights.shadow(path_polygon(), 0.3)

    lights.finish_shade(SS)

    draw_sky(cv)
    draw_stars(cv)
    draw_moon(cv)
    draw_far_hills(cv)
    draw_mid_hills(cv)
    draw_ground(cv, lights)

    for obj in village:
        obj.draw(cv, lights)
        if getattr(obj, 'smoke_at', None):
            smoke(cv, obj.smoke_at[0], obj.smoke_at[1], np.random.default_rng(obj.seed + 1000))

    # window glow and the warm light on the snow
    lights.finish_glow(cv)
    cv.add(cv.full(), WARM, alpha=lambda r: 0.55 * lights.halo_map[r.sl] + 1.0 * lights.spill_map[r.sl])

    for obj in fences + foreground:
        obj.draw(cv, lights)

    sparkles(cv)
    return cv


def probes():
    """Points whose matte value follows from the geometry alone, as
    (description, x, y, expected value).  Used by check_assets.py."""
    village, fences, foreground = build_scene()
    mx, my, mr = MOON
    out = [('moon centre', mx, my, 0), ('moon, near its right edge', mx + mr - 2, my, 0),
           ('sky, top left', 8, 8, 0), ('sky, middle', 512, 250, 0), ('sky, top right', 1015, 12, 0),
           ('ground, bottom centre', 512, 762, 255), ('ground, lower left', 300, 728, 255),
           ('ground, right of the lamp', 700, 660, 255)]
    # the houses of the front row: nothing stands in front of their left wall
    # corner, their first front window or the lower part of their roof
    for o in village:
        if type(o) is not House or o.cx not in (204, 652, 800):
            continue
        x0, x1, yb, yt, A, B, L, D = o.geometry()
        name = 'house at x=%d' % o.cx
        out.append((name + ', front wall', x0 + 5, yb - o.h * 0.5, 0))
        p = A + 0.85 * (B - A) + 0.12 * D
        out.append((name + ', roof', p[0], p[1], 255))
        u, v, w, h = o.windows_front[0][:4]
        out.append((name + ', window pane', x0 + u + w * 0.25, yb - v - h * 0.3, 0))
        out.append((name + ', window sill', x0 + u + w * 0.5, yb - v + 1.4, 255))
    church = next(o for o in village if isinstance(o, Church))
    t = church.tower
    out.append(('church tower wall', t['x0'] + t['w'] / 2, t['base'] - 75, 0))
    out.append(('church spire', t['x0'] + t['w'] / 2, t['base'] - t['h'] - 15, 255))
    x0, x1, yb, yt, A, B, L, D = church.geometry()
    out.append(('church side wall', x1 + 5, yb - 10, 0))
    f = fences[0]
    out.append(('fence post', f.xs[3], f.base_fn(f.xs[3]) - f.post_h * 0.5, 255))
    for o in foreground:
        if isinstance(o, Pine):
            out.append(('top of the pine at x=%d' % o.cx, o.cx, o.base - o.height + 22, 255))
        elif isinstance(o, Snowman):
            out.append(('snowman', o.x - 6, o.base - 14, 255))
        elif isinstance(o, Lamp):
            out.append(('lamp glass', o.x + 2.5, o.base - o.height, 0))
    return out


def sparkles(cv):
    rng = np.random.default_rng(99)
    for _ in range(90):
        x = rng.uniform(0, W)
        y = rng.uniform(600, H)
        if not cv.matte[int(y * SS), int(x * SS)]:
            continue
        b = rng.uniform(0.15, 0.45) * ((y - 580) / 190)
        s = 0.4
        m = cv.soft(x - 2, y - 2, x + 2, y + 2,
                    lambda r, x=x, y=y: np.exp(-((r.X - x) ** 2 + (r.Y - y) ** 2) / (2 * s * s)))
        cv.add(m, (1.0, 1.0, 1.0), alpha=float(b))


def vignette(rgb):
    yy, xx = np.mgrid[0:H, 0:W].astype(np.float32)
    dx = (xx + 0.5 - W / 2) / (W / 2)
    dy = (yy + 0.5 - H / 2) / (H / 2)
    v = 1 - 0.18 * np.clip((dx * dx * 0.8 + dy * dy * 0.6) - 0.25, 0, None) ** 1.2
    return rgb * v[..., None]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--out-dir', required=True, help='folder that receives image.jpg and matte.png')
    ap.add_argument('--review', help='also write the picture with the matte overlaid in red here')
    args = ap.parse_args()

    cv = render()
    rgb = vignette(np.clip(cv.reduce_rgb(), 0, 1.2))
    pic = quantise(np.clip(rgb, 0, 1), seed=4242)
    cover = cv.reduce_matte()
    matte = np.where(cover >= 0.5, 255, 0).astype(np.uint8)

    os.makedirs(args.out_dir, exist_ok=True)
    Image.fromarray(pic, 'RGB').save(os.path.join(args.out_dir, 'image.jpg'), 'JPEG', quality=90,
                                     subsampling=0, optimize=True, progressive=False)
    Image.fromarray(matte, 'L').save(os.path.join(args.out_dir, 'matte.png'), optimize=True)
    if args.review:
        over = pic.astype(np.float32)
        m = (matte > 0)[..., None]
        over = np.where(m, over * 0.5 + np.array([255, 0, 0], np.float32) * 0.5, over)
        Image.fromarray(np.clip(over + 0.5, 0, 255).astype(np.uint8), 'RGB').save(args.review, optimize=True)


if __name__ == '__main__':
    main()

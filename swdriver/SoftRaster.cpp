#include "swdriver/SoftRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace vrl::soft {

namespace {

constexpr int kMask = 1, kSolid = 2, kAlpha = 3, kLight = 4, kShade = 5;

int32_t ClampToInt(double v, int32_t low, int32_t high) {
  if (!(v > low)) return low;  // NaN too
  if (v >= high) return high;
  return static_cast<int32_t>(v);
}

// The first pixel whose centre is at or right of (below) the edge p: the
// smallest x with x + 0.5 >= p, that is ceil(p - 0.5), cut to [low, high].
int32_t FirstCentreAt(double p, int32_t low, int32_t high) {
  double v = p - 0.5;
  if (!(v > low)) return low;  // NaN too
  if (v >= high) return high;
  auto i = static_cast<int32_t>(v);  // towards zero; v is inside the Int range here
  return i < v ? i + 1 : i;
}

template <int Mode>
inline void Put(uint32_t& d, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  if constexpr (Mode == kMask) {
    if (a >= 128) d = 0xFF000000u | r << 16 | g << 8 | b;
  } else if constexpr (Mode == kAlpha) {
    // Most texels of a sprite are fully clear or fully opaque.
    if (a == 0) return;
    if (a == 255) {
      d = 0xFF000000u | r << 16 | g << 8 | b;
      return;
    }
    uint32_t ia = 255 - a;
    uint32_t dr = d >> 16 & 255, dg = d >> 8 & 255, db = d & 255;
    d = 0xFF000000u | (Mul255(r, a) + Mul255(dr, ia)) << 16 | (Mul255(g, a) + Mul255(dg, ia)) << 8 |
        (Mul255(b, a) + Mul255(db, ia));
  } else if constexpr (Mode == kLight) {
    uint32_t dr = d >> 16 & 255, dg = d >> 8 & 255, db = d & 255;
    d = 0xFF000000u | std::min(255u, Mul255(r, a) + dr) << 16 | std::min(255u, Mul255(g, a) + dg) << 8 |
        std::min(255u, Mul255(b, a) + db);
  } else if constexpr (Mode == kShade) {
    uint32_t dr = d >> 16 & 255, dg = d >> 8 & 255, db = d & 255;
    d = 0xFF000000u | Mul255(r, dr) << 16 | Mul255(g, dg) << 8 | Mul255(b, db);
  } else {
    d = 0xFF000000u | r << 16 | g << 8 | b;
  }
}

template <int Mode>
inline void PutTexel(uint32_t& d, uint32_t texel) {
  Put<Mode>(d, texel >> 16 & 255, texel >> 8 & 255, texel & 255, texel >> 24);
}

inline uint32_t Lerp8(uint32_t a, uint32_t b, uint32_t w) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    uint32_t ca = a >> shift & 255, cb = b >> shift & 255;
    out |= ((ca * (256 - w) + cb * w + 128) >> 8) << shift;
  }
  return out;
}

// Texel coordinates in 16.16 fixed point.
constexpr int kFixBits = 16;
constexpr double kFixOne = 65536.0;

// A coordinate or step in fixed point, bounded far beyond any texture so
// that a row's sum cannot overflow.
int64_t ToFixed(double v) {
  constexpr double kLimit = 1099511627776.0;  // 2^40
  if (!(v > -kLimit)) return static_cast<int64_t>(-kLimit);
  if (v >= kLimit) return static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(std::floor(v * kFixOne + 0.5));
}

inline int32_t ClampIndex(int64_t i, int32_t size) {
  return static_cast<int32_t>(std::clamp<int64_t>(i, 0, size - 1));
}

// A picture to sample: its texels and size, and how many halvings it is
// from the first level (its coordinates are the first level's shifted right
// by shiftS, shiftT).
struct LevelView {
  const uint32_t* texels;
  int32_t width, height;
  int shiftS, shiftT;
};

int Log2(int32_t n) {
  int k = 0;
  while ((1 << (k + 1)) <= n) ++k;
  return k;
}

// The texel at (s, t), 16.16 texel units of the first level, as the filter
// takes it.
inline uint32_t Sample(const LevelView& level, int64_t s, int64_t t, bool filtered) {
  const int32_t tw = level.width, th = level.height;
  const uint32_t* texels = level.texels;
  s >>= level.shiftS;
  t >>= level.shiftT;
  if (!filtered) {
    return texels[std::ptrdiff_t(ClampIndex(t >> kFixBits, th)) * tw + ClampIndex(s >> kFixBits, tw)];
  }
  // Linear: the four texels around (s - 1/2, t - 1/2), 8-bit weights.
  int64_t fs = s - (1 << (kFixBits - 1)), ft = t - (1 << (kFixBits - 1));
  auto ws = static_cast<uint32_t>(fs >> (kFixBits - 8) & 255),
       wt = static_cast<uint32_t>(ft >> (kFixBits - 8) & 255);
  int64_t is = fs >> kFixBits, it = ft >> kFixBits;
  int32_t i0 = ClampIndex(is, tw), i1 = ClampIndex(is + 1, tw);
  const uint32_t* row0 = texels + std::ptrdiff_t(ClampIndex(it, th)) * tw;
  const uint32_t* row1 = texels + std::ptrdiff_t(ClampIndex(it + 1, th)) * tw;
  uint32_t top = Lerp8(row0[i0], row0[i1], ws), bottom = Lerp8(row1[i0], row1[i1], ws);
  return Lerp8(top, bottom, wt);
}

LevelView ViewOf(const Texture& texture, int32_t level) {
  if (level == 0) return {texture.texels.data(), texture.width, texture.height, 0, 0};
  const TextureLevel& l = texture.mipmaps[std::size_t(level - 1)];
  return {l.texels.data(), l.width, l.height, Log2(texture.width / l.width), Log2(texture.height / l.height)};
}

inline uint32_t Tint(uint32_t texel, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return Mul255(texel >> 24, a) << 24 | Mul255(texel >> 16 & 255, r) << 16 |
         Mul255(texel >> 8 & 255, g) << 8 | Mul255(texel & 255, b);
}

bool Finite(const Point2* points, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) return false;
  }
  return true;
}

}  // namespace

void Raster::Attach(uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
  Flush();
  _pixels = pixels;
  _width = std::max(width, 0);
  _height = std::max(height, 0);
  _stride = stride;
  SetClip(0, 0, _width, _height);
}

void Raster::SetColor(uint8_t red, uint8_t green, uint8_t blue) {
  _r = red;
  _g = green;
  _b = blue;
}

void Raster::SetClip(int64_t x, int64_t y, int64_t width, int64_t height) {
  int64_t x0 = std::clamp<int64_t>(x, 0, _width), y0 = std::clamp<int64_t>(y, 0, _height);
  _clipX0 = static_cast<int32_t>(x0);
  _clipY0 = static_cast<int32_t>(y0);
  _clipX1 = static_cast<int32_t>(std::clamp<int64_t>(x + std::max<int64_t>(width, 0), x0, _width));
  _clipY1 = static_cast<int32_t>(std::clamp<int64_t>(y + std::max<int64_t>(height, 0), y0, _height));
}

bool Raster::ClipIsWhole() const {
  return _clipX0 == 0 && _clipY0 == 0 && _clipX1 == _width && _clipY1 == _height;
}

void Raster::Clear(uint32_t rgb) {
  Flush();
  _clearPending = true;
  _clearValue = 0xFF000000u | rgb;
  _clearX0 = _clipX0;
  _clearY0 = _clipY0;
  _clearX1 = _clipX1;
  _clearY1 = _clipY1;
}

void Raster::Flush() {
  DrawPendingBlits();
  FlushClear();
}

void Raster::FlushClear() {
  if (!_clearPending) return;
  _clearPending = false;
  for (int32_t y = _clearY0; y < _clearY1; ++y) {
    uint32_t* row = _pixels + std::ptrdiff_t(y) * _stride;
    std::fill(row + _clearX0, row + _clearX1, _clearValue);
  }
}

void Raster::PutColour(uint32_t& d) const {
  switch (_blend) {
    case kAlpha:
      Put<kAlpha>(d, _r, _g, _b, _a);
      break;
    case kLight:
      Put<kLight>(d, _r, _g, _b, _a);
      break;
    case kShade:
      Put<kShade>(d, _r, _g, _b, _a);
      break;
    default:
      Put<kSolid>(d, _r, _g, _b, _a);
      break;
  }
}

template <class Fill>
void Raster::Scan(const Point2* points, int32_t count, Fill&& fill) const {
  if (count < 3 || !Finite(points, count)) return;
  double top = points[0].y, bottom = points[0].y;
  for (int32_t i = 1; i < count; ++i) {
    top = std::min<double>(top, points[i].y);
    bottom = std::max<double>(bottom, points[i].y);
  }
  int32_t y0 = FirstCentreAt(top, _clipY0, _clipY1), y1 = FirstCentreAt(bottom, _clipY0, _clipY1);
  for (int32_t y = y0; y < y1; ++y) {
    double yc = y + 0.5;
    double left = HUGE_VAL, right = -HUGE_VAL;
    for (int32_t i = 0; i < count; ++i) {
      const Point2& a = points[i];
      const Point2& b = points[i + 1 < count ? i + 1 : 0];
      double ay = a.y, by = b.y;
      // An edge covers the centres from its upper end (inclusive) to its
      // lower end (exclusive); flat edges cover none.
      if (!((ay <= yc && yc < by) || (by <= yc && yc < ay))) continue;
      double x = a.x + (yc - ay) * (double(b.x) - a.x) / (by - ay);
      left = std::min(left, x);
      right = std::max(right, x);
    }
    if (!(left < right)) continue;
    int32_t x0 = FirstCentreAt(left, _clipX0, _clipX1), x1 = FirstCentreAt(right, _clipX0, _clipX1);
    if (x0 < x1) fill(y, x0, x1);
  }
}

template <int Mode>
void Raster::FillPolygonIn(const Point2* points, int32_t count) {
  const uint32_t r = _r, g = _g, b = _b, a = _a;
  Scan(points, count, [&](int32_t y, int32_t x0, int32_t x1) {
    uint32_t* row = _pixels + std::ptrdiff_t(y) * _stride;
    for (int32_t x = x0; x < x1; ++x) Put<Mode>(row[x], r, g, b, a);
  });
}

void Raster::FillPolygon(const Point2* points, int32_t count) {
  Flush();
  switch (_blend) {
    case kMask:
      if (_a >= 128) FillPolygonIn<kSolid>(points, count);
      break;
    case kAlpha:
      FillPolygonIn<kAlpha>(points, count);
      break;
    case kLight:
      FillPolygonIn<kLight>(points, count);
      break;
    case kShade:
      FillPolygonIn<kShade>(points, count);
      break;
    default:
      FillPolygonIn<kSolid>(points, count);
      break;
  }
}

void Raster::DrawPoint(float x, float y) {
  Flush();
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  // The pixel holding the point, a point on a pixel's top edge belonging
  // to the pixel above (rows count downwards here, upwards in OpenGL).
  double px = std::floor(x), py = std::ceil(y) - 1;
  if (px < _clipX0 || px >= _clipX1 || py < _clipY0 || py >= _clipY1) return;
  if (_blend == kMask && _a < 128) return;
  uint32_t& d = _pixels[std::ptrdiff_t(py) * _stride + std::ptrdiff_t(px)];
  PutColour(d);
}

void Raster::DrawLine(float ax, float ay, float bx, float by, float width) {
  Flush();
  const Point2 ends[2] = {{ax, ay}, {bx, by}};
  if (!Finite(ends, 2) || !(width > 0)) return;
  double dx = double(bx) - ax, dy = double(by) - ay;
  bool xMajor = std::fabs(dx) >= std::fabs(dy);
  if (dx == 0 && dy == 0) return;
  if (width > 1.5f) {
    // A thick line is a band of the width across its minor axis.
    float h = width * 0.5f;
    if (xMajor) {
      const Point2 band[4] = {{ax, ay - h}, {bx, by - h}, {bx, by + h}, {ax, ay + h}};
      FillPolygon(band, 4);
    } else {
      const Point2 band[4] = {{ax - h, ay}, {ax + h, ay}, {bx + h, by}, {bx - h, by}};
      FillPolygon(band, 4);
    }
    return;
  }
  // One pixel a step along the major axis: the steps whose centres lie from
  // the start (inclusive) to the end (exclusive), the minor coordinate taken
  // at each centre.
  double a = xMajor ? ax : ay, b = xMajor ? bx : by;
  double slope = xMajor ? dy / dx : dx / dy;
  double base = xMajor ? ay : ax;
  int32_t limitLow = xMajor ? _clipX0 : _clipY0, limitHigh = xMajor ? _clipX1 : _clipY1;
  int32_t first = 0, last = 0;
  if (b > a) {
    first = FirstCentreAt(a, limitLow, limitHigh);
    last = FirstCentreAt(b, limitLow, limitHigh);
  } else {
    // Leftwards (upwards): centres in (b, a].
    first = ClampToInt(std::floor(b + 0.5) + 1, limitLow, limitHigh);
    last = ClampToInt(std::floor(a + 0.5) + 1, limitLow, limitHigh);
  }
  if (_blend == kMask && _a < 128) return;
  for (int32_t i = first; i < last; ++i) {
    double minor = std::floor(base + (i + 0.5 - a) * slope);
    int32_t px = xMajor ? i : ClampToInt(minor, INT32_MIN, INT32_MAX);
    int32_t py = xMajor ? ClampToInt(minor, INT32_MIN, INT32_MAX) : i;
    if (px < _clipX0 || px >= _clipX1 || py < _clipY0 || py >= _clipY1) continue;
    PutColour(_pixels[std::ptrdiff_t(py) * _stride + px]);
  }
}

template <int Mode, bool Tinted>
void Raster::TexturedQuadIn(const Point2* corners, float s0, float t0, float s1, float t1,
                            const Texture& texture) {
  const uint32_t r = _r, g = _g, b = _b, a = _a;
  auto shade = [&](uint32_t texel) { return Tinted ? Tint(texel, r, g, b, a) : texel; };
  // The quad is the image of the source rectangle under an affine map; its
  // inverse gives the texel of each pixel centre.
  double e1x = double(corners[1].x) - corners[0].x, e1y = double(corners[1].y) - corners[0].y;
  double e2x = double(corners[3].x) - corners[0].x, e2y = double(corners[3].y) - corners[0].y;
  double det = e1x * e2y - e1y * e2x;
  if (det == 0 || !std::isfinite(det)) return;
  double ds = double(s1) - s0, dt = double(t1) - t0;
  double cx = corners[0].x, cy = corners[0].y;
  const int32_t tw = texture.width, th = texture.height;
  const uint32_t* texels = texture.texels.data();

  // One texel a pixel, whole texel steps, all inside the texture: nearest
  // and filtered sampling both give the texels themselves.
  double offsetS = s0 - cx, offsetT = t0 - cy;
  bool direct = e1y == 0 && e2x == 0 && e1x == ds && e2y == dt && ds > 0 && dt > 0 &&
                offsetS == std::floor(offsetS) && offsetT == std::floor(offsetT) && s0 >= 0 && t0 >= 0 &&
                double(s1) <= tw && double(t1) <= th;
  if (direct) {
    // An upright rectangle: its pixel rows and columns directly, the texel
    // of pixel (x, y) being (x + ks, y + kt).
    auto ks = static_cast<int32_t>(offsetS), kt = static_cast<int32_t>(offsetT);
    int32_t x0 = FirstCentreAt(cx, _clipX0, _clipX1), x1 = FirstCentreAt(corners[1].x, _clipX0, _clipX1);
    int32_t y0 = FirstCentreAt(cy, _clipY0, _clipY1), y1 = FirstCentreAt(corners[3].y, _clipY0, _clipY1);
    if (x0 >= x1 || y0 >= y1) return;
    const PendingBlit blit{&DrawBlit<Mode, Tinted>,
                           _pixels + std::ptrdiff_t(y0) * _stride + x0,
                           texels + std::ptrdiff_t(y0 + kt) * tw + x0 + ks,
                           x1 - x0,
                           y1 - y0,
                           _stride,
                           tw,
                           r,
                           g,
                           b,
                           a};
    if (blit.width <= kMaxBlitSide && blit.height <= kMaxBlitSide) {
      QueueBlit(blit);
    } else {
      DrawPendingBlits();
      blit.draw(blit);
    }
    return;
  }
  DrawPendingBlits();
  // s = s0 + ds * ((px - c0x) * e2y - (py - c0y) * e2x) / det, likewise t.
  double sdx = ds * e2y / det, sdy = -ds * e2x / det;
  double tdx = -dt * e1y / det, tdy = dt * e1x / det;
  // The level of detail: how many texels a pixel step spans, as a power of
  // two. Above 0 a mipmapped texture is shrunk from its levels.
  int32_t first = 0, second = -1;
  uint32_t mix = 0;
  auto last = static_cast<int32_t>(texture.mipmaps.size());
  if (last > 0) {
    double rho = std::max(std::hypot(sdx, tdx), std::hypot(sdy, tdy));
    double lambda = rho > 0 && std::isfinite(rho) ? std::log2(rho) : 0;
    if (lambda > 0 && texture.filtered) {
      double whole = std::floor(lambda);
      first = whole >= last ? last : static_cast<int32_t>(whole);
      if (first < last) {
        second = first + 1;
        mix = static_cast<uint32_t>(std::clamp((lambda - whole) * 256.0, 0.0, 255.0));
      }
    } else if (lambda > 0.5) {
      double nearest = std::ceil(lambda + 0.5) - 1;
      first = nearest >= last ? last : static_cast<int32_t>(nearest);
    }
  }
  const LevelView one = ViewOf(texture, first);
  const LevelView two = ViewOf(texture, second < 0 ? first : second);
  const bool filtered = texture.filtered;
  const int64_t stepS = ToFixed(sdx), stepT = ToFixed(tdx);
  Scan(corners, 4, [&](int32_t y, int32_t x0, int32_t x1) {
    uint32_t* row = _pixels + std::ptrdiff_t(y) * _stride;
    double px = x0 + 0.5 - cx, py = y + 0.5 - cy;
    int64_t s = ToFixed(s0 + px * sdx + py * sdy), t = ToFixed(t0 + px * tdx + py * tdy);
    if (second < 0) {
      for (int32_t x = x0; x < x1; ++x, s += stepS, t += stepT)
        PutTexel<Mode>(row[x], shade(Sample(one, s, t, filtered)));
    } else {
      for (int32_t x = x0; x < x1; ++x, s += stepS, t += stepT)
        PutTexel<Mode>(row[x], shade(Lerp8(Sample(one, s, t, true), Sample(two, s, t, true), mix)));
    }
  });
}

template <int Mode, bool Tinted>
void Raster::DrawBlit(const PendingBlit& blit) {
  for (int32_t y = 0; y < blit.height; ++y) {
    uint32_t* row = blit.target + std::ptrdiff_t(y) * blit.stride;
    const uint32_t* source = blit.source + std::ptrdiff_t(y) * blit.pitch;
    for (int32_t x = 0; x < blit.width; ++x) {
      PutTexel<Mode>(row[x], Tinted ? Tint(source[x], blit.r, blit.g, blit.b, blit.a) : source[x]);
    }
  }
}

void Raster::QueueBlit(const PendingBlit& blit) {
  for (int32_t y = 0; y < blit.height; ++y) {
    const uint32_t* row = blit.target + std::ptrdiff_t(y) * blit.stride;
    __builtin_prefetch(row, 1);
    __builtin_prefetch(row + blit.width - 1, 1);
  }
  if (_blitCount < kMaxPendingBlits) {
    _blits[(_blitFirst + _blitCount++) % kMaxPendingBlits] = blit;
    return;
  }
  // The ring is full: the oldest is drawn, the new one takes its place.
  PendingBlit& oldest = _blits[_blitFirst];
  oldest.draw(oldest);
  oldest = blit;
  _blitFirst = (_blitFirst + 1) % kMaxPendingBlits;
}

void Raster::DrawPendingBlits() {
  for (; _blitCount > 0; --_blitCount) {
    const PendingBlit& blit = _blits[_blitFirst];
    blit.draw(blit);
    _blitFirst = (_blitFirst + 1) % kMaxPendingBlits;
  }
}

void Raster::TexturedQuad(const Point2* corners, float s0, float t0, float s1, float t1,
                          const Texture& texture) {
  FlushClear();
  if (texture.width <= 0 || texture.height <= 0 ||
      texture.texels.size() < std::size_t(texture.width) * std::size_t(texture.height) || !Finite(corners, 4))
    return;
  for (const TextureLevel& level : texture.mipmaps) {
    if (level.width <= 0 || level.height <= 0 || texture.width % level.width ||
        texture.height % level.height ||
        level.texels.size() < std::size_t(level.width) * std::size_t(level.height))
      return;
  }
  const float sts[4] = {s0, t0, s1, t1};
  for (float v : sts) {
    if (!std::isfinite(v)) return;
  }
  bool tinted = _r != 255 || _g != 255 || _b != 255 || _a != 255;
  auto run = [&]<int Mode>() {
    if (tinted)
      TexturedQuadIn<Mode, true>(corners, s0, t0, s1, t1, texture);
    else
      TexturedQuadIn<Mode, false>(corners, s0, t0, s1, t1, texture);
  };
  switch (_blend) {
    case kMask:
      run.template operator()<kMask>();
      break;
    case kAlpha:
      run.template operator()<kAlpha>();
      break;
    case kLight:
      run.template operator()<kLight>();
      break;
    case kShade:
      run.template operator()<kShade>();
      break;
    default:
      run.template operator()<kSolid>();
      break;
  }
}

namespace {

// RGB bytes to the buffer's 0xFFRRGGBB pixels. Four bytes at a time,
// byte-swapped, give R, G, B in place; the last pixel is read bytewise so as
// not to read past the row.
void RgbRowPlain(const uint8_t* p, uint32_t* to, int32_t count) {
  int32_t i = 0;
  for (; i + 1 < count; ++i, p += 3) {
    uint32_t v = 0;
    std::memcpy(&v, p, 4);
    to[i] = 0xFF000000u | __builtin_bswap32(v) >> 8;
  }
  if (i < count) to[i] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

#if defined(__x86_64__)
// The same four pixels at a time with a byte shuffle: 16 bytes are read for
// 12, so the last pixels go the plain way.
__attribute__((target("ssse3"))) void RgbRowShuffled(const uint8_t* p, uint32_t* to, int32_t count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  int32_t i = 0;
  for (; i + 6 <= count; i += 4, p += 12) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_or_si128(_mm_shuffle_epi8(bytes, order), alpha));
  }
  RgbRowPlain(p, to + i, count - i);
}
#endif

void RgbRow(const uint8_t* p, uint32_t* to, int32_t count) {
#if defined(__x86_64__)
  static const bool shuffle = __builtin_cpu_supports("ssse3");
  if (shuffle) return RgbRowShuffled(p, to, count);
#endif
  RgbRowPlain(p, to, count);
}

}  // namespace

void Raster::CopyPixels(const uint8_t* rows, int32_t pitch, int32_t format, int32_t width, int32_t height,
                        int64_t x, int64_t y) {
  int64_t x0 = std::max<int64_t>(x, _clipX0), x1 = std::min<int64_t>(x + width, _clipX1);
  int64_t y0 = std::max<int64_t>(y, _clipY0), y1 = std::min<int64_t>(y + height, _clipY1);
  // A waiting fill that the copy covers whole would only be overwritten.
  if (_clearPending && x0 <= _clearX0 && x1 >= _clearX1 && y0 <= _clearY0 && y1 >= _clearY1)
    _clearPending = false;
  Flush();
  if (x0 >= x1 || y0 >= y1) return;
  auto count = static_cast<int32_t>(x1 - x0);
  for (int64_t py = y0; py < y1; ++py) {
    const uint8_t* from = rows + std::ptrdiff_t(py - y) * pitch;
    uint32_t* to = _pixels + std::ptrdiff_t(py) * _stride + x0;
    if (format == 4) {
      RgbRow(from + (x0 - x) * 3, to, count);
    } else if (format == 6) {
      const uint8_t* p = from + (x0 - x) * 4;
      for (int32_t i = 0; i < count; ++i, p += 4) {
        to[i] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
      }
    } else {
      const uint8_t* p = from + (x0 - x) * 4;
      for (int32_t i = 0; i < count; ++i, p += 4) {
        uint32_t v = 0;
        std::memcpy(&v, p, 4);
        to[i] = 0xFF000000u | v;
      }
    }
  }
}

void Raster::ReadPixels(int64_t x, int64_t y, int32_t width, int32_t height, uint8_t* rgba, int32_t pitch) {
  Flush();
  for (int32_t j = 0; j < height; ++j) {
    uint8_t* out = rgba + std::ptrdiff_t(j) * pitch;
    std::memset(out, 0, std::size_t(width) * 4);
    int64_t py = y + j;
    if (py < 0 || py >= _height) continue;
    int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + width, _width);
    const uint32_t* row = _pixels + std::ptrdiff_t(py) * _stride;
    for (int64_t px = x0; px < x1; ++px) {
      uint32_t v = row[px];
      uint8_t* o = out + (px - x) * 4;
      o[0] = static_cast<uint8_t>(v >> 16);
      o[1] = static_cast<uint8_t>(v >> 8);
      o[2] = static_cast<uint8_t>(v);
      o[3] = 255;
    }
  }
}

}  // namespace vrl::soft

#include "lith2d/Collision.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"

namespace vrl {

const ClassRecord& TQuad::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TQuad>("TQuad", [](auto& d) {
    d.template Field<&TQuad::link>("link");
    d.template Field<&TQuad::id>("id");
    d.template Field<&TQuad::mask>("mask");
    d.template Field<&TQuad::frame>("frame");
    d.template Field<&TQuad::minx>("minx");
    d.template Field<&TQuad::miny>("miny");
    d.template Field<&TQuad::maxx>("maxx");
    d.template Field<&TQuad::maxy>("maxy");
    d.template Field<&TQuad::xyuv>("xyuv", "[]f");
    d.template Method<&TQuad::SetCoords>("SetCoords");
  });
  return record;
}

void TQuad::SetCoords(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3) {
  if (xyuv.IsNull() || xyuv->Length() != 16) xyuv = Array::New("f", 16);
  const std::array<float, 16> values = {x0, y0, 0, 0, x1, y1, 1, 0, x2, y2, 1, 1, x3, y3, 0, 1};
  std::memcpy(xyuv->Data(), values.data(), sizeof(values));
  minx = std::min({x0, x1, x2, x3});
  maxx = std::max({x0, x1, x2, x3});
  miny = std::min({y0, y1, y2, y3});
  maxy = std::max({y0, y1, y2, y3});
}

namespace {

constexpr int32_t kLayers = 32;
constexpr int32_t kMaxChannels = 4;

struct CollisionState {
  std::array<Ref<TQuad>, kLayers> layers;
  Ref<TQuad> pool;
  float ix = 0, iy = 0, jx = 0, jy = 0;
  std::vector<int32_t> span;  // the span test's buffer; only grows
};

CollisionState& C() {
  static auto* state = new CollisionState;
  return *state;
}

Ref<TQuad> TakeQuad() {
  CollisionState& c = C();
  if (c.pool.IsNull()) return New<TQuad>();
  Ref<TQuad> quad = c.pool;
  c.pool = quad->link;
  quad->link = Ref<TQuad>();
  return quad;
}

// Lets go of what the quad refers to, so ids and masks are not kept alive by
// the pool, and pushes it onto the pool.
void ReturnQuad(TQuad* quad) {
  CollisionState& c = C();
  quad->id = Ref<Object>();
  quad->mask = Ref<TPixmap>();
  quad->link = c.pool;
  c.pool = Ref<TQuad>(quad);
}

// ---------------------------------------------------------------------------
// The scan converter: polygons of `count` points with `channels` values each
// (x and y first), walked line by line. Each polygon keeps a left and a right
// edge; their values at a line are the start values (moved on by half a
// step) plus the per-line step times the lines since the edge began, so the
// scan may start below the top without walking the lines above.

struct rpoly {
  TPixmap* texture = nullptr;  // mask of four bytes a pixel, or nullptr
  const float* data = nullptr;
  int32_t channels = 0;
  int32_t count = 0;  // points
  int32_t size = 0;   // values
  std::array<float, kMaxChannels> ldat{}, ladd{}, rdat{}, radd{};
  int64_t lline = 0, rline = 0;  // the lines the edges began on
  int32_t Left = 0, Right = 0;
  int64_t top = 0;
  int32_t state = 0;  // 0 waiting, 1 active, 2 finished

  const float* Point(int32_t point) const { return data + std::ptrdiff_t(point) * channels; }
  int64_t LineOf(int32_t point) const { return SaturatingInt(Point(point)[1]); }
  float LeftAt(int32_t channel, int64_t y) const {
    return ldat[channel] + ladd[channel] * static_cast<float>(y - lline);
  }
  float RightAt(int32_t channel, int64_t y) const {
    return rdat[channel] + radd[channel] * static_cast<float>(y - rline);
  }
};

// Walks from `from` in direction `step` past the points whose line is not
// below y; sets the edge to the next point and returns false when the walk
// came back to its start or the edge is less than a line high.
bool NextEdge(rpoly& p, int32_t& from, int32_t step, int64_t y, std::array<float, kMaxChannels>& dat,
              std::array<float, kMaxChannels>& add, int64_t& line) {
  int32_t point = from;
  int32_t steps = 0;
  int32_t next = (point + step + p.count) % p.count;
  while (p.LineOf(next) <= y) {
    point = next;
    if (++steps >= p.count) return false;
    next = (point + step + p.count) % p.count;
  }
  int64_t height = p.LineOf(next) - p.LineOf(point);
  if (height < 1) return false;
  const float* a = p.Point(point);
  const float* b = p.Point(next);
  for (int32_t c = 0; c < p.channels; ++c) {
    add[c] = (b[c] - a[c]) / static_cast<float>(height);
    dat[c] = a[c] + add[c] * 0.5f;
  }
  line = p.LineOf(point);
  from = next;
  return true;
}

// Makes every polygon run the same way round and finds its top point.
void Prepare(rpoly& p, std::vector<float>& storage) {
  int32_t n = p.count;
  const int32_t ch = p.channels;
  auto at = [&](int32_t i) { return p.data + std::ptrdiff_t(i) * ch; };
  bool reverse = true;
  for (int32_t i = 2; i < n && reverse; ++i) {
    float cross = (at(i)[0] - at(i - 1)[0]) * (at(i - 1)[1] - at(0)[1]) -
                  (at(i - 1)[0] - at(0)[0]) * (at(i)[1] - at(i - 1)[1]);
    if (!(cross >= 0)) reverse = false;
  }
  if (reverse) {
    storage.assign(p.data, p.data + p.size);
    for (int32_t i = 0; i < n; ++i) {
      std::copy(at(n - 1 - i), at(n - i), storage.begin() + std::ptrdiff_t(i) * ch);
    }
    p.data = storage.data();
  }
  int32_t topPoint = 0;
  for (int32_t i = 1; i < n; ++i) {
    if (p.LineOf(i) < p.LineOf(topPoint)) topPoint = i;
  }
  p.top = p.LineOf(topPoint);
  p.Left = p.Right = topPoint;
  p.state = 0;
}

// Scans lines first to last (both within the polygons' own range) and calls
// `callback(active, count, y)` on each line with an active polygon; a
// negative result stops the scan and is returned.
template <class Callback>
int32_t ScanPolys(rpoly* polys, int32_t polyCount, int64_t first, int64_t last, Callback&& callback) {
  std::array<std::vector<float>, 2> storage;
  int64_t least = INT64_MAX, greatest = INT64_MIN;
  for (int32_t k = 0; k < polyCount; ++k) {
    Prepare(polys[k], storage[static_cast<std::size_t>(k % 2)]);
    for (int32_t i = 0; i < polys[k].count; ++i) {
      least = std::min(least, polys[k].LineOf(i));
      greatest = std::max(greatest, polys[k].LineOf(i));
    }
  }
  first = std::max(first, least);
  last = std::min(last, greatest - 1);
  std::vector<rpoly*> active;
  active.reserve(static_cast<std::size_t>(polyCount));
  for (int64_t y = first; y <= last; ++y) {
    for (int32_t k = 0; k < polyCount; ++k) {
      rpoly& p = polys[k];
      if (p.state == 2 || (p.state == 0 && y < p.top)) continue;
      bool finished = false;
      if (y >= p.LineOf(p.Left)) finished = !NextEdge(p, p.Left, -1, y, p.ldat, p.ladd, p.lline);
      if (!finished && y >= p.LineOf(p.Right)) {
        finished = !NextEdge(p, p.Right, 1, y, p.rdat, p.radd, p.rline);
      }
      if (finished) {
        if (p.state == 1) active.erase(std::find(active.begin(), active.end(), &p));
        p.state = 2;
      } else if (p.state == 0) {
        p.state = 1;
        active.push_back(&p);
      }
    }
    if (!active.empty()) {
      int32_t result = callback(active.data(), static_cast<int32_t>(active.size()), y);
      if (result < 0) return result;
    }
  }
  return 0;
}

bool MaskSolid(const TPixmap* mask, float u, float v) {
  // Clamped to [0, 1]; a NaN reads the first pixel.
  u = u > 0 ? std::min(u, 1.0f) : 0.0f;
  v = v > 0 ? std::min(v, 1.0f) : 0.0f;
  int32_t px = std::min(static_cast<int32_t>(u * static_cast<float>(mask->width)), mask->width - 1);
  int32_t py = std::min(static_cast<int32_t>(v * static_cast<float>(mask->height)), mask->height - 1);
  uint32_t value = 0;
  std::memcpy(&value, mask->pixels + std::ptrdiff_t(py) * mask->pitch + std::ptrdiff_t(px) * 4, 4);
  return (value & 0x80000000u) != 0;
}

int64_t FieldInt(float value) {
  return std::clamp<int64_t>(SaturatingInt(value), -kCollisionField, kCollisionField);
}

// The per-line test: a pixel of the first two polygons' common span that is
// solid in two of them is a hit.
int32_t SpanTest(rpoly** active, int32_t count, int64_t y) {
  if (count < 2) return 0;
  int64_t start = std::max(FieldInt(active[0]->LeftAt(0, y)), FieldInt(active[1]->LeftAt(0, y)));
  int64_t end = std::min(FieldInt(active[0]->RightAt(0, y)), FieldInt(active[1]->RightAt(0, y)));
  if (end <= start) return 0;
  auto width = static_cast<std::size_t>(end - start);
  std::vector<int32_t>& marks = C().span;
  if (marks.size() < width) marks.resize(width);
  std::fill_n(marks.begin(), width, 0);
  for (int32_t k = 0; k < count; ++k) {
    const rpoly& p = *active[k];
    const TPixmap* mask = p.texture;
    if (!mask) {
      for (std::size_t i = 0; i < width; ++i) {
        if (marks[i]) return -1;
        marks[i] = 1;
      }
      continue;
    }
    int64_t xl = SaturatingInt(p.LeftAt(0, y)), xr = SaturatingInt(p.RightAt(0, y));
    if (xr - xl < 1 || mask->width <= 0 || mask->height <= 0) continue;
    auto range = static_cast<float>(xr - xl);
    float ul = p.LeftAt(2, y), vl = p.LeftAt(3, y);
    float du = (p.RightAt(2, y) - ul) / range, dv = (p.RightAt(3, y) - vl) / range;
    float offset = static_cast<float>(start - xl) + 0.5f;
    float u = ul + du * offset, v = vl + dv * offset;
    for (std::size_t i = 0; i < width; ++i, u += du, v += dv) {
      if (!MaskSolid(mask, u, v)) continue;
      if (marks[i]) return -1;
      marks[i] = 1;
    }
  }
  return 0;
}

bool Finite(const TQuad* q) {
  const float* d = q->xyuv->DataAs<float>();
  for (int32_t i = 0; i < 16; ++i) {
    if (!std::isfinite(d[i])) return false;
  }
  return true;
}

bool QuadsHit(const TQuad* a, const TQuad* b) {
  if (a->maxx < b->minx || a->maxy < b->miny || b->maxx < a->minx || b->maxy < a->miny) return false;
  if (!Finite(a) || !Finite(b)) return false;
  std::array<rpoly, 2> polys;
  const TQuad* quads[2] = {a, b};
  for (std::size_t k = 0; k < 2; ++k) {
    polys[k].texture = quads[k]->mask.IsNull() ? nullptr : quads[k]->mask.get();
    polys[k].data = quads[k]->xyuv->DataAs<float>();
    polys[k].channels = 4;
    polys[k].count = 4;
    polys[k].size = 16;
  }
  // Only lines inside both boxes and the field can hold a shared pixel.
  int64_t first = std::max({int64_t(-kCollisionField), FieldInt(a->miny), FieldInt(b->miny)});
  int64_t last = std::min({int64_t(kCollisionField), FieldInt(a->maxy), FieldInt(b->maxy)});
  return ScanPolys(polys.data(), 2, first, last, SpanTest) < 0;
}

// ---------------------------------------------------------------------------

void PlaceQuad(TQuad* quad, float x, float y, float hx, float hy, float w, float h) {
  CollisionState& c = C();
  float ox = 0, oy = 0;
  if (TLith2DGraphics::Current()) GetDrawOrigin(ox, oy);
  float X = x + ox, Y = y + oy;
  float x0 = X + hx * c.ix + hy * c.iy, y0 = Y + hx * c.jx + hy * c.jy;
  float x1 = X + (hx + w) * c.ix + hy * c.iy, y1 = Y + (hx + w) * c.jx + hy * c.jy;
  float x2 = X + (hx + w) * c.ix + (hy + h) * c.iy, y2 = Y + (hx + w) * c.jx + (hy + h) * c.jy;
  float x3 = X + hx * c.ix + (hy + h) * c.iy, y3 = Y + hx * c.jx + (hy + h) * c.jy;
  quad->SetCoords(x0, y0, x1, y1, x2, y2, x3, y3);
}

Ref<TQuad> ImageQuad(TImage* image, float x, float y, int32_t frame, Object* id) {
  if (!image) ThrowNullObjectException();
  Ref<TPixmap> pixmap = image->Lock(frame, 1, 0);
  Ref<TQuad> quad = TakeQuad();
  quad->id = Ref<Object>(id);
  quad->frame = frame;
  quad->mask = Ref<TPixmap>();
  if (!pixmap.IsNull() && IsPixelFormat(pixmap->format) && AlphaBits[pixmap->format] != 0) {
    // The span test reads four bytes a pixel; other alpha formats are
    // converted rather than read wrongly.
    quad->mask = PixelBytes[pixmap->format] == 4 ? pixmap : pixmap->Convert(PIXFMT_RGBA32);
  }
  PlaceQuad(quad, x, y, -image->HandleX(), -image->HandleY(), static_cast<float>(image->Width()),
            static_cast<float>(image->Height()));
  return quad;
}

Ref<Array> Collide(TQuad* quad, int32_t collidemask, int32_t writemask) {
  CollisionState& c = C();
  Ref<Array> result = Array::New(":Object", 0);
  int32_t hits = 0;
  for (int32_t layer = 0; layer < kLayers; ++layer) {
    if (!(static_cast<uint32_t>(collidemask) & (1u << layer))) continue;
    for (TQuad* other = c.layers[static_cast<std::size_t>(layer)].get(); other; other = other->link.get()) {
      if (!QuadsHit(quad, other)) continue;
      if (hits == result->Length()) {
        auto grown = static_cast<int32_t>(static_cast<double>(hits + 4) * 1.2);
        result = vrSliceArray(":Object", result, 0, grown);
      }
      result->SetObject(hits++, other->id.get());
    }
  }
  for (int32_t layer = 0; layer < kLayers; ++layer) {
    if (!(static_cast<uint32_t>(writemask) & (1u << layer))) continue;
    Ref<TQuad> copy = TakeQuad();
    copy->id = quad->id;
    copy->mask = quad->mask;
    copy->frame = quad->frame;
    const float* d = quad->xyuv->DataAs<float>();
    copy->SetCoords(d[0], d[1], d[4], d[5], d[8], d[9], d[12], d[13]);
    std::memcpy(copy->xyuv->Data(), d, 16 * sizeof(float));
    Ref<TQuad>& head = c.layers[static_cast<std::size_t>(layer)];
    copy->link = head;
    head = copy;
  }
  ReturnQuad(quad);
  if (hits == result->Length()) return result;
  return vrSliceArray(":Object", result, 0, hits);
}

}  // namespace

void ClearCollisionLayers(int32_t mask) {
  CollisionState& c = C();
  auto bits = mask == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(mask);
  for (int32_t layer = 0; layer < kLayers; ++layer) {
    if (!(bits & (1u << layer))) continue;
    Ref<TQuad>& head = c.layers[static_cast<std::size_t>(layer)];
    while (!head.IsNull()) {
      Ref<TQuad> quad = head;
      head = quad->link;
      ReturnQuad(quad);
    }
  }
}

Ref<Array> CollideImageLayers(TImage* image, float x, float y, int32_t frame, int32_t collidemask,
                              int32_t writemask, Object* id) {
  Ref<TQuad> quad = ImageQuad(image, x, y, frame, id);
  return Collide(quad, collidemask, writemask);
}

Ref<Array> CollideRectLayers(float x, float y, float width, float height, int32_t collidemask,
                             int32_t writemask, Object* id) {
  Ref<TQuad> quad = TakeQuad();
  quad->id = Ref<Object>(id);
  quad->mask = Ref<TPixmap>();
  quad->frame = 0;
  PlaceQuad(quad, x, y, 0, 0, width, height);
  return Collide(quad, collidemask, writemask);
}

int32_t ImagesOverlap(TImage* image1, float x1, float y1, int32_t frame1, TImage* image2, float x2, float y2,
                      int32_t frame2) {
  constexpr int32_t kLayer31 = static_cast<int32_t>(1u << 31);
  ClearCollisionLayers(kLayer31);
  CollideImageLayers(image1, x1, y1, frame1, 0, kLayer31, nullptr);
  Ref<Array> hits = CollideImageLayers(image2, x2, y2, frame2, kLayer31, 0, nullptr);
  return hits->Length() > 0 ? 1 : 0;
}

int32_t ImagesOverlapTransformed(TImage* image1, float x1, float y1, int32_t frame1, float rot1, float sx1,
                                 float sy1, TImage* image2, float x2, float y2, int32_t frame2, float rot2,
                                 float sx2, float sy2) {
  float rot = GetDrawRotation();
  float sx = 1, sy = 1;
  GetDrawScale(sx, sy);
  constexpr int32_t kLayer31 = static_cast<int32_t>(1u << 31);
  Ref<Array> hits;
  try {
    ClearCollisionLayers(kLayer31);
    SetDrawTransform(rot1, sx1, sy1);
    CollideImageLayers(image1, x1, y1, frame1, 0, kLayer31, nullptr);
    SetDrawTransform(rot2, sx2, sy2);
    hits = CollideImageLayers(image2, x2, y2, frame2, kLayer31, 0, nullptr);
  } catch (...) {
    // The rotation and scale in force are put back also on failure.
    SetDrawTransform(rot, sx, sy);
    throw;
  }
  SetDrawTransform(rot, sx, sy);
  return hits->Length() > 0 ? 1 : 0;
}

void SetCollisionTransform(float ix, float iy, float jx, float jy) {
  CollisionState& c = C();
  c.ix = ix;
  c.iy = iy;
  c.jx = jx;
  c.jy = jy;
}

void GetCollisionTransform(float& ix, float& iy, float& jx, float& jy) {
  const CollisionState& c = C();
  ix = c.ix;
  iy = c.iy;
  jx = c.jx;
  jy = c.jy;
}

int32_t CollisionLayerCount(int32_t layer) {
  if (layer < 0 || layer >= kLayers) ThrowArrayBoundsException();
  int32_t n = 0;
  for (TQuad* q = C().layers[static_cast<std::size_t>(layer)].get(); q; q = q->link.get()) ++n;
  return n;
}

int32_t CollisionPoolCount() {
  int32_t n = 0;
  for (TQuad* q = C().pool.get(); q; q = q->link.get()) ++n;
  return n;
}

}  // namespace vrl

// The collision layers, with images made through the recording driver (no
// display). Rotated and scaled images are checked against a pixel reference
// computed here from the same placement rules.
#include "lith2d/Collision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "lith2d/testing/LoggingDriver.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

constexpr int32_t kAll = 0;

class CollisionTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    SelectGraphicsDriver(LoggingLith2DDriver(), 2);
    graphics_ = OpenGraphics(320, 200, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
    ClearCollisionLayers(kAll);
  }
  void TearDown() override {
    ClearCollisionLayers(kAll);
    ShutdownGraphics();
  }

 public:
  // An image whose pixel (x, y) has the alpha that `alpha` gives.
  template <class Alpha>
  static Ref<TImage> Shape(int32_t w, int32_t h, Alpha alpha) {
    Ref<TPixmap> p = NewPixmap(w, h, PIXFMT_RGBA32, 4);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x)
        p->WritePixel(x, y, static_cast<int32_t>(alpha(x, y) << 24 | 0x336699u));
    }
    return TImage::Load(p, IMAGEFLAG_MASKED, 0, 0, 0);
  }

 protected:
  static Ref<Array> Rect(float x, float y, float w, float h, int32_t collide, int32_t write,
                         Object* id = nullptr) {
    return CollideRectLayers(x, y, w, h, collide, write, id);
  }

  Ref<TGraphics> graphics_;
};

TEST_F(CollisionTest, ClearingEmptiesOnlyTheChosenLayersAndReusesTheQuads) {
  Rect(0, 0, 10, 10, 0, 0xF);
  Rect(50, 0, 10, 10, 0, 1 << 2);
  EXPECT_EQ(CollisionLayerCount(0), 1);
  EXPECT_EQ(CollisionLayerCount(2), 2);
  int32_t pooled = CollisionPoolCount();
  ClearCollisionLayers(4);
  EXPECT_EQ(CollisionLayerCount(2), 0);
  EXPECT_EQ(CollisionLayerCount(0), 1);
  EXPECT_EQ(CollisionLayerCount(1), 1);
  EXPECT_EQ(CollisionLayerCount(3), 1);
  EXPECT_EQ(CollisionPoolCount(), pooled + 2);
  EXPECT_EQ(Rect(0, 0, 10, 10, 1 << 2, 0)->Length(), 0) << "a cleared layer holds nothing";
  EXPECT_EQ(Rect(0, 0, 10, 10, 1 << 1, 0)->Length(), 1);
  ClearCollisionLayers(kAll);
  for (int32_t layer = 0; layer < 32; ++layer) EXPECT_EQ(CollisionLayerCount(layer), 0);
  pooled = CollisionPoolCount();
  Rect(0, 0, 10, 10, 0, 0x3);
  EXPECT_EQ(CollisionPoolCount(), pooled - 2) << "written quads come from the pool";
  EXPECT_THROW(CollisionLayerCount(32), ThrownObject);
}

TEST_F(CollisionTest, RectanglesCollideWhenTheyShareAPixel) {
  Ref<String> a = u"a"_vs, b = u"b"_vs;
  Rect(0, 0, 10, 10, 0, 1, a);
  EXPECT_EQ(Rect(10, 0, 10, 10, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(0, 10, 10, 10, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(-10, -10, 10, 10, 1, 0)->Length(), 0);
  Ref<Array> hit = Rect(9, 0, 10, 10, 1, 0);
  ASSERT_EQ(hit->Length(), 1) << "one shared column";
  EXPECT_EQ(hit->GetObject(0), a.get());
  EXPECT_EQ(Rect(0, 9, 10, 10, 1, 0)->Length(), 1) << "one shared row";
  EXPECT_EQ(Rect(3, 3, 1, 1, 1, 0)->Length(), 1) << "inside";
  EXPECT_EQ(Rect(9, 0, 10, 10, 2, 0)->Length(), 0) << "only the layers of the mask are tested";
  // The ids of every touched quad, from every tested layer.
  Rect(5, 5, 10, 10, 0, 2, b);
  Ref<Array> both = Rect(8, 8, 2, 2, 3, 0);
  ASSERT_EQ(both->Length(), 2);
  EXPECT_EQ(both->GetObject(0), a.get());
  EXPECT_EQ(both->GetObject(1), b.get());
  // Many hits grow the result past its first size.
  ClearCollisionLayers(kAll);
  for (int32_t i = 0; i < 40; ++i) Rect(float(i), 0, 1, 1, 0, 1);
  EXPECT_EQ(Rect(0, 0, 40, 1, 1, 0)->Length(), 40);
  EXPECT_EQ(Rect(0.5f, 0, 3, 1, 1, 0)->Length(), 3) << "x from 0.5 covers pixels 0 to 2";
}

TEST_F(CollisionTest, PlacementFollowsTheOriginAndTheImageHandle) {
  Ref<TImage> solid = Shape(10, 10, [](int32_t, int32_t) { return 255u; });
  SetDrawOrigin(100, 50);
  Rect(0, 0, 10, 10, 0, 1);
  SetDrawOrigin(0, 0);
  EXPECT_EQ(Rect(109, 50, 1, 1, 1, 0)->Length(), 1);
  EXPECT_EQ(Rect(110, 50, 1, 1, 1, 0)->Length(), 0);
  // The image handle is the point placed at the position.
  solid->SetHandle(5, 5);
  EXPECT_EQ(CollideImageLayers(solid, 115, 50, 0, 1, 0, nullptr)->Length(), 0);
  EXPECT_EQ(CollideImageLayers(solid, 114, 50, 0, 1, 0, nullptr)->Length(), 1);
}

TEST_F(CollisionTest, TransparentPixelsNeverCollide) {
  // Left half alpha 127, right half alpha 128: only the right half is solid.
  Ref<TImage> half = Shape(10, 10, [](int32_t x, int32_t) { return x < 5 ? 127u : 128u; });
  CollideImageLayers(half, 0, 0, 0, 0, 1, nullptr);
  for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(Rect(float(x), 0, 1, 10, 1, 0)->Length(), 0) << x;
  for (int32_t x = 5; x < 10; ++x) EXPECT_EQ(Rect(float(x), 0, 1, 10, 1, 0)->Length(), 1) << x;
  // Two images with the same holes, one pixel apart, share no solid pixel
  // although their boxes overlap.
  Ref<TImage> comb = Shape(9, 4, [](int32_t x, int32_t) { return x % 2 ? 0u : 255u; });
  EXPECT_EQ(ImagesOverlap(comb, 0, 0, 0, comb, 1, 0, 0), 0);
  EXPECT_EQ(ImagesOverlap(comb, 0, 0, 0, comb, 2, 0, 0), 1);
  EXPECT_EQ(ImagesOverlap(comb, 0, 0, 0, comb, 0, 3, 0), 1);
  EXPECT_EQ(ImagesOverlap(comb, 0, 0, 0, comb, 0, 4, 0), 0);
}

TEST_F(CollisionTest, AlphaOnlyMasksAreConvertedNotReadAsFourBytes) {
  // One byte of alpha a pixel: columns 0 to 3 clear, 4 to 7 solid.
  Ref<TPixmap> a8 = NewPixmap(8, 8, PIXFMT_A8, 1);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) a8->PixelPtr(x, y)[0] = x < 4 ? 0 : 255;
  Ref<TImage> image = TImage::Create(8, 8, 1, IMAGEFLAG_MASKED, 0, 0, 0);
  image->SetPixmap(0, a8);
  CollideImageLayers(image, 0, 0, 0, 0, 1, nullptr);
  EXPECT_EQ(Rect(0, 0, 4, 8, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(3, 7, 2, 1, 1, 0)->Length(), 1);
  EXPECT_EQ(Rect(7, 0, 1, 1, 1, 0)->Length(), 1);
  // Without alpha the image is a solid rectangle.
  Ref<TPixmap> grey = NewPixmap(8, 8, PIXFMT_GREY8, 1);
  grey->ClearPixels(0);
  Ref<TImage> plain = TImage::Create(8, 8, 1, 0, 0, 0, 0);
  plain->SetPixmap(0, grey);
  ClearCollisionLayers(kAll);
  CollideImageLayers(plain, 0, 0, 0, 0, 1, nullptr);
  EXPECT_EQ(Rect(0, 0, 1, 1, 1, 0)->Length(), 1);
}

TEST_F(CollisionTest, AShapeIsNotReportedAgainstItself) {
  Ref<String> first = u"first"_vs, second = u"second"_vs;
  EXPECT_EQ(Rect(0, 0, 10, 10, 1, 1, first)->Length(), 0);
  Ref<Array> hits = Rect(0, 0, 10, 10, 1, 1, second);
  ASSERT_EQ(hits->Length(), 1);
  EXPECT_EQ(hits->GetObject(0), first.get());
  EXPECT_EQ(CollisionLayerCount(0), 2);
}

TEST_F(CollisionTest, WithoutATransformEveryQuadCollapsesToItsOrigin) {
  SetCollisionTransform(0, 0, 0, 0);  // as before any graphics was current
  Rect(0, 0, 10, 10, 0, 1);
  EXPECT_EQ(Rect(0, 0, 10, 10, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(-5, -5, 10, 10, 1, 0)->Length(), 0);
  // The next transform update of the drawing layer sets the matrix.
  SetDrawTransform(30, 2, 0.5f);
  float ix = 0, iy = 0, jx = 0, jy = 0, dix = 0, diy = 0, djx = 0, djy = 0;
  GetCollisionTransform(ix, iy, jx, jy);
  LoggingLith2DDriver()->GetTransform(dix, diy, djx, djy);
  EXPECT_EQ(ix, dix);
  EXPECT_EQ(iy, diy);
  EXPECT_EQ(jx, djx);
  EXPECT_EQ(jy, djy);
  EXPECT_NE(ix, 0);
  SetDrawTransform(0, 1, 1);
  EXPECT_EQ(Rect(0, 0, 10, 10, 1, 0)->Length(), 0) << "the collapsed quad stays collapsed";
  Rect(0, 0, 10, 10, 0, 1);
  EXPECT_EQ(Rect(0, 0, 10, 10, 1, 0)->Length(), 1);
}

TEST_F(CollisionTest, TransformedOverlapRestoresRotationAndScale) {
  Ref<TImage> bar = Shape(20, 2, [](int32_t, int32_t) { return 255u; });
  bar->SetHandle(10, 1);
  SetDrawTransform(10, 1.5f, 0.75f);
  // A horizontal and a vertical bar cross; two parallel bars 5 apart do not.
  EXPECT_EQ(ImagesOverlapTransformed(bar, 50, 50, 0, 0, 1, 1, bar, 50, 50, 0, 90, 1, 1), 1);
  EXPECT_EQ(ImagesOverlapTransformed(bar, 50, 50, 0, 90, 1, 1, bar, 55, 50, 0, 90, 1, 1), 0);
  EXPECT_EQ(ImagesOverlapTransformed(bar, 50, 50, 0, 90, 1, 1, bar, 54, 50, 0, 90, 1, 4), 1)
      << "scaled to 4 pixels wide, the second bar reaches the first";
  EXPECT_FLOAT_EQ(GetDrawRotation(), 10);
  float sx = 0, sy = 0;
  GetDrawScale(sx, sy);
  EXPECT_FLOAT_EQ(sx, 1.5f);
  EXPECT_FLOAT_EQ(sy, 0.75f);
  EXPECT_THROW(ImagesOverlapTransformed(bar, 0, 0, 0, 0, 1, 1, bar, 0, 0, 5, 0, 1, 1), ThrownObject);
  EXPECT_FLOAT_EQ(GetDrawRotation(), 10) << "restored when the second image has no such frame";
}

TEST_F(CollisionTest, HostileSizesAndTransformsAreSafe) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Rect(0, 0, 10, 10, 0, 1);
  EXPECT_EQ(Rect(nan, 0, 10, 10, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(0, 0, inf, 10, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(-inf, -inf, inf, inf, 1, 0)->Length(), 0);
  EXPECT_EQ(Rect(0, 0, nan, nan, 1, 0)->Length(), 0);
  // Huge finite shapes are scanned only where both boxes and the field meet.
  EXPECT_EQ(Rect(-1e30f, -1e30f, 2e30f, 2e30f, 1, 2)->Length(), 1);
  EXPECT_EQ(Rect(-3e38f, -3e38f, 3e38f, 3e38f, 2, 0)->Length(), 1);
  EXPECT_EQ(Rect(1e30f, 1e30f, 10, 10, 2, 0)->Length(), 0) << "outside the field";
  // Zero, huge and non-finite scales on a masked image: its solid middle
  // pixel is collapsed, far from the rectangle at (0, 0) or not finite.
  Ref<TImage> dot = Shape(3, 3, [](int32_t x, int32_t y) { return x == 1 && y == 1 ? 255u : 0u; });
  for (float scale : {0.0f, 1e-30f, 1e6f, 1e30f, -1e6f, inf, nan}) {
    SetDrawScale(scale, scale);
    EXPECT_EQ(CollideImageLayers(dot, 5, 5, 0, 1, 0, nullptr)->Length(), 0) << scale;
  }
  SetDrawScale(0, 0);
  EXPECT_EQ(CollideImageLayers(dot, 5, 5, 0, 3, 0, nullptr)->Length(), 0);
  // The worst case: a mask whose solid pixel lies outside the field, over a
  // shape that fills it, is sampled at every pixel of the field once.
  SetDrawScale(1e6f, 1e6f);
  EXPECT_EQ(CollideImageLayers(dot, 5, 5, 0, 2, 0, nullptr)->Length(), 0);
  // The solid middle pixel, a million screen pixels wide, covers everything
  // in the field near it.
  EXPECT_EQ(CollideImageLayers(dot, -1.5e6f, -1.5e6f, 0, 1, 0, nullptr)->Length(), 1);
  SetDrawTransform(nan, 1, 1);
  EXPECT_EQ(CollideImageLayers(dot, 5, 5, 0, 3, 0, nullptr)->Length(), 0);
  SetDrawTransform(0, 1, 1);
  Ref<TImage> empty = TImage::Create(0, 0, 1, IMAGEFLAG_MASKED, 0, 0, 0);
  EXPECT_EQ(CollideImageLayers(empty, 5, 5, 0, 3, 0, nullptr)->Length(), 0);
  EXPECT_THROW(CollideImageLayers(nullptr, 5, 5, 0, 3, 0, nullptr), ThrownObject);
  // An image too large for a pixmap fails as making its pixmap fails.
  Ref<TImage> huge = TImage::Create(100000, 100000, 1, IMAGEFLAG_MASKED, 0, 0, 0);
  EXPECT_THROW(CollideImageLayers(huge, 0, 0, 0, 3, 1, nullptr), ThrownObject);
  EXPECT_EQ(CollisionLayerCount(0), 1) << "nothing written";
}

// ---------------------------------------------------------------------------
// The reference. A point p of the screen belongs to an image placed at
// (x, y) + origin with handle (hx, hy) and matrix M when the local point
// M^-1 (p - (x, y)) + (hx, hy) lies inside the image and the mask pixel at
// its floor has alpha of 128 or more. The scan converter works in whole lines
// and truncated pixel columns, so where a pixel lies within a margin of a
// shape's edge or of a hole's edge the two may legitimately disagree. The
// reference therefore samples each image on a grid of quarter pixels and
// calls a pixel surely solid when every sample within kMargin of its centre
// is solid, possibly solid when any is. A pair surely overlaps when some
// pixel is surely solid in both (the layers must report a hit), and is
// surely apart when no pixel is possibly solid in both (they must not);
// other pairs differ only on boundary pixels and are not compared.

constexpr double kMargin = 1.0;
constexpr double kStep = 0.25;

struct Placed {
  TImage* image;
  float x, y, rot, sx, sy;
};

struct Coverage {
  int32_t x0, y0, w, h;              // the pixels covered
  std::vector<uint8_t> sure, maybe;  // per pixel
};

Coverage Cover(const Placed& p, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  SetDrawTransform(p.rot, p.sx, p.sy);
  float ix = 0, iy = 0, jx = 0, jy = 0;
  LoggingLith2DDriver()->GetTransform(ix, iy, jx, jy);
  double det = double(ix) * jy - double(iy) * jx;
  Ref<TPixmap> mask = p.image->Lock(0, 1, 0);
  // Samples on a grid of kStep from (x0 - kMargin, y0 - kMargin).
  const int32_t per = static_cast<int32_t>(1 / kStep);
  const int32_t pad = static_cast<int32_t>(kMargin / kStep);
  const int32_t gw = w * per + 2 * pad + 1, gh = h * per + 2 * pad + 1;
  std::vector<int32_t> sum(std::size_t(gw + 1) * std::size_t(gh + 1), 0);
  auto at = [&](int32_t i, int32_t j) -> int32_t& { return sum[std::size_t(j) * std::size_t(gw + 1) + i]; };
  for (int32_t j = 0; j < gh; ++j) {
    for (int32_t i = 0; i < gw; ++i) {
      double px = x0 + 0.5 - kMargin + i * kStep - p.x, py = y0 + 0.5 - kMargin + j * kStep - p.y;
      double lx = (px * jy - py * iy) / det + p.image->HandleX();
      double ly = (py * ix - px * jx) / det + p.image->HandleY();
      bool solid = lx >= 0 && ly >= 0 && lx < p.image->Width() && ly < p.image->Height() &&
                   (static_cast<uint32_t>(mask->ReadPixel(int32_t(lx), int32_t(ly))) >> 24) >= 128;
      at(i + 1, j + 1) = at(i, j + 1) + at(i + 1, j) - at(i, j) + (solid ? 1 : 0);
    }
  }
  Coverage c{
      x0, y0, w, h, std::vector<uint8_t>(std::size_t(w) * h), std::vector<uint8_t>(std::size_t(w) * h)};
  const int32_t window = 2 * pad + 1;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int32_t i = x * per, j = y * per;
      int32_t n = at(i + window, j + window) - at(i, j + window) - at(i + window, j) + at(i, j);
      c.sure[std::size_t(y) * w + x] = n == window * window;
      c.maybe[std::size_t(y) * w + x] = n > 0;
    }
  }
  return c;
}

// 1 surely overlapping, 0 surely apart, -1 undecided.
int32_t Reference(const Placed& a, const Placed& b) {
  const int32_t x0 = 0, y0 = 0, w = 128, h = 128;
  Coverage ca = Cover(a, x0, y0, w, h), cb = Cover(b, x0, y0, w, h);
  bool sure = false, maybe = false;
  for (std::size_t i = 0; i < ca.sure.size(); ++i) {
    sure = sure || (ca.sure[i] && cb.sure[i]);
    maybe = maybe || (ca.maybe[i] && cb.maybe[i]);
  }
  return sure ? 1 : maybe ? -1 : 0;
}

// Masks with holes, none of them symmetric: a disc with a hole off its
// centre, an off-centre cross and a block with a notch.
std::vector<Ref<TImage>> HoledImages() {
  std::vector<Ref<TImage>> images = {
      CollisionTest::Shape(12, 12,
                           [](int32_t x, int32_t y) {
                             int32_t dx = 2 * x - 11, dy = 2 * y - 11, hx = 2 * x - 13, hy = 2 * y - 9;
                             return dx * dx + dy * dy <= 121 && hx * hx + hy * hy >= 25 ? 255u : 0u;
                           }),
      CollisionTest::Shape(
          11, 11, [](int32_t x, int32_t y) { return (x >= 2 && x <= 4) || (y >= 6 && y <= 8) ? 200u : 20u; }),
      CollisionTest::Shape(10, 7,
                           [](int32_t x, int32_t y) { return x >= 2 && x <= 4 && y <= 3 ? 0u : 255u; }),
  };
  images[0]->SetHandle(6, 6);
  images[1]->SetHandle(0, 0);
  images[2]->SetHandle(2.5f, 7);
  return images;
}

TEST_F(CollisionTest, RotatedAndScaledImagesMatchThePixelReference) {
  std::mt19937 random(20261209);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  std::vector<Ref<TImage>> images = HoledImages();
  const float angles[] = {0, 15, 30, 45, 60, 90, 135, 200, 270, 333};
  int32_t decided = 0, hits = 0, misses = 0;
  const int32_t cases = 120;
  for (int32_t n = 0; n < cases; ++n) {
    auto pick = [&]() {
      Placed p{images[random() % images.size()].get(), static_cast<float>(uniform(50, 64)),
               static_cast<float>(uniform(50, 64)),    angles[random() % std::size(angles)],
               static_cast<float>(uniform(1.5, 3.0)),  static_cast<float>(uniform(1.5, 3.0))};
      return p;
    };
    Placed a = pick(), b = pick();
    int32_t expected = Reference(a, b);
    SetDrawTransform(0, 1, 1);
    int32_t got = ImagesOverlapTransformed(a.image, a.x, a.y, 0, a.rot, a.sx, a.sy, b.image, b.x, b.y, 0,
                                           b.rot, b.sx, b.sy);
    if (expected < 0) continue;
    ++decided;
    (expected ? hits : misses)++;
    EXPECT_EQ(got, expected) << "case " << n << ": " << a.x << "," << a.y << " rot " << a.rot << " scale "
                             << a.sx << "x" << a.sy << " against " << b.x << "," << b.y << " rot " << b.rot
                             << " scale " << b.sx << "x" << b.sy;
  }
  // The comparison means something only if it decided many cases of both
  // kinds.
  EXPECT_GE(decided, cases / 2);
  EXPECT_GE(hits, 10);
  EXPECT_GE(misses, 10);
}

}  // namespace

namespace {

// Every hole and edge of a rotated and scaled image, probed with small
// rectangles placed without rotation: a probe over a surely solid pixel must
// hit, one over no possibly solid pixel must not.
TEST_F(CollisionTest, ProbesFindTheHolesOfTransformedImages) {
  std::vector<Ref<TImage>> images = HoledImages();
  int32_t decided = 0, hits = 0, misses = 0;
  const float angles[] = {0, 20, 45, 90, 160, 250, 300};
  const float scales[][2] = {{1, 1}, {2, 2}, {3, 1.5f}, {1.25f, 2.75f}};
  for (std::size_t n = 0; n < images.size() * std::size(angles); ++n) {
    Placed p{images[n % images.size()].get(),
             60.5f,
             58.25f,
             angles[n % std::size(angles)],
             scales[n % std::size(scales)][0],
             scales[n % std::size(scales)][1]};
    Coverage c = Cover(p, 0, 0, 128, 128);
    ClearCollisionLayers(kAll);
    SetDrawTransform(p.rot, p.sx, p.sy);
    CollideImageLayers(p.image, p.x, p.y, 0, 0, 1, nullptr);
    SetDrawTransform(0, 1, 1);
    for (int32_t py = 20; py < 100; py += 3) {
      for (int32_t px = 20; px < 100; px += 3) {
        bool sure = false, maybe = false;
        for (int32_t y = py; y < py + 2; ++y) {
          for (int32_t x = px; x < px + 2; ++x) {
            sure = sure || c.sure[std::size_t(y) * 128 + x];
            maybe = maybe || c.maybe[std::size_t(y) * 128 + x];
          }
        }
        if (sure == maybe) {
          ++decided;
          (sure ? hits : misses)++;
          EXPECT_EQ(Rect(float(px), float(py), 2, 2, 1, 0)->Length(), sure ? 1 : 0)
              << "image " << n % images.size() << " rot " << p.rot << " scale " << p.sx << "x" << p.sy
              << " probe " << px << "," << py;
        }
      }
    }
  }
  EXPECT_GE(hits, 200);
  EXPECT_GE(misses, 1000);
}

}  // namespace

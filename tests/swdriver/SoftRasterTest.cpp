// The software renderer on its own, in a plain buffer: coverage rules at
// pixel centres, the clip, the blend arithmetic of each mode, texture
// sampling at and past the edges, and pixel copies of each row format.
#include "swdriver/SoftRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lith2d/Lith2D.h"

using namespace vrl;
using namespace vrl::soft;

namespace {

class SoftRasterTest : public testing::Test {
 protected:
  void SetUp() override { Reset(0xFF000000u); }
  void Reset(uint32_t value) {
    raster_.Flush();  // nothing waiting lands on the new picture
    pixels_.assign(std::size_t(kW) * kH, value);
    raster_.Attach(pixels_.data(), kW, kH, kW);
  }
  // The pixels as shown: what waits (a clear, sprites) is drawn first.
  uint32_t At(int32_t x, int32_t y) {
    raster_.Flush();
    return pixels_[std::size_t(y) * kW + std::size_t(x)];
  }
  int Count(uint32_t value) {
    raster_.Flush();
    return CountAsIs(value);
  }
  // The buffer as it is, with what waits not drawn.
  int CountAsIs(uint32_t value) const {
    int n = 0;
    for (uint32_t p : pixels_) n += p == value;
    return n;
  }
  void Rect(float x0, float y0, float x1, float y1) {
    const Point2 corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    raster_.FillPolygon(corners, 4);
  }

  static constexpr int32_t kW = 64, kH = 48;
  std::vector<uint32_t> pixels_;
  Raster raster_;
};

TEST(Mul255Test, IsTheRoundedProductForEveryPair) {
  for (uint32_t x = 0; x < 256; ++x) {
    for (uint32_t y = 0; y < 256; ++y) {
      auto expected = static_cast<uint32_t>(std::lround(double(x) * double(y) / 255.0));
      ASSERT_EQ(Mul255(x, y), expected) << x << " * " << y;
    }
  }
}

TEST_F(SoftRasterTest, ShapesCoverThePixelsWhoseCentresAreInside) {
  raster_.SetBlend(BLEND_SOLID);
  Rect(2, 3, 7, 5);  // pixels 2..6 x 3..4
  EXPECT_EQ(Count(0xFFFFFFFFu), 10);
  EXPECT_EQ(At(2, 3), 0xFFFFFFFFu);
  EXPECT_EQ(At(6, 4), 0xFFFFFFFFu);
  EXPECT_EQ(At(7, 4), 0xFF000000u);
  EXPECT_EQ(At(6, 5), 0xFF000000u);
  // Two rectangles sharing an edge cover every pixel once: light would add
  // twice where a pixel were drawn twice. Rows: centres 10.5 to 20.5.
  Reset(0xFF000000u);
  raster_.SetBlend(BLEND_LIGHT);
  raster_.SetColor(100, 100, 100);
  Rect(10.5f, 10.25f, 20.5f, 20.75f);
  Rect(20.5f, 10.25f, 30.5f, 20.75f);
  EXPECT_EQ(Count(0xFF646464u), 20 * 11);
  EXPECT_EQ(Count(0xFFC8C8C8u), 0);
  // Reversed winding covers the same pixels.
  Reset(0xFF000000u);
  raster_.SetBlend(BLEND_SOLID);
  const Point2 backwards[4] = {{2, 3}, {2, 5}, {7, 5}, {7, 3}};
  raster_.FillPolygon(backwards, 4);
  EXPECT_EQ(Count(0xFF646464u), 10);
}

TEST_F(SoftRasterTest, TriangleAndDegenerateShapes) {
  raster_.SetBlend(BLEND_SOLID);
  const Point2 triangle[3] = {{0, 0}, {10, 0}, {0, 10}};
  raster_.FillPolygon(triangle, 3);
  // Centres (x + .5, y + .5) with x + y + 1 < 10: 45 pixels.
  EXPECT_EQ(Count(0xFFFFFFFFu), 45);
  EXPECT_EQ(At(0, 8), 0xFFFFFFFFu);
  EXPECT_EQ(At(0, 9), 0xFF000000u);
  Reset(0xFF000000u);
  const Point2 line[3] = {{0, 0}, {10, 10}, {20, 20}};
  raster_.FillPolygon(line, 3);
  const Point2 bad[3] = {{0, 0}, {NAN, 10}, {20, 20}};
  raster_.FillPolygon(bad, 3);
  const Point2 huge[4] = {{-1e30f, -1e30f}, {1e30f, -1e30f}, {1e30f, 1e30f}, {-1e30f, 1e30f}};
  EXPECT_EQ(Count(0xFF000000u), kW * kH);
  raster_.FillPolygon(huge, 4);
  EXPECT_EQ(Count(0xFFFFFFFFu), kW * kH) << "a shape far past the buffer is cut to it";
}

TEST_F(SoftRasterTest, ClipCutsFillsClearsAndCopies) {
  raster_.SetClip(10, 5, 4, 3);
  raster_.SetBlend(BLEND_SOLID);
  Rect(0, 0, 64, 48);
  EXPECT_EQ(Count(0xFFFFFFFFu), 12);
  EXPECT_EQ(At(10, 5), 0xFFFFFFFFu);
  EXPECT_EQ(At(13, 7), 0xFFFFFFFFu);
  EXPECT_EQ(At(14, 7), 0xFF000000u);
  raster_.Clear(0x123456);
  raster_.Flush();
  EXPECT_EQ(Count(0xFF123456u), 12) << "clearing keeps to the clip";
  raster_.SetClip(-100, -100, 1000000, 1000000);
  EXPECT_TRUE(raster_.ClipIsWhole());
  raster_.SetClip(100, 100, 5, 5);
  raster_.Clear(0);
  raster_.Flush();
  EXPECT_EQ(Count(0xFF000000u), kW * kH - 12) << "a clip off the buffer is empty";
  raster_.SetClip(INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX);
  Rect(0, 0, 64, 48);
  EXPECT_EQ(Count(0xFFFFFFFFu), 0);
}

TEST_F(SoftRasterTest, AClearWaitsAndIsDoneBeforeAnythingElse) {
  std::vector<uint8_t> rgb(std::size_t(kW) * kH * 3, 7);
  raster_.Clear(0x112233);
  raster_.CopyPixels(rgb.data(), kW * 3, 4, kW, kH, 0, 0);  // covers it: the fill is dropped
  EXPECT_EQ(Count(0xFF070707u), kW * kH);
  raster_.SetClip(0, 0, 10, 10);
  raster_.Clear(0x112233);
  raster_.SetClip(0, 0, kW, kH);
  raster_.CopyPixels(rgb.data(), 3 * 5, 4, 5, 5, 0, 0);  // covers a part: the fill is done first
  EXPECT_EQ(Count(0xFF112233u), 100 - 25) << "with the clip it was given";
  raster_.Clear(0x445566);
  EXPECT_EQ(CountAsIs(0xFF445566u), 0) << "waiting";
  raster_.SetBlend(BLEND_SOLID);
  Rect(0, 0, 1, 1);
  EXPECT_EQ(Count(0xFF445566u), kW * kH - 1) << "a fill comes after the clear";
  raster_.Clear(0x000001);
  std::vector<uint8_t> out(4);
  raster_.ReadPixels(3, 3, 1, 1, out.data(), 4);
  EXPECT_EQ(out[2], 1) << "reading sees the clear";
  raster_.Clear(0x000002);
  raster_.Flush();
  EXPECT_EQ(Count(0xFF000002u), kW * kH);
}

TEST_F(SoftRasterTest, BlendModesOnAFill) {
  struct Case {
    int32_t blend;
    uint32_t expected;
  } cases[] = {
      {BLEND_SOLID, 0xFFC80032u},
      {BLEND_ALPHA, 0xFF96324Bu},  // round(200 x 127/255) + round(100 x 128/255), ...
      {BLEND_LIGHT, 0xFFC8647Du},
      {BLEND_SHADE, 0xFF4E0014u},  // round(100 x 200 / 255), 0, round(100 x 50 / 255)
      {99, 0xFFC80032u},           // unknown modes draw solid
  };
  for (const Case& c : cases) {
    Reset(0xFF646464u);
    raster_.SetBlend(c.blend);
    raster_.SetColor(200, 0, 50);
    raster_.SetAlpha(127);
    Rect(0, 0, 1, 1);
    EXPECT_EQ(At(0, 0), c.expected) << "blend " << c.blend;
    EXPECT_EQ(At(1, 0), 0xFF646464u);
  }
  // Light saturates.
  Reset(0xFFF0F0F0u);
  raster_.SetBlend(BLEND_LIGHT);
  raster_.SetAlpha(255);
  raster_.SetColor(100, 100, 100);
  Rect(0, 0, 1, 1);
  EXPECT_EQ(At(0, 0), 0xFFFFFFFFu);
  // Mask draws from alpha 128 (0.5 or more).
  Reset(0xFF000000u);
  raster_.SetBlend(BLEND_MASK);
  raster_.SetAlpha(127);
  Rect(0, 0, 1, 1);
  raster_.DrawLine(0.5f, 2.5f, 10.5f, 2.5f, 1);
  EXPECT_EQ(Count(0xFF000000u), kW * kH);
  raster_.SetAlpha(128);
  Rect(0, 0, 1, 1);
  EXPECT_EQ(At(0, 0), 0xFF646464u);
}

TEST_F(SoftRasterTest, LinesLeaveOutTheirLastPixel) {
  raster_.SetBlend(BLEND_SOLID);
  raster_.DrawLine(2.5f, 3.5f, 12.5f, 3.5f, 1);
  EXPECT_EQ(Count(0xFFFFFFFFu), 10);
  EXPECT_EQ(At(2, 3), 0xFFFFFFFFu);
  EXPECT_EQ(At(11, 3), 0xFFFFFFFFu);
  EXPECT_EQ(At(12, 3), 0xFF000000u);
  Reset(0xFF000000u);
  raster_.DrawLine(12.5f, 3.5f, 2.5f, 3.5f, 1);  // backwards: 12 down to 3
  EXPECT_EQ(At(12, 3), 0xFFFFFFFFu);
  EXPECT_EQ(At(2, 3), 0xFF000000u);
  EXPECT_EQ(Count(0xFFFFFFFFu), 10);
  Reset(0xFF000000u);
  raster_.DrawLine(5.5f, 5.5f, 15.5f, 25.5f, 1);  // y-major: one pixel a row
  EXPECT_EQ(Count(0xFFFFFFFFu), 20);
  for (int32_t y = 5; y < 25; ++y) {
    int lit = 0;
    for (int32_t x = 0; x < kW; ++x) lit += At(x, y) == 0xFFFFFFFFu;
    EXPECT_EQ(lit, 1) << y;
  }
  Reset(0xFF000000u);
  raster_.DrawLine(10.5f, 20.5f, 30.5f, 20.5f, 4);  // a band of four rows
  EXPECT_EQ(Count(0xFFFFFFFFu), 80);
  EXPECT_EQ(At(10, 18), 0xFFFFFFFFu);
  EXPECT_EQ(At(10, 21), 0xFFFFFFFFu);
  EXPECT_EQ(At(10, 22), 0xFF000000u);
  Reset(0xFF000000u);
  raster_.DrawLine(-1e30f, 1.5f, 1e30f, 1.5f, 1);
  EXPECT_EQ(Count(0xFFFFFFFFu), kW) << "a line far past the buffer is cut to it";
  raster_.DrawPoint(NAN, 3);
  raster_.DrawLine(NAN, 1, 2, 3, 1);
  EXPECT_EQ(Count(0xFFFFFFFFu), kW);
}

Texture Gradient(int32_t w, int32_t h, bool filtered) {
  Texture t;
  t.width = w;
  t.height = h;
  t.filtered = filtered;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      t.texels.push_back(0x80000000u | uint32_t(x * 16) << 16 | uint32_t(y * 16) << 8 | 0x40u);
  return t;
}

TEST_F(SoftRasterTest, UnscaledTexturesCopyTheirTexels) {
  for (bool filtered : {false, true}) {
    Reset(0xFF000000u);
    Texture t = Gradient(8, 8, filtered);
    raster_.SetBlend(BLEND_SOLID);
    const Point2 quad[4] = {{10, 20}, {13, 20}, {13, 22}, {10, 22}};
    raster_.TexturedQuad(quad, 4, 5, 7, 7, t);
    EXPECT_EQ(Count(0xFF000000u), kW * kH - 6);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(At(10 + x, 20 + y), t.texels[std::size_t((5 + y) * 8 + 4 + x)] | 0xFF000000u) << filtered;
    // The same through the general path (mirrored source): the same texels.
    Reset(0xFF000000u);
    raster_.TexturedQuad(quad, 7, 5, 4, 7, t);
    EXPECT_EQ(At(10, 20), t.texels[5 * 8 + 6] | 0xFF000000u) << filtered;
    EXPECT_EQ(At(12, 21), t.texels[6 * 8 + 4] | 0xFF000000u) << filtered;
  }
}

TEST_F(SoftRasterTest, SamplingClampsAndFilters) {
  Texture t = Gradient(4, 4, false);
  raster_.SetBlend(BLEND_SOLID);
  // Scaled by two, nearest: each texel covers 2 x 2 pixels; past the edge
  // the last texel repeats.
  const Point2 quad[4] = {{0, 0}, {12, 0}, {12, 2}, {0, 2}};
  raster_.TexturedQuad(quad, 0, 0, 6, 1, t);
  EXPECT_EQ(At(0, 0), t.texels[0] | 0xFF000000u);
  EXPECT_EQ(At(3, 1), t.texels[1] | 0xFF000000u);
  EXPECT_EQ(At(11, 0), t.texels[3] | 0xFF000000u) << "clamped to the edge";
  // Filtered: halfway between two texels is their mean.
  Texture f = Gradient(4, 4, true);
  Reset(0xFF000000u);
  const Point2 wide[4] = {{0, 0}, {8, 0}, {8, 1}, {0, 1}};
  raster_.TexturedQuad(wide, 0, 0.5f, 4, 1.5f, f);
  // Pixel 2's centre is at s = 1.25, a quarter of texel 0 and three
  // quarters of texel 1 (red 0 and 16).
  uint32_t red = At(2, 0) >> 16 & 255;
  EXPECT_NEAR(static_cast<int>(red), 12, 1);
  EXPECT_EQ(At(0, 0) >> 16 & 255, 0u) << "clamped at the left edge";
  EXPECT_EQ(At(7, 0) >> 16 & 255, 48u) << "clamped at the right edge";
}

TEST_F(SoftRasterTest, TexelsBlendWithTheirAlphaAndTheColour) {
  Texture t = Gradient(4, 4, false);  // alpha 128
  const Point2 quad[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  Reset(0xFF646464u);
  raster_.SetBlend(BLEND_ALPHA);
  raster_.TexturedQuad(quad, 2, 1, 3, 2, t);  // texel (32, 16, 64, a 128)
  uint32_t ia = 127;
  uint32_t expected = 0xFF000000u | (Mul255(32, 128) + Mul255(100, ia)) << 16 |
                      (Mul255(16, 128) + Mul255(100, ia)) << 8 | (Mul255(64, 128) + Mul255(100, ia));
  EXPECT_EQ(At(0, 0), expected);
  // Colour and alpha modulate the texel: alpha 128 x 127 / 255 = 64 fails
  // the mask test, 128 x 255 passes.
  Reset(0xFF000000u);
  raster_.SetBlend(BLEND_MASK);
  raster_.SetAlpha(127);
  raster_.TexturedQuad(quad, 2, 1, 3, 2, t);
  EXPECT_EQ(At(0, 0), 0xFF000000u);
  raster_.SetAlpha(255);
  raster_.SetColor(255, 0, 128);
  raster_.TexturedQuad(quad, 2, 1, 3, 2, t);
  EXPECT_EQ(At(0, 0), 0xFF000000u | 32u << 16 | Mul255(64, 128));
  // A broken texture draws nothing.
  Texture empty;
  empty.width = 4;
  empty.height = 4;
  Reset(0xFF000000u);
  raster_.TexturedQuad(quad, 0, 0, 1, 1, empty);
  EXPECT_EQ(Count(0xFF000000u), kW * kH);
}

// Sprites wait to be drawn a few at a time; drawn at once instead (a Flush
// after each call), every pixel must come out the same: the order, the
// blend, the tint and the clip of each draw kept, whatever comes between.
TEST(SoftRasterSpritesTest, WaitingSpritesDrawAsIfDrawnAtOnce) {
  constexpr int32_t kW = 96, kH = 64;
  Texture sheet = Gradient(8, 8, false);
  for (std::size_t i = 0; i < sheet.texels.size(); i += 3) sheet.texels[i] &= 0x00FFFFFFu;  // clear texels
  for (std::size_t i = 1; i < sheet.texels.size(); i += 5) sheet.texels[i] |= 0xFF000000u;  // opaque ones
  Texture big = Gradient(32, 32, false);
  std::vector<uint32_t> waited(std::size_t(kW) * kH, 0xFF203040u), atOnce = waited;
  Raster a, b;
  a.Attach(waited.data(), kW, kH, kW);
  b.Attach(atOnce.data(), kW, kH, kW);
  uint32_t seed = 12345;
  auto next = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  const int32_t blends[] = {BLEND_MASK, BLEND_SOLID, BLEND_ALPHA, BLEND_LIGHT, BLEND_SHADE};
  for (int step = 0; step < 4000; ++step) {
    const uint32_t kind = next(100);
    auto both = [&](auto&& call) {
      call(a);
      call(b);
      b.Flush();
    };
    if (kind < 80) {
      // A 1 x 1 to 4 x 4 sprite, clipped at the edges now and then.
      auto x = float(int32_t(next(kW + 6)) - 3), y = float(int32_t(next(kH + 6)) - 3);
      auto w = float(1 + next(4)), h = float(1 + next(4)), s = float(next(4)), t = float(next(4));
      const Point2 quad[4] = {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
      both([&](Raster& r) { r.TexturedQuad(quad, s, t, s + w, t + h, sheet); });
    } else if (kind < 84) {
      const int32_t blend = blends[next(5)];
      both([&](Raster& r) { r.SetBlend(blend); });
    } else if (kind < 88) {
      const auto red = uint8_t(next(256)), alpha = uint8_t(next(2) ? 255 : next(256));
      both([&](Raster& r) {
        r.SetColor(red, 200, 90);
        r.SetAlpha(alpha);
      });
    } else if (kind < 91) {
      const auto x = int64_t(next(kW / 2)), y = int64_t(next(kH / 2)), w = int64_t(next(2) ? kW : 20);
      both([&](Raster& r) { r.SetClip(x, y, w, kH); });
    } else if (kind < 94) {
      // Larger than a sprite: drawn at once, after the waiting ones.
      auto x = float(next(kW)), y = float(next(kH));
      const Point2 quad[4] = {{x, y}, {x + 20, y}, {x + 20, y + 18}, {x, y + 18}};
      both([&](Raster& r) { r.TexturedQuad(quad, 0, 0, 20, 18, big); });
    } else if (kind < 96) {
      auto x = float(next(kW)), y = float(next(kH));
      const Point2 quad[4] = {{x, y}, {x + 5, y}, {x + 5, y + 3}, {x, y + 3}};
      both([&](Raster& r) { r.FillPolygon(quad, 4); });
    } else if (kind < 97) {
      both([&](Raster& r) { r.Clear(0x102030); });
    } else {
      // Scaled: the general path, which must wait for the queued ones.
      auto x = float(int32_t(next(kW)) - 8), y = float(int32_t(next(kH)) - 8);
      const Point2 quad[4] = {{x, y}, {x + 24, y}, {x + 24, y + 24}, {x, y + 24}};
      both([&](Raster& r) { r.TexturedQuad(quad, 0, 0, 4, 4, sheet); });
    }
    // Often enough that a wrong order shows before later draws cover it.
    if (step % 16 == 15) {
      a.Flush();
      ASSERT_EQ(waited, atOnce) << "by step " << step;
    }
  }
  // Reading sees the waiting sprites without a Flush.
  const Point2 quad[4] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}};
  a.SetBlend(BLEND_SOLID);
  a.SetColor(255, 255, 255);
  a.SetAlpha(255);
  a.SetClip(0, 0, kW, kH);
  a.TexturedQuad(quad, 1, 0, 2, 1, sheet);
  uint8_t rgba[4] = {};
  a.ReadPixels(1, 1, 1, 1, rgba, 4);
  EXPECT_EQ(uint32_t(rgba[0]) << 16 | uint32_t(rgba[1]) << 8 | rgba[2], sheet.texels[1] & 0xFFFFFFu);
}

// RGB rows are converted several pixels at a time where the processor
// allows: every width and start, cut by the clip or not, gives each pixel its
// own bytes, and no byte past the row is read (the rows are exactly as long
// as their pixels, which the sanitizer build checks).
TEST_F(SoftRasterTest, RgbRowsOfEveryWidthCopyEachPixel) {
  for (int32_t width = 1; width <= 40; ++width) {
    for (int32_t x : {0, 3, -1, -5, kW - 7}) {
      std::vector<uint8_t> row(std::size_t(width) * 3);
      for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 7 + width);
      Reset(0xFF000000u);
      raster_.CopyPixels(row.data(), width * 3, 4, width, 1, x, 2);
      for (int32_t px = 0; px < kW; ++px) {
        const int32_t i = px - x;
        const uint32_t expected = i >= 0 && i < width ? 0xFF000000u | uint32_t(row[3 * i]) << 16 |
                                                            uint32_t(row[3 * i + 1]) << 8 | row[3 * i + 2]
                                                      : 0xFF000000u;
        ASSERT_EQ(At(px, 2), expected) << "width " << width << ", at " << x << ", pixel " << px;
      }
      ASSERT_EQ(Count(0xFF000000u), kW * kH - std::clamp(std::min(width + x, kW) - std::max(x, 0), 0, kW));
    }
  }
}

TEST_F(SoftRasterTest, CopiesAndReadsEachRowFormat) {
  const uint8_t rgb[2 * 3 + 2] = {1, 2, 3, 4, 5, 6, 0, 0};  // one row, pitch 8
  raster_.CopyPixels(rgb, 8, 4, 2, 1, 5, 6);
  EXPECT_EQ(At(5, 6), 0xFF010203u);
  EXPECT_EQ(At(6, 6), 0xFF040506u);
  const uint8_t rgba[8] = {10, 20, 30, 0, 40, 50, 60, 7};
  raster_.CopyPixels(rgba, 8, 6, 2, 1, -1, 0);  // first pixel left of the buffer
  EXPECT_EQ(At(0, 0), 0xFF28323Cu);
  const uint8_t bgra[4] = {3, 2, 1, 0};
  raster_.CopyPixels(bgra, 4, 5, 1, 1, 63, 47);
  EXPECT_EQ(At(63, 47), 0xFF010203u);
  raster_.CopyPixels(bgra, 4, 5, 1, 1, 64, 47);  // wholly outside: nothing
  raster_.CopyPixels(bgra, 4, 5, 1, 1, INT32_MIN, INT32_MAX);

  std::vector<uint8_t> out(std::size_t(3) * 2 * 4, 0xEE);
  raster_.ReadPixels(4, 6, 3, 2, out.data(), 12);
  EXPECT_EQ(out[4], 1);
  EXPECT_EQ(out[5], 2);
  EXPECT_EQ(out[6], 3);
  EXPECT_EQ(out[7], 255);
  raster_.ReadPixels(62, 46, 3, 2, out.data(), 12);
  EXPECT_EQ(out[12 + 4 + 2], 3) << "(63, 47)";
  EXPECT_EQ(out[12 + 8 + 3], 0) << "past the edge reads 0";
}

}  // namespace

// The software 2D driver in a virtual X display: each scene is drawn once
// through the OpenGL driver and once through the software driver, and the
// two pictures read back with GrabPixmap are compared. Opaque copies and
// unscaled images must match exactly, blending within one level a channel;
// shapes, lines and transformed images may differ only where OpenGL's
// fixed-point rasteriser and the float one here round a pixel centre lying
// on an edge differently, which the counts below bound.
#include "swdriver/SoftLith2DDriver.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "gldriver/GLLith2DDriver.h"
#include "gldriver/GraphicsBackends.h"
#include "graphics/Graphics.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "platform/Window.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "tests/support/ComparePixmaps.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

constexpr int32_t kWidth = 320, kHeight = 240;

uint32_t Pixel(TPixmap* p, int32_t x, int32_t y) { return static_cast<uint32_t>(p->ReadPixel(x, y)); }

// A pixmap of deterministic noise; alpha from `alphaLow` up.
Ref<TPixmap> Noise(int32_t w, int32_t h, int32_t format, uint32_t seed, int32_t alphaLow = 255) {
  Ref<TPixmap> p = NewPixmap(w, h, format, 4);
  uint32_t state = seed;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      uint32_t alpha = static_cast<uint32_t>(alphaLow) + (state >> 8) % static_cast<uint32_t>(256 - alphaLow);
      p->WritePixel(x, y, static_cast<int32_t>(alpha << 24 | (state >> 8 & 0xFFFFFF)));
    }
  }
  return p;
}

TGraphicsDriver* DriverNamed(const std::string& name) {
  for (const GraphicsBackend& backend : Lith2DDriverBackends()) {
    if (name == backend.name) return backend.driver();
  }
  return nullptr;
}

// Pixels whose worst channel is more than `tolerance` apart.
int CountOff(TPixmap* a, TPixmap* b, int tolerance) {
  int off = 0;
  for (int32_t y = 0; y < a->height; ++y) {
    for (int32_t x = 0; x < a->width; ++x) {
      auto pa = Pixel(a, x, y), pb = Pixel(b, x, y);
      int worst = 0;
      for (int shift : {0, 8, 16}) {
        worst = std::max(worst,
                         std::abs(static_cast<int>(pa >> shift & 255) - static_cast<int>(pb >> shift & 255)));
      }
      off += worst > tolerance;
    }
  }
  return off;
}

class SoftDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    gl2d::Init();
  }
  void TearDown() override {
    ShutdownGraphics();
    SelectGraphicsDriver(OpenGL2DDriver(), GRAPHICS_BACKBUFFER);
  }

  // Opens a window of the driver with the state reset.
  static bool Open(TGraphicsDriver* driver, int32_t flags = 0) {
    SelectGraphicsDriver(driver, GRAPHICS_BACKBUFFER);
    if (OpenGraphics(kWidth, kHeight, 0, 0, flags).IsNull()) return false;
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlend(BLEND_SOLID);
    SetDrawTransform(0, 1, 1);
    SetDrawOrigin(0, 0);
    SetDrawHandle(0, 0);
    SetViewport(0, 0, kWidth, kHeight);
    SetLineWidth(1);
    Cls();
    return true;
  }

  // The scene drawn through the driver, read back.
  static Ref<TPixmap> Render(TGraphicsDriver* driver, const std::function<void()>& scene) {
    if (!Open(driver)) return Ref<TPixmap>();
    scene();
    Ref<TPixmap> grab = GrabPixmap(0, 0, kWidth, kHeight);
    Flip(0);
    ShutdownGraphics();
    return grab;
  }

  // Software and OpenGL pictures of the scene.
  static void RenderBoth(const std::function<void()>& scene, Ref<TPixmap>& soft, Ref<TPixmap>& gl) {
    soft = Render(Software2DDriver(), scene);
    gl = Render(OpenGL2DDriver(), scene);
    ASSERT_FALSE(soft.IsNull());
    ASSERT_FALSE(gl.IsNull());
  }
};

TEST_F(SoftDriverTest, ChosenByNameOnlyAndDrawsIntoItsOwnWindow) {
  EXPECT_EQ(DriverNamed("Software"), static_cast<TGraphicsDriver*>(Software2DDriver()));
  EXPECT_EQ(SelectedGraphicsDriver(), static_cast<TGraphicsDriver*>(OpenGL2DDriver()))
      << "the software driver is never the default";
  EXPECT_EQ(Software2DDriver()->ToString()->ToUtf8String(), "Software");
  ASSERT_TRUE(Open(Software2DDriver()));
  EXPECT_EQ(CurrentGraphicsWidth(), kWidth);
  EXPECT_EQ(CurrentGraphicsHeight(), kHeight);
  auto* g = CastRaw<TLith2DGraphics>(CurrentGraphics());
  ASSERT_NE(g, nullptr);
  auto* soft = CastRaw<TSoftGraphics>(g->Wrapped());
  ASSERT_NE(soft, nullptr);
  EXPECT_EQ(soft->Driver().get(), static_cast<TGraphicsDriver*>(SoftwareGraphicsDriver()));
  SetClsColor(10, 20, 30);
  Cls();
  Ref<TPixmap> grab = GrabPixmap(0, 0, kWidth, kHeight);
  EXPECT_EQ(Pixel(grab, 0, 0), 0xFF0A141Eu);
  EXPECT_EQ(Pixel(grab, kWidth - 1, kHeight - 1), 0xFF0A141Eu);
  Ref<TPixmap> outside = GrabPixmap(kWidth - 1, -1, 2, 2);
  EXPECT_EQ(Pixel(outside, 0, 1), 0xFF0A141Eu);
  EXPECT_EQ(Pixel(outside, 1, 1), 0u) << "outside the window reads as 0";

  // Flip shows the buffer through the window's surface.
  EXPECT_EQ(Flip(0), 0);
  SDL_Window* window = SDL_GetWindowFromID(soft->WindowId());
  ASSERT_NE(window, nullptr);
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  ASSERT_NE(surface, nullptr);
  EXPECT_FALSE(platform::PresentsThroughTexture(soft->WindowId()));
  uint32_t shown = 0;
  SDL_LockSurface(surface);
  SDL_PixelFormat* format = surface->format;
  uint32_t raw = *static_cast<uint32_t*>(surface->pixels);
  SDL_UnlockSurface(surface);
  uint8_t r = 0, gr = 0, b = 0;
  SDL_GetRGB(raw, format, &r, &gr, &b);
  shown = uint32_t(r) << 16 | uint32_t(gr) << 8 | b;
  EXPECT_EQ(shown, 0x0A141Eu);
  // The buffer keeps its picture across Flip.
  EXPECT_EQ(Pixel(GrabPixmap(5, 5, 1, 1), 0, 0), 0xFF0A141Eu);
  ShutdownGraphics();
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
}

TEST_F(SoftDriverTest, PresentsThroughAStreamingTextureWhenAsked) {
  ASSERT_TRUE(Open(Software2DDriver(), SOFTGRAPHICS_TEXTURE));
  auto* soft = CastRaw<TSoftGraphics>(CastRaw<TLith2DGraphics>(CurrentGraphics())->Wrapped());
  ASSERT_NE(soft, nullptr);
  SetClsColor(200, 100, 50);
  Cls();
  EXPECT_TRUE(soft->Present());
  EXPECT_TRUE(platform::PresentsThroughTexture(soft->WindowId()));
  uint32_t id = soft->WindowId();
  ShutdownGraphics();
  EXPECT_FALSE(platform::PresentsThroughTexture(id)) << "closing gives the renderer back";
  EXPECT_FALSE(soft->Present()) << "a closed graphics shows nothing";
}

TEST_F(SoftDriverTest, AttachesToAWindowOfTheProgram) {
  uint32_t window = platform::OpenPlainWindow("plain", 200, 100);
  ASSERT_NE(window, 0u);
  SelectGraphicsDriver(Software2DDriver(), GRAPHICS_BACKBUFFER);
  Ref<TGraphics> g = AttachGraphics(static_cast<int32_t>(window), 0);
  ASSERT_FALSE(g.IsNull());
  SetGraphics(g);
  EXPECT_EQ(CurrentGraphicsWidth(), 200);
  SetBlend(BLEND_SOLID);
  SetColor(0, 255, 0);
  DrawRect(10, 10, 5, 5);
  EXPECT_EQ(Pixel(GrabPixmap(12, 12, 1, 1), 0, 0), 0xFF00FF00u);
  Flip(0);
  CloseGraphicsContext(g);
  EXPECT_TRUE(platform::WindowExists(window)) << "an attached window stays the program's";
  EXPECT_TRUE(AttachGraphics(987654, 0).IsNull());
  platform::ClosePlainWindow(window);
}

TEST_F(SoftDriverTest, ClosingTheCurrentGraphicsLeavesDrawingHarmless) {
  ASSERT_TRUE(Open(Software2DDriver()));
  Ref<TGraphics> g(CurrentGraphics());
  auto* inner = CastRaw<TLith2DGraphics>(g.get())->Wrapped();
  inner->Close();  // behind the module's back
  DrawRect(0, 0, 50, 50);
  Cls();
  EXPECT_EQ(Flip(0), 0);
  int32_t w = -1, h = -1, d = -1, hz = -1, f = -1;
  inner->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 0);
}

TEST_F(SoftDriverTest, OpaqueCopiesAndUnscaledImagesMatchExactly) {
  Ref<TPixmap> rgb = Noise(50, 40, PIXFMT_RGB24, 1);
  Ref<TPixmap> rgba = Noise(31, 17, PIXFMT_RGBA32, 2, 0);  // alpha ignored by DrawPixmap
  Ref<TPixmap> bgra = Noise(40, 30, PIXFMT_BGRA32, 3);
  Ref<TPixmap> grey = Noise(9, 9, PIXFMT_GREY8, 4);
  Ref<TPixmap> odd = Noise(7, 5, PIXFMT_RGB24, 5);  // rows padded to 24 bytes
  Ref<TPixmap> photo = Noise(17, 13, PIXFMT_RGB24, 6);
  Ref<TPixmap> sheet = Noise(12, 3, PIXFMT_RGBA32, 7);
  auto scene = [&] {
    SetClsColor(30, 60, 90);
    Cls();
    SetColor(10, 200, 30);
    SetDrawScale(3, 3);  // neither colour nor transform reaches DrawPixmap
    DrawPixmap(rgb, 10, 10);
    DrawPixmap(rgba, -5, 100);
    DrawPixmap(bgra, kWidth - 20, kHeight - 10);
    DrawPixmap(grey, 70, 5);
    DrawPixmap(odd, 90, 5);
    SetDrawScale(1, 1);
    SetColor(255, 255, 255);
    Ref<TImage> unfiltered = LoadImageSource(photo, 0);
    DrawImageAt(unfiltered, 100, 60);
    DrawImageAt(unfiltered, -3, 200);
    Ref<TImage> filtered = LoadImageSource(sheet, IMAGEFLAG_FILTERED);
    for (int32_t k = 0; k < 4; ++k)
      DrawImageArea(filtered, static_cast<float>(150 + 5 * k), 30, 3, 3, static_cast<float>(3 * k), 0, 3, 3);
    SetDrawHandle(2, 1);
    DrawImageAt(filtered, 200, 100);
    SetDrawHandle(0, 0);
    SetColor(250, 20, 120);
    DrawRect(220, 10, 40, 20);
    SetDrawOrigin(-10, 5);
    DrawRect(250, 200, 100, 100);
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  EXPECT_TRUE(ComparePixmaps(soft, gl, 0));
}

// The OpenGL driver pads a large batch with empty quads: every sprite of it
// is drawn, and nothing else.
TEST_F(SoftDriverTest, ThousandsOfSpritesInOneBatchMatchExactly) {
  Ref<TPixmap> sheet = Noise(12, 3, PIXFMT_RGBA32, 8);
  auto scene = [&] {
    Ref<TImage> flakes = LoadImageSource(sheet, 0);
    SetDrawOrigin(-2, -2);
    for (int32_t k = 0; k < 2500; ++k) {
      const auto x = static_cast<float>(k * 7 % (kWidth + 1)), y = static_cast<float>(k * 5 % (kHeight + 1));
      DrawImageArea(flakes, x, y, 3, 3, static_cast<float>(3 * (k % 4)), 0, 3, 3);
    }
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  EXPECT_TRUE(ComparePixmaps(soft, gl, 0));
  Ref<TPixmap> black = NewPixmap(kWidth, kHeight, PIXFMT_RGB24, 4);
  EXPECT_GT(CountOff(gl, black, 0), 10000) << "the sprites cover much of the window";
}

TEST_F(SoftDriverTest, BlendModesMatchWithinOneLevel) {
  Ref<TPixmap> translucent = Noise(24, 20, PIXFMT_RGBA32, 11, 0);
  Ref<TPixmap> backdrop = Noise(kWidth, kHeight, PIXFMT_RGB24, 12);
  auto scene = [&] {
    DrawPixmap(backdrop, 0, 0);
    Ref<TImage> image = LoadImageSource(translucent, 0);
    Ref<TImage> filtered = LoadImageSource(translucent, IMAGEFLAG_FILTERED);
    const int32_t blends[] = {BLEND_MASK, BLEND_SOLID, BLEND_ALPHA, BLEND_LIGHT, BLEND_SHADE};
    const float alphas[] = {1.0f, 0.7f, 0.3f};
    const int32_t colours[3][3] = {{255, 255, 255}, {200, 90, 10}, {30, 160, 250}};
    float y = 2;
    for (int32_t blend : blends) {
      SetBlend(blend);
      float x = 2;
      for (float alpha : alphas) {
        for (const auto& c : colours) {
          SetAlpha(alpha);
          SetColor(c[0], c[1], c[2]);
          DrawImageAt(image, x, y);
          DrawImageAt(filtered, x, y + 22);
          DrawRect(x + 4, y + 44, 14, 3);
          x += 35;
        }
      }
      y += 48;
    }
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  EXPECT_TRUE(ComparePixmaps(soft, gl, 1));
}

TEST_F(SoftDriverTest, ShapesLinesAndTextMatch) {
  auto scene = [&] {
    SetClsColor(20, 20, 20);
    Cls();
    SetColor(255, 255, 0);
    DrawRect(10, 10, 30, 20);
    DrawRect(45.5f, 10.25f, 20.5f, 10.5f);
    SetDrawHandle(5, 5);
    DrawRect(80, 20, 10, 10);
    SetDrawHandle(0, 0);
    SetColor(0, 200, 255);
    DrawOval(100, 10, 60, 40);
    DrawOval(170, 10, 4, 4);
    Ref<Array> poly = Array::New("f", 8);
    const float points[8] = {200, 10, 260, 20, 240, 60, 205, 45};
    for (int i = 0; i < 8; ++i) poly->Set<float>(i, points[i]);
    DrawPoly(poly);
    SetColor(255, 80, 80);
    for (int32_t i = 0; i < 20; ++i) Plot(static_cast<float>(10 + 3 * i), 70);
    DrawLine(10, 80, 150, 80);
    DrawLine(10, 85, 10, 140);
    DrawLine(150, 85, 150, 140, 0);
    DrawLine(20, 90, 140, 130);
    DrawLine(30, 140, 60, 90);
    SetLineWidth(3);
    DrawLine(170, 80, 300, 80);
    DrawLine(170, 90, 170, 140);
    SetLineWidth(1);
    SetBlend(BLEND_ALPHA);
    SetAlpha(0.6f);
    DrawOval(200, 100, 80, 50);
    SetAlpha(1);
    SetColor(255, 255, 255);
    DrawString(u"Software 2D!"_vs, 10, 160);
    SetColor(120, 255, 120);
    DrawString(u"AaBbCc 0123"_vs, 10, 180);
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  EXPECT_TRUE(ComparePixmaps(soft->Window(0, 150, kWidth, 90), gl->Window(0, 150, kWidth, 90), 0))
      << "text from the built-in font is exact";
  EXPECT_TRUE(ComparePixmaps(soft->Window(0, 0, 100, 70), gl->Window(0, 0, 100, 70), 0))
      << "rectangles are exact";
  int off = CountOff(soft, gl, 1);
  EXPECT_LE(off, 12) << "pixels on edges of ovals, polygons and slanted lines";
}

TEST_F(SoftDriverTest, RotatedAndScaledImagesSampleLikeOpenGL) {
  Ref<TPixmap> picture = Noise(20, 16, PIXFMT_RGBA32, 21);
  auto scene = [&] {
    SetClsColor(0, 0, 40);
    Cls();
    Ref<TImage> nearest = LoadImageSource(picture, 0);
    Ref<TImage> linear = LoadImageSource(picture, IMAGEFLAG_FILTERED);
    SetDrawScale(2, 2);
    DrawImageAt(nearest, 10, 10);
    DrawImageAt(linear, 60, 10);
    SetDrawScale(3, 1.5f);
    DrawImageAt(linear, 110, 10);
    SetDrawTransform(30, 1, 1);
    DrawImageAt(nearest, 60, 80);
    DrawImageAt(linear, 120, 80);
    SetDrawTransform(-45, 2, 2);
    DrawImageAt(nearest, 200, 120);
    SetDrawTransform(90, 1, 1);
    DrawImageAt(nearest, 60, 180);
    SetDrawTransform(0, 1, 1);
    DrawImageSized(linear, 220, 10, 90, 60);
    DrawImageArea(nearest, 250, 180, 40, 40, 5, 5, 10, 10);
    SetDrawTransform(15, 1, 1);
    SetColor(255, 128, 0);
    DrawRect(250, 100, 30, 20);
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  // Integer scales of unfiltered images are exact.
  EXPECT_TRUE(ComparePixmaps(soft->Window(0, 0, 55, 50), gl->Window(0, 0, 55, 50), 0));
  // Filtered samples agree within a few levels (8-bit weights on both
  // sides); where a centre falls on a texel edge the neighbour may be taken.
  int off = CountOff(soft, gl, 3);
  EXPECT_LE(off, 12) << " pixels differ by more than 3 levels";
  EXPECT_LE(CountOff(soft, gl, 1), 300) << "pixels differ by more than 1 level";
}

TEST_F(SoftDriverTest, MipmappedImagesShrinkFromTheirLevelsLikeOpenGL) {
  Ref<TPixmap> picture = Noise(64, 48, PIXFMT_RGBA32, 41);
  auto scene = [&] {
    Ref<TImage> nearest = LoadImageSource(picture, IMAGEFLAG_MIPMAPPED);
    Ref<TImage> linear = LoadImageSource(picture, IMAGEFLAG_MIPMAPPED | IMAGEFLAG_FILTERED);
    float x = 0;
    for (float scale : {1.0f, 0.5f, 0.25f, 0.7f, 0.3f, 0.1f}) {
      SetDrawScale(scale, scale);
      DrawImageAt(nearest, x, 0);
      DrawImageAt(linear, x, 60);
      x += 64 * scale + 2;
    }
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  // Halving exactly lands on a level: exact without filtering.
  EXPECT_TRUE(ComparePixmaps(soft->Window(0, 0, 66 + 34 + 16, 50), gl->Window(0, 0, 66 + 34 + 16, 50), 0));
  EXPECT_LE(CountOff(soft, gl, 3), 12);
  EXPECT_LE(CountOff(soft, gl, 1), 300);
  // Without levels the noise would alias: the shrunk picture is the mean.
  Ref<TPixmap> flat = Render(Software2DDriver(), [&] {
    Ref<TImage> image = LoadImageSource(picture, 0);
    SetDrawScale(0.25f, 0.25f);
    DrawImageAt(image, 0, 0);
  });
  EXPECT_GT(CountOff(flat->Window(0, 0, 16, 12), soft->Window(66 + 34, 0, 16, 12), 3), 0);
}

TEST_F(SoftDriverTest, ViewportAndLogicalResolutionMatch) {
  Ref<TPixmap> picture = Noise(16, 16, PIXFMT_RGBA32, 31);
  auto scene = [&] {
    SetClsColor(50, 50, 50);
    Cls();
    SetViewport(20, 30, 100, 80);
    SetClsColor(0, 90, 0);
    Cls();
    SetColor(255, 0, 0);
    DrawRect(0, 0, 300, 300);
    SetViewport(0, 0, kWidth, kHeight);
    SetLogicalResolution(160, 120);
    SetColor(0, 0, 255);
    DrawRect(70, 10, 20, 10);
    Ref<TImage> image = LoadImageSource(picture, 0);
    DrawImageAt(image, 100, 60);
    Plot(5, 100);
    SetViewport(100, 0, 60, 30);
    SetColor(255, 255, 255);
    DrawRect(90, 0, 70, 50);
    DrawPixmap(picture, 150, 100);  // device pixels, past the viewport: cut
  };
  Ref<TPixmap> soft, gl;
  RenderBoth(scene, soft, gl);
  EXPECT_TRUE(ComparePixmaps(soft, gl, 0));
}

TEST_F(SoftDriverTest, FramesOfAnEarlierDisplayDrawNothingAndAreRebuilt) {
  ASSERT_TRUE(Open(Software2DDriver()));
  Ref<TPixmap> p = NewPixmap(4, 4, PIXFMT_RGBA32, 4);
  p->ClearPixels(static_cast<int32_t>(0xFF00FF00u));
  Ref<TImage> image = LoadImageSource(p, 0);
  Ref<TImageFrame> first = image->Frame(0);
  ASSERT_NE(CastRaw<TSoftImageFrame>(first), nullptr);
  ShutdownGraphics();
  ASSERT_TRUE(Open(Software2DDriver()));
  first->Draw(0, 0, 4, 4, 10, 10, 0, 0, 4, 4);
  EXPECT_EQ(Pixel(GrabPixmap(11, 11, 1, 1), 0, 0), 0xFF000000u) << "the old frame draws nothing";
  DrawImageAt(image, 10, 10);
  EXPECT_NE(image->Frame(0).get(), first.get());
  EXPECT_EQ(Pixel(GrabPixmap(11, 11, 1, 1), 0, 0), 0xFF00FF00u);
  EXPECT_TRUE(Software2DDriver()->CreateFrameFromPixmap(NewPixmap(0, 0, PIXFMT_RGBA32, 4), 0).IsNull());
}

TEST_F(SoftDriverTest, HostileArgumentsHaveDefinedResults) {
  ASSERT_TRUE(Open(Software2DDriver()));
  SetViewport(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  DrawRect(-1e30f, -1e30f, 3e30f, 3e30f);
  SetViewport(0, 0, kWidth, kHeight);
  DrawOval(0, 0, 1e30f, 1e30f);
  DrawOval(0, 0, NAN, 5);
  DrawLine(NAN, 0, 5, 5);
  Plot(1e30f, -1e30f);
  Ref<TPixmap> big = NewPixmap(2, 2, PIXFMT_RGB24, 4);
  big->ClearPixels(-1);
  DrawPixmap(big, INT32_MAX, INT32_MIN);
  DrawPixmap(big, INT32_MIN, INT32_MAX);
  SetDrawTransform(0, NAN, 1);
  Ref<TImage> image = LoadImageSource(big, 0);
  DrawImageAt(image, 5, 5);
  SetDrawTransform(0, 1, 1);
  EXPECT_THROW(SetLogicalResolution(0, 10), ThrownObject);
  Ref<TPixmap> grab = GrabPixmap(INT32_MIN, INT32_MIN, 4, 4);
  EXPECT_EQ(Pixel(grab, 0, 0), 0u);
  EXPECT_EQ(Software2DDriver()->GrabPixmap(0, 0, 0, 5)->width, 0);
  Flip(0);
}

TEST_F(SoftDriverTest, FullScreenTakesADisplayMode) {
  SelectGraphicsDriver(Software2DDriver(), GRAPHICS_BACKBUFFER);
  Ref<Array> modes = GraphicsModes();
  ASSERT_GT(modes->Length(), 0);
  EXPECT_EQ(HasGraphicsMode(1024, 768, 32, 0), 1);
  ASSERT_FALSE(OpenGraphics(1024, 768, 32, 60, 0).IsNull());
  EXPECT_EQ(CurrentGraphicsDepth(), 32);
  SetClsColor(1, 2, 3);
  Cls();
  EXPECT_EQ(Pixel(GrabPixmap(512, 384, 1, 1), 0, 0), 0xFF010203u);
  Flip(0);
  ShutdownGraphics();
  EXPECT_TRUE(OpenGraphics(1000, 700, 32, 0, 0).IsNull()) << "no such mode";
}

}  // namespace

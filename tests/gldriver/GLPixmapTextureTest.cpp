// DrawPixmap's textures and the driver's frame counters against real OpenGL
// in a virtual X display. A pixmap drawn through its texture must give the
// very pixels of drawing it from memory (glDrawPixels), so every comparison
// here is exact.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "maths/Random.h"
#include "pixmap/Pixmap.h"
#include "runtime/Memory.h"
#include "tests/support/ComparePixmaps.h"
#include "tests/support/StackScrub.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

TGLLith2DDriver* Driver() { return OpenGL2DDriver(); }

// A pixmap of random bytes, also in its row padding.
Ref<TPixmap> Noise(int32_t width, int32_t height, int32_t format, int32_t align = 4) {
  Ref<TPixmap> p = NewPixmap(width, height, format, align);
  for (int32_t i = 0; i < p->capacity; ++i) p->pixels[i] = static_cast<uint8_t>(RandomInt(0, 255));
  p->MarkChanged();
  return p;
}

class GLPixmapTextureTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    gl2d::Init();
    SelectGraphicsDriver(OpenGL2DDriver(), GRAPHICS_BACKBUFFER);
    graphics_ = OpenGraphics(1024, 768, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlend(BLEND_SOLID);
    SetDrawTransform(0, 1, 1);
    SetViewport(0, 0, 1024, 768);
    Driver()->UsePixmapTextures(true);
    Cls();
  }
  void TearDown() override {
    Driver()->UsePixmapTextures(true);
    ShutdownGraphics();
  }

  // The screen after drawing the pixmap at (x, y) over a cleared screen,
  // through its texture or from memory: the part from (0, 0) to the
  // pixmap's far corner and a few pixels beyond.
  static Ref<TPixmap> Drawn(TPixmap* pixmap, int32_t x, int32_t y, bool texture) {
    Driver()->UsePixmapTextures(texture);
    Cls();
    DrawPixmap(pixmap, x, y);
    Driver()->UsePixmapTextures(true);
    return GrabPixmap(0, 0, std::clamp(x + pixmap->width + 8, 1, 1024),
                      std::clamp(y + pixmap->height + 8, 1, 768));
  }

  Ref<TGraphics> graphics_;
};

TEST_F(GLPixmapTextureTest, EveryFormatLooksAsDrawnFromMemory) {
  // Formats 1 to 12; RGB rows whose pitch is no whole number of pixels
  // (aligned to 4, 8 or to what GL cannot step, 5), RGBA rows of odd
  // alignment.
  struct Case {
    int32_t format, width, align;
  } cases[] = {{PIXFMT_GREY8, 37, 4},     {PIXFMT_A8, 37, 4},       {PIXFMT_BGR24, 37, 4},
               {PIXFMT_RGB24, 37, 4},     {PIXFMT_RGB24, 36, 4},    {PIXFMT_RGB24, 37, 8},
               {PIXFMT_RGB24, 37, 5},     {PIXFMT_BGRA32, 37, 4},   {PIXFMT_RGBA32, 37, 4},
               {PIXFMT_RGBA32, 37, 3},    {PIXFMT_R8, 37, 4},       {PIXFMT_G8, 37, 4},
               {PIXFMT_B8, 37, 4},        {PIXFMT_BLACK_A8, 37, 4}, {PIXFMT_INTENSITY8, 37, 4},
               {PIXFMT_LUMINANCE8, 37, 4}};
  for (const Case& c : cases) {
    Ref<TPixmap> p = Noise(c.width, 23, c.format, c.align);
    EXPECT_TRUE(ComparePixmaps(Drawn(p, 100, 50, true), Drawn(p, 100, 50, false), 0))
        << "format " << c.format << " width " << c.width << " align " << c.align;
    EXPECT_NE(Driver()->PixmapTextureName(p), 0) << "format " << c.format;
  }
}

TEST_F(GLPixmapTextureTest, StateThatDoesNotApplyToPixmapsStaysOut) {
  Ref<TPixmap> p = Noise(300, 200, PIXFMT_RGBA32);
  // Colour, alpha, blending, rotation and scale do not apply; the viewport
  // cuts; a logical resolution leaves the pixmap at its size in pixels;
  // parts outside the screen are cut off.
  SetColor(10, 200, 30);
  SetAlpha(0.3f);
  SetBlend(BLEND_SHADE);
  SetDrawTransform(30, 2, 3);
  SetViewport(20, 30, 500, 400);
  for (auto [x, y] : {std::pair{-50, -40}, std::pair{900, 700}, std::pair{33, 77}}) {
    EXPECT_TRUE(ComparePixmaps(Drawn(p, x, y, true), Drawn(p, x, y, false), 0)) << x << ", " << y;
  }
  SetLogicalResolution(512, 384);
  EXPECT_TRUE(ComparePixmaps(Drawn(p, 40, 30, true), Drawn(p, 40, 30, false), 0)) << "logical resolution";
  // The state of the driver is what the layer set, after the pixmap too.
  SetViewport(0, 0, 1024, 768);
  SetLogicalResolution(1024, 768);
  SetDrawTransform(0, 1, 1);
  SetBlend(BLEND_SOLID);
  SetAlpha(1);
  Cls();
  DrawPixmap(p, 0, 0);
  DrawRect(400, 400, 10, 10);
  EXPECT_EQ(static_cast<uint32_t>(GrabPixmap(405, 405, 1, 1)->ReadPixel(0, 0)), 0xFF0AC81Eu)
      << "shapes keep their colour after a pixmap";
}

TEST_F(GLPixmapTextureTest, OnlyWhatChangedIsSentAgain) {
  Ref<TPixmap> picture = Noise(1024, 768, PIXFMT_RGB24);
  Flip(0);
  DrawPixmap(picture, 0, 0);
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes, 1024 * 768 * 3) << "the first draw sends it all";
  Flip(0);
  EXPECT_EQ(Driver()->LastFrameCounters().uploadBytes, 1024 * 768 * 3) << "kept for the last frame";
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes, 0) << "reset by Flip";

  DrawPixmap(picture, 0, 0);
  EXPECT_EQ(Driver()->FrameCounters().uploads, 0) << "an unchanged pixmap sends nothing";
  EXPECT_EQ(Driver()->FrameCounters().drawCalls, 1);
  Flip(0);

  picture->WritePixel(500, 300, 0x123456);
  picture->WritePixel(501, 301, 0x654321);
  DrawPixmap(picture, 0, 0);
  EXPECT_EQ(Driver()->FrameCounters().uploads, 1) << "two rows of one span";
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes, TPixmap::kChangeSpan * 2 * 3);
  EXPECT_EQ(static_cast<uint32_t>(GrabPixmap(500, 300, 1, 1)->ReadPixel(0, 0)), 0xFF123456u);
  EXPECT_EQ(static_cast<uint32_t>(GrabPixmap(501, 301, 1, 1)->ReadPixel(0, 0)), 0xFF654321u);
  Flip(0);

  // Memory written directly and marked.
  picture->PixelPtr(10, 700)[0] = 0xAB;
  picture->MarkChanged(10, 700, 1, 1);
  DrawPixmap(picture, 0, 0);
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes, TPixmap::kChangeSpan * 3);
  EXPECT_EQ(static_cast<uint32_t>(GrabPixmap(10, 700, 1, 1)->ReadPixel(0, 0)) >> 16 & 255, 0xABu);
}

TEST_F(GLPixmapTextureTest, ARunOfChangesMatchesDrawingFromMemory) {
  Ref<TPixmap> picture = Noise(400, 300, PIXFMT_RGB24);
  Ref<TPixmap> window = picture->Window(130, 70, 200, 150);
  Ref<TPixmap> stamp = Noise(40, 30, PIXFMT_RGBA32);
  for (int frame = 0; frame < 40; ++frame) {
    for (int i = 0; i < 30; ++i)
      picture->WritePixel(RandomInt(0, 399), RandomInt(0, 299), RandomInt(0, 1 << 24));
    window->WritePixel(RandomInt(0, 199), RandomInt(0, 149), RandomInt(0, 1 << 24));
    if (frame % 7 == 3) picture->Paste(stamp, RandomInt(0, 360), RandomInt(0, 270));
    if (frame % 13 == 5) window->ClearPixels(RandomInt(0, 1 << 24));
    if (frame == 31) picture->ClearPixels(0x204060);
    int32_t x = RandomInt(-20, 300), y = RandomInt(-20, 200);
    int64_t before = Driver()->FrameCounters().uploadBytes;
    Ref<TPixmap> textured = Drawn(picture, x, y, true);
    int64_t sent = Driver()->FrameCounters().uploadBytes - before;
    ASSERT_TRUE(ComparePixmaps(textured, Drawn(picture, x, y, false), 0)) << "frame " << frame;
    if (frame > 0 && frame != 31) {
      EXPECT_LT(sent, 400 * 300 * 3 / 2) << "frame " << frame;
    }
    // The window is a pixmap of its own, with a texture of its own.
    ASSERT_TRUE(ComparePixmaps(Drawn(window, 5, 5, true), Drawn(window, 5, 5, false), 0))
        << "frame " << frame;
    Flip(0);
  }
}

TEST_F(GLPixmapTextureTest, MemoryThatMovesIsSentWhole) {
  Ref<TPixmap> p = Noise(64, 64, PIXFMT_RGBA32);
  Ref<TPixmap> other = Noise(64, 64, PIXFMT_RGBA32);
  DrawPixmap(p, 0, 0);
  // A pixmap pointed at other memory, without a mark.
  uint8_t* own = p->pixels;
  p->pixels = other->pixels;
  EXPECT_TRUE(ComparePixmaps(Drawn(p, 10, 10, true), Drawn(p, 10, 10, false), 0));
  p->pixels = own;
  EXPECT_TRUE(ComparePixmaps(Drawn(p, 10, 10, true), Drawn(p, 10, 10, false), 0));
  // A pixmap cut down in place gets a texture of its new size.
  p->height = 20;
  EXPECT_TRUE(ComparePixmaps(Drawn(p, 10, 10, true), Drawn(p, 10, 10, false), 0));
}

__attribute__((noinline)) uint32_t DrawAndDropAPixmap() {
  Ref<TPixmap> p = Noise(16, 16, PIXFMT_RGBA32);
  DrawPixmap(p, 0, 0);
  return static_cast<uint32_t>(Driver()->PixmapTextureName(p));
}

TEST_F(GLPixmapTextureTest, TheTextureGoesWithItsPixmap) {
#if defined(VRL_SANITIZE)
  // The sanitizer's code generation leaves stale register copies that the
  // conservative scan keeps; exact frees are checked in the normal build.
  GTEST_SKIP();
#endif
  uint32_t name = DrawAndDropAPixmap();
  ASSERT_NE(name, 0u);
  EXPECT_TRUE(glIsTexture(name));
  ScrubStack();
  GCCollect();
  EXPECT_TRUE(glIsTexture(name)) << "deleted at a safe point, not during the collection";
  Flip(0);
  EXPECT_FALSE(glIsTexture(name)) << "deleted by the next Flip";

  name = DrawAndDropAPixmap();
  ScrubStack();
  GCCollect();
  Ref<TPixmap> next = Noise(8, 8, PIXFMT_RGB24);
  DrawPixmap(next, 0, 0);
  EXPECT_FALSE(glIsTexture(name) && Driver()->PixmapTextureName(next) != static_cast<int32_t>(name))
      << "or by the next DrawPixmap";
  EXPECT_TRUE(ComparePixmaps(GrabPixmap(0, 0, 8, 8), next, 0));
}

TEST_F(GLPixmapTextureTest, APixmapOutlivingItsContextGetsANewTexture) {
  Ref<TPixmap> p = Noise(50, 40, PIXFMT_RGB24);
  DrawPixmap(p, 0, 0);
  auto first = static_cast<uint32_t>(Driver()->PixmapTextureName(p));
  ASSERT_NE(first, 0u);
  ShutdownGraphics();
  graphics_ = OpenGraphics(640, 480, 0, 0, 0);
  ASSERT_FALSE(graphics_.IsNull());
  EXPECT_FALSE(glIsTexture(first)) << "the closed context's textures were deleted";
  EXPECT_EQ(Driver()->PixmapTextureName(p), 0);
  SetBlend(BLEND_SOLID);
  Cls();
  int64_t before = Driver()->FrameCounters().uploadBytes;
  DrawPixmap(p, 7, 9);
  EXPECT_NE(Driver()->PixmapTextureName(p), 0);
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes - before, 50 * 40 * 3) << "sent whole into the new texture";
  EXPECT_TRUE(ComparePixmaps(GrabPixmap(7, 9, 50, 40), p, 0));
}

TEST_F(GLPixmapTextureTest, APixmapTooLargeForATextureIsDrawnFromMemory) {
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  Ref<TPixmap> wide = Noise(maxSize + 1, 2, PIXFMT_RGBA32);
  Flip(0);
  DrawPixmap(wide, -100, 10);
  EXPECT_EQ(Driver()->PixmapTextureName(wide), 0);
  DrawPixmap(wide, -100, 10);
  EXPECT_EQ(Driver()->FrameCounters().uploadBytes, int64_t(maxSize + 1) * 2 * 4 * 2) << "whole, every time";
  // The window has no alpha channel: the screen is opaque.
  EXPECT_TRUE(
      ComparePixmaps(GrabPixmap(0, 10, 1024, 2), wide->Window(100, 0, 1024, 2)->Convert(PIXFMT_RGB24), 0));
}

TEST_F(GLPixmapTextureTest, CountersOfAFrame) {
  // 20000 sprites of one image, one blend mode and one colour over a
  // picture: the picture and one batch.
  Ref<TPixmap> sheet = Noise(12, 3, PIXFMT_RGBA32);
  Ref<TImage> image = LoadImageSource(sheet, -1);
  ASSERT_FALSE(image.IsNull());
  Ref<TPixmap> picture = Noise(1024, 768, PIXFMT_RGB24);
  SetBlend(BLEND_ALPHA);
  DrawImageArea(image, 0, 0, 3, 3, 0, 0, 3, 3, 0, 0, 0);  // makes the texture
  Flip(0);
  for (int frame = 0; frame < 2; ++frame) {
    Cls();
    DrawPixmap(picture, 0, 0);
    for (int i = 0; i < 20000; ++i) {
      DrawImageArea(image, static_cast<float>(i % 1000), static_cast<float>(i % 700), 3, 3,
                    static_cast<float>(i % 4 * 3), 0, 3, 3, 0, 0, 0);
    }
    Flip(0);
  }
  const GLFrameCounters& last = Driver()->LastFrameCounters();
  EXPECT_EQ(last.drawCalls, 2);
  EXPECT_EQ(last.uploads, 0);
  EXPECT_LT(last.stateChanges, 40);

  // Settings equal to the cached ones change nothing.
  SetColor(1, 2, 3);
  SetBlend(BLEND_LIGHT);
  int64_t before = Driver()->FrameCounters().stateChanges;
  SetColor(1, 2, 3);
  SetBlend(BLEND_LIGHT);
  SetAlpha(1);
  EXPECT_EQ(Driver()->FrameCounters().stateChanges, before);
  SetBlend(BLEND_ALPHA);
  EXPECT_EQ(Driver()->FrameCounters().stateChanges, before + 3);
  int64_t draws = Driver()->FrameCounters().drawCalls;
  DrawRect(0, 0, 5, 5);
  Plot(1, 1);
  DrawOval(0, 0, 5, 5);
  EXPECT_EQ(Driver()->FrameCounters().drawCalls, draws + 3);
}

}  // namespace

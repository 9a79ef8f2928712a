// The OpenGL driver against real OpenGL (Xvfb and Mesa's software renderer):
// what is drawn is read back with GrabPixmap and checked pixel by pixel.
#include "gldriver/GLLith2DDriver.h"

#include <gtest/gtest.h>

#include "graphics/Graphics.h"
#include "lith2d/Image.h"
#include "lith2d/ImageFont.h"
#include "lith2d/Lith2D.h"
#include "pixmap/Pixmap.h"
#include "runtime/String.h"
#include "tests/support/ComparePixmaps.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

uint32_t Pixel(TPixmap* p, int32_t x, int32_t y) { return static_cast<uint32_t>(p->ReadPixel(x, y)); }

class GLDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    gl2d::Init();
    ASSERT_EQ(SelectedGraphicsDriver(), static_cast<TGraphicsDriver*>(OpenGL2DDriver()));
    graphics_ = OpenGraphics(1024, 768, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlend(BLEND_SOLID);
    SetDrawTransform(0, 1, 1);
    SetDrawOrigin(0, 0);
    SetDrawHandle(0, 0);
    SetViewport(0, 0, 1024, 768);
    Cls();
  }
  void TearDown() override { ShutdownGraphics(); }

  Ref<TGraphics> graphics_;
};

TEST_F(GLDriverTest, OpensAWindowOfTheAskedSize) {
  EXPECT_EQ(CurrentGraphicsWidth(), 1024);
  EXPECT_EQ(CurrentGraphicsHeight(), 768);
  EXPECT_EQ(CurrentGraphicsDepth(), 0);
  ShutdownGraphics();
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
}

TEST_F(GLDriverTest, ClsUsesTheClearColour) {
  SetClsColor(10, 20, 30);
  Cls();
  Ref<TPixmap> grab = GrabPixmap(0, 0, 1024, 768);
  EXPECT_EQ(Pixel(grab, 0, 0), 0xFF0A141Eu);
  EXPECT_EQ(Pixel(grab, 1023, 767), 0xFF0A141Eu);
}

TEST_F(GLDriverTest, RectWithHandleAndOrigin) {
  SetColor(255, 0, 0);
  SetDrawOrigin(100, 50);
  SetDrawHandle(5, 7);
  DrawRect(10, 10, 20, 20);  // local (-5, -7)..(15, 13) at (110, 60): pixels 105..124, 53..72
  Ref<TPixmap> grab = GrabPixmap(0, 0, 200, 100);
  EXPECT_EQ(Pixel(grab, 105, 53), 0xFFFF0000u);
  EXPECT_EQ(Pixel(grab, 124, 72), 0xFFFF0000u);
  EXPECT_EQ(Pixel(grab, 104, 53), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 125, 72), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 105, 73), 0xFF000000u);
}

TEST_F(GLDriverTest, RotationAndScaleApplyToShapes) {
  SetColor(0, 255, 0);
  SetDrawScale(2, 3);
  DrawRect(10, 10, 5, 5);  // 10 x 15 pixels from (10, 10)
  SetDrawTransform(90, 1, 1);
  DrawRect(100, 100, 20, 10);  // rotated: x from 90 to 100, y from 100 to 120
  Ref<TPixmap> grab = GrabPixmap(0, 0, 200, 200);
  EXPECT_EQ(Pixel(grab, 19, 24), 0xFF00FF00u);
  EXPECT_EQ(Pixel(grab, 20, 24), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 19, 25), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 95, 110), 0xFF00FF00u);
  EXPECT_EQ(Pixel(grab, 105, 110), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 95, 125), 0xFF000000u);
}

TEST_F(GLDriverTest, DrawPixmapIsPlacedTopRowFirst) {
  Ref<TPixmap> p = NewPixmap(3, 2, PIXFMT_RGB24, 4);
  p->WritePixel(0, 0, 0x112233);
  p->WritePixel(2, 0, 0x445566);
  p->WritePixel(0, 1, 0x778899);
  p->WritePixel(1, 0, 0);
  p->WritePixel(1, 1, 0);
  p->WritePixel(2, 1, 0xAABBCC);
  SetColor(0, 0, 255);  // colour and transform do not apply
  SetDrawScale(4, 4);
  DrawPixmap(p, 40, 30);
  Ref<TPixmap> rgba = p->Convert(PIXFMT_RGBA32);
  EXPECT_TRUE(ComparePixmaps(GrabPixmap(40, 30, 3, 2), rgba, 0));
  DrawPixmap(rgba, 600, 700);
  EXPECT_TRUE(ComparePixmaps(GrabPixmap(600, 700, 3, 2), rgba, 0));
}

TEST_F(GLDriverTest, SpriteSheetAreasLikeTheCard) {
  // 12 x 3: four 3 x 3 sprites; sprite k is filled with colour k.
  Ref<TPixmap> sheet = NewPixmap(12, 3, PIXFMT_RGBA32, 4);
  const uint32_t colours[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFF00u};
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 12; ++x) sheet->WritePixel(x, y, static_cast<int32_t>(colours[x / 3]));
  Ref<TImage> image = LoadImageSource(sheet, -1);
  ASSERT_FALSE(image.IsNull());
  EXPECT_EQ(image->Flags(), 3);
  Ref<TImageFrame> frame = image->Frame(0);
  auto* gl = CastRaw<TGLImageFrame>(frame);
  ASSERT_NE(gl, nullptr);
  EXPECT_FLOAT_EQ(gl->U1(), 0.75f);
  EXPECT_FLOAT_EQ(gl->V1(), 0.75f);
  EXPECT_FLOAT_EQ(gl->UScale(), 1.0f / 16);
  SetBlend(BLEND_ALPHA);
  for (int32_t k = 0; k < 4; ++k)
    DrawImageArea(image, static_cast<float>(10 + 10 * k), 10, 3, 3, static_cast<float>(k * 3), 0, 3, 3, 0, 0,
                  0);
  Ref<TPixmap> grab = GrabPixmap(0, 0, 60, 20);
  for (int32_t k = 0; k < 4; ++k) {
    // The sprite and the black column right of it.
    Ref<TPixmap> expected = NewPixmap(4, 3, PIXFMT_RGBA32, 4);
    expected->ClearPixels(static_cast<int32_t>(0xFF000000u));
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 3; ++x) expected->WritePixel(x, y, static_cast<int32_t>(colours[k]));
    EXPECT_TRUE(ComparePixmaps(grab->Window(10 + 10 * k, 10, 4, 3), expected, 0)) << k;
  }
}

TEST_F(GLDriverTest, TextureEdgesAreBled) {
  Ref<TPixmap> p = NewPixmap(12, 3, PIXFMT_RGBA32, 4);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 12; ++x)
      p->WritePixel(x, y, static_cast<int32_t>((x * 20) << 16 | (y * 80) << 8 | 0xFF000000u));
  Ref<TGLImageFrame> frame = TGLImageFrame::CreateFromPixmap(OpenGL2DDriver(), p, 0);
  ASSERT_FALSE(frame.IsNull());
  // Draw the whole 16 x 4 texture 1:1 and read it back.
  OpenGL2DDriver()->SetTransform(1, 0, 0, 1);
  frame->Draw(0, 0, 16, 4, 200, 200, 0, 0, 16, 4);
  Ref<TPixmap> grab = GrabPixmap(200, 200, 16, 4);
  EXPECT_EQ(Pixel(grab, 12, 1), Pixel(grab, 11, 1)) << "column 12 repeats column 11";
  EXPECT_EQ(Pixel(grab, 5, 3), Pixel(grab, 5, 2)) << "row 3 repeats row 2";
  EXPECT_EQ(Pixel(grab, 12, 3), Pixel(grab, 11, 2)) << "the corner repeats (11, 2)";
  EXPECT_EQ(Pixel(grab, 13, 1) & 0xFFFFFF, 0u) << "the rest of the padding stays 0";
  Ref<TGLImageFrame> tiny =
      TGLImageFrame::CreateFromPixmap(OpenGL2DDriver(), NewPixmap(1, 1, PIXFMT_RGBA32, 4), 0);
  EXPECT_FLOAT_EQ(tiny->U1(), 1.0f);
}

TEST_F(GLDriverTest, BlendModes) {
  SetClsColor(100, 100, 100);
  Cls();
  SetColor(200, 0, 50);
  SetAlpha(0.5f);
  const struct {
    int32_t blend;
    uint32_t expected;
  } cases[] = {
      {BLEND_SOLID, 0xFFC80032u},  // alpha ignored
      {BLEND_ALPHA, 0xFF96324Bu},  // 200*.5+100*.5, 0+100*.5, 50*.5+100*.5 (alpha byte 127)
      {BLEND_LIGHT, 0xFFC8647Du},  // 100 + 200*.5, 100 + 0, 100 + 50*.5
      {BLEND_SHADE, 0xFF4E0013u},  // 100 * 200/255, 0, 100 * 50/255
  };
  int32_t x = 0;
  for (const auto& c : cases) {
    SetBlend(c.blend);
    DrawRect(static_cast<float>(x), 0, 10, 10);
    uint32_t got = Pixel(GrabPixmap(x + 5, 5, 1, 1), 0, 0);
    for (int shift : {0, 8, 16}) {
      int a = static_cast<int>((got >> shift) & 255), b = static_cast<int>((c.expected >> shift) & 255);
      EXPECT_NEAR(a, b, 2) << "blend " << c.blend;
    }
    x += 20;
  }
  SetBlend(BLEND_MASK);
  SetAlpha(0.4f);
  DrawRect(200, 0, 10, 10);  // alpha below 0.5: not drawn
  EXPECT_EQ(Pixel(GrabPixmap(205, 5, 1, 1), 0, 0), 0xFF646464u);
  SetAlpha(0.6f);
  DrawRect(200, 0, 10, 10);
  EXPECT_EQ(Pixel(GrabPixmap(205, 5, 1, 1), 0, 0), 0xFFC80032u);
}

TEST_F(GLDriverTest, ViewportScissors) {
  SetViewport(10, 10, 20, 20);
  SetColor(255, 255, 255);
  DrawRect(0, 0, 100, 100);
  Ref<TPixmap> grab = GrabPixmap(0, 0, 40, 40);
  EXPECT_EQ(Pixel(grab, 9, 15), 0xFF000000u);
  EXPECT_EQ(Pixel(grab, 10, 10), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(grab, 29, 29), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(grab, 30, 29), 0xFF000000u);
  SetViewport(0, 0, 1024, 768);
  DrawRect(0, 0, 100, 100);
  EXPECT_EQ(Pixel(GrabPixmap(5, 5, 1, 1), 0, 0), 0xFFFFFFFFu);
}

TEST_F(GLDriverTest, OvalsAndPolygons) {
  SetColor(255, 255, 255);
  DrawOval(100, 100, 100, 60);
  Ref<TPixmap> grab = GrabPixmap(100, 100, 100, 60);
  EXPECT_EQ(Pixel(grab, 50, 30), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(grab, 2, 2), 0xFF000000u) << "corners stay outside the ellipse";
  Ref<Array> five = Array::New("f", 5);
  DrawPoly(five);  // nothing
  Ref<Array> triangle = Array::New("f", 6);
  float points[6] = {300, 300, 340, 300, 300, 340};
  for (int i = 0; i < 6; ++i) triangle->Set<float>(i, points[i]);
  DrawPoly(triangle);
  EXPECT_EQ(Pixel(GrabPixmap(305, 305, 1, 1), 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(GrabPixmap(335, 335, 1, 1), 0, 0), 0xFF000000u);
}

TEST_F(GLDriverTest, TextFromTheBuiltInFont) {
  SetBlend(BLEND_ALPHA);
  SetColor(255, 255, 255);
  DrawString(u"A"_vs, 20, 20);
  EXPECT_EQ(StringWidth(u"AB"_vs), 16);
  EXPECT_EQ(StringHeight(), 16);
  EXPECT_EQ(StringWidth(String::FromUnits(u"\u00C4")), 0) << "no glyph above 127";
  Ref<TPixmap> grab = GrabPixmap(20, 20, 8, 16);
  int lit = 0;
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 8; ++x) lit += Pixel(grab, x, y) == 0xFFFFFFFFu;
  EXPECT_GT(lit, 15);
  EXPECT_LT(lit, 60);
}

TEST_F(GLDriverTest, FramesAreRebuiltAfterTheDisplayIsReopened) {
  Ref<TPixmap> p = NewPixmap(4, 4, PIXFMT_RGBA32, 4);
  p->ClearPixels(static_cast<int32_t>(0xFF00FF00u));
  Ref<TImage> image = LoadImageSource(p, 0);
  Ref<TImageFrame> first = image->Frame(0);
  ASSERT_FALSE(first.IsNull());
  ShutdownGraphics();
  graphics_ = OpenGraphics(640, 480, 0, 0, 0);
  ASSERT_FALSE(graphics_.IsNull());
  SetBlend(BLEND_SOLID);
  Ref<TImageFrame> second = image->Frame(0);
  EXPECT_NE(first.get(), second.get());
  DrawImageAt(image, 10, 10);
  EXPECT_EQ(Pixel(GrabPixmap(11, 11, 1, 1), 0, 0), 0xFF00FF00u);
}

TEST_F(GLDriverTest, ModesAndFullScreen) {
  Ref<Array> modes = GraphicsModes();
  ASSERT_GT(modes->Length(), 0);
  EXPECT_EQ(HasGraphicsMode(1024, 768, 32, 0), 1);
  ShutdownGraphics();
  graphics_ = OpenGraphics(1024, 768, 32, 60, 0);
  ASSERT_FALSE(graphics_.IsNull()) << "Xvfb has no 60 Hz mode: the retry without a rate takes over";
  EXPECT_EQ(CurrentGraphicsDepth(), 32);
  SetClsColor(1, 2, 3);
  Cls();
  EXPECT_EQ(Pixel(GrabPixmap(512, 384, 1, 1), 0, 0), 0xFF010203u);
  Flip(0);
}

}  // namespace

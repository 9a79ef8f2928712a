// The drawing state and commands, checked through the recording driver:
// what the 2D layer hands the driver for each command.
#include "lith2d/Lith2D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "lith2d/Image.h"
#include "lith2d/ImageFont.h"
#include "lith2d/testing/LoggingDriver.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"

namespace vrl {

// Reads the parts of a graphics' state that no command gives back as they
// are stored: the negated handle, the matrix and the mouse scales.
class Lith2DGraphicsTestPeer {
 public:
  static float StoredHandleX(const TLith2DGraphics* g) { return g->handle_x; }
  static void Matrix(const TLith2DGraphics* g, float& ix, float& iy, float& jx, float& jy) {
    ix = g->tform_ix;
    iy = g->tform_iy;
    jx = g->tform_jx;
    jy = g->tform_jy;
  }
  static float MouseXScale(const TLith2DGraphics* g) { return g->vres_mousexscale; }
  static float MouseYScale(const TLith2DGraphics* g) { return g->vres_mouseyscale; }
};

}  // namespace vrl

using namespace vrl;

namespace {

using Peer = Lith2DGraphicsTestPeer;

class Lith2DTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    SelectGraphicsDriver(LoggingLith2DDriver(), 2);
    driver_ = LoggingLith2DDriver();
    driver_->Clear();
    graphics_ = OpenGraphics(800, 600, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
  }
  void TearDown() override { ShutdownGraphics(); }

  bool Called(const std::string& line) const {
    return std::find(driver_->Calls().begin(), driver_->Calls().end(), line) != driver_->Calls().end();
  }

  TLoggingLith2DDriver* driver_ = nullptr;
  Ref<TGraphics> graphics_;
};

TEST_F(Lith2DTest, FirstMakeCurrentClearsAndFlipsTwice) {
  int cls = 0, flips = 0;
  for (const auto& call : driver_->Calls()) {
    cls += call == "Cls";
    flips += call == "Flip 0";
  }
  EXPECT_EQ(cls, 2);
  EXPECT_EQ(flips, 2);
  driver_->Clear();
  auto* g = TLith2DGraphics::Current();
  ASSERT_NE(g, nullptr);
  g->MakeCurrent();
  EXPECT_FALSE(Called("Cls")) << "later ones only re-send the state";
  EXPECT_TRUE(Called("SetBlend 1"));
}

TEST_F(Lith2DTest, StateDefaultsAndValidateOrder) {
  auto* g = TLith2DGraphics::Current();
  int32_t red = 0, green = 0, blue = 0, x = 0, y = 0, w = 0, h = 0;
  GetColor(red, green, blue);
  GetViewport(x, y, w, h);
  EXPECT_EQ(red, 255);
  EXPECT_FLOAT_EQ(GetAlpha(), 1.0f);
  EXPECT_EQ(GetBlend(), BLEND_MASK);
  EXPECT_EQ(w, 800);
  EXPECT_FLOAT_EQ(LogicalHeight(), 600.0f);
  driver_->Clear();
  g->Validate();
  ASSERT_GE(driver_->Calls().size(), 8u);
  EXPECT_EQ(driver_->Calls()[0], "SetResolution 800 600");
  EXPECT_EQ(driver_->Calls()[1], "SetBlend 1");
  EXPECT_EQ(driver_->Calls()[2], "SetColor 255 255 255");
  EXPECT_EQ(driver_->Calls().back(), "SetViewport 0 0 800 600");
}

TEST_F(Lith2DTest, HandleAndOriginPlaceRectangles) {
  SetDrawOrigin(1, 2);
  SetDrawHandle(5, 7);
  float hx = 0, hy = 0;
  GetDrawHandle(hx, hy);
  EXPECT_EQ(hx, 5);
  EXPECT_EQ(Peer::StoredHandleX(TLith2DGraphics::Current()), -5) << "stored negated";
  driver_->Clear();
  DrawRect(10, 10, 20, 20);
  EXPECT_EQ(driver_->Calls().back(), "DrawRect -5 -7 15 13 11 12");
  DrawOval(10, 10, 20, 20);
  EXPECT_EQ(driver_->Calls().back(), "DrawOval -5 -7 15 13 11 12");
  Plot(3, 4);
  EXPECT_EQ(driver_->Calls().back(), "Plot 4 6") << "plots ignore the handle";
}

TEST_F(Lith2DTest, LinesAndTheirLastPixel) {
  driver_->Clear();
  DrawLine(10, 10, 20, 15, 0);
  ASSERT_EQ(driver_->Calls().size(), 1u);
  EXPECT_EQ(driver_->Calls()[0], "DrawLine 0 0 10 5 10 10");
  SetDrawScale(2, 2);
  driver_->Clear();
  DrawLine(10, 10, 20, 15, 1);
  ASSERT_EQ(driver_->Calls().size(), 2u);
  EXPECT_EQ(driver_->Calls()[1], "Plot 30 20") << "the end point goes through the transform";
}

TEST_F(Lith2DTest, RotationMakesTheMatrix) {
  SetDrawTransform(90, 2, 3);
  auto* g = TLith2DGraphics::Current();
  float gix = 0, giy = 0, gjx = 0, gjy = 0;
  Peer::Matrix(g, gix, giy, gjx, gjy);
  EXPECT_NEAR(gix, 0, 1e-6);
  EXPECT_FLOAT_EQ(giy, -3);
  EXPECT_FLOAT_EQ(gjx, 2);
  EXPECT_NEAR(gjy, 0, 1e-6);
  float ix = 0, iy = 0, jx = 0, jy = 0;
  driver_->GetTransform(ix, iy, jx, jy);
  EXPECT_FLOAT_EQ(iy, -3);
}

TEST_F(Lith2DTest, ViewportFollowsTheLogicalResolution) {
  SetLogicalResolution(400, 300);
  EXPECT_FLOAT_EQ(LogicalWidth(), 400);
  SetViewport(10, 20, 100, 50);
  EXPECT_EQ(driver_->Calls().back(), "SetViewport 20 40 200 100");
  int32_t x = 0, y = 0, w = 0, h = 0;
  GetViewport(x, y, w, h);
  EXPECT_EQ(w, 100);
}

TEST_F(Lith2DTest, ImageAreaScalesTheHandle) {
  Ref<TPixmap> sheet = NewPixmap(12, 3, PIXFMT_RGBA32, 4);
  sheet->ClearPixels(-1);
  Ref<TImage> image = LoadImageSource(sheet, -1);
  ASSERT_FALSE(image.IsNull());
  SetDrawOrigin(0, 0);
  driver_->Clear();
  DrawImageArea(image, 100, 50, 6, 6, 3, 0, 3, 3, 1, 0, 0);
  ASSERT_EQ(driver_->Draws().size(), 1u);
  const RecordedDraw& d = driver_->Draws()[0];
  EXPECT_FLOAT_EQ(d.x0, -2);  // handle 1 of 3 source pixels, 6 destination pixels
  EXPECT_FLOAT_EQ(d.x1, 4);
  EXPECT_FLOAT_EQ(d.tx, 100);
  EXPECT_FLOAT_EQ(d.sx, 3);
  EXPECT_FLOAT_EQ(d.sw, 3);

  SetImageHandlePoint(image, 2, 1);
  driver_->Clear();
  DrawImageAt(image, 10, 10);
  DrawImageSized(image, 10, 10, 24, 6);
  ASSERT_EQ(driver_->Draws().size(), 2u);
  EXPECT_FLOAT_EQ(driver_->Draws()[0].x0, -2);
  EXPECT_FLOAT_EQ(driver_->Draws()[0].x1, 10);
  EXPECT_FLOAT_EQ(driver_->Draws()[1].x1, 22) << "the image handle is not scaled";
  EXPECT_FLOAT_EQ(driver_->Draws()[1].sw, 12);
}

TEST_F(Lith2DTest, TiledCoversTheViewportAndIgnoresRotation) {
  Ref<TPixmap> tile = NewPixmap(100, 50, PIXFMT_RGBA32, 4);
  tile->ClearPixels(-1);
  Ref<TImage> image = LoadImageSource(tile, 0);
  SetDrawRotation(45);
  SetViewport(0, 0, 800, 600);
  driver_->Clear();
  DrawImageTiled(image, -12345.5f, 77);
  EXPECT_EQ(driver_->Calls().front(), "SetTransform 1 0 0 1");
  ASSERT_FALSE(driver_->Draws().empty());
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  for (const auto& d : driver_->Draws()) {
    minX = std::min(minX, d.tx);
    maxX = std::max(maxX, d.tx + 100);
    minY = std::min(minY, d.ty);
    maxY = std::max(maxY, d.ty + 50);
  }
  EXPECT_LE(minX, 0);
  EXPECT_GE(maxX, 800);
  EXPECT_LE(minY, 0);
  EXPECT_GE(maxY, 600);
  EXPECT_GT(minX, -100) << "no tile lies wholly outside";
  EXPECT_NE(driver_->Calls().back(), "SetTransform 1 0 0 1") << "the rotation is sent again";
}

TEST_F(Lith2DTest, TiledCoversTheFirstColumnWhenTheStartIsANegativeMultipleOfTheTile) {
  Ref<TPixmap> tile = NewPixmap(100, 50, PIXFMT_RGBA32, 4);
  Ref<TImage> image = LoadImageSource(tile, 0);
  SetViewport(0, 0, 800, 600);
  // floor(x) - (viewport_x - 100 + 1) = -100 and floor(y) - (0 - 50 + 1) = -100;
  // with a fraction, a tile starting at the edge would leave that fraction
  // of the first column uncovered.
  for (float x : {-199.0f, -199.25f}) {
    driver_->Clear();
    DrawImageTiled(image, x, -149);
    ASSERT_FALSE(driver_->Draws().empty());
    float minX = 1e9f, minY = 1e9f;
    for (const auto& d : driver_->Draws()) {
      minX = std::min(minX, d.tx);
      minY = std::min(minY, d.ty);
    }
    EXPECT_LE(minX, 0) << x;
    EXPECT_GT(minX, -100) << x;
    EXPECT_FLOAT_EQ(minY, -49);
    EXPECT_EQ(driver_->Draws().size(), 9u * 13u) << "columns -99..701, rows -49..551";
  }
}

TEST_F(Lith2DTest, TiledKeepsToTheScreenWhateverTheViewportSays) {
  Ref<TPixmap> tile = NewPixmap(10, 10, PIXFMT_RGBA32, 4);
  Ref<TImage> image = LoadImageSource(tile, 0);
  SetViewport(0, 0, INT32_MAX, INT32_MAX);
  driver_->Clear();
  DrawImageTiled(image, 3, 4);
  EXPECT_EQ(driver_->Draws().size(), 81u * 61u) << "the 800 x 600 screen, one tile of margin";
  SetViewport(INT32_MAX - 5, INT32_MAX - 5, INT32_MAX, INT32_MAX);
  driver_->Clear();
  DrawImageTiled(image, 0, 0);
  EXPECT_TRUE(driver_->Draws().empty());
  SetViewport(0, 0, 800, 600);
  for (float bad : {NAN, INFINITY, -INFINITY}) {
    driver_->Clear();
    DrawImageTiled(image, bad, 0);
    DrawImageTiled(image, 0, bad);
    EXPECT_TRUE(driver_->Draws().empty()) << bad;
  }
}

TEST_F(Lith2DTest, ViewportSaturatesAtTheIntRange) {
  SetLogicalResolution(400, 300);  // one logical unit is two pixels
  SetViewport(INT32_MAX, INT32_MIN, INT32_MAX, 10);
  EXPECT_EQ(driver_->Calls().back(), "SetViewport 2.14748365e+09 -2.14748365e+09 0 0");
  SetViewport(-2000000000, 0, 2000000000, 300);
  EXPECT_EQ(driver_->Calls().back(), "SetViewport -2.14748365e+09 0 2.14748365e+09 600");
}

TEST_F(Lith2DTest, LogicalResolutionMustBePositiveAndFinite) {
  for (auto [w, h] : {std::pair{0.0f, 0.0f}, {-400.0f, 300.0f}, {400.0f, NAN}, {INFINITY, 300.0f}}) {
    try {
      SetLogicalResolution(w, h);
      ADD_FAILURE() << w << " x " << h << " is refused";
    } catch (const ThrownObject& e) {
      EXPECT_NE(e.As<TRuntimeException>(), nullptr);
    }
  }
  EXPECT_FLOAT_EQ(LogicalWidth(), 800) << "a refused resolution changes nothing";
  EXPECT_FLOAT_EQ(Peer::MouseXScale(TLith2DGraphics::Current()), 1.0f);
}

TEST_F(Lith2DTest, LogicalResolutionWithoutADisplayKeepsAFiniteMouseScale) {
  // A 2D graphics made current by hand: the graphics module has no size.
  Ref<TGraphics> loose = driver_->CreateGraphics(0, 0, 0, 0, 0);
  auto* g = CastRaw<TLith2DGraphics>(loose);
  ASSERT_NE(g, nullptr);
  ShutdownGraphics();
  g->MakeCurrent();
  ASSERT_EQ(CurrentGraphicsWidth(), 0);
  SetLogicalResolution(400, 300);
  EXPECT_FLOAT_EQ(Peer::MouseXScale(g), 1.0f);
  EXPECT_FLOAT_EQ(Peer::MouseYScale(g), 1.0f);
  SetViewport(10, 20, 30, 40);
  EXPECT_EQ(driver_->Calls().back(), "SetViewport 10 20 30 40");
  TLith2DGraphics::ClearCurrent();
}

TEST_F(Lith2DTest, BuiltInFontGlyphsAndWidths) {
  TImageFont* font = GetDrawFont();
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(font->CharToGlyph('A'), 33);
  EXPECT_EQ(font->CharToGlyph(127), 95);
  EXPECT_EQ(font->CharToGlyph(128), -1);
  EXPECT_EQ(StringWidth(String::FromUnits(u"Hi\u0080!")), 24);
  EXPECT_EQ(StringHeight(), 16);
  driver_->Clear();
  SetDrawTransform(0, 1, 1);
  DrawString(u"ab"_vs, 5, 6);
  ASSERT_EQ(driver_->Draws().size(), 2u);
  EXPECT_FLOAT_EQ(driver_->Draws()[1].tx, 13);
  EXPECT_FLOAT_EQ(driver_->Draws()[1].x1, 8);
  EXPECT_FLOAT_EQ(driver_->Draws()[1].y1, 16);
}

TEST_F(Lith2DTest, CommandsNeedACurrentGraphics) {
  ShutdownGraphics();
  EXPECT_THROW(Cls(), ThrownObject);
  EXPECT_THROW(SetColor(1, 2, 3), ThrownObject);
}

}  // namespace

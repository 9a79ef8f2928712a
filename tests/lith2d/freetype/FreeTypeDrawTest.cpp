// Text in a loaded font drawn by the OpenGL driver (Xvfb, Mesa's software
// renderer) lands where its glyphs say, with their alpha.
#include <gtest/gtest.h>

#include <cstdlib>

#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "lith2d/ImageFont.h"
#include "lith2d/Lith2D.h"
#include "lith2d/freetype/FreeTypeFont.h"
#include "pixmap/Pixmap.h"
#include "runtime/String.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

constexpr char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class FreeTypeDrawTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    gl2d::Init();
    freetype::Init();
    graphics_ = OpenGraphics(640, 480, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
    SetClsColor(0, 0, 0);
    SetColor(255, 255, 255);
    SetAlpha(1);
    SetBlend(BLEND_ALPHA);
    SetDrawTransform(0, 1, 1);
    SetDrawOrigin(0, 0);
    SetDrawHandle(0, 0);
    SetViewport(0, 0, 640, 480);
    Cls();
  }
  void TearDown() override { ShutdownGraphics(); }

  Ref<TGraphics> graphics_;
};

TEST_F(FreeTypeDrawTest, GlyphsAppearWhereTheySay) {
  Ref<TImageFont> font = LoadImageFontSource(String::FromUtf8(kDejaVu), 24, 0);
  ASSERT_FALSE(font.IsNull());
  SetDrawFont(font);
  DrawString(u"HV"_vs, 100, 50);

  Ref<TFreeTypeFont> source = TFreeTypeFont::Load(String::FromUtf8(kDejaVu), 24, 0);
  Ref<TPixmap> grab = GrabPixmap(0, 0, 300, 150);
  float pen = 100;
  int lit = 0;
  for (char16_t c : {u'H', u'V'}) {
    Ref<TGlyph> glyph = source->LoadGlyph(source->CharToGlyph(c));
    auto* alpha = CastRaw<TPixmap>(glyph->Pixels());
    ASSERT_NE(alpha, nullptr);
    int32_t gx = 0, gy = 0, gw = 0, gh = 0;
    glyph->GetRect(gx, gy, gw, gh);
    // One pixel of margin around the glyph: inside its alpha, outside black.
    for (int32_t y = -1; y <= gh; ++y) {
      for (int32_t x = -1; x <= gw; ++x) {
        const bool inside = x >= 0 && y >= 0 && x < gw && y < gh;
        const int want = inside ? *alpha->PixelPtr(x, y) : 0;
        const int32_t sx = static_cast<int32_t>(pen) + gx + x, sy = 50 + gy + y;
        const uint32_t got = static_cast<uint32_t>(grab->ReadPixel(sx, sy));
        const int green = int((got >> 8) & 0xFF);
        ASSERT_LE(std::abs(green - want), 2) << char(c) << " at " << x << "," << y;
        lit += want == 255;
      }
    }
    pen += glyph->Advance();
  }
  EXPECT_GT(lit, 40) << "the strokes of H and V are solid";
  EXPECT_EQ(StringHeight(), source->Height());
  EXPECT_EQ(StringWidth(u"HV"_vs), static_cast<int32_t>(pen - 100));
  // Nothing beyond the pen.
  for (int32_t x = static_cast<int32_t>(pen) + 2; x < 300; x += 3) {
    for (int32_t y = 0; y < 150; y += 3) ASSERT_EQ(grab->ReadPixel(x, y) & 0xFFFFFF, 0) << x << "," << y;
  }
}

}  // namespace

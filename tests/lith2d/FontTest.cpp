// The font loader chain and what the image font makes of a loaded font.
#include "lith2d/Font.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "lith2d/ImageFont.h"
#include "lith2d/Lith2D.h"
#include "lith2d/RecordingDriver.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/Stream.h"

using namespace vrl;

namespace {

// A font of one glyph (for every character) with a chosen advance.
class TFixedGlyph : public TGlyph {
  VRL_CLASS(TFixedGlyph, TGlyph)
  Ref<Object> Pixels() override { return Ref<Object>(); }
  float Advance() override { return _advance; }
  void GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) override {
    x = y = width = height = 0;
  }
  float _advance = 0;
};

class TFixedFont : public TFont {
  VRL_CLASS(TFixedFont, TFont)
  int32_t Style() override { return 0; }
  int32_t Height() override { return 10; }
  int32_t CountGlyphs() override { return 1; }
  int32_t CharToGlyph(int32_t) override { return 0; }
  Ref<TGlyph> LoadGlyph(int32_t) override {
    Ref<TFixedGlyph> glyph = New<TFixedGlyph>();
    glyph->_advance = _advance;
    return glyph;
  }
  float _advance = 0;
};

// Answers the URLs "fixed:<advance>" with a font of that advance.
class TFixedFontLoader : public TFontLoader {
  VRL_CLASS(TFixedFontLoader, TFontLoader)
  Ref<TFont> LoadFont(Object* url, int32_t, int32_t) override {
    auto* name = CastRaw<String>(url);
    if (!name || !name->StartsWith(u"fixed:"_vs)) return Ref<TFont>();
    Ref<TFixedFont> font = New<TFixedFont>();
    std::string text = name->ToUtf8String().substr(6);
    font->_advance = text == "nan" ? std::numeric_limits<float>::quiet_NaN() : std::stof(text);
    return font;
  }
};

// Asked before the fixed loader: a stream error for "fixed:" URLs, a runtime
// error for "boom".
class TThrowingFontLoader : public TFontLoader {
  VRL_CLASS(TThrowingFontLoader, TFontLoader)
  Ref<TFont> LoadFont(Object* url, int32_t, int32_t) override {
    auto* name = CastRaw<String>(url);
    if (name && name->StartsWith(u"fixed:"_vs)) ThrowStreamReadException();
    if (name && name->Equals(u"boom"_vs)) vrRuntimeError("boom");
    return Ref<TFont>();
  }
};

}  // namespace

VRL_CLASS_RECORD(TFixedGlyph, "TFixedGlyph")
VRL_CLASS_RECORD(TFixedFont, "TFixedFont")
VRL_CLASS_RECORD(TFixedFontLoader, "TFixedFontLoader")
VRL_CLASS_RECORD(TThrowingFontLoader, "TThrowingFontLoader")

namespace {

class FontTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    static bool registered = false;
    if (!registered) {
      registered = true;
      RegisterFontLoader(new TFixedFontLoader);
      RegisterFontLoader(new TThrowingFontLoader);
    }
  }
};

TEST_F(FontTest, AStreamExceptionInALoaderIsItsRefusal) {
  Ref<TFont> font = LoadFont(u"fixed:8"_vs, 12, 0);
  ASSERT_FALSE(font.IsNull()) << "the next loader is asked";
  EXPECT_EQ(font->Height(), 10);
  EXPECT_TRUE(LoadFont(u"nothing"_vs, 12, 0).IsNull());
  try {
    LoadFont(u"boom"_vs, 12, 0);
    ADD_FAILURE() << "a runtime error reaches the caller";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TRuntimeException>(), nullptr);
  }
}

TEST_F(FontTest, StringWidthSaturatesHostileAdvances) {
  SelectGraphicsDriver(RecordingLith2DDriver(), 2);
  ASSERT_FALSE(OpenGraphics(320, 200, 0, 0, 0).IsNull());
  Ref<TImageFont> huge = TImageFont::Load(u"fixed:1e30"_vs, 12, 0);
  Ref<TImageFont> nan = TImageFont::Load(u"fixed:nan"_vs, 12, 0);
  Ref<TImageFont> normal = TImageFont::Load(u"fixed:2.5"_vs, 12, 0);
  ASSERT_FALSE(huge.IsNull());
  ASSERT_FALSE(nan.IsNull());
  SetDrawFont(normal);
  EXPECT_EQ(StringWidth(u"abc"_vs), 6) << "the total is truncated after each glyph";
  SetDrawFont(huge);
  EXPECT_EQ(StringWidth(u"ab"_vs), std::numeric_limits<int32_t>::max());
  SetDrawFont(nan);
  EXPECT_EQ(StringWidth(u"ab"_vs), 0);
  SetDrawFont(nullptr);
  ShutdownGraphics();
}

}  // namespace

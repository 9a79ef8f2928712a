// The OpenGL driver's raw helpers, textures and batching against real
// OpenGL in a virtual X display. Pixels that only rasterisation rules decide
// are compared exactly; filtered ones with a tolerance.
#include "gldriver/GLLith2DDriver.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>

#include "graphics/Graphics.h"
#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"
#include "pixmap/Pixmap.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/EmbeddedFiles.h"
#include "tests/support/ComparePixmaps.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

constexpr uint32_t kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;

uint32_t At(int32_t x, int32_t y) { return static_cast<uint32_t>(GrabPixmap(x, y, 1, 1)->ReadPixel(0, 0)); }

// Each colour channel within `tolerance` of the expected one.
testing::AssertionResult Near(uint32_t actual, uint32_t expected, int tolerance) {
  for (int shift : {0, 8, 16}) {
    int a = static_cast<int>((actual >> shift) & 255), e = static_cast<int>((expected >> shift) & 255);
    if (std::abs(a - e) > tolerance) {
      return testing::AssertionFailure() << std::hex << actual << " is not near " << expected;
    }
  }
  return testing::AssertionSuccess();
}

GLint TextureLevelWidth(int32_t name, int32_t level) {
  GLint previous = 0, width = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(name));
  glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &width);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
  return width;
}

class GLHelpersTest : public testing::Test {
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
    Cls();
  }
  void TearDown() override { ShutdownGraphics(); }

  Ref<TGraphics> graphics_;
};

TEST_F(GLHelpersTest, RawHelpersDrawInPixelsAndRestoreTheState) {
  SetLogicalResolution(512, 384);  // the 2D layer draws at twice the size
  SetBlend(BLEND_MASK);
  SetAlpha(0.25f);  // below the mask's threshold
  BeginRaw2D();
  GLRectAt(10, 20, 30, 5);
  EndRaw2D();
  EXPECT_EQ(At(10, 20), kWhite) << "pixels, and no alpha test inside";
  EXPECT_EQ(At(39, 24), kWhite);
  EXPECT_EQ(At(40, 24), kBlack);
  EXPECT_EQ(At(39, 25), kBlack);
  EXPECT_EQ(At(9, 20), kBlack);
  DrawRect(100, 100, 10, 10);
  EXPECT_EQ(At(205, 205), kBlack) << "the alpha test is back";
  SetAlpha(1);
  DrawRect(100, 100, 10, 10);
  EXPECT_EQ(At(200, 200), kWhite) << "and so is the logical projection";
  EXPECT_EQ(At(219, 219), kWhite);
  EXPECT_EQ(At(220, 219), kBlack);
}

TEST_F(GLHelpersTest, TextureFromPixmapUploadsEveryLevelAndRestoresTheBinding) {
  Ref<TPixmap> p = NewPixmap(4, 2, PIXFMT_RGB24, 1);
  for (int32_t x = 0; x < 4; ++x) {
    p->WritePixel(x, 0, 0x102030 * (x + 1));
    p->WritePixel(x, 1, 0x405060 + x);
  }
  GLuint bound = 0;
  glGenTextures(1, &bound);
  glBindTexture(GL_TEXTURE_2D, bound);
  int32_t name = TextureFromPixmap(p, 1);
  ASSERT_NE(name, 0);
  GLint now = 0, rowLength = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &now);
  glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
  EXPECT_EQ(static_cast<GLuint>(now), bound);
  EXPECT_EQ(rowLength, 0);
  EXPECT_EQ(TextureLevelWidth(name, 0), 4);
  EXPECT_EQ(TextureLevelWidth(name, 1), 2);
  EXPECT_EQ(TextureLevelWidth(name, 2), 1);
  // Level 0 holds the pixmap as it is.
  uint32_t texels[8] = {};
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(name));
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels);
  glBindTexture(GL_TEXTURE_2D, bound);
  EXPECT_EQ(texels[0], 0xFF102030u);
  EXPECT_EQ(texels[3], 0xFF4080C0u);
  EXPECT_EQ(texels[7], 0xFF405063u);
  // A size that is not a power of two is resized to one; one level only.
  int32_t single = TextureFromPixmap(NewPixmap(5, 3, PIXFMT_RGBA32, 4), 0);
  EXPECT_EQ(TextureLevelWidth(single, 0), 8);
  EXPECT_EQ(TextureLevelWidth(single, 1), 0);
  GLuint names[3] = {bound, static_cast<GLuint>(name), static_cast<GLuint>(single)};
  glDeleteTextures(3, names);
  OpenGL2DDriver()->ResetGLContext(TLith2DGraphics::Current());
}

TEST_F(GLHelpersTest, GLPixmapAtPlacesTheTopRowAtY) {
  Ref<TPixmap> p = NewPixmap(3, 2, PIXFMT_RGB24, 4);
  const int32_t colours[6] = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF, 0x010203};
  for (int32_t i = 0; i < 6; ++i) p->WritePixel(i % 3, i / 3, colours[i]);
  SetColor(0, 0, 255);  // the colour does not apply
  GLPixmapAt(p, 50, 60);
  // The pixmap with a black pixel of margin all round.
  Ref<TPixmap> expected = NewPixmap(5, 4, PIXFMT_RGBA32, 4);
  expected->ClearPixels(static_cast<int32_t>(kBlack));
  for (int32_t i = 0; i < 6; ++i)
    expected->WritePixel(1 + i % 3, 1 + i / 3,
                         static_cast<int32_t>(kBlack | static_cast<uint32_t>(colours[i])));
  EXPECT_TRUE(ComparePixmaps(GrabPixmap(49, 59, 5, 4), expected, 0));
}

TEST_F(GLHelpersTest, GLTextAtDrawsTheBuiltInGlyphsEightPixelsApart) {
  const uint8_t* bits = EmbeddedFilePointer(u"gldrawtextfont.bin"_vs);
  ASSERT_NE(bits, nullptr);
  ASSERT_GE(EmbeddedFileLength(u"gldrawtextfont.bin"_vs), 1536);
  // Character 1 is not drawn but takes its 8 pixels.
  GLTextAt(String::FromUnits(u"A\u0001B"), 100, 200);
  Ref<TPixmap> grab = GrabPixmap(100, 200, 24, 16);
  Ref<TPixmap> expected = NewPixmap(24, 16, PIXFMT_RGBA32, 4);
  expected->ClearPixels(static_cast<int32_t>(kBlack));
  int lit = 0;
  for (int32_t row = 0; row < 16; ++row) {
    for (int32_t k = 0; k < 8; ++k) {
      for (auto [cell, c] : {std::pair{0, 'A'}, {2, 'B'}}) {
        bool set = (bits[row * 96 + (c - 32)] >> k) & 1;
        lit += set;
        if (set) expected->WritePixel(cell * 8 + k, row, static_cast<int32_t>(kWhite));
      }
    }
  }
  // The glyphs come from a filtered texture; the empty cell is exact.
  EXPECT_TRUE(ComparePixmaps(grab->Window(0, 0, 8, 16), expected->Window(0, 0, 8, 16), 24)) << "A";
  EXPECT_TRUE(ComparePixmaps(grab->Window(16, 0, 8, 16), expected->Window(16, 0, 8, 16), 24)) << "B";
  EXPECT_TRUE(ComparePixmaps(grab->Window(8, 0, 8, 16), expected->Window(8, 0, 8, 16), 0));
  EXPECT_GT(lit, 20) << "the font has pixels";
}

TEST_F(GLHelpersTest, TextureSizeFittingAndItsErrorText) {
  int32_t w = 12, h = 3;
  FitTextureSize(w, h);
  EXPECT_EQ(w, 16);
  EXPECT_EQ(h, 4);
  w = h = 1;
  FitTextureSize(w, h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  GLint largest = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
  ASSERT_GT(largest, 0);
  w = largest * 4;
  h = 2;
  FitTextureSize(w, h);
  EXPECT_LE(w, largest) << "halved until the implementation takes it";
  EXPECT_EQ(w & (w - 1), 0);
  EXPECT_EQ(h, 1);
  // Without a context nothing is accepted, not even 1 x 1.
  SetGraphics(nullptr);
  w = h = 8;
  try {
    FitTextureSize(w, h);
    ADD_FAILURE() << "no size is accepted";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<TRuntimeException>(), nullptr);
    EXPECT_EQ(e.As<TRuntimeException>()->error->ToUtf8String(), "Unable to calculate tex size");
  }
}

TEST_F(GLHelpersTest, MipmappedImagesShrinkToTheAverage) {
  // One-pixel black and white checks, drawn at an eighth of their size.
  Ref<TPixmap> checks = NewPixmap(64, 64, PIXFMT_RGBA32, 4);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x)
      checks->WritePixel(x, y, static_cast<int32_t>((x + y) & 1 ? kWhite : kBlack));
  Ref<TImage> plain = LoadImageSource(checks, 0);
  Ref<TImage> mipmapped = LoadImageSource(checks, IMAGEFLAG_MIPMAPPED);
  auto* frame = CastRaw<TGLImageFrame>(mipmapped->Frame(0));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(TextureLevelWidth(frame->TextureName(), 6), 1) << "levels down to 1 x 1";
  DrawImageSized(plain, 0, 0, 8, 8);
  DrawImageSized(mipmapped, 20, 0, 8, 8);
  Ref<TPixmap> grab = GrabPixmap(0, 0, 28, 8);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      auto sharp = static_cast<uint32_t>(grab->ReadPixel(x, y));
      EXPECT_TRUE(sharp == kWhite || sharp == kBlack) << std::hex << sharp;
    }
  }
  Ref<TPixmap> grey = NewPixmap(8, 8, PIXFMT_RGBA32, 4);
  grey->ClearPixels(static_cast<int32_t>(0xFF808080u));
  EXPECT_TRUE(ComparePixmaps(grab->Window(20, 0, 8, 8), grey, 12));
}

TEST_F(GLHelpersTest, DeferredTexturesAreDeletedAtTheNextCreationOfTheirGeneration) {
  // Names no frame owns, so that only the deferral deletes them.
  Ref<TPixmap> p = NewPixmap(2, 2, PIXFMT_RGBA32, 4);
  TGLLith2DDriver* driver = OpenGL2DDriver();
  Ref<TGLImageFrame> made = TGLImageFrame::CreateFromPixmap(driver, p, 0);  // starts the list's generation
  ASSERT_FALSE(made.IsNull());
  auto first = static_cast<GLuint>(TextureFromPixmap(p, 0));
  auto second = static_cast<GLuint>(TextureFromPixmap(p, 0));
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  driver->DeferTextureDeletion(static_cast<int32_t>(first), made->Generation());
  // Of an older context: never deleted here.
  driver->DeferTextureDeletion(static_cast<int32_t>(second), made->Generation() - 1);
  EXPECT_TRUE(glIsTexture(first)) << "not yet";
  Ref<TGLImageFrame> third = TGLImageFrame::CreateFromPixmap(driver, p, 0);
  // Deleted before the new name was made, so that name may come back.
  EXPECT_TRUE(static_cast<GLuint>(third->TextureName()) == first || !glIsTexture(first));
  EXPECT_TRUE(glIsTexture(second));
  EXPECT_TRUE(glIsTexture(static_cast<GLuint>(third->TextureName())));
  glDeleteTextures(1, &second);
}

TEST_F(GLHelpersTest, AttachGraphicsDrawsIntoTheProgramsWindow) {
  SDL_Window* window = SDL_CreateWindow("attached", 0, 0, 160, 120, SDL_WINDOW_OPENGL);
  ASSERT_NE(window, nullptr);
  uint32_t id = SDL_GetWindowID(window);
  EXPECT_TRUE(AttachGraphics(12345678, 0).IsNull()) << "no such window";
  ShutdownGraphics();
  Ref<TGraphics> attached = AttachGraphics(static_cast<int32_t>(id), 0);
  ASSERT_FALSE(attached.IsNull());
  SetGraphics(attached);
  EXPECT_EQ(CurrentGraphicsWidth(), 160);
  EXPECT_EQ(CurrentGraphicsHeight(), 120);
  EXPECT_EQ(CurrentGraphicsDepth(), 0);
  SetClsColor(0, 0, 80);
  Cls();
  SetColor(255, 0, 0);
  DrawRect(150, 110, 20, 20);
  EXPECT_EQ(At(0, 0), 0xFF000050u);
  EXPECT_EQ(At(159, 119), 0xFFFF0000u);
  EXPECT_EQ(At(149, 119), 0xFF000050u);
  CloseGraphicsContext(attached);
  EXPECT_EQ(SDL_GetWindowFromID(id), window) << "the program's window stays";
  SDL_DestroyWindow(window);
}

TEST_F(GLHelpersTest, QuadsOfOneTextureTakeEachTheirColourAlphaAndBlend) {
  Ref<TPixmap> white = NewPixmap(4, 4, PIXFMT_RGBA32, 4);
  white->ClearPixels(static_cast<int32_t>(kWhite));
  Ref<TImage> image = LoadImageSource(white, 0);
  SetClsColor(100, 100, 100);
  Cls();
  SetColor(255, 0, 0);
  DrawImageAt(image, 0, 0);
  SetColor(0, 255, 0);
  DrawImageAt(image, 10, 0);
  SetAlpha(0.5f);
  DrawImageAt(image, 20, 0);  // solid: alpha does not show
  SetBlend(BLEND_ALPHA);
  DrawImageAt(image, 30, 0);
  SetBlend(BLEND_LIGHT);
  DrawImageAt(image, 40, 0);
  Ref<TPixmap> grab = GrabPixmap(0, 0, 44, 4);
  auto pixel = [&](int32_t x) { return static_cast<uint32_t>(grab->ReadPixel(x + 1, 1)); };
  EXPECT_EQ(pixel(0), 0xFFFF0000u);
  EXPECT_EQ(pixel(10), 0xFF00FF00u);
  EXPECT_EQ(pixel(20), 0xFF00FF00u);
  EXPECT_TRUE(Near(pixel(30), 0xFF32B132u, 2));  // 100 * .5, 255 * .5 + 100 * .5
  EXPECT_TRUE(Near(pixel(40), 0xFF64E364u, 2));  // 100, 100 + 255 * .5
}

TEST_F(GLHelpersTest, HostileArgumentsHaveDefinedResults) {
  // A huge oval is bounded in segments and still covers what it should.
  DrawOval(-5e8f, -5e8f, 1e9f, 1e9f);
  EXPECT_EQ(At(512, 384), kWhite);
  Cls();
  DrawOval(NAN, 0, 10, 10);
  DrawOval(0, 0, INFINITY, 10);
  DrawOval(0, 0, 10, NAN);
  EXPECT_EQ(At(5, 5), kBlack);
  // An image without pixels has no frame and draws nothing.
  Ref<TImage> empty = NewImage(0, 0);
  EXPECT_NO_THROW(DrawImageAt(empty, 10, 10));
  EXPECT_NO_THROW(DrawImageTiled(empty, 0, 0));
  EXPECT_TRUE(empty->Frame(0).IsNull());
  // Viewports far off the device scissor at its edges.
  SetViewport(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  DrawRect(0, 0, 1024, 768);
  EXPECT_EQ(At(0, 0), kBlack);
  SetViewport(-100, 700, INT32_MAX, INT32_MAX);
  DrawRect(0, 0, 1024, 768);
  EXPECT_EQ(At(0, 699), kBlack);
  EXPECT_EQ(At(1023, 700), kWhite);
}

}  // namespace

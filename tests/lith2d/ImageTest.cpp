#include "lith2d/Image.h"

#include <gtest/gtest.h>

#include "lith2d/Lith2D.h"
#include "lith2d/testing/LoggingDriver.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

class ImageTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    SelectGraphicsDriver(LoggingLith2DDriver(), 2);
    graphics_ = OpenGraphics(320, 200, 0, 0, 0);
  }
  void TearDown() override { ShutdownGraphics(); }
  Ref<TGraphics> graphics_;
};

TEST_F(ImageTest, LoadedImageTakesTheDefaults) {
  Ref<TPixmap> p = NewPixmap(12, 3, PIXFMT_RGBA32, 4);
  p->ClearPixels(0);
  Ref<TImage> image = LoadImageSource(p, -1);
  ASSERT_FALSE(image.IsNull());
  EXPECT_EQ(image->Width(), 12);
  EXPECT_EQ(image->Height(), 3);
  EXPECT_EQ(image->Flags(), 3);
  EXPECT_EQ(image->HandleX(), 0);
  SetAutoCentreHandle(1);
  Ref<TImage> centred = LoadImageSource(p, -1);
  SetAutoCentreHandle(0);
  EXPECT_FLOAT_EQ(centred->HandleX(), 6);
  EXPECT_FLOAT_EQ(centred->HandleY(), 1.5f);
  EXPECT_TRUE(LoadImageSource(u"incbin::no-such-picture"_vs, -1).IsNull());
}

TEST_F(ImageTest, MaskingKeysOnlyAlphaLessPixmaps) {
  Ref<TPixmap> rgba = NewPixmap(2, 1, PIXFMT_RGBA32, 4);
  rgba->WritePixel(0, 0, static_cast<int32_t>(0x80000000u));  // black, half transparent
  rgba->WritePixel(1, 0, 0x40FFFFFF);
  Ref<TImage> kept = TImage::Load(rgba, IMAGEFLAG_MASKED, 0, 0, 0);
  Ref<TPixmap> stored = kept->Lock(0, 1, 0);
  EXPECT_EQ(stored.get(), rgba.get()) << "a pixmap with alpha is kept as it is";

  Ref<TPixmap> rgb = NewPixmap(2, 1, PIXFMT_RGB24, 4);
  rgb->WritePixel(0, 0, 0);
  rgb->WritePixel(1, 0, 0x123456);
  Ref<TImage> keyed = TImage::Load(rgb, IMAGEFLAG_MASKED, 0, 0, 0);
  Ref<TPixmap> k = keyed->Lock(0, 1, 0);
  EXPECT_EQ(k->format, PIXFMT_RGBA32);
  EXPECT_EQ(static_cast<uint32_t>(k->ReadPixel(0, 0)), 0x00123456u) << "key colour becomes transparent";
  EXPECT_EQ(static_cast<uint32_t>(k->ReadPixel(1, 0)), 0xFF123456u);
}

TEST_F(ImageTest, FramesAreBuiltOnceAndRebuiltAfterWriting) {
  TLoggingLith2DDriver* driver = LoggingLith2DDriver();
  Ref<TImage> image = NewImage(4, 4, 1, 0);
  EXPECT_EQ(image->Flags(), IMAGEFLAG_DYNAMIC);
  int32_t before = driver->FramesMade();
  Ref<TImageFrame> first = image->Frame(0);
  EXPECT_EQ(driver->FramesMade(), before + 1);
  EXPECT_EQ(image->Frame(0).get(), first.get());
  image->Lock(0, 1, 0);
  EXPECT_EQ(image->Frame(0).get(), first.get()) << "a read lock keeps the frame";
  image->Lock(0, 1, 1);
  EXPECT_NE(image->Frame(0).get(), first.get()) << "a write lock rebuilds it";
  int32_t generation = GraphicsGeneration();
  ShutdownGraphics();
  graphics_ = OpenGraphics(320, 200, 0, 0, 0);
  EXPECT_NE(GraphicsGeneration(), generation);
  Ref<TImageFrame> again = image->Frame(0);
  EXPECT_EQ(image->FrameGeneration(0), GraphicsGeneration());
  EXPECT_THROW(image->Frame(1), ThrownObject);
}

TEST_F(ImageTest, StripsCountCellsAcrossThenDown) {
  Ref<TPixmap> p = NewPixmap(10, 10, PIXFMT_RGBA32, 4);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x)
      p->WritePixel(x, y, static_cast<int32_t>(0xFF000000u | (x / 4) << 8 | (y / 4)));
  Ref<TImage> strip = LoadImageStrip(p, 4, 4, 1, 3, 0);
  ASSERT_FALSE(strip.IsNull());
  EXPECT_EQ(strip->FrameCount(), 3);
  // Cells 1, 2, 3 of a 2 x 2 grid: (1, 0), (0, 1), (1, 1).
  EXPECT_EQ(strip->Lock(0, 1, 0)->ReadPixel(0, 0) & 0xFFFF, 0x0100);
  EXPECT_EQ(strip->Lock(1, 1, 0)->ReadPixel(0, 0) & 0xFFFF, 0x0001);
  EXPECT_EQ(strip->Lock(2, 1, 0)->ReadPixel(0, 0) & 0xFFFF, 0x0101);
  EXPECT_TRUE(LoadImageStrip(p, 4, 4, 2, 3, 0).IsNull());
}

}  // namespace

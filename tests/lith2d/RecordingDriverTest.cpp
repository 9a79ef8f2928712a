// The recording driver as programs and tools use it: a null back-end that
// draws nothing and keeps only the image-frame draws, numbered by frame.
#include "lith2d/RecordingDriver.h"

#include <gtest/gtest.h>

#include "lith2d/Image.h"
#include "lith2d/Lith2D.h"

using namespace vrl;

namespace {

class RecordingDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    SelectGraphicsDriver(RecordingLith2DDriver(), 2);
    graphics_ = OpenGraphics(640, 480, 0, 0, 0);
    ASSERT_FALSE(graphics_.IsNull());
    RecordingLith2DDriver()->Clear();
  }
  void TearDown() override { ShutdownGraphics(); }
  Ref<TGraphics> graphics_;
};

TEST_F(RecordingDriverTest, KeepsTheFrameDrawsInOrderAndNothingElse) {
  TRecordingLith2DDriver* driver = RecordingLith2DDriver();
  Ref<TImage> first = NewImage(4, 4, 1, 0);
  Ref<TImage> second = NewImage(2, 2, 1, 0);
  Cls();
  SetColor(1, 2, 3);
  DrawRect(0, 0, 10, 10);
  DrawImageAt(first, 10, 20);
  DrawImageAt(second, 30, 40);
  DrawImageAt(first, 50, 60);
  Flip(0);
  ASSERT_EQ(driver->Draws().size(), 3u) << "only the image-frame draws are kept";
  EXPECT_FLOAT_EQ(driver->Draws()[0].tx, 10);
  EXPECT_FLOAT_EQ(driver->Draws()[1].x1, 2);
  EXPECT_FLOAT_EQ(driver->Draws()[2].ty, 60);
  EXPECT_EQ(driver->Draws()[0].frame, driver->Draws()[2].frame) << "one frame object per image frame";
  EXPECT_NE(driver->Draws()[0].frame, driver->Draws()[1].frame);
  driver->Clear();
  EXPECT_TRUE(driver->Draws().empty());
}

TEST_F(RecordingDriverTest, GraphicsHaveTheirSizeAndGrabsAreTransparentBlack) {
  EXPECT_EQ(CurrentGraphicsWidth(), 640);
  EXPECT_EQ(CurrentGraphicsHeight(), 480);
  EXPECT_EQ(HasGraphicsMode(1024, 768, 32, 60), 1);
  EXPECT_TRUE(AttachGraphics(1, 0).IsNull()) << "there are no windows to attach to";
  Ref<TPixmap> grab = GrabPixmap(5, 5, 3, 2);
  ASSERT_EQ(grab->width, 3);
  ASSERT_EQ(grab->height, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(grab->ReadPixel(x, y), 0);
  auto* inner = CastRaw<TLith2DGraphics>(graphics_)->Wrapped();
  ShutdownGraphics();
  int32_t w = -1, h = -1, d = -1, hz = -1, f = -1;
  inner->GetSettings(w, h, d, hz, f);
  EXPECT_EQ(w, 640) << "a closed recording graphics keeps its settings";
  EXPECT_EQ(f, 2) << "the default flags were ORed in";
}

}  // namespace

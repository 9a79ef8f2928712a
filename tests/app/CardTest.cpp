// The card's start-up on the recording driver, and the grid from the matte.
#include "app/Card.h"

#include <gtest/gtest.h>

#include "graphics/Graphics.h"
#include "lith2d/testing/LoggingDriver.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

// Every case starts the card afresh: the start-up case checks the state
// right after start, which a case run before it in the same program (frames
// that spawn flakes) would otherwise have changed.
class CardTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    card::InitModules();
    SelectGraphicsDriver(LoggingLith2DDriver(), 2);
  }
  void SetUp() override { ASSERT_TRUE(card::Start({.music = false})); }
};

TEST_F(CardTest, StartUpLoadsTheAssetsAndBuildsTheGrid) {
  card::Scene& s = card::TheScene();
  EXPECT_EQ(s.screenwidth, 1024);
  EXPECT_EQ(s.screenheight, 768);
  ASSERT_FALSE(s.picture.IsNull());
  EXPECT_EQ(s.picture->width, 1024);
  EXPECT_EQ(s.picture->format, PIXFMT_RGB24);
  ASSERT_FALSE(s.snowimage.IsNull());
  EXPECT_EQ(s.snowimage->Width(), 12);
  EXPECT_EQ(s.snowimage->Height(), 3);
  EXPECT_EQ(s.snowimage->Flags(), 3);
  EXPECT_EQ(s.flakes->Count(), 0);
  EXPECT_EQ(GetBlend(), BLEND_ALPHA);
  Ref<Array> dims = s.grid->Dimensions();
  EXPECT_EQ(dims->Get<int32_t>(0), 1025);
  EXPECT_EQ(dims->Get<int32_t>(1), 769);
  // The matte marks the ground: the bottom rows are mostly surface, the sky
  // none. The spare column and row stay free.
  const int32_t* grid = s.grid->DataAs<int32_t>();
  int surface = 0, sky = 0;
  for (int32_t x = 0; x < 1024; ++x) {
    surface += grid[x * 769 + 760];
    sky += grid[x * 769 + 50];
  }
  EXPECT_GT(surface, 900);
  EXPECT_EQ(sky, 0);
  for (int32_t y = 0; y <= 768; ++y) EXPECT_EQ(grid[1024 * 769 + y], 0);
  for (int32_t x = 0; x <= 1024; ++x) EXPECT_EQ(grid[x * 769 + 768], 0);
}

TEST_F(CardTest, MatteThresholdIsStrictlyAbove192) {
  card::Scene& s = card::TheScene();
  Ref<TPixmap> matte = NewPixmap(1024, 768, PIXFMT_GREY8, 4);
  matte->ClearPixels(0);
  matte->PixelPtr(10, 20)[0] = 192;
  matte->PixelPtr(11, 20)[0] = 193;
  Ref<Array> saved = s.grid;
  s.grid = Array::New("i", {1025, 769});
  card::BuildGrid(matte);
  const int32_t* grid = s.grid->DataAs<int32_t>();
  EXPECT_EQ(grid[10 * 769 + 20], 0);
  EXPECT_EQ(grid[11 * 769 + 20], 1);
  s.grid = saved;
}

TEST_F(CardTest, AFrameDrawsThePictureThenTheFlakes) {
  TLoggingLith2DDriver* driver = LoggingLith2DDriver();
  for (int i = 0; i < 200; ++i) card::Frame();
  driver->Clear();
  card::Frame();
  ASSERT_GE(driver->Calls().size(), 3u);
  EXPECT_EQ(driver->Calls()[0], "Cls");
  EXPECT_EQ(driver->Calls()[1], "DrawPixmap 1024 768 0 0");
  EXPECT_EQ(driver->Calls().back(), "Flip 0");
  EXPECT_GT(card::TheScene().flakes->Count(), 0);
  for (const RecordedDraw& d : driver->Draws()) {
    EXPECT_EQ(d.sw, 3);
    EXPECT_GE(d.tx, 0);
    EXPECT_LE(d.tx, 1021);
  }
}

TEST_F(CardTest, StartsOnTheAudioDriverItIsGivenAndRefusesAnUnknownOne) {
  card::Scene& s = card::TheScene();
  TList* flakes = s.flakes.get();
  EXPECT_FALSE(card::Start({.music = false, .audioDriver = u"No such driver"}));
  EXPECT_EQ(s.flakes.get(), flakes);  // nothing else was done
  EXPECT_TRUE(card::Start({.music = false, .audioDriver = u"null"}));
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToUtf8String(), "Null");
}

}  // namespace

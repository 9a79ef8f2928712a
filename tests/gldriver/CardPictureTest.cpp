// The card on OpenGL in a virtual display: while snow settles into the
// picture, the picture drawn through its texture, which gets only the
// changed pixels, must match the picture drawn whole from memory, frame by
// frame; and a frame at the flake cap takes at most three draw calls.
#include <gtest/gtest.h>

#include "app/Card.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "lith2d/Lith2D.h"
#include "maths/Random.h"
#include "tests/support/ComparePixmaps.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

constexpr int64_t kPictureBytes = int64_t{1024} * 768 * 3;  // the card's picture is RGB

class CardPictureTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    card::InitModules();
    ASSERT_TRUE(card::Start({.music = false}));
    ASSERT_EQ(CurrentLith2DDriver(), static_cast<TLith2DDriver*>(OpenGL2DDriver()));
    // The whole pool at once, spread over the display, so that flakes
    // settle from the first frames on.
    card::AddFlakes(card::kMaxFlakes);
    for (auto* f : ListOf<card::snowflake>(card::TheScene().flakes)) f->y = float(RandomReal(2, 760));
  }
  void TearDown() override {
    OpenGL2DDriver()->UsePixmapTextures(true);
    ShutdownGraphics();
  }
};

TEST_F(CardPictureTest, SettlingSnowShowsAsIfThePictureWereDrawnWhole) {
  TPixmap* picture = card::TheScene().picture;
  ASSERT_EQ(picture->format, PIXFMT_RGB24);
  TGLLith2DDriver* driver = OpenGL2DDriver();
  uint64_t start = picture->ChangeCount();
  for (int frame = 0; frame < 30; ++frame) {
    Cls();
    int64_t before = driver->FrameCounters().uploadBytes;
    DrawPixmap(picture, 0, 0);
    int64_t sent = driver->FrameCounters().uploadBytes - before;
    Ref<TPixmap> textured = GrabPixmap(0, 0, 1024, 768);
    driver->UsePixmapTextures(false);
    Cls();
    DrawPixmap(picture, 0, 0);
    driver->UsePixmapTextures(true);
    ASSERT_TRUE(ComparePixmaps(textured, GrabPixmap(0, 0, 1024, 768), 0)) << "frame " << frame;
    // With every flake in view at once, hundreds settle in the first
    // frames; still only a small part of the picture is sent again.
    if (frame == 0) {
      EXPECT_EQ(sent, kPictureBytes) << "the first draw sends the whole picture";
    } else {
      EXPECT_LT(sent, frame < 10 ? kPictureBytes / 8 : kPictureBytes / 40) << "frame " << frame;
    }
    card::UpdateFlakes();
    Flip(0);
  }
  EXPECT_GT(picture->ChangeCount() - start, 100u) << "snow settled into the picture";
}

TEST_F(CardPictureTest, AFrameAtTheCapTakesAtMostThreeDrawCalls) {
  for (int frame = 0; frame < 3; ++frame) card::Frame();
  const GLFrameCounters& last = OpenGL2DDriver()->LastFrameCounters();
  EXPECT_LE(last.drawCalls, 3);
  EXPECT_GT(last.uploadBytes, 0) << "settled snow is sent";
  EXPECT_LT(last.uploadBytes, kPictureBytes / 8);
  EXPECT_EQ(card::TheScene().flakes->Count(), card::kMaxFlakes);
}

}  // namespace

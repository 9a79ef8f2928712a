// The snowfall, frame by frame: random draws in their order, the double
// reset, the settle test with its wrap and clamp, painting, grid extension,
// drawing and the spawn rule.
#include "app/Snowfall.h"

#include <gtest/gtest.h>

#include <cmath>

#include "graphics/Graphics.h"
#include "lith2d/Lith2D.h"
#include "lith2d/RecordingDriver.h"
#include "maths/Maths.h"
#include "maths/Random.h"
#include "maths/Trig.h"

using namespace vrl;
using namespace vrl::card;

namespace {

constexpr int32_t W = 1024, H = 768;

class SnowfallTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    card::Init();
    SelectGraphicsDriver(RecordingLith2DDriver(), 2);
    driver_ = RecordingLith2DDriver();
    graphics_ = OpenGraphics(W, H, 0, 0, 0);
    Scene& s = TheScene();
    s.flakes = CreateList();
    s.screenwidth = W;
    s.screenheight = H;
    s.grid = Array::New("i", {W + 1, H + 1});
    s.picture = NewPixmap(W, H, PIXFMT_RGB24, 4);
    s.picture->ClearPixels(0);
    Ref<TPixmap> sheet = NewPixmap(12, 3, PIXFMT_RGBA32, 4);
    sheet->ClearPixels(-1);
    s.snowimage = LoadImageSource(sheet, -1);
    SeedRandom(0);
    driver_->Clear();
  }
  void TearDown() override { ShutdownGraphics(); }

  // A flake placed by hand (it is still reset once when created).
  snowflake* Place(float x, float y, float dirx, float diry, float sinus, float style = 0) {
    Ref<snowflake> f = New<snowflake>();
    f->x = x;
    f->y = y;
    f->dirx = dirx;
    f->diry = diry;
    f->sinus = sinus;
    f->style = style;
    f->col = 230;
    return f.get();
  }

  int32_t& Cell(int32_t x, int32_t y) { return TheScene().grid->DataAs<int32_t>()[x * (H + 1) + y]; }

  TRecordingLith2DDriver* driver_ = nullptr;
  Ref<TGraphics> graphics_;
};

TEST_F(SnowfallTest, FirstFrameProcessesNothingAndMaySpawn) {
  int32_t state = RandomSeed();
  int32_t n = RandomInt(1, 100);
  bool spawn = RandomReal(1, 0) > 0.5;
  SeedRandom(state);
  EXPECT_EQ(UpdateFlakes(), 0);
  EXPECT_EQ(TheScene().flakes->Count(), spawn ? n : 0);
}

TEST_F(SnowfallTest, NewFlakesTakeSevenDrawsInOrder) {
  SeedRandom(4660);
  double x = RandomReal(0, W - 1), y = RandomReal(-H, -1);
  int32_t col = RandomInt(224, 255);
  double dirx = RandomReal(-1, 1), diry = RandomReal(0.5, 2);
  int32_t style = RandomInt(0, 3);
  double sinus = RandomReal(360, 0);
  SeedRandom(4660);
  AddFlake();
  auto* f = CastRaw<snowflake>(TheScene().flakes->Last());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->x, static_cast<float>(x));
  EXPECT_EQ(f->y, static_cast<float>(y));
  EXPECT_EQ(f->col, col);
  EXPECT_EQ(f->dirx, static_cast<float>(dirx));
  EXPECT_EQ(f->diry, static_cast<float>(diry));
  EXPECT_EQ(f->style, static_cast<float>(style));
  EXPECT_EQ(f->sinus, static_cast<float>(sinus));
  EXPECT_GE(f->y, -H);
  EXPECT_LT(f->y, -1);
  AddFlakes(0);
  AddFlakes(-3);
  EXPECT_EQ(TheScene().flakes->Count(), 1);
}

TEST_F(SnowfallTest, FallingBelowResetsTwice) {
  snowflake* f = Place(500, 767, 0, 2, 0);
  int32_t state = RandomSeed();
  RandomReal(3, 0);                            // sway
  for (int i = 0; i < 7; ++i) RandomDouble();  // the first reset
  double x = RandomReal(0, W - 1), y = RandomReal(-H, -1);
  SeedRandom(state);
  EXPECT_EQ(UpdateFlakes(), 1);
  EXPECT_EQ(f->x, static_cast<float>(x)) << "the values of the second reset";
  EXPECT_EQ(f->y, static_cast<float>(y));
  EXPECT_TRUE(driver_->Draws().empty()) << "a reset flake is not drawn";
}

TEST_F(SnowfallTest, FreeCellsLetFlakesFallOnAndTheyAreDrawn) {
  snowflake* f = Place(100.25f, 200.5f, 0, 1, 0, 2);
  float sinus = f->sinus;
  int32_t state = RandomSeed();
  double step = std::fmod(RandomReal(3, 0), 360.0);
  SeedRandom(state);
  UpdateFlakes();
  EXPECT_EQ(f->sinus, static_cast<float>(sinus + step));
  EXPECT_EQ(f->x, static_cast<float>(double(100.25f + 0.0f) + Sin(f->sinus) * 0.5));
  EXPECT_EQ(f->y, 201.5f);
  ASSERT_EQ(driver_->Draws().size(), 1u);
  const RecordedDraw& d = driver_->Draws()[0];
  EXPECT_EQ(d.tx, static_cast<float>(static_cast<int32_t>(f->x) - 1));
  EXPECT_EQ(d.ty, 200.0f);
  EXPECT_EQ(d.sx, 6.0f) << "sprite 2";
  EXPECT_EQ(d.x1 - d.x0, 3.0f);
  EXPECT_EQ(d.sw, 3.0f);
}

TEST_F(SnowfallTest, TheSwayPhaseGrowsWithoutWrapAndUsesTheExtendedSine) {
  // Far into a long run the phase is large; it is never brought back into a
  // turn, and the sway is the sine of the extended-precision product.
  snowflake* f = Place(300.5f, 100.25f, 0.5f, 1, 6.7e7f);
  Ref<snowflake> g = New<snowflake>();
  g->x = 400;
  g->y = 100;
  g->dirx = 0;
  g->diry = 1;
  g->sinus = 359.5f;
  int32_t state = RandomSeed();
  double stepF = RandomReal(3, 0);
  RandomInt(-1, 1);  // f's settle test over a free cell
  double stepG = RandomReal(3, 0);
  SeedRandom(state);
  EXPECT_EQ(UpdateFlakes(), 2);
  EXPECT_EQ(f->sinus, static_cast<float>(6.7e7f + stepF));
  EXPECT_EQ(f->x, static_cast<float>(double(300.5f + 0.5f) + trig::ReferenceSin(f->sinus) * 0.5));
  EXPECT_EQ(g->sinus, static_cast<float>(359.5f + stepG));
  EXPECT_EQ(g->x, static_cast<float>(400.0 + trig::ReferenceSin(g->sinus) * 0.5));
}

TEST_F(SnowfallTest, OtherValuesInTheFlakeListAreSkipped) {
  snowflake* f = Place(100, 100, 0, 1, 0);
  TheScene().flakes->AddLast(CreateList());
  TheScene().flakes->AddLast(Null());
  snowflake* g = Place(200, 100, 0, 1, 0);
  EXPECT_EQ(UpdateFlakes(), 2) << "only the flakes count";
  EXPECT_EQ(f->y, 101.0f);
  EXPECT_EQ(g->y, 101.0f) << "the flake after the other values moves too";
}

// Finds a generator state from which the sway draw is followed by the
// wanted m and by a settle draw above 0.8.
int32_t StateFor(int32_t wantedM) {
  for (int32_t seed = 1; seed < 100000; ++seed) {
    SeedRandom(seed);
    RandomReal(3, 0);
    int32_t m = RandomInt(-1, 1);
    if (m == wantedM && RandomReal(1, 0) > static_cast<double>(0.8f)) return seed;
  }
  return 0;
}

TEST_F(SnowfallTest, LeftEdgeWrapsToTheRightSideWhenMIsOne) {
  snowflake* f = Place(0.2f, 100, 0, 0.5f, 0);
  Cell(W - 2, 100) = 1;
  int32_t seed = StateFor(1);
  ASSERT_NE(seed, 0);
  SeedRandom(seed);
  UpdateFlakes();
  EXPECT_LT(f->y, 0) << "it settled and went back above the display";
  uint32_t grey = static_cast<uint32_t>(f->col);
  EXPECT_EQ(static_cast<uint32_t>(TheScene().picture->ReadPixel(W - 2, 100)),
            0xFF000000u | grey << 16 | grey << 8 | grey)
      << "painted with the new col at column W-2";
  EXPECT_EQ(Cell(W - 2, 99), 1);
  EXPECT_EQ(Cell(W - 3, 100), 1);
  EXPECT_EQ(Cell(W - 1, 100), 0) << "column W-1 is never marked";
}

TEST_F(SnowfallTest, LeftEdgeClampsToColumnOneOtherwise) {
  snowflake* f = Place(0.2f, 100, 0, 0.5f, 0);
  Cell(1, 100) = 1;
  int32_t seed = StateFor(0);
  ASSERT_NE(seed, 0);
  SeedRandom(seed);
  UpdateFlakes();
  EXPECT_LT(f->y, 0);
  EXPECT_NE(TheScene().picture->ReadPixel(1, 100) & 0xFFFFFF, 0);
  EXPECT_EQ(Cell(0, 100), 0) << "column 0 is never marked";
  EXPECT_EQ(Cell(2, 100), 1);
}

TEST_F(SnowfallTest, TopRowIsNeverMarked) {
  Place(300.2f, 0.6f, 0, 0.5f, 0);  // y becomes 1.1: ty 1
  Cell(300, 1) = 1;
  int32_t seed = StateFor(0);
  ASSERT_NE(seed, 0);
  SeedRandom(seed);
  UpdateFlakes();
  EXPECT_EQ(Cell(300, 0), 0);
  EXPECT_EQ(Cell(299, 1), 1);
}

// With every flake far above the display, each takes exactly eight double
// draws in a frame (the sway and one reset), so the spawn draw that follows
// can be steered by choosing the starting state.
int32_t StateBeforeSpawn(int32_t flakes, int32_t wanted, bool spawn) {
  for (int32_t seed = 1; seed < 100000; ++seed) {
    SeedRandom(seed);
    for (int32_t i = 0; i < flakes * 8; ++i) RandomDouble();
    if (RandomInt(1, 100) != wanted) continue;
    if (!spawn || RandomReal(1, 0) > 0.5) return seed;
  }
  return 0;
}

TEST_F(SnowfallTest, SpawnRespectsTheCap) {
  const int32_t flakes = kMaxFlakes - 50;
  AddFlakes(flakes);
  auto liftAll = [] {
    for (auto* f : ListOf<snowflake>(TheScene().flakes)) f->y = -100000;
  };
  int32_t over = StateBeforeSpawn(flakes, 51, false);
  ASSERT_NE(over, 0);
  liftAll();
  SeedRandom(over);
  EXPECT_EQ(UpdateFlakes(), flakes);
  EXPECT_EQ(TheScene().flakes->Count(), flakes) << "19950 + 51 would pass the cap";

  int32_t exact = StateBeforeSpawn(flakes, 50, true);
  ASSERT_NE(exact, 0);
  liftAll();
  SeedRandom(exact);
  UpdateFlakes();
  EXPECT_EQ(TheScene().flakes->Count(), kMaxFlakes);
  for (int frame = 0; frame < 3; ++frame) UpdateFlakes();
  EXPECT_EQ(TheScene().flakes->Count(), kMaxFlakes) << "never more";
}

TEST_F(SnowfallTest, PackArgb) {
  EXPECT_EQ(static_cast<uint32_t>(PackARGB(224, 224, 224, 224)), 0xE0E0E0E0u);
  EXPECT_EQ(PackARGB(0, 1, 2, 3), 0x010203);
}

}  // namespace

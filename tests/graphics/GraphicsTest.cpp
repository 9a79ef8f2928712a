// Driver selection, opening, closing and flipping, with a driver that counts
// what it is asked to do.
#include "graphics/Graphics.h"

#include <gtest/gtest.h>

#include "lith2d/RecordingDriver.h"
#include "lith2d/testing/LoggingDriver.h"
#include "runtime/Console.h"
#include "runtime/Exceptions.h"
#include "system/Hooks.h"

using namespace vrl;

namespace {

int gFlipHooks = 0;
Ref<Object> CountFlip(int32_t, Object* data, Object*) {
  ++gFlipHooks;
  return Ref<Object>(data);
}

// A driver whose CreateGraphics fails by throwing.
class TFailingDriver : public TRecordingLith2DDriver {
 public:
  Ref<TGraphics> CreateGraphics(int32_t, int32_t, int32_t, int32_t, int32_t) override {
    vrRuntimeError("no display here");
  }
};

class GraphicsTest : public testing::Test {
 protected:
  void SetUp() override {
    lith2d::Init();
    SelectGraphicsDriver(LoggingLith2DDriver(), 2);
    driver_ = LoggingLith2DDriver();
  }
  void TearDown() override { ShutdownGraphics(); }

  int FlipsWith(int32_t sync) const {
    std::string line = "Flip " + std::to_string(sync);
    return static_cast<int>(std::count(driver_->Calls().begin(), driver_->Calls().end(), line));
  }

  TLoggingLith2DDriver* driver_ = nullptr;
};

TEST_F(GraphicsTest, ModeText) {
  Ref<TGraphicsMode> mode = New<TGraphicsMode>();
  mode->width = 640;
  mode->height = 480;
  mode->depth = 16;
  EXPECT_EQ(mode->ToString()->ToNarrow(), "640,480,16 0Hz");
  EXPECT_EQ(HasGraphicsMode(0, 0, 32, 0), 1);
  EXPECT_EQ(HasGraphicsMode(0, 0, 16, 0), 0);
  Ref<Array> copy = GraphicsModes();
  copy->SetObject(0, nullptr);
  EXPECT_EQ(GraphicsModeCount(), 1) << "callers get a copy";
}

TEST_F(GraphicsTest, SettingsFollowOpenAndShutdown) {
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  int32_t generation = GraphicsGeneration();
  Ref<TGraphics> g = OpenGraphics(1024, 768, 32, 60, 0);
  ASSERT_FALSE(g.IsNull());
  EXPECT_NE(GraphicsGeneration(), generation);
  EXPECT_EQ(CurrentGraphicsWidth(), 1024);
  EXPECT_EQ(CurrentGraphicsFlags(), 2) << "default flags are ORed in";
  Ref<TGraphics> second = OpenGraphics(800, 600, 0, 0, 0);
  EXPECT_EQ(CastRaw<TLith2DGraphics>(g)->Wrapped(), nullptr) << "the first display was closed";
  EXPECT_EQ(CurrentGraphicsWidth(), 800);
  ShutdownGraphics();
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  EXPECT_GT(GraphicsGeneration(), 0);
}

TEST_F(GraphicsTest, FlipRules) {
  InstallHook(FlipHookId(), &CountFlip, nullptr, 0);
  OpenGraphics(1024, 768, 32, 60, 0);  // full screen with a rate: vsync
  driver_->Clear();
  gFlipHooks = 0;
  Flip(0);
  Flip(-1);
  EXPECT_EQ(FlipsWith(0), 1);
  EXPECT_EQ(FlipsWith(1), 1);
  EXPECT_EQ(gFlipHooks, 2) << "hooks run on every Flip";

  OpenGraphics(800, 600, 0, 0, 0);  // window without a rate: at once
  driver_->Clear();
  Flip(-1);
  EXPECT_EQ(FlipsWith(0), 1);

  OpenGraphics(800, 600, 0, 60, 0);  // window at 60 Hz: paced by sleeping
  driver_->Clear();
  uint32_t start = vrMilliseconds();
  for (int i = 0; i < 6; ++i) Flip(-1);
  uint32_t elapsed = vrMilliseconds() - start;
  EXPECT_EQ(FlipsWith(0), 6);
  EXPECT_EQ(FlipsWith(1), 0) << "never waits for the vertical blank";
  EXPECT_GE(elapsed, 90u) << "six frames at 60 Hz take about 100 ms";
  UninstallHook(FlipHookId(), &CountFlip, nullptr);
}

TEST_F(GraphicsTest, DriverExceptionsGiveNull) {
  Ref<TFailingDriver> failing = New<TFailingDriver>();
  SelectGraphicsDriver(failing, 0);
  EXPECT_TRUE(CreateGraphics(100, 100, 0, 0, 0).IsNull());
  EXPECT_TRUE(OpenGraphics(100, 100, 0, 0, 0).IsNull());
  EXPECT_EQ(CurrentGraphicsWidth(), 0);
  SelectGraphicsDriver(LoggingLith2DDriver(), 2);
}

TEST_F(GraphicsTest, GenerationIsNeverZero) {
  graphics::SetGenerationForTesting(-1);
  SelectGraphicsDriver(LoggingLith2DDriver(), 2);
  EXPECT_EQ(GraphicsGeneration(), 1);
  graphics::SetGenerationForTesting(INT32_MAX);
  AdvanceGraphicsGeneration();
  EXPECT_EQ(GraphicsGeneration(), INT32_MIN) << "it wraps through the negative values";
}

}  // namespace

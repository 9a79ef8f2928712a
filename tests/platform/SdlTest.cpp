#include "platform/Sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/Window.h"
#include "tests/support/DummyVideo.h"

using namespace vrl::platform;

namespace {

class SdlTest : public testing::Test {
 protected:
  void SetUp() override { UseDummyVideo(); }
};

TEST_F(SdlTest, CountsEachSubsystemAndStopsOnLastRelease) {
  ASSERT_EQ(SdlReferenceCount(kSdlEvents), 0);
  ASSERT_TRUE(AcquireSdl(kSdlEvents));
  ASSERT_TRUE(AcquireSdl(kSdlEvents | kSdlTimer));
  EXPECT_EQ(SdlReferenceCount(kSdlEvents), 2);
  EXPECT_EQ(SdlReferenceCount(kSdlTimer), 1);
  EXPECT_NE(SDL_WasInit(SDL_INIT_EVENTS), 0u);
  // SDL must not take over Ctrl-C and SIGTERM.
  EXPECT_STREQ(SDL_GetHint(SDL_HINT_NO_SIGNAL_HANDLERS), "1");

  ReleaseSdl(kSdlTimer | kSdlEvents);
  EXPECT_EQ(SdlReferenceCount(kSdlTimer), 0);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_TIMER), 0u);
  EXPECT_TRUE(SdlRunning(kSdlEvents));
  ReleaseSdl(kSdlEvents);
  EXPECT_FALSE(SdlRunning(kSdlEvents));
  EXPECT_EQ(SDL_WasInit(0), 0u);
  // Surplus releases are ignored.
  ReleaseSdl(kSdlEvents);
  EXPECT_EQ(SdlReferenceCount(kSdlEvents), 0);
}

// A deferred stop leaves the subsystem started, unheld, until SDL stops or
// the subsystem is acquired again, which starts it afresh: a driver named
// since then is the one taken.
TEST_F(SdlTest, ADeferredStopWaitsForTheEndOfSdlOrTheNextStart) {
  ASSERT_TRUE(AcquireSdl(kSdlEvents));
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_TRUE(AcquireSdl(kSdlAudio)) << SdlLastError();
  EXPECT_STREQ(SDL_GetCurrentAudioDriver(), "dummy");
  ReleaseSdlDeferringStop(kSdlAudio);
  EXPECT_EQ(SdlReferenceCount(kSdlAudio), 0);
  EXPECT_FALSE(SdlRunning(kSdlAudio));
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);

  setenv("SDL_AUDIODRIVER", "disk", 1);
  ASSERT_TRUE(AcquireSdl(kSdlAudio)) << SdlLastError();
  EXPECT_STREQ(SDL_GetCurrentAudioDriver(), "disk");
  EXPECT_EQ(SdlReferenceCount(kSdlAudio), 1);
  ReleaseSdlDeferringStop(kSdlAudio);
  // A plain release of another subsystem stops only that one.
  ASSERT_TRUE(AcquireSdl(kSdlTimer));
  ReleaseSdl(kSdlTimer);
  EXPECT_EQ(SDL_WasInit(SDL_INIT_TIMER), 0u);
  EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
  // With nothing held SDL stops, the deferred subsystem with it.
  ReleaseSdl(kSdlEvents);
  EXPECT_EQ(SDL_WasInit(0), 0u);

  // Deferring the last held subsystem stops SDL at once.
  ASSERT_TRUE(AcquireSdl(kSdlAudio)) << SdlLastError();
  ReleaseSdlDeferringStop(kSdlAudio);
  EXPECT_EQ(SDL_WasInit(0), 0u);
  unsetenv("SDL_AUDIODRIVER");
}

TEST_F(SdlTest, FailedAcquisitionLeavesNothingHeld) {
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(AcquireSdl(kSdlEvents | kSdlVideo));
  EXPECT_FALSE(SdlLastError().empty());
  EXPECT_EQ(SdlReferenceCount(kSdlEvents), 0);
  EXPECT_EQ(SdlReferenceCount(kSdlVideo), 0);
  EXPECT_EQ(SDL_WasInit(0), 0u);
  // Without a display the metrics say so instead of failing hard.
  DesktopMetrics metrics;
  EXPECT_FALSE(QueryDesktopMetrics(metrics));
  EXPECT_EQ(OpenPlainWindow("x", 10, 10), 0u);
  UseDummyVideo();
}

// With no display SDL fell back to its offscreen driver, and programs ran
// invisibly on windows nobody could see.
TEST_F(SdlTest, WithoutADisplayTheOffscreenDriverIsNotTaken) {
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  if (access("/dev/dri", F_OK) == 0) GTEST_SKIP() << "a graphics console may serve as display here";
  EXPECT_FALSE(AcquireSdl(kSdlVideo));
  EXPECT_EQ(SdlLastError(), "No available video device");
  EXPECT_EQ(SdlVideoError(), "No available video device");
  EXPECT_EQ(SDL_WasInit(0), 0u);
  // Asked for by name, it serves.
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  ASSERT_TRUE(AcquireSdl(kSdlVideo)) << SDL_GetError();
  EXPECT_STREQ(SDL_GetCurrentVideoDriver(), "offscreen");
  ReleaseSdl(kSdlVideo);
  UseDummyVideo();
}

TEST_F(SdlTest, PlainWindowAndDesktopUnderTheDummyDriver) {
  uint32_t window = OpenPlainWindow("plain", 320, 200);
  ASSERT_NE(window, 0u) << SDL_GetError();
  EXPECT_TRUE(WindowExists(window));
  EXPECT_TRUE(WindowShown(window));
  int32_t w = 0, h = 0;
  ASSERT_TRUE(WindowClientSize(window, w, h));
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 200);
  DesktopMetrics metrics;
  ASSERT_TRUE(QueryDesktopMetrics(metrics));
  EXPECT_EQ(metrics.width, 1024);
  EXPECT_EQ(metrics.height, 768);
  EXPECT_EQ(metrics.bitsPerPixel, 32);  // RGB888: 4 bytes a pixel
  ClosePlainWindow(window);
  EXPECT_FALSE(WindowExists(window));
  EXPECT_FALSE(SdlRunning(kSdlVideo));
}

}  // namespace

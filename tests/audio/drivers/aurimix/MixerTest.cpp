// The mixer heard through the capture device: start delays from the
// device's clock, ramps, interpolation, pan and depth, looping, clamping,
// and the channel handles' rules.
#include "audio/drivers/aurimix/Mixer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/drivers/aurimix/CaptureDevice.h"

using namespace vrl;
using aurimix::capturedevice;
using aurimix::sounddata;

namespace {

constexpr int32_t kBlockFrames = 512;

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device = new capturedevice(kBlockFrames * 2);
    ASSERT_EQ(MixerInit(device), 0);
    device->settime(1000);
  }
  void TearDown() override {
    for (sounddata* s : sounds) MixerFreeSound(s);
    MixerClose();
  }

  sounddata* Sound16(const std::vector<int16_t>& frames, int32_t channels = 1, int32_t loop = 0,
                     int32_t hertz = 44100) {
    sounddata* s =
        MixerCreateSound(int32_t(frames.size()) / channels, 16, channels, hertz, frames.data(), loop);
    sounds.push_back(s);
    return s;
  }
  sounddata* Sound8(const std::vector<uint8_t>& frames, int32_t loop = 0) {
    sounddata* s = MixerCreateSound(int32_t(frames.size()), 8, 1, 44100, frames.data(), loop);
    sounds.push_back(s);
    return s;
  }
  // Queues with the clock 20 ms ahead when mixing starts, so the voice
  // starts with the next block.
  int32_t PlayNow(sounddata* s, int32_t handle = 0) {
    const int32_t h = MixerPlaySound(s, 0, handle);
    device->advance(20);
    return h;
  }
  std::vector<int16_t> Left(const std::vector<int16_t>& out) {
    std::vector<int16_t> l;
    for (size_t i = 0; i < out.size(); i += 2) l.push_back(out[i]);
    return l;
  }

  capturedevice* device = nullptr;
  std::vector<sounddata*> sounds;
};

std::vector<int16_t> Constant(int32_t frames, int16_t value) {
  return std::vector<int16_t>(size_t(frames), value);
}

std::vector<int16_t> Ramp(int32_t frames) {
  std::vector<int16_t> v;
  for (int32_t i = 0; i < frames; ++i) v.push_back(int16_t(i));
  return v;
}

}  // namespace

TEST_F(MixerTest, StartDelayComesFromTheClockAtTheDrain) {
  sounddata* s = Sound16(Constant(4000, 1000));
  MixerPlaySound(s, 0, 0);
  device->advance(5);  // 15 ms left: 661 frames at 44100 Hz, rounded down
  std::vector<int16_t> out = device->capture(kBlockFrames * 2);
  EXPECT_EQ(out[2 * 660], 0);
  EXPECT_EQ(out[2 * 660 + 1], 0);
  EXPECT_EQ(out[2 * 661], 1000);
  EXPECT_EQ(out[2 * 661 + 1], 1000);
}

TEST_F(MixerTest, VoicesQueuedTwentyMillisecondsOrMoreEarlierStartAtOnce) {
  sounddata* s = Sound16(Constant(4000, 1000));
  for (uint32_t late : {20u, 35u}) {
    MixerPlaySound(s, 0, 0);
    device->advance(late);
    std::vector<int16_t> out = device->capture(kBlockFrames);
    EXPECT_EQ(out[0], 1000) << late;
    MixerClose();
    device = new capturedevice(kBlockFrames * 2);
    ASSERT_EQ(MixerInit(device), 0);
  }
}

TEST_F(MixerTest, ADelayLongerThanABlockCarriesIntoTheNextBlock) {
  sounddata* s = Sound16(Constant(4000, 1000));
  MixerPlaySound(s, 0, 0);  // drained at once: 20 ms = 882 frames
  std::vector<int16_t> first = device->capture(kBlockFrames);
  for (int16_t v : first) ASSERT_EQ(v, 0);
  std::vector<int16_t> second = Left(device->capture(kBlockFrames));
  EXPECT_EQ(second[882 - kBlockFrames - 1], 0);
  EXPECT_EQ(second[882 - kBlockFrames], 1000);
}

TEST_F(MixerTest, SixteenBitMonoAtUnityComesOutUnchangedOnBothSides) {
  std::vector<int16_t> frames = {0, 1, -1, 32767, -32768, 12345, -23456, 7};
  sounddata* s = Sound16(frames);
  const int32_t h = PlayNow(s);
  std::vector<int16_t> out = device->capture(16);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(out[2 * i], frames[i]) << i;
    EXPECT_EQ(out[2 * i + 1], frames[i]) << i;
  }
  EXPECT_EQ(out[2 * frames.size()], 0);  // ended: nothing after the last frame
  EXPECT_EQ(MixerChannelPosition(h), int32_t(frames.size()));
}

TEST_F(MixerTest, StereoKeepsItsSidesAndEightBitIsCentredOnSilence) {
  sounddata* st = Sound16({100, -100, 200, -200}, 2);
  PlayNow(st);
  std::vector<int16_t> out = device->capture(4);
  EXPECT_EQ((std::vector<int16_t>(out.begin(), out.begin() + 6)),
            (std::vector<int16_t>{100, -100, 200, -200, 0, 0}));
  MixerClose();
  device = new capturedevice(kBlockFrames * 2);
  ASSERT_EQ(MixerInit(device), 0);
  sounddata* s8 = Sound8({128, 0, 255, 129});
  PlayNow(s8);
  out = device->capture(4);
  EXPECT_EQ(Left(out), (std::vector<int16_t>{0, -32768, 32512, 256}));
}

TEST_F(MixerTest, InterpolationIsLinearBetweenFrames) {
  // Half speed: every second output lies half-way.
  sounddata* s = Sound16({0, 1000, -1000}, 1, 0, 22050);
  PlayNow(s);
  EXPECT_EQ(Left(device->capture(6)), (std::vector<int16_t>{0, 500, 1000, 0, -1000, -1000}));
}

TEST_F(MixerTest, StereoInterpolationUsesTheFractionOfTheFrame) {
  // At half speed the position of a stereo voice passes odd interleaved
  // samples; those are half frames, not the frame start.
  sounddata* s = Sound16({0, 0, 1000, -1000, 2000, -2000}, 2, 0, 22050);
  PlayNow(s);
  std::vector<int16_t> out = device->capture(4);
  EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 500, -500, 1000, -1000, 1500, -1500}));
}

TEST_F(MixerTest, EightBitInterpolation) {
  sounddata* s = Sound8({0, 255});
  const int32_t h = MixerAllocChannel();
  MixerSetRate(h, 32768);
  MixerPlaySound(s, 0, h);
  device->advance(20);
  std::vector<int16_t> l = Left(device->capture(3));
  EXPECT_EQ(l[0], -32768);
  EXPECT_EQ(l[1], -32768 + (255 * 32768 >> 8));
  EXPECT_EQ(l[2], 32512);
}

TEST_F(MixerTest, SixteenBitInterpolationOfFullScaleStepsDoesNotOverflow) {
  // (32767 - -32768) * 0xC000 needs 33 bits.
  sounddata* s = Sound16({-32768, 32767});
  const int32_t h = MixerAllocChannel();
  MixerSetRate(h, 16384);  // a quarter: fractions 0, 0.25, 0.5, 0.75
  MixerPlaySound(s, 0, h);
  device->advance(20);
  EXPECT_EQ(Left(device->capture(6)), (std::vector<int16_t>{-32768, -16385, -1, 16383, 32767, 32767}));
}

TEST_F(MixerTest, SetRateRampsTheStepWithinTheNextBlock) {
  sounddata* s = Sound16(Ramp(20000));
  const int32_t h = PlayNow(s);
  std::vector<int16_t> first = Left(device->capture(kBlockFrames));
  for (int32_t i = 0; i < kBlockFrames; ++i) ASSERT_EQ(first[size_t(i)], i);

  MixerSetRate(h, 2 * 65536);
  std::vector<int16_t> second = Left(device->capture(kBlockFrames));
  EXPECT_EQ(second[0], kBlockFrames);  // the first frame still at the old step
  EXPECT_LE(second[1] - second[0], 1);
  EXPECT_GE(second[kBlockFrames - 1] - second[kBlockFrames - 2], 1);
  for (int32_t i = 1; i < kBlockFrames; ++i) ASSERT_GE(second[size_t(i)], second[size_t(i - 1)]);
  // Half-way between the two speeds on average: about 1.5 frames a frame.
  std::vector<int16_t> third = Left(device->capture(kBlockFrames));
  EXPECT_NEAR(third[0] - second[0], kBlockFrames * 3 / 2, 2);
  for (int32_t i = 1; i < kBlockFrames; ++i) ASSERT_EQ(third[size_t(i)] - third[size_t(i - 1)], 2);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusPlaying);
}

TEST_F(MixerTest, SetVolumeRampsToTheTargetAcrossOneBlock) {
  sounddata* s = Sound16(Constant(20000, 16000));
  const int32_t h = PlayNow(s);
  device->capture(kBlockFrames);
  MixerSetVolume(h, 0);
  std::vector<int16_t> ramp = Left(device->capture(kBlockFrames));
  EXPECT_EQ(ramp[0], 16000);
  for (int32_t i = 1; i < kBlockFrames; ++i) ASSERT_LE(ramp[size_t(i)], ramp[size_t(i - 1)]);
  EXPECT_LT(ramp[kBlockFrames - 1], 100);
  for (int16_t v : device->capture(kBlockFrames)) ASSERT_EQ(v, 0);
}

TEST_F(MixerTest, ASilentVoiceStillEndsOnTime) {
  sounddata* s = Sound16(Constant(1000, 5000));
  const int32_t h = MixerAllocChannel();
  MixerSetVolume(h, 0);
  PlayNow(s, h);
  for (int16_t v : device->capture(kBlockFrames)) ASSERT_EQ(v, 0);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusPlaying);
  device->capture(kBlockFrames);  // passes frame 1000
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusStopped);
}

TEST_F(MixerTest, ASilentVoiceStillLoopsOnTime) {
  std::vector<int16_t> frames = Ramp(1000);
  sounddata* s = Sound16(frames, 1, -1);
  const int32_t h = MixerAllocChannel();
  MixerSetVolume(h, 0);
  PlayNow(s, h);
  for (int16_t v : device->capture(3 * kBlockFrames)) ASSERT_EQ(v, 0);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusLooping);
  EXPECT_EQ(MixerChannelPosition(h), 3 * kBlockFrames);
  // Paused, the volume is set without a ramp; resumed, the voice goes on
  // where the silent loop has brought it.
  MixerSetPaused(h, 1);
  MixerSetVolume(h, 4096);
  MixerSetPaused(h, 0);
  std::vector<int16_t> l = Left(device->capture(4));
  EXPECT_EQ(l, (std::vector<int16_t>{536, 537, 538, 539}));
}

TEST_F(MixerTest, LoopingHasNoGapOrClickAtTheSeam) {
  std::vector<int16_t> frames;
  for (int32_t i = 0; i < 300; ++i) frames.push_back(int16_t((i * 7919) % 20001 - 10000));
  sounddata* s = Sound16(frames, 1, -1);
  const int32_t h = PlayNow(s);
  std::vector<int16_t> l = Left(device->capture(1000));
  for (size_t i = 0; i < l.size(); ++i) ASSERT_EQ(l[i], frames[i % frames.size()]) << i;
  EXPECT_EQ(MixerChannelPosition(h), 1000);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusLooping);
}

TEST_F(MixerTest, AcrossTheSeamInterpolationReadsTheFirstFrameAgain) {
  sounddata* looped = Sound16({100, 200, 300, 1000}, 1, -1, 22050);
  PlayNow(looped);
  std::vector<int16_t> l = Left(device->capture(10));
  EXPECT_EQ(l[7], (1000 + 100) / 2);  // between the last frame and the first
  EXPECT_EQ(l[8], 100);
  MixerClose();
  device = new capturedevice(kBlockFrames * 2);
  ASSERT_EQ(MixerInit(device), 0);
  sounddata* once = Sound16({100, 200, 300, 1000}, 1, 0, 22050);
  PlayNow(once);
  l = Left(device->capture(10));
  EXPECT_EQ(l[7], 1000);  // the guard frame repeats the last one
  EXPECT_EQ(l[8], 0);
}

TEST_F(MixerTest, PanAttenuatesTheOtherSideAndNegativeDepthInvertsTheRight) {
  sounddata* s = Sound16(Constant(4000, 8000));
  const int32_t centre = MixerAllocChannel();
  MixerSetDepth(centre, -4096);
  PlayNow(s, centre);
  std::vector<int16_t> out = device->capture(4);
  EXPECT_GT(out[0], 0);
  EXPECT_LT(out[1], 0);
  EXPECT_EQ(out[1], -out[0]);
  MixerStopChannel(centre);

  const int32_t right = MixerAllocChannel();
  MixerSetPan(right, 2048);
  PlayNow(s, right);
  device->capture(kBlockFrames);  // the stopped voice goes
  out = device->capture(4);
  EXPECT_EQ(out[0], 4000);
  EXPECT_EQ(out[1], 8000);
  MixerSetPan(right, -4096);  // pan is always the target: no ramp
  out = device->capture(4);
  EXPECT_EQ(out[0], 8000);
  EXPECT_EQ(out[1], 0);
  MixerStopChannel(right);

  // Beyond full right is full right, even at the loudest volume.
  sounddata* loud = Sound16(Constant(4000, -30000));
  const int32_t beyond = MixerAllocChannel();
  MixerSetVolume(beyond, 32767);
  MixerSetPan(beyond, 32767);
  PlayNow(loud, beyond);
  device->capture(kBlockFrames);  // the stopped voice goes
  out = device->capture(4);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], -32768);
}

TEST_F(MixerTest, ManyVoicesClampAtFullScale) {
  sounddata* up = Sound16(Constant(4000, 30000));
  sounddata* down = Sound16(Constant(4000, -30000));
  for (int i = 0; i < 8; ++i) MixerPlaySound(up, 0, 0);
  device->advance(20);
  std::vector<int16_t> out = device->capture(8);
  for (int16_t v : out) ASSERT_EQ(v, 32767);
  // The sum is clamped, not each voice: opposite voices still cancel.
  for (int i = 0; i < 8; ++i) MixerPlaySound(down, 0, 0);
  device->advance(20);
  for (int16_t v : device->capture(8)) ASSERT_EQ(v, 0);
  for (int i = 0; i < 8; ++i) MixerPlaySound(down, 0, 0);
  device->advance(20);
  for (int16_t v : device->capture(8)) ASSERT_EQ(v, -32768);
}

TEST_F(MixerTest, HandlesCarryGenerationsAndStaleOnesDoNothing) {
  sounddata* s = Sound16(Constant(20000, 1000));
  const int32_t old = MixerAllocChannel();
  PlayNow(s, old);
  device->capture(kBlockFrames);
  MixerStopChannel(old);
  const int32_t fresh = MixerAllocChannel();
  EXPECT_EQ(fresh & 0xFFF, old & 0xFFF);  // the same entry, a new generation
  EXPECT_NE(fresh, old);
  PlayNow(s, fresh);

  MixerSetVolume(old, 0);
  MixerSetPaused(old, 1);
  MixerSetRate(old, 0);
  MixerStopChannel(old);
  MixerFreeChannel(old);
  EXPECT_EQ(MixerPlaySound(s, 0, old), 0);
  EXPECT_EQ(MixerChannelStatus(old), 0);
  EXPECT_EQ(MixerChannelPosition(old), 0);

  std::vector<int16_t> out = device->capture(kBlockFrames);
  for (int16_t v : out) ASSERT_EQ(v, 1000);
  EXPECT_EQ(MixerChannelStatus(fresh), aurimix::kStatusPlaying);
  EXPECT_EQ(MixerChannelPosition(fresh), kBlockFrames);
}

TEST_F(MixerTest, AFreedHandleIsStaleAtOnce) {
  sounddata* s = Sound16(Constant(20000, 1000));
  const int32_t h = MixerAllocChannel();
  PlayNow(s, h);
  MixerFreeChannel(h);
  // Before the entry is handed out again, the handle already reaches
  // nothing: no default voice is made on a free entry.
  EXPECT_EQ(MixerChannelStatus(h), 0);
  MixerSetVolume(h, 0);
  EXPECT_EQ(MixerPlaySound(s, 0, h), 0);
  // The voice plays on, untouched.
  for (int16_t v : device->capture(kBlockFrames)) ASSERT_EQ(v, 1000);
}

TEST_F(MixerTest, ARecycledVoiceLeavesTheHandleItPlayedOn) {
  sounddata* shortSound = Sound16(Constant(10, 500));
  sounddata* longSound = Sound16(Constant(20000, 1000));
  const int32_t first = PlayNow(shortSound);
  ASSERT_NE(first, 0);
  EXPECT_EQ(MixerChannelStatus(first), aurimix::kStatusPlaying);
  device->capture(kBlockFrames);  // ends and goes back through the free ring
  EXPECT_EQ(MixerChannelStatus(first), aurimix::kStatusFree);

  const int32_t second = PlayNow(longSound);  // takes the recycled voice
  ASSERT_NE(second, 0);
  EXPECT_NE(second, first);
  MixerSetVolume(first, 0);
  MixerSetPaused(first, 1);
  EXPECT_EQ(MixerChannelStatus(first), aurimix::kStatusStopped | aurimix::kPausedBit);  // a default voice
  for (int16_t v : device->capture(kBlockFrames)) ASSERT_EQ(v, 1000);
  EXPECT_EQ(MixerChannelStatus(second), aurimix::kStatusPlaying);
}

TEST_F(MixerTest, EndedVoicesOnAllocatedHandlesStayUntilStoppedThenGo) {
  sounddata* s = Sound16(Constant(10, 500));
  const int32_t h = MixerAllocChannel();
  PlayNow(s, h);
  device->capture(kBlockFrames);
  device->capture(kBlockFrames);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusStopped);
  // Replaying on the handle replaces the ended voice, which is recycled.
  EXPECT_EQ(PlayNow(s, h), h);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusPlaying);
  device->capture(kBlockFrames);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusStopped);
  MixerStopChannel(h);
  EXPECT_EQ(MixerChannelStatus(h), 0);
}

TEST_F(MixerTest, PlayTakesTheHandlesSettingsAndCueStartsPaused) {
  sounddata* s = Sound16(Constant(20000, 8000));
  const int32_t h = MixerAllocChannel();
  MixerSetVolume(h, 2048);
  MixerSetPan(h, -4096);
  EXPECT_EQ(MixerPlaySound(s, 1, h), h);
  device->advance(20);
  EXPECT_EQ(MixerChannelStatus(h), aurimix::kStatusPlaying | aurimix::kPausedBit);
  for (int16_t v : device->capture(kBlockFrames)) ASSERT_EQ(v, 0);
  MixerSetPaused(h, 0);
  std::vector<int16_t> out = device->capture(4);
  EXPECT_EQ(out[0], 4000);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(MixerChannelPosition(h), 4);
}

TEST_F(MixerTest, HandlesRunOutAtFourThousandNinetyFive) {
  std::vector<int32_t> handles;
  for (int i = 0; i < 4095; ++i) {
    handles.push_back(MixerAllocChannel());
    ASSERT_NE(handles.back(), 0);
  }
  EXPECT_EQ(MixerAllocChannel(), 0);
  // Playing without a handle still plays, with no handle to return.
  sounddata* s = Sound16(Constant(4000, 1000));
  EXPECT_EQ(PlayNow(s), 0);
  EXPECT_EQ(device->capture(4)[0], 1000);
  MixerFreeChannel(handles[100]);
  const int32_t again = MixerAllocChannel();
  EXPECT_EQ(again & 0xFFF, handles[100] & 0xFFF);
  EXPECT_NE(again, handles[100]);
}

TEST_F(MixerTest, MoreRecycledVoicesThanTheFreeRingHoldsAreKeptNotLost) {
  sounddata* s = Sound16(Constant(4, 1));
  // Voices of one unit each sum exactly: the output counts the voices heard.
  for (int i = 0; i < 3000; ++i) MixerPlaySound(s, 0, 0);
  device->advance(20);
  EXPECT_EQ(device->capture(2)[0], 3000);
  for (int i = 0; i < 3000; ++i) MixerPlaySound(s, 0, 0);
  device->advance(20);
  EXPECT_EQ(device->capture(2)[0], 6000);
  device->capture(kBlockFrames);  // 6000 voices recycled: the free ring holds 4095
  for (int i = 0; i < 3000; ++i) MixerPlaySound(s, 0, 0);
  device->advance(20);
  EXPECT_EQ(device->capture(2)[0], 3000);
  device->capture(kBlockFrames);
  for (int i = 0; i < 4000; ++i) MixerPlaySound(s, 0, 0);
  device->advance(20);
  EXPECT_EQ(device->capture(2)[0], 4000);
}

TEST_F(MixerTest, SoundDataLivesWhileAVoicePlaysIt) {
  std::vector<int16_t> frames = Ramp(2000);
  sounddata* s = MixerCreateSound(2000, 16, 1, 44100, frames.data(), 0);
  PlayNow(s);
  MixerFreeSound(s);  // the voice still holds it
  std::vector<int16_t> l = Left(device->capture(4));
  EXPECT_EQ(l, (std::vector<int16_t>{0, 1, 2, 3}));
  device->capture(2000);  // ends; recycling drops the last reference
}

TEST(MixerSetupTest, BadSoundsAreRefused) {
  auto* device = new capturedevice();
  ASSERT_EQ(MixerInit(device), 0);
  int16_t data[4] = {};
  EXPECT_EQ(MixerCreateSound(4, 12, 1, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(4, 16, 3, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(0, 16, 1, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(-1, 16, 1, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(1 << 30, 16, 1, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(4, 16, 1, 0, data, 0), nullptr);
  EXPECT_EQ(MixerCreateSound(4, 16, 1, 44100, nullptr, 0), nullptr);
  sounddata* ok = MixerCreateSound(4, 8, 2, 8000, data, -1);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->FrameBytes(), 2);
  EXPECT_EQ(ok->owned, 10);  // the data and its guard frame
  MixerFreeSound(ok);
  MixerClose();
}

TEST(MixerSetupTest, WithoutAMixerEverythingIsANoOp) {
  int16_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(MixerCreateSound(4, 16, 1, 44100, data, 0), nullptr);
  EXPECT_EQ(MixerAllocChannel(), 0);
  EXPECT_EQ(MixerPlaySound(nullptr, 0, 0), 0);
  EXPECT_EQ(MixerChannelStatus(4097), 0);
  EXPECT_EQ(MixerSetVolume(4097, 0), 0);
  EXPECT_EQ(MixerClose(), 0);
}

TEST(MixerSetupTest, ADeviceThatCannotOpenFailsInit) {
  EXPECT_EQ(MixerInit(new capturedevice(2048, true)), -1);
  EXPECT_EQ(MixerAllocChannel(), 0);
  // A second Init replaces the first mixer.
  auto* first = new capturedevice();
  ASSERT_EQ(MixerInit(first), 0);
  EXPECT_NE(MixerAllocChannel(), 0);
  ASSERT_EQ(MixerInit(new capturedevice()), 0);
  EXPECT_EQ(MixerAllocChannel() & 0xFFF, 1);  // fresh tables
  MixerClose();
}

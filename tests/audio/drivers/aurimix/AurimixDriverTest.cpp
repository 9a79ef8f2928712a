// The Aurimix drivers of the audio interface over the capture device: the
// driver names, device choice by mode, sounds from samples (big-endian ones
// swapped), channels and their handles, and what a shut-down driver leaves.
#include "audio/drivers/aurimix/AurimixAudioDriver.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/drivers/aurimix/CaptureDevice.h"
#include "runtime/Array.h"
#include "runtime/String.h"

using namespace vrl;
using aurimix::capturedevice;

namespace {

capturedevice* gDevice = nullptr;
std::vector<int32_t> gKinds;
bool gRefuseTimer = false;

aurimix::audiodevice* OpenCapture(int32_t kind) {
  gKinds.push_back(kind);
  gDevice = new capturedevice(1024, kind == 0 && gRefuseTimer);
  return gDevice;
}

class AurimixDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    aurimix::Init();
    aurimix::SetDeviceOpener(&OpenCapture);
    gKinds.clear();
    gRefuseTimer = false;
  }
  void TearDown() override {
    UseAudioDriver(u"Null"_vs);
    aurimix::SetDeviceOpener(nullptr);
    gDevice = nullptr;
  }
  void Start(const char16_t* name = u"Aurimix") {
    ASSERT_EQ(UseAudioDriver(String::FromWideChars(name).get()), 1);
    gDevice->settime(1000);
  }
  // Lets a voice just queued start with the next block.
  std::vector<int16_t> Hear(int32_t frames) {
    gDevice->advance(20);
    return gDevice->capture(frames);
  }
};

Ref<TAudioSample> Sample(const std::vector<uint8_t>& bytes, int32_t format) {
  Ref<TAudioSample> s = TAudioSample::Create(int32_t(bytes.size()) / SampleBytes[format], 44100, format);
  for (size_t i = 0; i < bytes.size(); ++i) s->samples[i] = bytes[i];
  return s;
}

Ref<TAudioSample> Constant16(int32_t frames, int16_t value) {
  Ref<TAudioSample> s = TAudioSample::Create(frames, 44100, SAMPLE_MONO16LE);
  auto* p = reinterpret_cast<int16_t*>(s->samples);
  for (int32_t i = 0; i < frames; ++i) p[i] = value;
  return s;
}

}  // namespace

TEST_F(AurimixDriverTest, ThreeDriversRegisterNewestFirst) {
  Ref<Array> names = AudioDriverNames();
  std::vector<std::string> got;
  for (int32_t i = 0; i < names->Length(); ++i)
    got.push_back(static_cast<String*>(names->GetObject(i))->ToNarrow());
  std::vector<std::string> want = {"Aurimix", "Aurimix Multimedia", "Aurimix DirectSound", "Null"};
  EXPECT_EQ(got, want);
}

TEST_F(AurimixDriverTest, EachModeOpensItsKindOfDevice) {
  Start(u"aurimix multimedia");
  Start(u"Aurimix DirectSound");
  Start(u"Aurimix");
  EXPECT_EQ(gKinds, (std::vector<int32_t>{0, 1, 0}));
  // Without the timer device, "Aurimix" takes the threaded one.
  gRefuseTimer = true;
  gKinds.clear();
  Start(u"Aurimix");
  EXPECT_EQ(gKinds, (std::vector<int32_t>{0, 1}));
}

TEST_F(AurimixDriverTest, WithoutADeviceStartupFailsAndNullStays) {
  aurimix::SetDeviceOpener(nullptr);
  EXPECT_EQ(UseAudioDriver(u"Aurimix"_vs), 0);
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
}

TEST_F(AurimixDriverTest, ABigEndianSampleIsSwappedBeforeTheCopy) {
  Start();
  Ref<TSound> sound = LoadSoundSource(Sample({0x12, 0x34, 0xFE, 0xDC}, SAMPLE_MONO16BE), 0);
  Ref<TChannel> channel = StartSound(sound);
  std::vector<int16_t> out = Hear(3);
  EXPECT_EQ(out[0], 0x1234);
  EXPECT_EQ(out[2], int16_t(0xFEDC));
  EXPECT_EQ(out[4], 0);
  Ref<TSound> stereo = LoadSoundSource(Sample({0x01, 0x02, 0x80, 0x00}, SAMPLE_STEREO16BE), 0);
  StartSound(stereo);
  out = Hear(1);
  EXPECT_EQ(out[0], 0x0102);
  EXPECT_EQ(out[1], -32768);
}

TEST_F(AurimixDriverTest, EightBitAndLoopingSoundsFromSamples) {
  Start();
  Ref<TSound> looped = LoadSoundSource(Sample({128, 192, 64}, SAMPLE_MONO8), SOUNDFLAG_LOOP);
  Ref<TChannel> channel = StartSound(looped);
  std::vector<int16_t> out = Hear(7);
  std::vector<int16_t> left;
  for (size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
  EXPECT_EQ(left, (std::vector<int16_t>{0, 16384, -16384, 0, 16384, -16384, 0}));
  EXPECT_EQ(channel->Playing(), 1);
  EXPECT_EQ(Cast<TAurimixChannel>(channel.get())->Position(), 7);
}

TEST_F(AurimixDriverTest, ChannelsPlayPauseAndStop) {
  Start();
  Ref<TSound> sound = LoadSoundSource(Constant16(20000, 1000), 0);
  Ref<TChannel> channel = NewChannel();
  ASSERT_FALSE(channel.IsNull());
  ChannelVolume(channel, 0.5f);
  Ref<TChannel> cued = PrepareSound(sound, channel);
  EXPECT_EQ(cued.get(), channel.get());  // the channel passed comes back
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  for (int16_t v : Hear(8)) ASSERT_EQ(v, 0);
  ContinueChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 1);
  EXPECT_EQ(gDevice->capture(2)[0], 500);
  SuspendChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  ContinueChannel(channel);
  HaltChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  EXPECT_EQ(Cast<TAurimixChannel>(channel.get())->am_channel, 0);
}

TEST_F(AurimixDriverTest, AStoppedChannelObjectDoesNotReachTheNextVoice) {
  Start();
  Ref<TSound> sound = LoadSoundSource(Constant16(20000, 1000), 0);
  Ref<TChannel> first = StartSound(sound);
  const int32_t oldHandle = Cast<TAurimixChannel>(first.get())->am_channel;
  MixerStopChannel(oldHandle);  // the handle goes back; the object still holds it
  Ref<TChannel> second = StartSound(sound);
  EXPECT_EQ(Cast<TAurimixChannel>(second.get())->am_channel & 0xFFF, oldHandle & 0xFFF);
  first->SetVolume(0);
  first->SetPaused(1);
  first->Stop();
  std::vector<int16_t> out = Hear(256);
  for (int16_t v : out) ASSERT_EQ(v, 1000);
  EXPECT_EQ(second->Playing(), 1);
}

TEST_F(AurimixDriverTest, SettingsAreHeldToTheMixersRange) {
  Start();
  Ref<TSound> sound = LoadSoundSource(Constant16(20000, 1000), 0);
  Ref<TChannel> channel = NewChannel();
  channel->SetVolume(100.0f);  // far beyond 16 bits: the most, not a wrapped value
  StartSound(sound, channel);
  EXPECT_EQ(Hear(1)[0], 1000 * 32767 / 4096);
  channel->SetRate(1e12f);  // a huge rate ends the voice instead of wrapping back
  gDevice->capture(512);
  EXPECT_EQ(channel->Playing(), 0);
}

TEST_F(AurimixDriverTest, AfterShutdownSoundsAndChannelsStaySilentObjects) {
  Start();
  Ref<TSound> sound = LoadSoundSource(Constant16(20000, 1000), 0);
  Ref<TChannel> channel = StartSound(sound);
  EXPECT_EQ(channel->Playing(), 1);
  ASSERT_EQ(UseAudioDriver(u"Null"_vs), 1);
  EXPECT_EQ(channel->Playing(), 0);
  EXPECT_EQ(channel->SetVolume(1), 0);
  Ref<TChannel> again = sound->Play(channel);
  EXPECT_FALSE(again.IsNull());
  EXPECT_EQ(again->Playing(), 0);
  // A new mixer does not take the old handles for its own.
  Start();
  Ref<TSound> fresh = LoadSoundSource(Constant16(20000, 2000), 0);
  Ref<TChannel> now = StartSound(fresh);
  channel->SetVolume(0);
  EXPECT_EQ(Hear(1)[0], 2000);
  EXPECT_EQ(channel->Playing(), 0);
  EXPECT_EQ(now->Playing(), 1);
}

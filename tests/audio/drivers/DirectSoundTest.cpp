// The "DirectSound" driver over the platform sound buffers, on SDL's disk
// audio driver: the rules of channels and buffers, and what is heard.
#include "audio/drivers/DirectSoundAudioDriver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/SoundBuffer.h"
#include "runtime/Debug.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/support/StackScrub.h"
#include "tests/support/WaitFor.h"

using namespace vrl;

namespace vrl {
// What the tests read of the driver's buffers and channels.
struct DirectSoundTestPeer {
  static TBuf* Bufs(TDirectSoundSound* sound) { return sound->_bufs.get(); }
  static platform::SoundBuffer* Buffer(TDirectSoundSound* sound) { return sound->_buffer; }
  static int32_t Generation(TDirectSoundSound* sound) { return sound->_seq; }
  static int32_t Loop(TDirectSoundSound* sound) { return sound->_loop; }
  static int32_t Hertz(TDirectSoundSound* sound) { return sound->_hertz; }
  static TBuf* Next(TBuf* buf) { return buf->_succ.get(); }
  static platform::SoundBuffer* Buffer(TBuf* buf) { return buf->_buffer; }
  static int32_t Paused(TBuf* buf) { return buf->_paused; }
  static TBuf* Buf(TDirectSoundChannel* channel) { return channel->_buf.get(); }
  static float Volume(TDirectSoundChannel* channel) { return channel->_volume; }
  static int32_t IsStatic(TDirectSoundChannel* channel) { return channel->_static; }
  static TBuf* Lonely(TDirectSoundAudioDriver* driver) { return driver->_lonely.get(); }
};
}  // namespace vrl

namespace {

using Peer = DirectSoundTestPeer;

std::vector<std::string> gLog;
void Record(String* text) { gLog.push_back(text->ToNarrow()); }

int Count(const std::string& line) {
  int n = 0;
  for (const std::string& l : gLog) n += l == line;
  return n;
}

// A mono 16-bit tone: `periods` whole periods of `frames / periods` frames.
Ref<TAudioSample> Tone(int32_t frames, int32_t periods, int32_t hertz, double level = 16000) {
  Ref<TAudioSample> s = TAudioSample::Create(frames, hertz, SAMPLE_MONO16LE);
  auto* p = reinterpret_cast<int16_t*>(s->samples);
  for (int32_t i = 0; i < frames; ++i)
    p[i] = int16_t(std::lround(level * std::sin(2 * M_PI * periods * i / frames)));
  return s;
}

int BufCount(TDirectSoundSound* sound) {
  int n = 0;
  for (TBuf* b = Peer::Bufs(sound); b; b = Peer::Next(b)) ++n;
  return n;
}

int32_t BufferVolume(TDirectSoundChannel* c) {
  int32_t v = 1;
  Peer::Buffer(Peer::Buf(c))->GetVolume(&v);
  return v;
}

using testing_support::WaitFor;

class DirectSoundTest : public testing::Test {
 protected:
  void SetUp() override {
    directsound::Init();
    gLog.clear();
    SetDebugLogHook(&Record);
    Start("/dev/null");
  }
  void TearDown() override {
    UseAudioDriver(u"Null"_vs);
    SetDebugLogHook(nullptr);
    setenv("SDL_AUDIODRIVER", "disk", 1);
  }

  // Starts the driver on SDL's disk output, capturing into `file`. The name
  // is given in lower case on purpose.
  void Start(const std::string& file) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    ASSERT_EQ(UseAudioDriver(u"directsound"_vs), 1);
    driver = TDirectSoundAudioDriver::Started();
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(ActiveAudioDriver(), driver);
  }

  Ref<TDirectSoundSound> MakeSound(TAudioSample* sample, int32_t flags) {
    return Cast<TDirectSoundSound>(ActiveAudioDriver()->CreateSound(sample, flags));
  }

  TDirectSoundAudioDriver* driver = nullptr;
};

TEST_F(DirectSoundTest, ThreePlaysMakeTwoDuplicatesAndStoppedBuffersAreReused) {
  Ref<TDirectSoundSound> sound = MakeSound(Tone(22050, 100, 22050), SOUNDFLAG_LOOP);
  ASSERT_FALSE(sound.IsNull());
  EXPECT_EQ(Count("Created DirectSound buffer\n"), 1);
  Ref<TChannel> a = StartSound(sound), b = StartSound(sound), c = StartSound(sound);
  EXPECT_EQ(BufCount(sound), 3);
  EXPECT_EQ(Count("Duplicated DirectSound buffer\n"), 2);
  EXPECT_EQ(IsChannelPlaying(a) + IsChannelPlaying(b) + IsChannelPlaying(c), 3);

  HaltChannel(a);
  HaltChannel(b);
  HaltChannel(c);
  EXPECT_EQ(IsChannelPlaying(a), 0);
  Ref<TChannel> d = StartSound(sound);
  EXPECT_EQ(BufCount(sound), 3);
  EXPECT_EQ(Count("Duplicated DirectSound buffer\n"), 2);
  EXPECT_EQ(IsChannelPlaying(d), 1);

  // Playing on a given channel takes the channel over.
  Ref<TChannel> e = StartSound(sound, d);
  EXPECT_EQ(e.get(), d.get());
  EXPECT_EQ(BufCount(sound), 3);
}

TEST_F(DirectSoundTest, ChannelSettingsBecomeBufferValues) {
  Ref<TDirectSoundSound> sound = MakeSound(Tone(2205, 10, 22050), 0);
  // Set while detached: kept for the next cue.
  Ref<TDirectSoundChannel> ch = Cast<TDirectSoundChannel>(NewChannel());
  ASSERT_FALSE(ch.IsNull());
  EXPECT_EQ(Peer::IsStatic(ch), 1);
  ChannelVolume(ch, 0.5f);
  EXPECT_NEAR(Peer::Volume(ch), std::pow(0.5, 0.1), 1e-6);
  PrepareSound(sound, ch);
  ASSERT_TRUE(ch->Attached());
  EXPECT_EQ(BufferVolume(ch), -669);
  EXPECT_EQ(Peer::Paused(Peer::Buf(ch)), 1);
  EXPECT_EQ(IsChannelPlaying(ch), 0);  // cued, not playing
  EXPECT_EQ(Peer::Buf(ch)->Active(), 1);

  ChannelVolume(ch, 0);
  EXPECT_EQ(BufferVolume(ch), -10000);
  ChannelVolume(ch, 3);
  EXPECT_EQ(BufferVolume(ch), 0);

  int32_t pan = 1;
  ChannelPan(ch, -1);
  Peer::Buffer(Peer::Buf(ch))->GetPan(&pan);
  EXPECT_EQ(pan, -10000);
  ChannelPan(ch, 0);
  Peer::Buffer(Peer::Buf(ch))->GetPan(&pan);
  EXPECT_EQ(pan, 0);
  ChannelPan(ch, 0.5f);
  Peer::Buffer(Peer::Buf(ch))->GetPan(&pan);
  EXPECT_EQ(pan, 669);

  uint32_t hertz = 0;
  ChannelRate(ch, 2);
  Peer::Buffer(Peer::Buf(ch))->GetFrequency(&hertz);
  EXPECT_EQ(hertz, 44100u);
  EXPECT_EQ(ChannelDepth(ch, 1), 0);

  ContinueChannel(ch);
  EXPECT_EQ(IsChannelPlaying(ch), 1);
  SuspendChannel(ch);
  EXPECT_EQ(IsChannelPlaying(ch), 0);
  EXPECT_EQ(Peer::Paused(Peer::Buf(ch)), 1);
}

TEST_F(DirectSoundTest, FinishedOneShotDetachesAndItsBufferIsReused) {
  Ref<TDirectSoundSound> sound = MakeSound(Tone(441, 10, 44100), 0);  // 10 ms
  Ref<TDirectSoundChannel> first = Cast<TDirectSoundChannel>(StartSound(sound));
  ASSERT_TRUE(WaitFor([&] { return IsChannelPlaying(first) == 0; }));
  EXPECT_TRUE(first->Attached());
  ContinueChannel(first);
  EXPECT_FALSE(first->Attached());
  EXPECT_EQ(Peer::Buf(first), nullptr);

  // A buffer whose one-shot ended is free: the next play takes it and the
  // channel still holding it is detached.
  Ref<TDirectSoundChannel> second = Cast<TDirectSoundChannel>(StartSound(sound));
  ASSERT_TRUE(WaitFor([&] { return IsChannelPlaying(second) == 0; }));
  Ref<TDirectSoundChannel> third = Cast<TDirectSoundChannel>(StartSound(sound));
  EXPECT_EQ(BufCount(sound), 1);
  EXPECT_FALSE(second->Attached());
  EXPECT_TRUE(third->Attached());
  ChannelVolume(second, 0);  // no effect on the buffer third holds
  EXPECT_EQ(BufferVolume(third), 0);
}

TEST_F(DirectSoundTest, HardwareFlagUnderModeZeroOmitsSoftwareLocation) {
  Ref<TAudioSample> sample = Tone(100, 1, 8000);
  Ref<TDirectSoundSound> soft = MakeSound(sample, 0);
  Ref<TDirectSoundSound> hard = MakeSound(sample, SOUNDFLAG_HARDWARE | SOUNDFLAG_LOOP);
  EXPECT_EQ(Peer::Buffer(Peer::Bufs(soft))->Flags(), 0x80E2u | platform::kSoundCapsLocSoftware);
  EXPECT_EQ(Peer::Buffer(Peer::Bufs(hard))->Flags(), 0x80E2u);
  EXPECT_EQ(Peer::Loop(hard), 1);
  EXPECT_EQ(Peer::Loop(soft), 0);
  EXPECT_EQ(Peer::Hertz(soft), 8000);
}

TEST_F(DirectSoundTest, BigEndianSamplesAreConvertedAndBadOnesThrowTheLabel) {
  uint8_t be[8] = {0x12, 0x34, 0x00, 0x01, 0x7F, 0xFF, 0x80, 0x00};
  Ref<TDirectSoundSound> sound = MakeSound(TAudioSample::CreateStatic(be, 2, 8000, SAMPLE_STEREO16BE), 0);
  void* p1 = nullptr;
  void* p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  ASSERT_EQ(Peer::Buffer(sound)->Lock(0, 8, &p1, &n1, &p2, &n2, 0), 0);
  const uint8_t le[8] = {0x34, 0x12, 0x01, 0x00, 0xFF, 0x7F, 0x00, 0x80};
  EXPECT_EQ(std::memcmp(p1, le, 8), 0);
  Peer::Buffer(sound)->Unlock(p1, n1, p2, n2);

  // One byte is below the platform's smallest buffer.
  uint8_t one = 128;
  try {
    MakeSound(TAudioSample::CreateStatic(&one, 1, 8000, SAMPLE_MONO8), 0);
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    auto* text = e.As<String>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->ToNarrow(), "CreateSoundBuffer failed (87)");
  }
}

__attribute__((noinline)) void PlayAndDrop(int32_t frames) {
  Ref<TSound> sound = ActiveAudioDriver()->CreateSound(Tone(frames, 1, 44100), 0);
  StartSound(sound);
}

TEST_F(DirectSoundTest, DeletedSoundsLeaveTheirBuffersToTheDriver) {
  PlayAndDrop(22050);  // 500 ms, still playing when its sound is freed
  // The stack scan is conservative: a stale word may keep the sound for a
  // collection or two.
  for (int i = 0; i < 10 && Peer::Lonely(driver) == nullptr; ++i) {
    ScrubStack();
    GCCollect();
  }
#if defined(VRL_SANITIZE)
  // The sanitizer's code generation leaves stale register copies that the
  // scan keeps; the hand-over is checked in the normal build.
  if (Peer::Lonely(driver) == nullptr) GTEST_SKIP() << "the sound was not collected";
#endif
  ASSERT_NE(Peer::Lonely(driver), nullptr);
  EXPECT_EQ(Peer::Lonely(driver)->Active(), 1);
  driver->FlushLonely();  // still playing: kept
  EXPECT_NE(Peer::Lonely(driver), nullptr);
  ASSERT_TRUE(WaitFor([&] { return Peer::Lonely(driver)->Active() == 0; }));
  gLog.clear();
  // Creating a sound flushes the lonely buffers that have ended.
  MakeSound(Tone(100, 1, 8000), 0);
  EXPECT_EQ(Peer::Lonely(driver), nullptr);
  EXPECT_EQ(Count("Released DirectSound buffer\n"), 1);
}

TEST_F(DirectSoundTest, ShutdownMakesOldSoundsStale) {
  Ref<TDirectSoundSound> sound = MakeSound(Tone(4410, 10, 44100), SOUNDFLAG_LOOP);
  Ref<TChannel> ch = StartSound(sound);
  int32_t generation = TDirectSoundAudioDriver::Generation();
  EXPECT_EQ(Peer::Generation(sound), generation);
  ASSERT_EQ(UseAudioDriver(u"Null"_vs), 1);
  EXPECT_EQ(TDirectSoundAudioDriver::Generation(), generation + 1);
  EXPECT_EQ(TDirectSoundAudioDriver::Started(), nullptr);
  // The buffers' device is gone: nothing plays and nothing fails.
  EXPECT_EQ(IsChannelPlaying(ch), 0);
  EXPECT_EQ(ChannelVolume(ch, 0.2f), 0);
  EXPECT_EQ(SuspendChannel(ch), 0);
  EXPECT_FALSE(StartSound(sound).IsNull());
  EXPECT_EQ(HaltChannel(ch), 0);
}

// With no started driver there is no device to make a buffer on: the
// buffer's creation fails as the platform reports it, not through Null.
TEST_F(DirectSoundTest, CreateWithoutAStartedDriverFailsLikeTheBuffer) {
  ASSERT_EQ(UseAudioDriver(u"Null"_vs), 1);
  ASSERT_EQ(TDirectSoundAudioDriver::Started(), nullptr);
  for (int32_t flags : {0, int32_t(SOUNDFLAG_HARDWARE)}) {
    try {
      TDirectSoundSound::Create(Tone(100, 1, 8000), flags);
      ADD_FAILURE() << "no throw";
    } catch (const ThrownObject& e) {
      auto* text = e.As<String>();
      ASSERT_NE(text, nullptr) << "flags " << flags;
      EXPECT_EQ(text->ToNarrow(), "CreateSoundBuffer failed (120)");
    }
  }
}

TEST_F(DirectSoundTest, WithoutAnAudioDeviceTheNullDriverTakesOver) {
  UseAudioDriver(u"Null"_vs);
  setenv("SDL_AUDIODRIVER", "no-such-device", 1);
  audio::ShutdownCurrentDriver();  // forget the choice: the default is made again
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
  Ref<TSound> sound = LoadSoundSource(Tone(100, 1, 8000), SOUNDFLAG_LOOP);
  ASSERT_FALSE(sound.IsNull());
  EXPECT_EQ(IsChannelPlaying(StartSound(sound)), 0);
}

struct Capture {
  std::vector<int16_t> frames;  // interleaved left, right
  std::size_t start = 0;        // first frame of the tone
};

// Plays a looping 441 Hz tone (ten whole periods at 44100 Hz) through the
// driver for about 0.6 s into a disk capture, with the given settings.
Capture Record(DirectSoundTest* test, float volume, float pan, float rate, const std::string& file) {
  Capture c;
  Ref<TSound> sound = ActiveAudioDriver()->CreateSound(Tone(1000, 10, 44100), SOUNDFLAG_LOOP);
  Ref<TChannel> ch = PrepareSound(sound);
  ChannelVolume(ch, volume);
  ChannelPan(ch, pan);
  ChannelRate(ch, rate);
  ContinueChannel(ch);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(IsChannelPlaying(ch), 1);
  HaltChannel(ch);
  UseAudioDriver(u"Null"_vs);  // closes the capture file
  (void)test;
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  c.frames.resize(bytes.size() / 2);
  std::memcpy(c.frames.data(), bytes.data(), c.frames.size() * 2);
  while (c.start * 2 < c.frames.size() && std::abs(c.frames[c.start * 2]) < 50) ++c.start;
  return c;
}

TEST_F(DirectSoundTest, CapturedToneHasItsFrequencyLevelPanAndNoGap) {
  const std::string file = "/tmp/vrl-directsound-" + std::to_string(getpid()) + ".raw";
  UseAudioDriver(u"Null"_vs);
  Start(file);
  Capture c = Record(this, 0.5f, -0.5f, 1.0f, file);
  std::remove(file.c_str());

  // 0.3 s well inside the tone: the loop (1000 frames) wraps 13 times.
  const std::size_t from = c.start + 2000, count = 13230;
  ASSERT_GE(c.frames.size(), (from + count) * 2) << "capture too short";
  // Volume 0.5 and pan -0.5 become -669 and -669 hundredths of a decibel:
  // the left channel at 10^(-669/2000), the right once more attenuated.
  const double gain = std::pow(10.0, -669 / 2000.0);
  const double left = 16000 * gain, right = left * gain;
  int crossings = 0, peakLeft = 0, peakRight = 0, worstStep = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    int l = c.frames[i * 2], r = c.frames[i * 2 + 1];
    int previous = c.frames[(i - 1) * 2];
    if (previous < 0 && l >= 0) ++crossings;
    peakLeft = std::max(peakLeft, std::abs(l));
    peakRight = std::max(peakRight, std::abs(r));
    worstStep = std::max(worstStep, std::abs(l - previous));
  }
  EXPECT_NEAR(crossings, 441 * 0.3, 2);
  EXPECT_NEAR(peakLeft, left, left * 0.01 + 2);
  EXPECT_NEAR(peakRight, right, right * 0.01 + 2);
  // No gap or click anywhere, the loop points included: every step stays
  // within the sine's own slope, and every period reaches its peak.
  EXPECT_LE(worstStep, left * 2 * M_PI * 441 / 44100 + 3);
  for (std::size_t p = from; p + 100 <= from + count; p += 100) {
    int peak = 0;
    for (std::size_t i = p; i < p + 100; ++i) peak = std::max(peak, std::abs(int(c.frames[i * 2])));
    ASSERT_GE(peak, left * 0.98) << "period at frame " << p;
  }

  // Rate 2 doubles the frequency.
  Start(file);
  Capture fast = Record(this, 1.0f, 0.0f, 2.0f, file);
  std::remove(file.c_str());
  ASSERT_GE(fast.frames.size(), (fast.start + 2000 + count) * 2);
  crossings = 0;
  for (std::size_t i = fast.start + 2000; i < fast.start + 2000 + count; ++i) {
    if (fast.frames[(i - 1) * 2] < 0 && fast.frames[i * 2] >= 0) ++crossings;
  }
  EXPECT_NEAR(crossings, 882 * 0.3, 2);
}

}  // namespace

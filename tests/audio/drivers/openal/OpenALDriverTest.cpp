// The OpenAL drivers through OpenAL Soft's wave-file writer: what is heard
// (pitch, length, level, pan), the reuse of sources by channels made on the
// fly and by static channels, detached channels, failures and shut-down
// devices.
#include "audio/drivers/openal/OpenALAudioDriver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/drivers/openal/OpenALLibrary.h"
#include "runtime/Array.h"
#include "runtime/Debug.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/audio/drivers/openal/WaveOutput.h"
#include "tests/support/StackScrub.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace vrl {
// What the tests read of the driver's sources, sounds and channels.
struct OpenALTestPeer {
  static TOpenALSource* Source(TChannel* channel) {
    return static_cast<TOpenALChannel*>(channel)->_source.get();
  }
  static int32_t Id(TChannel* channel) { return Source(channel)->_id; }
  static int32_t ChannelSeq(TChannel* channel) { return static_cast<TOpenALChannel*>(channel)->_seq; }
  static int32_t SourceSeq(TChannel* channel) { return Source(channel)->_seq; }
  static TOpenALSound* Attached(TChannel* channel) { return Source(channel)->_sound.get(); }
  static int32_t Loop(TSound* sound) { return static_cast<TOpenALSound*>(sound)->_loop; }
  static int32_t Buffer(TSound* sound) { return static_cast<TOpenALSound*>(sound)->_buffer; }
  // The source's position as OpenAL holds it.
  static std::vector<float> Position(TChannel* channel) {
    float x = 9, y = 9, z = 9;
    openal::AL().alGetSource3f(ALuint(Id(channel)), AL_POSITION, &x, &y, &z);
    return {x, y, z};
  }
  static int32_t SourceInt(TChannel* channel, ALenum param) {
    ALint v = -1;
    openal::AL().alGetSourcei(ALuint(Id(channel)), param, &v);
    return v;
  }
};
}  // namespace vrl

namespace {

using Peer = OpenALTestPeer;

const auto* const gWave = ::testing::AddGlobalTestEnvironment(new WaveOutputEnvironment);

std::vector<std::string> gLog;
void Record(String* text) { gLog.push_back(text->ToNarrow()); }

int CountPrefix(const std::string& prefix) {
  int n = 0;
  for (const std::string& l : gLog) n += l.rfind(prefix, 0) == 0;
  return n;
}
int Count(const std::string& line) {
  int n = 0;
  for (const std::string& l : gLog) n += l == line;
  return n;
}

// A tone of `frequency` Hz for `frames` frames at `hertz`, `level` of full
// scale in 16-bit units, in `format` (both channels alike for stereo).
Ref<TAudioSample> Tone(int32_t frames, int32_t hertz, double frequency, double level,
                       int32_t format = SAMPLE_MONO16LE) {
  Ref<TAudioSample> s = TAudioSample::Create(frames, hertz, format);
  const int channels = SampleChannels[format];
  const bool eight = SampleBytes[format] / channels == 1;
  for (int32_t i = 0; i < frames; ++i) {
    double v = level * std::sin(2 * M_PI * frequency * i / hertz);
    for (int c = 0; c < channels; ++c) {
      if (eight) {
        s->samples[i * channels + c] = uint8_t(128 + std::lround(v / 256));
      } else {
        auto u = uint16_t(int16_t(std::lround(v)));
        uint8_t* p = s->samples + 2 * std::ptrdiff_t(i * channels + c);
        bool big = format == SAMPLE_MONO16BE || format == SAMPLE_STEREO16BE;
        p[big ? 1 : 0] = uint8_t(u & 0xFF);
        p[big ? 0 : 1] = uint8_t(u >> 8);
      }
    }
  }
  return s;
}

double Frequency(const Segment& s) { return s.crossings / 2.0 / (double(s.last - s.first + 1) / kWaveRate); }

class OpenALTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { openal::Init(); }

  void SetUp() override {
    ASSERT_TRUE(openal::Loaded()) << "OpenAL Soft (libopenal1) is not installed: scripts/install-deps.sh";
    gLog.clear();
    SetDebugLogHook(&Record);
    Start();
  }
  void TearDown() override {
    UseAudioDriver(u"Null"_vs);
    SetDebugLogHook(nullptr);
  }

  // Opens a new device: the writer starts its file again. The name is given
  // in lower case on purpose.
  void Start() {
    ASSERT_EQ(UseAudioDriver(u"openal"_vs), 1);
    ASSERT_NE(TOpenALAudioDriver::Started(), nullptr);
    ASSERT_EQ(ActiveAudioDriver(), TOpenALAudioDriver::Started());
  }
  // Closes the device, which completes the file, and reads it.
  static std::vector<int16_t> Finish() {
    UseAudioDriver(u"Null"_vs);
    return ReadWaveFrames(WaveOutputEnvironment::File());
  }
  static Ref<TSound> MakeSound(TAudioSample* sample, int32_t flags = 0) {
    return ActiveAudioDriver()->CreateSound(sample, flags);
  }
  static bool Ends(TChannel* channel) {
    return WaitFor([&] { return IsChannelPlaying(channel) == 0; });
  }
};

// 441 Hz is 50 frames a period at 22050 Hz: 110 periods, a quarter second.
constexpr int32_t kToneFrames = 5500;
constexpr double kToneLevel = 8000;
// What OpenAL Soft's stereo panning gives a mono source of gain 1: at the
// driver's starting position (0, 0, 1), behind the listener, and straight
// ahead (0, 0, -1), on each side; full on one side at (1, 0, 0).
constexpr double kBehindGain = 0.4044;
constexpr double kAheadGain = 0.5957;

TEST_F(OpenALTest, APlayedToneIsWrittenAtItsPitchLengthAndLevel) {
  Ref<TSound> sound = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel));
  Ref<TChannel> channel = StartSound(sound);
  ASSERT_TRUE(Ends(channel));
  Segment s = Measure(Finish());
  ASSERT_GE(s.first, 0) << "nothing was written";
  // Resampled to the device's 44100 Hz: twice the frames.
  EXPECT_NEAR(double(s.last - s.first + 1), 2.0 * kToneFrames, 40);
  EXPECT_NEAR(Frequency(s), 441, 441 * 0.01);
  EXPECT_NEAR(s.peakLeft, kToneLevel * kBehindGain, 80);
  EXPECT_NEAR(s.peakRight, kToneLevel * kBehindGain, 80);
}

TEST_F(OpenALTest, RateIsPitchAndVolumeIsGain) {
  Ref<TSound> sound = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel));
  Ref<TChannel> channel = PrepareSound(sound);
  ChannelRate(channel, 2);
  ChannelVolume(channel, 0.5f);
  ContinueChannel(channel);
  ASSERT_TRUE(Ends(channel));
  Segment s = Measure(Finish());
  ASSERT_GE(s.first, 0);
  EXPECT_NEAR(double(s.last - s.first + 1), kToneFrames, 40);
  EXPECT_NEAR(Frequency(s), 882, 882 * 0.01);
  EXPECT_NEAR(s.peakLeft, 0.5 * kToneLevel * kBehindGain, 60);
  EXPECT_NEAR(s.peakRight, 0.5 * kToneLevel * kBehindGain, 60);
}

// Each format is handed to OpenAL as what it is: an 8-bit or big-endian
// tone sounds like its 16-bit twin, and a stereo sample plays as long as its
// frames (read as mono it would last twice as long).
TEST_F(OpenALTest, EverySampleFormatPlaysLikeItsSixteenBitTwin) {
  for (int32_t format :
       {SAMPLE_MONO8, SAMPLE_MONO16BE, SAMPLE_STEREO8, SAMPLE_STEREO16LE, SAMPLE_STEREO16BE}) {
    SCOPED_TRACE(format);
    Start();
    Ref<TSound> sound = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel, format));
    Ref<TChannel> channel = StartSound(sound);
    ASSERT_TRUE(Ends(channel));
    Segment s = Measure(Finish());
    ASSERT_GE(s.first, 0);
    EXPECT_NEAR(double(s.last - s.first + 1), 2.0 * kToneFrames, 40);
    EXPECT_NEAR(Frequency(s), 441, 441 * 0.01);
    if (SampleChannels[format] == 1) {
      EXPECT_NEAR(s.peakLeft, kToneLevel * kBehindGain, 100);
      EXPECT_NEAR(s.peakRight, kToneLevel * kBehindGain, 100);
    } else {
      // Both sides carry the tone; the level of a stereo source does not
      // follow its position.
      EXPECT_GT(s.peakLeft, 1000);
      EXPECT_GT(s.peakRight, 1000);
    }
  }
}

TEST_F(OpenALTest, PanPutsTheSourceOnTheUnitCircleInFront) {
  Ref<TSound> sound = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel));
  Ref<TChannel> channel = NewChannel();
  PrepareSound(sound, channel);
  // Until a pan is set the source stands behind the listener.
  EXPECT_EQ(Peer::Position(channel), (std::vector<float>{0, 0, 1}));
  EXPECT_EQ(Peer::SourceInt(channel, AL_SOURCE_RELATIVE), AL_TRUE);
  ChannelPan(channel, 1);
  std::vector<float> p = Peer::Position(channel);
  EXPECT_FLOAT_EQ(p[0], 1);
  EXPECT_FLOAT_EQ(p[1], 0);
  EXPECT_NEAR(p[2], 0, 1e-6);
  ChannelPan(channel, -1);
  p = Peer::Position(channel);
  EXPECT_FLOAT_EQ(p[0], -1);
  EXPECT_NEAR(p[2], 0, 1e-6);
  ChannelPan(channel, 0.5f);
  p = Peer::Position(channel);
  EXPECT_NEAR(p[0], std::sqrt(0.5), 1e-6);
  EXPECT_NEAR(p[2], -std::sqrt(0.5), 1e-6);
  ChannelPan(channel, 0);
  EXPECT_EQ(Peer::Position(channel), (std::vector<float>{0, 0, -1}));

  // Heard: straight ahead both sides alike, louder than from behind.
  ContinueChannel(channel);
  ASSERT_TRUE(Ends(channel));
  Segment ahead = Measure(Finish());
  EXPECT_NEAR(ahead.peakLeft, kToneLevel * kAheadGain, 80);
  EXPECT_NEAR(ahead.peakRight, kToneLevel * kAheadGain, 80);

  // Full right: all of it on the right.
  Start();
  sound = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel));
  channel = PrepareSound(sound);
  ChannelPan(channel, 1);
  ContinueChannel(channel);
  ASSERT_TRUE(Ends(channel));
  Segment right = Measure(Finish());
  EXPECT_NEAR(right.peakRight, kToneLevel, 80);
  EXPECT_LT(right.peakLeft, 80);
  EXPECT_NEAR(Frequency(right), 441, 441 * 0.01);
}

TEST_F(OpenALTest, TwoPlaysUseTwoSourcesAndAThirdReusesAStoppedOne) {
  // The checks that a channel plays use looping sounds, which play until
  // halted; a short sound could have ended already on a loaded machine.
  Ref<TSound> sound = MakeSound(Tone(2205, 22050, 441, kToneLevel));
  Ref<TSound> loop = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  Ref<TChannel> a = StartSound(sound);
  Ref<TChannel> b = StartSound(sound);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 2);
  const int32_t ida = Peer::Id(a), idb = Peer::Id(b);
  EXPECT_NE(ida, 0);
  EXPECT_NE(idb, 0);
  EXPECT_NE(ida, idb);
  EXPECT_EQ(Count("Generated OpenAL source " + std::to_string(ida) + "\n"), 1);
  ASSERT_TRUE(Ends(a));
  ASSERT_TRUE(Ends(b));

  Ref<TChannel> c = StartSound(loop);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 2);
  ASSERT_EQ(CountPrefix("Recycling OpenAL source "), 1);
  const int32_t idc = Peer::Id(c);
  EXPECT_TRUE(idc == ida || idc == idb);
  EXPECT_EQ(Count("Recycling OpenAL source " + std::to_string(idc) + "\n"), 1);
  EXPECT_EQ(IsChannelPlaying(c), 1);
  // The old channel of that source is detached: it neither reports nor
  // stops the new play.
  TChannel* old = idc == ida ? a.get() : b.get();
  EXPECT_NE(Peer::ChannelSeq(old), Peer::SourceSeq(old));
  EXPECT_EQ(IsChannelPlaying(old), 0);
  HaltChannel(old);
  SuspendChannel(old);
  EXPECT_EQ(IsChannelPlaying(c), 1);
  HaltChannel(c);
  EXPECT_EQ(IsChannelPlaying(c), 0);
}

TEST_F(OpenALTest, AStaticChannelKeepsItsSourceUntilItIsStopped) {
  Ref<TSound> once = MakeSound(Tone(2205, 22050, 441, kToneLevel));
  Ref<TSound> loop = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  Ref<TChannel> fixed = NewChannel();
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 1);
  const int32_t id = Peer::Id(fixed);
  // Played to its end, then again with another sound, then taken over
  // while it plays: always the same channel on the same source.
  EXPECT_EQ(StartSound(once, fixed).get(), fixed.get());
  ASSERT_TRUE(Ends(fixed));
  EXPECT_EQ(StartSound(loop, fixed).get(), fixed.get());
  EXPECT_EQ(IsChannelPlaying(fixed), 1);
  EXPECT_EQ(StartSound(once, fixed).get(), fixed.get());
  EXPECT_EQ(Peer::Attached(fixed), Cast<TOpenALSound>(once).get());
  EXPECT_EQ(Peer::Id(fixed), id);
  ASSERT_TRUE(Ends(fixed));
  // Its stopped source is not in the recycling list: a play without a
  // channel makes a source of its own.
  Ref<TChannel> other = StartSound(loop);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 2);
  EXPECT_EQ(CountPrefix("Recycling OpenAL source "), 0);
  EXPECT_NE(Peer::Id(other), id);
  HaltChannel(other);

  // Stopped, the channel is detached and its source free.
  PrepareSound(loop, fixed);
  HaltChannel(fixed);
  EXPECT_EQ(Peer::Attached(fixed), nullptr);
  StartSound(loop, fixed);
  EXPECT_EQ(IsChannelPlaying(fixed), 0);
  gLog.clear();
  Ref<TChannel> a = StartSound(loop);
  Ref<TChannel> b = StartSound(loop);
  EXPECT_EQ(CountPrefix("Recycling OpenAL source "), 2);
  EXPECT_EQ(Count("Recycling OpenAL source " + std::to_string(id) + "\n"), 1);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 0);
  EXPECT_EQ(IsChannelPlaying(a) + IsChannelPlaying(b), 2);
}

__attribute__((noinline)) int32_t DropStaticChannel(TSound* sound) {
  Ref<TChannel> fixed = NewChannel();
  StartSound(sound, fixed);
  return Peer::Id(fixed);
}

__attribute__((noinline)) int32_t DropPlayingChannel(TSound* sound) {
  Ref<TChannel> channel = StartSound(sound);
  return Peer::Id(channel);
}

TEST_F(OpenALTest, DestroyedChannelsLeaveAPlayingSourcePlayingAndFreeTheRest) {
  Ref<TSound> loop = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  const int32_t playing = DropPlayingChannel(loop);
  const int32_t fixed = DropStaticChannel(loop);
  // A destroyed static channel gives its source to the recycling list. The
  // stack scan is conservative: a stale word may keep a channel for a
  // collection or two.
  for (int i = 0; i < 10; ++i) {
    ScrubStack();
    GCCollect();
  }
  // Both sources play on (looping); neither is taken for a new channel.
  gLog.clear();
  Ref<TChannel> third = StartSound(loop);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 1);
  EXPECT_NE(Peer::Id(third), playing);
  EXPECT_NE(Peer::Id(third), fixed);
  const int32_t stopped = Peer::Id(third);
  HaltChannel(third);
  gLog.clear();
  std::vector<Ref<TChannel>> keep = {StartSound(loop), StartSound(loop), StartSound(loop)};
  // Only the stopped source is reused; the two looping sources of the
  // destroyed channels are still busy.
  EXPECT_EQ(Count("Recycling OpenAL source " + std::to_string(stopped) + "\n"), 1);
  EXPECT_EQ(CountPrefix("Recycling OpenAL source "), 1);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 2);
  for (const Ref<TChannel>& c : keep) {
    EXPECT_NE(Peer::Id(c), playing);
    EXPECT_NE(Peer::Id(c), fixed);
  }
  for (const Ref<TChannel>& c : keep) HaltChannel(c);
}

__attribute__((noinline)) int32_t DropCuedChannel(TSound* sound) {
  Ref<TChannel> channel = PrepareSound(sound);
  return Peer::Id(channel);
}

TEST_F(OpenALTest, SourcesStoppedBeforeTheyPlayedAreFreeAgain) {
  Ref<TSound> sound = MakeSound(Tone(2205, 22050, 441, kToneLevel));
  // Cued on the fly and the channel dropped.
  const int32_t cuedId = DropCuedChannel(sound);
  // Cued, then stopped: OpenAL keeps a source that never played in its
  // initial state, which still counts as active; the source is free all
  // the same.
  Ref<TChannel> fixed = NewChannel();
  PrepareSound(sound, fixed);
  const int32_t fixedId = Peer::Id(fixed);
  ASSERT_NE(fixedId, cuedId);
  HaltChannel(fixed);
  EXPECT_EQ(Peer::Source(fixed)->Active(), 1);
  for (int i = 0; i < 10; ++i) {
    ScrubStack();
    GCCollect();
  }
  gLog.clear();
  Ref<TSound> loop = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  Ref<TChannel> a = StartSound(loop);
  Ref<TChannel> b = StartSound(loop);
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), 0);
  EXPECT_EQ(Count("Recycling OpenAL source " + std::to_string(fixedId) + "\n"), 1);
  EXPECT_EQ(Count("Recycling OpenAL source " + std::to_string(cuedId) + "\n"), 1);
  EXPECT_EQ(IsChannelPlaying(a) + IsChannelPlaying(b), 2);
}

TEST_F(OpenALTest, CueingPreparesAPausedSourceThatPlaysOnRequest) {
  Ref<TSound> sound = MakeSound(Tone(22050, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  Ref<TChannel> channel = PrepareSound(sound);
  TOpenALSource* source = Peer::Source(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  EXPECT_EQ(source->Paused(), 1);  // initial
  EXPECT_EQ(source->Active(), 1);
  EXPECT_EQ(Peer::Attached(channel), sound.get());
  EXPECT_EQ(Peer::SourceInt(channel, AL_LOOPING), AL_TRUE);
  EXPECT_EQ(Peer::SourceInt(channel, AL_BUFFER), Peer::Buffer(sound));
  source->LogState();
  ContinueChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 1);
  source->LogState();
  SuspendChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 0);
  EXPECT_EQ(source->Paused(), 1);
  EXPECT_EQ(source->Active(), 1);
  source->LogState();
  ContinueChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 1);
  // Continuing a playing channel does not restart it (no rewind).
  ContinueChannel(channel);
  EXPECT_EQ(IsChannelPlaying(channel), 1);
  HaltChannel(channel);
  EXPECT_EQ(source->Active(), 0);
  EXPECT_EQ(source->Paused(), 0);
  EXPECT_EQ(Peer::SourceInt(channel, AL_BUFFER), 0);
  source->LogState();
  EXPECT_EQ(gLog,
            (std::vector<std::string>{"Generated OpenAL source " + std::to_string(Peer::Id(channel)) + "\n",
                                      "AL_INITIAL\n", "AL_PLAYING\n", "AL_PAUSED\n", "AL_STOPPED\n"}));
}

TEST_F(OpenALTest, ALoopingSoundPlaysOnWithoutAGap) {
  // A tenth of a second, looped: the output runs on at the tone's pitch
  // for five lengths and more, with no silent stretch at the seams.
  Ref<TSound> sound = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  EXPECT_EQ(Peer::Loop(sound), 1);
  Ref<TChannel> channel = StartSound(sound);
  const std::string& file = WaveOutputEnvironment::File();
  ASSERT_TRUE(WaitFor([&] {
    Segment s = Measure(ReadWaveFrames(file));
    return s.first >= 0 && s.last - s.first > int64_t(6 * 4410);
  }));
  EXPECT_EQ(IsChannelPlaying(channel), 1);
  HaltChannel(channel);
  std::vector<int16_t> frames = Finish();
  Segment s = Measure(frames);
  ASSERT_GE(s.first, 0);
  EXPECT_NEAR(Frequency(s), 441, 441 * 0.01);
  // No run of quiet samples longer than the sine's own zero crossings.
  int quiet = 0, longest = 0;
  for (int64_t i = s.first; i <= s.first + int64_t(5) * 4410; ++i) {
    quiet = std::abs(int(frames[std::size_t(2 * i)])) < 300 ? quiet + 1 : 0;
    longest = std::max(longest, quiet);
  }
  EXPECT_LT(longest, 6);
}

TEST_F(OpenALTest, WhenOpenALRefusesASourceTheChannelIsDetached) {
  Ref<TSound> sound = MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  std::vector<Ref<TChannel>> channels;
  channels.reserve(kMaxSources);
  for (int i = 0; i < kMaxSources; ++i) channels.push_back(NewChannel());
  EXPECT_EQ(CountPrefix("Generated OpenAL source "), kMaxSources);
  EXPECT_EQ(CountPrefix("OpenAL Error: "), 0);
  Ref<TChannel> extra = NewChannel();
  EXPECT_EQ(Count("OpenAL Error: OUT_OF_MEMORY\n"), 1);
  EXPECT_EQ(Count("Failed to generate OpenAL source\n"), 1);
  EXPECT_EQ(Peer::Id(extra), 0);
  EXPECT_NE(Peer::ChannelSeq(extra), Peer::SourceSeq(extra));
  Ref<TChannel> played = StartSound(sound, extra);
  EXPECT_EQ(played.get(), extra.get());
  EXPECT_EQ(IsChannelPlaying(extra), 0);
  EXPECT_EQ(ChannelVolume(extra, 1), 0);
  EXPECT_EQ(HaltChannel(extra), 0);
  // The others still play.
  StartSound(sound, channels[0]);
  EXPECT_EQ(IsChannelPlaying(channels[0]), 1);
}

TEST_F(OpenALTest, ARefusedBufferThrowsTheCallAndTheErrorName) {
  try {
    MakeSound(Tone(100, 0, 441, kToneLevel));  // a rate of 0 Hz
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    auto* text = e.As<String>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->ToNarrow(), "alBufferData failed (INVALID_VALUE)");
  }
  EXPECT_EQ(Count("OpenAL Error: INVALID_VALUE\n"), 1);
  // The error was taken: the next sound is made without one.
  gLog.clear();
  EXPECT_FALSE(MakeSound(Tone(100, 22050, 441, kToneLevel)).IsNull());
  EXPECT_EQ(CountPrefix("OpenAL Error: "), 0);
}

TEST_F(OpenALTest, ErrorNames) {
  EXPECT_STREQ(OpenALErrorName(AL_INVALID_NAME), "INVALID_NAME");
  EXPECT_STREQ(OpenALErrorName(AL_INVALID_ENUM), "INVALID_ENUM");
  EXPECT_STREQ(OpenALErrorName(AL_INVALID_VALUE), "INVALID_VALUE");
  EXPECT_STREQ(OpenALErrorName(AL_INVALID_OPERATION), "INVALID_OPERATION");
  EXPECT_STREQ(OpenALErrorName(AL_OUT_OF_MEMORY), "OUT_OF_MEMORY");
  EXPECT_STREQ(OpenALErrorName(0xA006), "?????");
  EXPECT_STREQ(OpenALErrorName(AL_NO_ERROR), "?????");
}

__attribute__((noinline)) void DropSound(Ref<TSound>& sound) { sound = nullptr; }

TEST_F(OpenALTest, AfterShutdownOldSoundsAndChannelsAreSilentAndHarmless) {
  Ref<TSound> old = MakeSound(Tone(22050, 22050, 441, kToneLevel), SOUNDFLAG_LOOP);
  Ref<TChannel> oldChannel = StartSound(old);
  Ref<TChannel> oldStatic = NewChannel();
  EXPECT_EQ(IsChannelPlaying(oldChannel), 1);
  UseAudioDriver(u"Null"_vs);
  EXPECT_EQ(TOpenALAudioDriver::Started(), nullptr);
  EXPECT_FALSE(Cast<TOpenALChannel>(oldChannel)->Attached());
  EXPECT_EQ(IsChannelPlaying(oldChannel), 0);
  EXPECT_EQ(ChannelVolume(oldChannel, 0.5f), 0);
  EXPECT_EQ(HaltChannel(oldStatic), 0);
  // Without a started driver there is no buffer to be had.
  try {
    TOpenALSound::Create(Tone(100, 22050, 441, kToneLevel), 0);
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<String>(), nullptr);
    EXPECT_EQ(e.As<String>()->ToNarrow(), "alGenBuffers failed (INVALID_OPERATION)");
  }

  // A new device hands out the same names again; the old objects must not
  // reach what they name there.
  Start();
  Ref<TSound> fresh = MakeSound(Tone(kToneFrames, 22050, 441, kToneLevel));
  EXPECT_EQ(Peer::Buffer(fresh), Peer::Buffer(old));
  Ref<TChannel> channel = PrepareSound(fresh);
  // An old sound on a new channel has no buffer here: it plays nothing.
  Ref<TChannel> silent = PrepareSound(old);
  EXPECT_EQ(Peer::SourceInt(silent, AL_BUFFER), 0);
  ASSERT_EQ(Peer::Id(channel), Peer::Id(oldChannel));
  ASSERT_EQ(Peer::Id(silent), Peer::Id(oldStatic));
  HaltChannel(oldChannel);
  PrepareSound(old, oldChannel);
  ChannelPan(oldStatic, 1);
  EXPECT_EQ(IsChannelPlaying(oldChannel), 0);
  EXPECT_EQ(Peer::SourceInt(channel, AL_BUFFER), Peer::Buffer(fresh));
  EXPECT_EQ(Peer::SourceInt(channel, AL_SOURCE_STATE), AL_INITIAL);
  EXPECT_EQ(Peer::Position(silent), (std::vector<float>{0, 0, 1}));
  // Freeing the old sound leaves the new sound's buffer alone (OpenAL
  // refuses to delete a buffer that a source holds, so none does here).
  // The scan is conservative: should a stale word keep the old sound, this
  // part checks nothing.
  HaltChannel(channel);
  HaltChannel(silent);
  silent = nullptr;
  oldChannel = nullptr;
  DropSound(old);
  for (int i = 0; i < 10; ++i) {
    ScrubStack();
    GCCollect();
  }
  channel = StartSound(fresh);
  ASSERT_TRUE(Ends(channel));
  Segment s = Measure(Finish());
  ASSERT_GE(s.first, 0);
  EXPECT_NEAR(double(s.last - s.first + 1), 2.0 * kToneFrames, 40);
  EXPECT_NEAR(s.peakLeft, kToneLevel * kBehindGain, 80);
}

TEST_F(OpenALTest, ADriverOnAMissingDeviceDoesNotStart) {
  static Ref<TOpenALAudioDriver> nowhere =
      TOpenALAudioDriver::Create(u"OpenAL Nowhere"_vs, u"no such device"_vs);
  EXPECT_EQ(UseAudioDriver(u"OpenAL Nowhere"_vs), 0);
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
  EXPECT_EQ(TOpenALAudioDriver::Started(), nullptr);
  // Starting one driver shuts the one started before down.
  Start();
  TOpenALAudioDriver* first = TOpenALAudioDriver::Started();
  const int32_t generation = TOpenALAudioDriver::Generation();
  EXPECT_EQ(first->Startup(), 1);
  EXPECT_EQ(TOpenALAudioDriver::Generation(), generation + 1);
  EXPECT_EQ(first->Shutdown(), 0);
  EXPECT_EQ(first->Shutdown(), 0);  // not started: nothing happens
  EXPECT_EQ(TOpenALAudioDriver::Generation(), generation + 2);
}

TEST_F(OpenALTest, EnablingDevicesRegistersOneDriverPerDeviceAndADefault) {
  auto names = [] {
    std::vector<std::string> out;
    Ref<Array> list = AudioDriverNames();
    out.reserve(std::size_t(list->Length()));
    for (int32_t i = 0; i < list->Length(); ++i)
      out.push_back(static_cast<String*>(list->GetObject(i))->ToNarrow());
    return out;
  };
  auto count = [&](const std::string& name) {
    int n = 0;
    for (const std::string& s : names()) n += s == name;
    return n;
  };
  EXPECT_EQ(count("OpenAL"), 1);
  EXPECT_EQ(EnableOpenALDevices(), 1);
  EXPECT_EQ(EnableOpenALDevices(), 1);  // once only
  // The writer is OpenAL Soft's one device here.
  EXPECT_EQ(count("OpenAL OpenAL Soft"), 1);
  EXPECT_EQ(count("OpenAL Default"), 1);
  std::vector<std::string> all = names();
  auto at = [&](const std::string& name) { return std::find(all.begin(), all.end(), name) - all.begin(); };
  // Newest first: the default after the devices, both after "OpenAL".
  EXPECT_LT(at("OpenAL Default"), at("OpenAL OpenAL Soft"));
  EXPECT_LT(at("OpenAL OpenAL Soft"), at("OpenAL"));
  // Each opens its device and plays.
  for (const char16_t* name : {u"OpenAL Default", u"openal openal soft"}) {
    ASSERT_EQ(UseAudioDriver(String::FromUnits(name)), 1);
    Ref<TChannel> channel = StartSound(MakeSound(Tone(2205, 22050, 441, kToneLevel), SOUNDFLAG_LOOP));
    EXPECT_EQ(IsChannelPlaying(channel), 1);
    HaltChannel(channel);
  }
}

// A program whose OpenAL library is missing: nothing named "OpenAL..." is
// registered. Run in a fresh process, since a module initialises once.
TEST(OpenALLibraryTest, WithoutTheLibraryNoOpenALDriverIsRegistered) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        openal::SetLibraryFile("libopenal-missing.so.1");
        openal::Init();
        int openalNames = 0;
        Ref<Array> names = AudioDriverNames();
        for (int32_t i = 0; i < names->Length(); ++i)
          openalNames += static_cast<String*>(names->GetObject(i))->ToNarrow().rfind("OpenAL", 0) == 0;
        bool ok = !openal::Loaded() && openalNames == 0 && names->Length() >= 1 &&
                  EnableOpenALDevices() == 0 && UseAudioDriver(u"OpenAL"_vs) == 0 &&
                  TOpenALChannel::Create(0)->Attached() == false;
        WaveOutputEnvironment::Remove();
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace

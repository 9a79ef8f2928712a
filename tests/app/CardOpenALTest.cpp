// The card on the "OpenAL" driver, in a virtual display, with OpenAL Soft's
// wave-file writer as the sound card: its music is what is written.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/Card.h"
#include "audio/drivers/openal/OpenALAudioDriver.h"
#include "audio/drivers/openal/OpenALLibrary.h"
#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "runtime/String.h"
#include "tests/audio/drivers/openal/WaveOutput.h"
#include "tests/support/Xvfb.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace vrl {
// What the test reads of the card's music.
struct OpenALTestPeer {
  static int32_t Loop(TOpenALSound* sound) { return sound->_loop; }
  static int32_t Buffer(TOpenALSound* sound) { return sound->_buffer; }
};
}  // namespace vrl

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new XvfbEnvironment);
auto* const gWave = testing::AddGlobalTestEnvironment(new WaveOutputEnvironment);

class CardOpenALTest : public testing::Test {
 protected:
  void SetUp() override {
    VRL_REQUIRE_DISPLAY();
    card::InitModules();
    ASSERT_TRUE(openal::Loaded()) << "OpenAL Soft (libopenal1) is not installed: scripts/install-deps.sh";
    // Another case of the program may have chosen the recording driver.
    SelectGraphicsDriver(OpenGL2DDriver(), GRAPHICS_BACKBUFFER);
  }
  void TearDown() override {
    ShutdownGraphics();
    UseAudioDriver(u"Null"_vs);
  }
};

struct Match {
  double correlation = 0;  // normalised, 1 for the same shape
  double gain = 0;         // the output's level over the recording's
};

// How the output's left channel from frame `out` matches the recording's
// left channel from frame `in`, over `count` frames.
Match Compare(const std::vector<int16_t>& output, int64_t out, const TAudioSample* sample, int64_t in,
              int64_t count) {
  const auto* music = reinterpret_cast<const int16_t*>(sample->samples);
  double xy = 0, xx = 0, yy = 0;
  for (int64_t i = 0; i < count; ++i) {
    double x = output[std::size_t(2 * (out + i))], y = music[2 * (in + i)];
    xy += x * y;
    xx += x * x;
    yy += y * y;
  }
  if (xx <= 0 || yy <= 0) return {};
  return {xy / std::sqrt(xx * yy), xy / yy};
}

TEST_F(CardOpenALTest, TheMusicPlaysAndLoopsThroughOpenAL) {
  ASSERT_TRUE(card::Start({.audioDriver = u"OpenAL"}));
  ASSERT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "OpenAL");
  auto* music = dynamic_cast<TOpenALSound*>(card::Music());
  ASSERT_NE(music, nullptr);

  // Frames run (ten at least) until two seconds of music have been written.
  const std::string& file = WaveOutputEnvironment::File();
  int frames = 0;
  ASSERT_TRUE(WaitFor([&] {
    card::Frame();
    ++frames;
    Segment s = Measure(ReadWaveFrames(file), 0);
    return frames >= 10 && s.first >= 0 && s.last - s.first > int64_t(2) * kWaveRate;
  }));

  // The music's buffer is on a playing source that loops: when the music
  // ends OpenAL starts it again.
  const openal::EntryPoints& al = openal::AL();
  int looping = 0;
  for (ALuint id = 1; id <= ALuint(kMaxSources); ++id) {
    ALint buffer = 0, loop = 0, state = 0;
    al.alGetSourcei(id, AL_BUFFER, &buffer);
    if (buffer != OpenALTestPeer::Buffer(music)) continue;
    al.alGetSourcei(id, AL_LOOPING, &loop);
    al.alGetSourcei(id, AL_SOURCE_STATE, &state);
    looping += loop == AL_TRUE && state == AL_PLAYING;
  }
  EXPECT_EQ(OpenALTestPeer::Loop(music), 1);
  EXPECT_EQ(looping, 1);

  // What was written is the music: the output from its first sound on
  // follows the recording from its first sound on.
  UseAudioDriver(u"Null"_vs);
  std::vector<int16_t> output = ReadWaveFrames(file);
  Ref<TAudioSample> sample = ReadAudioSample(String::FromUnits(card::kMusicUrl));
  ASSERT_FALSE(sample.IsNull());
  ASSERT_EQ(sample->format, SAMPLE_STEREO16LE);
  ASSERT_EQ(sample->hertz, kWaveRate);
  const auto* pcm = reinterpret_cast<const int16_t*>(sample->samples);
  int64_t in = 0;
  while (in < sample->length && pcm[2 * in] == 0 && pcm[2 * in + 1] == 0) ++in;
  const int64_t out = Measure(output, 0).first;
  const int64_t count = kWaveRate;
  ASSERT_GE(int64_t(output.size() / 2), out + count + 64);
  Match best;
  for (int64_t lag = -32; lag <= 32; ++lag) {
    if (in + lag < 0) continue;
    Match m = Compare(output, out, sample, in + lag, count);
    if (m.correlation > best.correlation) best = m;
  }
  // A stereo source is not panned: the recording comes out as it is.
  EXPECT_GT(best.correlation, 0.99);
  EXPECT_NEAR(best.gain, 1.0, 0.02);
}

}  // namespace

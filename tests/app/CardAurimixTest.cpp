// The card started on the software mixer ("Aurimix") in a virtual display
// with SDL's disk audio: its music plays, sample for sample, and loops.
//
// The music is minutes long, too long to wait for its seam. Its loop is
// checked on the same captured output by playing the card's own sound a
// second time, at 256 times its rate: at 44100 Hz that voice steps exactly
// 256 frames per output frame (no interpolation), so the capture is exactly
// the card's voice plus music[256 k mod length], wrap included. A sound
// that ended instead of looping would leave only the card's voice.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Card.h"
#include "audio/drivers/aurimix/AurimixAudioDriver.h"
#include "gldriver/GLGraphicsDriver.h"
#include "gldriver/GLLith2DDriver.h"
#include "graphics/Graphics.h"
#include "runtime/String.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

constexpr int32_t kFast = 256;

class CardAurimixTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    _file = NativeOf("card.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", _file.c_str(), 1);
    // 1024 frames every 100 ms, 4.3 times slower than real time: the
    // mixer's timer keeps far ahead of the output while the frames draw.
    setenv("SDL_DISKAUDIODELAY", "100", 1);
  }
  void TearDown() override {
    UseAudioDriver(u"Null"_vs);
    // The display goes before the test environment stops the X server.
    ShutdownGraphics();
    unsetenv("SDL_DISKAUDIODELAY");
    TempDirTest::TearDown();
  }

  uintmax_t CapturedBytes() const {
    std::error_code ignored;
    const uintmax_t size = std::filesystem::file_size(_file, ignored);
    return ignored ? 0 : size;
  }

  std::vector<int16_t> Captured() const {
    std::ifstream in(_file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
  }

  std::string _file;
};

int32_t Clamp(int32_t v) { return std::clamp(v, -32768, 32767); }

}  // namespace

TEST_F(CardAurimixTest, TheMusicPlaysAndLoopsOnTheSoftwareMixer) {
  VRL_REQUIRE_DISPLAY();
  card::InitModules();
  SelectGraphicsDriver(OpenGL2DDriver(), GRAPHICS_BACKBUFFER);
  ASSERT_TRUE(card::Start({.audioDriver = u"Aurimix"}));
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Aurimix");
  auto* music = dynamic_cast<TAurimixSound*>(card::Music());
  ASSERT_NE(music, nullptr);
  const aurimix::sounddata* data = music->Data();
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->hertz, 44100);
  ASSERT_EQ(data->channels, 2);
  ASSERT_EQ(data->bits, 16);
  EXPECT_NE(data->loop, 0);
  const auto length = size_t(data->length);
  const auto* decoded = reinterpret_cast<const int16_t*>(data->data);

  // Frames until the card's voice has played 8192 frames of sound (the
  // music starts with silence), then the second voice.
  auto runFramesUntil = [&](auto done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < end) card::Frame();
    return done();
  };
  ASSERT_TRUE(runFramesUntil([&] {
    const std::vector<int16_t> heard = Captured();
    const auto sound = std::find_if(heard.begin(), heard.end(), [](int16_t v) { return v != 0; });
    return heard.end() - sound > std::ptrdiff_t(2 * 8192);
  }));
  const uintmax_t before = CapturedBytes();
  Ref<TChannel> fast = PrepareSound(music);
  ChannelRate(fast, float(kFast));
  ContinueChannel(fast);
  const size_t wrapAfter = (length + kFast - 1) / kFast;  // output frames until the fast voice wraps
  ASSERT_TRUE(runFramesUntil([&] { return CapturedBytes() >= before + (wrapAfter + 16000) * 4; }));
  EXPECT_EQ(IsChannelPlaying(fast), 1);
  EXPECT_GT(dynamic_cast<TAurimixChannel*>(fast.get())->Position(), int32_t(length));
  UseAudioDriver(u"Null"_vs);  // closes the capture

  const std::vector<int16_t> pcm = Captured();
  const size_t frames = pcm.size() / 2;
  // The card's voice: the music from its first frame, exactly.
  size_t start = 0;
  while (start < frames && pcm[start * 2] == 0 && pcm[start * 2 + 1] == 0) ++start;
  size_t first = 0;
  while (first < length && decoded[first * 2] == 0 && decoded[first * 2 + 1] == 0) ++first;
  ASSERT_LT(start, frames);
  ASSERT_GE(start, first);
  const size_t t0 = start - first;  // the output frame of the music's frame 0
  auto card = [&](size_t t, int side) { return int32_t(decoded[(t - t0) * 2 + size_t(side)]); };
  size_t same = 0;
  while (t0 + same < frames && same < length && pcm[(t0 + same) * 2] == card(t0 + same, 0) &&
         pcm[(t0 + same) * 2 + 1] == card(t0 + same, 1))
    ++same;
  ASSERT_GE(same, first + 8192) << "the capture starts with the music";

  // The second voice starts where the capture stops being the card's voice
  // alone (less the frames where it adds silence, when the music starts
  // silent); from there every frame is the sum of both, across the wrap.
  size_t silentSteps = 0;
  while (silentSteps < same && decoded[size_t(kFast) * silentSteps % length * 2] == 0 &&
         decoded[size_t(kFast) * silentSteps % length * 2 + 1] == 0)
    ++silentSteps;
  const size_t s = t0 + same - silentSteps;
  auto expected = [&](size_t t, int side) {
    const size_t k = (size_t(kFast) * (t - s)) % length;
    return Clamp(card(t, side) + int32_t(decoded[k * 2 + size_t(side)]));
  };
  ASSERT_LT(s + wrapAfter + 4000, frames) << "the capture reaches past the wrap";
  size_t mismatches = 0;
  for (size_t t = s; t < s + wrapAfter + 4000; ++t)
    for (int side = 0; side < 2; ++side) mismatches += pcm[t * 2 + size_t(side)] != expected(t, side);
  EXPECT_EQ(mismatches, 0u);
  // After the wrap the second voice plays the start of the music again.
  int64_t energy = 0;
  for (size_t t = s + wrapAfter + 100; t < s + wrapAfter + 4000; ++t)
    energy += std::abs(pcm[t * 2] - card(t, 0));
  EXPECT_GT(energy, 0) << "the second voice went on after the end";
}

TEST_F(CardAurimixTest, StartFailsWhenTheDriverDoesNotStart) {
  VRL_REQUIRE_DISPLAY();
  card::InitModules();
  EXPECT_FALSE(card::Start({.audioDriver = u"No such driver"}));
  setenv("SDL_AUDIODRIVER", "no-such-output", 1);
  EXPECT_FALSE(card::Start({.audioDriver = u"Aurimix"}));
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
}

// The card as a user runs it: in a virtual display with SDL's disk audio.
// It must show the picture, play the music, ignore Alt+F4 and end with
// status 0 on Escape. Every wait here is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Card.h"
#include "audio/AudioSample.h"
#include "pixmap/Pixmap.h"
#include "runtime/String.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

using namespace vrl;

namespace {

auto* const gXvfb = testing::AddGlobalTestEnvironment(new testing_support::XvfbEnvironment);

// The captured audio and the screenshot go to a directory of the test's own:
// other copies of this test (other build trees) may run at the same time.
class CardEndToEnd : public testing_support::TempDirTest {};

// Waits up to `seconds` for the child; its exit status, or -1 if it is
// still running.
int WaitFor(pid_t pid, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < end);
  return -1;
}

uint32_t BigEndian(const std::vector<uint8_t>& d, std::size_t at) {
  return uint32_t(d[at]) << 24 | uint32_t(d[at + 1]) << 16 | uint32_t(d[at + 2]) << 8 | d[at + 3];
}

// The root window as an RGB24 pixmap, through xwd (24-bit TrueColor, 32 bits
// a pixel, as Xvfb's 1024x768x24 screen gives).
Ref<TPixmap> Screenshot(const std::string& path) {
  if (std::system(("xwd -root -silent > '" + path + "'").c_str()) != 0) return {};
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (d.size() < 100) return {};
  uint32_t headerSize = BigEndian(d, 0), width = BigEndian(d, 16), height = BigEndian(d, 20);
  uint32_t byteOrder = BigEndian(d, 28), bitsPerPixel = BigEndian(d, 44);
  uint32_t bytesPerLine = BigEndian(d, 48), colours = BigEndian(d, 76);
  std::size_t offset = headerSize + std::size_t(colours) * 12;
  if (bitsPerPixel != 32 || width != 1024 || height != 768 ||
      offset + std::size_t(bytesPerLine) * height > d.size()) {
    return {};
  }
  Ref<TPixmap> shot = NewPixmap(1024, 768, PIXFMT_RGB24, 4);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = &d[offset + std::size_t(y) * bytesPerLine + std::size_t(x) * 4];
      uint32_t v =
          byteOrder == 0 ? uint32_t(p[0]) | p[1] << 8 | p[2] << 16 : uint32_t(p[3]) | p[2] << 8 | p[1] << 16;
      shot->WritePixel(int32_t(x), int32_t(y), int32_t(v));
    }
  }
  return shot;
}

TEST_F(CardEndToEnd, ShowsThePicturePlaysTheMusicAndEndsOnEscape) {
  VRL_REQUIRE_DISPLAY();
  if (std::system("command -v xdotool >/dev/null && command -v xwd >/dev/null") != 0) {
    GTEST_SKIP() << "xdotool and xwd are needed";
  }
  card::InitModules();
  std::string raw = NativeOf("card-audio.raw");

  pid_t pid = fork();
  if (pid == 0) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    execl(SNOWCARD_PATH, "snowcard", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, WNOHANG);
    }
  } reaper{pid};

  ASSERT_EQ(WaitFor(pid, 6), -1) << "the card is running";

  // Alt+F4 becomes a terminate request, which the card does not read.
  ASSERT_EQ(std::system("xdotool key alt+F4"), 0);
  EXPECT_EQ(WaitFor(pid, 1.5), -1) << "Alt+F4 does not end the card";

  Ref<TPixmap> shot = Screenshot(NativeOf("card-screen.xwd"));
  ASSERT_FALSE(shot.IsNull());
  Ref<TPixmap> picture = LoadPixmap(String::FromUnits(card::kPictureUrl));
  ASSERT_FALSE(picture.IsNull());
  int64_t close = 0, total = 0;
  for (int32_t y = 0; y < 768; y += 2) {
    for (int32_t x = 0; x < 1024; x += 2, ++total) {
      uint32_t a = static_cast<uint32_t>(shot->ReadPixel(x, y));
      uint32_t b = static_cast<uint32_t>(picture->ReadPixel(x, y));
      int worst = 0;
      for (int shift : {0, 8, 16})
        worst = std::max(worst, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
      close += worst <= 24;
    }
  }
  EXPECT_GT(close * 100 / total, 90) << "the screen shows the picture (flakes cover a little)";

  ASSERT_EQ(std::system("xdotool key Escape"), 0);
  EXPECT_EQ(WaitFor(pid, 10), 0) << "Escape ends the card with status 0";

  // The captured audio is the decoded music (signed 16-bit stereo 44100 Hz):
  // after the leading silence both start with the same samples.
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> captured((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(captured.size(), 44100u * 4) << "at least a second of audio was played";
  Ref<TAudioSample> music = ReadAudioSample(String::FromUnits(card::kMusicUrl));
  ASSERT_FALSE(music.IsNull());
  if (music->format != SAMPLE_STEREO16LE) music = music->Convert(SAMPLE_STEREO16LE);
  auto* heard = reinterpret_cast<const int16_t*>(captured.data());
  std::size_t heardCount = captured.size() / 2;
  auto* decoded = reinterpret_cast<const int16_t*>(music->samples);
  std::size_t decodedCount = std::size_t(music->length) * 2;
  auto firstSound = [](const int16_t* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      if (std::abs(s[i]) > 200) return i & ~std::size_t(1);
    return n;
  };
  std::size_t h = firstSound(heard, heardCount), m = firstSound(decoded, decodedCount);
  ASSERT_LT(h, heardCount);
  std::size_t compared = 0, matching = 0;
  for (; compared < 20000 && h + compared < heardCount && m + compared < decodedCount; ++compared) {
    matching += std::abs(int(heard[h + compared]) - int(decoded[m + compared])) <= 4;
  }
  ASSERT_GT(compared, 10000u);
  EXPECT_GT(matching * 100 / compared, 95) << "the audio is the music";
}

// Over ssh or with DISPLAY unset the card used to spin invisibly on a 0 x 0
// screen, growing without end. It must say why and end with a failure.
TEST_F(CardEndToEnd, WithoutADisplayTheCardSaysSoAndEndsWithAFailure) {
  int err[2];
  ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(err[1], 2);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    // As over ssh: SDL left to choose. On a machine with a graphics console
    // SDL could take that, so there the X driver is named.
    unsetenv("SDL_VIDEODRIVER");
    if (access("/dev/dri", F_OK) == 0) setenv("SDL_VIDEODRIVER", "x11", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    execl(SNOWCARD_PATH, "snowcard", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  close(err[1]);
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, WNOHANG);
    }
  } reaper{pid};

  // Read standard error to its end (the card's exit closes it); a card that
  // hangs is killed by the bounded wait below, which closes it as well.
  int status = WaitFor(pid, 20);
  if (status == -1) kill(pid, SIGKILL);
  std::string text;
  char buffer[512];
  for (ssize_t n = 0; (n = read(err[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
  close(err[0]);

  EXPECT_NE(status, -1) << "the card ends by itself";
  EXPECT_NE(status, 0) << "with a failure status";
  // Lines of the window system's libraries (libwayland's complaint about
  // XDG_RUNTIME_DIR) may come first; the card's own line is the last one.
  const std::string said = "snowcard: the display could not be opened: ";
  std::size_t at = text.find(said);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(said, at + 1), std::string::npos) << "said once: " << text;
  std::size_t end = text.find('\n', at);
  EXPECT_EQ(end, text.size() - 1) << "one line, the last: " << text;
  EXPECT_GT(end, at + said.size()) << "SDL's reason follows: " << text;
}

}  // namespace

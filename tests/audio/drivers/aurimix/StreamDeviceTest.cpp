// The mixer's two stream devices on SDL's disk audio driver: a tone played
// through each is captured from the disk file and checked for pitch, level
// and gaps; the timer device's underrun and position-query rules are driven
// one service at a time; and the default opener behind the three drivers.
//
// The disk driver is slowed (SDL_DISKAUDIODELAY) so that a device's
// servicing is far ahead of what the output takes even on a loaded machine;
// every wait is on a condition with a generous bound.
#include "audio/drivers/aurimix/StreamDevices.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/drivers/aurimix/AurimixAudioDriver.h"
#include "audio/drivers/aurimix/LoopStream.h"
#include "runtime/String.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitFor.h"

using namespace vrl;
using aurimix::dsounddevice;
using aurimix::loopstream;
using aurimix::sounddata;
using aurimix::winmmdevice;

namespace {

constexpr int16_t kLevel = 16000;
constexpr int32_t kPeriod = 100;  // frames: 441 Hz at 44100 Hz
// Frames of silence after an underrun's restart: 2 x 8 fragments of 512 frames.
constexpr size_t kRestartSilence = size_t{16} * 512;

using testing_support::WaitFor;

// A looping 441 Hz sine, ten whole periods.
sounddata* Tone() {
  std::vector<int16_t> frames(size_t(10 * kPeriod));
  for (size_t i = 0; i < frames.size(); ++i)
    frames[i] = int16_t(std::lround(kLevel * std::sin(2 * M_PI * double(i) / kPeriod)));
  return MixerCreateSound(int32_t(frames.size()), 16, 1, 44100, frames.data(), -1);
}

struct ToneCheck {
  int crossings = 0;  // upward zero crossings of the left channel
  int peakLeft = 0, peakRight = 0;
  int worstStep = 0;      // largest change between neighbouring frames
  int weakestPeriod = 0;  // lowest peak of any whole period
};

ToneCheck Check(const std::vector<int16_t>& pcm, size_t from, size_t frames) {
  ToneCheck c;
  c.weakestPeriod = 1 << 20;
  for (size_t i = from; i < from + frames; ++i) {
    const int l = pcm[i * 2], r = pcm[i * 2 + 1], previous = pcm[(i - 1) * 2];
    if (previous < 0 && l >= 0) ++c.crossings;
    c.peakLeft = std::max(c.peakLeft, std::abs(l));
    c.peakRight = std::max(c.peakRight, std::abs(r));
    c.worstStep = std::max(c.worstStep, std::abs(l - previous));
  }
  for (size_t p = from; p + kPeriod <= from + frames; p += kPeriod) {
    int peak = 0;
    for (size_t i = p; i < p + kPeriod; ++i) peak = std::max(peak, std::abs(int(pcm[i * 2])));
    c.weakestPeriod = std::min(c.weakestPeriod, peak);
  }
  return c;
}

// Whether `frames` frames from `from` are the tone, whole and unbroken.
void ExpectTone(const std::vector<int16_t>& pcm, size_t from, size_t frames) {
  ASSERT_GE(pcm.size(), (from + frames) * 2) << "capture too short";
  const ToneCheck c = Check(pcm, from, frames);
  EXPECT_NEAR(c.crossings, double(frames) / kPeriod, 1.5);
  EXPECT_NEAR(c.peakLeft, kLevel, 3);
  EXPECT_NEAR(c.peakRight, kLevel, 3);
  // A gap or a repeated or skipped block breaks the sine's own slope.
  EXPECT_LE(c.worstStep, kLevel * 2 * M_PI / kPeriod + 4);
  EXPECT_GE(c.weakestPeriod, kLevel - 3);
}

size_t FirstSound(const std::vector<int16_t>& pcm, size_t from = 0) {
  size_t i = from;
  while (i * 2 < pcm.size() && std::abs(pcm[i * 2]) < 50) ++i;
  return i;
}

class StreamDeviceTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    _file = NativeOf("out.raw");
    // SDL reads these when a device opens.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", _file.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "200", 1);  // ms per 1024 frames: 4.3 times slower than real time
  }
  void TearDown() override {
    MixerClose();
    UseAudioDriver(u"Null"_vs);
    aurimix::SetDeviceOpener(&aurimix::OpenStreamDevice);
    unsetenv("SDL_DISKAUDIODELAY");
    TempDirTest::TearDown();
  }

  // The capture so far; complete once the device is closed.
  std::vector<int16_t> Captured() const {
    std::ifstream in(_file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
  }

  std::string _file;
};

// A device serviced by hand: one service each time the output has taken
// more, until it has taken `frames` frames.
void ServiceUntil(winmmdevice* device, uint64_t frames) {
  while (device->stream()->FramesOut() < frames) {
    device->service();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

TEST(WaveOutFragmentTest, FragmentLengthFollowsTheVersion) {
  EXPECT_EQ(aurimix::WaveOutFragment(2, 4), 1024);
  EXPECT_EQ(aurimix::WaveOutFragment(2, 10), 1024);
  EXPECT_EQ(aurimix::WaveOutFragment(1, 4), 2048);
  EXPECT_EQ(aurimix::WaveOutFragment(1, 5), 1024);
  EXPECT_EQ(aurimix::WaveOutFragment(0, 5), 2048);
  EXPECT_EQ(aurimix::WaveOutFragment(3, 6), 2048);
}

TEST_F(StreamDeviceTest, TheTimerDevicePlaysAToneWithoutGaps) {
  auto* device = new winmmdevice();
  ASSERT_EQ(MixerInit(device), 0);
  EXPECT_EQ(device->fragment(), 1024);
  EXPECT_EQ(device->stream()->Bytes(), 32 * 1024 * 2);
  // The first service ran inside open(): six fragments ahead.
  EXPECT_GE(device->writeposition(), 6 * 1024);
  sounddata* tone = Tone();
  ASSERT_NE(MixerPlaySound(tone, 0, 0), 0);
  ASSERT_TRUE(WaitFor([&] { return device->stream()->FramesOut() > 20000; }));
  EXPECT_EQ(device->underruns(), 0);
  EXPECT_GT(device->services(), 1);  // the timer services it
  // Never more than the lead ahead of the output.
  EXPECT_LE(device->writeposition(), int64_t(device->stream()->Position() / 2) + int64_t{7} * 1024);
  MixerClose();
  MixerFreeSound(tone);

  const std::vector<int16_t> pcm = Captured();
  const size_t start = FirstSound(pcm);
  ExpectTone(pcm, start + 1, 15000);
}

TEST_F(StreamDeviceTest, TheTimerDeviceRecoversFromAnUnderrun) {
  auto* device = new winmmdevice(false);
  ASSERT_EQ(MixerInit(device), 0);
  sounddata* tone = Tone();
  ASSERT_NE(MixerPlaySound(tone, 0, 0), 0);
  const int64_t fragment = device->fragment();
  ServiceUntil(device, 8192);
  EXPECT_EQ(device->underruns(), 0);

  // The main thread stalls: nothing services the device until the output
  // has played to within two fragments of what was mixed.
  const int64_t mixed = device->writeposition();
  ASSERT_TRUE(WaitFor([&] { return int64_t(device->stream()->Position() / 2) + 2 * fragment > mixed; }));
  const uint64_t stalledAt = device->stream()->FramesOut();
  device->service();
  EXPECT_EQ(device->underruns(), 1);
  EXPECT_EQ(device->restartwait(), 250);
  EXPECT_EQ(device->lead(), 8);
  EXPECT_EQ(device->writeposition(), 16 * fragment);
  EXPECT_FALSE(device->stream()->Playing());

  // Silent for 250 services; the last of them restarts from the top.
  for (int i = 0; i < 249; ++i) device->service();
  EXPECT_EQ(device->restartwait(), 1);
  EXPECT_FALSE(device->stream()->Playing());
  EXPECT_EQ(device->writeposition(), 16 * fragment);
  device->service();
  EXPECT_EQ(device->restartwait(), 0);
  EXPECT_TRUE(device->stream()->Playing());
  EXPECT_LT(device->stream()->Position(), uint64_t(8 * fragment * 2));  // from the start again
  const uint64_t restartedAt = device->stream()->FramesOut();

  // Then it mixes again, eight fragments ahead, after 16 fragments of silence.
  ServiceUntil(device, restartedAt + kRestartSilence + 12000);
  EXPECT_EQ(device->underruns(), 1);
  EXPECT_LE(device->writeposition(), int64_t(device->stream()->Position() / 2) + 9 * fragment);

  // A second underrun raises the lead to 10; a third leaves it there.
  for (int32_t expected : {10, 10}) {
    const int64_t at = device->writeposition();
    ASSERT_TRUE(WaitFor([&] { return int64_t(device->stream()->Position() / 2) + 2 * fragment > at; }));
    device->service();
    EXPECT_EQ(device->lead(), expected);
    EXPECT_EQ(device->writeposition(), int64_t{2} * expected * fragment);
    for (int i = 0; i < 250; ++i) device->service();
    EXPECT_TRUE(device->stream()->Playing());
  }
  MixerClose();
  MixerFreeSound(tone);

  // On the capture: the tone, a stretch of silence where the output was
  // reset, and the tone again, unbroken, once it came back. SDL may hold
  // frames between the callback and the file, so places in the capture are
  // found in the capture itself, not from the frames the callback took.
  const std::vector<int16_t> pcm = Captured();
  const size_t start = FirstSound(pcm);
  ASSERT_LT(start, size_t(stalledAt));
  ExpectTone(pcm, start + 1, std::min<size_t>(4000, size_t(stalledAt) - start - 3000));
  // The first run of silence after the tone began: the tone's own zero
  // crossings are a frame or two long.
  size_t quiet = start, back = start;
  while (quiet * 2 < pcm.size()) {
    back = FirstSound(pcm, quiet);
    if (back - quiet >= 2048) break;
    quiet = back + 1;
    while (quiet * 2 < pcm.size() && std::abs(pcm[quiet * 2]) >= 50) ++quiet;
  }
  ASSERT_LT(back * 2, pcm.size()) << "the tone never came back";
  // Sixteen fragments from the restart, and the frames of silence the output
  // played while it stood stopped, a callback or two.
  EXPECT_GE(back - quiet, kRestartSilence - 1024);
  EXPECT_LE(back - quiet, kRestartSilence + 4096);
  ExpectTone(pcm, back + 1, 8000);
}

namespace {
// A device whose position query fails on request, or answers nonsense.
class QueryDevice : public winmmdevice {
 public:
  QueryDevice() : winmmdevice(false) {}
  int mode = 0;  // 0 the real position, 1 the query fails, 2 a position beyond belief

 protected:
  bool queryposition(uint64_t& bytes) override {
    if (mode == 1) return false;
    if (!winmmdevice::queryposition(bytes)) return false;
    if (mode == 2) bytes = winmmdevice::kMaxPosition + 4;
    return true;
  }
};
}  // namespace

TEST_F(StreamDeviceTest, AnUntrustedPositionRestartsTheTimerDeviceFromTheTop) {
  auto* device = new QueryDevice;
  ASSERT_EQ(MixerInit(device), 0);
  const int64_t fragment = device->fragment();
  ServiceUntil(device, 4096);
  for (int mode : {1, 2}) {
    ASSERT_GT(device->writeposition(), 6 * fragment) << mode;
    device->mode = mode;
    device->service();
    EXPECT_EQ(device->writeposition(), 0) << mode;
    EXPECT_TRUE(device->stream()->Playing()) << mode;
    EXPECT_LT(device->stream()->Position(), uint64_t(4 * fragment * 2)) << mode;
    device->mode = 0;
    device->service();
    EXPECT_GE(device->writeposition(), 6 * fragment) << mode;
    EXPECT_LE(device->writeposition(), int64_t(device->stream()->Position() / 2) + 7 * fragment) << mode;
    ServiceUntil(device, device->stream()->FramesOut() + 4096);
    EXPECT_EQ(device->underruns(), 0) << mode;
  }
}

TEST_F(StreamDeviceTest, TheThreadDevicePlaysAToneWithoutGaps) {
  setenv("SDL_DISKAUDIODELAY", "150", 1);  // a notification every 300 ms, well inside the 1000 ms wait
  auto* device = new dsounddevice;
  ASSERT_EQ(MixerInit(device), 0);
  EXPECT_EQ(device->stream()->Bytes(), 32768);
  EXPECT_EQ(device->getmixer()->Length(), 12288);
  sounddata* tone = Tone();
  ASSERT_NE(MixerPlaySound(tone, 0, 0), 0);
  ASSERT_TRUE(WaitFor([&] { return device->stream()->FramesOut() > 20000; }));
  EXPECT_TRUE(device->playing());
  // Whole fragments, never more than two ahead of the cursor plus the one
  // being played.
  const int64_t written = device->written();
  EXPECT_EQ(written % 8192, 0);
  EXPECT_LE(written, int64_t(device->stream()->Position()) + int64_t{3} * 8192);
  EXPECT_GT(device->wakeups(), 4);
  MixerClose();
  MixerFreeSound(tone);

  const std::vector<int16_t> pcm = Captured();
  const size_t start = FirstSound(pcm);
  ExpectTone(pcm, start + 1, 15000);
}

TEST_F(StreamDeviceTest, TheThreadDeviceStopsWhenNoNotificationComes) {
  auto* device = new dsounddevice;
  ASSERT_EQ(MixerInit(device), 0);
  ASSERT_TRUE(WaitFor([&] { return device->wakeups() >= 2; }));
  // The output stops passing the fragment starts: the thread's wait runs
  // out and it ends playback.
  device->stream()->Stop();
  ASSERT_TRUE(WaitFor([&] { return !device->playing(); }));
  EXPECT_FALSE(device->stream()->Playing());
  const int32_t wakeups = device->wakeups();
  // Closing a device whose thread has ended is fine too.
  MixerClose();
  EXPECT_GE(wakeups, 2);
}

TEST_F(StreamDeviceTest, ClosingWakesTheThreadDeviceAtOnce) {
  setenv("SDL_DISKAUDIODELAY", "400", 1);  // notifications 800 ms apart
  auto* device = new dsounddevice;
  ASSERT_EQ(MixerInit(device), 0);
  ASSERT_TRUE(WaitFor([&] { return device->wakeups() >= 1; }));
  // The thread is waiting for a notification; close() must not free the
  // buffer under it (the sanitizers would see that) and must not hang.
  const auto before = std::chrono::steady_clock::now();
  MixerClose();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
}

namespace {
std::vector<int32_t> gKinds;
bool gRefuseTimer = false;
aurimix::audiodevice* Recording(int32_t kind) {
  gKinds.push_back(kind);
  if (kind == 0 && gRefuseTimer) return nullptr;
  return aurimix::OpenStreamDevice(kind);
}
}  // namespace

TEST_F(StreamDeviceTest, TheDriversOpenThePlatformDevices) {
  aurimix::Init();
  EXPECT_NE(dynamic_cast<winmmdevice*>(std::unique_ptr<aurimix::audiodevice>(MixerOpenWaveOut()).get()),
            nullptr);
  EXPECT_NE(dynamic_cast<dsounddevice*>(std::unique_ptr<aurimix::audiodevice>(MixerOpenDirectSound()).get()),
            nullptr);
  EXPECT_EQ(aurimix::OpenStreamDevice(2), nullptr);

  // The default opener: every driver starts on the disk output.
  for (const char16_t* name : {u"Aurimix", u"Aurimix Multimedia", u"Aurimix DirectSound"}) {
    EXPECT_EQ(UseAudioDriver(String::FromWideChars(name).get()), 1)
        << String::FromWideChars(name)->ToNarrow();
    EXPECT_NE(MixerAllocChannel(), 0);
  }
  UseAudioDriver(u"Null"_vs);

  // "Aurimix" tries the timer device first and falls back to the thread one.
  aurimix::SetDeviceOpener(&Recording);
  gKinds.clear();
  EXPECT_EQ(UseAudioDriver(u"Aurimix"_vs), 1);
  EXPECT_EQ(gKinds, (std::vector<int32_t>{0}));
  gKinds.clear();
  gRefuseTimer = true;
  EXPECT_EQ(UseAudioDriver(u"Aurimix"_vs), 1);
  EXPECT_EQ(gKinds, (std::vector<int32_t>{0, 1}));
  gRefuseTimer = false;
  UseAudioDriver(u"Null"_vs);

  // Without an output no device opens, and the Null driver stays current.
  aurimix::SetDeviceOpener(&aurimix::OpenStreamDevice);
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_EQ(UseAudioDriver(u"Aurimix"_vs), 0);
  EXPECT_EQ(ActiveAudioDriver()->Name()->ToNarrow(), "Null");
  EXPECT_EQ(MixerAllocChannel(), 0);
}

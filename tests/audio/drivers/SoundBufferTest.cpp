// The platform sound buffers and their mix, on a device without an output
// (the test calls Mix itself, so every number is exact).
#include "platform/SoundBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace vrl::platform;

namespace {

class SoundBufferTest : public testing::Test {
 protected:
  void SetUp() override { device = SoundDevice::CreateUnattached(44100); }
  void TearDown() override {
    if (device) device->Release();
  }

  // A buffer of 16-bit frames (mono when `channels` is 1) holding `values`.
  SoundBuffer* Make(const std::vector<int16_t>& values, int channels = 1, uint32_t rate = 44100) {
    SoundWaveFormat f;
    f.channels = uint16_t(channels);
    f.samplesPerSec = rate;
    f.bitsPerSample = 16;
    f.blockAlign = uint16_t(2 * channels);
    f.avgBytesPerSec = rate * f.blockAlign;
    SoundBufferDesc d;
    d.flags = 0x80E2;
    d.bufferBytes = uint32_t(values.size() * 2);
    d.format = &f;
    SoundBuffer* b = nullptr;
    EXPECT_EQ(device->CreateSoundBuffer(d, &b), kSoundOk);
    void* p1 = nullptr;
    void* p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    EXPECT_EQ(b->Lock(0, d.bufferBytes, &p1, &n1, &p2, &n2, 0), kSoundOk);
    std::memcpy(p1, values.data(), n1);
    EXPECT_EQ(b->Unlock(p1, n1, p2, n2), kSoundOk);
    return b;
  }

  std::vector<int16_t> Mix(int frames) {
    std::vector<int16_t> out(std::size_t(frames) * 2, 12345);
    device->Mix(out.data(), frames);
    return out;
  }

  SoundDevice* device = nullptr;
};

// The left sample of a frame of interleaved stereo output.
int16_t Left(const std::vector<int16_t>& out, std::size_t frame) { return out[frame * 2]; }

TEST_F(SoundBufferTest, CreationChecksTheFormat) {
  SoundWaveFormat f;
  f.channels = 1;
  f.samplesPerSec = 8000;
  f.bitsPerSample = 24;
  f.blockAlign = 3;
  SoundBufferDesc d;
  d.bufferBytes = 300;
  d.format = &f;
  SoundBuffer* b = reinterpret_cast<SoundBuffer*>(1);
  EXPECT_EQ(device->CreateSoundBuffer(d, &b), kSoundErrInvalidParam);
  EXPECT_EQ(b, nullptr);
  f.bitsPerSample = 16;
  EXPECT_EQ(device->CreateSoundBuffer(d, &b), kSoundErrInvalidParam);  // block align 3
  f.blockAlign = 2;
  d.bufferBytes = 2;  // below the minimum of 4
  EXPECT_EQ(device->CreateSoundBuffer(d, &b), kSoundErrInvalidParam);
  d.bufferBytes = 301;  // not whole frames
  EXPECT_EQ(device->CreateSoundBuffer(d, &b), kSoundErrInvalidParam);
  d.bufferBytes = 300;
  ASSERT_EQ(device->CreateSoundBuffer(d, &b), kSoundOk);
  EXPECT_EQ(b->Bytes(), 300u);
  b->Release();
}

TEST_F(SoundBufferTest, LockWrapsAroundTheEnd) {
  SoundBuffer* b = Make(std::vector<int16_t>(8, 0));
  void* p1 = nullptr;
  void* p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  ASSERT_EQ(b->Lock(12, 8, &p1, &n1, &p2, &n2, 0), kSoundOk);
  EXPECT_EQ(n1, 4u);
  EXPECT_EQ(n2, 4u);
  EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), 12);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), kSoundOk);
  EXPECT_EQ(b->Lock(16, 4, &p1, &n1, &p2, &n2, 0), kSoundErrInvalidParam);
  EXPECT_EQ(b->Lock(0, 17, &p1, &n1, &p2, &n2, 0), kSoundErrInvalidParam);
  b->Release();
}

TEST_F(SoundBufferTest, VolumeAndPanFollowTheDecibelCurves) {
  SoundBuffer* b = Make(std::vector<int16_t>(64, 10000));
  ASSERT_EQ(b->Play(kSoundPlayLooping), kSoundOk);
  std::vector<int16_t> out = Mix(16);
  EXPECT_EQ(out[0], 10000);
  EXPECT_EQ(out[1], 10000);

  ASSERT_EQ(b->SetVolume(-600), kSoundOk);  // -6 dB
  out = Mix(4);
  EXPECT_EQ(out[0], int16_t(std::lround(10000 * std::pow(10.0, -0.3))));
  EXPECT_EQ(out[1], out[0]);

  ASSERT_EQ(b->SetVolume(0), kSoundOk);
  ASSERT_EQ(b->SetPan(-2000), kSoundOk);  // left: right attenuated by 20 dB
  out = Mix(4);
  EXPECT_EQ(out[0], 10000);
  EXPECT_EQ(out[1], 1000);
  ASSERT_EQ(b->SetPan(10000), kSoundOk);
  out = Mix(4);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 10000);
  ASSERT_EQ(b->SetVolume(-10000), kSoundOk);
  out = Mix(4);
  EXPECT_EQ(out[1], 0);

  EXPECT_EQ(b->SetVolume(1), kSoundErrInvalidParam);
  EXPECT_EQ(b->SetPan(-10001), kSoundErrInvalidParam);
  b->Release();
}

TEST_F(SoundBufferTest, LoopingWrapsWithoutAGap) {
  // Exactly ten periods of a sine: looped, it must continue the sine across
  // the loop point, frame for frame.
  const int n = 1000;
  std::vector<int16_t> sine(n);
  for (int i = 0; i < n; ++i)
    sine[std::size_t(i)] = int16_t(std::lround(20000 * std::sin(2 * M_PI * i / 100)));
  SoundBuffer* b = Make(sine);
  b->Play(kSoundPlayLooping);
  std::vector<int16_t> out = Mix(3 * n + 37);
  for (int i = 0; i < 3 * n + 37; ++i) ASSERT_EQ(out[std::size_t(i) * 2], sine[std::size_t(i % n)]) << i;
  uint32_t status = 0;
  b->GetStatus(&status);
  EXPECT_EQ(status, kSoundStatusPlaying | kSoundStatusLooping);

  // At half the rate the interpolated frames still run through the wrap
  // smoothly: no step larger than the sine's own slope.
  b->SetFrequency(22050);
  out = Mix(4 * n);
  for (int i = 1; i < 4 * n; ++i) {
    ASSERT_LE(std::abs(out[std::size_t(i) * 2] - out[std::size_t(i - 1) * 2]), 20000 * 2 * M_PI / 200 + 2)
        << i;
  }
  b->Release();
}

TEST_F(SoundBufferTest, FrequencyResamples) {
  std::vector<int16_t> ramp = {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
  SoundBuffer* b = Make(ramp, 1, 22050);  // half the output rate
  b->Play(0);
  std::vector<int16_t> out = Mix(6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[std::size_t(i) * 2], 500 * i) << i;
  EXPECT_EQ(b->SetFrequency(88200), kSoundOk);
  uint32_t hertz = 0;
  b->GetFrequency(&hertz);
  EXPECT_EQ(hertz, 88200u);
  EXPECT_EQ(b->SetFrequency(0), kSoundOk);  // back to the format's rate
  b->GetFrequency(&hertz);
  EXPECT_EQ(hertz, 22050u);
  EXPECT_EQ(b->SetFrequency(99), kSoundErrInvalidParam);
  b->Release();
}

TEST_F(SoundBufferTest, OneShotEndsAndStopKeepsThePosition) {
  SoundBuffer* b = Make(std::vector<int16_t>(10, 3000));
  b->Play(0);
  std::vector<int16_t> out = Mix(16);
  EXPECT_EQ(Left(out, 9), 3000);
  EXPECT_EQ(Left(out, 10), 0);
  uint32_t status = 1, pos = 99;
  b->GetStatus(&status);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(device->PlayingBuffers(), 0);

  b->Play(0);
  Mix(4);
  b->Stop();
  b->GetCurrentPosition(&pos);
  EXPECT_EQ(pos, 8u);
  out = Mix(2);
  EXPECT_EQ(out[0], 0);
  b->Play(0);
  out = Mix(7);
  EXPECT_EQ(Left(out, 5), 3000);  // frames 4..9 remained
  EXPECT_EQ(Left(out, 6), 0);
  EXPECT_EQ(b->SetCurrentPosition(20), kSoundErrInvalidParam);
  b->Release();
}

TEST_F(SoundBufferTest, DuplicatesShareMemoryNotState) {
  SoundBuffer* a = Make(std::vector<int16_t>(32, 1000), 2);
  SoundBuffer* d = nullptr;
  ASSERT_EQ(device->DuplicateSoundBuffer(a, &d), kSoundOk);
  a->Play(kSoundPlayLooping);
  d->Play(kSoundPlayLooping);
  d->SetPan(10000);
  std::vector<int16_t> out = Mix(2);
  EXPECT_EQ(out[0], 1000);  // the duplicate's left is silent
  EXPECT_EQ(out[1], 2000);
  // Writing through one is heard through both.
  void* p1 = nullptr;
  void* p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  a->Lock(0, 0, &p1, &n1, &p2, &n2, kSoundLockEntireBuffer);
  std::vector<int16_t> louder(32, 3000);
  std::memcpy(p1, louder.data(), n1);
  a->Unlock(p1, n1, p2, n2);
  out = Mix(2);
  EXPECT_EQ(out[1], 6000);
  // A buffer released while playing leaves the mix; the other plays on over
  // the shared memory.
  a->Release();
  EXPECT_EQ(device->PlayingBuffers(), 1);
  out = Mix(2);
  EXPECT_EQ(out[1], 3000);
  d->Release();
  EXPECT_EQ(device->PlayingBuffers(), 0);
}

TEST_F(SoundBufferTest, EightBitAndClipping) {
  SoundWaveFormat f;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.bitsPerSample = 8;
  f.blockAlign = 2;
  SoundBufferDesc d;
  d.flags = 0x80E2;
  d.bufferBytes = 8;
  d.format = &f;
  SoundBuffer* b = nullptr;
  ASSERT_EQ(device->CreateSoundBuffer(d, &b), kSoundOk);
  void* p1 = nullptr;
  void* p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  b->Lock(0, 8, &p1, &n1, &p2, &n2, 0);
  const uint8_t bytes[8] = {128, 255, 0, 128, 128, 128, 128, 128};
  std::memcpy(p1, bytes, 8);
  b->Unlock(p1, n1, p2, n2);
  SoundBuffer* twin = Make(std::vector<int16_t>(8, 30000), 2);
  b->Play(kSoundPlayLooping);
  std::vector<int16_t> out = Mix(2);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 127 * 256);
  EXPECT_EQ(out[2], -32768);
  twin->Play(kSoundPlayLooping);
  b->SetCurrentPosition(0);
  out = Mix(1);
  EXPECT_EQ(out[1], 32767);  // 30000 + 32512 clips
  b->Release();
  twin->Release();
}

TEST_F(SoundBufferTest, ReleasedDeviceLosesItsBuffers) {
  SoundBuffer* b = Make(std::vector<int16_t>(8, 1000));
  b->Play(kSoundPlayLooping);
  device->Release();
  device = nullptr;
  uint32_t status = 0;
  EXPECT_EQ(b->GetStatus(&status), kSoundOk);
  EXPECT_EQ(status, kSoundStatusLost);
  EXPECT_EQ(b->Play(0), kSoundErrBufferLost);
  EXPECT_EQ(b->SetVolume(-100), kSoundErrBufferLost);
  EXPECT_EQ(b->Release(), 0u);
}

}  // namespace

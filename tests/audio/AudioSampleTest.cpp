// Sample formats, creation and conversion.
#include "audio/AudioSample.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"

using namespace vrl;

namespace {

class AudioSampleTest : public testing::Test {
 protected:
  void SetUp() override { audiosample::Init(); }
};

std::vector<uint8_t> Converted(std::vector<uint8_t> src, int32_t from, int32_t to) {
  int32_t count = int32_t(src.size()) / SampleBytes[from];
  Ref<TAudioSample> s = TAudioSample::CreateStatic(src.data(), count, 8000, from);
  Ref<TAudioSample> c = s->Convert(to);
  EXPECT_EQ(c->length, count);
  EXPECT_EQ(c->hertz, 8000);
  EXPECT_EQ(c->format, to);
  return std::vector<uint8_t>(c->samples, c->samples + c->DataBytes());
}

std::string ThrownText(void (*body)()) {
  try {
    body();
  } catch (const ThrownObject& e) {
    if (auto* r = e.As<TRuntimeException>()) return r->error->ToNarrow();
    return "other";
  }
  return "";
}

TEST_F(AudioSampleTest, Tables) {
  const int32_t bytes[7] = {0, 1, 2, 2, 2, 4, 4};
  const int32_t channels[7] = {0, 1, 1, 1, 2, 2, 2};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(SampleBytes[i], bytes[i]);
    EXPECT_EQ(SampleChannels[i], channels[i]);
  }
}

TEST_F(AudioSampleTest, CreateOwnsAndStaticDoesNot) {
  Ref<TAudioSample> s = NewAudioSample(100, 22050, SAMPLE_STEREO16LE);
  EXPECT_EQ(s->capacity, 400);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s->samples) % 16, 0u);
  EXPECT_EQ(s->DataBytes(), 400);

  // The sample never frees caller memory: under AddressSanitizer freeing a
  // vector's block would be reported.
  std::vector<uint8_t> mine(64, 7);
  {
    Ref<TAudioSample> view = NewStaticAudioSample(mine.data(), 32, 8000, SAMPLE_MONO16LE);
    EXPECT_EQ(view->capacity, -1);
    Ref<TAudioSample> copy = view->Copy();
    EXPECT_GE(copy->capacity, 0);
    EXPECT_NE(copy->samples, mine.data());
    EXPECT_EQ(std::memcmp(copy->samples, mine.data(), 64), 0);
  }
  GCCollect();
  EXPECT_EQ(mine[63], 7);

  EXPECT_EQ(ThrownText([] { TAudioSample::Create(1, 8000, 7); }), "Invalid sample format");
  EXPECT_EQ(ThrownText([] { TAudioSample::Create(-1, 8000, 1); }), "Invalid sample length");
  EXPECT_EQ(ThrownText([] { TAudioSample::Create(0x40000000, 8000, SAMPLE_STEREO16LE); }),
            "Sample too large");
}

TEST_F(AudioSampleTest, ConvertThroughThePivot) {
  // Same format: a copy.
  EXPECT_EQ(Converted({0, 128, 255}, SAMPLE_MONO8, SAMPLE_MONO8), (std::vector<uint8_t>{0, 128, 255}));
  // 8-bit to 16-bit: 0 is -32768, 255 is 32767, in both channels.
  EXPECT_EQ(Converted({0, 255, 128}, SAMPLE_MONO8, SAMPLE_STEREO16LE),
            (std::vector<uint8_t>{0x00, 0x80, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0x7F, 0x80, 0x00, 0x80, 0x00}));
  EXPECT_EQ(Converted({0, 255}, SAMPLE_STEREO8, SAMPLE_STEREO16BE),
            (std::vector<uint8_t>{0x80, 0x00, 0x7F, 0xFF}));
  // Stereo to mono averages, truncating toward zero: (-3 + 0) / 2 = -1.
  EXPECT_EQ(Converted({0xFD, 0xFF, 0x00, 0x00, 0xFF, 0x7F, 0xFF, 0x7F}, SAMPLE_STEREO16LE, SAMPLE_MONO16LE),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x7F}));
  // ... and to 8 bits: (m + 32768) / 257.
  EXPECT_EQ(Converted({0x00, 0x80, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x01},
                      SAMPLE_STEREO16LE, SAMPLE_MONO8),
            (std::vector<uint8_t>{0, 255, (32768 + 128) / 257}));
  EXPECT_EQ(Converted({0x34, 0x12}, SAMPLE_MONO16LE, SAMPLE_MONO16BE), (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(Converted({0x12, 0x34, 0xAB, 0xCD}, SAMPLE_STEREO16BE, SAMPLE_STEREO16LE),
            (std::vector<uint8_t>{0x34, 0x12, 0xCD, 0xAB}));
  EXPECT_EQ(Converted({0x80, 0x00, 0x7F, 0xFF}, SAMPLE_STEREO16BE, SAMPLE_STEREO8),
            (std::vector<uint8_t>{0, 255}));
}

TEST_F(AudioSampleTest, LongConversionsMatchFrameByFrame) {
  // More frames than one pass through the temporary pivot.
  std::vector<uint8_t> src(std::size_t(10000) * 2);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 31 + (i >> 8));
  std::vector<uint8_t> whole = Converted(src, SAMPLE_STEREO8, SAMPLE_MONO16BE);
  for (int frame : {0, 4095, 4096, 4097, 9999}) {
    std::vector<uint8_t> one(src.begin() + std::ptrdiff_t(frame) * 2,
                             src.begin() + std::ptrdiff_t(frame) * 2 + 2);
    std::vector<uint8_t> expect = Converted(one, SAMPLE_STEREO8, SAMPLE_MONO16BE);
    EXPECT_EQ(whole[std::size_t(frame) * 2], expect[0]) << frame;
    EXPECT_EQ(whole[std::size_t(frame) * 2 + 1], expect[1]) << frame;
  }
}

TEST_F(AudioSampleTest, UnknownFormatsThrow) {
  EXPECT_EQ(ThrownText([] {
              uint8_t b[4] = {};
              TAudioSample::CreateStatic(b, 1, 8000, SAMPLE_MONO8)->Convert(0);
            }),
            "Unimplemented sample format conversion");
  EXPECT_EQ(ThrownText([] {
              uint8_t a[4] = {}, b[4] = {};
              ConvertSampleData(a, 9, b, SAMPLE_MONO8, 1);
            }),
            "Unimplemented sample format conversion");
}

}  // namespace

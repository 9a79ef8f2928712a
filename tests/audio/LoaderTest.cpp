// The loader chain, the WAV loader and the Ogg Vorbis loader.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "tests/audio/OggFixture.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

// A stream that knows its position but not its size, and hands out at most
// seven bytes per Read.
class TDripStream : public TStream {
  VRL_CLASS(TDripStream, TStream)
  int32_t Eof() override { return _pos == int32_t(_bytes.size()) ? 1 : 0; }
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return 0; }
  int32_t Seek(int32_t pos) override { return _pos = std::clamp(pos, 0, int32_t(_bytes.size())); }
  int32_t Read(void* buf, int32_t count) override {
    int32_t n = std::min({count, 7, int32_t(_bytes.size()) - _pos});
    if (n <= 0) return 0;
    std::memcpy(buf, _bytes.data() + _pos, std::size_t(n));
    _pos += n;
    return n;
  }
  std::vector<uint8_t> _bytes;
  int32_t _pos = 0;
};

// A stream without a position.
class TPipeLikeStream : public TStream {
  VRL_CLASS(TPipeLikeStream, TStream)
  int32_t Read(void*, int32_t) override { return 0; }
};

// "pipe::" opens a stream without a position and counts its Close calls.
int gPipeCloses = 0;
class TCountingPipeStream : public TPipeLikeStream {
  VRL_CLASS(TCountingPipeStream, TPipeLikeStream)
  int32_t Close() override {
    ++gPipeCloses;
    return 0;
  }
};
class TPipeFactory : public TStreamFactory {
  VRL_CLASS(TPipeFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object*, String* proto, String*, int32_t, int32_t) override {
    if (CompareStrings(proto, u"pipe"_vs) != 0) return {};
    return New<TCountingPipeStream>();
  }
};

// Test loaders: one throws for data starting "BOOM" (a runtime error) or
// "SREX" (a stream exception); the other records where the stream stood.
class TThrowingLoader : public TAudioSampleLoader {
  VRL_CLASS(TThrowingLoader, TAudioSampleLoader)
  Ref<TAudioSample> LoadAudioSample(TStream* stream) override {
    char magic[4] = {};
    if (stream->Read(magic, 4) != 4) return nullptr;
    if (std::memcmp(magic, "BOOM", 4) == 0) vrRuntimeError("boom");
    if (std::memcmp(magic, "SREX", 4) == 0) ThrowStreamReadException();
    return nullptr;
  }
};

int gProbeCalls = 0;
int32_t gProbePos = -1;
class TProbeLoader : public TAudioSampleLoader {
  VRL_CLASS(TProbeLoader, TAudioSampleLoader)
  Ref<TAudioSample> LoadAudioSample(TStream* stream) override {
    ++gProbeCalls;
    gProbePos = stream->Pos();
    stream->SkipBytes(2);
    return nullptr;
  }
};

}  // namespace

VRL_CLASS_RECORD(TDripStream, "TDripStream")
VRL_CLASS_RECORD(TPipeLikeStream, "TPipeLikeStream")
VRL_CLASS_RECORD(TCountingPipeStream, "TCountingPipeStream")
VRL_CLASS_RECORD(TPipeFactory, "TPipeFactory")
VRL_CLASS_RECORD(TThrowingLoader, "TThrowingLoader")
VRL_CLASS_RECORD(TProbeLoader, "TProbeLoader")

namespace {

class LoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    stream::Init();
    ramstream::Init();
    oggloader::Init();
    wavloader::Init();
  }

  // The loader chain over a copy of the bytes.
  Ref<TAudioSample> Read(const std::vector<uint8_t>& bytes) {
    _held = bytes;
    return ReadAudioSample(TRamStream::Create(_held.data(), int32_t(_held.size()), 1, 0));
  }

  std::vector<uint8_t> _held;
};

Bytes Wav(int formatTag, int channels, int rate, int bits, const std::vector<uint8_t>& data,
          int extraFmt = 0) {
  Bytes b;
  b.Tag("RIFF").U32(0).Tag("WAVE");
  FmtChunk(b, formatTag, channels, rate, bits, extraFmt);
  b.Tag("data").U32(uint32_t(data.size())).Raw(data);
  return b;
}

int16_t Le16(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }

// Positive-going zero crossings per second of one channel.
double CrossingsPerSecond(const TAudioSample* s, int channel) {
  int channels = SampleChannels[s->format];
  int crossings = 0;
  for (int i = 1; i < s->length; ++i) {
    int16_t a = Le16(s->samples + 2 * (std::size_t(i - 1) * channels + channel));
    int16_t b = Le16(s->samples + 2 * (std::size_t(i) * channels + channel));
    if (a < 0 && b >= 0) ++crossings;
  }
  return crossings * double(s->hertz) / s->length;
}

double Rms(const TAudioSample* s, int channel) {
  int channels = SampleChannels[s->format];
  double sum = 0;
  for (int i = 0; i < s->length; ++i) {
    double v = Le16(s->samples + 2 * (std::size_t(i) * channels + channel));
    sum += v * v;
  }
  return std::sqrt(sum / std::max(1, s->length));
}

TEST_F(LoaderTest, ChainAsksWavFirstThenOgg) {
  TAudioSampleLoader* head = AudioSampleLoaders();
  // Test loaders registered by other cases sit in front; find the two.
  while (head && !CastRaw<TAudioSampleLoaderWAV>(head)) head = head->Next();
  ASSERT_NE(head, nullptr);
  EXPECT_NE(CastRaw<TAudioSampleLoaderOGG>(head->Next()), nullptr);
}

TEST_F(LoaderTest, WavLoadsEachPcmLayout) {
  struct Case {
    int channels, bits, format;
  } cases[] = {
      {1, 8, SAMPLE_MONO8}, {2, 8, SAMPLE_STEREO8}, {1, 16, SAMPLE_MONO16LE}, {2, 16, SAMPLE_STEREO16LE}};
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const Case& c : cases) {
    Ref<TAudioSample> s = Read(Wav(1, c.channels, 22050, c.bits, data).data);
    ASSERT_FALSE(s.IsNull()) << c.format;
    EXPECT_EQ(s->format, c.format);
    EXPECT_EQ(s->hertz, 22050);
    EXPECT_EQ(s->length, 8 / SampleBytes[c.format]);
    EXPECT_EQ(std::memcmp(s->samples, data.data(), 8), 0);
  }
}

TEST_F(LoaderTest, WavChunkWalk) {
  std::vector<uint8_t> data = {10, 20, 30, 40};
  // Chunks of odd length before "data", each followed by the pad byte RIFF
  // asks for, or without it as some writers leave it: both load.
  for (bool padded : {true, false}) {
    Bytes listed;
    listed.Tag("RIFF").U32(0).Tag("WAVE");
    FmtChunk(listed, 1, 1, 8000, 8);
    listed.Tag("LIST").U32(3).Raw({'a', 'b', 'c'});
    if (padded) listed.Raw({0});
    listed.Tag("JUNK").U32(1).Raw({0});
    if (padded) listed.Raw({0});
    listed.Tag("data").U32(4).Raw(data);
    Ref<TAudioSample> s = Read(listed.data);
    ASSERT_FALSE(s.IsNull()) << padded;
    EXPECT_EQ(s->length, 4);
    EXPECT_EQ(s->samples[3], 40);
  }

  // A 17-byte fmt chunk and its pad byte.
  Bytes oddFmt;
  oddFmt.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(17);
  oddFmt.Raw({1, 0, 1, 0, 0x40, 0x1f, 0, 0, 0x40, 0x1f, 0, 0, 1, 0, 8, 0, 0xee, 0});
  oddFmt.Tag("data").U32(4).Raw(data);
  Ref<TAudioSample> odd = Read(oddFmt.data);
  ASSERT_FALSE(odd.IsNull());
  EXPECT_EQ(odd->hertz, 8000);
  EXPECT_EQ(odd->samples[0], 10);

  // A chunk between "WAVE" and "fmt " is refused.
  Bytes early;
  early.Tag("RIFF").U32(0).Tag("WAVE").Tag("JUNK").U32(0);
  FmtChunk(early, 1, 1, 8000, 8);
  early.Tag("data").U32(4).Raw(data);
  EXPECT_TRUE(Read(early.data).IsNull());

  // An 18-byte fmt chunk: the two extra bytes are skipped.
  Ref<TAudioSample> extended = Read(Wav(1, 2, 11025, 16, data, 2).data);
  ASSERT_FALSE(extended.IsNull());
  EXPECT_EQ(extended->format, SAMPLE_STEREO16LE);
  EXPECT_EQ(extended->length, 1);

  // No "data" chunk at all.
  Bytes none;
  none.Tag("RIFF").U32(0).Tag("WAVE");
  FmtChunk(none, 1, 1, 8000, 8);
  none.Tag("LIST").U32(0);
  EXPECT_TRUE(Read(none.data).IsNull());
}

TEST_F(LoaderTest, WavRefusesOtherEncodings) {
  std::vector<uint8_t> data(12, 0);
  EXPECT_TRUE(Read(Wav(3, 1, 44100, 32, data).data).IsNull());  // float
  EXPECT_TRUE(Read(Wav(1, 1, 44100, 24, data).data).IsNull());
  EXPECT_TRUE(Read(Wav(1, 3, 44100, 16, data).data).IsNull());
  EXPECT_TRUE(Read({'R', 'I', 'F'}).IsNull());  // truncated: a stream exception is a refusal
}

TEST_F(LoaderTest, WavDataSizeIsNotTrusted) {
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7};
  // Seven bytes of 16-bit stereo: one whole frame; the partial one is left.
  Ref<TAudioSample> s = Read(Wav(1, 2, 8000, 16, data).data);
  ASSERT_FALSE(s.IsNull());
  EXPECT_EQ(s->length, 1);
  EXPECT_LE(s->DataBytes(), s->capacity);

  // Sizes far beyond the data: refused without allocating them.
  for (uint32_t claimed : {0x7FFFFFF0u, 0xFFFFFFFFu, 9u}) {
    Bytes b = Wav(1, 1, 8000, 8, {});
    std::memcpy(b.data.data() + b.data.size() - 4, &claimed, 4);
    b.Raw({1, 2, 3, 4});
    EXPECT_TRUE(Read(b.data).IsNull()) << claimed;
  }
}

TEST_F(LoaderTest, WavFromStreamThatDoesNotKnowItsSize) {
  std::vector<uint8_t> data(3000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  Ref<TDripStream> drip = New<TDripStream>();
  drip->_bytes = Wav(1, 1, 8000, 8, data).data;
  Ref<TAudioSample> s = ReadAudioSample(drip);
  ASSERT_FALSE(s.IsNull());
  ASSERT_EQ(s->length, 3000);
  EXPECT_EQ(std::memcmp(s->samples, data.data(), data.size()), 0);

  // The same stream claiming a huge chunk ends with a refusal when the data
  // runs out; what was allocated grew only with the data.
  Bytes big = Wav(1, 1, 8000, 8, data);
  uint32_t claimed = 0x7FFFFFF0u;
  std::memcpy(big.data.data() + 40, &claimed, 4);
  drip->_bytes = big.data;
  drip->_pos = 0;
  EXPECT_TRUE(ReadAudioSample(drip).IsNull());
}

TEST_F(LoaderTest, OggMonoAndStereo) {
  const int rate = 22050, frames = 22050;
  std::vector<float> tone = Sine(441, rate, frames, 0.5);
  Ref<TAudioSample> mono = Read(EncodeOgg(1, rate, tone));
  ASSERT_FALSE(mono.IsNull());
  EXPECT_EQ(mono->format, SAMPLE_MONO16LE);
  EXPECT_EQ(mono->hertz, rate);
  EXPECT_EQ(mono->length, frames);
  EXPECT_NEAR(CrossingsPerSecond(mono, 0), 441, 3);
  EXPECT_NEAR(Rms(mono, 0), 0.5 * 32767 / std::sqrt(2.0), 300);

  // Left a tone, right silence.
  std::vector<float> stereo(std::size_t(frames) * 2, 0.0f);
  for (int i = 0; i < frames; ++i) stereo[std::size_t(i) * 2] = tone[std::size_t(i)];
  Ref<TAudioSample> s = Read(EncodeOgg(2, rate, stereo));
  ASSERT_FALSE(s.IsNull());
  EXPECT_EQ(s->format, SAMPLE_STEREO16LE);
  EXPECT_EQ(s->length, frames);
  EXPECT_NEAR(CrossingsPerSecond(s, 0), 441, 3);
  EXPECT_GT(Rms(s, 0), 10000);
  EXPECT_LT(Rms(s, 1), 300);
}

TEST_F(LoaderTest, TruncatedOggGivesTheShorterSampleDecoded) {
  // A noisy tone, so that the audio spans several pages.
  std::vector<float> noisy = Sine(300, 22050, 22050 * 4, 0.4);
  uint32_t seed = 1;
  for (float& v : noisy) {
    seed = seed * 1103515245 + 12345;
    v += float((seed >> 16) % 1000) / 5000.0f - 0.1f;
  }
  std::vector<uint8_t> ogg = EncodeOgg(1, 22050, noisy);
  Ref<TAudioSample> whole = Read(ogg);
  ASSERT_FALSE(whole.IsNull());
  ogg.resize(ogg.size() * 6 / 10);
  Ref<TAudioSample> part = Read(ogg);
  ASSERT_FALSE(part.IsNull());
  ASSERT_GT(part->length, 1000);
  EXPECT_LT(part->length, whole->length);
  EXPECT_LE(part->DataBytes(), part->capacity);
  // What was decoded is the start of the whole.
  EXPECT_EQ(std::memcmp(part->samples, whole->samples, 1000), 0);
}

TEST_F(LoaderTest, OggWithMoreThanTwoChannelsIsRefused) {
  std::vector<float> three(std::size_t(4410) * 3, 0.25f);
  EXPECT_TRUE(Read(EncodeOgg(3, 44100, three)).IsNull());
}

TEST_F(LoaderTest, OggClaimingAnAbsurdLengthDoesNotAllocateIt) {
  std::vector<uint8_t> ogg = EncodeOgg(1, 8000, Sine(200, 8000, 8000, 0.5));
  // Rewrite the last page's granule position to 2^40 frames (the page CRC
  // no longer matches, so vorbisfile may refuse the page; either way no
  // 2^40-frame sample may be allocated).
  std::size_t last = 0;
  for (std::size_t i = 0; i + 4 <= ogg.size(); ++i)
    if (std::memcmp(&ogg[i], "OggS", 4) == 0) last = i;
  uint64_t granule = uint64_t(1) << 40;
  std::memcpy(&ogg[last + 6], &granule, 8);
  Ref<TAudioSample> s = Read(ogg);
  if (!s.IsNull()) {
    EXPECT_LE(s->length, 8000);
    EXPECT_LE(s->DataBytes(), s->capacity);
  }
}

TEST_F(LoaderTest, TheCardsMusicDecodesWhole) {
  std::string path = std::string(VRL_SOURCE_DIR) + "/app/assets/Palewind-Silent night (piano).ogg";
  OggVorbis_File vf;
  ASSERT_EQ(ov_fopen(path.c_str(), &vf), 0);
  ogg_int64_t frames = ov_pcm_total(&vf, 0);
  long rate = ov_info(&vf, -1)->rate;
  ov_clear(&vf);

  Ref<TAudioSample> s = ReadAudioSample(String::FromUtf8(std::string_view(path)));
  ASSERT_FALSE(s.IsNull());
  EXPECT_EQ(s->format, SAMPLE_STEREO16LE);
  EXPECT_EQ(s->hertz, rate);
  EXPECT_EQ(s->length, frames);
  EXPECT_GT(Rms(s, 0), 100);
}

TEST_F(LoaderTest, ChainRewindsAndSortsExceptions) {
  static bool registered = false;
  if (!registered) {
    registered = true;
    New<TProbeLoader>();
    New<TThrowingLoader>();  // asked first
  }
  gProbeCalls = 0;
  // A stream exception counts as a refusal: the next loader gets the stream
  // rewound to where it started.
  EXPECT_TRUE(Read({'S', 'R', 'E', 'X', 0, 0, 0, 0}).IsNull());
  EXPECT_EQ(gProbeCalls, 1);
  EXPECT_EQ(gProbePos, 0);
  // Anything else propagates.
  try {
    Read({'B', 'O', 'O', 'M'});
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<TRuntimeException>(), nullptr);
    EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "boom");
  }
  EXPECT_EQ(gProbeCalls, 1);
  // The WAV loader after them still sees the data from its start.
  EXPECT_FALSE(Read(Wav(1, 1, 8000, 8, {1, 2}).data).IsNull());
}

TEST_F(LoaderTest, UnseekableStreamsAndUnknownUrls) {
  try {
    ReadAudioSample(New<TPipeLikeStream>());
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<TRuntimeException>(), nullptr);
    EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "Stream is not seekable");
  }
  EXPECT_TRUE(ReadAudioSample(u"no-such-protocol::x"_vs).IsNull());
  EXPECT_TRUE(ReadAudioSample(nullptr).IsNull());
}

// The stream opened for a URL is the loader chain's to close, also when it
// turns out to have no position.
TEST_F(LoaderTest, NotSeekableStreamIsClosedBeforeTheThrow) {
  static bool registered = false;
  if (!registered) New<TPipeFactory>();  // the chain keeps it
  registered = true;
  gPipeCloses = 0;
  try {
    ReadAudioSample(u"pipe::music"_vs);
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    ASSERT_NE(e.As<TRuntimeException>(), nullptr);
    EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "Stream is not seekable");
  }
  EXPECT_EQ(gPipeCloses, 1);
}

}  // namespace

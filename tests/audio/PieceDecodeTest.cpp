// The Ogg loader decoding in pieces on several threads must give exactly the
// samples of a straight decode: for the card's music, for generated files of
// several shapes, and for damaged files, where it must give up and leave the
// result to the straight decode.
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "tests/audio/OggFixture.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

// A ram stream over a test's bytes, for faults of its own.
class TTestRamStream : public TRamStream {
  VRL_CLASS(TTestRamStream, TRamStream)
 public:
  void Over(std::vector<uint8_t>& bytes) {
    _buf = bytes.data();
    _size = int32_t(bytes.size());
    _read = 1;
  }
};

// Throws a runtime error once a read reaches `_limit`.
class TFailingRamStream : public TTestRamStream {
  VRL_CLASS(TFailingRamStream, TTestRamStream)
 public:
  int32_t Read(void* buf, int32_t count) override {
    if (_pos + count > _limit) vrRuntimeError("read failed");
    return TRamStream::Read(buf, count);
  }
  std::span<const uint8_t> PeekBuffered() override { return {}; }
  int32_t _limit = 0;
};

// A stream over the bytes that cannot tell its size.
class TSizelessStream : public TTestRamStream {
  VRL_CLASS(TSizelessStream, TTestRamStream)
 public:
  int32_t Size() override { return 0; }
};

}  // namespace

VRL_CLASS_RECORD(TTestRamStream, "TTestRamStream")
VRL_CLASS_RECORD(TFailingRamStream, "TFailingRamStream")
VRL_CLASS_RECORD(TSizelessStream, "TSizelessStream")

namespace {

// What a load gave: Null, or the format, rate and data bytes.
struct Decoded {
  bool null = true;
  int32_t format = 0, hertz = 0;
  std::vector<uint8_t> data;
  int32_t pieces = 0;  // LastDecodePieces after the load
  bool operator==(const Decoded& o) const {
    return null == o.null && format == o.format && hertz == o.hertz && data == o.data;
  }
};

template <class S = TTestRamStream>
Ref<S> StreamOver(std::vector<uint8_t>& bytes) {
  Ref<S> s = New<S>();
  s->Over(bytes);
  return s;
}

class PieceDecodeTest : public testing::Test {
 protected:
  void SetUp() override {
    stream::Init();
    ramstream::Init();
    oggloader::Init();
  }
  void TearDown() override { oggloader::SetDecodeThreads(0); }

  // The loader chain over `stream` with `threads` decoding threads.
  static Decoded Load(TStream* stream, int32_t threads) {
    oggloader::SetDecodeThreads(threads);
    Ref<TAudioSample> s = ReadAudioSample(stream);
    Decoded d;
    d.pieces = oggloader::LastDecodePieces();
    if (s.IsNull()) return d;
    d.null = false;
    d.format = s->format;
    d.hertz = s->hertz;
    d.data.assign(s->samples, s->samples + s->DataBytes());
    return d;
  }
  static Decoded Load(std::vector<uint8_t> bytes, int32_t threads) {
    return Load(StreamOver(bytes), threads);
  }

  // Straight and in pieces with 2, 3 and 4 threads: all the same. Returns the
  // pieces the 2-thread load used.
  static int32_t ExpectPiecesMatchStraight(const std::vector<uint8_t>& bytes, const std::string& what) {
    Decoded straight = Load(bytes, 1);
    EXPECT_EQ(straight.pieces, 0) << what;
    int32_t pieces = -1;
    for (int32_t threads : {4, 3, 2}) {
      Decoded parallel = Load(bytes, threads);
      EXPECT_TRUE(parallel == straight) << what << ", " << threads << " threads: " << parallel.data.size()
                                        << " bytes against " << straight.data.size();
      pieces = parallel.pieces;
    }
    return pieces;
  }
};

// vorbisfile's own straight decode of the bytes, as 16-bit little-endian.
std::vector<uint8_t> VorbisfileDecode(const std::string& path) {
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return {};
  std::vector<uint8_t> out(std::size_t(ov_pcm_total(&vf, 0) * ov_info(&vf, -1)->channels * 2));
  std::size_t done = 0;
  int section = 0;
  while (done < out.size()) {
    long n = ov_read(&vf, reinterpret_cast<char*>(out.data() + done),
                     int(std::min<std::size_t>(out.size() - done, 65536)), 0, 2, 1, &section);
    if (n <= 0) break;
    done += std::size_t(n);
  }
  ov_clear(&vf);
  out.resize(done);
  return out;
}

// Noise over a tone, so that every block codes something different.
std::vector<float> Music(int channels, int rate, int frames, uint32_t seed) {
  std::vector<float> tone = Sine(220 + seed % 300, rate, frames, 0.3);
  std::vector<float> out(std::size_t(frames) * channels);
  for (std::size_t i = 0; i < out.size(); ++i) {
    seed = seed * 1103515245 + 12345;
    out[i] = tone[i / std::size_t(channels)] * (i % 2 ? 0.5f : 1.0f) + float((seed >> 16) % 1000) / 8000.0f -
             0.06f;
  }
  return out;
}

// The offsets of the pages in an Ogg file.
std::vector<std::size_t> Pages(const std::vector<uint8_t>& ogg) {
  std::vector<std::size_t> pages;
  std::size_t at = 0;
  while (at + 27 <= ogg.size() && std::memcmp(&ogg[at], "OggS", 4) == 0) {
    pages.push_back(at);
    const std::size_t segments = ogg[at + 26];
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments && at + 27 + i < ogg.size(); ++i) body += ogg[at + 27 + i];
    at += 27 + segments + body;
  }
  return pages;
}

// Rewrites the granule position of the page at `at` and its checksum, so that
// the page is accepted with a position that lies.
void SetGranule(std::vector<uint8_t>& ogg, std::size_t at, int64_t granule) {
  std::memcpy(&ogg[at + 6], &granule, 8);
  ogg_page page;
  page.header = &ogg[at];
  page.header_len = 27 + ogg[at + 26];
  page.body = &ogg[at] + page.header_len;
  page.body_len = 0;
  for (int i = 0; i < ogg[at + 26]; ++i) page.body_len += ogg[at + 27 + std::size_t(i)];
  ogg_page_checksum_set(&page);
}

int64_t Granule(const std::vector<uint8_t>& ogg, std::size_t at) {
  int64_t granule = 0;
  std::memcpy(&granule, &ogg[at + 6], 8);
  return granule;
}

TEST_F(PieceDecodeTest, TheCardsMusicInPiecesIsTheStraightDecode) {
  const std::string path = std::string(VRL_SOURCE_DIR) + "/app/assets/Palewind-Silent night (piano).ogg";
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 1000000u);
  Decoded straight = Load(bytes, 1);
  ASSERT_FALSE(straight.null);
  EXPECT_EQ(straight.data, VorbisfileDecode(path));
  for (int32_t threads : {2, 3}) {
    Decoded parallel = Load(bytes, threads);
    EXPECT_EQ(parallel.pieces, threads * 4) << threads;
    ASSERT_EQ(parallel.data.size(), straight.data.size());
    EXPECT_TRUE(parallel == straight) << threads << " threads";
  }
}

TEST_F(PieceDecodeTest, GeneratedFilesOfSeveralShapes) {
  struct Shape {
    int channels, rate, frames;
    float quality;
    bool pieces;  // long enough to be cut
  } shapes[] = {
      {1, 22050, 32767, 0.5f, false},  // one frame short of two pieces
      {1, 22050, 32768, 0.5f, true},   // exactly two pieces of the shortest length
      {2, 44100, 100001, 0.5f, true},  // frames no piece count divides
      {2, 48000, 150000, 0.9f, true},  // high quality: other block sizes
      {1, 8000, 70000, -0.1f, true},   // the lowest quality and a low rate
      {2, 11025, 200003, 0.1f, true},
  };
  uint32_t seed = 7;
  for (const Shape& s : shapes) {
    std::vector<uint8_t> ogg =
        EncodeOgg(s.channels, s.rate, Music(s.channels, s.rate, s.frames, seed++), s.quality);
    const std::string what = std::to_string(s.channels) + " ch, " + std::to_string(s.rate) + " Hz, " +
                             std::to_string(s.frames) + " frames";
    Decoded straight = Load(ogg, 1);
    ASSERT_FALSE(straight.null) << what;
    EXPECT_EQ(straight.data.size(), std::size_t(s.frames) * s.channels * 2) << what;
    const int32_t pieces = ExpectPiecesMatchStraight(ogg, what);
    if (s.pieces) {
      EXPECT_GE(pieces, 2) << what;
    } else {
      EXPECT_EQ(pieces, 0) << what;
    }
  }
}

TEST_F(PieceDecodeTest, SilenceAndSoundAfterSilence) {
  // Digital silence, then sound: the checks between pieces see equal zeros
  // whatever a seek did, the sound after them must still come out the same.
  const int rate = 22050, frames = 120000;
  std::vector<float> samples(frames, 0.0f);
  std::vector<float> loud = Music(1, rate, frames / 3, 3);
  std::copy(loud.begin(), loud.end(), samples.end() - std::ptrdiff_t(loud.size()));
  std::vector<uint8_t> ogg = EncodeOgg(1, rate, samples);
  EXPECT_GE(ExpectPiecesMatchStraight(ogg, "silence then sound"), 2);
  EXPECT_GE(ExpectPiecesMatchStraight(EncodeOgg(2, rate, std::vector<float>(std::size_t(frames) * 2, 0.0f)),
                                      "silence"),
            2);
}

TEST_F(PieceDecodeTest, BytesBeforeTheFirstPage) {
  std::vector<uint8_t> ogg = EncodeOgg(2, 22050, Music(2, 22050, 90000, 11));
  std::vector<uint8_t> junk(3000 + ogg.size(), 'x');
  std::copy(ogg.begin(), ogg.end(), junk.begin() + 3000);
  Decoded plain = Load(ogg, 1);
  Decoded straight = Load(junk, 1);
  EXPECT_TRUE(straight == plain);
  ExpectPiecesMatchStraight(junk, "junk before the data");
}

TEST_F(PieceDecodeTest, DamagedFilesGiveWhatTheStraightDecodeGives) {
  std::vector<uint8_t> ogg = EncodeOgg(2, 22050, Music(2, 22050, 150000, 5));
  std::vector<std::size_t> pages = Pages(ogg);
  ASSERT_GT(pages.size(), 12u);

  // Cut inside the data: a shorter sample, decoded straight.
  std::vector<uint8_t> cut(ogg.begin(), ogg.begin() + std::ptrdiff_t(ogg.size() * 6 / 10));
  Decoded shorter = Load(cut, 1);
  ASSERT_FALSE(shorter.null);
  EXPECT_LT(shorter.data.size(), std::size_t(150000) * 4);
  ExpectPiecesMatchStraight(cut, "cut");

  // A page in the middle whose checksum fails: vorbisfile sees a hole.
  std::vector<uint8_t> hole = ogg;
  hole[pages[pages.size() / 2] + 40] ^= 0x5a;
  ExpectPiecesMatchStraight(hole, "a bad page");

  // Pages whose positions lie, with valid checksums: a seek trusts them.
  for (std::size_t which : {pages.size() / 3, pages.size() / 2, pages.size() - 3}) {
    for (int64_t shift : {-5000, 3000, 40000}) {
      std::vector<uint8_t> lying = ogg;
      SetGranule(lying, pages[which], Granule(ogg, pages[which]) + shift);
      ExpectPiecesMatchStraight(lying,
                                "page " + std::to_string(which) + " moved by " + std::to_string(shift));
    }
  }

  // The last page claims more frames than the data holds, few enough to be
  // allocated at once: the last piece comes up short.
  std::vector<uint8_t> longer = ogg;
  SetGranule(longer, pages.back(), Granule(ogg, pages.back()) + 100000);
  ExpectPiecesMatchStraight(longer, "a length past the data");

  // The last page claims far more frames than the data holds.
  std::vector<uint8_t> huge = ogg;
  SetGranule(huge, pages.back(), int64_t(1) << 40);
  ExpectPiecesMatchStraight(huge, "an absurd length");
}

TEST_F(PieceDecodeTest, StreamsThatCannotBeReadWhole) {
  std::vector<uint8_t> ogg = EncodeOgg(1, 22050, Music(1, 22050, 80000, 9));
  Decoded straight = Load(ogg, 1);
  ASSERT_FALSE(straight.null);
  // A stream that cannot tell its size has no end for vorbisfile to seek
  // from: the load refuses it (and returns) with any number of threads.
  for (int32_t threads : {1, 2}) EXPECT_TRUE(Load(StreamOver<TSizelessStream>(ogg), threads).null) << threads;

  // A stream that fails in the middle fails the load the same way however
  // many threads would decode it.
  for (int32_t threads : {1, 2}) {
    Ref<TFailingRamStream> failing = StreamOver<TFailingRamStream>(ogg);
    failing->_limit = int32_t(ogg.size() / 2);
    try {
      Load(failing, threads);
      ADD_FAILURE() << threads << " threads: no throw";
    } catch (const ThrownObject& e) {
      ASSERT_NE(e.As<TRuntimeException>(), nullptr);
      EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "read failed");
    }
  }
}

// A prefetch is taken only by a load of the very same bytes. The loads here
// run with one thread, so a load that reports pieces took them from the
// prefetch.
TEST_F(PieceDecodeTest, PrefetchIsTakenByTheLoadOfTheSameBytes) {
  std::vector<uint8_t> a = EncodeOgg(2, 22050, Music(2, 22050, 120000, 21));
  std::vector<uint8_t> b = EncodeOgg(1, 22050, Music(1, 22050, 90000, 22));
  const Decoded straightA = Load(a, 1), straightB = Load(b, 1);
  auto prefetch = [](std::vector<uint8_t>& bytes) {
    oggloader::SetDecodeThreads(2);
    oggloader::PrefetchAudioSample(StreamOver(bytes));
  };

  prefetch(a);
  Decoded taken = Load(a, 1);
  EXPECT_GE(taken.pieces, 2);
  EXPECT_TRUE(taken == straightA);
  // Taken once: the next load decodes by itself.
  EXPECT_EQ(Load(a, 1).pieces, 0);

  // A load of other bytes discards it.
  prefetch(a);
  Decoded other = Load(b, 1);
  EXPECT_EQ(other.pieces, 0);
  EXPECT_TRUE(other == straightB);
  EXPECT_EQ(Load(a, 1).pieces, 0);

  // One byte changed in an audio page (its checksum then fails): not the
  // same bytes, so the load decodes them itself.
  std::vector<uint8_t> changed = a;
  changed[changed.size() / 2] ^= 1;
  prefetch(a);
  Decoded own = Load(changed, 1);
  EXPECT_EQ(own.pieces, 0);
  EXPECT_TRUE(own == Load(changed, 1));

  // Pieces that disagree (a page whose position lies) are not taken.
  std::vector<uint8_t> lying = a;
  std::vector<std::size_t> pages = Pages(lying);
  SetGranule(lying, pages[pages.size() / 2], Granule(lying, pages[pages.size() / 2]) + 40000);
  const Decoded straightLying = Load(lying, 1);
  prefetch(lying);
  EXPECT_TRUE(Load(lying, 1) == straightLying);

  // A second prefetch replaces the first.
  prefetch(b);
  prefetch(a);
  EXPECT_EQ(Load(b, 1).pieces, 0);
}

TEST_F(PieceDecodeTest, PrefetchOfWhatCannotBeDecodedInPiecesDoesNothing) {
  std::vector<uint8_t> shortOgg = EncodeOgg(1, 8000, Music(1, 8000, 20000, 4));
  std::vector<uint8_t> wav(64, 0);
  oggloader::SetDecodeThreads(2);
  oggloader::PrefetchAudioSample(StreamOver(shortOgg));
  oggloader::PrefetchAudioSample(StreamOver(wav));
  oggloader::PrefetchAudioSample(u"no-such-protocol::x"_vs);
  oggloader::PrefetchAudioSample(nullptr);
  oggloader::SetDecodeThreads(1);
  oggloader::PrefetchAudioSample(StreamOver(shortOgg));  // one thread: nothing to overlap
  Decoded d = Load(shortOgg, 1);
  EXPECT_FALSE(d.null);
  EXPECT_EQ(d.pieces, 0);
}

// The load that meets a failing stream while a prefetch runs joins the
// prefetch's threads and fails as a load without one does.
TEST_F(PieceDecodeTest, PrefetchIsJoinedWhenTheLoadThrows) {
  std::vector<uint8_t> ogg = EncodeOgg(2, 22050, Music(2, 22050, 150000, 31));
  for (int round = 0; round < 3; ++round) {
    oggloader::SetDecodeThreads(2);
    oggloader::PrefetchAudioSample(StreamOver(ogg));
    Ref<TFailingRamStream> failing = StreamOver<TFailingRamStream>(ogg);
    failing->_limit = int32_t(ogg.size() - 100);  // past what vorbisfile's open reads
    try {
      Load(failing, 1);
      ADD_FAILURE() << "no throw";
    } catch (const ThrownObject& e) {
      ASSERT_NE(e.As<TRuntimeException>(), nullptr);
      EXPECT_EQ(e.As<TRuntimeException>()->error->ToNarrow(), "read failed");
    }
  }
  // Nothing is left running: the next prefetch and load work as ever.
  oggloader::SetDecodeThreads(2);
  oggloader::PrefetchAudioSample(StreamOver(ogg));
  EXPECT_GE(Load(ogg, 1).pieces, 2);
}

TEST_F(PieceDecodeTest, ThreadCount) {
  oggloader::SetDecodeThreads(0);
  EXPECT_GE(oggloader::DecodeThreads(), 1);
  EXPECT_LE(oggloader::DecodeThreads(), 4);
  oggloader::SetDecodeThreads(3);
  EXPECT_EQ(oggloader::DecodeThreads(), 3);
  oggloader::SetDecodeThreads(-2);
  EXPECT_GE(oggloader::DecodeThreads(), 1);
}

}  // namespace

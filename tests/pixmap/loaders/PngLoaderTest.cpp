#include "pixmap/loaders/PixmapLoaderPNG.h"

#include <png.h>
#include <zlib.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "runtime/Exceptions.h"
#include "stream/BankStream.h"
#include "stream/Stream.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;
using namespace vrl::test;

namespace {

class PngLoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    InitLoaders();
    bankstream::Init();
  }
  Ref<TPixmap> Load(std::vector<uint8_t>& file) { return LoadPixmapPNG(Over(file)); }
};

PngPicture Picture(int width, int height, int bitDepth, int colourType, std::vector<uint8_t> rows) {
  PngPicture picture;
  picture.width = width;
  picture.height = height;
  picture.bitDepth = bitDepth;
  picture.colourType = colourType;
  picture.rows = std::move(rows);
  return picture;
}

// A chunk with its CRC, for headers libpng's writer would not produce.
void Chunk(Bytes& b, const char* type, const std::vector<uint8_t>& data) {
  Bytes body;
  for (int i = 0; i < 4; ++i) body.U8(type[i]);
  body.Raw(data);
  b.U8(int(data.size() >> 24)).U8(int(data.size() >> 16)).U8(int(data.size() >> 8)).U8(int(data.size()));
  b.Raw(body.v);
  uint32_t crc = uint32_t(crc32(0, body.v.data(), uInt(body.v.size())));
  b.U8(int(crc >> 24)).U8(int(crc >> 16)).U8(int(crc >> 8)).U8(int(crc));
}

std::vector<uint8_t> HeaderOnly(uint32_t width, uint32_t height, int colourType = 0) {
  Bytes b;
  for (int c : {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}) b.U8(c);
  Bytes ihdr;
  for (uint32_t v : {width, height}) ihdr.U8(int(v >> 24)).U8(int(v >> 16)).U8(int(v >> 8)).U8(int(v));
  ihdr.U8(8).U8(colourType).U8(0).U8(0).U8(0);
  Chunk(b, "IHDR", ihdr.v);
  Chunk(b, "IDAT", {0x78, 0x9C, 0x03, 0x00});
  return b.v;
}

TEST_F(PngLoaderTest, EightBitColourTypesGiveTheirFormats) {
  auto grey = EncodePng(Picture(3, 2, 8, PNG_COLOR_TYPE_GRAY, {0, 100, 255, 1, 2, 3}));
  Ref<TPixmap> p = Load(grey);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_GREY8);
  EXPECT_EQ(PackedPixels(p), (std::vector<uint8_t>{0, 100, 255, 1, 2, 3}));

  auto rgbRows = Gradient(5, 3, 3);
  auto rgb = EncodePng(Picture(5, 3, 8, PNG_COLOR_TYPE_RGB, rgbRows));
  p = Load(rgb);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(PackedPixels(p), rgbRows) << "rows copied exactly despite the padded pitch";

  auto rgbaRows = Gradient(3, 4, 4);
  auto rgba = EncodePng(Picture(3, 4, 8, PNG_COLOR_TYPE_RGBA, rgbaRows));
  p = Load(rgba);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(PackedPixels(p), rgbaRows);
}

TEST_F(PngLoaderTest, GreyWithAlphaBecomesRgba) {
  auto file = EncodePng(Picture(3, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {200, 50, 0, 255, 7, 0}));
  Ref<TPixmap> p = Load(file);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(PackedPixels(p), (std::vector<uint8_t>{200, 200, 200, 50, 0, 0, 0, 255, 7, 7, 7, 0}));
}

TEST_F(PngLoaderTest, PalettesLowDepthsAndSixteenBitsAreExpanded) {
  PngPicture palette = Picture(4, 1, 2, PNG_COLOR_TYPE_PALETTE, {0x1B});  // 0, 1, 2, 3
  palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7};
  auto file = EncodePng(palette);
  Ref<TPixmap> p = Load(file);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(PackedPixels(p), (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 8, 7}));

  palette.trns = {128, 0};
  file = EncodePng(palette);
  p = Load(file);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGBA32) << "a transparency chunk adds alpha";
  EXPECT_EQ(Pixel(p, 0, 0), 0x80FF0000u);
  EXPECT_EQ(Pixel(p, 1, 0), 0x0000FF00u);
  EXPECT_EQ(Pixel(p, 3, 0), 0xFF090807u) << "entries past the chunk are opaque";

  auto oneBit = EncodePng(Picture(10, 1, 1, PNG_COLOR_TYPE_GRAY, {0xA0, 0x40}));
  p = Load(oneBit);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_GREY8);
  EXPECT_EQ(PackedPixels(p), (std::vector<uint8_t>{255, 0, 255, 0, 0, 0, 0, 0, 0, 255}));

  // 16-bit RGB: each channel keeps its high byte.
  auto deep = EncodePng(Picture(2, 1, 16, PNG_COLOR_TYPE_RGB,
                                {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF, 0x00, 0x01, 0x80, 0x00}));
  p = Load(deep);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(PackedPixels(p), (std::vector<uint8_t>{0x12, 0x56, 0x9A, 0xFF, 0x00, 0x80}));

  auto deepGreyAlpha = EncodePng(Picture(1, 1, 16, PNG_COLOR_TYPE_GRAY_ALPHA, {0xC8, 0x00, 0x32, 0xFF}));
  p = Load(deepGreyAlpha);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 0, 0), 0x32C8C8C8u);
}

TEST_F(PngLoaderTest, InterlacedPicturesMatchLibpng) {
  PngPicture picture = Picture(13, 11, 8, PNG_COLOR_TYPE_RGBA, Gradient(13, 11, 4));
  picture.interlaced = true;
  auto file = EncodePng(picture);
  Ref<TPixmap> p = Load(file);
  ASSERT_FALSE(p.IsNull());
  int w = 0, h = 0;
  EXPECT_EQ(PackedPixels(p), DecodePngRgba(file, &w, &h));
  EXPECT_EQ(PackedPixels(p), picture.rows);
}

TEST_F(PngLoaderTest, TruncatedDataRaisesTheStreamException) {
  auto file = EncodePng(Picture(64, 64, 8, PNG_COLOR_TYPE_RGB, Gradient(64, 64, 3)));
  file.resize(file.size() / 2);
  Ref<TProbeStream> stream = TProbeStream::Over(file);
  try {
    LoadPixmapPNG(stream);
    ADD_FAILURE() << "expected TStreamReadException";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamReadException>(), nullptr);
  }
  EXPECT_EQ(stream->closes, 0) << "the reader closes only its wrapper";
  EXPECT_EQ(stream->Seek(0), 0);
  EXPECT_TRUE(LoadPixmap(stream).IsNull()) << "JPEG and BMP refuse it as well";

  std::vector<uint8_t> signatureOnly(file.begin(), file.begin() + 5);
  EXPECT_TRUE(Load(signatureOnly).IsNull());
}

TEST_F(PngLoaderTest, OtherExceptionsFromTheStreamPassThrough) {
  auto file = EncodePng(Picture(32, 32, 8, PNG_COLOR_TYPE_RGB, Gradient(32, 32, 3)));
  Ref<TProbeStream> stream = TProbeStream::Over(file, int32_t(file.size() / 2));
  try {
    LoadPixmapPNG(stream);
    ADD_FAILURE() << "expected the stream's runtime error";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TRuntimeException>(), nullptr);
  }
  // The chain lets it through too: only stream exceptions are refusals.
  stream->Seek(0);
  EXPECT_THROW(LoadPixmap(stream), ThrownObject);
}

TEST_F(PngLoaderTest, CorruptDataIsRefusedWithoutAThrow) {
  auto file = EncodePng(Picture(8, 8, 8, PNG_COLOR_TYPE_GRAY, Gradient(8, 8, 1)));
  file[30] ^= 0x55;  // inside IHDR: its CRC no longer matches
  EXPECT_TRUE(Load(file).IsNull());
  std::vector<uint8_t> notPng = {'N', 'O', 'T', ' ', 'A', ' ', 'P', 'N', 'G', '!'};
  EXPECT_TRUE(Load(notPng).IsNull());
}

TEST_F(PngLoaderTest, OversizedHeadersAreRefusedBeforeAllocation) {
  auto wide = HeaderOnly(16385, 1);
  EXPECT_TRUE(Load(wide).IsNull());
  auto many = HeaderOnly(10000, 10000);
  EXPECT_TRUE(Load(many).IsNull()) << "10^8 pixels";
  auto atLimit = HeaderOnly(16384, 1);
  // Within the limits: decoding starts and runs out of data.
  EXPECT_THROW(Load(atLimit), ThrownObject);
}

// A chunk is not given the memory its length claims before it is read: a
// text chunk claiming 1.5 GiB in a file of a few dozen bytes (what the PNG
// fuzzer found) costs nothing, and the picture with its ordinary text loads.
TEST_F(PngLoaderTest, AChunkIsNotAllocatedForTheLengthItClaims) {
  Bytes claim;
  for (int c : {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}) claim.U8(c);
  Bytes ihdr;
  for (uint32_t v : {2u, 2u}) ihdr.U8(int(v >> 24)).U8(int(v >> 16)).U8(int(v >> 8)).U8(int(v));
  ihdr.U8(8).U8(0).U8(0).U8(0).U8(0);
  Chunk(claim, "IHDR", ihdr.v);
  claim.U8(0x60).U8(0).U8(0).U8(0x0C);
  for (char c : std::string("tEXtComment")) claim.U8(c);
  claim.U8(0);
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    try {
      Load(claim.v);
    } catch (...) {
      // Refused or run out of data: either way, without the memory.
    }
    getrusage(RUSAGE_SELF, &after);
    _exit(after.ru_maxrss - before.ru_maxrss < 64 * 1024 ? 0 : 1);  // KiB
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the claimed chunk was allocated";

  Bytes texts;
  for (int c : {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}) texts.U8(c);
  Chunk(texts, "IHDR", ihdr.v);
  std::vector<uint8_t> text(1000, 'x');
  std::memcpy(text.data(), "Comment", 8);
  Chunk(texts, "tEXt", text);
  std::vector<uint8_t> rows = {0, 10, 20, 0, 30, 40};
  std::vector<uint8_t> packed(64);
  uLongf length = packed.size();
  ASSERT_EQ(compress(packed.data(), &length, rows.data(), uLong(rows.size())), Z_OK);
  packed.resize(length);
  Chunk(texts, "IDAT", packed);
  Chunk(texts, "IEND", {});
  Ref<TPixmap> p = Load(texts.v);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 1, 1), 0xFF282828u);
}

// A header of a few dozen bytes must not cost the memory of the picture it
// claims: deflate expands by at most about 1032 to 1.
TEST_F(PngLoaderTest, DecompressionBombsAreRefused) {
  auto bomb = HeaderOnly(8192, 8192, PNG_COLOR_TYPE_RGBA);  // 256 MB of pixels
  EXPECT_TRUE(Load(bomb).IsNull()) << "header-only-bomb.png";
  // 4096 x 256 1-bit grey: 128 KB of rows as stored, which need more than
  // the 57 bytes of the file even at deflate's best.
  Bytes low;
  low.Raw(HeaderOnly(4096, 256));
  low.v[24] = 1;  // bit depth
  uint32_t crc = uint32_t(crc32(0, low.v.data() + 12, 17));
  for (int i = 0; i < 4; ++i) low.v[29 + std::size_t(i)] = uint8_t(crc >> (24 - 8 * i));
  EXPECT_TRUE(Load(low.v).IsNull()) << "one-bit-bomb.png";
  // A stream that cannot say its length keeps only the absolute limits:
  // decoding starts and runs out of data.
  EXPECT_THROW(LoadPixmapPNG(TProbeStream::Unsized(low.v)), ThrownObject);

  // The most compressible picture there is still loads.
  auto zeros =
      EncodePng(Picture(4096, 2048, 8, PNG_COLOR_TYPE_GRAY, std::vector<uint8_t>(std::size_t(4096) * 2048)));
  Ref<TPixmap> p = Load(zeros);
  ASSERT_FALSE(p.IsNull()) << zeros.size() << " bytes";
  EXPECT_EQ(Pixel(p, 4095, 2047), 0xFF000000u);
}

TEST_F(PngLoaderTest, WriterRoundTripsEveryFormat) {
  Ref<TPixmap> source = TPixmap::Create(5, 3, PIXFMT_RGBA32, 4);
  auto rows = Gradient(5, 3, 4);
  for (int y = 0; y < 3; ++y) std::memcpy(source->PixelPtr(0, y), &rows[std::size_t(y) * 20], 20);

  struct Case {
    int32_t format, readFormat;
  };
  for (Case c : {Case{PIXFMT_GREY8, PIXFMT_GREY8}, Case{PIXFMT_BGR24, PIXFMT_RGB24},
                 Case{PIXFMT_RGB24, PIXFMT_RGB24}, Case{PIXFMT_BGRA32, PIXFMT_RGBA32},
                 Case{PIXFMT_RGBA32, PIXFMT_RGBA32}, Case{PIXFMT_A8, PIXFMT_RGBA32}}) {
    Ref<TPixmap> pixmap = source->Convert(c.format);
    Ref<TBank> bank = CreateBank(0);
    ASSERT_EQ(SavePixmapPNG(pixmap, bank, 6), 1) << c.format;
    Ref<TPixmap> back = LoadPixmapPNG(bank);
    ASSERT_FALSE(back.IsNull()) << c.format;
    EXPECT_EQ(back->format, c.readFormat);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(Pixel(back, x, y), Pixel(pixmap, x, y)) << c.format << " at " << x << "," << y;
      }
    }
  }
}

TEST_F(PngLoaderTest, WriterHonoursThePitchAndClampsTheLevel) {
  Ref<TPixmap> big = TPixmap::Create(6, 6, PIXFMT_RGB24, 4);
  auto rows = Gradient(6, 6, 3);
  for (int y = 0; y < 6; ++y) std::memcpy(big->PixelPtr(0, y), &rows[std::size_t(y) * 18], 18);
  Ref<TPixmap> window = big->Window(1, 2, 3, 3);
  for (int32_t level : {-5, 0, 42}) {
    Ref<TBank> bank = CreateBank(0);
    ASSERT_EQ(SavePixmapPNG(window, bank, level), 1) << level;
    Ref<TPixmap> back = LoadPixmapPNG(bank);
    ASSERT_FALSE(back.IsNull());
    EXPECT_EQ(PackedPixels(back), PackedPixels(window)) << level;
  }
}

TEST_F(PngLoaderTest, WriterFailures) {
  Ref<TPixmap> pixmap = TPixmap::Create(16, 16, PIXFMT_RGB24, 4);
  pixmap->ClearPixels(0x123456);
  EXPECT_EQ(SavePixmapPNG(pixmap, String::FromNarrow("/nonexistent-dir/x.png"), 6), 0);
  EXPECT_THROW(SavePixmapPNG(nullptr, String::FromNarrow("/tmp/never-written.png"), 6), ThrownObject);
  Ref<TBank> bank = CreateBank(0);
  EXPECT_EQ(SavePixmapPNG(TPixmap::Create(0, 4, PIXFMT_RGB24, 4), bank, 6), 0)
      << "libpng refuses an empty picture";

  // A stream too small for the data: the short write raises.
  std::vector<uint8_t> tiny(20);
  Ref<TRamStream> full = TRamStream::Create(tiny.data(), 20, 0, 1);
  try {
    SavePixmapPNG(pixmap, full, 6);
    ADD_FAILURE() << "expected TStreamWriteException";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamWriteException>(), nullptr);
  }
}

}  // namespace

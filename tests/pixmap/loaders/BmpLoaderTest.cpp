#include "pixmap/loaders/PixmapLoaderBMP.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "stream/Stream.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;
using namespace vrl::test;

namespace {

class BmpLoaderTest : public testing::Test {
 protected:
  void SetUp() override { InitLoaders(); }

  static Bytes Header(int64_t width, int64_t height, int bits, int64_t coloursUsed = 0) {
    Bytes b;
    b.U8('B').U8('M').U32(0).U32(0).U32(54).U32(40);
    b.U32(width).U32(height).U16(1).U16(bits);
    b.U32(0).U32(0).U32(2835).U32(2835).U32(coloursUsed).U32(0);
    return b;
  }

  Ref<TPixmap> Load(Bytes& b) { return RegisteredLoader<TPixmapLoaderBMP>()->LoadPixmap(Over(b.v)); }
  Ref<TPixmap> Load(std::vector<uint8_t> file) {
    return RegisteredLoader<TPixmapLoaderBMP>()->LoadPixmap(Over(file));
  }
};

// A BMP as a writer lays it out: the file header, an info header of
// `infoSize` bytes (the 40-byte fields, then `extension` padded with zeros),
// masks and palette, `gap` bytes, then the rows, which the pixel data offset
// points at.
struct BmpFile {
  int64_t width = 1, height = 1;
  int bits = 24;
  int64_t compression = 0;
  int64_t infoSize = 40;
  int64_t coloursUsed = 0;
  std::vector<uint8_t> extension;
  std::vector<uint8_t> masksAndPalette;
  std::vector<uint8_t> gap;
  std::vector<uint8_t> pixels;

  std::vector<uint8_t> Build() const {
    const int64_t offset = 14 + infoSize + int64_t(masksAndPalette.size() + gap.size());
    Bytes b;
    b.U8('B').U8('M').U32(offset + int64_t(pixels.size())).U32(0).U32(offset).U32(infoSize);
    b.U32(width).U32(height).U16(1).U16(bits);
    b.U32(compression).U32(int64_t(pixels.size())).U32(2835).U32(2835).U32(coloursUsed).U32(0);
    std::vector<uint8_t> ext = extension;
    ext.resize(std::size_t(infoSize > 40 ? infoSize - 40 : 0));
    b.Raw(ext).Raw(masksAndPalette).Raw(gap).Raw(pixels);
    return b.v;
  }
};

// Palette entries B, G, R, 0 for each colour given as 0xRRGGBB.
std::vector<uint8_t> Palette(std::initializer_list<uint32_t> colours) {
  Bytes b;
  for (uint32_t c : colours) b.U32(c & 0xFFFFFF);
  return b.v;
}

std::vector<uint8_t> Masks(std::initializer_list<uint32_t> masks) {
  Bytes b;
  for (uint32_t m : masks) b.U32(m);
  return b.v;
}

TEST_F(BmpLoaderTest, TwentyFourBitRowsArePaddedToFourBytes) {
  Bytes b = Header(3, 2, 24);
  // Bottom row first: 9 pixel bytes and 3 padding bytes per row.
  b.U8(0).U8(0).U8(255).U8(0).U8(255).U8(0).U8(255).U8(0).U8(0).Fill(0xAA, 3);
  b.U8(1).U8(2).U8(3).U8(4).U8(5).U8(6).U8(7).U8(8).U8(9).Fill(0xAA, 3);
  Ref<TPixmap> p = Load(b);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_BGR24);
  EXPECT_EQ(Pixel(p, 0, 1), 0xFFFF0000u);
  EXPECT_EQ(Pixel(p, 1, 1), 0xFF00FF00u);
  EXPECT_EQ(Pixel(p, 2, 1), 0xFF0000FFu);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF030201u);
  EXPECT_EQ(Pixel(p, 2, 0), 0xFF090807u) << "the padding of the row below is not read as pixels";
}

TEST_F(BmpLoaderTest, ThirtyTwoBitKeepsTheFourthByteAsAlpha) {
  Bytes b = Header(1, 1, 32);
  b.U8(0x10).U8(0x20).U8(0x30).U8(0x7F);
  Ref<TPixmap> p = Load(b);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_BGRA32);
  EXPECT_EQ(Pixel(p, 0, 0), 0x7F302010u);
}

TEST_F(BmpLoaderTest, OneBitUsesTwoEntriesMostSignificantBitFirst) {
  // Colours used says 5; a 1-bit file has exactly two entries regardless.
  Bytes b = Header(9, 1, 1, 5);
  b.U32(0x00112233).U32(0x00AABBCC);
  b.U8(0xA0).U8(0x80).Fill(0, 2);  // 1010 0000 1...
  Ref<TPixmap> p = Load(b);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_BGR24);
  const uint32_t first = 0xFF112233u, second = 0xFFAABBCCu;
  std::vector<uint32_t> expected = {second, first, second, first, first, first, first, first, second};
  for (int x = 0; x < 9; ++x) EXPECT_EQ(Pixel(p, x, 0), expected[std::size_t(x)]) << x;
}

TEST_F(BmpLoaderTest, FourAndEightBitPalettes) {
  Bytes four = Header(3, 1, 4, 3);
  four.U32(0x00000001).U32(0x00000002).U32(0x00000003);
  four.U8(0x21).U8(0x00).Fill(0, 2);  // high nibble first: 2, 1, 0
  Ref<TPixmap> p = Load(four);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF000003u);
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF000002u);
  EXPECT_EQ(Pixel(p, 2, 0), 0xFF000001u);

  // Two entries; an index past them reads an unused (black) entry, never
  // memory beyond the table.
  Bytes eight = Header(3, 1, 8, 2);
  eight.U32(0x00FF0000).U32(0x000000FF);
  eight.U8(1).U8(0).U8(200).U8(0);
  p = Load(eight);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(p, 1, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(p, 2, 0), 0xFF000000u);

  // Colours used 0 means the full 256-entry palette.
  Bytes full = Header(1, 1, 8);
  for (int i = 0; i < 256; ++i) full.U32(i);
  full.U8(77).Fill(0, 3);
  p = Load(full);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF00004Du);
}

TEST_F(BmpLoaderTest, RefusedHeaders) {
  Bytes sixteen = Header(1, 1, 16);
  sixteen.Fill(0, 4);
  EXPECT_TRUE(Load(sixteen).IsNull()) << "16-bit";
  Bytes topDown = Header(1, -1, 24);
  topDown.Fill(0, 4);
  topDown.v[30] = 1;  // RLE8 with a 24-bit count
  EXPECT_TRUE(Load(topDown).IsNull()) << "run-length data with a 24-bit count";
  Bytes zeroWide = Header(0, 1, 24);
  EXPECT_TRUE(Load(zeroWide).IsNull());
  Bytes longFour = Header(1, 1, 4, 17);
  longFour.Fill(0, 17 * 4 + 4);
  EXPECT_TRUE(Load(longFour).IsNull()) << "palette longer than 16 entries";
  Bytes longEight = Header(1, 1, 8, 257);
  longEight.Fill(0, 257 * 4 + 4);
  EXPECT_TRUE(Load(longEight).IsNull()) << "palette longer than 256 entries";
  Bytes negativeColours = Header(1, 1, 8, -4);
  EXPECT_TRUE(Load(negativeColours).IsNull());
  Bytes huge = Header(16385, 1, 24);
  EXPECT_TRUE(Load(huge).IsNull()) << "refused before allocating";
  Bytes manyPixels = Header(16384, 8192, 8);
  EXPECT_TRUE(Load(manyPixels).IsNull()) << "2^27 pixels";
  Bytes notBmp;
  notBmp.U8('B').U8('A').Fill(0, 60);
  EXPECT_TRUE(Load(notBmp).IsNull());
  Bytes oneByte;
  oneByte.U8('B');
  EXPECT_TRUE(Load(oneByte).IsNull());
}

TEST_F(BmpLoaderTest, TruncatedData) {
  Bytes header = Header(4, 4, 24);
  header.v.resize(30);
  EXPECT_THROW(Load(header), ThrownObject) << "header cut short";
  // A stream that knows its length refuses rows it cannot hold before
  // reading them; one that does not runs out of data and raises.
  Bytes rows = Header(4, 4, 24);
  rows.Fill(0x33, 12 * 3 + 5);
  EXPECT_TRUE(Load(rows).IsNull());
  try {
    RegisteredLoader<TPixmapLoaderBMP>()->LoadPixmap(TProbeStream::Unsized(rows.v));
    ADD_FAILURE() << "rows shorter than the header says must raise";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamReadException>(), nullptr);
  }
  Bytes palette = Header(2, 2, 8, 100);
  palette.Fill(0, 40);
  EXPECT_TRUE(Load(palette).IsNull());
  EXPECT_THROW(RegisteredLoader<TPixmapLoaderBMP>()->LoadPixmap(TProbeStream::Unsized(palette.v)),
               ThrownObject);
  EXPECT_TRUE(LoadPixmap(Over(rows.v)).IsNull());
}

// Headers larger than 40 bytes (OS/2 2.x, V4, V5): the palette follows the
// header, wherever its size puts it.
TEST_F(BmpLoaderTest, PaletteFollowsAnInfoHeaderOfAnySize) {
  for (int64_t infoSize : {40, 64, 108, 124}) {
    BmpFile f;
    f.width = 2;
    f.bits = 8;
    f.infoSize = infoSize;
    f.coloursUsed = 2;
    f.extension.assign(std::size_t(infoSize - 40), 0x99);
    f.masksAndPalette = Palette({0x102030, 0xA0B0C0});
    f.pixels = {1, 0, 0, 0};
    SCOPED_TRACE(infoSize == 64    ? "os2-v2-header.bmp"
                 : infoSize == 108 ? "v4-header.bmp"
                 : infoSize == 124 ? "v5-header.bmp"
                                   : "v3-header.bmp");
    Ref<TPixmap> p = Load(f.Build());
    ASSERT_FALSE(p.IsNull());
    EXPECT_EQ(Pixel(p, 0, 0), 0xFFA0B0C0u);
    EXPECT_EQ(Pixel(p, 1, 0), 0xFF102030u);
  }
  BmpFile core;  // the OS/2 1.x header lays its fields out otherwise
  core.infoSize = 12;
  core.pixels = {1, 2, 3, 0};
  EXPECT_TRUE(Load(core.Build()).IsNull()) << "os2-v1-header.bmp";
}

TEST_F(BmpLoaderTest, InfoHeadersAboveTheLimitAreRefused) {
  // The loader skips what it does not read of an info header, up to the
  // limit; a byte more is refused.
  for (int64_t infoSize : {int64_t(limits::kBmpInfoHeaderBytes), int64_t(limits::kBmpInfoHeaderBytes) + 1}) {
    BmpFile f;
    f.width = 2;
    f.infoSize = infoSize;
    f.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    Ref<TPixmap> p = Load(f.Build());
    EXPECT_EQ(p.IsNull(), infoSize > limits::kBmpInfoHeaderBytes) << infoSize;
  }
}

TEST_F(BmpLoaderTest, RowsStartAtThePixelDataOffset) {
  BmpFile gap;
  gap.gap.assign(10, 0xEE);
  gap.pixels = {0x01, 0x02, 0x03, 0};
  Ref<TPixmap> p = Load(gap.Build());
  ASSERT_FALSE(p.IsNull()) << "gap-before-pixels.bmp";
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF030201u);

  // Colours used says 16, the offset leaves room for 2: the rows are where
  // the offset says, the missing entries black.
  BmpFile cut;
  cut.width = 3;
  cut.bits = 8;
  cut.coloursUsed = 16;
  cut.masksAndPalette = Palette({0x112233, 0x445566});
  cut.pixels = {1, 0, 7, 0};
  p = Load(cut.Build());
  ASSERT_FALSE(p.IsNull()) << "palette-past-offset.bmp";
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF445566u);
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF112233u);
  EXPECT_EQ(Pixel(p, 2, 0), 0xFF000000u);

  BmpFile beyond;
  beyond.gap.assign(4, 0);
  std::vector<uint8_t> file = beyond.Build();
  file[10] = 0xF0;  // the offset points past the end of the file
  EXPECT_TRUE(Load(file).IsNull()) << "offset-past-end.bmp";
}

TEST_F(BmpLoaderTest, NegativeHeightStoresRowsTopFirst) {
  BmpFile f;
  f.height = -2;
  f.pixels = {0, 0, 255, 0, 255, 0, 0, 0};  // red, then blue
  Ref<TPixmap> p = Load(f.Build());
  ASSERT_FALSE(p.IsNull()) << "top-down.bmp";
  EXPECT_EQ(p->height, 2);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel(p, 0, 1), 0xFF0000FFu);

  BmpFile most;
  most.height = int32_t(0x80000000);
  EXPECT_TRUE(Load(most.Build()).IsNull()) << "top-down-min-height.bmp";
}

TEST_F(BmpLoaderTest, BitFieldsOfWholeBytes) {
  // Red in the first byte, then green, then blue: a pixel 10 20 30 xx.
  BmpFile rgbx;
  rgbx.bits = 32;
  rgbx.compression = 3;
  rgbx.masksAndPalette = Masks({0x000000FF, 0x0000FF00, 0x00FF0000});
  rgbx.pixels = {0x10, 0x20, 0x30, 0x00};
  Ref<TPixmap> p = Load(rgbx.Build());
  ASSERT_FALSE(p.IsNull()) << "bitfields-rgbx.bmp";
  EXPECT_EQ(p->format, PIXFMT_BGRA32);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF102030u) << "no alpha mask: opaque";

  // V5 keeps its masks in the header, alpha among them.
  BmpFile v5;
  v5.bits = 32;
  v5.compression = 3;
  v5.infoSize = 124;
  v5.extension = Masks({0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF});
  v5.pixels = {0x40, 0x10, 0x20, 0x30};
  p = Load(v5.Build());
  ASSERT_FALSE(p.IsNull()) << "v5-bitfields-alpha.bmp";
  EXPECT_EQ(Pixel(p, 0, 0), 0x40102030u);

  BmpFile rgb565;
  rgb565.bits = 32;
  rgb565.compression = 3;
  rgb565.masksAndPalette = Masks({0xF800, 0x07E0, 0x001F});
  rgb565.pixels = {0, 0, 0, 0};
  EXPECT_TRUE(Load(rgb565.Build()).IsNull()) << "bitfields-565-masks.bmp";
  BmpFile twice = rgbx;
  twice.masksAndPalette = Masks({0x000000FF, 0x000000FF, 0x00FF0000});
  EXPECT_TRUE(Load(twice.Build()).IsNull()) << "bitfields-same-mask-twice.bmp";
  BmpFile sixteen = rgb565;
  sixteen.bits = 16;
  EXPECT_TRUE(Load(sixteen.Build()).IsNull()) << "bitfields-16-bit.bmp";
}

TEST_F(BmpLoaderTest, ThirtyTwoBitWithoutAlphaIsOpaque) {
  BmpFile zero;
  zero.width = 2;
  zero.bits = 32;
  zero.pixels = {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};
  Ref<TPixmap> p = Load(zero.Build());
  ASSERT_FALSE(p.IsNull()) << "alpha-all-zero.bmp";
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF302010u);
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF605040u);

  BmpFile some = zero;
  some.pixels[7] = 0x80;
  p = Load(some.Build());
  ASSERT_FALSE(p.IsNull()) << "alpha-partly-zero.bmp";
  EXPECT_EQ(Pixel(p, 0, 0), 0x00302010u) << "stored alpha is kept once any is set";
  EXPECT_EQ(Pixel(p, 1, 0), 0x80605040u);
}

TEST_F(BmpLoaderTest, OtherCompressionsAreRefused) {
  struct Case {
    const char* name;
    int bits;
    int64_t compression;
    int64_t infoSize;
  };
  for (Case c : {Case{"jpeg-compression.bmp", 24, 4, 40}, Case{"png-compression.bmp", 24, 5, 40},
                 Case{"os2-huffman.bmp", 1, 3, 64}, Case{"os2-rle24.bmp", 24, 4, 64},
                 Case{"rle8-with-24-bits.bmp", 24, 1, 40}, Case{"rle4-with-8-bits.bmp", 8, 2, 40},
                 Case{"compression-99.bmp", 24, 99, 40}}) {
    BmpFile f;
    f.bits = c.bits;
    f.compression = c.compression;
    f.infoSize = c.infoSize;
    f.masksAndPalette.assign(c.bits <= 8 ? std::size_t(4) << c.bits : 0, 0);
    f.pixels.assign(64, 0x5A);
    EXPECT_TRUE(Load(f.Build()).IsNull()) << c.name;
  }
}

// A 4 x 3 RLE8 picture: a run and a literal of odd length (padded), an end
// of line, a delta over the pixels left at entry 0, and the end of the
// bitmap before the top row, which stays entry 0 too.
TEST_F(BmpLoaderTest, RunLengthEightAndFour) {
  BmpFile rle8;
  rle8.width = 4;
  rle8.height = 3;
  rle8.bits = 8;
  rle8.compression = 1;
  rle8.coloursUsed = 4;
  rle8.masksAndPalette = Palette({0x000000, 0x0000FF, 0x00FF00, 0xFF0000});
  rle8.pixels = {1, 3, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 0, 2, 2, 0, 1};
  Ref<TPixmap> p = Load(rle8.Build());
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_BGR24);
  const uint32_t k = 0xFF000000u, b = 0xFF0000FFu, g = 0xFF00FF00u, r = 0xFFFF0000u;
  std::vector<uint32_t> expected = {k, k, k, k,   // top row: after the end of the bitmap
                                    k, k, g, g,   // the middle row: delta by 2, run of 2
                                    r, b, g, r};  // bottom row: run, literal 1 2 3
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(p, x, y), expected[std::size_t(y * 4 + x)]) << x << "," << y;
  }

  // RLE4: a run alternates its two nibbles, high first; a literal of 3
  // takes two bytes.
  BmpFile rle4 = rle8;
  rle4.bits = 4;
  rle4.compression = 2;
  rle4.height = 1;
  rle4.width = 7;
  rle4.pixels = {4, 0x12, 0, 3, 0x31, 0x20, 0, 1};
  p = Load(rle4.Build());
  ASSERT_FALSE(p.IsNull());
  expected = {b, g, b, g, r, b, g};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(Pixel(p, x, 0), expected[std::size_t(x)]) << x;
}

TEST_F(BmpLoaderTest, RunLengthDataThatLeavesThePictureIsRefused) {
  struct Case {
    const char* name;
    int bits;
    std::vector<uint8_t> data;
  };
  // A 4 x 2 picture each time.
  for (const Case& c : {Case{"rle8-run-past-row-end.bmp", 8, {5, 1, 0, 1}},
                        Case{"rle8-literal-past-row-end.bmp", 8, {2, 1, 0, 3, 1, 1, 1, 0}},
                        Case{"rle8-delta-past-edge.bmp", 8, {0, 2, 5, 0, 0, 1}},
                        Case{"rle8-delta-past-top.bmp", 8, {0, 2, 0, 2, 0, 1}},
                        Case{"rle8-run-after-delta-to-edge.bmp", 8, {0, 2, 4, 0, 1, 1, 0, 1}},
                        Case{"rle4-run-past-row-end.bmp", 4, {5, 0x11, 0, 1}},
                        Case{"rle4-literal-past-row-end.bmp", 4, {0, 5, 0x11, 0x11, 0x10, 0, 0, 1}}}) {
    BmpFile f;
    f.width = 4;
    f.height = 2;
    f.bits = c.bits;
    f.compression = c.bits == 8 ? 1 : 2;
    f.coloursUsed = 2;
    f.masksAndPalette = Palette({0, 0xFFFFFF});
    f.pixels = c.data;
    EXPECT_TRUE(Load(f.Build()).IsNull()) << c.name;
  }
  BmpFile ends;  // the data stops before the picture is done
  ends.width = 4;
  ends.height = 2;
  ends.bits = 8;
  ends.compression = 1;
  ends.coloursUsed = 2;
  ends.masksAndPalette = Palette({0, 0xFFFFFF});
  ends.pixels = {4, 1, 0, 0};
  std::vector<uint8_t> file = ends.Build();
  EXPECT_THROW(Load(file), ThrownObject) << "rle8-no-end.bmp";
  BmpFile topDown = ends;
  topDown.height = -2;
  EXPECT_TRUE(Load(topDown.Build()).IsNull()) << "rle8-top-down.bmp";
}

// A header of a few dozen bytes must not cost the memory of the picture it
// claims: what the stream cannot hold is refused before allocating.
TEST_F(BmpLoaderTest, DecompressionBombsAreRefused) {
  BmpFile stored;  // 8192 x 8192 x 4 bytes = 256 MB
  stored.width = 8192;
  stored.height = 8192;
  stored.bits = 32;
  EXPECT_TRUE(Load(stored.Build()).IsNull()) << "stored-rows-bomb.bmp";

  BmpFile runs;  // 2^26 pixels from a few bytes of run-length data
  runs.width = 8192;
  runs.height = 8192;
  runs.bits = 8;
  runs.compression = 1;
  runs.coloursUsed = 1;
  runs.masksAndPalette = Palette({0});
  runs.pixels = {0, 1};
  EXPECT_TRUE(Load(runs.Build()).IsNull()) << "rle8-bomb.bmp";

  // At the limit the picture loads: 2 bytes for each 255-pixel run are in
  // the stream.
  BmpFile fits;
  fits.width = 255;
  fits.height = 64;
  fits.bits = 8;
  fits.compression = 1;
  fits.coloursUsed = 2;
  fits.masksAndPalette = Palette({0, 0xFFFFFF});
  for (int y = 0; y < 64; ++y) fits.pixels.insert(fits.pixels.end(), {255, 1, 0, 0});
  Ref<TPixmap> p = Load(fits.Build());
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 254, 0), 0xFFFFFFFFu);
}

}  // namespace

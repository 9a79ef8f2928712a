#include "pixmap/loaders/PixmapLoaderTGA.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"
#include "stream/Stream.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;
using namespace vrl::test;

namespace {

class TgaLoaderTest : public testing::Test {
 protected:
  void SetUp() override { InitLoaders(); }

  static Bytes Header(int type, int width, int height, int psize, int idlen = 0, int mapType = 0,
                      int attbits = 0) {
    Bytes b;
    b.U8(idlen).U8(mapType).U8(type).Fill(0, 5).U16(0).U16(0).U16(width).U16(height).U8(psize);
    b.U8(attbits);
    return b;
  }

  Ref<TPixmap> Load(Bytes& b) { return RegisteredLoader<TPixmapLoaderTGA>()->LoadPixmap(Over(b.v)); }
};

TEST_F(TgaLoaderTest, FirstFileRowIsTheBottomRow) {
  Bytes b = Header(2, 2, 2, 24);
  b.U8(0).U8(0).U8(255).U8(0).U8(0).U8(255);  // red, red (B, G, R)
  b.U8(255).U8(0).U8(0).U8(255).U8(0).U8(0);  // blue, blue
  Ref<TPixmap> p = Load(b);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel(p, 0, 1), 0xFFFF0000u);
  EXPECT_EQ(Pixel(p, 1, 1), 0xFFFF0000u);
}

TEST_F(TgaLoaderTest, SixteenAndFifteenBitPixels) {
  Bytes b16 = Header(2, 3, 1, 16);
  b16.U16(0x7FFF).U16(0xFFFF).U16(0x7C00);
  Ref<TPixmap> p = Load(b16);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFFF8F8F8u);
  EXPECT_EQ(Pixel(p, 1, 0), 0x00F8F8F8u) << "bit 15 set means transparent";
  EXPECT_EQ(Pixel(p, 2, 0), 0xFFF80000u);

  Bytes b15 = Header(2, 2, 1, 15);
  b15.U16(0xFFFF).U16(0x03E0);
  p = Load(b15);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGB24);
  EXPECT_EQ(Pixel(p, 0, 0), 0xFFF8F8F8u) << "no alpha bit in 15-bit pixels";
  EXPECT_EQ(Pixel(p, 1, 0), 0xFF00F800u);
}

TEST_F(TgaLoaderTest, ThirtyTwoBitKeepsAlphaAndSkipsTheIdField) {
  Bytes b = Header(2, 2, 1, 32, 5);
  b.Fill(0xEE, 5);
  b.U8(0x10).U8(0x20).U8(0x30).U8(0x40).U8(1).U8(2).U8(3).U8(0);
  Ref<TPixmap> p = Load(b);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->format, PIXFMT_RGBA32);
  EXPECT_EQ(Pixel(p, 0, 0), 0x40302010u);
  EXPECT_EQ(Pixel(p, 1, 0), 0x00030201u);
}

TEST_F(TgaLoaderTest, RunLengthRowsMatchRawRows) {
  // Per pixel size: one row of five pixels as a repeat packet of three and a
  // literal packet of two, against the same row stored raw.
  for (int psize : {15, 16, 24, 32}) {
    const int bytes = (psize + 7) / 8;
    std::vector<uint8_t> a = {0x11, 0x92, 0x33, 0x44}, c = {0x55, 0x66, 0x77, 0x88},
                         d = {0x99, 0xAA, 0xBB, 0xCC};
    auto pixel = [&](Bytes& b, const std::vector<uint8_t>& v) {
      for (int i = 0; i < bytes; ++i) b.U8(v[std::size_t(i)]);
    };
    Bytes rle = Header(10, 5, 2, psize);
    Bytes raw = Header(2, 5, 2, psize);
    for (int row = 0; row < 2; ++row) {
      rle.U8(0x82);
      pixel(rle, a);
      rle.U8(0x01);
      pixel(rle, c);
      pixel(rle, d);
      for (int i = 0; i < 3; ++i) pixel(raw, a);
      pixel(raw, c);
      pixel(raw, d);
    }
    Ref<TPixmap> fromRle = Load(rle);
    Ref<TPixmap> fromRaw = Load(raw);
    ASSERT_FALSE(fromRle.IsNull()) << psize;
    ASSERT_FALSE(fromRaw.IsNull()) << psize;
    EXPECT_EQ(PackedPixels(fromRle), PackedPixels(fromRaw)) << psize;
  }
}

TEST_F(TgaLoaderTest, HeaderChecks) {
  Bytes mapped = Header(2, 1, 1, 24, 0, 1);
  mapped.Fill(0, 3);
  EXPECT_TRUE(Load(mapped).IsNull()) << "colour map type 1";
  Bytes zero = Header(2, 0, 1, 24);
  EXPECT_TRUE(Load(zero).IsNull());
  Bytes wide = Header(2, 4097, 1, 24);
  EXPECT_TRUE(Load(wide).IsNull());
  Bytes eight = Header(2, 1, 1, 8);
  eight.U8(0);
  EXPECT_TRUE(Load(eight).IsNull()) << "8-bit pixels";
  Bytes colourMapped = Header(1, 1, 1, 24);
  colourMapped.Fill(0x7F, 3);
  EXPECT_TRUE(Load(colourMapped).IsNull()) << "type 1 has no decoder: refused, not left unwritten";

  Bytes widest = Header(2, 4096, 1, 24);
  widest.Fill(0x40, 4096 * 3);
  Ref<TPixmap> p = Load(widest);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(p->width, 4096);
  EXPECT_EQ(Pixel(p, 4095, 0), 0xFF404040u);
}

TEST_F(TgaLoaderTest, RunPastTheRowEndIsRefused) {
  Bytes repeat = Header(10, 2, 2, 24);
  repeat.U8(0x82).U8(1).U8(2).U8(3).U8(0x80).U8(4).U8(5).U8(6);
  EXPECT_TRUE(Load(repeat).IsNull());
  Bytes literal = Header(10, 2, 1, 32);
  literal.U8(0x02).Fill(9, 12);
  EXPECT_TRUE(Load(literal).IsNull());
}

TEST_F(TgaLoaderTest, TruncatedData) {
  Bytes shortHeader;
  shortHeader.U8(0).U8(0).U8(2).U8(0);
  EXPECT_TRUE(Load(shortHeader).IsNull()) << "fewer than 8 bytes: not a TGA";

  // A stream that knows its length refuses rows it cannot hold before
  // reading them; one that does not runs out of data and raises.
  Bytes raw = Header(2, 4, 4, 24);
  raw.Fill(1, 4 * 3 * 3 + 2);
  EXPECT_TRUE(Load(raw).IsNull());
  try {
    RegisteredLoader<TPixmapLoaderTGA>()->LoadPixmap(TProbeStream::Unsized(raw.v));
    ADD_FAILURE() << "a short stream must raise the stream exception";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamReadException>(), nullptr);
  }
  Bytes rle = Header(10, 4, 1, 32);
  rle.U8(0x83).U8(1).U8(2);
  EXPECT_THROW(Load(rle), ThrownObject);
  EXPECT_TRUE(LoadPixmap(Over(raw.v)).IsNull()) << "the chain takes it as a refusal";
}

// The origin bits: 0x20 puts the first stored row at the top, 0x10 the
// first stored pixel of a row at the right.
TEST_F(TgaLoaderTest, OriginBitsPlaceTheFirstPixel) {
  struct Case {
    const char* name;
    int attbits, type;
    uint32_t topLeft, topRight, bottomLeft, bottomRight;
  };
  const uint32_t a = 0xFF0000FFu, b = 0xFF00FF00u, c = 0xFFFF0000u, d = 0xFFFFFFFFu;
  // Stored in this order: a b, then c d.
  for (const Case& k :
       {Case{"origin-bottom-left.tga", 0x00, 2, c, d, a, b}, Case{"origin-top-left.tga", 0x20, 2, a, b, c, d},
        Case{"origin-top-left-rle.tga", 0x20, 10, a, b, c, d},
        Case{"origin-bottom-right.tga", 0x10, 2, d, c, b, a},
        Case{"origin-top-right-alpha-bits.tga", 0x38, 2, b, a, d, c}}) {
    Bytes f = Header(k.type, 2, 2, 24, 0, 0, k.attbits);
    auto pixel = [&](int blue, int green, int red) {
      if (k.type == 10) f.U8(0);  // a literal packet of one pixel
      f.U8(blue).U8(green).U8(red);
    };
    pixel(255, 0, 0);
    pixel(0, 255, 0);
    pixel(0, 0, 255);
    pixel(255, 255, 255);
    Ref<TPixmap> p = Load(f);
    ASSERT_FALSE(p.IsNull()) << k.name;
    EXPECT_EQ(Pixel(p, 0, 0), k.topLeft) << k.name;
    EXPECT_EQ(Pixel(p, 1, 0), k.topRight) << k.name;
    EXPECT_EQ(Pixel(p, 0, 1), k.bottomLeft) << k.name;
    EXPECT_EQ(Pixel(p, 1, 1), k.bottomRight) << k.name;
  }
}

// An 18-byte header must not cost the memory of the picture it claims.
TEST_F(TgaLoaderTest, DecompressionBombsAreRefused) {
  Bytes stored = Header(2, 4096, 4096, 32);  // 64 MB of rows
  stored.Fill(0, 64);
  EXPECT_TRUE(Load(stored).IsNull()) << "stored-rows-bomb.tga";
  Bytes runs = Header(10, 4096, 4096, 32);  // 2^24 pixels from 640 bytes of packets
  for (int i = 0; i < 128; ++i) runs.U8(0xFF).U32(0);
  EXPECT_TRUE(Load(runs).IsNull()) << "rle-bomb.tga";
  Bytes id = Header(2, 1, 1, 24, 200);  // the identification field runs past the end
  id.Fill(0, 10);
  EXPECT_TRUE(Load(id).IsNull()) << "id-past-end.tga";

  // 128 pixels a packet, each packet 1 + 4 bytes: well within the ratio.
  Bytes fits = Header(10, 128, 64, 32);
  for (int i = 0; i < 64; ++i) fits.U8(0xFF).U8(1).U8(2).U8(3).U8(4);
  Ref<TPixmap> p = Load(fits);
  ASSERT_FALSE(p.IsNull());
  EXPECT_EQ(Pixel(p, 127, 63), 0x04030201u);
}

}  // namespace

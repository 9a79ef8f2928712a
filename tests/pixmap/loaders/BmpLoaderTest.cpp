#include "pixmap/loaders/PixmapLoaderBMP.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"
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
};

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
  EXPECT_TRUE(Load(topDown).IsNull()) << "negative height";
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
  Bytes rows = Header(4, 4, 24);
  rows.Fill(0x33, 12 * 3 + 5);
  try {
    Load(rows);
    ADD_FAILURE() << "rows shorter than the header says must raise";
  } catch (const ThrownObject& e) {
    EXPECT_NE(e.As<TStreamReadException>(), nullptr);
  }
  Bytes palette = Header(2, 2, 8, 100);
  palette.Fill(0, 40);
  EXPECT_THROW(Load(palette), ThrownObject);
  EXPECT_TRUE(LoadPixmap(Over(rows.v)).IsNull());
}

}  // namespace

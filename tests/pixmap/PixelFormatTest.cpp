#include "pixmap/PixelFormat.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vrl;

namespace {

TEST(PixelFormat, TablesAsPublished) {
  EXPECT_EQ(PixelBytes[PIXFMT_BGR24], 3);
  EXPECT_EQ(PixelBits[PIXFMT_R8], 4) << "single-channel formats count 4 bits";
  EXPECT_EQ(PixelBits[PIXFMT_GREY8], 8);
  EXPECT_EQ(ColourBits[PIXFMT_B8], 8);
  EXPECT_EQ(AlphaBits[PIXFMT_A8], 8);
  EXPECT_EQ(AlphaBits[PIXFMT_RGB24], 0);
  EXPECT_EQ(IntensityBits[PIXFMT_INTENSITY8], 8);
  EXPECT_EQ(LuminanceBits[PIXFMT_LUMINANCE8], 8);
  for (const int32_t* table : {PixelBytes, RedBits, AlphaBits, PixelBits, ColourBits}) EXPECT_EQ(table[0], 0);
}

TEST(PixelFormat, ExpandGivesAlphaOneForSingleChannelFormats) {
  uint8_t in[] = {200};
  uint8_t out[4];
  for (auto [format, r, g, b, a] : std::vector<std::array<int, 5>>{{PIXFMT_R8, 200, 0, 0, 1},
                                                                   {PIXFMT_G8, 0, 200, 0, 1},
                                                                   {PIXFMT_B8, 0, 0, 200, 1},
                                                                   {PIXFMT_LUMINANCE8, 200, 200, 200, 1},
                                                                   {PIXFMT_INTENSITY8, 200, 200, 200, 200},
                                                                   {PIXFMT_BLACK_A8, 0, 0, 0, 200},
                                                                   {PIXFMT_A8, 255, 255, 255, 200},
                                                                   {PIXFMT_GREY8, 200, 200, 200, 255}}) {
    ExpandToRGBA(in, out, format, 1);
    EXPECT_EQ(out[0], r) << format;
    EXPECT_EQ(out[1], g) << format;
    EXPECT_EQ(out[2], b) << format;
    EXPECT_EQ(out[3], a) << format;
  }
}

TEST(PixelFormat, PackAveragesTruncate) {
  uint8_t rgba[] = {10, 20, 31, 100};
  uint8_t out[4] = {};
  PackFromRGBA(rgba, out, PIXFMT_GREY8, 1);
  EXPECT_EQ(out[0], 20);  // 61 / 3
  PackFromRGBA(rgba, out, PIXFMT_INTENSITY8, 1);
  EXPECT_EQ(out[0], 40);  // 161 / 4
  PackFromRGBA(rgba, out, PIXFMT_BGRA32, 1);
  EXPECT_EQ((std::vector<int>{out[0], out[1], out[2], out[3]}), (std::vector<int>{31, 20, 10, 100}));
}

TEST(PixelFormat, ConvertBetweenOtherFormatsGoesThroughRgba) {
  // BGR24 -> RGB24 for a long row (more than one conversion chunk).
  std::vector<uint8_t> bgr(std::size_t(3) * 3000), rgb(std::size_t(3) * 3000);
  for (std::size_t i = 0; i < bgr.size(); ++i) bgr[i] = uint8_t(i * 7);
  ConvertPixels(bgr.data(), PIXFMT_BGR24, rgb.data(), PIXFMT_RGB24, 3000);
  for (std::size_t p = 0; p < 3000; ++p) {
    ASSERT_EQ(rgb[p * 3], bgr[p * 3 + 2]);
    ASSERT_EQ(rgb[p * 3 + 2], bgr[p * 3]);
  }
  // R8 -> A8 through RGBA: alpha 1.
  uint8_t r8 = 90, a8 = 0;
  ConvertPixels(&r8, PIXFMT_R8, &a8, PIXFMT_A8, 1);
  EXPECT_EQ(a8, 1);
  uint8_t untouched = 77;
  ConvertPixels(&r8, PIXFMT_R8, &untouched, 13, 1);
  EXPECT_EQ(untouched, 77) << "formats outside the table are ignored";
}

}  // namespace

#include "tests/support/ComparePixmaps.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "runtime/String.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestOutput.h"

using namespace vrl;

namespace {

// The output root is the fixture's temporary directory, so that the files a
// failure writes can be checked and go away afterwards.
class ComparePixmapsTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    setenv("VRL_TEST_OUTPUT", Root().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VRL_TEST_OUTPUT");
    TempDirTest::TearDown();
  }

  static Ref<TPixmap> Filled(int32_t width, int32_t height, int32_t format, int32_t argb) {
    Ref<TPixmap> p = NewPixmap(width, height, format);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) p->WritePixel(x, y, argb);
    return p;
  }
  static std::string Output(const char* name) { return testing_support::TestOutputDir() + "/" + name; }
};

TEST_F(ComparePixmapsTest, EqualWithinTheToleranceAcrossFormats) {
  Ref<TPixmap> rgb = Filled(5, 3, PIXFMT_RGB24, int32_t(0xFF102030));
  Ref<TPixmap> rgba = Filled(5, 3, PIXFMT_RGBA32, int32_t(0xFF102030));
  EXPECT_TRUE(ComparePixmaps(rgb, rgba, 0));
  rgba->WritePixel(4, 2, int32_t(0xFF132330));  // 3 off in red and green
  EXPECT_TRUE(ComparePixmaps(rgb, rgba, 3));
  EXPECT_FALSE(std::filesystem::exists(Output("actual.png")));
  EXPECT_FALSE(ComparePixmaps(rgb, rgba, 2));
  rgba->WritePixel(4, 2, int32_t(0xFE102030));  // alpha counts as well
  EXPECT_FALSE(ComparePixmaps(rgb, rgba, 0));
}

TEST_F(ComparePixmapsTest, FailureNamesTheWorstPixelAndWritesBothPictures) {
  Ref<TPixmap> actual = Filled(4, 3, PIXFMT_RGBA32, int32_t(0xFF808080));
  Ref<TPixmap> expected = Filled(4, 3, PIXFMT_RGBA32, int32_t(0xFF808080));
  actual->WritePixel(1, 0, int32_t(0xFF858080));
  actual->WritePixel(3, 2, int32_t(0xD7808080));
  actual->WritePixel(0, 2, int32_t(0xFF808089));

  auto result = ComparePixmaps(actual, expected, 5);
  ASSERT_FALSE(result);
  std::string message = result.message();
  EXPECT_NE(message.find("2 of 12 pixels differ by more than 5; the worst difference is 40 at (3, 2): "
                         "actual D7808080, expected FF808080"),
            std::string::npos)
      << message;
  EXPECT_NE(message.find("wrote " + Output("actual.png")), std::string::npos) << message;
  EXPECT_NE(message.find("wrote " + Output("expected.png")), std::string::npos) << message;

  // The files hold the pictures exactly.
  Ref<TPixmap> actualBack = LoadPixmapPNG(String::FromUtf8(Output("actual.png").c_str()));
  Ref<TPixmap> expectedBack = LoadPixmapPNG(String::FromUtf8(Output("expected.png").c_str()));
  EXPECT_TRUE(ComparePixmaps(actualBack, actual, 0));
  EXPECT_TRUE(ComparePixmaps(expectedBack, expected, 0));

  // A later failure of the same test does not overwrite the first pictures.
  EXPECT_FALSE(ComparePixmaps(expected, actual, 0));
  EXPECT_TRUE(std::filesystem::exists(Output("actual-2.png")));
  EXPECT_TRUE(std::filesystem::exists(Output("expected-2.png")));
  EXPECT_TRUE(ComparePixmaps(actual, expected, 40)) << "the tolerance is inclusive";
}

TEST_F(ComparePixmapsTest, OtherSizesAndNullFail) {
  Ref<TPixmap> wide = Filled(4, 3, PIXFMT_RGB24, 0);
  Ref<TPixmap> tall = Filled(3, 4, PIXFMT_RGB24, 0);
  auto sizes = ComparePixmaps(wide, tall, 255);
  ASSERT_FALSE(sizes);
  EXPECT_NE(std::string(sizes.message()).find("the actual pixmap is 4 x 3, the expected one 3 x 4"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Output("actual.png")));
  auto none = ComparePixmaps(nullptr, wide, 255);
  ASSERT_FALSE(none);
  EXPECT_NE(std::string(none.message()).find("the actual pixmap is Null"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Output("expected-2.png")));
  EXPECT_FALSE(std::filesystem::exists(Output("actual-2.png")));
}

}  // namespace

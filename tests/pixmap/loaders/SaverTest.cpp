// The picture savers replace a file only with a complete picture.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "pixmap/loaders/PixmapLoaderJPG.h"
#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"
#include "tests/stream/SaveFailures.h"
#include "tests/support/TempDir.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

class SaverTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    vrl::test::InitLoaders();
  }
};

// Noise compresses badly, so the files are far larger than 4 KiB.
Ref<TPixmap> Noise(int32_t size) {
  Ref<TPixmap> pixmap = TPixmap::Create(size, size, PIXFMT_RGBA32, 4);
  uint32_t state = 7;
  for (int32_t y = 0; y < size; ++y) {
    uint8_t* row = pixmap->PixelPtr(0, y);
    for (int32_t x = 0; x < size * 4; ++x) {
      state = state * 1664525U + 1013904223U;
      row[x] = uint8_t(state >> 24);
    }
  }
  return pixmap;
}

TEST_F(SaverTest, AFailedSaveLeavesTheOldPicture) {
  Ref<TPixmap> picture = Noise(200);
  struct Saver {
    const char* name;
    int32_t (*save)(TPixmap*, Object*, int32_t);
    int32_t setting;
  };
  for (const Saver& saver : {Saver{"png", SavePixmapPNG, 6}, Saver{"jpeg", SavePixmapJPG, 95}}) {
    const std::string path = NativeOf(std::string("picture.") + saver.name);
    WriteWhole(path, "the old picture");
    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    Ref<String> url = String::FromUtf8(path);
    // Files limited to 4 KiB: the save fails part-way.
    EXPECT_EQ(RunInChild([&] { return saver.save(picture, url, saver.setting) == 1; }, 4096), kChildFailed)
        << saver.name;
    EXPECT_EQ(ReadWhole(path), "the old picture") << saver.name;
    EXPECT_TRUE(TemporaryFiles(Root()).empty()) << saver.name;

    ASSERT_EQ(saver.save(picture, url, saver.setting), 1) << saver.name;
    Ref<TPixmap> back = LoadPixmap(url);
    ASSERT_FALSE(back.IsNull()) << saver.name;
    EXPECT_EQ(back->width, 200) << saver.name;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u) << saver.name;
    EXPECT_TRUE(TemporaryFiles(Root()).empty()) << saver.name;
  }
}

}  // namespace

// Every file in tests/pixmap/loaders/inputs/ goes through the whole picture
// loader chain as a program would load it (LoadPixmap on its path). Each is
// a case the loaders defend against; expected.txt (written with the files by
// make-inputs.py) says what each must give. A file without a line there, such
// as a crash a fuzzer found, must give Null or a pixmap its bytes can carry.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "pixmap/loaders/PictureLimits.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"
#include "tests/support/InputReplay.h"

using namespace vrl;

namespace {

namespace fs = std::filesystem;

// What the loaders gave, in the manifest's words ("null" or "pixmap WxH"),
// or why the result is not sane.
std::string Outcome(TPixmap* pixmap, int64_t fileBytes) {
  if (!pixmap) return "null";
  const std::string size = std::to_string(pixmap->width) + "x" + std::to_string(pixmap->height);
  if (!PictureSizeAllowed(pixmap->width, pixmap->height)) return "oversized pixmap " + size;
  // No format inflates by more than deflate's ratio.
  if (int64_t(pixmap->width) * pixmap->height > fileBytes * kDeflateRatio) {
    return "too large: pixmap " + size + " that the file cannot carry";
  }
  if (!IsPixelFormat(pixmap->format) || pixmap->pitch < pixmap->width * PixelBytes[pixmap->format]) {
    return "malformed pixmap " + size;
  }
  return "pixmap " + size;
}

TEST(HostileInputTest, EveryInputFileGivesNullOrASaneSize) {
  test::InitLoaders();
  test::ReplayInputs(VRL_PIXMAP_INPUTS, "pixmap", 40, [](const fs::path& file) {
    Ref<TPixmap> pixmap = LoadPixmap(String::FromNarrow(file.string()));
    return Outcome(pixmap.get(), int64_t(fs::file_size(file)));
  });
}

}  // namespace

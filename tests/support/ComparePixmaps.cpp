#include "tests/support/ComparePixmaps.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "stream/Stream.h"
#include "tests/support/TestOutput.h"

namespace vrl::testing_support {

namespace {

std::string Hex(int32_t argb) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(argb));
  return text;
}

int WorstChannel(int32_t a, int32_t b) {
  int worst = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    int x = int(static_cast<uint32_t>(a) >> shift & 255), y = int(static_cast<uint32_t>(b) >> shift & 255);
    worst = std::max(worst, std::abs(x - y));
  }
  return worst;
}

// Writes both pictures and says where; the names are numbered by the
// failing comparisons of the current test case.
std::string Save(TPixmap* actual, TPixmap* expected) {
  static std::string lastTest;
  static int count = 0;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
  count = test == lastTest ? count + 1 : 1;
  lastTest = test;

  std::string dir = TestOutputDir();
  if (dir.empty()) return "; the output directory could not be made";
  std::string suffix = count == 1 ? ".png" : "-" + std::to_string(count) + ".png";
  std::string saved;
  for (auto [pixmap, name] : {std::pair{actual, "actual"}, std::pair{expected, "expected"}}) {
    if (!pixmap) continue;
    std::string path = dir + "/" + name + suffix;
    bool written = false;
    try {
      written = SavePixmapPNG(pixmap, String::FromUtf8(path.c_str()), 6) == 1;
    } catch (const ThrownObject&) {
    }
    saved += written ? "\n  wrote " + path : "\n  could not write " + path;
  }
  return saved;
}

}  // namespace

::testing::AssertionResult ComparePixmaps(TPixmap* actual, TPixmap* expected, int tolerance) {
  stream::Init();
  pixmap::Init();
  if (!actual || !expected) {
    return ::testing::AssertionFailure()
           << (actual ? "the expected" : "the actual") << " pixmap is Null" << Save(actual, expected);
  }
  if (actual->width != expected->width || actual->height != expected->height) {
    return ::testing::AssertionFailure()
           << "the actual pixmap is " << actual->width << " x " << actual->height << ", the expected one "
           << expected->width << " x " << expected->height << Save(actual, expected);
  }
  int worst = -1, worstX = 0, worstY = 0;
  int64_t off = 0;
  for (int32_t y = 0; y < actual->height; ++y) {
    for (int32_t x = 0; x < actual->width; ++x) {
      int difference = WorstChannel(actual->ReadPixel(x, y), expected->ReadPixel(x, y));
      off += difference > tolerance;
      if (difference > worst) {
        worst = difference;
        worstX = x;
        worstY = y;
      }
    }
  }
  if (off == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << off << " of " << int64_t(actual->width) * actual->height << " pixels differ by more than "
         << tolerance << "; the worst difference is " << worst << " at (" << worstX << ", " << worstY
         << "): actual " << Hex(actual->ReadPixel(worstX, worstY)) << ", expected "
         << Hex(expected->ReadPixel(worstX, worstY)) << Save(actual, expected);
}

}  // namespace vrl::testing_support

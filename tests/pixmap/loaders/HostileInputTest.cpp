// Every file in tests/pixmap/loaders/inputs/ goes through the whole picture
// loader chain as a program would load it (LoadPixmap on its path). Each is
// a case the loaders defend against; expected.txt (written with the files by
// make-inputs.py) says what each must give. A file without a line there, such
// as a crash a fuzzer found, must give Null or a pixmap its bytes can carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "pixmap/loaders/PictureLimits.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "tests/pixmap/loaders/LoaderTestUtil.h"

using namespace vrl;

namespace {

namespace fs = std::filesystem;

// File name to expectation: "null", "pixmap WxH" or "sane".
std::map<std::string, std::string> ReadExpectations(const fs::path& file) {
  std::map<std::string, std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, expect;
    std::getline(fields, name, '\t');
    std::getline(fields, expect, '\t');
    out[name] = expect;
  }
  return out;
}

// What the loaders gave, in the manifest's words ("null" or "pixmap WxH"),
// or why the result is not sane.
std::string Outcome(TPixmap* pixmap, int64_t fileBytes) {
  if (!pixmap) return "null";
  const std::string size = std::to_string(pixmap->width) + "x" + std::to_string(pixmap->height);
  if (!PictureSizeAllowed(pixmap->width, pixmap->height)) return "oversized pixmap " + size;
  // No format inflates by more than deflate's ratio.
  if (int64_t(pixmap->width) * pixmap->height > fileBytes * kDeflateRatio) {
    return "pixmap " + size + " that the file cannot carry";
  }
  if (!IsPixelFormat(pixmap->format) || pixmap->pitch < pixmap->width * PixelBytes[pixmap->format]) {
    return "malformed pixmap " + size;
  }
  return "pixmap " + size;
}

TEST(HostileInputTest, EveryInputFileGivesNullOrASaneSize) {
  test::InitLoaders();
  const fs::path folder = VRL_PIXMAP_INPUTS;
  std::map<std::string, std::string> expected = ReadExpectations(folder / "expected.txt");
  ASSERT_FALSE(expected.empty()) << "no expected.txt in " << folder;

  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name != "expected.txt" && name != "make-inputs.py") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());

  int replayed = 0;
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    std::string outcome;
    try {
      Ref<TPixmap> pixmap = LoadPixmap(String::FromNarrow(file.string()));
      outcome = Outcome(pixmap.get(), int64_t(fs::file_size(file)));
    } catch (const std::exception& e) {
      outcome = std::string("thrown ") + e.what();
    }
    ++replayed;
    auto it = expected.find(name);
    const std::string want = it == expected.end() ? "sane" : it->second;
    if (want == "sane") {
      EXPECT_TRUE(outcome == "null" || outcome.rfind("pixmap ", 0) == 0) << outcome;
    } else {
      EXPECT_EQ(outcome, want);
    }
    if (it != expected.end()) expected.erase(it);
  }
  // A line whose file is gone is a case no longer tested.
  for (const auto& [name, want] : expected) ADD_FAILURE() << "expected.txt names a missing file: " << name;
  EXPECT_GE(replayed, 40);
}

}  // namespace

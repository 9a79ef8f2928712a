// Replays a folder of hostile inputs: small named files, each a case a
// loader defends against, with the result each must give listed in the
// folder's expected.txt (one "name<TAB>result" line a file; # starts a
// comment). The folder's make-inputs.py writes both.
//
// `outcome` loads one file and describes the result in the manifest's
// words: "null", or "<kind> ..." for a sane result; a result that is not
// sane is described by a text that does not start with "<kind> ". A file with no line in expected.txt, such
// as an input a fuzzer found, must give Null or a sane result; a line whose file is gone fails, since its
// case is no longer tested; anything thrown fails. At least `minimum` files must be replayed, so a folder
// that went missing cannot pass.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vrl::test {

// File name to expected result.
inline std::map<std::string, std::string> ReadExpectations(const std::filesystem::path& file) {
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

template <class Outcome>
void ReplayInputs(const std::filesystem::path& folder, const std::string& kind, int minimum,
                  Outcome outcome) {
  namespace fs = std::filesystem;
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
    std::string got;
    try {
      got = outcome(file);
    } catch (const std::exception& e) {
      got = std::string("thrown ") + e.what();
    }
    ++replayed;
    auto it = expected.find(name);
    const std::string want = it == expected.end() ? "sane" : it->second;
    if (want == "sane") {
      EXPECT_TRUE(got == "null" || got.rfind(kind + " ", 0) == 0) << got;
    } else {
      EXPECT_EQ(got, want);
    }
    if (it != expected.end()) expected.erase(it);
  }
  for (const auto& [name, want] : expected) ADD_FAILURE() << "expected.txt names a missing file: " << name;
  EXPECT_GE(replayed, minimum);
}

}  // namespace vrl::test

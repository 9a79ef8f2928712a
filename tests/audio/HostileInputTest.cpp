// Every file in tests/audio/inputs/ goes through the whole sample loader
// chain as a program would read it (ReadAudioSample on its path). Each is a
// case the loaders defend against; expected.txt (written with the files by
// make-inputs.py) says what each must give. A file without a line there, such
// as a crash a fuzzer found, must give Null or a sample its bytes can carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "runtime/String.h"
#include "stream/Stream.h"

using namespace vrl;

namespace {

namespace fs = std::filesystem;

// The most frames one byte of a file can stand for: a Vorbis packet of a
// byte or two may code a block of up to 8192 frames.
constexpr int64_t kFramesPerByte = 8192;

// File name to expectation: "null", "sample N" or "sane".
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

// What the loaders gave, in the manifest's words ("null" or "sample N"), or
// why the result is not sane.
std::string Outcome(TAudioSample* sample, int64_t fileBytes) {
  if (!sample) return "null";
  const std::string frames = std::to_string(sample->length);
  if (!IsSampleFormat(sample->format) || sample->length < 0) return "malformed sample of " + frames;
  if (sample->capacity >= 0 && sample->DataBytes() > sample->capacity) {
    return "sample of " + frames + " frames beyond its memory";
  }
  if (sample->length > fileBytes * kFramesPerByte)
    return "sample of " + frames + " that the file cannot carry";
  return "sample " + frames;
}

TEST(HostileInputTest, EveryInputFileGivesNullOrASaneSample) {
  stream::Init();
  oggloader::Init();
  wavloader::Init();
  const fs::path folder = VRL_AUDIO_INPUTS;
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
      Ref<TAudioSample> sample = ReadAudioSample(String::FromNarrow(file.string()));
      outcome = Outcome(sample.get(), int64_t(fs::file_size(file)));
    } catch (const std::exception& e) {
      outcome = std::string("thrown ") + e.what();
    }
    ++replayed;
    auto it = expected.find(name);
    const std::string want = it == expected.end() ? "sane" : it->second;
    if (want == "sane") {
      EXPECT_TRUE(outcome == "null" || outcome.rfind("sample ", 0) == 0) << outcome;
    } else {
      EXPECT_EQ(outcome, want);
    }
    if (it != expected.end()) expected.erase(it);
  }
  // A line whose file is gone is a case no longer tested.
  for (const auto& [name, want] : expected) ADD_FAILURE() << "expected.txt names a missing file: " << name;
  EXPECT_GE(replayed, 25);
}

}  // namespace

// OpenAL Soft's wave-file writer as the tests' sound card. The environment
// writes an alsoft configuration (stereo 16-bit at 44100 Hz, no dither, no
// limiter, no HRTF, at most kMaxSources sources) into a temporary folder,
// points ALSOFT_CONF at it and selects the writer with ALSOFT_DRIVERS; it
// must be in place before the library first reads its configuration, so
// test programs add it as a global environment. Each device that OpenAL
// opens writes the file anew from its start; closing the device completes
// it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/WaitFor.h"

namespace vrl::testing_support {

inline constexpr int kWaveRate = 44100;
inline constexpr int kMaxSources = 8;

class WaveOutputEnvironment : public ::testing::Environment {
 public:
  // The file the writer writes.
  static const std::string& File() { return _file; }

  void SetUp() override {
    if (!_folder.empty()) return;
    char pattern[] = "/tmp/vrl-openal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    _folder = pattern;
    _file = _folder + "/out.wav";
    const std::string conf = _folder + "/alsoft.conf";
    std::ofstream out(conf);
    out << "[general]\n"
           "drivers = wave\n"
           "channels = stereo\n"
           "sample-type = int16\n"
           "frequency = "
        << kWaveRate
        << "\n"
           "dither = false\n"
           "output-limiter = false\n"
           "hrtf = false\n"
           "sources = "
        << kMaxSources << "\n[wave]\nfile = " << _file << "\n";
    out.close();
    setenv("ALSOFT_CONF", conf.c_str(), 1);
    setenv("ALSOFT_DRIVERS", "wave", 1);
  }

  void TearDown() override { Remove(); }

  // Removes the folder; also for a test's child process, which ends
  // without the environment's TearDown.
  static void Remove() {
    std::error_code ignored;
    if (!_folder.empty()) std::filesystem::remove_all(_folder, ignored);
    _folder.clear();
  }

 private:
  static inline std::string _folder;
  static inline std::string _file;
};

// The written frames, left and right interleaved; empty when the file is
// missing or is not 16-bit stereo. The sizes in the header are written
// only when the device closes, so the data runs to the end of the file.
inline std::vector<int16_t> ReadWaveFrames(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> frames;
  if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return frames;
  std::size_t at = 12;
  bool stereo16 = false;
  while (at + 8 <= bytes.size()) {
    uint32_t size = 0;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && at + 24 <= bytes.size()) {
      uint16_t channels = 0, bits = 0;
      std::memcpy(&channels, bytes.data() + at + 10, 2);
      std::memcpy(&bits, bytes.data() + at + 22, 2);
      stereo16 = channels == 2 && bits == 16;
    }
    if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      if (!stereo16) return frames;
      std::size_t count = (bytes.size() - at - 8) / 4 * 2;
      frames.resize(count);
      std::memcpy(frames.data(), bytes.data() + at + 8, count * 2);
      return frames;
    }
    at += 8 + size;
  }
  return frames;
}

inline int64_t FileBytes(const std::string& file) {
  struct stat st {};
  return stat(file.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

// What a stretch of written output holds.
struct Segment {
  int64_t first = -1;  // first frame with a sample above the threshold, -1 for none
  int64_t last = -1;   // last such frame
  int peakLeft = 0;
  int peakRight = 0;
  int crossings = 0;  // sign changes of the louder channel between first and last
};

inline Segment Measure(const std::vector<int16_t>& frames, int threshold = 64) {
  Segment s;
  const int64_t count = int64_t(frames.size() / 2);
  for (int64_t i = 0; i < count; ++i) {
    int l = frames[std::size_t(2 * i)], r = frames[std::size_t(2 * i + 1)];
    if (std::abs(l) > threshold || std::abs(r) > threshold) {
      if (s.first < 0) s.first = i;
      s.last = i;
    }
  }
  if (s.first < 0) return s;
  for (int64_t i = s.first; i <= s.last; ++i) {
    s.peakLeft = std::max(s.peakLeft, std::abs(int(frames[std::size_t(2 * i)])));
    s.peakRight = std::max(s.peakRight, std::abs(int(frames[std::size_t(2 * i + 1)])));
  }
  const int channel = s.peakRight > s.peakLeft ? 1 : 0;
  int previous = 0;
  for (int64_t i = s.first; i <= s.last; ++i) {
    int v = frames[std::size_t(2 * i + channel)];
    int sign = v > 0 ? 1 : (v < 0 ? -1 : 0);
    if (sign != 0) {
      if (previous != 0 && sign != previous) ++s.crossings;
      previous = sign;
    }
  }
  return s;
}

}  // namespace vrl::testing_support

// Every file in tests/audio/inputs/ goes through the whole sample loader
// chain as a program would read it (ReadAudioSample on its path). Each is a
// case the loaders defend against; expected.txt (written with the files by
// make-inputs.py) says what each must give. A file without a line there, such
// as a crash a fuzzer found, must give Null or a sample its bytes can carry.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "runtime/String.h"
#include "stream/Stream.h"
#include "tests/support/InputReplay.h"

using namespace vrl;

namespace {

namespace fs = std::filesystem;

// The most frames one byte of a file can stand for: a Vorbis packet of a
// byte or two may code a block of up to 8192 frames.
constexpr int64_t kFramesPerByte = 8192;

// What the loaders gave, in the manifest's words ("null" or "sample N"), or
// why the result is not sane.
std::string Outcome(TAudioSample* sample, int64_t fileBytes) {
  if (!sample) return "null";
  const std::string frames = std::to_string(sample->length);
  if (!IsSampleFormat(sample->format) || sample->length < 0) return "malformed sample of " + frames;
  if (sample->capacity >= 0 && sample->DataBytes() > sample->capacity) {
    return "too long: sample of " + frames + " frames beyond its memory";
  }
  if (sample->length > fileBytes * kFramesPerByte)
    return "too long: sample of " + frames + " that the file cannot carry";
  return "sample " + frames;
}

TEST(HostileInputTest, EveryInputFileGivesNullOrASaneSample) {
  stream::Init();
  oggloader::Init();
  wavloader::Init();
  test::ReplayInputs(VRL_AUDIO_INPUTS, "sample", 25, [](const fs::path& file) {
    Ref<TAudioSample> sample = ReadAudioSample(String::FromNarrow(file.string()));
    return Outcome(sample.get(), int64_t(fs::file_size(file)));
  });
}

}  // namespace

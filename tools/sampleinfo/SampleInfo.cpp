// sampleinfo URL: loads a sample through the loader chain (ReadAudioSample)
// and prints one line: length in frames, rate, format code and the SHA-256
// of the sample bytes (lower-case hex), separated by single spaces. When no
// loader accepts the data it prints "null" and exits with status 1.
#include <openssl/evp.h>

#include <cstdio>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/BankStream.h"
#include "stream/EndianStream.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"

namespace {

int Run(int argc, char** argv) {
  using namespace vrl;
  if (argc != 2) {
    std::fprintf(stderr, "usage: sampleinfo URL\n");
    return 2;
  }
  stream::Init();
  ramstream::Init();
  bankstream::Init();
  endianstream::Init();
  textstream::Init();
  // Ogg first, then WAV: the chain asks WAV first.
  oggloader::Init();
  wavloader::Init();

  Ref<TAudioSample> sample = ReadAudioSample(String::FromUtf8(std::string_view(argv[1])));
  if (sample.IsNull()) {
    std::printf("null\n");
    return 1;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (!EVP_Digest(sample->samples, std::size_t(sample->DataBytes()), digest, &digestLength, EVP_sha256(),
                  nullptr)) {
    std::fprintf(stderr, "sampleinfo: SHA-256 failed\n");
    return 2;
  }
  std::printf("%d %d %d ", sample->length, sample->hertz, sample->format);
  for (unsigned int i = 0; i < digestLength; ++i) std::printf("%02x", digest[i]);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 2;
  vrl::RunGuarded([&] { status = Run(argc, argv); });
  return status;
}

// libFuzzer target: arbitrary bytes through ReadAudioSample from a memory
// stream, with the WAV and Ogg loaders in the chain, or with one of them alone
// (FUZZ_ONLY_LOADER names its module: wavloader, oggloader). A loader may refuse
// (Null) or throw a framework exception; it must never read or write out of
// bounds, allocate for data that is not there, or give a sample whose
// length runs past its memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/AudioSample.h"
#include "audio/AudioSampleLoaderOGG.h"
#include "audio/AudioSampleLoaderWAV.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

// Where the sums of the bytes read go, so that the reads are not left out.
volatile uint32_t gSink = 0;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
#ifdef FUZZ_ONLY_LOADER
  vrl::FUZZ_ONLY_LOADER::Init();
#else
  vrl::oggloader::Init();
  vrl::wavloader::Init();
#endif
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  // Every frame of this input lies below this one.
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 0x7fffffff) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  {
    Ref<TRamStream> stream = TRamStream::Create(bytes.data(), int32_t(size), 1, 0);
    try {
      Ref<TAudioSample> sample = ReadAudioSample(stream);
      if (!sample.IsNull()) {
        if (!IsSampleFormat(sample->format) || sample->length < 0 || sample->DataBytes() > sample->capacity) {
          __builtin_trap();
        }
        // Touch every byte the sample claims, so a length beyond its memory
        // shows up under AddressSanitizer.
        uint32_t sum = 0;
        for (int64_t i = 0; i < sample->DataBytes(); ++i) sum += sample->samples[i];
        gSink = sum;
      }
    } catch (const ThrownObject&) {
      // A refusal the loaders report by throwing: allowed.
    }
  }
  GCCollect();
  return 0;
}

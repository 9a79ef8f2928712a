#include "audio/AudioSampleLoaderOGG.h"

#include <algorithm>
#include <limits>
#include <new>

#include "audio/OggDecoder.h"
#include "runtime/ClassRecord.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/Stream.h"

namespace vrl {

VRL_CLASS_RECORD(TAudioSampleLoaderOGG, "TAudioSampleLoaderOGG")

void oggloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  audiosample::Init();
  vrRegisterClass(TAudioSampleLoaderOGG::StaticClass());
  New<TAudioSampleLoaderOGG>();
}

namespace {

// Decodes up to `frames` frames into the sample, growing its memory as the
// data arrives. Returns the frames decoded, or -1 on a decoding error.
int64_t Decode(pub::OggDecoder* decoder, TAudioSample* sample, int64_t frames) {
  const int32_t frameBytes = SampleBytes[sample->format];
  const int64_t totalBytes = frames * frameBytes;
  int64_t done = 0;
  while (done < totalBytes) {
    if (done == sample->capacity) {
      int64_t grown = std::min(std::max<int64_t>(sample->capacity, 1 << 16) * 2, totalBytes);
      void* p = vrRawRealloc(sample->samples, std::size_t(sample->capacity), std::size_t(grown));
      if (!p) throw std::bad_alloc();
      sample->samples = static_cast<uint8_t*>(p);
      sample->capacity = int32_t(grown);
    }
    int64_t want = sample->capacity - done;
    int64_t got = pub::OggDecoderRead(decoder, sample->samples + done, want);
    if (got < 0) return -1;
    done += got;
    if (got < want) break;  // the data ended early
  }
  return done / frameBytes;
}

}  // namespace

Ref<TAudioSample> TAudioSampleLoaderOGG::LoadAudioSample(TStream* stream) {
  int64_t frames = 0;
  int32_t channels = 0, hertz = 0;
  pub::OggDecoder* decoder = pub::OggDecoderOpen(stream, &frames, &channels, &hertz);
  if (!decoder) return nullptr;
  Ref<TAudioSample> sample;
  int64_t decoded = -1;
  try {
    const int32_t format = channels == 1 ? SAMPLE_MONO16LE : SAMPLE_STEREO16LE;
    const int64_t frameBytes = SampleBytes[format];
    if ((channels == 1 || channels == 2) && frames * frameBytes <= std::numeric_limits<int32_t>::max()) {
      // The first allocation trusts the claimed length only as far as the
      // stream's size makes it plausible; Decode grows the rest on demand.
      int64_t plausible = std::max<int64_t>(int64_t(std::max(stream->Size(), 0)) * 32, 1 << 20);
      int64_t first = std::min(frames, plausible / frameBytes);
      sample = TAudioSample::Create(int32_t(first), hertz, format);
      decoded = Decode(decoder, sample, frames);
    }
  } catch (...) {
    try {
      pub::OggDecoderRead(decoder, nullptr, 0);
    } catch (...) {
      // The first failure is the one reported.
    }
    throw;
  }
  // Closing throws again what a stream callback caught.
  pub::OggDecoderRead(decoder, nullptr, 0);
  if (decoded < 0) return nullptr;
  sample->length = int32_t(decoded);
  return sample;
}

}  // namespace vrl

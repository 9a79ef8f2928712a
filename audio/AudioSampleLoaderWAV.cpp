#include "audio/AudioSampleLoaderWAV.h"

#include <algorithm>
#include <cstring>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/EndianStream.h"
#include "stream/Stream.h"

namespace vrl {

VRL_CLASS_RECORD(TAudioSampleLoaderWAV, "TAudioSampleLoaderWAV")

void wavloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  endianstream::Init();
  audiosample::Init();
  vrRegisterClass(TAudioSampleLoaderWAV::StaticClass());
  New<TAudioSampleLoaderWAV>();
}

namespace {

// Four bytes as a four-character tag; a short read gives "".
bool ReadTag(TStream* stream, char tag[4]) {
  int32_t got = 0;
  while (got < 4) {
    int32_t n = stream->Read(tag + got, 4 - got);
    if (n <= 0) return false;
    got += n;
  }
  return true;
}

bool TagIs(const char tag[4], const char* want) { return std::memcmp(tag, want, 4) == 0; }

// The tag of the chunk after one of `previous` bytes. RIFF pads a chunk of
// odd length with a zero byte, which some writers leave out; a chunk tag
// never starts with 0, so a zero there is the pad and is passed over.
bool ReadNextTag(TStream* stream, uint32_t previous, char tag[4]) {
  if (!ReadTag(stream, tag)) return false;
  if ((previous & 1) == 0 || tag[0] != 0) return true;
  std::memmove(tag, tag + 1, 3);
  return stream->Read(tag + 3, 1) == 1;
}

// Reads `bytes` bytes into the sample, growing it as the data arrives when
// the stream cannot say how much it holds. False when the data runs out.
bool ReadData(TStream* stream, TAudioSample* sample, int32_t bytes) {
  int32_t got = 0;
  while (got < bytes) {
    if (got == sample->capacity) {
      int64_t grown = std::min<int64_t>(int64_t(sample->capacity) * 2, bytes);
      void* p = vrRawRealloc(sample->samples, std::size_t(sample->capacity), std::size_t(grown));
      if (!p) throw std::bad_alloc();
      sample->samples = static_cast<uint8_t*>(p);
      sample->capacity = int32_t(grown);
    }
    int32_t n = stream->Read(sample->samples + got, sample->capacity - got);
    if (n <= 0) return false;
    got += n;
  }
  return true;
}

}  // namespace

Ref<TAudioSample> TAudioSampleLoaderWAV::LoadAudioSample(TStream* raw) {
  Ref<TStream> stream = TXEndianStream::LittleEndian(raw);
  if (stream.IsNull()) return nullptr;
  char tag[4];
  if (!ReadTag(stream, tag) || !TagIs(tag, "RIFF")) return nullptr;
  stream->ReadInt();
  if (!ReadTag(stream, tag) || !TagIs(tag, "WAVE")) return nullptr;
  if (!ReadTag(stream, tag) || !TagIs(tag, "fmt ")) return nullptr;
  uint32_t fmtSize = uint32_t(stream->ReadInt());
  int32_t formatTag = stream->ReadShort();
  int32_t channels = stream->ReadShort();
  int32_t hertz = stream->ReadInt();
  stream->ReadInt();    // byte rate
  stream->ReadShort();  // block align
  int32_t bits = stream->ReadShort();
  if (formatTag != 1) return nullptr;
  int32_t format = 0;
  if (bits == 8 && channels == 1)
    format = SAMPLE_MONO8;
  else if (bits == 8 && channels == 2)
    format = SAMPLE_STEREO8;
  else if (bits == 16 && channels == 1)
    format = SAMPLE_MONO16LE;
  else if (bits == 16 && channels == 2)
    format = SAMPLE_STEREO16LE;
  else
    return nullptr;
  // The stream's bytes are at most 2^31 - 1, so a longer skip or data chunk
  // cannot be present.
  constexpr uint32_t kMaxBytes = limits::kSampleBytes;
  if (fmtSize > 16) {
    if (fmtSize - 16 > kMaxBytes) return nullptr;
    stream->SkipBytes(int32_t(fmtSize - 16));
  }
  uint32_t previous = fmtSize;
  while (!stream->Eof()) {
    if (!ReadNextTag(stream, previous, tag)) return nullptr;
    uint32_t size = uint32_t(stream->ReadInt());
    if (size > kMaxBytes) return nullptr;
    if (!TagIs(tag, "data")) {
      stream->SkipBytes(int32_t(size));
      previous = size;
      continue;
    }
    // Whole frames only: a trailing partial frame is not read.
    int32_t frames = int32_t(size) / SampleBytes[format];
    int32_t bytes = frames * SampleBytes[format];
    // Never allocate for data the stream does not hold: when the stream knows
    // its size, a longer chunk is refused at once; otherwise the sample grows
    // with the data that actually arrives.
    int32_t pos = stream->Pos();
    int32_t total = stream->Size();
    bool sized = pos >= 0 && total >= pos;
    if (sized && bytes > total - pos) return nullptr;
    int32_t first = sized ? frames : std::min(frames, (1 << 20) / SampleBytes[format]);
    Ref<TAudioSample> sample = TAudioSample::Create(first, hertz, format);
    if (!ReadData(stream, sample, bytes)) return nullptr;
    sample->length = frames;
    return sample;
  }
  return nullptr;
}

}  // namespace vrl

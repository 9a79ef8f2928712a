#include "audio/AudioSample.h"

#include <cstring>
#include <limits>
#include <new>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/LoaderChain.h"
#include "stream/Stream.h"
#include "stream/StreamCloser.h"

namespace vrl {

const int32_t SampleBytes[7] = {0, 1, 2, 2, 2, 4, 4};
const int32_t SampleChannels[7] = {0, 1, 1, 1, 2, 2, 2};

const ClassRecord& TAudioSample::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAudioSample>("TAudioSample", [](auto& d) {
    d.template Field<&TAudioSample::samples>("samples");
    d.template Field<&TAudioSample::length>("length");
    d.template Field<&TAudioSample::hertz>("hertz");
    d.template Field<&TAudioSample::format>("format");
    d.template Field<&TAudioSample::capacity>("capacity");
    d.template Method<&TAudioSample::Copy>("Copy");
    d.template Method<&TAudioSample::Convert>("Convert");
    d.template Function<&TAudioSample::Create>("Create");
    d.template Function<&TAudioSample::CreateStatic>("CreateStatic");
  });
  return record;
}

const ClassRecord& TAudioSampleLoader::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TAudioSampleLoader>("TAudioSampleLoader", [](auto& d) {
    d.template Field<&TAudioSampleLoader::_succ>("_succ");
    d.template Method<&TAudioSampleLoader::LoadAudioSample>("LoadAudioSample");
  });
  return record;
}

void audiosample::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(TAudioSample::StaticClass());
  vrRegisterClass(TAudioSampleLoader::StaticClass());
}

namespace {

// The loader chain lives for the whole run.
Ref<TAudioSampleLoader>& ChainHead() {
  static auto* head = new Ref<TAudioSampleLoader>;
  return *head;
}

[[noreturn]] void Unimplemented() { vrRuntimeError("Unimplemented sample format conversion"); }

// One frame into the pivot (big-endian stereo 16-bit): four bytes at `out`.
void ToPivot(const uint8_t* src, int32_t format, uint8_t* out, int32_t count) {
  switch (format) {
    case SAMPLE_MONO8:
      for (int32_t i = 0; i < count; ++i, out += 4) {
        uint8_t u = src[i];
        out[0] = out[2] = uint8_t(u - 128);
        out[1] = out[3] = u;
      }
      break;
    case SAMPLE_MONO16LE:
      for (int32_t i = 0; i < count; ++i, src += 2, out += 4) {
        out[0] = out[2] = src[1];
        out[1] = out[3] = src[0];
      }
      break;
    case SAMPLE_MONO16BE:
      for (int32_t i = 0; i < count; ++i, src += 2, out += 4) {
        out[0] = out[2] = src[0];
        out[1] = out[3] = src[1];
      }
      break;
    case SAMPLE_STEREO8:
      for (int32_t i = 0; i < count; ++i, src += 2, out += 4) {
        out[0] = uint8_t(src[0] - 128);
        out[1] = src[0];
        out[2] = uint8_t(src[1] - 128);
        out[3] = src[1];
      }
      break;
    case SAMPLE_STEREO16LE:
      for (int32_t i = 0; i < count; ++i, src += 4, out += 4) {
        out[0] = src[1];
        out[1] = src[0];
        out[2] = src[3];
        out[3] = src[2];
      }
      break;
    default:
      Unimplemented();
  }
}

int32_t PivotValue(const uint8_t* p) { return int16_t(uint16_t(p[0] << 8 | p[1])); }

// (v + 32768) / 257: -32768 gives 0, 32767 gives 255.
uint8_t To8(int32_t v) { return uint8_t((v + 32768) / 257); }

void FromPivot(const uint8_t* src, uint8_t* dst, int32_t format, int32_t count) {
  switch (format) {
    case SAMPLE_MONO8:
      for (int32_t i = 0; i < count; ++i, src += 4) {
        int32_t m = (PivotValue(src) + PivotValue(src + 2)) / 2;  // truncates toward zero
        dst[i] = To8(m);
      }
      break;
    case SAMPLE_MONO16LE:
    case SAMPLE_MONO16BE:
      for (int32_t i = 0; i < count; ++i, src += 4, dst += 2) {
        auto m = uint16_t((PivotValue(src) + PivotValue(src + 2)) / 2);
        if (format == SAMPLE_MONO16LE) {
          dst[0] = uint8_t(m);
          dst[1] = uint8_t(m >> 8);
        } else {
          dst[0] = uint8_t(m >> 8);
          dst[1] = uint8_t(m);
        }
      }
      break;
    case SAMPLE_STEREO8:
      for (int32_t i = 0; i < count; ++i, src += 4, dst += 2) {
        dst[0] = To8(PivotValue(src));
        dst[1] = To8(PivotValue(src + 2));
      }
      break;
    case SAMPLE_STEREO16LE:
      for (int32_t i = 0; i < count; ++i, src += 4, dst += 4) {
        dst[0] = src[1];
        dst[1] = src[0];
        dst[2] = src[3];
        dst[3] = src[2];
      }
      break;
    default:
      Unimplemented();
  }
}

}  // namespace

void CopySampleData(const uint8_t* src, uint8_t* dst, int32_t format, int32_t count) {
  if (!IsSampleFormat(format)) Unimplemented();
  if (count > 0) std::memcpy(dst, src, std::size_t(count) * std::size_t(SampleBytes[format]));
}

void ConvertSampleData(const uint8_t* src, int32_t srcFormat, uint8_t* dst, int32_t dstFormat,
                       int32_t count) {
  if (!IsSampleFormat(srcFormat) || !IsSampleFormat(dstFormat)) Unimplemented();
  if (count <= 0) return;
  if (srcFormat == dstFormat) {
    CopySampleData(src, dst, srcFormat, count);
  } else if (dstFormat == SAMPLE_STEREO16BE) {
    ToPivot(src, srcFormat, dst, count);
  } else if (srcFormat == SAMPLE_STEREO16BE) {
    FromPivot(src, dst, dstFormat, count);
  } else {
    // Through the pivot in pieces: the same bytes as one temporary of
    // count * 4 bytes, without its size.
    constexpr int32_t kPiece = 4096;
    uint8_t pivot[kPiece * 4];
    for (int32_t done = 0; done < count; done += kPiece) {
      int32_t n = count - done < kPiece ? count - done : kPiece;
      ToPivot(src + std::ptrdiff_t(done) * SampleBytes[srcFormat], srcFormat, pivot, n);
      FromPivot(pivot, dst + std::ptrdiff_t(done) * SampleBytes[dstFormat], dstFormat, n);
    }
  }
}

// ---------------------------------------------------------------------------

TAudioSample::~TAudioSample() {
  if (capacity >= 0 && samples) vrRawFree(samples);
}

Ref<TAudioSample> TAudioSample::Create(int32_t length, int32_t hertz, int32_t format) {
  if (!IsSampleFormat(format)) vrRuntimeError("Invalid sample format");
  if (length < 0) vrRuntimeError("Invalid sample length");
  int64_t bytes = int64_t(length) * SampleBytes[format];
  if (bytes > std::numeric_limits<int32_t>::max()) vrRuntimeError("Sample too large");
  Ref<TAudioSample> sample = New<TAudioSample>();
  if (bytes > 0) {
    sample->samples = static_cast<uint8_t*>(vrRawAlloc(std::size_t(bytes)));
    if (!sample->samples) throw std::bad_alloc();
  }
  sample->length = length;
  sample->hertz = hertz;
  sample->format = format;
  sample->capacity = int32_t(bytes);
  return sample;
}

Ref<TAudioSample> TAudioSample::CreateStatic(uint8_t* samples, int32_t length, int32_t hertz,
                                             int32_t format) {
  if (!IsSampleFormat(format)) vrRuntimeError("Invalid sample format");
  if (length < 0) vrRuntimeError("Invalid sample length");
  Ref<TAudioSample> sample = New<TAudioSample>();
  sample->samples = samples;
  sample->length = length;
  sample->hertz = hertz;
  sample->format = format;
  sample->capacity = -1;
  return sample;
}

Ref<TAudioSample> TAudioSample::Copy() {
  Ref<TAudioSample> copy = Create(length, hertz, format);
  CopySampleData(samples, copy->samples, format, length);
  return copy;
}

Ref<TAudioSample> TAudioSample::Convert(int32_t newFormat) {
  if (!IsSampleFormat(newFormat) || !IsSampleFormat(format)) Unimplemented();
  Ref<TAudioSample> converted = Create(length, hertz, newFormat);
  ConvertSampleData(samples, format, converted->samples, newFormat, length);
  return converted;
}

// ---------------------------------------------------------------------------

TAudioSampleLoader::TAudioSampleLoader() {
  _succ = ChainHead();
  ChainHead() = this;
}

Ref<TAudioSample> TAudioSampleLoader::LoadAudioSample(TStream*) { ThrowNullMethodException(); }

TAudioSampleLoader* AudioSampleLoaders() { return ChainHead().get(); }

Ref<TAudioSample> ReadAudioSample(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return nullptr;
  if (stream->Pos() == -1) {
    // The stream is ours to close on this way out too; the error reported is
    // this one, not a failed close.
    StreamCloser closer(stream);
    vrRuntimeError("Stream is not seekable");
  }
  return LoadFromChain(stream.get(), ChainHead().get(),
                       [](TAudioSampleLoader* loader, TStream* in) { return loader->LoadAudioSample(in); });
}

Ref<TAudioSample> NewAudioSample(int32_t length, int32_t hertz, int32_t format) {
  return TAudioSample::Create(length, hertz, format);
}

Ref<TAudioSample> NewStaticAudioSample(uint8_t* samples, int32_t length, int32_t hertz, int32_t format) {
  return TAudioSample::CreateStatic(samples, length, hertz, format);
}

}  // namespace vrl

// Audio samples: blocks of interleaved PCM frames with a rate and a format
// code, conversion between the six formats, and the chain of sample loaders
// through which samples are read from streams (module vrl.audiosample).
//
// The byte size of a sample's data is length * SampleBytes[format]. A sample
// made with Create owns its memory (capacity >= 0, the bytes allocated, which
// may exceed the data when a loader ended early) and frees it when it is
// destroyed; one made with CreateStatic views memory that the caller owns and
// keeps valid (capacity -1).
#pragma once

#include <cstdint>

#include "runtime/Object.h"

namespace vrl {

class TStream;

enum : int32_t {
  SAMPLE_MONO8 = 1,       // unsigned 8-bit, silence 128
  SAMPLE_MONO16LE = 2,    // signed 16-bit little-endian
  SAMPLE_MONO16BE = 3,    // signed 16-bit big-endian
  SAMPLE_STEREO8 = 4,     // left, right; unsigned 8-bit each
  SAMPLE_STEREO16LE = 5,  // left, right; signed 16-bit little-endian each
  SAMPLE_STEREO16BE = 6,  // left, right; signed 16-bit big-endian each
};

/// Indexed by format code 0..6: bytes per frame and channels per frame.
extern const int32_t SampleBytes[7];
extern const int32_t SampleChannels[7];

/// True for the codes 1 to 6.
inline bool IsSampleFormat(int32_t format) { return format >= SAMPLE_MONO8 && format <= SAMPLE_STEREO16BE; }

class TAudioSample : public Object {
  VRL_CLASS(TAudioSample, Object)
  ~TAudioSample() override;

  /// A new owned sample with the same length, rate and format; data copied.
  virtual Ref<TAudioSample> Copy();
  /// A new owned sample in `format`; the data converted through the
  /// big-endian stereo pivot. Throws "Unimplemented sample format conversion"
  /// for a code outside 1..6.
  virtual Ref<TAudioSample> Convert(int32_t format);

  /// Allocates length * SampleBytes[format] bytes (16-byte aligned, not
  /// cleared). Throws a runtime error for an invalid format, a negative length
  /// or a size beyond 2^31 - 1 bytes; std::bad_alloc when memory runs out.
  static Ref<TAudioSample> Create(int32_t length, int32_t hertz, int32_t format);
  /// Wraps caller memory without copying; the sample never frees it.
  static Ref<TAudioSample> CreateStatic(uint8_t* samples, int32_t length, int32_t hertz, int32_t format);

  /// The bytes of the data: length * SampleBytes[format].
  int64_t DataBytes() const { return int64_t(length) * SampleBytes[IsSampleFormat(format) ? format : 0]; }

  uint8_t* samples = nullptr;
  int32_t length = 0;
  int32_t hertz = 0;
  int32_t format = 0;
  int32_t capacity = 0;  // bytes owned at samples; -1 for memory owned elsewhere
};

/// Reads samples from streams. Constructing a loader links it in at the head
/// of the chain, so the loader made last is asked first. Loaders live for the
/// whole run.
class TAudioSampleLoader : public Object {
  VRL_CLASS(TAudioSampleLoader, Object)
  TAudioSampleLoader();
  /// A sample from the stream at its current position, or Null when the data
  /// is not this loader's format. May read any amount: the chain rewinds.
  virtual Ref<TAudioSample> LoadAudioSample(TStream* stream);

  /// The next loader of the chain (nullptr after the last).
  TAudioSampleLoader* Next() const { return _succ.get(); }

 private:
  friend struct LoaderLink;  // the chain's walk (stream/LoaderChain.h)

  Ref<TAudioSampleLoader> _succ;
};

/// The head of the loader chain (nullptr when none is registered).
TAudioSampleLoader* AudioSampleLoaders();

/// Module functions.
Ref<TAudioSample> NewAudioSample(int32_t length, int32_t hertz, int32_t format);
Ref<TAudioSample> NewStaticAudioSample(uint8_t* samples, int32_t length, int32_t hertz, int32_t format);
/// Opens `url` (anything the stream factories accept) and asks each loader in
/// turn, rewinding the stream before each. A stream exception inside a loader
/// counts as a refusal; other exceptions propagate. Null when the url does not
/// open or no loader accepts the data; throws "Stream is not seekable" for a
/// stream without a position (after closing it). The stream opened is closed
/// on every way out.
Ref<TAudioSample> ReadAudioSample(Object* url);

/// Copies count * SampleBytes[format] bytes.
void CopySampleData(const uint8_t* src, uint8_t* dst, int32_t format, int32_t count);
/// Converts `count` frames; the two areas must not overlap.
void ConvertSampleData(const uint8_t* src, int32_t srcFormat, uint8_t* dst, int32_t dstFormat, int32_t count);

namespace audiosample {
/// Registers the sample classes. The loaders are modules of their own
/// (oggloader, wavloader); a program initialises them in the order that its
/// chain should have reversed: Ogg first, then WAV, so that WAV is asked first.
void Init();
}  // namespace audiosample

}  // namespace vrl

// The Ogg Vorbis sample loader: decodes the whole first logical stream into
// one 16-bit little-endian sample, mono or stereo (module oggloader).
#pragma once

#include "audio/AudioSample.h"

namespace vrl {

/// Null when the data is not Ogg Vorbis, when it has more than two channels
/// (no sample format holds them), or when vorbisfile reports a decoding
/// error. Data that ends before the length its last page claims gives the
/// shorter sample actually decoded. Memory grows with the decoded data, so a
/// stream that claims an absurd length cannot make the loader allocate for it.
class TAudioSampleLoaderOGG : public TAudioSampleLoader {
  VRL_CLASS(TAudioSampleLoaderOGG, TAudioSampleLoader)
  Ref<TAudioSample> LoadAudioSample(TStream* stream) override;
};

namespace oggloader {
/// Registers the class and enrols one loader at the head of the chain.
void Init();
}  // namespace oggloader

}  // namespace vrl

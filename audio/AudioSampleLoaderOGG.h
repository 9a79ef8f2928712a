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
/// A long stream whose bytes can be read whole is decoded in pieces on
/// several threads, with exactly the samples of a straight decode.
class TAudioSampleLoaderOGG : public TAudioSampleLoader {
  VRL_CLASS(TAudioSampleLoaderOGG, TAudioSampleLoader)
  Ref<TAudioSample> LoadAudioSample(TStream* stream) override;
};

namespace oggloader {
/// Registers the class and enrols one loader at the head of the chain.
void Init();
/// How many threads decode one stream, the calling one included: 1 decodes
/// straight through on the calling thread; 0 (the default) takes one per
/// core, at most four. Set on the main thread between loads.
void SetDecodeThreads(int32_t threads);
/// Starts decoding the Ogg Vorbis data at `url` on other threads (one fewer
/// than DecodeThreads, leaving the caller a core), so that the next Ogg load
/// takes its samples from there when it reads the very same bytes, decoding
/// on its own thread only what is not done yet. A load of
/// other bytes discards the prefetch; what a load gives never changes. Does
/// nothing for data that cannot be decoded in pieces, and reports no failure:
/// the load meets it again.
void PrefetchAudioSample(Object* url);
/// The threads a load uses now.
int32_t DecodeThreads();
/// How many pieces the last Ogg load put together from several threads; 0
/// when it decoded straight through (or decoded nothing).
int32_t LastDecodePieces();
}  // namespace oggloader

}  // namespace vrl

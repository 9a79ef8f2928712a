// The RIFF WAVE sample loader: uncompressed PCM, 8 or 16 bits, mono or
// stereo (module wavloader).
#pragma once

#include "audio/AudioSample.h"

namespace vrl {

/// Reads "RIFF", "WAVE" and a "fmt " chunk straight after it, then walks the
/// chunks to "data", with or without the pad byte after a chunk of odd
/// length (RIFF asks for it; some writers leave it out). Null for anything
/// else: another
/// format tag than 1, other sample sizes or channel counts, a chunk between
/// "WAVE" and "fmt ", no "data" chunk, or a "data" chunk that claims more
/// bytes than the stream holds.
class TAudioSampleLoaderWAV : public TAudioSampleLoader {
  VRL_CLASS(TAudioSampleLoaderWAV, TAudioSampleLoader)
  Ref<TAudioSample> LoadAudioSample(TStream* stream) override;
};

namespace wavloader {
/// Registers the class and enrols one loader at the head of the chain.
void Init();
}  // namespace wavloader

}  // namespace vrl

// A thin binding of vorbisfile over a framework stream: the decoder reads
// the stream through four callbacks (read, seek, close, tell) that call the
// stream's own operations.
//
// No C++ exception crosses vorbisfile's frames: a throw inside a callback is
// caught, the callback reports failure to vorbisfile, and the exception is
// thrown again once vorbisfile has returned (from OggDecoderOpen or
// OggDecoderRead, after the decoder has been closed).
#pragma once

#include <cstdint>

namespace vrl {
class TStream;
}

namespace pub {

struct OggDecoder;

/// Opens a decoder on `stream` (which must outlive it). On success returns it
/// with the total PCM frames of logical stream 0 and the channels and rate of
/// the current stream; nullptr when the data is not Ogg Vorbis.
OggDecoder* OggDecoderOpen(vrl::TStream* stream, int64_t* frames, int32_t* channels, int32_t* hertz);
/// Decodes signed 16-bit little-endian PCM of the first logical stream into
/// `buffer` until `bytes` bytes have arrived. Returns the bytes decoded (fewer
/// when the data ends early or the next logical stream begins), or -1 when
/// vorbisfile reports an error. With a null buffer it closes the decoder and
/// frees it, returning 0.
int64_t OggDecoderRead(OggDecoder* decoder, void* buffer, int64_t bytes);

}  // namespace pub

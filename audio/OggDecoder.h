// A thin binding of vorbisfile over a framework stream: the decoder reads
// the stream through four callbacks (read, seek, close, tell) that call the
// stream's own operations. A decoder may instead read bytes in memory; it
// then calls no framework code at all, so it may run on any thread.
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
/// the current stream; nullptr when the data is not Ogg Vorbis or the stream
/// cannot tell its size (vorbisfile needs the end to find the length).
OggDecoder* OggDecoderOpen(vrl::TStream* stream, int64_t* frames, int32_t* channels, int32_t* hertz);
/// Opens a decoder on the `size` bytes at `bytes` (which must outlive it), read
/// from `start` on and seeked in as a stream over the same bytes would be, so
/// that it gives exactly what OggDecoderOpen gives on such a stream.
OggDecoder* OggDecoderOpenMemory(const void* bytes, int64_t size, int64_t start, int64_t* frames,
                                 int32_t* channels, int32_t* hertz);
/// True when the decoder can move to any frame exactly: its data can seek and
/// holds one logical stream.
bool OggDecoderCanSeek(OggDecoder* decoder);
/// Moves to `frame` of the first logical stream, so that the next read starts
/// exactly there (vorbisfile decodes the blocks before it to prime the
/// overlap). False when vorbisfile refuses.
bool OggDecoderSeek(OggDecoder* decoder, int64_t frame);
/// Where the next read starts, by vorbisfile's own bookkeeping: the PCM frame
/// and the byte offset of the data it has consumed (-1 when it cannot tell).
int64_t OggDecoderFrameTell(OggDecoder* decoder);
int64_t OggDecoderByteTell(OggDecoder* decoder);
/// Decodes signed 16-bit little-endian PCM of the first logical stream into
/// `buffer` until `bytes` bytes have arrived. Returns the bytes decoded (fewer
/// when the data ends early or the next logical stream begins), or -1 when
/// vorbisfile reports an error. With a null buffer it closes the decoder and
/// frees it, returning 0.
int64_t OggDecoderRead(OggDecoder* decoder, void* buffer, int64_t bytes);

}  // namespace pub

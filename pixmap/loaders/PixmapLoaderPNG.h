// The PNG loader and writer, over libpng.
//
// Reading expands palettes, low bit depths and transparency chunks and
// strips 16-bit channels to 8 bits, so every PNG reads as 8-bit grey
// (format 1), RGB (format 4), RGBA (format 6), or grey with alpha, which
// becomes format 6 with R = G = B = grey. Pictures above 16384 pixels a side
// or 2^26 pixels, and pictures whose stored rows a stream of known length
// could not inflate to (deflate's 1032 to 1), are refused before anything
// is allocated for them.
//
// libpng reports fatal errors by a long jump, so no C++ exception may pass
// through its frames: a throw from the stream inside a callback is caught
// there, libpng is stopped through its own error path, and the throw is
// raised again once libpng's structures are gone and the stream is closed.
//
// Each call keeps its own decoder state, but the streams and pixmaps
// involved belong to the calling thread.
#pragma once

#include <cstdint>

#include "pixmap/Pixmap.h"

namespace vrl {

class TPixmapLoaderPNG : public TPixmapLoader {
  VRL_CLASS(TPixmapLoaderPNG, TPixmapLoader)
  /// LoadPixmapPNG(stream).
  Ref<TPixmap> LoadPixmap(TStream* stream) override;
};

/// Reads a PNG from a URL or a stream (a stream is read through a wrapper, so
/// it stays open). Null when it cannot be opened, is not a PNG, or libpng
/// cannot decode it. A stream exception raised while libpng reads (data that
/// ends early) is raised again to the caller; the loader chain takes it as a
/// refusal.
Ref<TPixmap> LoadPixmapPNG(Object* url);

/// Writes the pixmap as an 8-bit PNG: format 1 as grey, 3 and 4 as RGB, 5 and
/// 6 as RGBA, any other format converted to 6 first. The level (0 to 9,
/// clamped) is zlib's compression level. 1 on success; 0 when the URL cannot
/// be opened for writing, libpng fails, or the stream loses the data (a
/// failed flush or close); a file is replaced only by the complete picture
/// (stream/AtomicFile.h), so a failed save leaves it as it was. A Null pixmap
/// throws TNullObjectException before anything is opened; an exception from the stream (TStreamWriteException
/// for a short write) is raised again after clean-up.
int32_t SavePixmapPNG(TPixmap* pixmap, Object* url, int32_t level);

namespace pngloader {
/// Registers the class and puts the PNG loader at the head of the chain.
void Init();
}  // namespace pngloader

}  // namespace vrl

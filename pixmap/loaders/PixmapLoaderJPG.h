// The JPEG loader and writer, over libjpeg (the 6b interface, as
// libjpeg-turbo provides it).
//
// Reading gives format 1 for grey pictures and format 4 for colour ones;
// pictures with other component counts (CMYK among them) are refused, as
// are pictures above 16384 pixels a side or 2^26 pixels, or with more
// pixels than a stream of known length can carry (512 a byte: every 8 x 8
// block costs at least a bit), before libjpeg allocates anything for their
// pixels. libjpeg's own memory is held to what the stream's length allows.
// Data that ends early decodes as far as it goes.
//
// libjpeg reports fatal errors through a handler that must not return; ours
// long-jumps back to the glue. No C++ exception passes through libjpeg's
// frames: a throw from the stream inside a callback is caught there, libjpeg
// is stopped through its error path, and the throw is raised again after
// libjpeg's structures are destroyed and the stream is closed.
//
// Each call keeps its own decoder state, but the streams and pixmaps
// involved belong to the calling thread.
#pragma once

#include <cstdint>

#include "pixmap/Pixmap.h"

namespace vrl {

class TPixmapLoaderJPG : public TPixmapLoader {
  VRL_CLASS(TPixmapLoaderJPG, TPixmapLoader)
  /// LoadPixmapJPG(stream).
  Ref<TPixmap> LoadPixmap(TStream* stream) override;
};

/// Reads a JPEG from a URL or a stream (a stream is read through a wrapper,
/// so it stays open). Null when it cannot be opened or decoded.
Ref<TPixmap> LoadPixmapJPG(Object* url);

/// Writes the pixmap (converted to format 4) as a baseline JPEG of the given
/// quality (1 to 100). 1 on success; 0 when the URL cannot be opened for
/// writing, libjpeg fails (a short write among the causes), or the stream
/// loses the data (a failed close). A file is replaced only by the complete
/// picture (stream/AtomicFile.h): a failed save leaves it as it was. A Null
/// pixmap throws TNullObjectException before anything is opened.
int32_t SavePixmapJPG(TPixmap* pixmap, Object* url, int32_t quality);

namespace jpgloader {
/// Registers the class and puts the JPEG loader at the head of the chain.
void Init();
}  // namespace jpgloader

}  // namespace vrl

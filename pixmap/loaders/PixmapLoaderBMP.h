// The BMP loader: Windows bitmaps of 1, 4, 8, 24 or 32 bits a pixel, with
// the 40-byte info header or any that extends it (OS/2 2.x, V4, V5).
// Stored rows, RLE8 and RLE4 data, and 32-bit bit fields whose masks are
// whole bytes are decoded; rows are bottom up, or top first for a negative
// height. 32-bit pictures become format 5 (the fourth byte kept as alpha,
// except that a file whose alpha bytes are all 0 is opaque), all others
// format 3. The palette follows the info header, the rows start at the
// file's pixel data offset (after the palette when the offset points before
// its end).
#pragma once

#include "pixmap/Pixmap.h"

namespace vrl {

class TPixmapLoaderBMP : public TPixmapLoader {
  VRL_CLASS(TPixmapLoaderBMP, TPixmapLoader)
  /// Null for data that is not such a BMP: no "BM", a smaller info header,
  /// another bit count or compression, masks that are not whole bytes, a
  /// width or height of 0, a picture above 16384 pixels a side or 2^26
  /// pixels, a palette longer than the bit count allows, more pixel data than
  /// the rest of a stream of known length holds (byte for byte, or at 128
  /// pixels a byte for run-length data), or a run or delta that leaves the
  /// picture. A stream that ends early raises TStreamReadException (the
  /// chain's refusal).
  Ref<TPixmap> LoadPixmap(TStream* stream) override;
};

namespace bmploader {
/// Registers the class and puts the BMP loader at the head of the chain.
void Init();
}  // namespace bmploader

}  // namespace vrl

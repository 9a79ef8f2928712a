// The BMP loader: uncompressed bottom-up Windows bitmaps of 1, 4, 8, 24 or
// 32 bits a pixel with the 40-byte info header. 32-bit pictures become
// format 5 (the fourth byte kept as alpha), all others format 3. The palette
// and the rows are read straight after the 54 header bytes; the header's
// pixel data offset and compression are not consulted.
#pragma once

#include "pixmap/Pixmap.h"

namespace vrl {

class TPixmapLoaderBMP : public TPixmapLoader {
  VRL_CLASS(TPixmapLoaderBMP, TPixmapLoader)
  // Null for data that is not such a BMP: no "BM", another bit count,
  // a width or height below 1 (top-down bitmaps among them), a picture above
  // 16384 pixels a side or 2^26 pixels, or a palette longer than the bit
  // count allows. A stream that ends early raises TStreamReadException (the
  // chain's refusal).
  Ref<TPixmap> LoadPixmap(TStream* stream) override;
};

namespace bmploader {
// Registers the class and puts the BMP loader at the head of the chain.
void Init();
}  // namespace bmploader

}  // namespace vrl

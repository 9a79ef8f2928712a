// The TGA loader: uncompressed (type 2) and run-length (type 10) true-colour
// pictures of 15, 16, 24 or 32 bits a pixel, up to 4096 pixels a side.
// 15- and 24-bit pictures become format 4, 16- and 32-bit ones format 6.
// The header's origin bits say where the first stored pixel goes: the
// bottom left corner unless bit 5 (top) or bit 4 (right) is set.
#pragma once

#include <cstdint>

#include "pixmap/Pixmap.h"

namespace vrl {

/// The TGA file header as read.
class tgahdr : public Object {
  VRL_CLASS(tgahdr, Object)
  uint8_t idlen = 0;
  uint8_t colourmaptype = 0;
  uint8_t imgtype = 0;
  uint8_t indexlo = 0;
  uint8_t indexhi = 0;
  uint8_t lenlo = 0;
  uint8_t lenhi = 0;
  uint8_t cosize = 0;
  uint16_t x0 = 0;
  uint16_t y0 = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t psize = 0;    // bits per pixel
  uint8_t attbits = 0;  // bits 0-3 alpha depth, 4 right to left, 5 top first
};

class TPixmapLoaderTGA : public TPixmapLoader {
  VRL_CLASS(TPixmapLoaderTGA, TPixmapLoader)
  /// Null for data that is not a TGA this loader decodes: a colour map, a
  /// colour-mapped image (type 1), another pixel size, a side outside
  /// 1..4096, more pixels than the rest of a stream of known length can hold
  /// (byte for byte, or at 128 to 1 for run-length data), or a run-length
  /// packet that crosses the end of a row. A stream
  /// that ends early raises TStreamReadException (the chain's refusal).
  Ref<TPixmap> LoadPixmap(TStream* stream) override;
};

namespace tgaloader {
/// Registers the classes and puts the TGA loader at the head of the chain.
void Init();
}  // namespace tgaloader

}  // namespace vrl

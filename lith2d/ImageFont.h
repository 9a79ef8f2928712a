// Text drawn as a sequence of small images, one per glyph: from the built-in
// 8 x 16 bitmap font (the embedded "vorlfont.bin") or from a font that the
// font loaders deliver. Glyph images are made the first time each glyph is
// used.
#pragma once

#include <cstdint>

#include "lith2d/Font.h"
#include "lith2d/Image.h"

namespace vrl {

class TImageGlyph : public Object {
  VRL_CLASS(TImageGlyph, Object)
 public:
  Ref<TImage> Pixels() { return _image; }
  float Advance() { return _advance; }
  void GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height);

 private:
  friend class TImageFont;  // makes the glyphs

  Ref<TImage> _image;
  float _advance = 0;
  int32_t _x = 0, _y = 0, _w = 0, _h = 0;
};

class TImageFont : public Object {
  VRL_CLASS(TImageFont, Object)
 public:
  int32_t Style();
  int32_t Height();
  int32_t CountGlyphs();
  int32_t CharToGlyph(int32_t character);
  Ref<TImageGlyph> LoadGlyph(int32_t index);
  /// Draws the text with its pen at (x, y); the matrix is the current
  /// transform, which the frames apply to each glyph's corners.
  void Draw(String* text, float x, float y, float ix, float iy, float jx, float jy);

  static Ref<TImageFont> Load(Object* url, int32_t size, int32_t style);
  /// The built-in font: characters 32 to 127, 8 x 16, unfiltered.
  static Ref<TImageFont> CreateDefault();

 private:
  Ref<TFont> _src_font;
  Ref<Array> _glyphs;  // of TImageGlyph
  int32_t _imageFlags = 0;
};

}  // namespace vrl

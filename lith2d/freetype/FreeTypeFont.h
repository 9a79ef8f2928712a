// Scalable and bitmap font files through FreeType: a font loader that turns a
// file name or URL and a pixel size into a TFreeTypeFont, whose glyphs are
// rendered on first use into one-byte alpha pixmaps (PIXFMT_A8) for the image
// font (lith2d/ImageFont.h) to upload and draw.
//
// Hostile files: FreeType sees only a file it opens itself or a buffer that
// the stream layer has filled completely beforehand, so no stream call (and
// no C++ exception) ever runs inside FreeType's frames. A file FreeType
// refuses gives Null.
#pragma once

#include <cstdint>
#include <memory>

#include "lith2d/Font.h"
#include "pixmap/Pixmap.h"
#include "runtime/Array.h"

/// FreeType's handle types, without its headers.
struct FT_FaceRec_;

namespace vrl {

class TFreeTypeGlyph : public TGlyph {
  VRL_CLASS(TFreeTypeGlyph, TGlyph)
 public:
  /// The alpha pixmap; Null for an empty glyph (a space, a failed render).
  Ref<Object> Pixels() override { return _pixmap; }
  float Advance() override { return _advance; }
  void GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) override;

 private:
  friend class TFreeTypeFont;  // renders the glyphs

  Ref<TPixmap> _pixmap;
  float _advance = 0;  // whole pixels
  /// The pixmap's top-left corner from the pen, y down from the top of the
  /// line; the pixmap's size.
  int32_t _x = 0, _y = 0, _w = 0, _h = 0;
};

class TFreeTypeFont : public TFont {
  VRL_CLASS(TFreeTypeFont, TFont)
 public:
  ~TFreeTypeFont() override;
  TFreeTypeFont() = default;
  TFreeTypeFont(const TFreeTypeFont&) = delete;
  TFreeTypeFont& operator=(const TFreeTypeFont&) = delete;

  int32_t Style() override { return _style; }
  int32_t Height() override { return _height; }
  /// The size's ascender (above the baseline) and descender (below it,
  /// negative), in whole pixels.
  int32_t Ascender() const { return _ascend; }
  int32_t Descender() const { return _descend; }
  int32_t CountGlyphs() override { return _glyphs->Length(); }
  /// FreeType's glyph index minus one: -1 for a character the font lacks.
  int32_t CharToGlyph(int32_t character) override;
  /// The glyph of FreeType index `index` + 1, rendered once and cached. -1
  /// (a character the font lacks) is FreeType's glyph 0, the font's "missing"
  /// glyph; any other index outside the font gives an empty glyph.
  Ref<TGlyph> LoadGlyph(int32_t index) override;

  /// `src` a URL ("proto::path", read whole through the stream layer) or a
  /// file name; the largest pixel size not above `size` that the face offers.
  /// Null when the data is no font FreeType reads or it has no such size.
  static Ref<TFreeTypeFont> Load(Object* src, int32_t size, int32_t style);

 private:
  Ref<TFreeTypeGlyph> Render(int32_t freeTypeIndex);

  FT_FaceRec_* _ft_face = nullptr;
  int32_t _style = 0;
  int32_t _height = 0;
  int32_t _ascend = 0, _descend = 0;
  Ref<Array> _glyphs;  // of TFreeTypeGlyph, Null until loaded
  /// The file's bytes when it came from a URL (FreeType reads the face from
  /// them for as long as the face lives), else none.
  std::unique_ptr<uint8_t[]> _buf;
  int32_t _buf_size = 0;
  Ref<TFreeTypeGlyph> _missing;  // FreeType's glyph 0, once loaded
};

class TFreeTypeFontLoader : public TFontLoader {
  VRL_CLASS(TFreeTypeFontLoader, TFontLoader)
 public:
  /// TFreeTypeFont.Load when `url` is a non-empty string, else Null.
  Ref<TFont> LoadFont(Object* url, int32_t size, int32_t style) override;
};

namespace freetype {
/// Starts the font, pixmap and stream modules, registers the three classes and
/// puts one TFreeTypeFontLoader in the font loader chain.
void Init();
}  // namespace freetype

}  // namespace vrl

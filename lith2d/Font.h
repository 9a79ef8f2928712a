// Fonts as font loaders deliver them: glyph pixmaps with advances and
// offsets. The image font (lith2d/ImageFont.h) draws them.
#pragma once

#include <cstdint>

#include "runtime/Object.h"

namespace vrl {

struct LoaderLink;

inline constexpr int32_t FONTSTYLE_SMOOTH = 4;

class TGlyph : public Object {
  VRL_CLASS(TGlyph, Object)
 public:
  /// A TPixmap for a visible glyph.
  virtual Ref<Object> Pixels();
  virtual float Advance();
  virtual void GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height);
};

class TFont : public Object {
  VRL_CLASS(TFont, Object)
 public:
  virtual int32_t Style();
  virtual int32_t Height();
  virtual int32_t CountGlyphs();
  /// The glyph index of a character, negative when the font has none.
  virtual int32_t CharToGlyph(int32_t character);
  virtual Ref<TGlyph> LoadGlyph(int32_t index);
};

class TFontLoader : public Object {
  VRL_CLASS(TFontLoader, Object)
 public:
  virtual Ref<TFont> LoadFont(Object* url, int32_t size, int32_t style);

 private:
  friend struct LoaderLink;                             // the chain routines follow the link
  friend void RegisterFontLoader(TFontLoader* loader);  // links the chain

  Ref<TFontLoader> _succ;
};

/// Asks each registered loader, newest first; Null when none gives a font. A
/// stream exception inside a loader is its refusal; others propagate.
Ref<TFont> LoadFont(Object* url, int32_t size, int32_t style);
/// Puts the loader at the head of the chain unless it is already linked.
void RegisterFontLoader(TFontLoader* loader);

}  // namespace vrl

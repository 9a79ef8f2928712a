#include "lith2d/ImageFont.h"

#include "lith2d/Lith2D.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/EmbeddedFiles.h"

namespace vrl {

const ClassRecord& TImageGlyph::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TImageGlyph>("TImageGlyph", [](auto& d) {
    d.template Field<&TImageGlyph::_image>("_image");
    d.template Field<&TImageGlyph::_advance>("_advance");
    d.template Field<&TImageGlyph::_x>("_x");
    d.template Field<&TImageGlyph::_y>("_y");
    d.template Field<&TImageGlyph::_w>("_w");
    d.template Field<&TImageGlyph::_h>("_h");
    d.template Method<&TImageGlyph::Pixels>("Pixels");
    d.template Method<&TImageGlyph::Advance>("Advance");
    d.template Method<&TImageGlyph::GetRect>("GetRect");
  });
  return record;
}

const ClassRecord& TImageFont::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TImageFont>("TImageFont", [](auto& d) {
    d.template Field<&TImageFont::_src_font>("_src_font");
    d.template Field<&TImageFont::_glyphs>("_glyphs", "[]:TImageGlyph");
    d.template Field<&TImageFont::_imageFlags>("_imageFlags");
    d.template Method<&TImageFont::Style>("Style");
    d.template Method<&TImageFont::Height>("Height");
    d.template Method<&TImageFont::CountGlyphs>("CountGlyphs");
    d.template Method<&TImageFont::CharToGlyph>("CharToGlyph");
    d.template Method<&TImageFont::LoadGlyph>("LoadGlyph");
    d.template Method<&TImageFont::Draw>("Draw");
    d.template Function<&TImageFont::Load>("Load");
    d.template Function<&TImageFont::CreateDefault>("CreateDefault");
  });
  return record;
}

void TImageGlyph::GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  x = _x;
  y = _y;
  width = _w;
  height = _h;
}

int32_t TImageFont::Style() { return _src_font.IsNull() ? 0 : _src_font->Style(); }
int32_t TImageFont::Height() { return _src_font.IsNull() ? 16 : _src_font->Height(); }
int32_t TImageFont::CountGlyphs() { return _glyphs->Length(); }

int32_t TImageFont::CharToGlyph(int32_t character) {
  if (!_src_font.IsNull()) return _src_font->CharToGlyph(character);
  return character >= 32 && character < 128 ? character - 32 : -1;
}

Ref<TImageGlyph> TImageFont::LoadGlyph(int32_t index) {
  if (index < 0 || index >= _glyphs->Length()) return Ref<TImageGlyph>();
  if (auto* cached = CastRaw<TImageGlyph>(_glyphs->GetObject(index))) return Ref<TImageGlyph>(cached);
  Ref<TImageGlyph> glyph = New<TImageGlyph>();
  if (!_src_font.IsNull()) {
    Ref<TGlyph> source = _src_font->LoadGlyph(index);
    if (!source.IsNull()) {
      glyph->_advance = source->Advance();
      source->GetRect(glyph->_x, glyph->_y, glyph->_w, glyph->_h);
      Ref<Object> pixels = source->Pixels();
      if (auto* pixmap = CastRaw<TPixmap>(pixels)) {
        glyph->_image = TImage::Load(pixmap->Copy(), _imageFlags, 0, 0, 0);
      }
    }
  }
  _glyphs->SetObject(index, glyph);
  return glyph;
}

void TImageFont::Draw(String* text, float x, float y, float ix, float iy, float jx, float jy) {
  if (!text) return;
  for (int32_t i = 0; i < text->Length(); ++i) {
    int32_t index = CharToGlyph((*text)[i]);
    if (index < 0) continue;
    Ref<TImageGlyph> glyph = LoadGlyph(index);
    if (glyph.IsNull()) continue;
    if (!glyph->_image.IsNull()) {
      Ref<TImageFrame> frame = glyph->_image->Frame(0);
      if (!frame.IsNull()) {
        auto w = static_cast<float>(glyph->_image->Width());
        auto h = static_cast<float>(glyph->_image->Height());
        auto gx = static_cast<float>(glyph->_x), gy = static_cast<float>(glyph->_y);
        frame->Draw(0, 0, w, h, x + gx * ix + gy * iy, y + gx * jx + gy * jy, 0, 0, w, h);
      }
    }
    x += ix * glyph->_advance;
    y += jx * glyph->_advance;
  }
}

Ref<TImageFont> TImageFont::Load(Object* url, int32_t size, int32_t style) {
  Ref<TFont> font = LoadFont(url, size, style);
  if (font.IsNull()) return Ref<TImageFont>();
  Ref<TImageFont> imageFont = New<TImageFont>();
  imageFont->_src_font = font;
  imageFont->_glyphs = Array::New(":TImageGlyph", font->CountGlyphs());
  imageFont->_imageFlags = (style & FONTSTYLE_SMOOTH) ? IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED : 0;
  return imageFont;
}

Ref<TImageFont> TImageFont::CreateDefault() {
  Ref<TImageFont> font = New<TImageFont>();
  font->_glyphs = Array::New(":TImageGlyph", 96);
  // 16 rows of 96 bytes; byte j of row i is row i of character 32 + j,
  // bit 0 the leftmost pixel.
  const auto* bits = static_cast<const uint8_t*>(EmbeddedFilePointer(u"vorlfont.bin"_vs));
  bool complete = bits && EmbeddedFileLength(u"vorlfont.bin"_vs) >= 1536;
  Ref<TPixmap> sheet = NewPixmap(768, 16, PIXFMT_RGBA32, 4);
  for (int32_t i = 0; i < 16; ++i) {
    auto* row = reinterpret_cast<uint32_t*>(sheet->PixelPtr(0, i));
    for (int32_t j = 0; j < 96; ++j) {
      uint8_t byte = complete ? bits[i * 96 + j] : 0;
      for (int32_t k = 0; k < 8; ++k) row[8 * j + k] = (byte >> k) & 1 ? 0xFFFFFFFFu : 0u;
    }
  }
  sheet->MarkChanged();  // filled through PixelPtr
  for (int32_t j = 0; j < 96; ++j) {
    Ref<TImageGlyph> glyph = New<TImageGlyph>();
    glyph->_advance = 8.0f;
    glyph->_w = 8;
    glyph->_h = 16;
    glyph->_image = TImage::Load(sheet->Window(8 * j, 0, 8, 16)->Copy(), 0, 0, 0, 0);
    font->_glyphs->SetObject(j, glyph);
  }
  return font;
}

}  // namespace vrl

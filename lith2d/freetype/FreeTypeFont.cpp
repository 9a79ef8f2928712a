#include "lith2d/freetype/FreeTypeFont.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_OUTLINE_H
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "lith2d/Lith2D.h"
#include "runtime/Array.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/NativePath.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& TFreeTypeGlyph::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFreeTypeGlyph>("TFreeTypeGlyph", [](auto& d) {
    d.template Field<&TFreeTypeGlyph::_pixmap>("_pixmap");
    d.template Field<&TFreeTypeGlyph::_advance>("_advance");
    d.template Field<&TFreeTypeGlyph::_x>("_x");
    d.template Field<&TFreeTypeGlyph::_y>("_y");
    d.template Field<&TFreeTypeGlyph::_w>("_w");
    d.template Field<&TFreeTypeGlyph::_h>("_h");
    d.template Method<&TFreeTypeGlyph::Pixels>("Pixels");
    d.template Method<&TFreeTypeGlyph::Advance>("Advance");
    d.template Method<&TFreeTypeGlyph::GetRect>("GetRect");
  });
  return record;
}

const ClassRecord& TFreeTypeFont::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFreeTypeFont>("TFreeTypeFont", [](auto& d) {
    d.template Field<&TFreeTypeFont::_ft_face>("_ft_face");
    d.template Field<&TFreeTypeFont::_style>("_style");
    d.template Field<&TFreeTypeFont::_height>("_height");
    d.template Field<&TFreeTypeFont::_ascend>("_ascend");
    d.template Field<&TFreeTypeFont::_descend>("_descend");
    d.template Field<&TFreeTypeFont::_glyphs>("_glyphs", "[]:TFreeTypeGlyph");
    d.template Field<&TFreeTypeFont::_buf>("_buf");
    d.template Field<&TFreeTypeFont::_buf_size>("_buf_size");
    d.template Method<&TFreeTypeFont::Style>("Style");
    d.template Method<&TFreeTypeFont::Height>("Height");
    d.template Method<&TFreeTypeFont::CountGlyphs>("CountGlyphs");
    d.template Method<&TFreeTypeFont::CharToGlyph>("CharToGlyph");
    d.template Method<&TFreeTypeFont::LoadGlyph>("LoadGlyph");
    d.template Function<&TFreeTypeFont::Load>("Load");
  });
  return record;
}

const ClassRecord& TFreeTypeFontLoader::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFreeTypeFontLoader>(
      "TFreeTypeFontLoader", [](auto& d) { d.template Method<&TFreeTypeFontLoader::LoadFont>("LoadFont"); });
  return record;
}

void freetype::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  pixmap::Init();
  lith2d::Init();
  vrRegisterClass(TFreeTypeGlyph::StaticClass());
  vrRegisterClass(TFreeTypeFont::StaticClass());
  vrRegisterClass(TFreeTypeFontLoader::StaticClass());
  RegisterFontLoader(New<TFreeTypeFontLoader>());
}

namespace {

// FreeType is started on the first load and kept for the whole run: fonts
// may be released at any time up to the end, and each needs the library.
FT_Library Library() {
  static FT_Library library = [] {
    FT_Library made = nullptr;
    return FT_Init_FreeType(&made) == 0 ? made : nullptr;
  }();
  return library;
}

// Pixel sizes above this FreeType refuses for every face, so the downward
// search for a strike starts no higher.
constexpr int32_t kLargestPixelSize = 0xFFFF;
// A face claiming more glyphs than this is not a font we keep a cache for.
constexpr FT_Long kMostGlyphs = 1 << 21;

// Whether a bitmap of these sides is a glyph we draw (runtime/Limits.h).
bool GlyphSizeAllowed(int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && width <= limits::kGlyphSide && height <= limits::kGlyphSide &&
         width * height <= limits::kGlyphPixels;
}

// Row y of a bitmap, top row first, whichever way FreeType's rows run.
const uint8_t* BitmapRow(const FT_Bitmap& bitmap, unsigned y) {
  const auto pitch = static_cast<std::ptrdiff_t>(bitmap.pitch);
  if (pitch >= 0) return bitmap.buffer + static_cast<std::ptrdiff_t>(y) * pitch;
  return bitmap.buffer + static_cast<std::ptrdiff_t>(bitmap.rows - 1 - y) * -pitch;
}

// The slot's bitmap as an alpha pixmap of its size: grey levels scaled to
// 0..255, one-bit pixels (most significant bit first) to 255 or 0. Null for a
// pixel mode FreeType cannot turn into grey levels.
Ref<TPixmap> AlphaPixmap(FT_Library library, const FT_Bitmap& source) {
  const auto width = static_cast<int32_t>(source.width);
  const auto rows = static_cast<int32_t>(source.rows);
  Ref<TPixmap> pixmap = NewPixmap(width, rows, PIXFMT_A8, 1);
  if (source.pixel_mode == FT_PIXEL_MODE_MONO) {
    for (int32_t y = 0; y < rows; ++y) {
      const uint8_t* in = BitmapRow(source, static_cast<unsigned>(y));
      uint8_t* out = pixmap->PixelPtr(0, y);
      for (int32_t x = 0; x < width; ++x) out[x] = (in[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    }
    return pixmap;
  }
  if (source.pixel_mode == FT_PIXEL_MODE_GRAY && source.num_grays == 256) {
    for (int32_t y = 0; y < rows; ++y) {
      std::memcpy(pixmap->PixelPtr(0, y), BitmapRow(source, static_cast<unsigned>(y)),
                  static_cast<std::size_t>(width));
    }
    return pixmap;
  }
  // Fewer grey levels (2 or 4 bits a pixel, or an 8-bit map of fewer levels):
  // FreeType unpacks them to a byte each, levels 0..num_grays - 1.
  FT_Bitmap unpacked;
  FT_Bitmap_Init(&unpacked);
  bool ok = FT_Bitmap_Convert(library, &source, &unpacked, 1) == 0 && unpacked.width == source.width &&
            unpacked.rows == source.rows && unpacked.num_grays > 1;
  if (ok) {
    const unsigned top = static_cast<unsigned>(unpacked.num_grays) - 1;
    for (int32_t y = 0; y < rows; ++y) {
      const uint8_t* in = BitmapRow(unpacked, static_cast<unsigned>(y));
      uint8_t* out = pixmap->PixelPtr(0, y);
      for (int32_t x = 0; x < width; ++x) {
        out[x] = static_cast<uint8_t>(std::min(255u, (unsigned(in[x]) * 255u + top / 2) / top));
      }
    }
  }
  FT_Bitmap_Done(library, &unpacked);
  return ok ? pixmap : Ref<TPixmap>();
}

// The glyph inside a transparent border of one pixel.
Ref<TPixmap> Bordered(TPixmap* glyph) {
  Ref<TPixmap> framed = NewPixmap(glyph->width + 2, glyph->height + 2, PIXFMT_A8, 1);
  if (framed->pixels) std::memset(framed->pixels, 0, static_cast<std::size_t>(framed->capacity));
  for (int32_t y = 0; y < glyph->height; ++y) {
    std::memcpy(framed->PixelPtr(1, y + 1), glyph->PixelPtr(0, y), static_cast<std::size_t>(glyph->width));
  }
  return framed;
}

}  // namespace

void TFreeTypeGlyph::GetRect(int32_t& x, int32_t& y, int32_t& width, int32_t& height) {
  x = _x;
  y = _y;
  width = _w;
  height = _h;
}

TFreeTypeFont::~TFreeTypeFont() {
  // The face reads from _buf, so it goes first.
  if (_ft_face) FT_Done_Face(_ft_face);
}

Ref<TFreeTypeFont> TFreeTypeFont::Load(Object* src, int32_t size, int32_t style) {
  auto* name = CastRaw<String>(src);
  if (!name || name->Length() == 0 || size < 1) return {};
  FT_Library library = Library();
  if (!library) return {};

  Ref<TFreeTypeFont> font = New<TFreeTypeFont>();
  FT_Face face = nullptr;
  if (name->Find(u"::"_vs) > 0) {
    // The whole resource is read before FreeType sees it: the stream layer
    // never runs inside FreeType.
    Ref<Array> bytes;
    try {
      bytes = LoadByteArray(name);
    } catch (const ThrownObject& e) {
      if (!e.As<TStreamException>()) throw;
      return {};
    }
    if (bytes->Length() <= 0 || bytes->Length() > limits::kFontFileBytes) return {};
    const auto count = static_cast<std::size_t>(bytes->Length());
    font->_buf = std::make_unique<uint8_t[]>(count);
    std::memcpy(font->_buf.get(), bytes->Data(), count);
    font->_buf_size = bytes->Length();
    if (FT_New_Memory_Face(library, font->_buf.get(), font->_buf_size, 0, &face) != 0) return {};
  } else {
    // Separators as every file open takes them.
    Ref<String> slashed = name->Replace(u"\\"_vs, u"/"_vs);
    std::optional<std::string> native = NativePath(slashed);
    if (!native || native->empty()) return {};
    // Only a regular file: FreeType's open of a pipe or a device would wait
    // for a writer, or read without end.
    struct stat st {};
    if (stat(native->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    if (FT_New_Face(library, native->c_str(), 0, &face) != 0) return {};
  }
  font->_ft_face = face;  // released with the font from here on

  if (face->num_glyphs < 0 || face->num_glyphs > kMostGlyphs) return {};
  // The largest size the face offers up to the request: a bitmap font takes
  // its largest strike not above it.
  int32_t pixels = std::min(size, kLargestPixelSize);
  while (pixels > 0 && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) --pixels;
  if (pixels == 0 || !face->size) return {};

  const FT_Size_Metrics& metrics = face->size->metrics;
  font->_height = static_cast<int32_t>(metrics.height >> 6);
  font->_ascend = static_cast<int32_t>(metrics.ascender >> 6);
  font->_descend = static_cast<int32_t>(metrics.descender >> 6);
  font->_style = style;
  font->_glyphs = Array::New(":TFreeTypeGlyph", static_cast<int32_t>(face->num_glyphs));
  return font;
}

int32_t TFreeTypeFont::CharToGlyph(int32_t character) {
  if (character < 0) return -1;
  return static_cast<int32_t>(FT_Get_Char_Index(_ft_face, static_cast<FT_ULong>(character))) - 1;
}

Ref<TGlyph> TFreeTypeFont::LoadGlyph(int32_t index) {
  if (index == -1) {
    if (_missing.IsNull()) _missing = Render(0);
    return _missing;
  }
  if (index < 0 || index >= _glyphs->Length()) return New<TFreeTypeGlyph>();
  if (auto* cached = CastRaw<TFreeTypeGlyph>(_glyphs->GetObject(index))) return Ref<TGlyph>(cached);
  Ref<TFreeTypeGlyph> glyph = Render(index + 1);
  _glyphs->SetObject(index, glyph);
  return glyph;
}

Ref<TFreeTypeGlyph> TFreeTypeFont::Render(int32_t freeTypeIndex) {
  Ref<TFreeTypeGlyph> glyph = New<TFreeTypeGlyph>();
  if (!_ft_face || FT_Load_Glyph(_ft_face, static_cast<FT_UInt>(freeTypeIndex), FT_LOAD_DEFAULT) != 0) {
    return glyph;  // empty: no pixmap, zero metrics
  }
  FT_GlyphSlot slot = _ft_face->glyph;
  glyph->_advance = static_cast<float>(slot->advance.x >> 6);
  // An outline's bitmap covers its control box on whole pixels; one beyond
  // a glyph's limits is never rendered (a hostile outline could make
  // FreeType allocate tens of megabytes for it).
  if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_BBox box{};
    FT_Outline_Get_CBox(&slot->outline, &box);
    const int64_t width = ((int64_t(box.xMax) + 63) >> 6) - (int64_t(box.xMin) >> 6);
    const int64_t height = ((int64_t(box.yMax) + 63) >> 6) - (int64_t(box.yMin) >> 6);
    if (!GlyphSizeAllowed(width, height)) return glyph;
  }
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  glyph->_x = slot->bitmap_left;
  glyph->_y = _ascend - slot->bitmap_top;
  glyph->_w = static_cast<int32_t>(bitmap.width);
  glyph->_h = static_cast<int32_t>(bitmap.rows);
  glyph->_advance = static_cast<float>(slot->advance.x >> 6);
  if (bitmap.width == 0 || bitmap.rows == 0 || !bitmap.buffer) return glyph;
  // A hostile outline can make FreeType render a bitmap far beyond any
  // glyph; it is drawn as nothing rather than copied.
  if (!GlyphSizeAllowed(bitmap.width, bitmap.rows)) return glyph;

  Ref<TPixmap> pixmap = AlphaPixmap(Library(), bitmap);
  if (pixmap.IsNull()) return glyph;
  if (_style & FONTSTYLE_SMOOTH) {
    // Room for filtered scaling without bleeding into the neighbours.
    pixmap = Bordered(pixmap);
    glyph->_x -= 1;
    glyph->_y -= 1;
    glyph->_w += 2;
    glyph->_h += 2;
  }
  pixmap->MarkChanged();  // filled through PixelPtr
  glyph->_pixmap = pixmap;
  return glyph;
}

Ref<TFont> TFreeTypeFontLoader::LoadFont(Object* url, int32_t size, int32_t style) {
  auto* name = CastRaw<String>(url);
  if (!name || name->Length() == 0) return {};
  return TFreeTypeFont::Load(name, size, style);
}

}  // namespace vrl

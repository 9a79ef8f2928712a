#include "lith2d/Font.h"

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/LoaderChain.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& TGlyph::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGlyph>("TGlyph", [](auto& d) {
    d.template Method<&TGlyph::Pixels>("Pixels");
    d.template Method<&TGlyph::Advance>("Advance");
    d.template Method<&TGlyph::GetRect>("GetRect");
  });
  return record;
}
const ClassRecord& TFont::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFont>("TFont", [](auto& d) {
    d.template Method<&TFont::Style>("Style");
    d.template Method<&TFont::Height>("Height");
    d.template Method<&TFont::CountGlyphs>("CountGlyphs");
    d.template Method<&TFont::CharToGlyph>("CharToGlyph");
    d.template Method<&TFont::LoadGlyph>("LoadGlyph");
  });
  return record;
}

const ClassRecord& TFontLoader::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFontLoader>("TFontLoader", [](auto& d) {
    d.template Field<&TFontLoader::_succ>("_succ");
    d.template Method<&TFontLoader::LoadFont>("LoadFont");
  });
  return record;
}

Ref<Object> TGlyph::Pixels() { ThrowNullMethodException(); }
float TGlyph::Advance() { ThrowNullMethodException(); }
void TGlyph::GetRect(int32_t&, int32_t&, int32_t&, int32_t&) { ThrowNullMethodException(); }

int32_t TFont::Style() { ThrowNullMethodException(); }
int32_t TFont::Height() { ThrowNullMethodException(); }
int32_t TFont::CountGlyphs() { ThrowNullMethodException(); }
int32_t TFont::CharToGlyph(int32_t) { ThrowNullMethodException(); }
Ref<TGlyph> TFont::LoadGlyph(int32_t) { ThrowNullMethodException(); }

Ref<TFont> TFontLoader::LoadFont(Object*, int32_t, int32_t) { ThrowNullMethodException(); }

namespace {
// The loader chain lives for the whole run.
Ref<TFontLoader>& ChainHead() {
  static auto* head = new Ref<TFontLoader>;
  return *head;
}
}  // namespace

Ref<TFont> LoadFont(Object* url, int32_t size, int32_t style) {
  // A stream error is a loader's refusal; anything else is the caller's.
  return AskLoaders(ChainHead().get(),
                    [&](TFontLoader* loader) { return loader->LoadFont(url, size, style); });
}

void RegisterFontLoader(TFontLoader* loader) {
  if (!loader) ThrowNullObjectException();
  if (!loader->_succ.IsNull() || loader == ChainHead().get()) return;
  loader->_succ = ChainHead();
  ChainHead() = loader;
}

}  // namespace vrl

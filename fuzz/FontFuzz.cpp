// libFuzzer target: arbitrary bytes as a font file, loaded from memory by the
// FreeType font loader (through a "fuzz::input" URL read whole by the stream
// layer) at a bitmap and a scalable size, plain and with the smoothing
// border, and every glyph rendered. The loader may refuse (Null); it must
// never read or write out of bounds, hang, or give a glyph whose pixmap
// disagrees with its rectangle.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lith2d/freetype/FreeTypeFont.h"
#include "pixmap/Pixmap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

namespace {

std::vector<uint8_t> gInput;

// Answers "fuzz::input" with a read-only stream over the current input.
class TFuzzInputFactory : public vrl::TStreamFactory {
  VRL_CLASS(TFuzzInputFactory, vrl::TStreamFactory)
  vrl::Ref<vrl::TStream> CreateStream(vrl::Object*, vrl::String* proto, vrl::String*, int32_t readable,
                                      int32_t writeable) override {
    using namespace vrl;
    if (writeable || CompareStrings(proto, u"fuzz"_vs) != 0) return {};
    return TRamStream::Create(gInput.data(), static_cast<int32_t>(gInput.size()), readable, 0);
  }
};

}  // namespace

VRL_CLASS_RECORD(TFuzzInputFactory, "TFuzzInputFactory")

// Where the sums of the bytes read go, so that the reads are not left out.
volatile uint32_t gSink = 0;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::ramstream::Init();
  vrl::freetype::Init();
  vrl::New<TFuzzInputFactory>();  // the factory chain keeps it
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  // Every frame of this input lies below this one.
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 0x7fffffff) return 0;
  gInput.assign(data, data + size);
  {
    for (int32_t style : {0, FONTSTYLE_SMOOTH}) {
      Ref<TFreeTypeFont> font = TFreeTypeFont::Load(u"fuzz::input"_vs, style ? 12 : 16, style);
      if (font.IsNull()) continue;
      // At most a few hundred glyphs an input, spread over the face.
      const int32_t count = font->CountGlyphs();
      const int32_t step = count > 256 ? count / 256 : 1;
      uint32_t sum = 0;
      for (int32_t index = -1; index < count; index += step) {
        Ref<TGlyph> glyph = font->LoadGlyph(index);
        if (glyph.IsNull()) __builtin_trap();
        int32_t x = 0, y = 0, w = 0, h = 0;
        glyph->GetRect(x, y, w, h);
        auto* pixmap = CastRaw<TPixmap>(glyph->Pixels());
        if (!pixmap) continue;
        if (pixmap->format != PIXFMT_A8 || pixmap->width != w || pixmap->height != h) __builtin_trap();
        // Read every pixel, so rows beyond the memory show up under
        // AddressSanitizer.
        for (int32_t row = 0; row < h; ++row) {
          const uint8_t* p = pixmap->PixelPtr(0, row);
          for (int32_t i = 0; i < w; ++i) sum += p[i];
        }
      }
      gSink = sum;
    }
  }
  GCCollect();
  return 0;
}

// fontinfo [--style N] FONT SIZE [TEXT]: loads a font through the font loader
// chain (LoadFont; FONT a file name or URL, N the load style, default 0) and
// prints, separated by single spaces, one line with the font's height,
// ascender, descender and glyph count ("-" for a value the font does not
// tell), then one line for each character (UTF-16 unit) of TEXT: its glyph
// index, advance, x and y offsets, width, height and the SHA-256 (lower-case
// hex) of its alpha pixels, rows packed without padding, top row first ("-"
// for a glyph without pixels; a character without a glyph prints its index
// -1 and nothing else). When no loader accepts the font it prints "null" and
// exits with status 1; bad arguments give a usage line and status 2.
#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "lith2d/Font.h"
#include "lith2d/freetype/FreeTypeFont.h"
#include "pixmap/Pixmap.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/BankStream.h"
#include "stream/EndianStream.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

bool ParseInt(const char* text, int32_t& value) {
  char* end = nullptr;
  errno = 0;
  long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || parsed < INT32_MIN || parsed > INT32_MAX) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

// The SHA-256 of the pixmap's rows in lower-case hex; empty when hashing
// failed.
std::string Digest(vrl::TPixmap* pixmap) {
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  const auto rowBytes = std::size_t(pixmap->width) * std::size_t(vrl::PixelBytes[pixmap->format]);
  for (int32_t y = 0; ok && y < pixmap->height; ++y) {
    ok = EVP_DigestUpdate(context.get(), pixmap->PixelPtr(0, y), rowBytes);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ok || !EVP_DigestFinal_ex(context.get(), digest, &length)) return {};
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

int Usage() {
  std::fprintf(stderr, "usage: fontinfo [--style N] FONT SIZE [TEXT]\n");
  return 2;
}

int Run(int argc, char** argv) {
  using namespace vrl;
  int32_t style = 0;
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--style") == 0) {
    if (argc < 3 || !ParseInt(argv[2], style)) return Usage();
    first = 3;
  }
  const int left = argc - first;
  int32_t size = 0;
  if (left < 2 || left > 3 || !ParseInt(argv[first + 1], size)) return Usage();

  stream::Init();
  ramstream::Init();
  bankstream::Init();
  endianstream::Init();
  textstream::Init();
  freetype::Init();

  Ref<TFont> font = LoadFont(String::FromUtf8(std::string_view(argv[first])), size, style);
  if (font.IsNull()) {
    std::printf("null\n");
    return 1;
  }
  if (auto* freeType = CastRaw<TFreeTypeFont>(font)) {
    std::printf("%d %d %d %d\n", freeType->Height(), freeType->Ascender(), freeType->Descender(),
                freeType->CountGlyphs());
  } else {
    std::printf("%d - - %d\n", font->Height(), font->CountGlyphs());
  }
  if (left < 3) return 0;

  Ref<String> text = String::FromUtf8(std::string_view(argv[first + 2]));
  for (int32_t i = 0; i < text->Length(); ++i) {
    const int32_t index = font->CharToGlyph((*text)[i]);
    if (index < 0) {
      std::printf("%d\n", index);
      continue;
    }
    Ref<TGlyph> glyph = font->LoadGlyph(index);
    int32_t x = 0, y = 0, w = 0, h = 0;
    glyph->GetRect(x, y, w, h);
    std::string digest = "-";
    Ref<Object> pixels = glyph->Pixels();
    if (auto* pixmap = CastRaw<TPixmap>(pixels)) {
      digest = Digest(pixmap);
      if (digest.empty()) {
        std::fprintf(stderr, "fontinfo: SHA-256 failed\n");
        return 2;
      }
    }
    std::printf("%d %g %d %d %d %d %s\n", index, double(glyph->Advance()), x, y, w, h, digest.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 2;
  vrl::RunGuarded([&] { status = Run(argc, argv); });
  return status;
}

// The FreeType font loader against Debian's fonts: DejaVu Sans (scalable,
// grey-level glyphs) and Terminus (bitmap strikes of 12, 14, 16, 18, 20, 22,
// 24, 28 and 32 pixels, one-bit glyphs).
#include "lith2d/freetype/FreeTypeFont.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lith2d/ImageFont.h"
#include "runtime/Limits.h"
#include "runtime/String.h"
#include "stream/EmbeddedFiles.h"
#include "stream/EndianStream.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "tests/support/TempDir.h"

using namespace vrl;

namespace {

constexpr char kDejaVu[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr char kTerminus[] = "/usr/share/fonts/opentype/terminus/terminus-normal.otb";

Ref<String> Name(const std::string& utf8) { return String::FromUtf8(utf8); }

std::vector<uint8_t> FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Ref<TFreeTypeFont> Load(const char* path, int32_t size, int32_t style = 0) {
  return TFreeTypeFont::Load(Name(path), size, style);
}

Ref<TFreeTypeGlyph> GlyphOf(TFreeTypeFont* font, char16_t c) {
  return Ref<TFreeTypeGlyph>(CastRaw<TFreeTypeGlyph>(font->LoadGlyph(font->CharToGlyph(c))));
}

struct Rect {
  int32_t x = 0, y = 0, w = 0, h = 0;
};
Rect RectOf(TGlyph* glyph) {
  Rect r;
  glyph->GetRect(r.x, r.y, r.w, r.h);
  return r;
}

TPixmap* PixmapOf(TGlyph* glyph) { return CastRaw<TPixmap>(glyph->Pixels()); }

std::set<int> AlphaValues(TPixmap* pixmap) {
  std::set<int> values;
  for (int32_t y = 0; y < pixmap->height; ++y)
    for (int32_t x = 0; x < pixmap->width; ++x) values.insert(*pixmap->PixelPtr(x, y));
  return values;
}

class FreeTypeFontTest : public testing_support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ramstream::Init();     // "incbin::"
    endianstream::Init();  // "littleendian::"
    freetype::Init();
  }
};

TEST_F(FreeTypeFontTest, ScalableFontMetricsFromTheSize) {
  Ref<TFreeTypeFont> font = Load(kDejaVu, 24, 3);
  ASSERT_FALSE(font.IsNull());
  EXPECT_EQ(font->Style(), 3);
  EXPECT_EQ(font->CountGlyphs(), 6253);
  // DejaVu Sans: ascender 1901, descender -483, line gap to 2384 units of
  // 2048 an em.
  EXPECT_EQ(font->Height(), 28);
  EXPECT_EQ(font->Ascender(), 23);
  EXPECT_EQ(font->Descender(), -6);
}

TEST_F(FreeTypeFontTest, BitmapFontTakesTheLargestStrikeNotAboveTheSize) {
  for (int32_t strike : {12, 14, 16, 18, 20, 22, 24, 28, 32}) {
    Ref<TFreeTypeFont> font = Load(kTerminus, strike);
    ASSERT_FALSE(font.IsNull()) << strike;
    EXPECT_EQ(font->Height(), strike);
  }
  EXPECT_EQ(Load(kTerminus, 13)->Height(), 12);
  EXPECT_EQ(Load(kTerminus, 27)->Height(), 24);
  EXPECT_EQ(Load(kTerminus, 31)->Height(), 28);
  EXPECT_EQ(Load(kTerminus, 1000)->Height(), 32);
  EXPECT_EQ(Load(kTerminus, INT32_MAX)->Height(), 32);
  Ref<TFreeTypeFont> sixteen = Load(kTerminus, 17);
  EXPECT_EQ(sixteen->Ascender(), 12);
  EXPECT_EQ(sixteen->Descender(), -4);
  EXPECT_EQ(sixteen->CountGlyphs(), 1326);
  // Below the smallest strike there is no font.
  EXPECT_TRUE(Load(kTerminus, 11).IsNull());
  EXPECT_TRUE(Load(kTerminus, 1).IsNull());
  EXPECT_TRUE(Load(kTerminus, 0).IsNull());
  EXPECT_TRUE(Load(kDejaVu, 0).IsNull());
  EXPECT_TRUE(Load(kDejaVu, -5).IsNull());
}

TEST_F(FreeTypeFontTest, CharToGlyphIsTheLibraryIndexMinusOne) {
  Ref<TFreeTypeFont> font = Load(kDejaVu, 16);
  EXPECT_EQ(font->CharToGlyph('A'), 35);
  EXPECT_EQ(font->CharToGlyph(' '), 2);
  EXPECT_EQ(font->CharToGlyph(0x4E00), -1) << "no CJK in DejaVu Sans";
  EXPECT_EQ(font->CharToGlyph(-7), -1);
  EXPECT_EQ(Load(kTerminus, 12)->CharToGlyph('A'), 61);
}

TEST_F(FreeTypeFontTest, GreyGlyphsKeepTheirLevels) {
  Ref<TFreeTypeFont> font = Load(kDejaVu, 12);
  Ref<TFreeTypeGlyph> a = GlyphOf(font, 'A');
  Rect r = RectOf(a);
  EXPECT_EQ(a->Advance(), 8.0f);
  EXPECT_EQ(r.w, 9);
  EXPECT_EQ(r.h, 9);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, font->Ascender() - 9) << "the top of 'A' is 9 pixels above the baseline";
  TPixmap* pixmap = PixmapOf(a);
  ASSERT_NE(pixmap, nullptr);
  EXPECT_EQ(pixmap->format, PIXFMT_A8);
  EXPECT_EQ(pixmap->width, 9);
  EXPECT_EQ(pixmap->height, 9);
  std::set<int> levels = AlphaValues(pixmap);
  EXPECT_GT(levels.size(), 4u) << "anti-aliased edges";
  EXPECT_TRUE(levels.count(0));
  // The apex is at the top centre, the feet at the bottom corners.
  EXPECT_GT(*pixmap->PixelPtr(4, 0), 128);
  EXPECT_GT(*pixmap->PixelPtr(0, 8), 64);
  EXPECT_EQ(*pixmap->PixelPtr(0, 0), 0);
  // Cached: the same glyph object comes back.
  EXPECT_EQ(font->LoadGlyph(font->CharToGlyph('A')).get(), static_cast<TGlyph*>(a.get()));
}

TEST_F(FreeTypeFontTest, OneBitGlyphsExpandToFullAlpha) {
  Ref<TFreeTypeFont> font = Load(kTerminus, 16);
  Ref<TFreeTypeGlyph> l = GlyphOf(font, 'l');
  TPixmap* pixmap = PixmapOf(l);
  ASSERT_NE(pixmap, nullptr);
  EXPECT_EQ(pixmap->width, 8);
  EXPECT_EQ(pixmap->height, 16);
  EXPECT_EQ(l->Advance(), 8.0f);
  EXPECT_EQ(AlphaValues(pixmap), (std::set<int>{0, 255})) << "bits, not packed bytes";
  // 'l' is one vertical stroke: each row lights the same columns or none.
  int litRows = 0;
  int32_t column = -1;
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      if (*pixmap->PixelPtr(x, y) == 0) continue;
      if (column < 0) column = x;
      EXPECT_GE(x, column - 1);
      EXPECT_LE(x, column + 2);
    }
    bool lit = false;
    for (int32_t x = 0; x < 8; ++x) lit |= *pixmap->PixelPtr(x, y) != 0;
    litRows += lit;
  }
  EXPECT_GE(litRows, 8);
  // Each glyph of a strike fills its cell; the cell's top is the line's top.
  EXPECT_EQ(RectOf(l).y, 0);
  EXPECT_EQ(RectOf(l).x, 0);
}

TEST_F(FreeTypeFontTest, SpaceHasAnAdvanceAndNoPixels) {
  Ref<TFreeTypeFont> font = Load(kDejaVu, 20);
  Ref<TFreeTypeGlyph> space = GlyphOf(font, ' ');
  EXPECT_GT(space->Advance(), 3.0f);
  EXPECT_EQ(PixmapOf(space), nullptr);
  EXPECT_EQ(RectOf(space).w, 0);
  // So does it with a border asked for: an empty glyph gets none.
  Ref<TFreeTypeFont> smooth = Load(kDejaVu, 20, FONTSTYLE_SMOOTH);
  EXPECT_EQ(PixmapOf(GlyphOf(smooth, ' ')), nullptr);
  EXPECT_EQ(RectOf(GlyphOf(smooth, ' ')).w, 0);
}

TEST_F(FreeTypeFontTest, SmoothStyleAddsATransparentBorder) {
  for (const char* path : {kDejaVu, kTerminus}) {
    Ref<TFreeTypeFont> plain = Load(path, 12);
    Ref<TFreeTypeFont> smooth = Load(path, 12, FONTSTYLE_SMOOTH | 1);
    for (char16_t c : u"Ag.,") {
      if (!c) continue;
      Ref<TFreeTypeGlyph> a = GlyphOf(plain, c), b = GlyphOf(smooth, c);
      Rect ra = RectOf(a), rb = RectOf(b);
      EXPECT_EQ(rb.x, ra.x - 1);
      EXPECT_EQ(rb.y, ra.y - 1);
      EXPECT_EQ(rb.w, ra.w + 2);
      EXPECT_EQ(rb.h, ra.h + 2);
      EXPECT_EQ(b->Advance(), a->Advance());
      TPixmap* pa = PixmapOf(a);
      TPixmap* pb = PixmapOf(b);
      ASSERT_TRUE(pa && pb);
      ASSERT_EQ(pb->width, rb.w);
      ASSERT_EQ(pb->height, rb.h);
      for (int32_t y = 0; y < pb->height; ++y) {
        for (int32_t x = 0; x < pb->width; ++x) {
          bool border = x == 0 || y == 0 || x == pb->width - 1 || y == pb->height - 1;
          int want = border ? 0 : *pa->PixelPtr(x - 1, y - 1);
          ASSERT_EQ(*pb->PixelPtr(x, y), want) << path << " '" << char(c) << "' " << x << "," << y;
        }
      }
    }
  }
}

TEST_F(FreeTypeFontTest, MissingCharacterIsTheFontsGlyphZero) {
  Ref<TFreeTypeFont> font = Load(kDejaVu, 16);
  const int32_t index = font->CharToGlyph(0x4E00);
  ASSERT_EQ(index, -1);
  Ref<TGlyph> missing = font->LoadGlyph(index);
  ASSERT_FALSE(missing.IsNull());
  // DejaVu's glyph 0 is a box.
  TPixmap* box = PixmapOf(missing);
  ASSERT_NE(box, nullptr);
  EXPECT_GT(box->width, 4);
  EXPECT_GT(missing->Advance(), 4.0f);
  EXPECT_EQ(font->LoadGlyph(-1).get(), missing.get()) << "cached";
  // No slot of the cache holds it.
  for (int32_t i = 0; i < 4; ++i) EXPECT_NE(font->LoadGlyph(i).get(), missing.get());
}

TEST_F(FreeTypeFontTest, IndicesOutsideTheFontGiveEmptyGlyphs) {
  Ref<TFreeTypeFont> font = Load(kTerminus, 12);
  for (int32_t index : {-2, INT32_MIN, font->CountGlyphs(), INT32_MAX}) {
    Ref<TGlyph> glyph = font->LoadGlyph(index);
    ASSERT_FALSE(glyph.IsNull()) << index;
    EXPECT_EQ(PixmapOf(glyph), nullptr);
    EXPECT_EQ(glyph->Advance(), 0.0f);
    EXPECT_EQ(RectOf(glyph).w, 0);
  }
  // The last slot is library glyph CountGlyphs(), past the face's last one.
  Ref<TGlyph> last = font->LoadGlyph(font->CountGlyphs() - 1);
  EXPECT_EQ(PixmapOf(last), nullptr);
  EXPECT_EQ(last->Advance(), 0.0f);
}

TEST_F(FreeTypeFontTest, IncbinLoadsFromMemoryAndThePlainNameOpensTheFile) {
  // One name, two fonts: the embedded bytes are Terminus, the file DejaVu.
  static const std::vector<uint8_t> terminus = FileBytes(kTerminus);
  ASSERT_FALSE(terminus.empty());
  const std::string path = Root() + "/font.ttf";
  WriteFile(path, FileBytes(kDejaVu));
  AddEmbeddedFile(Name(path), terminus.data(), static_cast<int32_t>(terminus.size()));

  Ref<TFreeTypeFont> embedded = TFreeTypeFont::Load(Name("incbin::" + path), 13, 0);
  ASSERT_FALSE(embedded.IsNull());
  EXPECT_EQ(embedded->CountGlyphs(), 1326);
  EXPECT_EQ(embedded->Height(), 12);
  Ref<TFreeTypeFont> file = TFreeTypeFont::Load(Name(path), 13, 0);
  ASSERT_FALSE(file.IsNull());
  EXPECT_EQ(file->CountGlyphs(), 6253);
  // Backslashes name the same file.
  std::string backslashed = path;
  for (char& c : backslashed) c = c == '/' ? '\\' : c;
  EXPECT_FALSE(TFreeTypeFont::Load(Name(backslashed), 13, 0).IsNull());
  EXPECT_TRUE(TFreeTypeFont::Load(Name("incbin::no-such-font"), 13, 0).IsNull());
  EXPECT_TRUE(TFreeTypeFont::Load(Name(Root() + "/no-such-font.ttf"), 13, 0).IsNull());
}

TEST_F(FreeTypeFontTest, FontFilesAboveTheSizeLimitAreRefused) {
  // DejaVu Sans padded with zeros, which FreeType does not read: as long as
  // the limit it loads, a byte longer it is refused before FreeType sees it.
  std::vector<uint8_t> bytes = FileBytes(kDejaVu);
  ASSERT_FALSE(bytes.empty());
  bytes.resize(std::size_t(limits::kFontFileBytes));
  const std::string path = Root() + "/padded.ttf";
  // Through the stream layer ("littleendian::" reads the file as it is).
  WriteFile(path, bytes);
  EXPECT_FALSE(TFreeTypeFont::Load(Name("littleendian::" + path), 13, 0).IsNull());
  bytes.push_back(0);
  WriteFile(path, bytes);
  EXPECT_TRUE(TFreeTypeFont::Load(Name("littleendian::" + path), 13, 0).IsNull());
}

TEST_F(FreeTypeFontTest, AFontFromAURLOwnsItsBytes) {
  // The bytes are read through the stream layer into the font: the file may
  // go before the glyphs are rendered.
  const std::string path = Root() + "/gone.ttf";
  WriteFile(path, FileBytes(kDejaVu));
  Ref<TFreeTypeFont> font = TFreeTypeFont::Load(Name("littleendian::" + path), 16, 0);
  ASSERT_FALSE(font.IsNull());
  std::remove(path.c_str());
  WriteFile(path, std::vector<uint8_t>(4096, 0xEE));
  Ref<TFreeTypeGlyph> a = GlyphOf(font, 'A');
  ASSERT_NE(PixmapOf(a), nullptr);
  EXPECT_GT(RectOf(a).w, 5);
}

struct HostileCase {
  const char* name;
  std::vector<uint8_t> bytes;
};

// Made once: embedded files are read in place for the whole run, and a name
// keeps its first registration, also over repeated runs of the tests.
const std::vector<HostileCase>& HostileCases() {
  static const std::vector<HostileCase> cases = [] {
    const std::vector<uint8_t> dejavu = FileBytes(kDejaVu);
    const std::vector<uint8_t> terminus = FileBytes(kTerminus);
    std::mt19937 random(20261209);
    std::vector<uint8_t> garbage(4096);
    for (auto& byte : garbage) byte = static_cast<uint8_t>(random());
    // A sound header over garbage tables.
    std::vector<uint8_t> header(dejavu.begin(), dejavu.begin() + 12);
    header.resize(2048, 0x41);
    return std::vector<HostileCase>{
        {"empty", {}},
        {"zeros", std::vector<uint8_t>(4096, 0)},
        {"garbage", garbage},
        {"dejavu-cut-12", {dejavu.begin(), dejavu.begin() + 12}},
        {"dejavu-cut-200", {dejavu.begin(), dejavu.begin() + 200}},
        {"terminus-cut-100", {terminus.begin(), terminus.begin() + 100}},
        {"header-only", header},
    };
  }();
  return cases;
}

TEST_F(FreeTypeFontTest, HostileFilesGiveNull) {
  for (const HostileCase& c : HostileCases()) {
    const std::string path = Root() + "/" + c.name;
    WriteFile(path, c.bytes);
    EXPECT_TRUE(TFreeTypeFont::Load(Name(path), 16, 0).IsNull()) << c.name << " as a file";
    AddEmbeddedFile(Name(c.name), c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    EXPECT_TRUE(TFreeTypeFont::Load(Name(std::string("incbin::") + c.name), 16, 0).IsNull())
        << c.name << " from memory";
  }
  // Nor is a directory, a device or a pipe (which would wait for a writer).
  EXPECT_TRUE(TFreeTypeFont::Load(Name(Root()), 16, 0).IsNull());
  EXPECT_TRUE(TFreeTypeFont::Load(Name("/dev/zero"), 16, 0).IsNull());
  const std::string fifo = Root() + "/fifo.ttf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(TFreeTypeFont::Load(Name(fifo), 16, 0).IsNull());
}

// A glyph is sized from its outline before it is rendered: a 714-byte font
// (what the font fuzzer found) whose outlines made FreeType render a bitmap
// of 59 MB at 12 pixels costs a few megabytes, and its glyphs are empty.
TEST_F(FreeTypeFontTest, HugeOutlinesAreNotRendered) {
  const std::string path = std::string(VRL_FUZZ_REGRESSIONS) + "/font/outline-rendering-59-mb.ttf";
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    bool drawn = false;
    for (int32_t style : {0, FONTSTYLE_SMOOTH}) {
      Ref<TFreeTypeFont> font = TFreeTypeFont::Load(String::FromUtf8(path), style ? 12 : 16, style);
      if (font.IsNull()) _exit(2);
      for (int32_t index = -1; index < font->CountGlyphs(); ++index) {
        int32_t x = 0, y = 0, w = 0, h = 0;
        font->LoadGlyph(index)->GetRect(x, y, w, h);
        drawn = drawn || int64_t(w) * h > limits::kGlyphPixels;
      }
    }
    getrusage(RUSAGE_SELF, &after);
    _exit(drawn ? 3 : after.ru_maxrss - before.ru_maxrss < 32 * 1024 ? 0 : 1);  // KiB
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the glyphs cost the memory, 2: the font did not load, 3: a glyph "
                                       "above the limits";
}

TEST_F(FreeTypeFontTest, FontsCutShortNeverCrashTheirGlyphs) {
  // Cut inside the glyph data, a face may still open: whatever it then
  // gives, every glyph is a glyph or empty.
  static const std::vector<std::vector<uint8_t>> cuts = [] {
    const std::vector<uint8_t> dejavu = FileBytes(kDejaVu);
    const std::vector<uint8_t> terminus = FileBytes(kTerminus);
    return std::vector<std::vector<uint8_t>>{
        {dejavu.begin(), dejavu.begin() + long(dejavu.size() / 2)},
        {terminus.begin(), terminus.begin() + long(terminus.size() / 2)}};
  }();
  for (size_t i = 0; i < cuts.size(); ++i) {
    const std::string name = "cut-" + std::to_string(i);
    AddEmbeddedFile(Name(name), cuts[i].data(), static_cast<int32_t>(cuts[i].size()));
    Ref<TFreeTypeFont> font = TFreeTypeFont::Load(Name("incbin::" + name), 16, FONTSTYLE_SMOOTH);
    if (font.IsNull()) continue;
    for (int32_t g = -1; g < font->CountGlyphs(); g += 7) {
      Ref<TGlyph> glyph = font->LoadGlyph(g);
      ASSERT_FALSE(glyph.IsNull());
      if (TPixmap* pixmap = PixmapOf(glyph)) {
        EXPECT_EQ(pixmap->width, RectOf(glyph).w);
        EXPECT_EQ(pixmap->height, RectOf(glyph).h);
      }
    }
  }
}

TEST_F(FreeTypeFontTest, TheLoaderAnswersStringsInTheChain) {
  Ref<TFont> font = LoadFont(Name(kDejaVu), 16, 0);
  ASSERT_NE(CastRaw<TFreeTypeFont>(font), nullptr);
  EXPECT_TRUE(LoadFont(Name(""), 16, 0).IsNull());
  EXPECT_TRUE(LoadFont(nullptr, 16, 0).IsNull());
  Ref<TStream> stream = ReadStream(Name(kDejaVu));
  ASSERT_FALSE(stream.IsNull());
  EXPECT_TRUE(LoadFont(stream, 16, 0).IsNull()) << "a stream is no font name";
  CloseStream(stream);
  EXPECT_TRUE(LoadFont(Name(Root() + "/README"), 16, 0).IsNull());
}

TEST_F(FreeTypeFontTest, ImageFontsTakeTheGlyphs) {
  Ref<TImageFont> font = TImageFont::Load(Name(kDejaVu), 18, FONTSTYLE_SMOOTH);
  ASSERT_FALSE(font.IsNull());
  EXPECT_EQ(font->CountGlyphs(), 6253);
  EXPECT_EQ(font->Style(), FONTSTYLE_SMOOTH);
  Ref<TImageGlyph> glyph = font->LoadGlyph(font->CharToGlyph('W'));
  ASSERT_FALSE(glyph->Pixels().IsNull());
  int32_t x = 0, y = 0, w = 0, h = 0;
  glyph->GetRect(x, y, w, h);
  EXPECT_EQ(glyph->Pixels()->Width(), w);
  EXPECT_EQ(glyph->Pixels()->Height(), h);
  EXPECT_EQ(glyph->Pixels()->Flags(), IMAGEFLAG_FILTERED | IMAGEFLAG_MIPMAPPED);
  EXPECT_TRUE(font->LoadGlyph(font->CharToGlyph(' '))->Pixels().IsNull());
}

}  // namespace

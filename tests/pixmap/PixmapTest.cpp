#include "pixmap/Pixmap.h"

#include <gtest/gtest.h>

#include <cstring>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "tests/support/StackScrub.h"

using namespace vrl;

namespace {

class PixmapTest : public testing::Test {
 protected:
  void SetUp() override { pixmap::Init(); }
};

TEST_F(PixmapTest, CreateRoundsThePitch) {
  Ref<TPixmap> bgr = TPixmap::Create(5, 2, PIXFMT_BGR24, 4);
  EXPECT_EQ(bgr->pitch, 16);
  EXPECT_EQ(bgr->capacity, 32);
  EXPECT_EQ(TPixmap::Create(5, 2, PIXFMT_RGBA32, 4)->pitch, 20);
  EXPECT_EQ(TPixmap::Create(5, 2, PIXFMT_BGR24, 1)->pitch, 15);
  EXPECT_THROW(TPixmap::Create(4, 4, 13, 4), ThrownObject);
  EXPECT_THROW(TPixmap::Create(70000, 70000, PIXFMT_RGBA32, 4), ThrownObject) << "too large";
}

TEST_F(PixmapTest, WriteThenReadPerFormat) {
  const int32_t value = static_cast<int32_t>(0x80FF0000u);
  auto roundTrip = [&](int32_t format) {
    Ref<TPixmap> p = TPixmap::Create(2, 2, format, 4);
    p->WritePixel(1, 1, value);
    return static_cast<uint32_t>(ReadPixel(p, 1, 1));
  };
  EXPECT_EQ(roundTrip(PIXFMT_RGBA32), 0x80FF0000u);
  EXPECT_EQ(roundTrip(PIXFMT_BGRA32), 0x80FF0000u);
  EXPECT_EQ(roundTrip(PIXFMT_RGB24), 0xFFFF0000u);
  EXPECT_EQ(roundTrip(PIXFMT_BGR24), 0xFFFF0000u);
  EXPECT_EQ(roundTrip(PIXFMT_GREY8), 0xFF555555u);
  EXPECT_EQ(roundTrip(PIXFMT_A8), 0x80FFFFFFu);
  EXPECT_EQ(roundTrip(PIXFMT_R8), 0u) << "single-channel formats read as 0";

  Ref<TPixmap> rgba = TPixmap::Create(1, 1, PIXFMT_RGBA32, 4);
  WritePixel(rgba, 0, 0, 0x11223344);
  const uint8_t* bytes = rgba->PixelPtr(0, 0);
  EXPECT_EQ((std::vector<int>{bytes[0], bytes[1], bytes[2], bytes[3]}),
            (std::vector<int>{0x22, 0x33, 0x44, 0x11}));
}

TEST_F(PixmapTest, OutsideCoordinatesThrowInsteadOfWritingAnywhere) {
  Ref<TPixmap> p = TPixmap::Create(4, 3, PIXFMT_RGB24, 4);
  EXPECT_THROW(p->WritePixel(4, 0, 0), ThrownObject);
  EXPECT_THROW(p->ReadPixel(0, -1), ThrownObject);
  EXPECT_THROW(p->Window(2, 2, 3, 1), ThrownObject);
  Ref<TPixmap> big = TPixmap::Create(5, 1, PIXFMT_RGB24, 4);
  EXPECT_THROW(p->Paste(big, 0, 0), ThrownObject);
  EXPECT_THROW(ReadPixel(nullptr, 0, 0), ThrownObject);
}

TEST_F(PixmapTest, ClearFastPathAndPaddedRows) {
  Ref<TPixmap> padded = TPixmap::Create(3, 2, PIXFMT_RGB24, 4);  // 9 bytes + 3 padding
  std::memset(padded->pixels, 0xAB, std::size_t(padded->capacity));
  padded->ClearPixels(0);
  EXPECT_EQ(padded->PixelPtr(0, 1)[8], 0);
  EXPECT_EQ(padded->pixels[10], 0xAB) << "padding is untouched when rows are padded";
  padded->ClearPixels(0x00102030);
  EXPECT_EQ(static_cast<uint32_t>(padded->ReadPixel(2, 1)), 0xFF102030u);

  Ref<TPixmap> tight = TPixmap::Create(4, 2, PIXFMT_RGBA32, 4);
  std::memset(tight->pixels, 0xAB, std::size_t(tight->capacity));
  tight->ClearPixels(0);
  for (int32_t i = 0; i < tight->capacity; ++i) ASSERT_EQ(tight->pixels[i], 0);

  Ref<TPixmap> red = TPixmap::Create(2, 1, PIXFMT_R8, 4);
  red->pixels[0] = 9;
  red->ClearPixels(0x12345678);
  EXPECT_EQ(red->pixels[0], 9) << "a non-zero clear leaves single-channel formats alone";
}

TEST_F(PixmapTest, CopyConvertAndPaste) {
  Ref<TPixmap> p = TPixmap::Create(3, 2, PIXFMT_RGBA32, 4);
  p->ClearPixels(static_cast<int32_t>(0xFF0000FFu));
  Ref<TPixmap> same = p->Convert(PIXFMT_RGBA32);
  EXPECT_NE(same.get(), p.get());
  same->WritePixel(0, 0, 0);
  EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(0, 0)), 0xFF0000FFu) << "independent copy";
  Ref<TPixmap> bgr = p->Convert(PIXFMT_BGR24);
  EXPECT_EQ(bgr->PixelPtr(1, 1)[0], 0xFF);
  Ref<TPixmap> copy = bgr->Copy();
  EXPECT_EQ(copy->ReadPixel(2, 1), bgr->ReadPixel(2, 1));

  Ref<TPixmap> target = TPixmap::Create(4, 4, PIXFMT_GREY8, 4);
  target->ClearPixels(0);
  target->Paste(p, 1, 2);
  EXPECT_EQ(target->PixelPtr(1, 2)[0], 85);  // (0 + 0 + 255) / 3
  EXPECT_EQ(target->PixelPtr(0, 2)[0], 0);
}

__attribute__((noinline)) uintptr_t WindowOnly(Ref<TPixmap>& keep) {
  Ref<TPixmap> parent = TPixmap::Create(8, 8, PIXFMT_RGBA32, 4);
  parent->ClearPixels(0);
  keep = parent->Window(2, 3, 4, 4);
  keep->WritePixel(1, 1, 0x7F010203);
  return reinterpret_cast<uintptr_t>(parent.get()) | 1;
}

TEST_F(PixmapTest, WindowSharesMemoryAndKeepsItsParent) {
  Ref<TPixmap> window;
  uintptr_t hidden = WindowOnly(window);
  ScrubStack();
  GCCollect();
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the address was hidden from the stack scan on purpose
  auto* parent = reinterpret_cast<TPixmap*>(hidden & ~uintptr_t(1));
  ASSERT_TRUE(IsLiveAllocation(parent)) << "the window holds its parent";
  EXPECT_EQ(parent->ReadPixel(3, 4), 0x7F010203);
  EXPECT_EQ(window->capacity, -1);
  // The record's "_source" field names the parent, as reflection reads it.
  const Declaration* source = nullptr;
  for (const Declaration& d : TPixmap::StaticClass().Declarations()) {
    if (d.kind == Declaration::Kind::Field && d.name == "_source") source = &d;
  }
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(static_cast<Ref<Object>*>(source->address(window))->object(), parent);
}

TEST_F(PixmapTest, ColourKeyAveragesVisibleNeighbours) {
  Ref<TPixmap> p = TPixmap::Create(3, 1, PIXFMT_RGB24, 4);
  p->WritePixel(0, 0, 0x000A1428);
  p->WritePixel(1, 0, 0x00FF00FF);  // the key
  p->WritePixel(2, 0, 0x001E2832);
  Ref<TPixmap> keyed = ColourKeyPixmap(p, 255, 0, 255);
  EXPECT_EQ(keyed->format, PIXFMT_RGBA32);
  EXPECT_EQ(static_cast<uint32_t>(keyed->ReadPixel(1, 0)), 0x00141E2Du);
  EXPECT_EQ(static_cast<uint32_t>(keyed->ReadPixel(0, 0)), 0xFF0A1428u);

  Ref<TPixmap> allKey = TPixmap::Create(2, 2, PIXFMT_RGB24, 4);
  allKey->ClearPixels(0x00FF00FF);
  Ref<TPixmap> empty = ColourKeyPixmap(allKey, 255, 0, 255);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(empty->ReadPixel(x, y), 0);
}

TEST_F(PixmapTest, MirrorAndScale) {
  Ref<TPixmap> p = TPixmap::Create(3, 2, PIXFMT_RGB24, 4);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) p->WritePixel(x, y, x * 16 + y);
  Ref<TPixmap> mx = MirrorPixmapX(p);
  Ref<TPixmap> my = MirrorPixmapY(p);
  EXPECT_EQ(mx->ReadPixel(0, 1), p->ReadPixel(2, 1));
  EXPECT_EQ(my->ReadPixel(2, 0), p->ReadPixel(2, 1));

  Ref<TPixmap> same = ScalePixmap(p, 3, 2);
  EXPECT_EQ(same->format, PIXFMT_RGB24);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(same->ReadPixel(x, y), p->ReadPixel(x, y));

  Ref<TPixmap> ramp = TPixmap::Create(2, 1, PIXFMT_GREY8, 4);
  ramp->pixels[0] = 0;
  ramp->pixels[1] = 100;
  Ref<TPixmap> wide = ScalePixmap(ramp, 4, 1);
  // Source positions -0.25, 0.25, 0.75, 1.25: clamped, 25, 75, clamped.
  EXPECT_EQ((std::vector<int>{wide->pixels[0], wide->pixels[1], wide->pixels[2], wide->pixels[3]}),
            (std::vector<int>{0, 25, 75, 100}));
}

// Scaling an empty picture has nothing to sample: the result is cleared
// (transparent black), not left as whatever its memory held.
TEST_F(PixmapTest, ScaleOfAnEmptySourceIsCleared) {
  for (int32_t format : {PIXFMT_RGBA32, PIXFMT_GREY8}) {
    // Leave a used block of the result's size for the allocator to hand out.
    const std::size_t bytes = std::size_t(TPixmap::Create(5, 3, format, 4)->capacity);
    void* used = vrRawAlloc(bytes);
    std::memset(used, 0xAB, bytes);
    vrRawFree(used);
    Ref<TPixmap> empty = TPixmap::Create(0, 0, format, 4);
    Ref<TPixmap> scaled = ScalePixmap(empty, 5, 3);
    ASSERT_EQ(scaled->width, 5);
    ASSERT_EQ(scaled->height, 3);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 5 * PixelBytes[format]; ++x) {
        EXPECT_EQ(scaled->PixelPtr(0, y)[x], 0) << format << ": byte " << x << " of row " << y;
      }
    }
  }
}

TEST_F(PixmapTest, LoadersChainNewestFirst) {
  // Loaders stay in the chain for the whole run: check in a child process so
  // that these do-nothing loaders never meet the other tests.
  class TFirst : public TPixmapLoader {};
  class TSecond : public TPixmapLoader {};
  EXPECT_EXIT(
      {
        TPixmapLoader* before = PixmapLoaders();
        Ref<TPixmapLoader> first(new TFirst);
        Ref<TPixmapLoader> second(new TSecond);
        bool ok = PixmapLoaders() == second.get() && second->Next() == first.get() && first->Next() == before;
        try {
          first->LoadPixmap(nullptr);
          ok = false;
        } catch (const ThrownObject& e) {
          ok = ok && e.As<TNullMethodException>() != nullptr;
        }
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace

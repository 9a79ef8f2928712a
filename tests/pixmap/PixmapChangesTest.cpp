// The change counter and change marks of pixmaps, which drivers read to copy
// only what changed into the textures they keep.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pixmap/Pixmap.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "tests/support/StackScrub.h"

using namespace vrl;

namespace {

using Areas = std::vector<PixmapArea>;

static_assert(TPixmap::kChangeSpan == 32, "the areas below are in spans of 32 pixels");

class PixmapChangesTest : public testing::Test {
 protected:
  void SetUp() override { pixmap::Init(); }

  // The areas changed since `since`; fails the test when they are unknown.
  static Areas Changed(TPixmap* p, uint64_t since) {
    Areas areas;
    EXPECT_TRUE(p->ChangedAreas(since, areas));
    return areas;
  }
};

TEST_F(PixmapChangesTest, EveryWriterCountsReadersDoNot) {
  Ref<TPixmap> p = NewPixmap(8, 8, PIXFMT_RGBA32, 4);
  uint64_t count = p->ChangeCount();
  p->WritePixel(1, 1, 0x11223344);
  EXPECT_GT(p->ChangeCount(), count) << "WritePixel";
  count = p->ChangeCount();
  WritePixel(p, 2, 2, 5);
  EXPECT_GT(p->ChangeCount(), count) << "the free WritePixel";
  count = p->ChangeCount();
  p->ClearPixels(0);
  EXPECT_GT(p->ChangeCount(), count) << "ClearPixels with 0";
  count = p->ChangeCount();
  p->ClearPixels(0x7F000000);
  EXPECT_GT(p->ChangeCount(), count) << "ClearPixels with a colour";
  count = p->ChangeCount();
  p->Paste(NewPixmap(2, 2, PIXFMT_GREY8, 4), 3, 3);
  EXPECT_GT(p->ChangeCount(), count) << "Paste";

  count = p->ChangeCount();
  p->ReadPixel(1, 1);
  Ref<TPixmap> copy = p->Copy();
  Ref<TPixmap> converted = p->Convert(PIXFMT_RGB24);
  Ref<TPixmap> scaled = ScalePixmap(p, 4, 4);
  Ref<TPixmap> mirrored = MirrorPixmapX(p);
  Ref<TPixmap> flipped = MirrorPixmapY(p);
  Ref<TPixmap> keyed = ColourKeyPixmap(p, 0, 0, 0);
  EXPECT_EQ(p->ChangeCount(), count) << "reading and making new pixmaps leave the source alone";
  // The new pixmaps were written: each counts as changed from its start.
  for (TPixmap* made :
       {copy.get(), converted.get(), scaled.get(), mirrored.get(), flipped.get(), keyed.get()})
    EXPECT_GT(made->ChangeCount(), 0u);
}

TEST_F(PixmapChangesTest, AWriteOutsideThePixmapIsNoChange) {
  Ref<TPixmap> p = NewPixmap(8, 8, PIXFMT_RGBA32, 4);
  p->TrackChanges();
  uint64_t count = p->ChangeCount();
  p->MarkChanged(8, 0, 4, 4);
  p->MarkChanged(-4, 0, 4, 4);
  p->MarkChanged(0, 0, 0, 5);
  p->MarkChanged(2, 2, -1, 3);
  EXPECT_EQ(p->ChangeCount(), count);
  EXPECT_THROW(p->WritePixel(8, 0, 1), ThrownObject);
  EXPECT_EQ(p->ChangeCount(), count) << "a refused write marks nothing";
  p->MarkChanged(-10, 6, 100, 100);
  EXPECT_EQ(Changed(p, count), (Areas{{0, 6, 8, 2}})) << "cut to the pixmap";
}

TEST_F(PixmapChangesTest, AreasAreKnownOnlyAfterTracking) {
  Ref<TPixmap> p = NewPixmap(300, 10, PIXFMT_RGB24, 4);
  p->WritePixel(1, 1, 1);
  uint64_t before = p->ChangeCount();
  Areas areas;
  EXPECT_FALSE(p->ChangedAreas(0, areas)) << "not tracked yet";
  EXPECT_TRUE(p->ChangedAreas(before, areas)) << "nothing since";
  EXPECT_TRUE(areas.empty());
  p->TrackChanges();
  EXPECT_FALSE(p->ChangedAreas(0, areas)) << "the change before tracking is not in the marks";
  p->WritePixel(70, 5, 1);
  EXPECT_EQ(Changed(p, before), (Areas{{64, 5, 32, 1}})) << "one span of one row";
  p->TrackChanges();  // again: keeps the marks
  EXPECT_EQ(Changed(p, before), (Areas{{64, 5, 32, 1}}));
  p->ClearPixels(0);
  EXPECT_FALSE(p->ChangedAreas(before, areas)) << "a whole-pixmap change: take everything";
}

TEST_F(PixmapChangesTest, SpansJoinIntoRectangles) {
  Ref<TPixmap> p = NewPixmap(300, 10, PIXFMT_RGBA32, 4);
  p->TrackChanges();
  uint64_t since = p->ChangeCount();
  p->WritePixel(10, 2, 1);
  p->WritePixel(20, 3, 1);   // the same span one row down: the rectangle grows
  p->WritePixel(130, 2, 1);  // another span of row 2, apart from the first
  p->WritePixel(299, 7, 1);  // the last span is cut at the right edge
  p->WritePixel(200, 3, 1);  // a span that does not continue the row above
  EXPECT_EQ(Changed(p, since), (Areas{{0, 2, 32, 2}, {128, 2, 32, 1}, {192, 3, 32, 1}, {288, 7, 12, 1}}));
  uint64_t later = p->ChangeCount();
  p->Paste(NewPixmap(70, 3, PIXFMT_RGBA32, 4), 60, 4);  // spans 1 to 4 of rows 4 to 6
  EXPECT_EQ(Changed(p, later), (Areas{{32, 4, 128, 3}})) << "only what came after `later`";
  EXPECT_EQ(Changed(p, since).size(), 5u);
  EXPECT_TRUE(Changed(p, p->ChangeCount()).empty());
}

TEST_F(PixmapChangesTest, WindowsShareTheMarksOfTheirParent) {
  Ref<TPixmap> parent = NewPixmap(256, 16, PIXFMT_RGBA32, 4);
  Ref<TPixmap> window = parent->Window(100, 4, 100, 8);
  Ref<TPixmap> inner = window->Window(10, 2, 20, 2);  // parent (110, 6) to (130, 8)
  window->TrackChanges();
  uint64_t since = parent->ChangeCount();
  EXPECT_EQ(window->ChangeCount(), since);

  parent->WritePixel(5, 5, 1);  // outside the window
  EXPECT_GT(window->ChangeCount(), since) << "one counter for the shared memory";
  EXPECT_TRUE(Changed(window, since).empty()) << "but nothing of the window changed";

  uint64_t mark = parent->ChangeCount();
  parent->WritePixel(150, 6, 1);  // span 128..159 of the parent, inside the window
  EXPECT_EQ(Changed(window, mark), (Areas{{28, 2, 32, 1}})) << "in window pixels: parent 128..159";
  EXPECT_EQ(Changed(inner, mark), (Areas{{18, 0, 2, 1}})) << "cut to the inner window";

  mark = parent->ChangeCount();
  inner->WritePixel(0, 1, 1);  // parent (110, 7)
  EXPECT_EQ(Changed(parent, mark), (Areas{{96, 7, 32, 1}}));
  EXPECT_EQ(Changed(window, mark), (Areas{{0, 3, 28, 1}}));

  mark = parent->ChangeCount();
  window->ClearPixels(0);  // a whole mark on a window is a rectangle of the parent
  EXPECT_EQ(Changed(parent, mark), (Areas{{96, 4, 128, 8}}));
}

TEST_F(PixmapChangesTest, MarksForAnotherSizeAreDropped) {
  Ref<TPixmap> p = NewPixmap(128, 4, PIXFMT_RGBA32, 4);
  p->TrackChanges();
  uint64_t since = p->ChangeCount();
  p->height = 2;  // the fields are public: a pixmap can be cut down in place
  p->WritePixel(1, 1, 1);
  Areas areas;
  EXPECT_FALSE(p->ChangedAreas(since, areas)) << "marks of a 128 x 4 pixmap do not describe a 128 x 2 one";
  p->TrackChanges();
  since = p->ChangeCount();
  p->WritePixel(100, 1, 1);
  EXPECT_EQ(Changed(p, since), (Areas{{96, 1, 32, 1}}));
}

// An attachment that notes its destruction.
struct NotingAttachment : PixmapAttachment {
  explicit NotingAttachment(int& count) : destroyed(count) {}
  ~NotingAttachment() override { ++destroyed; }
  int& destroyed;
};

__attribute__((noinline)) void AttachToAPixmapAndDrop(int& destroyed) {
  Ref<TPixmap> p = NewPixmap(4, 4, PIXFMT_RGBA32, 4);
  p->SetAttachment(std::make_unique<NotingAttachment>(destroyed));
}

TEST_F(PixmapChangesTest, ANewAttachmentReplacesTheOldOne) {
  int destroyed = 0;
  Ref<TPixmap> p = NewPixmap(4, 4, PIXFMT_RGBA32, 4);
  p->SetAttachment(std::make_unique<NotingAttachment>(destroyed));
  ASSERT_NE(p->Attachment(), nullptr);
  p->SetAttachment(std::make_unique<NotingAttachment>(destroyed));
  EXPECT_EQ(destroyed, 1);
  p->SetAttachment(nullptr);
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(p->Attachment(), nullptr);
}

TEST_F(PixmapChangesTest, TheAttachmentGoesWithThePixmap) {
#if defined(VRL_SANITIZE)
  // The sanitizer's code generation leaves stale register copies that the
  // conservative scan keeps; exact frees are checked in the normal build.
  GTEST_SKIP();
#endif
  int destroyed = 0;
  AttachToAPixmapAndDrop(destroyed);
  for (int i = 0; i < 3 && destroyed == 0; ++i) {
    ScrubStack();
    GCCollect();
  }
  EXPECT_EQ(destroyed, 1) << "freed with its pixmap";
}

}  // namespace

#include "runtime/Handles.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/support/StackScrub.h"

using namespace vrl;

namespace {

int gDestroyed = 0;

class THandled : public Object {
  VRL_CLASS(THandled, Object)
  ~THandled() override { ++gDestroyed; }
};

}  // namespace

VRL_CLASS_RECORD(THandled, "THandled")

namespace {

// The new object is referenced from nowhere but the handle once this returns.
__attribute__((noinline)) uint32_t HandleOfNewObject() { return vrHandleFromObject(new THandled); }
__attribute__((noinline)) bool NamesAHandled(uint32_t handle) {
  return CastRaw<THandled>(vrObjectFromHandle(handle)) != nullptr;
}

TEST(HandlesTest, NullAndUnknownHandles) {
  EXPECT_EQ(vrHandleFromObject(Null()), 0u);
  EXPECT_EQ(vrHandleFromObject(nullptr), 0u);
  EXPECT_EQ(vrObjectFromHandle(0), Null());
  EXPECT_EQ(vrObjectFromHandle(0x7ffffff), Null());
  EXPECT_EQ(vrObjectFromHandle(0xffffffffu), Null());
  vrReleaseHandle(0x7ffffff);
}

TEST(HandlesTest, HandleOwnsOneReferenceUntilReleased) {
  Ref<String> text = String::FromNarrow("held by a handle");
  uint32_t before = text->RefCount();
  uint32_t handle = vrHandleFromObject(text);
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(text->RefCount(), before + 1);
  // Asking again gives the same handle and takes no further reference.
  EXPECT_EQ(vrHandleFromObject(text), handle);
  EXPECT_EQ(text->RefCount(), before + 1);
  EXPECT_EQ(vrObjectFromHandle(handle), text.get());

  vrReleaseHandle(handle);
  EXPECT_EQ(text->RefCount(), before);
  EXPECT_EQ(vrObjectFromHandle(handle), Null());
  vrReleaseHandle(handle);  // a second release is ignored
  EXPECT_EQ(text->RefCount(), before);
  // A released object gets a fresh handle.
  uint32_t again = vrHandleFromObject(text);
  EXPECT_NE(again, handle);
  vrReleaseHandle(again);
}

// The scan is conservative (a stale register copy may keep an object for a
// collection or two), so the release is followed by a few collections. The
// sanitizer's code generation leaves copies that outlive these, so the
// freeing is checked in the normal build (the counts in every build).
TEST(HandlesTest, ObjectLivesUntilItsHandleIsReleased) {
#if defined(VRL_SANITIZE)
  GTEST_SKIP() << "exact collection counts are checked in the normal build";
#endif
  GCSetMode(0);
  GCCollect();
  gDestroyed = 0;
  uint32_t handle = HandleOfNewObject();
  for (int i = 0; i < 3; ++i) {
    ScrubStack();
    GCCollect();
  }
  EXPECT_EQ(gDestroyed, 0);
  // Checked in a helper: an object pointer in this frame would keep the
  // object alive.
  EXPECT_TRUE(NamesAHandled(handle));
  vrReleaseHandle(handle);
  for (int i = 0; i < 20 && gDestroyed == 0; ++i) {
    ScrubStack();
    GCCollect();
  }
  EXPECT_EQ(gDestroyed, 1);
  GCSetMode(1);
}

// Many objects spread over the buckets of both tables (and share some): each
// handle maps back to its own object, and releasing some leaves the others.
TEST(HandlesTest, ManyHandlesStayDistinct) {
  std::vector<Ref<String>> objects;
  std::vector<uint32_t> handles;
  for (int i = 0; i < 3000; ++i) {
    objects.push_back(String::FromInt(i));
    handles.push_back(vrHandleFromObject(objects.back()));
  }
  EXPECT_EQ(std::set<uint32_t>(handles.begin(), handles.end()).size(), handles.size());
  for (std::size_t i = 0; i < handles.size(); i += 2) vrReleaseHandle(handles[i]);
  for (std::size_t i = 0; i < handles.size(); ++i) {
    Object* found = vrObjectFromHandle(handles[i]);
    if (i % 2 == 0) {
      EXPECT_EQ(found, Null()) << i;
    } else {
      EXPECT_EQ(found, objects[i].get()) << i;
      EXPECT_EQ(vrHandleFromObject(objects[i]), handles[i]) << i;
      vrReleaseHandle(handles[i]);
    }
  }
}

}  // namespace

#include "system/EventQueue.h"

#include <gtest/gtest.h>

#include "runtime/Handles.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

using namespace vrl;

namespace {

class EventQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    system::Init();
    PollSystemEvents();
    FlushEvents();
  }
  void TearDown() override { FlushEvents(); }
  static Ref<TEvent> Emit(int32_t id, Object* source, int32_t data, Object* extra = nullptr) {
    Ref<TEvent> e = MakeEvent(id, source, data, 0, data, -data, extra);
    e->Emit();
    return e;
  }
};

TEST_F(EventQueueTest, EmittedEventsAreTakenInOrder) {
  Ref<TEvent> a = Emit(kEventKeyDown, nullptr, 1);
  Ref<TEvent> b = Emit(kEventKeyDown, nullptr, 2);  // not merged: two key downs
  EXPECT_EQ(QueuedEventCount(), 2);
  EXPECT_EQ(PeekQueuedEvent().get(), a.get());
  EXPECT_EQ(QueuedEventCount(), 2);
  EXPECT_EQ(NextEvent(), kEventKeyDown);
  EXPECT_EQ(LastEvent(), a.get());
  EXPECT_EQ(NextEvent(), kEventKeyDown);
  EXPECT_EQ(EventData(), 2);
  EXPECT_EQ(EventX(), 2);
  EXPECT_EQ(EventY(), -2);
  EXPECT_EQ(NextEvent(), 0);
  EXPECT_EQ(LastEvent()->id, 0);  // the null event
  EXPECT_TRUE(PeekQueuedEvent().IsNull());
}

TEST_F(EventQueueTest, MergingEventsUpdateTheQueuedOneOfTheSameSource) {
  Ref<TEvent> sourceA = New<TEvent>();
  Ref<TEvent> sourceB = New<TEvent>();
  Ref<TEvent> first = Emit(kEventWindowSize, sourceA, 1);
  Emit(kEventWindowSize, sourceB, 2);
  Emit(kEventKeyUp, sourceA, 3);
  Emit(kEventWindowSize, sourceA, 4, u"late"_vs);
  Emit(kEventTimerTick, sourceA, 5);
  Emit(kEventTimerTick, sourceA, 6);
  ASSERT_EQ(QueuedEventCount(), 4);
  EXPECT_EQ(NextEvent(), kEventWindowSize);
  EXPECT_EQ(LastEvent(), first.get());  // the queued object took the new values
  EXPECT_EQ(EventData(), 4);
  EXPECT_EQ(EventX(), 4);
  EXPECT_EQ(EventText()->ToNarrow(), "late");
  EXPECT_EQ(EventSource().get(), sourceA.get());
  EXPECT_EQ(NextEvent(), kEventWindowSize);
  EXPECT_EQ(EventData(), 2);
  EXPECT_EQ(NextEvent(), kEventKeyUp);
  EXPECT_EQ(NextEvent(), kEventTimerTick);
  EXPECT_EQ(EventData(), 6);
  EXPECT_EQ(NextEvent(), 0);
}

TEST_F(EventQueueTest, AFullQueueDropsFurtherEvents) {
  for (int i = 0; i < 300; ++i) Emit(kEventKeyDown, nullptr, i);
  EXPECT_EQ(QueuedEventCount(), kEventQueueSize);
  for (int i = 0; i < kEventQueueSize; ++i) {
    ASSERT_EQ(NextEvent(), kEventKeyDown);
    ASSERT_EQ(EventData(), i);
  }
  EXPECT_EQ(NextEvent(), 0);
  // The ring goes on after wrapping.
  Emit(kEventKeyUp, nullptr, 9);
  EXPECT_EQ(NextEvent(), kEventKeyUp);
  EXPECT_EQ(EventData(), 9);
}

TEST_F(EventQueueTest, LastEventAccessors) {
  Ref<TEvent> source = New<TEvent>();
  Emit(kEventMouseDown, source, 3, source);
  ASSERT_EQ(NextEvent(), kEventMouseDown);
  EXPECT_EQ(EventID(), kEventMouseDown);
  EXPECT_EQ(EventMods(), 0);
  EXPECT_EQ(EventExtra().get(), source.get());
  EXPECT_EQ(EventText()->Length(), 0);  // extra is not a string
  uint32_t handle = EventSourceHandle();
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(vrObjectFromHandle(handle), source.get());
  vrReleaseHandle(handle);
  NextEvent();
  EXPECT_EQ(EventSourceHandle(), 0u);
  EXPECT_TRUE(EventSource().IsNull());
}

TEST_F(EventQueueTest, QueueEventDirectlyAndNonEventData) {
  QueueEvent(nullptr, 0);
  EXPECT_EQ(QueuedEventCount(), 0);
  Ref<TEvent> e = MakeEvent(0x8001, nullptr, 1, 0, 0, 0, nullptr);
  QueueEvent(e, 1);
  QueueEvent(e, 1);  // merges into itself
  EXPECT_EQ(QueuedEventCount(), 1);
  // The queue hook answers other data with Null.
  EXPECT_TRUE(CallHooks(EmitEventHookId(), u"text"_vs).IsNull());
  EXPECT_EQ(QueuedEventCount(), 1);
}

}  // namespace

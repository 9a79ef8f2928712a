#include "system/Event.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/String.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

using namespace vrl;

namespace {

std::string Text(String* s) { return s->ToNarrow(); }

class EventTest : public testing::Test {
 protected:
  void SetUp() override { system::Init(); }
};

TEST_F(EventTest, NamesOfTheFrameworkIds) {
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x201)), "KeyDown");
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x101)), "AppSuspend");
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x801)), "TimerTick");
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x2009)), "GadgetShape");
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x20001)), "ProcessExit");
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x300)), "");
  // "}20{" must not match inside "}2001{" or "}0x..." texts.
  EXPECT_EQ(Text(TEvent::DescriptionForId(20)), "");
  EXPECT_EQ(Text(TEvent::DescriptionForId(1)), "");
}

TEST_F(EventTest, ToStringTexts) {
  Ref<TEvent> e = MakeEvent(0x201, nullptr, 65, 3, 10, -20, u"hi"_vs);
  EXPECT_EQ(Text(e->ToString()), "KeyDown: data=65, mods=3, x=10, y=-20, extra=\"hi\"");
  e = MakeEvent(0x300, nullptr, 0, 0, 0, 0, nullptr);
  EXPECT_EQ(Text(e->ToString()), "Unknown Event, id=768: data=0, mods=0, x=0, y=0, extra=\"\"");
  // An extra object that is not a string shows as "".
  e = MakeEvent(0x403, nullptr, 1, 0, 5, 6, e);
  EXPECT_EQ(Text(e->ToString()), "MouseMove: data=1, mods=0, x=5, y=6, extra=\"\"");
  Ref<TEvent> blank = New<TEvent>();
  EXPECT_EQ(blank->id, 0);
  EXPECT_TRUE(blank->source.IsNull());
  EXPECT_TRUE(blank->extra.IsNull());
}

TEST_F(EventTest, UserIdsCountFromTheTopBit) {
  int32_t first = NewUserEventId(u"Spark"_vs);
  int32_t second = NewUserEventId(nullptr);
  EXPECT_EQ(static_cast<uint32_t>(first), 0x80000001u);
  EXPECT_EQ(static_cast<uint32_t>(second), 0x80000002u);
  EXPECT_EQ(Text(TEvent::DescriptionForId(first)), "Spark");
  EXPECT_EQ(Text(MakeEvent(first, nullptr, 1, 0, 0, 0, nullptr)->ToString()),
            "Spark: data=1, mods=0, x=0, y=0, extra=\"\"");
  EXPECT_EQ(Text(MakeEvent(second, nullptr, 0, 0, 0, 0, nullptr)->ToString()),
            "UserEvent2: data=0, mods=0, x=0, y=0, extra=\"\"");
}

TEST_F(EventTest, TheFirstNameOfAnIdStays) {
  TEvent::RegisterId(0x7777, u"First"_vs);
  TEvent::RegisterId(0x7777, u"Second"_vs);
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x7777)), "First");
  TEvent::RegisterId(0x201, u"NotKeyDown"_vs);
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x201)), "KeyDown");
  // A name with "}" would corrupt the registry: it is refused.
  TEvent::RegisterId(0x7778, u"a}0x201{b"_vs);
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x7778)), "");
  TEvent::RegisterId(0x7779, u"After"_vs);
  EXPECT_EQ(Text(TEvent::DescriptionForId(0x7779)), "After");
}

std::vector<TEvent*> gSeen;
Ref<Object> See(int32_t id, Object* data, Object*) {
  EXPECT_EQ(id, EmitEventHookId());
  gSeen.push_back(AsEvent(data));
  return Ref<Object>(data);
}

TEST_F(EventTest, EmitRunsTheEmitChain) {
  gSeen.clear();
  InstallHook(EmitEventHookId(), &See, nullptr, 50);
  Ref<TEvent> e = MakeEvent(0x4001, nullptr, 0, 0, 0, 0, nullptr);
  EXPECT_EQ(e->Emit(), 0);
  SendEvent(e);
  UninstallHook(EmitEventHookId(), &See, nullptr);
  ASSERT_EQ(gSeen.size(), 2u);
  EXPECT_EQ(gSeen[0], e.get());
  EXPECT_EQ(gSeen[1], e.get());
  EXPECT_EQ(EmitEventHookId(), 0);  // the first hook id of the program
}

}  // namespace

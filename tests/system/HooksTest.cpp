#include "system/Hooks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "system/SystemDriver.h"

using namespace vrl;

namespace {

std::string gTrace;

// Each hook appends its context's text to the trace and passes the data on.
Ref<Object> Trace(int32_t, Object* data, Object* context) {
  gTrace += static_cast<String*>(context)->ToNarrow();
  return Ref<Object>(data);
}

Ref<Object> Replace(int32_t, Object*, Object* context) { return Ref<Object>(context); }

Ref<Object> SeeData(int32_t, Object* data, Object*) {
  String* text = CastRaw<String>(data);
  gTrace += text ? text->ToNarrow() : "<null>";
  return Ref<Object>(data);
}

class HooksTest : public testing::Test {
 protected:
  void SetUp() override {
    system::Init();
    gTrace.clear();
    _id = NewHookId();
  }
  int32_t _id = 0;
};

TEST_F(HooksTest, HigherPriorityRunsFirstInEitherInstallOrder) {
  InstallHook(_id, &Trace, u"L"_vs, -10000);
  InstallHook(_id, &Trace, u"H"_vs, 0);
  CallHooks(_id, nullptr);
  EXPECT_EQ(gTrace, "HL");

  int32_t other = NewHookId();
  gTrace.clear();
  InstallHook(other, &Trace, u"H"_vs, 0);
  InstallHook(other, &Trace, u"L"_vs, -10000);
  CallHooks(other, nullptr);
  EXPECT_EQ(gTrace, "HL");
}

TEST_F(HooksTest, EqualPrioritiesRunInInstallOrder) {
  InstallHook(_id, &Trace, u"a"_vs, 5);
  InstallHook(_id, &Trace, u"b"_vs, 5);
  InstallHook(_id, &Trace, u"T"_vs, 9);
  InstallHook(_id, &Trace, u"c"_vs, 5);
  InstallHook(_id, &Trace, u"z"_vs, -1);
  CallHooks(_id, nullptr);
  EXPECT_EQ(gTrace, "Tabcz");
}

TEST_F(HooksTest, ReturnedDataReplacesTheDataForLaterHooks) {
  EXPECT_EQ(CallHooks(_id, u"same"_vs).get(), u"same"_vs);  // empty chain
  InstallHook(_id, &SeeData, nullptr, 3);
  InstallHook(_id, &Replace, u"new"_vs, 2);
  InstallHook(_id, &SeeData, nullptr, 1);
  InstallHook(_id, &Replace, nullptr, 0);  // returns Null
  InstallHook(_id, &SeeData, nullptr, -1);
  Ref<Object> result = CallHooks(_id, u"old"_vs);
  EXPECT_EQ(gTrace, "oldnew<null>");
  EXPECT_TRUE(result.IsNull());
}

TEST_F(HooksTest, UninstallMatchesFunctionAndContext) {
  InstallHook(_id, &Trace, u"a"_vs, 0);
  InstallHook(_id, &Trace, u"b"_vs, 0);
  InstallHook(_id, &Trace, u"a"_vs, 0);
  UninstallHook(_id, &Trace, u"x"_vs);    // no such context
  UninstallHook(_id, &SeeData, u"a"_vs);  // no such function
  UninstallHook(_id, &Trace, u"a"_vs);    // the first match only
  CallHooks(_id, nullptr);
  EXPECT_EQ(gTrace, "ba");
  UninstallHook(_id, &Trace, u"a"_vs);
  UninstallHook(_id, &Trace, u"b"_vs);
  gTrace.clear();
  CallHooks(_id, nullptr);
  EXPECT_EQ(gTrace, "");
}

Ref<Object> RemoveSelf(int32_t id, Object* data, Object* context) {
  UninstallHook(id, &RemoveSelf, context);
  gTrace += "R";
  return Ref<Object>(data);
}

TEST_F(HooksTest, AHookRemovingItselfLetsTheChainGoOn) {
  InstallHook(_id, &RemoveSelf, nullptr, 1);
  InstallHook(_id, &Trace, u"t"_vs, 0);
  CallHooks(_id, nullptr);
  CallHooks(_id, nullptr);
  EXPECT_EQ(gTrace, "Rtt");
}

TEST_F(HooksTest, IdsOutsideTheTableAreRejected) {
  EXPECT_THROW(InstallHook(256, &Trace, nullptr, 0), ThrownObject);
  EXPECT_THROW(CallHooks(-1, nullptr), ThrownObject);
  EXPECT_THROW(UninstallHook(1000, &Trace, nullptr), ThrownObject);
}

TEST(HooksDeathTest, The257thIdIsRefused) {
  // In a child process: the ids are used up for good.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        system::Init();  // takes the emit chain's id
        int32_t last = 0;
        for (int i = 0; i < 300; ++i) {
          try {
            last = NewHookId();
          } catch (const ThrownObject& e) {
            String* text = e.As<String>();
            std::exit(text && text->ToNarrow() == "Too many hook ids" && last == 255 && i == 255 ? 7 : 1);
          }
        }
        std::exit(2);
      },
      testing::ExitedWithCode(7), "");
}

}  // namespace

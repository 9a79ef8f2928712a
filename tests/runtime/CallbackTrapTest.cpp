#include "runtime/CallbackTrap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

TEST(CallbackTrapTest, WorkThatSucceedsLeavesNothingToRethrow) {
  CallbackTrap trap;
  int ran = 0;
  EXPECT_TRUE(trap.Run([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(trap.Caught());
  EXPECT_EQ(RuntimeErrorOf([&] { trap.Rethrow(); }), "no throw");
}

TEST(CallbackTrapTest, FirstExceptionIsKeptAndRethrownOnce) {
  CallbackTrap trap;
  EXPECT_FALSE(trap.Run([] { vrRuntimeError("first"); }));
  EXPECT_TRUE(trap.Caught());
  EXPECT_FALSE(trap.Run([] { vrRuntimeError("second"); }));
  // Work after a failure still runs; only its exception is not kept.
  int ran = 0;
  EXPECT_TRUE(trap.Run([&] { ++ran; }));
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(RuntimeErrorOf([&] { trap.Rethrow(); }), "first");
  EXPECT_FALSE(trap.Caught());
  EXPECT_EQ(RuntimeErrorOf([&] { trap.Rethrow(); }), "no throw");
}

TEST(CallbackTrapTest, AMovedTrapTakesTheKeptException) {
  static_assert(!std::is_copy_constructible_v<CallbackTrap> && !std::is_copy_assignable_v<CallbackTrap>);
  CallbackTrap trap;
  EXPECT_FALSE(trap.Run([] { vrRuntimeError("kept"); }));
  CallbackTrap moved = std::move(trap);
  EXPECT_TRUE(moved.Caught());
  // The moved-from traps are read on purpose: they must hold nothing.
  EXPECT_FALSE(trap.Caught());  // NOLINT(bugprone-use-after-move)
  CallbackTrap assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(moved.Caught());  // NOLINT(bugprone-use-after-move): as above
  EXPECT_EQ(RuntimeErrorOf([&] { assigned.Rethrow(); }), "kept");
}

TEST(CallbackTrapTest, ThrownObjectsAndOtherExceptionsArriveUnchanged) {
  CallbackTrap trap;
  trap.Run([] { vrThrowText("a text"); });
  try {
    trap.Rethrow();
    ADD_FAILURE() << "no throw";
  } catch (const ThrownObject& e) {
    auto* text = e.As<String>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->ToNarrow(), "a text");
  }
  trap.Run([] { throw std::length_error("too long"); });
  EXPECT_THROW(trap.Rethrow(), std::length_error);
}

// qsort stands in for a C library that calls back: the comparator reports
// "equal" once its work has thrown, and the exception travels on only after
// qsort has returned.
struct SortJob {
  CallbackTrap trap;
  int compared = 0;
};
SortJob* gSortJob = nullptr;

int CompareInts(const void* a, const void* b) {
  int result = 0;
  gSortJob->trap.Run([&] {
    if (++gSortJob->compared == 3) vrRuntimeError("comparison failed");
    result = *static_cast<const int*>(a) - *static_cast<const int*>(b);
  });
  return result;
}

TEST(CallbackTrapTest, ExceptionCrossesTheLibraryOnlyAfterItReturns) {
  SortJob job;
  gSortJob = &job;
  int values[] = {5, 3, 9, 1, 7, 2};
  bool returned = false;
  EXPECT_EQ(RuntimeErrorOf([&] {
              std::qsort(values, 6, sizeof(int), CompareInts);
              returned = true;
              job.trap.Rethrow();
            }),
            "comparison failed");
  EXPECT_TRUE(returned);
  EXPECT_GT(job.compared, 3) << "qsort kept calling back after the failure";
  gSortJob = nullptr;
}

}  // namespace

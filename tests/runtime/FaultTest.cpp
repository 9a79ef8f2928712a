#include "runtime/Fault.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "runtime/Debug.h"

#include "runtime/Threads.h"

using namespace vrl;

namespace {

// Faults are provoked in child processes. The sanitizers catch these faults
// with handlers of their own, so these tests run in plain builds only.
#if !defined(VRL_SANITIZE)

volatile int* volatile gNowhere = nullptr;

TEST(FaultTest, NullWriteIsAnAccessViolation) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        *gNowhere = 1;
      },
      testing::ExitedWithCode(128 + SIGSEGV), "Windows exception: EXCEPTION_ACCESS_VIOLATION\n");
}

TEST(FaultTest, IntegerDivisionByZero) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        volatile int dividend = 1;
        volatile int divisor = 0;
        volatile int quotient = dividend / divisor;
        (void)quotient;
      },
      testing::ExitedWithCode(128 + SIGFPE), "EXCEPTION_INT_DIVIDE_BY_ZERO");
}

TEST(FaultTest, TrapIsAnIllegalInstruction) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        __builtin_trap();
      },
      testing::ExitedWithCode(128 + SIGILL), "EXCEPTION_ILLEGAL_INSTRUCTION");
}

// Deeper than any stack; volatile, so the compiler keeps the recursion.
volatile int gDepthLimit = 1 << 30;

void WriteMarker() { (void)!write(STDERR_FILENO, "debug stop\n", 11); }

// The handler runs the debug-stop hook only when it is declared
// async-signal-safe.
TEST(FaultTest, DebugStopHookRunsOnlyWhenSignalSafe) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        SetDebugStopHook(&WriteMarker, true);
        *gNowhere = 1;
      },
      testing::ExitedWithCode(128 + SIGSEGV), "EXCEPTION_ACCESS_VIOLATION\ndebug stop\n");
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        SetDebugStopHook(&WriteMarker);
        *gNowhere = 1;
        std::_Exit(0);
      },
      testing::ExitedWithCode(128 + SIGSEGV), "EXCEPTION_ACCESS_VIOLATION\n$");
}

__attribute__((noinline)) int Recurse(int depth) {
  if (depth > gDepthLimit) return 0;
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return Recurse(depth + 1) + frame[0];
}

TEST(FaultTest, RunawayRecursionIsAStackOverflow) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        Recurse(0);
      },
      testing::ExitedWithCode(128 + SIGSEGV), "EXCEPTION_STACK_OVERFLOW");
}

TEST(FaultTest, FaultOnAThreadOfTheRuntime) {
  EXPECT_EXIT(
      {
        InstallFaultHandler();
        ThreadRecord* thread = vrThreadCreate(
            [](void*) -> intptr_t {
              Recurse(0);
              return 0;
            },
            nullptr);
        vrThreadResume(thread);
        vrThreadWait(thread);
      },
      testing::ExitedWithCode(128 + SIGSEGV), "EXCEPTION_STACK_OVERFLOW");
}

#endif

}  // namespace

#include "runtime/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "runtime/Console.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/support/WaitFor.h"

using namespace vrl;

namespace {

using namespace std::chrono_literals;

using testing_support::WaitFor;

// The threads of this process.
std::size_t TaskCount() {
  auto tasks = std::filesystem::directory_iterator("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(ThreadsTest, NewThreadRunsOnlyAfterResume) {
  std::atomic<int> ran{0};
  ThreadRecord* thread = vrThreadCreate(
      [](void* data) -> intptr_t {
        static_cast<std::atomic<int>*>(data)->store(1);
        return 42;
      },
      &ran);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(thread->threadId, 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ran.load(), 0);
  vrThreadResume(thread);
  EXPECT_EQ(vrThreadWait(thread), 42);
  EXPECT_EQ(ran.load(), 1);
  EXPECT_TRUE(thread->detached);
}

TEST(ThreadsTest, ThreadSeesItsOwnRecordAndStack) {
  EXPECT_TRUE(vrIsMainThread());
  EXPECT_EQ(vrCurrentThread(), vrMainThread());
  struct Seen {
    ThreadRecord* current = nullptr;
    void* collectorBase = nullptr;
    bool main = true;
  } seen;
  ThreadRecord* thread = vrThreadCreate(
      [](void* data) -> intptr_t {
        auto* s = static_cast<Seen*>(data);
        s->current = vrCurrentThread();
        s->collectorBase = GCStackBase();
        s->main = vrIsMainThread();
        int local = 0;
        // The collector's range must cover this frame.
        return reinterpret_cast<uintptr_t>(&local) < reinterpret_cast<uintptr_t>(s->collectorBase);
      },
      &seen);
  vrThreadResume(thread);
  EXPECT_EQ(vrThreadWait(thread), 1);
  EXPECT_EQ(seen.current, thread);
  EXPECT_FALSE(seen.main);
  EXPECT_EQ(seen.collectorBase, thread->stackBase);
  EXPECT_NE(seen.collectorBase, GCStackBase());
}

struct Spinner {
  std::atomic<int64_t> count{0};
  std::atomic<bool> stop{false};
  static intptr_t Run(void* data) {
    auto* s = static_cast<Spinner*>(data);
    while (!s->stop.load()) s->count.fetch_add(1);
    return 7;
  }
};

TEST(ThreadsTest, SuspendedThreadStopsUntilResumed) {
  Spinner spinner;
  ThreadRecord* thread = vrThreadCreate(&Spinner::Run, &spinner);
  vrThreadResume(thread);
  ASSERT_TRUE(WaitFor([&] { return spinner.count.load() > 0; }));

  vrThreadSuspend(thread);
  vrThreadSuspend(thread);  // suspensions nest
  EXPECT_NE(thread->stackPointer, nullptr);
  EXPECT_LT(thread->stackPointer, thread->stackBase);
  int64_t stopped = spinner.count.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(spinner.count.load(), stopped);
  vrThreadResume(thread);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(spinner.count.load(), stopped) << "one suspension is still in force";

  vrThreadResume(thread);
  EXPECT_TRUE(WaitFor([&] { return spinner.count.load() > stopped; }));
  spinner.stop = true;
  EXPECT_EQ(vrThreadWait(thread), 7);
}

TEST(ThreadsTest, SuspendOthersStopsEveryOtherThread) {
  Spinner a, b;
  ThreadRecord* first = vrThreadCreate(&Spinner::Run, &a);
  ThreadRecord* second = vrThreadCreate(&Spinner::Run, &b);
  vrThreadResume(first);
  vrThreadResume(second);
  ASSERT_TRUE(WaitFor([&] { return a.count.load() > 0 && b.count.load() > 0; }));

  vrSuspendOtherThreads();
  int64_t stoppedA = a.count.load(), stoppedB = b.count.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(a.count.load(), stoppedA);
  EXPECT_EQ(b.count.load(), stoppedB);
  EXPECT_NE(first->stackPointer, nullptr);
  EXPECT_NE(second->stackPointer, nullptr);
  vrResumeOtherThreads();

  EXPECT_TRUE(WaitFor([&] { return a.count.load() > stoppedA && b.count.load() > stoppedB; }));
  a.stop = b.stop = true;
  vrThreadWait(first);
  vrThreadWait(second);
}

TEST(ThreadsTest, WaitOnDetachedThreadFails) {
  std::size_t tasksBefore = TaskCount();
  std::atomic<bool> release{false};
  ThreadRecord* thread = vrThreadCreate(
      [](void* data) -> intptr_t {
        while (!static_cast<std::atomic<bool>*>(data)->load()) vrDelay(1);
        return 1;
      },
      &release);
  vrThreadDetach(thread);
  vrThreadResume(thread);
  testing::internal::CaptureStdout();
  EXPECT_EQ(vrThreadWait(thread), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "ERROR! vrThreadWait: WaitForSingleObject failed!\nLastError=22\n");
  release = true;
  // The detached thread ends on its own (and frees its record); later death
  // tests fork, which is safest with no other threads around.
  EXPECT_TRUE(WaitFor([&] { return TaskCount() == tasksBefore; }));
}

TEST(ThreadsTest, ExceptionEscapingAThreadReachesTheHook) {
  EXPECT_EXIT(
      {
        ThreadRecord* thread =
            vrThreadCreate([](void*) -> intptr_t { vrThrowText("thrown in a thread"); }, nullptr);
        vrThreadResume(thread);
        vrThreadWait(thread);
        std::_Exit(0);
      },
      testing::ExitedWithCode(255), "thrown in a thread");
}

TEST(ThreadsTest, ThreadDataSlotsAreNumberedOneToThirtyOne) {
  // Slots are process-wide: count them in a fresh process.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        for (int expected = 1; expected <= 31; ++expected)
          if (vrThreadDataAlloc() != expected) std::_Exit(1);
        if (vrThreadDataAlloc() != 0 || vrThreadDataAlloc() != 0) std::_Exit(2);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ThreadsTest, ThreadDataBelongsToTheCallingThread) {
  // Slots are never given back: the test takes one for the whole process, so
  // that repeated runs (--gtest_repeat) do not use up the 31 slots. It leaves
  // the slot unset, as it found it.
  static int slot = vrThreadDataAlloc();
  ASSERT_NE(slot, 0);
  EXPECT_EQ(vrThreadDataGet(slot), Null());
  Ref<String> value = String::FromNarrow("main's value");
  vrThreadDataSet(slot, value);
  EXPECT_EQ(vrThreadDataGet(slot), value.get());

  ThreadRecord* thread = vrThreadCreate(
      [](void* data) -> intptr_t {
        int s = *static_cast<int*>(data);
        bool unsetHere = vrThreadDataGet(s) == Null();
        vrThreadDataSet(s, EmptyString());
        return unsetHere && vrThreadDataGet(s) == EmptyString();
      },
      &slot);
  vrThreadResume(thread);
  EXPECT_EQ(vrThreadWait(thread), 1);
  EXPECT_EQ(vrThreadDataGet(slot), value.get());
  vrThreadDataSet(slot, nullptr);
  EXPECT_EQ(vrThreadDataGet(slot), Null());
  EXPECT_EQ(vrThreadDataGet(kThreadDataSlots), Null());
}

TEST(ThreadsTest, AtomicOperations) {
  int32_t word = 5;
  EXPECT_EQ(vrAtomicCompareAndSwap(&word, 4, 9), 5);
  EXPECT_EQ(word, 5);
  EXPECT_EQ(vrAtomicCompareAndSwap(&word, 5, 9), 5);
  EXPECT_EQ(word, 9);
  EXPECT_EQ(vrAtomicAdd(&word, -10), 9);
  EXPECT_EQ(word, -1);

  // Two threads add concurrently: no addition may be lost.
  int32_t counter = 0;
  auto add = [](void* data) -> intptr_t {
    for (int i = 0; i < 200000; ++i) vrAtomicAdd(static_cast<int32_t*>(data), 1);
    return 0;
  };
  ThreadRecord* first = vrThreadCreate(add, &counter);
  ThreadRecord* second = vrThreadCreate(add, &counter);
  vrThreadResume(first);
  vrThreadResume(second);
  vrThreadWait(first);
  vrThreadWait(second);
  EXPECT_EQ(counter, 400000);
}

}  // namespace

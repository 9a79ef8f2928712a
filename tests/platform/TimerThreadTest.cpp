#include "platform/TimerThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/Messages.h"
#include "platform/Sdl.h"
#include "platform/testing/Injection.h"
#include "tests/support/DummyVideo.h"

using namespace vrl::platform;
using Clock = std::chrono::steady_clock;

namespace {

struct Ticks {
  std::vector<uint32_t> ids;  // one entry per call
  int32_t total = 0;          // expiries over all calls
  std::thread::id thread;
};

void Tick(void* data, uint32_t id, int32_t ticks) {
  auto* t = static_cast<Ticks*>(data);
  t->ids.push_back(id);
  t->total += ticks;
  t->thread = std::this_thread::get_id();
}

void Ignore(const Message&, void*) {}

// Sleeps in small steps until `ms` have passed on the steady clock.
void LetTimePass(int ms) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Pumps until `done` holds; false after 30 s.
template <class Condition>
bool PumpUntil(Condition done) {
  auto end = Clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (Clock::now() > end) return false;
    WaitForMessages();
    PumpMessages(&Ignore, nullptr);
  }
  return true;
}

class TimerThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    UseDummyVideo();
    ASSERT_TRUE(AcquireSdl(kSdlEvents));
  }
  void TearDown() override {
    PumpMessages(&Ignore, nullptr);
    ReleaseSdl(kSdlEvents);
  }
};

TEST_F(TimerThreadTest, ExpiriesRunOnThePumpingThreadAtTheirRate) {
  Ticks ticks;
  auto start = Clock::now();
  uint32_t id = StartPeriodicTimer(20, &Tick, &ticks);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(RunningPeriodicTimers(), 1);
  EXPECT_EQ(PeriodicTimerPeriod(id), 20);
  ASSERT_TRUE(PumpUntil([&] { return ticks.total >= 10; }));
  // Ten periods of 20 ms cannot pass sooner (a loaded machine may take longer).
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  StopPeriodicTimer(id);
  EXPECT_EQ(RunningPeriodicTimers(), 0);
  EXPECT_EQ(PeriodicTimerPeriod(id), 0);
  EXPECT_EQ(ticks.thread, std::this_thread::get_id());
  for (uint32_t t : ticks.ids) EXPECT_EQ(t, id);
  EXPECT_GE(ms, 199.0);
}

TEST_F(TimerThreadTest, StoppedTimersPostNothingMoreAndIdsAreNotReused) {
  Ticks a, b;
  uint32_t first = StartPeriodicTimer(5, &Tick, &a);
  uint32_t second = StartPeriodicTimer(1000, &Tick, &b);
  ASSERT_NE(first, 0u);
  EXPECT_NE(first, second);
  LetTimePass(20);  // a record of the first timer is likely queued now
  StopPeriodicTimer(first);
  StopPeriodicTimer(first);  // again: ignored
  PumpMessages(&Ignore, nullptr);
  EXPECT_TRUE(a.ids.empty());  // the record posted before the stop is dropped
  LetTimePass(40);
  PumpMessages(&Ignore, nullptr);
  EXPECT_TRUE(a.ids.empty());
  uint32_t third = StartPeriodicTimer(1000, &Tick, &b);
  EXPECT_GT(third, second);
  StopPeriodicTimer(second);
  StopPeriodicTimer(third);
}

TEST_F(TimerThreadTest, PeriodsOutOfRangeAreRefused) {
  Ticks t;
  EXPECT_EQ(StartPeriodicTimer(0, &Tick, &t), 0u);
  EXPECT_EQ(StartPeriodicTimer(-5, &Tick, &t), 0u);
  EXPECT_EQ(StartPeriodicTimer(1000001, &Tick, &t), 0u);
  EXPECT_EQ(StartPeriodicTimer(10, nullptr, &t), 0u);
  ReleaseSdl(kSdlEvents);
  EXPECT_EQ(StartPeriodicTimer(10, &Tick, &t), 0u);  // no event queue
  ASSERT_TRUE(AcquireSdl(kSdlEvents));
}

TEST_F(TimerThreadTest, AFastTimerKeepsOneRecordQueuedAndCountsTheRest) {
  // While the main thread does not pump (a dialog, a long load), expiries
  // must not pile up in SDL's queue, where they would push out input.
  PumpMessages(&Ignore, nullptr);
  Ticks ticks;
  uint32_t id = StartPeriodicTimer(1, &Tick, &ticks);
  ASSERT_NE(id, 0u);
  LetTimePass(100);
  EXPECT_LE(PendingEventCount(), 1);
  ASSERT_TRUE(PumpUntil([&] { return !ticks.ids.empty(); }));
  StopPeriodicTimer(id);
  EXPECT_EQ(ticks.ids.size(), 1u);
  EXPECT_GE(ticks.total, 1);
  // Under load the thread may have run less often; still never a record a tick.
  EXPECT_LE(static_cast<int32_t>(ticks.ids.size()), ticks.total);
}

int gSlowCalls = 0;
void SlowTick(void*, uint32_t, int32_t) {
  ++gSlowCalls;
  LetTimePass(5);  // slower than the timer's 1 ms
}

TEST_F(TimerThreadTest, AFunctionSlowerThanItsTimerLetsEachPumpReturn) {
  gSlowCalls = 0;
  uint32_t id = StartPeriodicTimer(1, &SlowTick, nullptr);
  ASSERT_NE(id, 0u);
  for (int pump = 1; pump <= 5; ++pump) {
    ASSERT_TRUE(PumpUntil([&] { return gSlowCalls >= pump; }));
    EXPECT_EQ(gSlowCalls, pump);  // one call a pump, however far behind it is
  }
  StopPeriodicTimer(id);
}

TEST_F(TimerThreadTest, ARecordDiscardedWithTheQueueIsPostedAgainLater) {
  Ticks ticks;
  uint32_t id = StartPeriodicTimer(1, &Tick, &ticks);
  ASSERT_NE(id, 0u);
  auto end = Clock::now() + std::chrono::seconds(30);
  while (PendingEventCount() == 0 && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(PendingEventCount(), 1);
  ReleaseSdl(kSdlEvents);  // drops the queued record
  LetTimePass(5);          // expiries while the queue is down post nothing
  ASSERT_TRUE(AcquireSdl(kSdlEvents));
  ASSERT_TRUE(PumpUntil([&] { return ticks.total > 0; }));
  StopPeriodicTimer(id);
}

// Exit: handlers registered before the first timer started run after the
// timer thread has been joined; they may still stop timers. Handlers that
// stop SDL's event queue first leave the timer thread nothing to post into.
uint32_t gExitTimer = 0;
void StopTheTimerAtExit() {
  StopPeriodicTimer(gExitTimer);
  if (RunningPeriodicTimers() != 0 || StartPeriodicTimer(1, &Tick, nullptr) != 0) _exit(3);
}
void StopTheQueueAtExit() { ReleaseSdl(kSdlEvents); }

TEST_F(TimerThreadTest, TheTimerThreadEndsBeforeTheQueueAndTheEndHandlersAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no timer thread yet
  EXPECT_EXIT(
      {
        std::atexit(&StopTheTimerAtExit);
        static Ticks ticks;
        gExitTimer = StartPeriodicTimer(1, &Tick, &ticks);
        if (!gExitTimer) _exit(2);
        std::atexit(&StopTheQueueAtExit);
        PumpUntil([] { return ticks.total > 2; });
        LetTimePass(5);  // a record is queued again: exit with posts under way
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace

#include "system/Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/TimerThread.h"
#include "runtime/Memory.h"
#include "runtime/Threads.h"
#include "system/EventQueue.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

using namespace vrl;
using Clock = std::chrono::steady_clock;

namespace {

struct Tick {
  Ref<TEvent> event;
  int32_t data;  // as emitted: the queue merges later ticks into the queued event
  bool mainThread;
  Clock::time_point at;
};
std::vector<Tick> gTicks;

Ref<Object> Record(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (e && (e->id == kEventTimerTick || e->id == 0x8123))
    gTicks.push_back({e, e->data, vrIsMainThread(), Clock::now()});
  return Ref<Object>(data);
}

class TimerTest : public testing::Test {
 protected:
  void SetUp() override {
    system::Init();
    gTicks.clear();
    InstallHook(EmitEventHookId(), &Record, nullptr, 1);
  }
  void TearDown() override {
    UninstallHook(EmitEventHookId(), &Record, nullptr);
    PollSystemEvents();
    FlushEvents();
    gTicks.clear();
  }
  // Waits for system events until `done` holds; false after 30 s.
  template <class Condition>
  static bool WaitUntil(Condition done) {
    auto end = Clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (Clock::now() > end) return false;
      WaitSystemEvents();
    }
    return true;
  }
  static void LetTimePass(int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

TEST_F(TimerTest, TicksArriveOnTheMainThreadAsTimerTickEvents) {
  Ref<TTimer> timer = StartTimer(20, nullptr);
  ASSERT_FALSE(timer.IsNull());
  EXPECT_NE(timer->Handle(), 0);
  ASSERT_TRUE(WaitUntil([&] { return timer->Ticks() >= 3; }));
  timer->Stop();
  // One event a delivery; expiries that came together count in its data.
  ASSERT_GE(gTicks.size(), 1u);
  for (std::size_t i = 0; i < gTicks.size(); ++i) {
    EXPECT_TRUE(gTicks[i].mainThread);
    EXPECT_EQ(gTicks[i].event->source.object(), timer.get());
    if (i > 0) {
      EXPECT_GT(gTicks[i].data, gTicks[i - 1].data);
    }
  }
  EXPECT_EQ(gTicks.back().data, timer->Ticks());
  EXPECT_EQ(timer->Handle(), 0);
  EXPECT_EQ(RunningTimerCount(), 0);
}

TEST_F(TimerTest, RatesFollowTheTruncatedPeriod) {
  // 20 Hz: 50 ms; 3 Hz: 333 ms. Two ticks cannot come sooner than two
  // periods (a loaded machine may deliver them later).
  for (float hertz : {20.0f, 3.0f}) {
    auto start = Clock::now();
    Ref<TTimer> timer = StartTimer(hertz, nullptr);
    int32_t period = hertz == 20.0f ? 50 : 333;
    EXPECT_EQ(platform::PeriodicTimerPeriod(static_cast<uint32_t>(timer->Handle())), period) << hertz;
    ASSERT_TRUE(WaitUntil([&] { return timer->Ticks() >= 2; }));
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    timer->Stop();
    EXPECT_GE(ms, 2.0 * period) << hertz;
  }
}

TEST_F(TimerTest, ThePeriodIsComputedInSinglePrecision) {
  // 1000 / hertz in the rate's own precision, then truncated: 0.1 Hz is
  // 10000 ms and 0.2 Hz 5000 ms (in double they come out 1 ms short).
  const struct {
    float hertz;
    int32_t period;
  } cases[] = {{0.1f, 10000}, {0.2f, 5000}, {3.0f, 333}, {20.0f, 50},
               {1.5f, 666},   {0.3f, 3333}, {1000.0f, 1}};
  for (const auto& c : cases) {
    Ref<TTimer> timer = StartTimer(c.hertz, nullptr);
    ASSERT_FALSE(timer.IsNull()) << c.hertz;
    EXPECT_EQ(platform::PeriodicTimerPeriod(static_cast<uint32_t>(timer->Handle())), c.period) << c.hertz;
    timer->Stop();
  }
}

TEST_F(TimerTest, WaitReportsTheTicksMissedSinceTheLastWait) {
  Ref<TTimer> timer = StartTimer(100, nullptr);
  EXPECT_GE(timer->Wait(), 1);  // a real tick ends the wait
  StopTimer(timer);
  EXPECT_EQ(timer->Wait(), 0);  // stopped

  // Three ticks since the previous Wait, driven here so that none more can
  // slip in: Wait pumps only while nothing is to be reported.
  Ref<TTimer> slow = StartTimer(0.01f, nullptr);  // 100 s: no real tick comes
  for (int i = 0; i < 3; ++i) slow->Fire();
  EXPECT_EQ(WaitTimer(slow), 3);
  EXPECT_EQ(slow->ReportedTicks(), slow->Ticks());
  slow->Fire();
  EXPECT_EQ(WaitTimer(slow), 1);
  StopTimer(slow);
}

TEST_F(TimerTest, TheGivenEventIsEmittedUnchangedEachTick) {
  Ref<TEvent> event = MakeEvent(0x8123, nullptr, 77, 0, 0, 0, nullptr);
  Ref<TTimer> timer = StartTimer(200, event);
  ASSERT_TRUE(WaitUntil([] { return gTicks.size() >= 2; }));
  timer->Stop();
  ASSERT_GE(gTicks.size(), 2u);
  EXPECT_EQ(gTicks[0].event.get(), event.get());
  EXPECT_EQ(gTicks[1].event.get(), event.get());
  EXPECT_EQ(event->data, 77);
  EXPECT_EQ(timer->TickEvent(), nullptr);
}

TEST_F(TimerTest, AtMostSixteenRunAndBadRatesFail) {
  std::vector<Ref<TTimer>> timers;
  for (int i = 0; i < 16; ++i) {
    timers.push_back(StartTimer(1, nullptr));
    ASSERT_FALSE(timers.back().IsNull()) << i;
  }
  EXPECT_TRUE(StartTimer(1, nullptr).IsNull());
  timers[3]->Stop();
  Ref<TTimer> again = StartTimer(1, nullptr);
  EXPECT_FALSE(again.IsNull());
  again->Stop();
  for (auto& t : timers) t->Stop();
  EXPECT_EQ(RunningTimerCount(), 0);
  EXPECT_TRUE(StartTimer(0, nullptr).IsNull());
  EXPECT_TRUE(StartTimer(-3, nullptr).IsNull());
  EXPECT_TRUE(StartTimer(2000, nullptr).IsNull());  // a period under 1 ms
}

TEST_F(TimerTest, ARunningTimerLivesWithoutOtherReferencesAndStopsCleanly) {
  TTimer* raw = nullptr;
  {
    Ref<TTimer> timer = StartTimer(500, nullptr);
    raw = timer.get();
  }
  GCCollect();
  ASSERT_TRUE(WaitUntil([&] { return raw->Ticks() >= 5; }));
  EXPECT_EQ(RunningTimerCount(), 1);
  LetTimePass(5);  // a record is likely queued again
  raw->Stop();
  std::size_t emitted = gTicks.size();
  // Expiries posted before the stop find no running timer.
  PollSystemEvents();
  EXPECT_EQ(gTicks.size(), emitted);
  EXPECT_EQ(RunningTimerCount(), 0);
}

TEST_F(TimerTest, TicksMissedWhileNotPumpingAreCountedByOneTick) {
  // A long load or a dialog: the timer keeps counting, but only one record
  // waits in the queue, and one pump emits one event for all of it.
  Ref<TTimer> timer = StartTimer(1000, nullptr);
  LetTimePass(50);
  PollSystemEvents();
  ASSERT_TRUE(WaitUntil([] { return !gTicks.empty(); }));
  EXPECT_EQ(gTicks.size(), 1u);
  EXPECT_EQ(gTicks[0].data, timer->Ticks());
  EXPECT_GE(timer->Ticks(), 1);
  int32_t before = timer->Ticks();
  EXPECT_EQ(timer->Wait(), before);  // Wait learns about every one of them
  timer->Stop();
}

int gSlowTicksThisPoll = 0;
Ref<Object> SlowTickHandler(int32_t, Object* data, Object*) {
  TEvent* e = AsEvent(data);
  if (e && e->id == kEventTimerTick) {
    ++gSlowTicksThisPoll;
    // Slower than the 1 ms timer; a pump that kept taking new ticks would
    // never return (the timer is stopped after 50 to end the test).
    auto end = Clock::now() + std::chrono::milliseconds(5);
    while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (gSlowTicksThisPoll >= 50) StopTimer(CastRaw<TTimer>(e->source.object()));
  }
  return Ref<Object>(data);
}

TEST_F(TimerTest, AHandlerSlowerThanItsTimerLetsPollSystemEventsReturn) {
  InstallHook(EmitEventHookId(), &SlowTickHandler, nullptr, 2);
  Ref<TTimer> timer = StartTimer(1000, nullptr);
  int32_t seen = 0;
  for (int poll = 0; poll < 5; ++poll) {
    gSlowTicksThisPoll = 0;
    ASSERT_TRUE(WaitUntil([&] { return gSlowTicksThisPoll > 0; }));
    EXPECT_EQ(gSlowTicksThisPoll, 1);
    seen += gSlowTicksThisPoll;
  }
  UninstallHook(EmitEventHookId(), &SlowTickHandler, nullptr);
  timer->Stop();
  EXPECT_EQ(seen, 5);
}

}  // namespace

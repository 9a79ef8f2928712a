#include "system/Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

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
  if (e && (e->id == kEventTimerTick || e->id == 0x8123)) gTicks.push_back({e, e->data, vrIsMainThread(), Clock::now()});
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
  // Pumps for `ms` milliseconds.
  static void PumpFor(int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      PollSystemEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
};

TEST_F(TimerTest, TicksArriveOnTheMainThreadAsTimerTickEvents) {
  Ref<TTimer> timer = StartTimer(20, nullptr);
  ASSERT_FALSE(timer.IsNull());
  EXPECT_NE(timer->_handle, 0);
  while (timer->Ticks() < 3) WaitSystemEvents();
  timer->Stop();
  ASSERT_GE(gTicks.size(), 3u);
  for (std::size_t i = 0; i < gTicks.size(); ++i) {
    EXPECT_TRUE(gTicks[i].mainThread);
    EXPECT_EQ(gTicks[i].event->source.object(), timer.get());
    EXPECT_EQ(gTicks[i].data, static_cast<int32_t>(i + 1));
  }
  EXPECT_EQ(timer->_handle, 0);
  EXPECT_EQ(RunningTimerCount(), 0);
}

TEST_F(TimerTest, RatesFollowTheTruncatedPeriod) {
  // 20 Hz: 50 ms; 3 Hz: 333 ms. Two ticks of each, measured apart.
  for (float hertz : {20.0f, 3.0f}) {
    gTicks.clear();
    Ref<TTimer> timer = StartTimer(hertz, nullptr);
    auto start = Clock::now();
    while (timer->Ticks() < 2) WaitSystemEvents();
    timer->Stop();
    double period = hertz == 20.0f ? 50.0 : 333.0;
    double ms = std::chrono::duration<double, std::milli>(gTicks[1].at - start).count();
    EXPECT_GE(ms, 2 * period - 2) << hertz;
    EXPECT_LT(ms, 2 * period + 150) << hertz;
  }
}

TEST_F(TimerTest, WaitReportsTheTicksMissedSinceTheLastWait) {
  Ref<TTimer> timer = StartTimer(100, nullptr);
  EXPECT_GE(timer->Wait(), 1);
  while (timer->Ticks() - timer->_wticks < 3) PollSystemEvents();
  EXPECT_EQ(WaitTimer(timer), 3);
  EXPECT_EQ(timer->_wticks, timer->_ticks);
  StopTimer(timer);
  EXPECT_EQ(timer->Wait(), 0);  // stopped
}

TEST_F(TimerTest, TheGivenEventIsEmittedUnchangedEachTick) {
  Ref<TEvent> event = MakeEvent(0x8123, nullptr, 77, 0, 0, 0, nullptr);
  Ref<TTimer> timer = StartTimer(200, event);
  while (timer->Ticks() < 2) WaitSystemEvents();
  timer->Stop();
  ASSERT_GE(gTicks.size(), 2u);
  EXPECT_EQ(gTicks[0].event.get(), event.get());
  EXPECT_EQ(gTicks[1].event.get(), event.get());
  EXPECT_EQ(event->data, 77);
  EXPECT_TRUE(timer->_event.IsNull());
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
  TTimer* raw;
  {
    Ref<TTimer> timer = StartTimer(500, nullptr);
    raw = timer.get();
  }
  PumpFor(30);
  EXPECT_GE(raw->Ticks(), 5);
  EXPECT_EQ(RunningTimerCount(), 1);
  int32_t ticks = raw->Ticks();
  raw->Stop();
  // Expiries posted before the stop find no running timer.
  PumpFor(20);
  EXPECT_EQ(RunningTimerCount(), 0);
  EXPECT_LE(static_cast<int32_t>(gTicks.size()), ticks);
}

}  // namespace

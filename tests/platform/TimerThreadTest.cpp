#include "platform/TimerThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Sdl.h"
#include "tests/platform/DummyVideo.h"

using namespace vrl::platform;
using Clock = std::chrono::steady_clock;

namespace {

struct Ticks {
  std::vector<int64_t> ids;
  std::vector<Clock::time_point> times;
  std::thread::id thread;
};

void Tick(void* data, int64_t id) {
  auto* t = static_cast<Ticks*>(data);
  t->ids.push_back(id);
  t->times.push_back(Clock::now());
  t->thread = std::this_thread::get_id();
}

void Ignore(const Message&, void*) {}

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
  uint32_t id = StartPeriodicTimer(20, &Tick, &ticks);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(RunningPeriodicTimers(), 1);
  auto start = Clock::now();
  while (ticks.ids.size() < 10 && Clock::now() - start < std::chrono::seconds(5)) {
    WaitForMessages();
    PumpMessages(&Ignore, nullptr);
  }
  StopPeriodicTimer(id);
  EXPECT_EQ(RunningPeriodicTimers(), 0);
  ASSERT_GE(ticks.ids.size(), 10u);
  EXPECT_EQ(ticks.thread, std::this_thread::get_id());
  for (int64_t t : ticks.ids) EXPECT_EQ(t, id);
  // Ten periods of 20 ms: not faster than the period, and not much slower
  // on a loaded machine.
  double ms = std::chrono::duration<double, std::milli>(ticks.times[9] - start).count();
  EXPECT_GE(ms, 195.0);
  EXPECT_LT(ms, 1000.0);
}

TEST_F(TimerThreadTest, StoppedTimersPostNothingMoreAndIdsAreNotReused) {
  Ticks a, b;
  uint32_t first = StartPeriodicTimer(5, &Tick, &a);
  uint32_t second = StartPeriodicTimer(1000, &Tick, &b);
  ASSERT_NE(first, 0u);
  EXPECT_NE(first, second);
  StopPeriodicTimer(first);
  StopPeriodicTimer(first);  // again: ignored
  PumpMessages(&Ignore, nullptr);
  std::size_t seen = a.ids.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  PumpMessages(&Ignore, nullptr);
  EXPECT_EQ(a.ids.size(), seen);
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

}  // namespace

#include "platform/TimerThread.h"

#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Messages.h"

namespace vrl::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kMaxPeriodMs = 1000000;  // the multimedia timer's upper bound

struct Timer {
  uint32_t id;
  std::chrono::milliseconds period;
  Clock::time_point due;
  TimerFunction function;
  void* data;
  int32_t ticks = 0;    // expiries not yet handed to the main thread
  bool posted = false;  // a record of this timer waits in the queue
};

void DeliverRecord(void* data, int64_t id);
void DiscardRecord(void* data, int64_t id);

class TimerThread {
 public:
  uint32_t Start(int32_t periodMs, TimerFunction function, void* data) {
    std::lock_guard<std::mutex> guard(_lock);
    if (_ending) return 0;
    uint32_t id = ++_lastId;
    if (id == 0) id = ++_lastId;
    auto period = std::chrono::milliseconds(periodMs);
    _timers.push_back(Timer{id, period, Clock::now() + period, function, data});
    if (!_thread.joinable()) {
      _thread = std::thread([this] { Run(); });
      // Joined before the exit handlers registered earlier run; those may
      // still stop timers, since this object is never destroyed.
      std::atexit([] { Timers().End(); });
    }
    _wake.notify_all();
    return id;
  }

  void Stop(uint32_t id) {
    std::lock_guard<std::mutex> guard(_lock);
    if (Timer* t = Find(id)) _timers.erase(_timers.begin() + (t - _timers.data()));
    _wake.notify_all();
  }

  int Count() {
    std::lock_guard<std::mutex> guard(_lock);
    return static_cast<int>(_timers.size());
  }

  int32_t Period(uint32_t id) {
    std::lock_guard<std::mutex> guard(_lock);
    Timer* t = Find(id);
    return t ? static_cast<int32_t>(t->period.count()) : 0;
  }

  void Hold(bool hold) {
    std::lock_guard<std::mutex> guard(_lock);
    _held = hold;
  }

  // Main thread: the record of timer `id` has come out of the queue. The
  // counted expiries are taken before the function runs, so expiries during
  // the call post a new record, which the next pump handles.
  void Deliver(uint32_t id) {
    TimerFunction function = nullptr;
    void* data = nullptr;
    int32_t ticks = 0;
    {
      std::lock_guard<std::mutex> guard(_lock);
      Timer* t = Find(id);
      if (!t) return;  // stopped meanwhile
      t->posted = false;
      ticks = t->ticks;
      t->ticks = 0;
      function = t->function;
      data = t->data;
    }
    if (ticks > 0) function(data, id, ticks);
  }

  // The queue stopped with the record still in it: post again later.
  void Discarded(uint32_t id) {
    std::lock_guard<std::mutex> guard(_lock);
    if (Timer* t = Find(id)) t->posted = false;
  }

  void End() {
    {
      std::lock_guard<std::mutex> guard(_lock);
      _ending = true;
    }
    _wake.notify_all();
    if (_thread.joinable()) _thread.join();
  }

  static TimerThread& Timers() {
    static TimerThread* timers = new TimerThread;
    return *timers;
  }

 private:
  Timer* Find(uint32_t id) {
    for (Timer& t : _timers)
      if (t.id == id) return &t;
    return nullptr;
  }

  // Counts each due expiry and schedules the next one a period after the
  // previous due time, so the rate does not drift; a timer that fell more
  // than a period behind (the machine was busy) skips the missed expiries.
  // Posts under the lock, so HoldTimerPosts never returns while a post is
  // under way.
  void Run() {
    std::unique_lock<std::mutex> guard(_lock);
    while (!_ending) {
      if (_timers.empty()) {
        _wake.wait(guard);
        continue;
      }
      Clock::time_point next = _timers.front().due;
      for (const Timer& t : _timers)
        if (t.due < next) next = t.due;
      Clock::time_point now = Clock::now();
      if (next > now) {
        _wake.wait_until(guard, next);
        continue;
      }
      for (Timer& t : _timers) {
        if (t.due > now) continue;
        if (t.ticks < std::numeric_limits<int32_t>::max()) ++t.ticks;
        t.due += t.period;
        if (t.due <= now) t.due = now + t.period;
        // A record that cannot be posted (queue full or stopped) is tried
        // again at the next expiry; the count keeps growing meanwhile.
        if (!t.posted && !_held && PostMainThreadCallback(&DeliverRecord, this, t.id, &DiscardRecord))
          t.posted = true;
      }
    }
  }

  std::mutex _lock;
  std::condition_variable _wake;
  std::vector<Timer> _timers;
  std::thread _thread;
  uint32_t _lastId = 0;
  bool _ending = false;
  bool _held = false;
};

void DeliverRecord(void* data, int64_t id) {
  static_cast<TimerThread*>(data)->Deliver(static_cast<uint32_t>(id));
}
void DiscardRecord(void* data, int64_t id) {
  static_cast<TimerThread*>(data)->Discarded(static_cast<uint32_t>(id));
}

}  // namespace

uint32_t StartPeriodicTimer(int32_t periodMs, TimerFunction function, void* data) {
  if (periodMs < 1 || periodMs > kMaxPeriodMs || !function) return 0;
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
  return TimerThread::Timers().Start(periodMs, function, data);
}

void StopPeriodicTimer(uint32_t id) { TimerThread::Timers().Stop(id); }

int RunningPeriodicTimers() { return TimerThread::Timers().Count(); }

int32_t PeriodicTimerPeriod(uint32_t id) { return TimerThread::Timers().Period(id); }

void HoldTimerPosts(bool hold) { TimerThread::Timers().Hold(hold); }

}  // namespace vrl::platform

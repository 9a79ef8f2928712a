#include "platform/TimerThread.h"

#include <SDL.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vrl::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kMaxPeriodMs = 1000000;  // the multimedia timer's upper bound

struct Timer {
  uint32_t id;
  std::chrono::milliseconds period;
  Clock::time_point due;
  MainThreadFunction function;
  void* data;
};

class TimerThread {
 public:
  ~TimerThread() {
    {
      std::lock_guard<std::mutex> guard(_lock);
      _ending = true;
    }
    _wake.notify_all();
    if (_thread.joinable()) _thread.join();
  }

  uint32_t Start(int32_t periodMs, MainThreadFunction function, void* data) {
    std::lock_guard<std::mutex> guard(_lock);
    if (_ending) return 0;
    uint32_t id = ++_lastId;
    if (id == 0) id = ++_lastId;
    auto period = std::chrono::milliseconds(periodMs);
    _timers.push_back(Timer{id, period, Clock::now() + period, function, data});
    if (!_thread.joinable()) _thread = std::thread([this] { Run(); });
    _wake.notify_all();
    return id;
  }

  void Stop(uint32_t id) {
    std::lock_guard<std::mutex> guard(_lock);
    for (auto it = _timers.begin(); it != _timers.end(); ++it) {
      if (it->id == id) {
        _timers.erase(it);
        break;
      }
    }
    _wake.notify_all();
  }

  int Count() {
    std::lock_guard<std::mutex> guard(_lock);
    return static_cast<int>(_timers.size());
  }

 private:
  // Posts each due expiry and schedules the next one a period after the
  // previous due time, so the rate does not drift; a timer that fell more
  // than a period behind (the machine was busy) skips the missed expiries.
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
        PostMainThreadCallback(t.function, t.data, t.id);
        t.due += t.period;
        if (t.due <= now) t.due = now + t.period;
      }
    }
  }

  std::mutex _lock;
  std::condition_variable _wake;
  std::vector<Timer> _timers;
  std::thread _thread;
  uint32_t _lastId = 0;
  bool _ending = false;
};

// A static object: its destructor stops and joins the thread at exit.
TimerThread& Timers() {
  static TimerThread timers;
  return timers;
}

}  // namespace

uint32_t StartPeriodicTimer(int32_t periodMs, MainThreadFunction function, void* data) {
  if (periodMs < 1 || periodMs > kMaxPeriodMs || !function) return 0;
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
  return Timers().Start(periodMs, function, data);
}

void StopPeriodicTimer(uint32_t id) { Timers().Stop(id); }

int RunningPeriodicTimers() { return Timers().Count(); }

}  // namespace vrl::platform

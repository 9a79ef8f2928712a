#include "system/Timer.h"

#include <cmath>

#include "platform/TimerThread.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "system/SystemDriver.h"

namespace vrl {

const ClassRecord& TTimer::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TTimer>("TTimer", [](auto& d) {
    d.template Field<&TTimer::_ticks>("_ticks");
    d.template Field<&TTimer::_wticks>("_wticks");
    d.template Field<&TTimer::_cycle>("_cycle");
    d.template Field<&TTimer::_event>("_event");
    d.template Field<&TTimer::_handle>("_handle");
    d.template Method<&TTimer::Ticks>("Ticks");
    d.template Method<&TTimer::Stop>("Stop");
    d.template Method<&TTimer::Fire>("Fire");
    d.template Method<&TTimer::Wait>("Wait");
    d.template Function<&TTimer::Create>("Create");
  });
  return record;
}

namespace {

// The running timers, each held by the system layer's reference.
struct Running {
  uint32_t ids[kMaxRunningTimers] = {};
  Ref<TTimer> timers[kMaxRunningTimers];
};

Running& R() {
  static Running* running = new Running;
  return *running;
}

}  // namespace

// Runs on the main thread with the expiries of one timer since the previous
// call (the platform keeps one record per timer in the queue). The timer is
// found by its id, so one stopped meanwhile is left alone. Expiries beyond
// the first are counted into the ticks, and Fire counts the last one and
// emits once: a caller that fell behind learns from Wait how many it missed.
void TTimer::Expired(void*, uint32_t id, int32_t ticks) {
  Running& r = R();
  for (int i = 0; i < kMaxRunningTimers; ++i) {
    if (r.ids[i] != 0 && r.ids[i] == id) {
      Ref<TTimer> timer = r.timers[i];
      timer->_ticks += ticks - 1;
      timer->Fire();
      return;
    }
  }
}

int32_t TTimer::Ticks() { return _ticks; }

int32_t TTimer::Stop() {
  if (_handle == 0) return 0;
  Ref<TTimer> self(this);  // the running list may hold the last reference
  uint32_t id = static_cast<uint32_t>(_handle);
  platform::StopPeriodicTimer(id);
  Running& r = R();
  for (int i = 0; i < kMaxRunningTimers; ++i) {
    if (r.ids[i] == id) {
      r.ids[i] = 0;
      r.timers[i] = nullptr;
    }
  }
  _handle = 0;
  _event = nullptr;
  return 0;
}

int32_t TTimer::Fire() {
  if (_handle == 0) return 0;
  ++_ticks;
  if (!_event.IsNull()) {
    Ref<TEvent> event = _event;
    event->Emit();
  } else {
    MakeEvent(kEventTimerTick, this, _ticks, 0, 0, 0, nullptr)->Emit();
  }
  return 0;
}

int32_t TTimer::Wait() {
  if (_handle == 0) return 0;
  Ref<TTimer> self(this);
  while (_ticks == _wticks && _handle != 0) {
    if (!WaitSystemEvents()) break;
  }
  int32_t ticks = _ticks - _wticks;
  _wticks = _ticks;
  return ticks;
}

Ref<TTimer> TTimer::Create(float hertz, TEvent* event) {
  if (!(hertz > 0)) return Ref<TTimer>();
  // In single precision, as the rate is given: 0.1 Hz is 10000 ms (in double
  // 1000 / 0.1f is 9999.99985, which truncates to 9999).
  float period = std::trunc(1000.0f / hertz);
  if (!(period >= 1 && period <= 1000000)) return Ref<TTimer>();
  Running& r = R();
  int free = -1;
  for (int i = 0; i < kMaxRunningTimers && free < 0; ++i)
    if (r.ids[i] == 0) free = i;
  if (free < 0) return Ref<TTimer>();
  Ref<TTimer> timer = New<TTimer>();
  uint32_t id = platform::StartPeriodicTimer(static_cast<int32_t>(period), &Expired, nullptr);
  if (id == 0) return Ref<TTimer>();
  r.ids[free] = id;
  r.timers[free] = timer;
  timer->_event = event;
  timer->_handle = static_cast<int32_t>(id);
  return timer;
}

Ref<TTimer> StartTimer(float hertz, TEvent* event) { return TTimer::Create(hertz, event); }

namespace {
TTimer* Checked(TTimer* timer) {
  if (!timer) ThrowNullObjectException();
  return timer;
}
}  // namespace

int32_t TimerTicks(TTimer* timer) { return Checked(timer)->Ticks(); }
int32_t WaitTimer(TTimer* timer) { return Checked(timer)->Wait(); }
int32_t StopTimer(TTimer* timer) { return Checked(timer)->Stop(); }

int32_t RunningTimerCount() {
  int32_t n = 0;
  for (uint32_t id : R().ids)
    if (id) ++n;
  return n;
}

}  // namespace vrl

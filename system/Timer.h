// Timers: periodic ticks delivered on the main thread. The platform's timer
// thread only posts a callback record; the tick (Fire) runs when the main
// thread pumps system events. Expiries that come while the main thread does
// not pump are counted and delivered by one Fire: `_ticks` counts every
// expiry, and the timer's event is emitted once for them. A running timer is
// kept alive by the system layer until it is stopped; at most 16 run at once.
#pragma once

#include <cstdint>

#include "runtime/Object.h"
#include "system/Event.h"

namespace vrl {

inline constexpr int32_t kMaxRunningTimers = 16;

class TTimer : public Object {
  VRL_CLASS(TTimer, Object)
 public:
  virtual int32_t Ticks();
  /// Stops the timer; it no longer ticks, and the system layer lets it go.
  virtual int32_t Stop();
  /// One tick: counts it and emits the timer's event, or a "TimerTick" event
  /// with this timer as source and the tick count as data.
  virtual int32_t Fire();
  /// Waits (pumping system events) until the timer has ticked since the last
  /// Wait; returns the number of ticks since then. 0 for a stopped timer, or
  /// when system events cannot be pumped (called from an event hook).
  virtual int32_t Wait();
  /// A timer ticking `hertz` times a second (period: 1000 / hertz ms in single
  /// precision, truncated: 0.1 Hz gives 10000 ms), or Null when it cannot
  /// start (16 running, a rate of 0 or less, a period under 1 ms, no event
  /// queue).
  static Ref<TTimer> Create(float hertz, TEvent* event);

  /// The platform timer id (platform/TimerThread.h); 0 when stopped.
  int32_t Handle() const { return _handle; }
  /// The ticks already reported by Wait.
  int32_t ReportedTicks() const { return _wticks; }
  /// The event emitted on each tick; nullptr for the "TimerTick" event (and
  /// once stopped).
  TEvent* TickEvent() const { return _event.get(); }

 private:
  /// The platform timer's function (platform/TimerThread.h).
  static void Expired(void* unused, uint32_t id, int32_t ticks);

  int32_t _ticks = 0;   // ticks fired so far
  int32_t _wticks = 0;  // ticks already reported by Wait
  Ref<TTimer> _cycle;   // Null throughout
  Ref<TEvent> _event;   // the event emitted on each tick, or Null
  int32_t _handle = 0;  // the platform timer id; 0 when stopped
};

Ref<TTimer> StartTimer(float hertz, TEvent* event);
int32_t TimerTicks(TTimer* timer);
int32_t WaitTimer(TTimer* timer);
int32_t StopTimer(TTimer* timer);
int32_t RunningTimerCount();

}  // namespace vrl

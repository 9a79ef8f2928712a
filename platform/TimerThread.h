// Periodic timers on one timer thread, in place of the multimedia timer. On
// an expiry the timer thread only posts a main-thread callback record
// (platform/Messages.h); the timer's function runs on the main thread when it
// next pumps its messages. The timer thread never touches framework objects.
//
// Each timer has at most one record in the queue: expiries that come while
// its record waits are counted, and the function receives them all at once.
// A fast timer therefore cannot fill SDL's queue (and push out key and mouse
// events) while the main thread does not pump, and a function slower than
// its period gets one call per pump.
//
// Timer ids are never reused, so a record that arrives after its timer was
// stopped is recognised and dropped.
//
// Shutdown: nothing is posted while SDL's event queue is stopped (Sdl.cpp
// holds the posts before it stops the queue), and the thread is joined by an
// exit handler registered when it starts. The timers' bookkeeping is never
// destroyed, so stopping a timer from any later exit handler is safe.
#pragma once

#include <cstdint>

namespace vrl::platform {

/// Runs on the main thread: `ticks` (1 or more) expiries of timer `id` since
/// its previous call.
using TimerFunction = void (*)(void* data, uint32_t id, int32_t ticks);

/// Starts a periodic timer of `periodMs` milliseconds (1 to 1000000). Returns
/// the timer id (never 0), or 0 when the period is out of range or the event
/// queue is not running. Thread-safe.
uint32_t StartPeriodicTimer(int32_t periodMs, TimerFunction function, void* data);
/// Stops a timer; its function is not called again, even for expiries already
/// posted. Unknown ids are ignored. Thread-safe.
void StopPeriodicTimer(uint32_t id);
/// Number of timers running.
int RunningPeriodicTimers();
/// The period of a running timer in milliseconds; 0 for an unknown id.
int32_t PeriodicTimerPeriod(uint32_t id);

/// Called by Sdl.cpp around the life of SDL's event queue: while held, the
/// timer thread posts nothing (its expiries are still counted).
void HoldTimerPosts(bool hold);

}  // namespace vrl::platform

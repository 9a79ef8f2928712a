// Periodic timers on one timer thread, in place of the multimedia timer. On
// every expiry the timer thread only posts a main-thread callback record
// (platform/Messages.h) carrying the timer's data pointer and its id; the
// callback runs on the main thread when it next pumps its messages. The
// timer thread never touches framework objects.
//
// Timer ids are never reused, so a callback that arrives after its timer was
// stopped can tell by its id.
#pragma once

#include <cstdint>

#include "platform/Messages.h"

namespace vrl::platform {

// Starts a periodic timer of `periodMs` milliseconds (1 or more) whose
// expiries post function(data, id) to the main thread. Returns the timer id
// (never 0), or 0 when the period is out of range or the event queue is not
// running. Thread-safe.
uint32_t StartPeriodicTimer(int32_t periodMs, MainThreadFunction function, void* data);
// Stops a timer; records it posted already stay queued. Unknown ids are
// ignored. Thread-safe.
void StopPeriodicTimer(uint32_t id);
// Number of timers running.
int RunningPeriodicTimers();

}  // namespace vrl::platform

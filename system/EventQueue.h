// The event queue: a hook at the end of the emit chain keeps every emitted
// event in a ring of 256 for programs that read events one by one. Events
// of the ids "TimerTick", "GadgetAction", "WindowMove" and "WindowSize" merge
// into a queued event of the same id and source; when the ring is full,
// further events are dropped. Main thread only.
#pragma once

#include <cstdint>

#include "runtime/Object.h"
#include "runtime/String.h"
#include "system/Event.h"

namespace vrl {

inline constexpr int32_t kEventQueueSize = 256;

/// Queues an event (nothing for nullptr); with `merge`, the first queued
/// event of the same id and source takes over its data, mods, x, y and extra
/// instead. Returns 0.
int32_t QueueEvent(TEvent* event, int32_t merge);
/// The next queued event, left in the queue (pumps system events once when
/// the queue is empty), or Null.
Ref<TEvent> PeekQueuedEvent();
/// Takes the next event into LastEvent() and returns its id; when none is
/// queued even after pumping system events once, LastEvent() becomes the
/// null event and the result is 0.
int32_t NextEvent();
/// As NextEvent, waiting for system events while the queue is empty. Gives 0
/// when nothing can arrive (called from inside an event hook, where system
/// events cannot be pumped, or without an event source).
int32_t AwaitEvent();
/// Number of queued events.
int32_t QueuedEventCount();
/// Empties the queue.
void FlushEvents();

/// The event most recently taken, and its parts.
TEvent* LastEvent();
int32_t EventID();
int32_t EventData();
int32_t EventMods();
int32_t EventX();
int32_t EventY();
Ref<Object> EventExtra();
/// The extra object when it is a string, else the empty string.
Ref<String> EventText();
Ref<Object> EventSource();
/// The source's object handle (runtime/Handles.h); 0 for Null.
uint32_t EventSourceHandle();

namespace eventqueue {
/// Installs the queue hook at priority -10000. Called by system::Init.
void Init();
}  // namespace eventqueue

}  // namespace vrl

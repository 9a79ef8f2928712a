#include "system/EventQueue.h"

#include "runtime/Handles.h"
#include "runtime/Runtime.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

namespace vrl {

namespace {

struct Queue {
  Ref<TEvent> slots[kEventQueueSize];
  uint32_t get = 0, put = 0;
  Ref<TEvent> nullEvent;
  Ref<TEvent> lastEvent;
};

Queue& Q() {
  static Queue* queue = new Queue;
  return *queue;
}

bool Empty(const Queue& q) { return q.get == q.put; }

Ref<Object> QueueHook(int32_t, Object* data, Object*) {
  TEvent* event = AsEvent(data);
  if (!event) return Ref<Object>();
  switch (event->id) {
    case kEventTimerTick:
    case kEventGadgetAction:
    case kEventWindowMove:
    case kEventWindowSize:
      QueueEvent(event, 1);
      break;
    default:
      QueueEvent(event, 0);
      break;
  }
  return Ref<Object>(event);
}

int32_t Take(Queue& q) {
  Ref<TEvent>& slot = q.slots[q.get % kEventQueueSize];
  q.lastEvent = slot;
  slot = nullptr;
  ++q.get;
  return q.lastEvent->id;
}

}  // namespace

void eventqueue::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  events::Init();
  Queue& q = Q();
  q.nullEvent = New<TEvent>();
  q.lastEvent = q.nullEvent;
  InstallHook(EmitEventHookId(), &QueueHook, nullptr, -10000);
}

int32_t QueueEvent(TEvent* event, int32_t merge) {
  if (!event) return 0;
  Queue& q = Q();
  if (merge) {
    for (uint32_t i = q.get; i != q.put; ++i) {
      TEvent* queued = q.slots[i % kEventQueueSize].get();
      if (queued->id == event->id && queued->source.object() == event->source.object()) {
        queued->data = event->data;
        queued->mods = event->mods;
        queued->x = event->x;
        queued->y = event->y;
        queued->extra = event->extra;
        return 0;
      }
    }
  }
  if (q.put - q.get >= static_cast<uint32_t>(kEventQueueSize)) return 0;
  q.slots[q.put % kEventQueueSize] = event;
  ++q.put;
  return 0;
}

Ref<TEvent> PeekQueuedEvent() {
  Queue& q = Q();
  if (Empty(q)) PollSystemEvents();
  if (Empty(q)) return Ref<TEvent>();
  return q.slots[q.get % kEventQueueSize];
}

int32_t NextEvent() {
  Queue& q = Q();
  if (Empty(q)) PollSystemEvents();
  if (Empty(q)) {
    q.lastEvent = q.nullEvent;
    return 0;
  }
  return Take(q);
}

int32_t AwaitEvent() {
  Queue& q = Q();
  while (Empty(q)) {
    if (!WaitSystemEvents() && Empty(q)) {
      q.lastEvent = q.nullEvent;
      return 0;
    }
  }
  return Take(q);
}

int32_t QueuedEventCount() {
  const Queue& q = Q();
  return static_cast<int32_t>(q.put - q.get);
}

void FlushEvents() {
  Queue& q = Q();
  while (!Empty(q)) {
    q.slots[q.get % kEventQueueSize] = nullptr;
    ++q.get;
  }
}

TEvent* LastEvent() {
  Queue& q = Q();
  if (q.lastEvent.IsNull()) q.lastEvent = New<TEvent>();
  return q.lastEvent.get();
}
int32_t EventID() { return LastEvent()->id; }
int32_t EventData() { return LastEvent()->data; }
int32_t EventMods() { return LastEvent()->mods; }
int32_t EventX() { return LastEvent()->x; }
int32_t EventY() { return LastEvent()->y; }
Ref<Object> EventExtra() { return LastEvent()->extra; }
Ref<String> EventText() {
  Object* extra = LastEvent()->extra.object();
  String* text = CastRaw<String>(extra);
  return text ? Ref<String>(text) : Ref<String>();
}
Ref<Object> EventSource() { return LastEvent()->source; }
uint32_t EventSourceHandle() { return vrHandleFromObject(LastEvent()->source.get()); }

}  // namespace vrl

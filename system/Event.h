// Events: TEvent, the registry of event-id names, and emission through the
// hook chain EmitEventHookId(). Main thread only.
#pragma once

#include <cstdint>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

/// The event ids of the framework.
enum EventId : int32_t {
  kEventAppSuspend = 0x101,
  kEventAppResume = 0x102,
  kEventAppTerminate = 0x103,
  kEventAppOpenFile = 0x104,
  kEventAppIdle = 0x105,
  kEventKeyDown = 0x201,
  kEventKeyUp = 0x202,
  kEventKeyChar = 0x203,
  kEventKeyRepeat = 0x204,
  kEventMouseDown = 0x401,
  kEventMouseUp = 0x402,
  kEventMouseMove = 0x403,
  kEventMouseWheel = 0x404,
  kEventMouseEnter = 0x405,
  kEventMouseLeave = 0x406,
  kEventTimerTick = 0x801,
  kEventHotkeyHit = 0x1001,
  kEventGadgetAction = 0x2001,
  kEventGadgetPaint = 0x2002,
  kEventGadgetSelect = 0x2003,
  kEventGadgetMenu = 0x2004,
  kEventGadgetOpen = 0x2005,
  kEventGadgetClose = 0x2006,
  kEventGadgetDone = 0x2007,
  kEventGadgetLostFocus = 0x2008,
  kEventGadgetShape = 0x2009,
  kEventWindowMove = 0x4001,
  kEventWindowSize = 0x4002,
  kEventWindowClose = 0x4003,
  kEventWindowActivate = 0x4004,
  kEventWindowAccept = 0x4005,
  kEventMenuAction = 0x8001,
  kEventStreamEof = 0x10001,
  kEventStreamAvail = 0x10002,
  kEventProcessExit = 0x20001,
};

class TEvent : public Object {
  VRL_CLASS(TEvent, Object)
 public:
  /// The event's published fields: hooks and programs read and set them.
  int32_t id = 0;
  Ref<Object> source;
  int32_t data = 0;
  int32_t mods = 0;  // Shift 1, Control 2, Alt 4, system key 8
  int32_t x = 0, y = 0;
  Ref<Object> extra;

  /// Runs the event through the chain EmitEventHookId(); returns 0.
  virtual int32_t Emit();
  static Ref<TEvent> Create(int32_t id, Object* source, int32_t data, int32_t mods, int32_t x, int32_t y,
                            Object* extra);
  /// The next user event id: 0x80000001, 0x80000002, ...
  static int32_t AllocUserId();
  /// Names an id; the first name given to an id stays. Names containing "}"
  /// would break the registry and are ignored. Returns 0.
  static int32_t RegisterId(int32_t id, String* name);
  /// The registered name, or the empty string.
  static Ref<String> DescriptionForId(int32_t id);
  /// "KeyDown: data=65, mods=0, x=0, y=0, extra=\"\"".
  Ref<String> ToString() override;
};

/// The hook chain every emitted event runs through (the first hook id).
int32_t EmitEventHookId();

int32_t SendEvent(TEvent* event);
Ref<TEvent> MakeEvent(int32_t id, Object* source, int32_t data, int32_t mods, int32_t x, int32_t y,
                      Object* extra);
/// A new user id, named by `description` unless it is empty.
int32_t NewUserEventId(String* description);

/// The event when `object` is one, else nullptr (nullptr and Null included).
inline TEvent* AsEvent(Object* object) { return CastRaw<TEvent>(object); }

namespace events {
/// Registers TEvent and THook, allocates EmitEventHookId() and names the
/// framework's event ids. Called by system::Init.
void Init();
}  // namespace events

}  // namespace vrl

#include "input/PolledInput.h"

#include "runtime/Runtime.h"
#include "system/Event.h"
#include "system/Hooks.h"
#include "system/SystemDriver.h"

namespace vrl {

int32_t AutoPollSystem = 1;

namespace {

struct InputState {
  int32_t keyStates[256] = {};
  int32_t keyHits[256] = {};
  int32_t chars[kCharQueueSize] = {};
  uint32_t charGet = 0, charPut = 0;
  int32_t mouseStates[4] = {};
  int32_t mouseHits[4] = {};
  int32_t location[3] = {};  // x, y, wheel
  int32_t last[3] = {};
  int32_t suspended = 0;
  int32_t terminate = 0;
  bool enabled = false;
  Ref<Object> sourceFilter;
};

InputState& I() {
  static InputState* state = new InputState;
  return *state;
}

bool KeyInRange(int32_t key) { return key >= 0 && key < 256; }
bool ButtonInRange(int32_t button) { return button >= 0 && button < 4; }

void AutoPoll() {
  if (AutoPollSystem) PollSystemEvents();
}

void ResetKeys(InputState& s) {
  s.charGet = s.charPut = 0;
  for (int i = 0; i < 256; ++i) s.keyStates[i] = s.keyHits[i] = 0;
}

void ResetMouse(InputState& s) {
  for (int i = 0; i < 4; ++i) s.mouseStates[i] = s.mouseHits[i] = 0;
  s.location[2] = 0;
}

Ref<Object> InputHook(int32_t, Object* data, Object*) {
  TEvent* event = AsEvent(data);
  if (!event) return Ref<Object>(data);
  InputState& s = I();
  if (!s.sourceFilter.IsNull() && event->source.object() != s.sourceFilter.object()) return Ref<Object>(data);
  int32_t d = event->data;
  switch (event->id) {
    case kEventKeyDown:
      if (KeyInRange(d) && !s.keyStates[d]) {
        s.keyStates[d] = 1;
        ++s.keyHits[d];
      }
      break;
    case kEventKeyUp:
      if (KeyInRange(d)) s.keyStates[d] = 0;
      break;
    case kEventKeyChar:
      if (s.charPut - s.charGet < static_cast<uint32_t>(kCharQueueSize)) {
        s.chars[s.charPut % kCharQueueSize] = d;
        ++s.charPut;
      }
      break;
    case kEventMouseDown:
      if (ButtonInRange(d) && !s.mouseStates[d]) {
        s.mouseStates[d] = 1;
        ++s.mouseHits[d];
      }
      break;
    case kEventMouseUp:
      if (ButtonInRange(d)) s.mouseStates[d] = 0;
      break;
    case kEventMouseMove:
      s.location[0] = event->x;
      s.location[1] = event->y;
      break;
    case kEventMouseWheel:
      s.location[2] += d;
      break;
    case kEventAppSuspend:
    case kEventAppResume:
      // Called from inside the pump: the polls in ClearKeys and ClearMouse
      // return at once.
      ClearKeys();
      ClearMouse();
      s.suspended = event->id == kEventAppSuspend ? 1 : 0;
      break;
    case kEventAppTerminate:
      s.terminate = 1;
      break;
    default:
      break;
  }
  return Ref<Object>(data);
}

int32_t Delta(int axis) {
  AutoPoll();
  InputState& s = I();
  int32_t d = s.location[axis] - s.last[axis];
  s.last[axis] = s.location[axis];
  return d;
}

}  // namespace

void input::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  system::Init();
}

int32_t StartPolledInput(Object* source) {
  InputState& s = I();
  if (s.enabled) return 0;
  s.sourceFilter = source;
  ClearKeys();
  ClearMouse();
  InstallHook(EmitEventHookId(), &InputHook, nullptr, 0);
  s.enabled = true;
  return 0;
}

int32_t StopPolledInput() {
  InputState& s = I();
  if (!s.enabled) return 0;
  UninstallHook(EmitEventHookId(), &InputHook, nullptr);
  ClearKeys();
  ClearMouse();
  s.sourceFilter = nullptr;
  s.enabled = false;
  return 0;
}

int32_t TakeKeyHits(int32_t key) {
  AutoPoll();
  if (!KeyInRange(key)) return 0;
  InputState& s = I();
  int32_t n = s.keyHits[key];
  s.keyHits[key] = 0;
  return n;
}

int32_t KeyIsDown(int32_t key) {
  AutoPoll();
  return KeyInRange(key) ? I().keyStates[key] : 0;
}

int32_t NextChar() {
  AutoPoll();
  InputState& s = I();
  if (s.charGet == s.charPut) return 0;
  return s.chars[s.charGet++ % kCharQueueSize];
}

int32_t ClearKeys() {
  PollSystemEvents();
  ResetKeys(I());
  return 0;
}

int32_t TakeMouseHits(int32_t button) {
  AutoPoll();
  if (!ButtonInRange(button)) return 0;
  InputState& s = I();
  int32_t n = s.mouseHits[button];
  s.mouseHits[button] = 0;
  return n;
}

int32_t MouseIsDown(int32_t button) {
  AutoPoll();
  return ButtonInRange(button) ? I().mouseStates[button] : 0;
}

int32_t MousePosX() {
  AutoPoll();
  return I().location[0];
}

int32_t MousePosY() {
  AutoPoll();
  return I().location[1];
}

int32_t MouseWheelPos() {
  AutoPoll();
  return I().location[2];
}

int32_t MouseDeltaX() { return Delta(0); }
int32_t MouseDeltaY() { return Delta(1); }
int32_t MouseWheelDelta() { return Delta(2); }

int32_t ClearMouse() {
  PollSystemEvents();
  ResetMouse(I());
  return 0;
}

int32_t AwaitKey() {
  ClearKeys();
  InputState& s = I();
  for (;;) {
    bool waited = WaitSystemEvents() != 0;
    for (int32_t code = 1; code < 256; ++code) {
      if (s.keyHits[code] > 0) {
        s.keyHits[code] = 0;
        return code;
      }
    }
    if (!waited) return 0;
  }
}

int32_t AwaitChar() {
  ClearKeys();
  InputState& s = I();
  for (;;) {
    bool waited = WaitSystemEvents() != 0;
    if (s.charGet != s.charPut) return s.chars[s.charGet++ % kCharQueueSize];
    if (!waited) return 0;
  }
}

int32_t AwaitMouse() {
  ClearMouse();
  InputState& s = I();
  for (;;) {
    bool waited = WaitSystemEvents() != 0;
    for (int32_t button = 1; button < 4; ++button) {
      if (s.mouseHits[button] > 0) {
        s.mouseHits[button] = 0;
        return button;
      }
    }
    if (!waited) return 0;
  }
}

int32_t IsAppSuspended() {
  AutoPoll();
  return I().suspended;
}

int32_t TakeTerminateRequest() {
  AutoPoll();
  InputState& s = I();
  int32_t t = s.terminate;
  s.terminate = 0;
  return t;
}

}  // namespace vrl

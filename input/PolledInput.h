// Polled input: key and mouse state built from the event stream, for loops
// that ask rather than listen. One hook on the emit chain (priority 0)
// updates the state from every event; every query first pumps system events
// (unless AutoPollSystem is 0), so a loop that only asks still sees fresh
// input.
//
// Key codes are the system driver's (Windows virtual-key codes, 0..255;
// Escape 27); buttons 1 left, 2 right, 3 middle. Codes outside those ranges
// read as 0 and are ignored. Main thread only.
#pragma once

#include <cstdint>

#include "runtime/Object.h"

namespace vrl {

/// When non-zero (the default), every query pumps system events first.
extern int32_t AutoPollSystem;

inline constexpr int32_t kCharQueueSize = 256;

/// Installs the input hook (once); only events whose source is `source`
/// count, any event when it is Null. Clears all state.
int32_t StartPolledInput(Object* source);
int32_t StopPolledInput();

/// Presses since the previous call for this key (then 0).
int32_t TakeKeyHits(int32_t key);
int32_t KeyIsDown(int32_t key);
/// The next typed character, 0 when none; 256 are kept, more are dropped.
int32_t NextChar();
/// Pumps, then forgets key states, hits and typed characters.
int32_t ClearKeys();

int32_t TakeMouseHits(int32_t button);
int32_t MouseIsDown(int32_t button);
int32_t MousePosX();
int32_t MousePosY();
int32_t MouseWheelPos();
/// Change since the previous call of the same function.
int32_t MouseDeltaX();
int32_t MouseDeltaY();
int32_t MouseWheelDelta();
/// Pumps, then forgets button states, hits and the wheel position (the
/// pointer position stays).
int32_t ClearMouse();

/// Wait for the first key hit, character or button after the call. They
/// give 0 when nothing can arrive (called from an event hook, or without
/// an event source).
int32_t AwaitKey();
int32_t AwaitChar();
int32_t AwaitMouse();

int32_t IsAppSuspended();
/// The terminate request (a close request or Alt+F4), then cleared.
int32_t TakeTerminateRequest();

namespace input {
/// Initialises the system module it reads from.
void Init();
}  // namespace input

}  // namespace vrl

// Synthetic input: builds SDL events as SDL would for a real device and
// pushes them into SDL's event queue, so that they take the same road as
// real input (the pump, the translator, the hooks). Keys are named as SDL
// names them ("A", "Escape", "Right Ctrl", "F4", "Keypad 5"). The modifier
// state follows the injected modifier keys, the way SDL updates it before it
// reports the key. Main thread; false when the event queue is not running or
// the name is unknown.
//
// For test programs and benchmarks only (vrl_platform_testing): the
// framework and its programs do not link it.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

bool InjectKey(uint32_t window, const std::string& keyName, bool down, bool repeat = false);
/// Text input, as typed: UTF-8, split into events of SDL's size.
bool InjectText(uint32_t window, const std::string& utf8);
/// `held`: kHeldLeft | kHeldRight | kHeldMiddle (platform/Messages.h).
bool InjectMouseMove(uint32_t window, int32_t x, int32_t y, int32_t held = 0);
/// `button`: 1 left, 2 right, 3 middle.
bool InjectMouseButton(uint32_t window, int32_t button, bool down, int32_t x, int32_t y);
/// Notches away from the user (negative: towards); `flipped` reports them the
/// way natural-scrolling systems do.
bool InjectWheel(uint32_t window, int32_t notches, int32_t x, int32_t y, bool flipped = false);

enum class WindowSignal { FocusGained, FocusLost, Enter, Leave, Close, Quit };
bool InjectWindowSignal(uint32_t window, WindowSignal signal);

/// Forgets the injected modifier state.
void ResetInjectedModifiers();
/// Number of events waiting in SDL's queue.
int PendingEventCount();

}  // namespace vrl::platform

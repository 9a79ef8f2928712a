// The main thread's message loop over SDL's event queue, in the vocabulary of
// the system driver (system/), which turns these messages into events: SDL
// events come out as Messages whose codes already follow the framework's
// contract (Windows virtual-key codes, buttons 1 left, 2 right, 3 middle,
// wheel notches positive away from the user, modifier bits Shift 1,
// Control 2, Alt 4, system key 8).
//
// Main-thread callbacks travel through the same queue: any thread may post a
// plain record (function, data pointer, integer) that the main thread runs
// when its pump meets it, in order with the other messages.
//
// Threading: PumpMessages and WaitForMessages run on the main thread (the one
// that started SDL's video and events). PostMainThreadCallback may be called
// from any thread; it neither allocates framework objects nor touches counts.
#pragma once

#include <cstdint>

namespace vrl::platform {

enum class MessageKind : uint8_t {
  Activate,    // code: 1 gained the keyboard focus, 0 lost it
  Close,       // a close request for the window (close box, window manager)
  KeyDown,     // code: virtual-key code (0 for keys without one); repeat flag
  KeyUp,       // code: virtual-key code
  Char,        // code: one UTF-16 unit of typed text (or 8, 9, 13, 27)
  MouseMove,   // buttons: held buttons; x, y
  MouseDown,   // code: button 1 left, 2 right, 3 middle; x, y
  MouseUp,     // code: button; x, y
  MouseWheel,  // code: notches, positive away from the user; x, y
  MouseLeave,  // the pointer left the window
};

/// Held-button bits of MouseMove.
inline constexpr int32_t kHeldLeft = 1;
inline constexpr int32_t kHeldRight = 2;
inline constexpr int32_t kHeldMiddle = 4;

struct Message {
  MessageKind kind = MessageKind::Close;
  uint32_t window = 0;  // SDL window id; 0 when the event names none
  int32_t code = 0;
  bool repeat = false;     // KeyDown: the key was down already (auto-repeat)
  bool minimised = false;  // Activate: the window is minimised
  /// Activate: the other window of this process that loses (or gains) the
  /// focus in the same switch; 0 when the focus goes to (or comes from)
  /// another application.
  uint32_t otherWindow = 0;
  /// Key messages: the modifier bits at the time of the message (after the
  /// key itself took effect). -1 on other messages.
  int32_t mods = -1;
  int32_t buttons = 0;
  int32_t x = 0, y = 0;  // client coordinates of the window
};

using MessageHandler = void (*)(const Message& message, void* context);

/// Takes the messages pending when it starts and hands each to `handler`,
/// running posted callbacks as they come; messages and callbacks queued while
/// it runs wait for the next pump. An exception thrown by the handler or a
/// callback leaves the pump at once; the messages not yet taken stay queued.
/// Returns the number of messages and callbacks handled. Does nothing (0)
/// while SDL's event queue is not running.
int PumpMessages(MessageHandler handler, void* context);

/// Blocks until a message or a posted callback is pending; takes nothing.
/// Returns false at once when SDL's event queue is not running.
bool WaitForMessages();

/// A callback run on the main thread. `data` and `value` are the poster's.
using MainThreadFunction = void (*)(void* data, int64_t value);
/// Called on the main thread instead of the callback when a posted record is
/// thrown away unrun (the event queue stops); lets the poster free `data`.
using DiscardFunction = void (*)(void* data, int64_t value);

/// Posts a callback record to the main thread; thread-safe. False when the
/// event queue is not running or full (the record is not posted, and neither
/// function is called).
bool PostMainThreadCallback(MainThreadFunction function, void* data, int64_t value,
                            DiscardFunction discard = nullptr);

/// Focus changes of a modal dialog of the program are not the user switching
/// applications. When the dialog opens, PendingFocusMessages fetches the
/// window system's pending events and counts the focus changes queued; when
/// it closes, DiscardFocusMessages fetches them again and throws away the
/// focus changes after the first `keep` (those that came before the dialog).
int PendingFocusMessages();
void DiscardFocusMessages(int keep);

/// Throws away queued callback records, calling their discard functions.
/// ReleaseSdl calls it before the event queue stops.
void DiscardPendingCallbacks();

}  // namespace vrl::platform

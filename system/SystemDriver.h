// The system module: the system driver that pumps the platform's messages
// and offers desktop services, the free functions that forward to it, the
// translator that turns platform messages into events, main-thread
// callbacks, and the date and time as text.
//
// Everything here runs on the main thread, except PostMainThreadCallback.
//
// The contract of a system driver
//
// A driver is a TSystemDriver subclass that connects the framework to one
// platform's message queue and desktop. system::Init registers the driver
// class of every back-end in SystemBackends() and makes the driver of the
// first back-end that gives one; SetSystemDriver replaces it. Programs use
// the free functions below, which forward to the current driver.
//
// Threads: every call of a driver (its constructor and destructor too) runs
// on the main thread, the one that runs system::Init and pumps the events.
// Other threads never call it; they reach the main thread through
// PostMainThreadCallback, which posts into the platform's queue without the
// driver.
//
// The framework calls Poll and Wait only through PollSystemEvents and
// WaitSystemEvents, never while another pump runs further up the stack (a
// hook that pumps returns at once), so a driver is never re-entered. Poll
// handles the messages pending when it starts and returns without blocking;
// what arrives meanwhile (from handlers or other threads) waits for the next
// call. It hands every message to TranslateSystemMessage, the one translator
// of messages into events, and makes no event of its own: the modifier
// state, pointer tracking, window sources, the focus rules and Alt+F4 are
// the same whatever the driver. An exception thrown by a hook passes through
// Poll to the caller, and the messages not yet handled stay queued. Wait
// blocks until a message or a posted callback is pending, then polls and
// returns 1; it returns 0 at once when nothing can arrive. Poll's result is
// not used.
//
// Timers and the event queue: the platform's timer thread and
// PostMainThreadCallback post records into the queue the driver pumps
// (platform/Messages.h, platform/TimerThread.h), and Poll runs each record
// where it meets it, in order with the messages. The driver keeps that
// queue running for its lifetime, since timers start only while it runs and
// records still queued are dropped when it stops. It needs no display
// (system::Init runs without one); a driver whose queue could not start
// behaves as one that never receives anything.
//
// Modal dialogs (Notify, Confirm, Proceed, RequestFile, RequestDir) block the
// main thread until the user answers and neither poll nor run posted
// records meanwhile: timer expiries are counted and reach the program as
// one tick at the next Poll. Each dialog is bracketed by BeginModalDialog and
// EndModalDialog, so the focus it takes and gives back makes no
// "AppSuspend" or "AppResume". A dialog that cannot be shown answers at once
// (Notify and Confirm 0, Proceed -1, the requesters "").
//
// The pointer: MoveMouse warps it; SetMouseVisible hands the flag to
// SetPointerVisibleFlag, which applies it at once, and the translator
// applies it again as the pointer crosses the framework's windows.
//
// What the base does: TSystemDriver keeps no state, and each of its ten
// operations throws TNullMethodException, so a driver overrides all ten.
// The free functions do the shared work before a driver sees a call: the
// pumps' re-entry guard, "\" to "/" in RequestDir's path, the normalised
// URL of OpenURL, ShowPointer and HidePointer as SetMouseVisible(1) and (0).
// Without a driver the pumps do nothing and the other functions throw
// TNullObjectException.
//
// The back-ends, in the order system::Init tries them, are the table of
// system/SystemBackends.cpp (SystemBackends()):
//   "SDL"  system/SDLSystemDriver.h  always gives its driver: the default
#pragma once

#include <cstdint>
#include <span>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

namespace platform {
struct Message;
}

/// The driver's operations (see the contract above). Each operation of this
/// base class throws TNullMethodException.
class TSystemDriver : public Object {
  VRL_CLASS(TSystemDriver, Object)
 public:
  /// Processes the messages pending when it starts and returns at once;
  /// messages that handlers cause meanwhile wait for the next call.
  virtual int32_t Poll();
  /// Blocks until a message is pending, then polls. Returns 1, or 0 at once
  /// when there is nothing to wait on.
  virtual int32_t Wait();
  /// Moves the pointer to client coordinates of the active window (desktop
  /// coordinates when there is none).
  virtual int32_t MoveMouse(int32_t x, int32_t y);
  /// Shows or hides the pointer over the framework's windows.
  virtual int32_t SetMouseVisible(int32_t visible);
  virtual int32_t Notify(String* text, int32_t serious);
  /// 1 for OK, else 0.
  virtual int32_t Confirm(String* text, int32_t serious);
  /// 1 yes, 0 no, -1 cancel.
  virtual int32_t Proceed(String* text, int32_t serious);
  /// `filter` as for the free RequestFile; the chosen path or "".
  virtual Ref<String> RequestFile(String* title, String* filter, int32_t save, String* path);
  virtual Ref<String> RequestDir(String* title, String* path);
  /// 1 if the desktop's opener accepted the URL, else 0 (none installed, or
  /// no handler for it).
  virtual int32_t OpenURL(String* url);
};

/// The current driver (made by system::Init), and its replacement. The
/// forwarding functions below throw TNullObjectException without a driver,
/// except the two pumps, which then do nothing.
TSystemDriver* SystemDriver();
void SetSystemDriver(TSystemDriver* driver);

/// One system back-end, as the back-end table lists it.
struct SystemBackend {
  const char* name;
  /// The driver's class record, registered by system::Init.
  const ClassRecord& (*driverClass)();
  /// A new driver, or Null when the back-end cannot run here.
  Ref<TSystemDriver> (*create)();
};
/// The back-ends in the order system::Init tries them.
std::span<const SystemBackend> SystemBackends();

/// Pump the driver unless a pump is already running further up the stack (a
/// handler calling back in returns at once). WaitSystemEvents returns 1 when
/// it waited and pumped, 0 when it could not (inside a pump, or nothing to
/// wait on).
int32_t PollSystemEvents();
int32_t WaitSystemEvents();

int32_t MoveMouse(int32_t x, int32_t y);
int32_t ShowPointer();
int32_t HidePointer();
int32_t Notify(String* text, int32_t serious = 0);
int32_t Confirm(String* text, int32_t serious = 0);
int32_t Proceed(String* text, int32_t serious = 0);
/// `filter`: groups separated by ";", each "description:ext,ext" (or only
/// "ext,ext" when the filter has no ":"). The group that lists the initial
/// file's extension is shown first.
Ref<String> RequestFile(String* title, String* filter = nullptr, int32_t save = 0, String* path = nullptr);
Ref<String> RequestDir(String* title, String* path = nullptr);
/// Bare names become "file:" + the full path of an existing file or folder,
/// else "http:" + the name; an anchor ("#...") is kept.
int32_t OpenURL(String* url);

/// The local date as "%d %b %Y" (07 Dec 2026) and time as "%H:%M:%S".
Ref<String> DateText();
Ref<String> TimeText();

/// The framework filter as the requester's list: "description NUL patterns
/// NUL" for each group, then a final NUL ("png,jpg" gives "Files", "*.png;*.jpg").
Ref<String> ConvertFileFilter(String* filter);
/// The 1-based group of `filter` that lists the extension of the file named
/// in `path`; 0 when none does.
int32_t PreselectedFilterGroup(String* filter, String* path);
/// The URL as OpenURL hands it on.
Ref<String> NormaliseURL(String* url);

/// Desktop metrics (0 without a display).
int32_t DesktopWidth();
int32_t DesktopHeight();
int32_t DesktopDepth();
int32_t DesktopHertz();

/// Main-thread callbacks. Any thread may post; `callback(argument, value)`
/// runs on the main thread while it pumps system events. With `release`, the
/// caller hands over one reference to `argument` (taken on the thread that
/// owns the object), dropped after the call. A poster on another thread must
/// not touch the object otherwise. False when the record cannot be posted
/// (no event queue, or SDL's queue is full); the reference then stays the
/// caller's. Records still queued when the event queue stops are dropped,
/// releasing their references.
using MainThreadCallback = void (*)(Object* argument, int32_t value);
bool PostMainThreadCallback(MainThreadCallback callback, Object* argument, int32_t value, bool release);

/// The event source object of a platform window (its graphics' source), set
/// by whoever opens the window; Null (nullptr) forgets it. Events of windows
/// without one have a Null source.
///
/// The map does not own its sources: it holds no reference, so a graphics
/// that its program drops without closing is still freed. In return, whoever
/// sets a source must remove it (SetWindowEventSource(window, nullptr)) before
/// the object goes away, when it is closed and at the latest in its
/// destructor. The translator holds a counted reference to a window's source
/// while it emits that window's events.
void SetWindowEventSource(uint32_t window, Object* source);
Object* WindowEventSource(uint32_t window);

/// Brackets a modal dialog of the program (message box, requester); calls
/// nest. The focus the dialog takes and gives back is not the user switching
/// applications: no "AppSuspend" or "AppResume" comes of it, so the polled
/// keys survive a dialog. Focus changes after the dialog are reported as
/// usual.
void BeginModalDialog();
void EndModalDialog();

/// The translator: turns one platform message into events (up to three for a
/// pointer move: a leave, an enter, the move) and emits them. The SDL driver
/// calls it for every message it pumps.
void TranslateSystemMessage(const platform::Message& message);
/// The current modifier bits (Shift 1, Control 2, Alt 4, system key 8).
int32_t CurrentModifiers();
/// The window the pointer is tracked over, 0 for none.
uint32_t TrackedWindow();
/// Stores the pointer-visible flag: the pointer is shown when the flag is set
/// or when it is over none of the framework's windows, hidden otherwise.
void SetPointerVisibleFlag(int32_t visible);

namespace system {
/// Initialises events, hooks, the event queue and timers, registers the
/// back-ends' driver classes and makes the driver of the first back-end that
/// gives one (the SDL driver). Needs no display.
void Init();
}  // namespace system

}  // namespace vrl

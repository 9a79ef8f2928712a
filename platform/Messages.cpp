#include "platform/Messages.h"

#include <SDL.h>

#include <cstring>
#include <mutex>

#include "platform/KeyCodes.h"

namespace vrl::platform {

namespace {

struct CallbackRecord {
  MainThreadFunction function;
  DiscardFunction discard;
  void* data;
  int64_t value;
};

// SDL's user event type of callback records, registered once.
uint32_t CallbackEventType() {
  static std::once_flag once;
  static uint32_t type = 0;
  std::call_once(once, [] {
    uint32_t t = SDL_RegisterEvents(1);
    type = t == static_cast<uint32_t>(-1) ? 0 : t;
  });
  return type;
}

bool EventsRunning() { return SDL_WasInit(SDL_INIT_EVENTS) != 0; }

// The window that lost the focus earlier in the current pump, so that the
// window gaining it next can name it (focus moved inside this process).
uint32_t gLostFocusWindow = 0;

// The first window of this process waiting in the queue to gain the focus,
// other than `window`; 0 when none.
uint32_t PendingFocusGain(uint32_t window) {
  SDL_Event pending[64];
  int n = SDL_PeepEvents(pending, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
  for (int i = 0; i < n; ++i) {
    const SDL_WindowEvent& w = pending[i].window;
    if (w.event == SDL_WINDOWEVENT_FOCUS_GAINED && w.windowID != window) return w.windowID;
  }
  return 0;
}

bool IsMinimised(uint32_t windowId) {
  SDL_Window* window = SDL_GetWindowFromID(windowId);
  return window && (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED);
}

// Decodes UTF-8 text into UTF-16 units and hands each out as a Char message.
// Malformed bytes are skipped.
int DispatchText(const SDL_TextInputEvent& text, MessageHandler handler, void* context) {
  Message m;
  m.kind = MessageKind::Char;
  m.window = text.windowID;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.text);
  const unsigned char* end = p + strnlen(text.text, sizeof text.text);
  int count = 0;
  while (p < end) {
    uint32_t c = *p;
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || end - p <= extra) {
      ++p;
      continue;
    }
    c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
    bool valid = true;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};  // shorter forms are overlong
    if (!valid || c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      ++p;
      continue;
    }
    p += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      m.code = static_cast<int32_t>(0xD800 + (c >> 10));
      handler(m, context);
      m.code = static_cast<int32_t>(0xDC00 + (c & 0x3FF));
      handler(m, context);
      count += 2;
    } else {
      m.code = static_cast<int32_t>(c);
      handler(m, context);
      ++count;
    }
  }
  return count;
}

// Keys that type a control character, which SDL's text input never reports
// but the framework's character stream carries.
int32_t ControlCharacter(int32_t vk) {
  switch (vk) {
    case 0x08:
    case 0x09:
    case 0x0D:
    case 0x1B:
      return vk;
    default:
      return 0;
  }
}

int32_t Button(uint8_t sdlButton) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      return 1;
    case SDL_BUTTON_RIGHT:
      return 2;
    case SDL_BUTTON_MIDDLE:
      return 3;
    default:
      return 0;
  }
}

int32_t HeldButtons(uint32_t state) {
  int32_t held = 0;
  if (state & SDL_BUTTON_LMASK) held |= kHeldLeft;
  if (state & SDL_BUTTON_RMASK) held |= kHeldRight;
  if (state & SDL_BUTTON_MMASK) held |= kHeldMiddle;
  return held;
}

// One SDL event as messages; returns how many were handed out.
int Dispatch(const SDL_Event& e, MessageHandler handler, void* context) {
  Message m;
  switch (e.type) {
    case SDL_WINDOWEVENT:
      m.window = e.window.windowID;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          m.kind = MessageKind::Activate;
          m.code = 1;
          m.minimised = IsMinimised(m.window);
          m.otherWindow = gLostFocusWindow != m.window ? gLostFocusWindow : 0;
          gLostFocusWindow = 0;
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          m.kind = MessageKind::Activate;
          m.code = 0;
          m.otherWindow = PendingFocusGain(m.window);
          gLostFocusWindow = m.window;
          break;
        case SDL_WINDOWEVENT_CLOSE:
          m.kind = MessageKind::Close;
          break;
        case SDL_WINDOWEVENT_LEAVE:
          m.kind = MessageKind::MouseLeave;
          break;
        default:
          return 0;
      }
      handler(m, context);
      return 1;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      m.kind = e.type == SDL_KEYDOWN ? MessageKind::KeyDown : MessageKind::KeyUp;
      m.window = e.key.windowID;
      m.code = VirtualKeyFromSdl(e.key.keysym.sym, e.key.keysym.scancode);
      m.repeat = e.key.repeat != 0;
      m.mods = ModifierBitsFromSdl(e.key.keysym.mod);
      handler(m, context);
      int32_t c = e.type == SDL_KEYDOWN ? ControlCharacter(m.code) : 0;
      if (!c) return 1;
      Message ch;
      ch.kind = MessageKind::Char;
      ch.window = m.window;
      ch.code = c;
      handler(ch, context);
      return 2;
    }
    case SDL_TEXTINPUT:
      return DispatchText(e.text, handler, context);
    case SDL_MOUSEMOTION:
      m.kind = MessageKind::MouseMove;
      m.window = e.motion.windowID;
      m.buttons = HeldButtons(e.motion.state);
      m.x = e.motion.x;
      m.y = e.motion.y;
      handler(m, context);
      return 1;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      m.code = Button(e.button.button);
      if (!m.code) return 0;
      m.kind = e.type == SDL_MOUSEBUTTONDOWN ? MessageKind::MouseDown : MessageKind::MouseUp;
      m.window = e.button.windowID;
      m.x = e.button.x;
      m.y = e.button.y;
      handler(m, context);
      return 1;
    case SDL_MOUSEWHEEL:
      m.kind = MessageKind::MouseWheel;
      m.window = e.wheel.windowID;
      m.code = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      if (!m.code) return 0;  // sideways scrolling
      m.x = e.wheel.mouseX;
      m.y = e.wheel.mouseY;
      handler(m, context);
      return 1;
    default:
      // SDL_QUIT follows the close request of the last window, which has
      // already been reported; signals do not make one (Sdl.cpp).
      return 0;
  }
}

void RunCallback(const SDL_Event& e) {
  // The record is freed even when the callback throws.
  struct Owner {
    CallbackRecord* record;
    ~Owner() { delete record; }
  } owner{static_cast<CallbackRecord*>(e.user.data1)};
  if (owner.record && owner.record->function) owner.record->function(owner.record->data, owner.record->value);
}

}  // namespace

int PumpMessages(MessageHandler handler, void* context) {
  if (!EventsRunning()) return 0;
  struct EndOfPump {
    ~EndOfPump() { gLostFocusWindow = 0; }
  } endOfPump;
  SDL_PumpEvents();
  uint32_t callbackType = CallbackEventType();
  int handled = 0;
  // Only what is queued now: what handlers and other threads add meanwhile
  // waits for the next pump, so a timer faster than its handler cannot keep
  // the pump from returning.
  int queued = SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_Event e;
  // One event at a time: if a handler throws, the rest stays queued.
  while (queued-- > 0 && SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
    if (callbackType && e.type == callbackType) {
      RunCallback(e);
      ++handled;
    } else {
      handled += Dispatch(e, handler, context);
    }
  }
  return handled;
}

bool WaitForMessages() {
  if (!EventsRunning()) return false;
  return SDL_WaitEventTimeout(nullptr, -1) == 1;
}

bool PostMainThreadCallback(MainThreadFunction function, void* data, int64_t value, DiscardFunction discard) {
  if (!EventsRunning()) return false;
  uint32_t type = CallbackEventType();
  if (!type) return false;
  auto* record = new CallbackRecord{function, discard, data, value};
  SDL_Event e;
  SDL_zero(e);
  e.type = type;
  e.user.data1 = record;
  if (SDL_PushEvent(&e) != 1) {
    delete record;
    return false;
  }
  return true;
}

namespace {
bool IsFocusChange(const SDL_Event& e) {
  return e.type == SDL_WINDOWEVENT &&
         (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || e.window.event == SDL_WINDOWEVENT_FOCUS_LOST);
}
}  // namespace

int PendingFocusMessages() {
  if (!EventsRunning()) return 0;
  SDL_PumpEvents();
  SDL_Event pending[64];
  int count = 0;
  int n = SDL_PeepEvents(pending, 64, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
  for (int i = 0; i < n; ++i)
    if (IsFocusChange(pending[i])) ++count;
  return count;
}

void DiscardFocusMessages(int keep) {
  if (!EventsRunning()) return;
  SDL_PumpEvents();
  // The filter walks the queue in order.
  SDL_FilterEvents(
      [](void* left, SDL_Event* e) -> int {
        if (!IsFocusChange(*e)) return 1;
        int& kept = *static_cast<int*>(left);
        if (kept <= 0) return 0;
        --kept;
        return 1;
      },
      &keep);
}

void DiscardPendingCallbacks() {
  uint32_t type = CallbackEventType();
  if (!type || !EventsRunning()) return;
  SDL_Event e;
  while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, type, type) > 0) {
    auto* record = static_cast<CallbackRecord*>(e.user.data1);
    if (record && record->discard) record->discard(record->data, record->value);
    delete record;
  }
}

}  // namespace vrl::platform

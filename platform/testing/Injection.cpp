#include "platform/testing/Injection.h"

#include <SDL.h>

#include <cstring>

#include "platform/Messages.h"

namespace vrl::platform {

namespace {

uint16_t gMods = KMOD_NONE;

uint16_t ModifierOf(SDL_Scancode scan) {
  switch (scan) {
    case SDL_SCANCODE_LSHIFT:
      return KMOD_LSHIFT;
    case SDL_SCANCODE_RSHIFT:
      return KMOD_RSHIFT;
    case SDL_SCANCODE_LCTRL:
      return KMOD_LCTRL;
    case SDL_SCANCODE_RCTRL:
      return KMOD_RCTRL;
    case SDL_SCANCODE_LALT:
      return KMOD_LALT;
    case SDL_SCANCODE_RALT:
      return KMOD_RALT;
    case SDL_SCANCODE_LGUI:
      return KMOD_LGUI;
    case SDL_SCANCODE_RGUI:
      return KMOD_RGUI;
    default:
      return 0;
  }
}

// The key code SDL's default US keymap gives a scancode; SDL fills its own
// keymap only once video runs, and tests inject keys without it too.
SDL_Keycode KeyOf(SDL_Scancode scan) {
  SDL_Keycode key = SDL_GetKeyFromScancode(scan);
  if (key != SDLK_UNKNOWN) return key;
  if (scan >= SDL_SCANCODE_A && scan <= SDL_SCANCODE_Z) return SDLK_a + (scan - SDL_SCANCODE_A);
  if (scan >= SDL_SCANCODE_1 && scan <= SDL_SCANCODE_9) return SDLK_1 + (scan - SDL_SCANCODE_1);
  switch (scan) {
    case SDL_SCANCODE_0:
      return SDLK_0;
    case SDL_SCANCODE_RETURN:
      return SDLK_RETURN;
    case SDL_SCANCODE_ESCAPE:
      return SDLK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE:
      return SDLK_BACKSPACE;
    case SDL_SCANCODE_TAB:
      return SDLK_TAB;
    case SDL_SCANCODE_SPACE:
      return SDLK_SPACE;
    case SDL_SCANCODE_MINUS:
      return SDLK_MINUS;
    case SDL_SCANCODE_EQUALS:
      return SDLK_EQUALS;
    case SDL_SCANCODE_LEFTBRACKET:
      return SDLK_LEFTBRACKET;
    case SDL_SCANCODE_RIGHTBRACKET:
      return SDLK_RIGHTBRACKET;
    case SDL_SCANCODE_BACKSLASH:
      return SDLK_BACKSLASH;
    case SDL_SCANCODE_SEMICOLON:
      return SDLK_SEMICOLON;
    case SDL_SCANCODE_APOSTROPHE:
      return SDLK_QUOTE;
    case SDL_SCANCODE_GRAVE:
      return SDLK_BACKQUOTE;
    case SDL_SCANCODE_COMMA:
      return SDLK_COMMA;
    case SDL_SCANCODE_PERIOD:
      return SDLK_PERIOD;
    case SDL_SCANCODE_SLASH:
      return SDLK_SLASH;
    case SDL_SCANCODE_DELETE:
      return SDLK_DELETE;
    default:
      return SDL_SCANCODE_TO_KEYCODE(scan);
  }
}

bool Push(SDL_Event& e) {
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return false;
  return SDL_PushEvent(&e) == 1;
}

}  // namespace

bool InjectKey(uint32_t window, const std::string& keyName, bool down, bool repeat) {
  SDL_Scancode scan = SDL_GetScancodeFromName(keyName.c_str());
  if (scan == SDL_SCANCODE_UNKNOWN) return false;
  uint16_t modifier = ModifierOf(scan);
  if (modifier) gMods = down ? (gMods | modifier) : (gMods & ~modifier);
  SDL_Event e;
  SDL_zero(e);
  e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
  e.key.timestamp = SDL_GetTicks();
  e.key.windowID = window;
  e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.key.repeat = repeat ? 1 : 0;
  e.key.keysym.scancode = scan;
  e.key.keysym.sym = KeyOf(scan);
  e.key.keysym.mod = gMods;
  return Push(e);
}

bool InjectText(uint32_t window, const std::string& utf8) {
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    // Whole characters only, at most 31 bytes an event.
    std::size_t n = 0;
    while (pos + n < utf8.size()) {
      std::size_t len = 1;
      unsigned char c = static_cast<unsigned char>(utf8[pos + n]);
      if (c >= 0xF0)
        len = 4;
      else if (c >= 0xE0)
        len = 3;
      else if (c >= 0xC0)
        len = 2;
      if (n + len > SDL_TEXTINPUTEVENT_TEXT_SIZE - 1) break;
      n += len;
    }
    if (n == 0) return false;
    SDL_Event e;
    SDL_zero(e);
    e.type = SDL_TEXTINPUT;
    e.text.windowID = window;
    std::memcpy(e.text.text, utf8.data() + pos, std::min(n, utf8.size() - pos));
    if (!Push(e)) return false;
    pos += n;
  }
  return true;
}

bool InjectMouseMove(uint32_t window, int32_t x, int32_t y, int32_t held) {
  SDL_Event e;
  SDL_zero(e);
  e.type = SDL_MOUSEMOTION;
  e.motion.windowID = window;
  e.motion.x = x;
  e.motion.y = y;
  if (held & kHeldLeft) e.motion.state |= SDL_BUTTON_LMASK;
  if (held & kHeldRight) e.motion.state |= SDL_BUTTON_RMASK;
  if (held & kHeldMiddle) e.motion.state |= SDL_BUTTON_MMASK;
  return Push(e);
}

bool InjectMouseButton(uint32_t window, int32_t button, bool down, int32_t x, int32_t y) {
  static const uint8_t kSdlButtons[] = {0, SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE};
  if (button < 1 || button > 3) return false;
  SDL_Event e;
  SDL_zero(e);
  e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
  e.button.windowID = window;
  e.button.button = kSdlButtons[button];
  e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
  e.button.clicks = 1;
  e.button.x = x;
  e.button.y = y;
  return Push(e);
}

bool InjectWheel(uint32_t window, int32_t notches, int32_t x, int32_t y, bool flipped) {
  SDL_Event e;
  SDL_zero(e);
  e.type = SDL_MOUSEWHEEL;
  e.wheel.windowID = window;
  e.wheel.y = flipped ? -notches : notches;
  e.wheel.preciseY = static_cast<float>(e.wheel.y);
  e.wheel.direction = flipped ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
  e.wheel.mouseX = x;
  e.wheel.mouseY = y;
  return Push(e);
}

bool InjectWindowSignal(uint32_t window, WindowSignal signal) {
  SDL_Event e;
  SDL_zero(e);
  if (signal == WindowSignal::Quit) {
    e.type = SDL_QUIT;
    return Push(e);
  }
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = window;
  switch (signal) {
    case WindowSignal::FocusGained:
      e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
      break;
    case WindowSignal::FocusLost:
      e.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
      break;
    case WindowSignal::Enter:
      e.window.event = SDL_WINDOWEVENT_ENTER;
      break;
    case WindowSignal::Leave:
      e.window.event = SDL_WINDOWEVENT_LEAVE;
      break;
    case WindowSignal::Close:
      e.window.event = SDL_WINDOWEVENT_CLOSE;
      break;
    case WindowSignal::Quit:
      break;
  }
  return Push(e);
}

void ResetInjectedModifiers() { gMods = KMOD_NONE; }

int PendingEventCount() {
  if (!SDL_WasInit(SDL_INIT_EVENTS)) return 0;
  return SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
}

}  // namespace vrl::platform

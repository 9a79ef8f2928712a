#include "platform/KeyCodes.h"

#include <SDL.h>

namespace vrl::platform {

namespace {

// Keys by the code SDL gives them (layout-aware).
int32_t FromKeycode(int32_t key) {
  if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
  if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
  if (key >= SDLK_F1 && key <= SDLK_F12) return 0x70 + (key - SDLK_F1);
  if (key >= SDLK_F13 && key <= SDLK_F24) return 0x7C + (key - SDLK_F13);
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return 0x61 + (key - SDLK_KP_1);
  switch (key) {
    case SDLK_CANCEL:
      return 0x03;
    case SDLK_BACKSPACE:
      return 0x08;
    case SDLK_TAB:
      return 0x09;
    case SDLK_CLEAR:
      return 0x0C;
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER:
      return 0x0D;
    case SDLK_PAUSE:
      return 0x13;
    case SDLK_CAPSLOCK:
      return 0x14;
    case SDLK_ESCAPE:
      return 0x1B;
    case SDLK_SPACE:
      return 0x20;
    case SDLK_PAGEUP:
      return 0x21;
    case SDLK_PAGEDOWN:
      return 0x22;
    case SDLK_END:
      return 0x23;
    case SDLK_HOME:
      return 0x24;
    case SDLK_LEFT:
      return 0x25;
    case SDLK_UP:
      return 0x26;
    case SDLK_RIGHT:
      return 0x27;
    case SDLK_DOWN:
      return 0x28;
    case SDLK_SELECT:
      return 0x29;
    case SDLK_EXECUTE:
      return 0x2B;
    case SDLK_PRINTSCREEN:
      return 0x2C;
    case SDLK_INSERT:
      return 0x2D;
    case SDLK_DELETE:
      return 0x2E;
    case SDLK_HELP:
      return 0x2F;
    case SDLK_LGUI:
      return 0x5B;
    case SDLK_RGUI:
      return 0x5C;
    case SDLK_APPLICATION:
    case SDLK_MENU:
      return 0x5D;
    case SDLK_SLEEP:
      return 0x5F;
    case SDLK_KP_0:
      return 0x60;
    case SDLK_KP_MULTIPLY:
      return 0x6A;
    case SDLK_KP_PLUS:
      return 0x6B;
    case SDLK_KP_COMMA:
      return 0x6C;
    case SDLK_KP_MINUS:
      return 0x6D;
    case SDLK_KP_PERIOD:
    case SDLK_KP_DECIMAL:
      return 0x6E;
    case SDLK_KP_DIVIDE:
      return 0x6F;
    case SDLK_NUMLOCKCLEAR:
      return 0x90;
    case SDLK_SCROLLLOCK:
      return 0x91;
    case SDLK_KP_EQUALS:
      return 0x92;
    case SDLK_AC_BACK:
      return 0xA6;
    case SDLK_AC_FORWARD:
      return 0xA7;
    case SDLK_AC_REFRESH:
      return 0xA8;
    case SDLK_AC_STOP:
      return 0xA9;
    case SDLK_AC_SEARCH:
      return 0xAA;
    case SDLK_AC_BOOKMARKS:
      return 0xAB;
    case SDLK_AC_HOME:
      return 0xAC;
    case SDLK_AUDIOMUTE:
      return 0xAD;
    case SDLK_VOLUMEDOWN:
      return 0xAE;
    case SDLK_VOLUMEUP:
      return 0xAF;
    case SDLK_AUDIONEXT:
      return 0xB0;
    case SDLK_AUDIOPREV:
      return 0xB1;
    case SDLK_AUDIOSTOP:
      return 0xB2;
    case SDLK_AUDIOPLAY:
      return 0xB3;
    case SDLK_MAIL:
      return 0xB4;
    case SDLK_MEDIASELECT:
      return 0xB5;
    case SDLK_COMPUTER:
      return 0xB6;
    case SDLK_CALCULATOR:
      return 0xB7;
    case SDLK_SEMICOLON:
      return 0xBA;
    case SDLK_EQUALS:
    case SDLK_PLUS:
      return 0xBB;
    case SDLK_COMMA:
      return 0xBC;
    case SDLK_MINUS:
      return 0xBD;
    case SDLK_PERIOD:
      return 0xBE;
    case SDLK_SLASH:
      return 0xBF;
    case SDLK_BACKQUOTE:
      return 0xC0;
    case SDLK_LEFTBRACKET:
      return 0xDB;
    case SDLK_BACKSLASH:
      return 0xDC;
    case SDLK_RIGHTBRACKET:
      return 0xDD;
    case SDLK_QUOTE:
      return 0xDE;
    case SDLK_CRSEL:
      return 0xF7;
    case SDLK_EXSEL:
      return 0xF8;
    case SDLK_CLEARAGAIN:
      return 0xFE;
    default:
      return 0;
  }
}

// Keys by position, for codes of other layouts that the table above does
// not know (an accented letter, for example): the US layout's key there.
int32_t FromScancode(int32_t scan) {
  if (scan >= SDL_SCANCODE_A && scan <= SDL_SCANCODE_Z) return 'A' + (scan - SDL_SCANCODE_A);
  if (scan >= SDL_SCANCODE_1 && scan <= SDL_SCANCODE_9) return '1' + (scan - SDL_SCANCODE_1);
  switch (scan) {
    case SDL_SCANCODE_0:
      return '0';
    case SDL_SCANCODE_MINUS:
      return 0xBD;
    case SDL_SCANCODE_EQUALS:
      return 0xBB;
    case SDL_SCANCODE_LEFTBRACKET:
      return 0xDB;
    case SDL_SCANCODE_RIGHTBRACKET:
      return 0xDD;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH:
      return 0xDC;
    case SDL_SCANCODE_SEMICOLON:
      return 0xBA;
    case SDL_SCANCODE_APOSTROPHE:
      return 0xDE;
    case SDL_SCANCODE_GRAVE:
      return 0xC0;
    case SDL_SCANCODE_COMMA:
      return 0xBC;
    case SDL_SCANCODE_PERIOD:
      return 0xBE;
    case SDL_SCANCODE_SLASH:
      return 0xBF;
    case SDL_SCANCODE_NONUSBACKSLASH:
      return 0xE2;
    default:
      return 0;
  }
}

}  // namespace

int32_t VirtualKeyFromSdl(int32_t keycode, int32_t scancode) {
  // The sided codes come from the key's position, whatever the layout says.
  switch (scancode) {
    case SDL_SCANCODE_LSHIFT:
      return kVkLeftShift;
    case SDL_SCANCODE_RSHIFT:
      return kVkRightShift;
    case SDL_SCANCODE_LCTRL:
      return kVkLeftControl;
    case SDL_SCANCODE_RCTRL:
      return kVkRightControl;
    case SDL_SCANCODE_LALT:
      return kVkLeftAlt;
    case SDL_SCANCODE_RALT:
      return kVkRightAlt;
    default:
      break;
  }
  switch (keycode) {
    case SDLK_LSHIFT:
      return kVkLeftShift;
    case SDLK_RSHIFT:
      return kVkRightShift;
    case SDLK_LCTRL:
      return kVkLeftControl;
    case SDLK_RCTRL:
      return kVkRightControl;
    case SDLK_LALT:
      return kVkLeftAlt;
    case SDLK_RALT:
      return kVkRightAlt;
    default:
      break;
  }
  int32_t code = FromKeycode(keycode);
  return code ? code : FromScancode(scancode);
}

int32_t ModifierBitsFromSdl(uint32_t keymod) {
  int32_t bits = 0;
  if (keymod & KMOD_SHIFT) bits |= kModShift;
  if (keymod & KMOD_CTRL) bits |= kModControl;
  if (keymod & KMOD_ALT) bits |= kModAlt;
  if (keymod & KMOD_GUI) bits |= kModSystem;
  return bits;
}

}  // namespace vrl::platform

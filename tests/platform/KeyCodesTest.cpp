#include "platform/KeyCodes.h"

#include <SDL.h>
#include <gtest/gtest.h>

using namespace vrl::platform;

namespace {

struct Case {
  SDL_Keycode key;
  SDL_Scancode scan;
  int32_t vk;
};

TEST(KeyCodesTest, TheMappingTable) {
  const Case cases[] = {
      {SDLK_a, SDL_SCANCODE_A, 'A'},
      {SDLK_z, SDL_SCANCODE_Z, 'Z'},
      {SDLK_0, SDL_SCANCODE_0, '0'},
      {SDLK_9, SDL_SCANCODE_9, '9'},
      {SDLK_F1, SDL_SCANCODE_F1, 0x70},
      {SDLK_F4, SDL_SCANCODE_F4, 0x73},
      {SDLK_F12, SDL_SCANCODE_F12, 0x7B},
      {SDLK_F13, SDL_SCANCODE_F13, 0x7C},
      {SDLK_F24, SDL_SCANCODE_F24, 0x87},
      {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 27},
      {SDLK_RETURN, SDL_SCANCODE_RETURN, 13},
      {SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 13},
      {SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, 8},
      {SDLK_TAB, SDL_SCANCODE_TAB, 9},
      {SDLK_SPACE, SDL_SCANCODE_SPACE, 32},
      {SDLK_LEFT, SDL_SCANCODE_LEFT, 0x25},
      {SDLK_UP, SDL_SCANCODE_UP, 0x26},
      {SDLK_RIGHT, SDL_SCANCODE_RIGHT, 0x27},
      {SDLK_DOWN, SDL_SCANCODE_DOWN, 0x28},
      {SDLK_HOME, SDL_SCANCODE_HOME, 0x24},
      {SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, 0x22},
      {SDLK_INSERT, SDL_SCANCODE_INSERT, 0x2D},
      {SDLK_DELETE, SDL_SCANCODE_DELETE, 0x2E},
      {SDLK_KP_0, SDL_SCANCODE_KP_0, 0x60},
      {SDLK_KP_5, SDL_SCANCODE_KP_5, 0x65},
      {SDLK_KP_9, SDL_SCANCODE_KP_9, 0x69},
      {SDLK_KP_MULTIPLY, SDL_SCANCODE_KP_MULTIPLY, 0x6A},
      {SDLK_KP_DIVIDE, SDL_SCANCODE_KP_DIVIDE, 0x6F},
      {SDLK_NUMLOCKCLEAR, SDL_SCANCODE_NUMLOCKCLEAR, 0x90},
      {SDLK_LGUI, SDL_SCANCODE_LGUI, 0x5B},
      {SDLK_RGUI, SDL_SCANCODE_RGUI, 0x5C},
      {SDLK_SEMICOLON, SDL_SCANCODE_SEMICOLON, 0xBA},
      {SDLK_EQUALS, SDL_SCANCODE_EQUALS, 0xBB},
      {SDLK_COMMA, SDL_SCANCODE_COMMA, 0xBC},
      {SDLK_MINUS, SDL_SCANCODE_MINUS, 0xBD},
      {SDLK_PERIOD, SDL_SCANCODE_PERIOD, 0xBE},
      {SDLK_SLASH, SDL_SCANCODE_SLASH, 0xBF},
      {SDLK_BACKQUOTE, SDL_SCANCODE_GRAVE, 0xC0},
      {SDLK_LEFTBRACKET, SDL_SCANCODE_LEFTBRACKET, 0xDB},
      {SDLK_BACKSLASH, SDL_SCANCODE_BACKSLASH, 0xDC},
      {SDLK_RIGHTBRACKET, SDL_SCANCODE_RIGHTBRACKET, 0xDD},
      {SDLK_QUOTE, SDL_SCANCODE_APOSTROPHE, 0xDE},
      // Sided modifiers.
      {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, 0xA0},
      {SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, 0xA1},
      {SDLK_LCTRL, SDL_SCANCODE_LCTRL, 0xA2},
      {SDLK_RCTRL, SDL_SCANCODE_RCTRL, 0xA3},
      {SDLK_LALT, SDL_SCANCODE_LALT, 0xA4},
      {SDLK_RALT, SDL_SCANCODE_RALT, 0xA5},
      // A layout that makes Caps Lock a Control key: the side comes from the position.
      {SDLK_CAPSLOCK, SDL_SCANCODE_RCTRL, 0xA3},
      // Keys of other layouts fall back to the US key at their position:
      // a German "ä" sits where the apostrophe is.
      {0xE4, SDL_SCANCODE_APOSTROPHE, 0xDE},
      {0xFC, SDL_SCANCODE_LEFTBRACKET, 0xDB},
      {0x1234, SDL_SCANCODE_Q, 'Q'},
      // No virtual key at all.
      {SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN, 0},
      {0x40000123, SDL_SCANCODE_UNKNOWN, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(VirtualKeyFromSdl(c.key, c.scan), c.vk) << SDL_GetScancodeName(c.scan) << " key " << c.key;
}

TEST(KeyCodesTest, ModifierBits) {
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_NONE), 0);
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_RSHIFT), 1);
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_LCTRL), 2);
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_RCTRL), 2);
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_LALT | KMOD_RGUI), 4 | 8);
  EXPECT_EQ(ModifierBitsFromSdl(KMOD_NUM | KMOD_CAPS), 0);
}

}  // namespace

// SDL keys mapped onto Windows virtual-key codes, the key codes of the
// framework's events. Letters, digits and keys that SDL names by the
// character they type follow the keyboard layout (as virtual keys do); keys
// SDL knows only by position fall back to the US layout's code for that
// position. The generic Shift, Control and Alt keys become their sided codes
// 0xA0 to 0xA5, decided by the key's position. 0 means no virtual key.
#pragma once

#include <cstdint>

namespace vrl::platform {

/// Sided modifier codes.
inline constexpr int32_t kVkLeftShift = 0xA0;
inline constexpr int32_t kVkRightShift = 0xA1;
inline constexpr int32_t kVkLeftControl = 0xA2;
inline constexpr int32_t kVkRightControl = 0xA3;
inline constexpr int32_t kVkLeftAlt = 0xA4;
inline constexpr int32_t kVkRightAlt = 0xA5;

/// Modifier bits of event mods.
inline constexpr int32_t kModShift = 1;
inline constexpr int32_t kModControl = 2;
inline constexpr int32_t kModAlt = 4;
inline constexpr int32_t kModSystem = 8;

/// `keycode` is an SDL_Keycode, `scancode` an SDL_Scancode.
int32_t VirtualKeyFromSdl(int32_t keycode, int32_t scancode);
/// SDL_Keymod bits as modifier bits.
int32_t ModifierBitsFromSdl(uint32_t keymod);

}  // namespace vrl::platform

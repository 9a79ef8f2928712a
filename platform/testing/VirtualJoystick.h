// A joystick that exists only in SDL (its virtual joystick driver): tests
// attach one, move its sticks, hat and buttons, and read it back through
// the joystick module like a real device. The values reach the device at
// SDL's next joystick update, which every read of platform/Joystick makes.
//
// For test programs only (vrl_platform_testing). Main thread.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

/// SDL's hat bits; combinations such as kHatUp | kHatRight are diagonals.
inline constexpr uint8_t kHatCentred = 0;
inline constexpr uint8_t kHatUp = 1;
inline constexpr uint8_t kHatRight = 2;
inline constexpr uint8_t kHatDown = 4;
inline constexpr uint8_t kHatLeft = 8;

class VirtualJoystick {
 public:
  /// Attaches a device with the given counts; Ok() tells whether it worked.
  VirtualJoystick(const std::string& name, int axes, int buttons, int hats);
  /// Detaches the device.
  ~VirtualJoystick();
  VirtualJoystick(const VirtualJoystick&) = delete;
  VirtualJoystick& operator=(const VirtualJoystick&) = delete;

  bool Ok() const { return _joystick != nullptr; }
  bool SetAxis(int axis, int16_t value);
  bool SetButton(int button, bool down);
  bool SetHat(int hat, uint8_t value);

 private:
  bool _sdl = false;
  void* _joystick = nullptr;  // the SDL_Joystick we hold open
  int32_t _id = -1;           // its instance id
};

}  // namespace vrl::platform

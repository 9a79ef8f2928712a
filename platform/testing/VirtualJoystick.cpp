#include "platform/testing/VirtualJoystick.h"

#include <SDL.h>

#include <cstring>

#include "platform/Sdl.h"

namespace vrl::platform {

namespace {
SDL_Joystick* Handle(void* joystick) { return static_cast<SDL_Joystick*>(joystick); }
}  // namespace

VirtualJoystick::VirtualJoystick(const std::string& name, int axes, int buttons, int hats) {
  _sdl = AcquireSdl(kSdlJoystick);
  if (!_sdl) return;
  SDL_VirtualJoystickDesc desc;
  std::memset(&desc, 0, sizeof desc);
  desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
  desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
  desc.naxes = static_cast<Uint16>(axes);
  desc.nbuttons = static_cast<Uint16>(buttons);
  desc.nhats = static_cast<Uint16>(hats);
  desc.name = name.c_str();
  int index = SDL_JoystickAttachVirtualEx(&desc);
  if (index < 0) return;
  SDL_Joystick* joystick = SDL_JoystickOpen(index);
  if (!joystick) {
    SDL_JoystickDetachVirtual(index);
    return;
  }
  _joystick = joystick;
  _id = SDL_JoystickInstanceID(joystick);
}

VirtualJoystick::~VirtualJoystick() {
  if (_joystick) {
    SDL_JoystickClose(Handle(_joystick));
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) == _id) {
        SDL_JoystickDetachVirtual(i);
        break;
      }
    }
    SDL_JoystickUpdate();
  }
  if (_sdl) ReleaseSdl(kSdlJoystick);
}

bool VirtualJoystick::SetAxis(int axis, int16_t value) {
  return _joystick && SDL_JoystickSetVirtualAxis(Handle(_joystick), axis, value) == 0;
}

bool VirtualJoystick::SetButton(int button, bool down) {
  return _joystick && SDL_JoystickSetVirtualButton(Handle(_joystick), button, down ? 1 : 0) == 0;
}

bool VirtualJoystick::SetHat(int hat, uint8_t value) {
  return _joystick && SDL_JoystickSetVirtualHat(Handle(_joystick), hat, value) == 0;
}

}  // namespace vrl::platform

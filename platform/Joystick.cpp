#include "platform/Joystick.h"

#include <SDL.h>

#include <algorithm>
#include <map>

#include "platform/Sdl.h"

namespace vrl::platform {

namespace {

// Never destroyed: devices stay open until the process ends.
std::map<int32_t, SDL_Joystick*>& Open() {
  static auto* open = new std::map<int32_t, SDL_Joystick*>;
  return *open;
}

bool Started() {
  static bool held = false;
  if (!held) held = AcquireSdl(kSdlJoystick);
  return held;
}

SDL_Joystick* Attached(int32_t id) {
  auto found = Open().find(id);
  if (found == Open().end() || !SDL_JoystickGetAttached(found->second)) return nullptr;
  return found->second;
}

int32_t PovOf(Uint8 hat) {
  switch (hat) {
    case SDL_HAT_UP:
      return 0;
    case SDL_HAT_RIGHTUP:
      return 4500;
    case SDL_HAT_RIGHT:
      return 9000;
    case SDL_HAT_RIGHTDOWN:
      return 13500;
    case SDL_HAT_DOWN:
      return 18000;
    case SDL_HAT_LEFTDOWN:
      return 22500;
    case SDL_HAT_LEFT:
      return 27000;
    case SDL_HAT_LEFTUP:
      return 31500;
    default:
      return kJoystickPovCentred;
  }
}

}  // namespace

int32_t JoystickDeviceCount() {
  if (!Started()) return 0;
  SDL_JoystickUpdate();
  return std::max(SDL_NumJoysticks(), 0);
}

int32_t OpenJoystick(int32_t index) {
  if (!Started()) return -1;
  SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(index);
  if (id < 0) return -1;
  if (Open().count(id)) return id;
  SDL_Joystick* joystick = SDL_JoystickOpen(index);
  if (!joystick) return -1;
  id = SDL_JoystickInstanceID(joystick);
  Open()[id] = joystick;
  return id;
}

void KeepOnlyJoysticks(const int32_t* ids, int32_t count) {
  auto& open = Open();
  for (auto it = open.begin(); it != open.end();) {
    if (std::find(ids, ids + count, it->first) != ids + count) {
      ++it;
      continue;
    }
    SDL_JoystickClose(it->second);
    it = open.erase(it);
  }
}

bool ReadJoystickCaps(int32_t id, JoystickCaps& caps) {
  SDL_Joystick* joystick = Attached(id);
  if (!joystick) return false;
  const char* name = SDL_JoystickName(joystick);
  caps.name = name ? name : "";
  caps.buttons = std::clamp(SDL_JoystickNumButtons(joystick), 0, 32);
  caps.axes = std::clamp(SDL_JoystickNumAxes(joystick), 0, kJoystickAxes);
  caps.pov = SDL_JoystickNumHats(joystick) > 0;
  caps.axisMin = kJoystickAxisMin;
  caps.axisMax = kJoystickAxisMax;
  return true;
}

bool ReadJoystick(int32_t id, JoystickReading& reading) {
  SDL_JoystickUpdate();
  SDL_Joystick* joystick = Attached(id);
  if (!joystick) return false;
  reading = JoystickReading{};
  int buttons = std::clamp(SDL_JoystickNumButtons(joystick), 0, 32);
  for (int b = 0; b < buttons; ++b)
    if (SDL_JoystickGetButton(joystick, b)) reading.buttons |= 1u << b;
  int axes = std::clamp(SDL_JoystickNumAxes(joystick), 0, kJoystickAxes);
  for (int k = 0; k < axes; ++k) {
    reading.axes[k] = int32_t(SDL_JoystickGetAxis(joystick, k)) + 32768;
    reading.validAxes |= 1u << k;
  }
  if (SDL_JoystickNumHats(joystick) > 0) {
    reading.povValid = true;
    reading.pov = PovOf(SDL_JoystickGetHat(joystick, 0));
  }
  return true;
}

}  // namespace vrl::platform

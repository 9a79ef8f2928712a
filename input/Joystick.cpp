#include "input/Joystick.h"

#include <algorithm>
#include <vector>

#include "platform/Joystick.h"
#include "runtime/Runtime.h"

namespace vrl {

namespace {

constexpr int32_t kJoysticks = 16;
constexpr int32_t kButtons = 16;
constexpr int32_t kSlots = 16;  // axis values per joystick
constexpr int32_t kMaxDevices = 256;
constexpr int32_t kHatSlot = 9;
// The direction threshold, in single precision as every axis is.
constexpr float kThreshold = 0.333333f;

struct State {
  std::vector<int32_t> devices;  // device ids; joystick n is entry n
  uint32_t buttons[kJoysticks] = {};
  float axes[kJoysticks * kSlots] = {};
  int32_t hits[kButtons][kJoysticks] = {};
};

State& S() {
  static State state;
  return state;
}

bool InRange(int32_t n) { return n >= 0 && n < kJoysticks; }

// Joystick n's axis values, kSlots of them.
float* AxesOf(State& s, int32_t n) { return &s.axes[std::size_t(n) * std::size_t(kSlots)]; }

void Forget(State& s, int32_t n) {
  s.buttons[n] = 0;
  std::fill_n(AxesOf(s, n), kSlots, 0.0f);
  for (auto& row : s.hits) row[n] = 0;
}

void Enumerate() {
  State& s = S();
  std::vector<int32_t> found;
  int32_t count = platform::JoystickDeviceCount();
  for (int32_t i = 0; i < count && int32_t(found.size()) < kMaxDevices; ++i) {
    int32_t id = platform::OpenJoystick(i);
    if (id >= 0) found.push_back(id);
  }
  platform::KeepOnlyJoysticks(found.data(), int32_t(found.size()));
  for (int32_t n = 0; n < kJoysticks; ++n) {
    int32_t before = n < int32_t(s.devices.size()) ? s.devices[std::size_t(n)] : -1;
    int32_t now = n < int32_t(found.size()) ? found[std::size_t(n)] : -1;
    if (before != now) Forget(s, n);
  }
  s.devices = std::move(found);
}

int32_t DeviceOf(int32_t n) {
  const State& s = S();
  return InRange(n) && n < int32_t(s.devices.size()) ? s.devices[std::size_t(n)] : -1;
}

void ReadDevice(int32_t n) {
  int32_t id = DeviceOf(n);
  if (id < 0) return;
  platform::JoystickCaps caps;
  platform::JoystickReading reading;
  if (!platform::ReadJoystickCaps(id, caps) || !platform::ReadJoystick(id, reading)) return;
  State& s = S();
  s.buttons[n] = reading.buttons;
  float* axes = AxesOf(s, n);
  for (int k = 0; k < platform::kJoystickAxes; ++k) {
    if (!(reading.validAxes & (1u << k))) continue;
    axes[k] = float(reading.axes[k] - caps.axisMin) * 2.0f / float(caps.axisMax) - 1.0f;
  }
  if (reading.povValid) axes[kHatSlot] = reading.pov > 36000 ? -1.0f : float(reading.pov) * (1.0f / 36000.0f);
}

// Reads the device and counts the buttons that went down since the last
// poll. False for numbers outside the tables.
bool Poll(int32_t n) {
  if (!InRange(n)) return false;
  State& s = S();
  uint32_t before = s.buttons[n];
  ReadDevice(n);
  uint32_t pressed = s.buttons[n] & ~before;
  for (int32_t b = 0; b < kButtons; ++b)
    if (pressed & (1u << b)) ++s.hits[b][n];
  return true;
}

float Axis(int32_t n, int32_t slot) { return Poll(n) ? AxesOf(S(), n)[slot] : 0.0f; }

int32_t Direction(float value) { return value < -kThreshold ? -1 : value > kThreshold ? 1 : 0; }

}  // namespace

void joystick::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  Enumerate();
}

int32_t JoystickCount() {
  Enumerate();
  return int32_t(S().devices.size());
}

int32_t JoystickExists(int32_t n) { return InRange(n) && n < JoystickCount() ? 1 : 0; }

Ref<String> JoystickName(int32_t n) {
  platform::JoystickCaps caps;
  int32_t id = DeviceOf(n);
  if (id < 0 || !platform::ReadJoystickCaps(id, caps)) return Ref<String>(EmptyString());
  return String::FromUtf8(std::string_view(caps.name));
}

int32_t JoystickButtonDown(int32_t button, int32_t n) {
  if (!Poll(n) || button < 0 || button >= kButtons) return 0;
  return (S().buttons[n] >> button) & 1u ? 1 : 0;
}

int32_t JoystickButtonHits(int32_t button, int32_t n) {
  if (!Poll(n) || button < 0 || button >= kButtons) return 0;
  int32_t hits = S().hits[button][n];
  S().hits[button][n] = 0;
  return hits;
}

float JoystickX(int32_t n) { return Axis(n, 0); }
float JoystickY(int32_t n) { return Axis(n, 1); }
float JoystickZ(int32_t n) { return Axis(n, 2); }
float JoystickR(int32_t n) { return Axis(n, 3); }
float JoystickU(int32_t n) { return Axis(n, 4); }
float JoystickV(int32_t n) { return Axis(n, 5); }
float JoystickYaw(int32_t n) { return Axis(n, 6); }
float JoystickPitch(int32_t n) { return Axis(n, 7); }
float JoystickRoll(int32_t n) { return Axis(n, 8); }
float JoystickHat(int32_t n) { return Axis(n, kHatSlot); }
float JoystickWheel(int32_t n) { return Axis(n, 10); }

int32_t JoystickXDir(int32_t n) { return Direction(JoystickX(n)); }
int32_t JoystickYDir(int32_t n) { return Direction(JoystickY(n)); }
int32_t JoystickZDir(int32_t n) { return Direction(JoystickZ(n)); }
int32_t JoystickRDir(int32_t n) { return Direction(JoystickR(n)); }
int32_t JoystickUDir(int32_t n) { return Direction(JoystickU(n)); }

void FlushJoysticks(int32_t mask) {
  State& s = S();
  auto present = std::min(int32_t(s.devices.size()), kJoysticks);
  for (int32_t i = 0; i < present; ++i) {
    if (!(uint32_t(mask) & (1u << i))) continue;
    Poll(i);
    s.buttons[i] = 0;
    for (auto& row : s.hits) row[i] = 0;
  }
}

int32_t JoystickButtonCaps(int32_t n) {
  platform::JoystickCaps caps;
  int32_t id = DeviceOf(n);
  if (id < 0 || !platform::ReadJoystickCaps(id, caps)) return 0;
  return int32_t(uint32_t((uint64_t(1) << caps.buttons) - 1));
}

int32_t JoystickAxisCaps(int32_t n) {
  platform::JoystickCaps caps;
  int32_t id = DeviceOf(n);
  if (id < 0 || !platform::ReadJoystickCaps(id, caps)) return 0;
  uint32_t mask = (1u << caps.axes) - 1;
  if (caps.pov) mask |= 1u << kHatSlot;
  return int32_t(mask);
}

}  // namespace vrl

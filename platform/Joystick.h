// Joysticks through SDL's joystick interface, in the terms of a polled
// joystick module: devices found by index and then named by a stable id,
// buttons as bits, axes as positions in a range, and a point-of-view hat in
// hundredths of a degree.
//
// SDL's joystick subsystem is acquired on first use and held for the run.
// Every read first lets SDL update its devices, so the values are current
// whether or not anyone pumps SDL's event queue. Main thread only.
#pragma once

#include <cstdint>
#include <string>

namespace vrl::platform {

/// Axes of a reading, in this order: x, y, z, r, u, v (SDL's axes 0 to 5).
inline constexpr int kJoystickAxes = 6;
/// Positions run from kJoystickAxisMin to kJoystickAxisMax (SDL's -32768..32767
/// shifted up); the centre is 32768.
inline constexpr int32_t kJoystickAxisMin = 0;
inline constexpr int32_t kJoystickAxisMax = 65535;
/// The hat's reading when it is at rest (any value above 36000).
inline constexpr int32_t kJoystickPovCentred = 65535;

struct JoystickCaps {
  std::string name;
  int32_t buttons = 0;  // at most 32 are reported
  int32_t axes = 0;     // at most kJoystickAxes are reported
  bool pov = false;     // the device has a hat (the first one is read)
  int32_t axisMin = kJoystickAxisMin;
  int32_t axisMax = kJoystickAxisMax;
};

struct JoystickReading {
  uint32_t buttons = 0;    // bit b: button b is down
  uint32_t validAxes = 0;  // bit k: axes[k] holds a position
  int32_t axes[kJoystickAxes] = {};
  bool povValid = false;
  /// Hundredths of a degree clockwise from forward (0 forward, 9000 right),
  /// or kJoystickPovCentred.
  int32_t pov = kJoystickPovCentred;
};

/// The number of joystick devices SDL knows now (0 when its joystick
/// subsystem cannot start).
int32_t JoystickDeviceCount();
/// Opens the device at `index` (0 .. count-1) and keeps it open; its stable
/// id, or -1 when it cannot be opened.
int32_t OpenJoystick(int32_t index);
/// Closes every kept device whose id is not one of `ids`.
void KeepOnlyJoysticks(const int32_t* ids, int32_t count);
/// False when the device is not open or no longer attached.
bool ReadJoystickCaps(int32_t id, JoystickCaps& caps);
bool ReadJoystick(int32_t id, JoystickReading& reading);

}  // namespace vrl::platform

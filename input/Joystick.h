// Polled joysticks: buttons, counted presses, eleven normalised axes and
// simple directions, read from the device on every query (the event system
// is not involved).
//
// Joysticks are numbered from 0 in the order they were found; JoystickCount
// looks for them again on every call (the module's start-up does it once).
// Joystick and button numbers outside 0..15 give 0 (the empty string for a
// name). A joystick that cannot be read keeps its last values; nothing here
// throws. When a count finds a different device at a number, that number's
// buttons, presses and axes start again from 0 rather than from the old
// device's.
//
// Axes are -1..1 (the device's range mapped onto it; a centred stick reads
// about 0). Their slots: 0 x, 1 y, 2 z, 3 r, 4 u, 5 v, 6 yaw, 7 pitch,
// 8 roll, 9 hat, 10 wheel; yaw, pitch, roll and wheel are never read and
// stay 0. The hat reads as the fraction of a full turn clockwise from
// forward (0 forward, 0.25 right, 0.5 back, 0.75 left), or -1 at rest.
//
// A press counts when a query finds the button down that the query before
// found up: a press and release between two queries is not seen. Main
// thread only.
#pragma once

#include <cstdint>

#include "runtime/String.h"

namespace vrl {

int32_t JoystickCount();
/// 1 when n is a joystick that JoystickCount finds (n in 0..15).
int32_t JoystickExists(int32_t n);
/// The product name, or "" when its capabilities cannot be read.
Ref<String> JoystickName(int32_t n);

int32_t JoystickButtonDown(int32_t button, int32_t n);
/// Presses counted since the previous call for this button, then 0.
int32_t JoystickButtonHits(int32_t button, int32_t n);

float JoystickX(int32_t n);
float JoystickY(int32_t n);
float JoystickZ(int32_t n);
float JoystickR(int32_t n);
float JoystickU(int32_t n);
float JoystickV(int32_t n);
float JoystickYaw(int32_t n);
float JoystickPitch(int32_t n);
float JoystickRoll(int32_t n);
float JoystickHat(int32_t n);
float JoystickWheel(int32_t n);

/// -1 below -0.333333, 1 above 0.333333, else 0.
int32_t JoystickXDir(int32_t n);
int32_t JoystickYDir(int32_t n);
int32_t JoystickZDir(int32_t n);
int32_t JoystickRDir(int32_t n);
int32_t JoystickUDir(int32_t n);

/// For each joystick i whose bit i is set: reads it, then forgets its button
/// states and counted presses (a button still held counts as a press at the
/// next query).
void FlushJoysticks(int32_t mask = -1);

/// (1 << buttons) - 1.
int32_t JoystickButtonCaps(int32_t n);
/// (1 << axes) - 1, with bit 9 also set when the device has a hat.
int32_t JoystickAxisCaps(int32_t n);

namespace joystick {
/// Counts the joysticks once.
void Init();
}  // namespace joystick

}  // namespace vrl

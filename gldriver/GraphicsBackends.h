// The graphics back-ends of the program, one ordered table per driver kind.
//
// gl2d::Init, the module a program initialises for its display, runs the
// initialisation of every entry: the graphics drivers first, then the 2D
// drivers, each table in its order. An entry that is a default candidate
// selects its driver (SelectGraphicsDriver with GRAPHICS_BACKBUFFER) when
// its module initialises and finds the driver usable, so the last such entry
// is the default driver. The others are only ever chosen on purpose.
//
// Graphics drivers:
//   "OpenGL"     gldriver/GLGraphicsDriver.h   default candidate
//   "Software"   swdriver/SoftGraphicsDriver.h never chosen automatically
// 2D drivers:
//   "Recording"  lith2d/RecordingDriver.h      never chosen automatically
//   "OpenGL"     gldriver/GLLith2DDriver.h     default candidate: the default
//   "Software"   swdriver/SoftLith2DDriver.h   never chosen automatically
//
// A new back-end gets an entry here, at the place where its module is to be
// initialised.
#pragma once

#include <span>

#include "graphics/Graphics.h"

namespace vrl {

std::span<const GraphicsBackend> GraphicsDriverBackends();
std::span<const GraphicsBackend> Lith2DDriverBackends();

/// Runs the initialisation of every back-end, in the order of the tables.
void InitGraphicsBackends();

}  // namespace vrl

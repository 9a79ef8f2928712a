// Tests that open windows use SDL's dummy video driver, so they need no X
// server and see no window manager; a developer's own setting is replaced so
// that results do not depend on the desktop.
#pragma once

#include <cstdlib>

namespace vrl::testing_support {

inline void UseDummyVideo() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

}  // namespace vrl::testing_support

using vrl::testing_support::UseDummyVideo;

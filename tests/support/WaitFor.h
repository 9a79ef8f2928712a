// Waiting in tests for what another thread, process or peer makes true.
//
// WaitFor checks the condition, then again every millisecond, until it
// holds or the bound has passed. The bound is there for a broken build, not
// a guess at how long anything takes: it is generous, and a condition that
// holds ends the wait at once, however loaded the machine.
#pragma once

#include <chrono>
#include <thread>

namespace vrl::testing_support {

inline constexpr std::chrono::seconds kWaitBound{30};

/// True as soon as `done()` holds; false when it still does not once the
/// bound has passed. `done` may also do a step of work (pump a host, read a
/// pipe) before it answers.
template <class Condition>
bool WaitFor(Condition done, std::chrono::milliseconds bound = kWaitBound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vrl::testing_support

// Collection tests need the stack below the current frame to be free of
// stale copies of pointers that a finished helper left behind.
#pragma once

#include <cstring>

namespace vrl::testing_support {

__attribute__((noinline)) inline void ScrubStack() {
  volatile char area[32768];
  std::memset(const_cast<char*>(area), 0, sizeof area);
  asm volatile("" : : "r"(area) : "memory");
}

}  // namespace vrl::testing_support

using vrl::testing_support::ScrubStack;

// A small timing harness: each case runs a few times and keeps the fastest
// run; results are printed as a ratio against a baseline measured in the
// same process, since the machines are shared and noisy.
#pragma once

#include <chrono>
#include <cstdio>

namespace vrl::bench {

template <class Body>
double FastestSeconds(Body&& body, int runs = 7) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    body();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
  }
  return best;
}

inline void Report(const char* name, double seconds, const char* baselineName, double baseline,
                   long operations) {
  std::printf("%-44s %8.2f ns/op   %-28s %8.2f ns/op   ratio %.2f\n", name, seconds * 1e9 / operations,
              baselineName, baseline * 1e9 / operations, seconds / baseline);
}

// Keeps a value alive in the optimiser's eyes.
template <class T>
inline void Keep(T const& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

}  // namespace vrl::bench

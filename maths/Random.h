// The framework's pseudo-random generator: one global state with a fixed
// default seed, so a program that never seeds it draws the same sequence on
// every run. Every draw advances the state a fixed number of times (once for
// RandomFloat, twice for the others); repeatable programs rely on that count.
// The state is a plain global: draws belong to one thread.
#pragma once

#include <cstdint>

namespace vrl {

/// A value in [0, 1) from one step.
float RandomFloat();
/// A value in [0, 1) from two steps.
double RandomDouble();
/// A value in [min(a, b), max(a, b)); the order of the bounds does not matter.
double RandomReal(double a, double b);
/// A value in [min(a, b), max(a, b)], both included, in either order.
int32_t RandomInt(int32_t a, int32_t b);
/// Masks the seed to 31 bits; 0 and 0x7FFFFFFF select the default seed.
void SeedRandom(int32_t seed);
int32_t RandomSeed();

}  // namespace vrl

// The framework's pseudo-random generator: one global state with a fixed
// default seed, so a program that never seeds it draws the same sequence on
// every run. Every draw advances the state a fixed number of times (once for
// RandomFloat, twice for the others); repeatable programs rely on that count.
// The state is a plain global: draws belong to one thread.
#pragma once

#include <cstdint>

#include "runtime/Numeric.h"

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

/// `count` successive RandomDouble values at once, with the state left as
/// that many calls leave it (the values do not depend on one another, so
/// they are computed side by side).
void RandomDoubles(double* values, int32_t count);
/// RandomDoubles without the processor's vector instructions, which it uses
/// where the processor has them: the same values and state, for comparing.
void RandomDoublesPortable(double* values, int32_t count);

/// RandomReal and RandomInt as functions of the RandomDouble value r they
/// draw: RandomReal(a, b) is RealFromDouble(RandomDouble(), a, b), and so on.
inline double RealFromDouble(double r, double a, double b) {
  return b > a ? a + r * (b - a) : b + r * (a - b);
}
/// Bounds 2^31 - 1 or more apart would overflow d + 1: the distance is
/// formed in 64 bits so such bounds still give a value between them.
inline int32_t IntFromDouble(double r, int32_t a, int32_t b) {
  int64_t d = int64_t(b) - a;
  int64_t value = d > 0 ? a + DoubleToLong(r * double(d + 1)) : b + DoubleToLong(r * double(1 - d));
  return static_cast<int32_t>(value);
}

}  // namespace vrl

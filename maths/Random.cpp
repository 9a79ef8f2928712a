#include "maths/Random.h"

#include "runtime/Numeric.h"

namespace vrl {

namespace {

constexpr int32_t kDefaultSeed = 0x1234;
constexpr int32_t kMultiplier = 48271;
constexpr int32_t kModulus = 2147483647;
constexpr int32_t kQuotient = 44488;  // kModulus / kMultiplier
constexpr int32_t kRemainder = 3399;  // kModulus % kMultiplier

int32_t gState = kDefaultSeed;

// Park-Miller "minimal standard" step with multiplier 48271, by Schrage's
// method so that nothing overflows 32 bits.
int32_t Step() {
  gState = (gState % kQuotient) * kMultiplier - (gState / kQuotient) * kRemainder;
  if (gState < 0) gState += kModulus;
  return gState;
}

}  // namespace

float RandomFloat() { return static_cast<float>(Step() & 0x0FFFFFF0) / 268435456.0f; }

double RandomDouble() {
  // The first step gives the high 27 significant bits, the second a further
  // fraction below them.
  double a = Step() & 0x1FFFFFFC;
  double b = Step() & 0x1FFFFFF8;
  return (a + b / 134217728.0) / 536870912.0;
}

double RandomReal(double a, double b) {
  double r = RandomDouble();
  return b > a ? a + r * (b - a) : b + r * (a - b);
}

int32_t RandomInt(int32_t a, int32_t b) {
  // Bounds 2^31 - 1 or more apart would overflow d + 1: the distance is
  // formed in 64 bits so such bounds still give a value between them.
  int64_t d = int64_t(b) - a;
  double r = RandomDouble();
  int64_t value = d > 0 ? a + DoubleToLong(r * double(d + 1)) : b + DoubleToLong(r * double(1 - d));
  return static_cast<int32_t>(value);
}

void SeedRandom(int32_t seed) {
  gState = seed & 0x7FFFFFFF;
  if (gState == 0 || gState == 0x7FFFFFFF) gState = kDefaultSeed;
}

int32_t RandomSeed() { return gState; }

}  // namespace vrl

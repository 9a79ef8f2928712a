#include "maths/Random.h"

#include <array>

namespace vrl {

namespace {

constexpr int32_t kDefaultSeed = 0x1234;
constexpr uint64_t kMultiplier = 48271;
constexpr uint64_t kModulus = 2147483647;  // 2^31 - 1, a prime

int32_t gState = kDefaultSeed;

// (s * factor) mod 2^31 - 1 for s and factor in 1 .. 2^31 - 2: since
// 2^31 = 1 modulo 2^31 - 1, the high bits of the 62-bit product fold onto
// the low ones, giving x <= 2 (2^31 - 1). The product of two non-zero
// residues of the prime is not a multiple of it, so x is neither 2^31 - 1
// nor twice that, and one subtraction brings it into 1 .. 2^31 - 2. This is the
// same value that the Park-Miller "minimal standard" step with multiplier
// 48271 computes by Schrage's method, which needs no 64-bit product but is
// a longer chain of dependent operations.
inline int32_t MulMod(uint64_t s, uint64_t factor) {
  uint64_t x = s * factor;
  x = (x & kModulus) + (x >> 31);
  if (x >= kModulus) x -= kModulus;
  return static_cast<int32_t>(x);
}

// kPowers[k] = 48271^k mod 2^31 - 1: k steps at once.
constexpr int kMaxBatch = 8;
constexpr std::array<uint64_t, 2 * kMaxBatch + 1> kPowers = [] {
  std::array<uint64_t, 2 * kMaxBatch + 1> powers{};
  powers[0] = 1;
  for (size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * kMultiplier % kModulus;
  return powers;
}();

int32_t Step() {
  gState = MulMod(uint64_t(gState), kMultiplier);
  return gState;
}

// The first step gives the high 27 significant bits, the second a further
// fraction below them.
inline double Combine(int32_t first, int32_t second) {
  double a = first & 0x1FFFFFFC;
  double b = second & 0x1FFFFFF8;
  return (a + b / 134217728.0) / 536870912.0;
}

}  // namespace

float RandomFloat() { return static_cast<float>(Step() & 0x0FFFFFF0) / 268435456.0f; }

double RandomDouble() {
  const auto s = uint64_t(gState);
  const int32_t first = MulMod(s, kPowers[1]), second = MulMod(s, kPowers[2]);
  gState = second;
  return Combine(first, second);
}

void RandomDoubles(double* values, int32_t count) {
  while (count > 0) {
    const int32_t n = count < kMaxBatch ? count : kMaxBatch;
    const auto s = uint64_t(gState);
    for (int32_t i = 0; i < n; ++i) {
      values[i] = Combine(MulMod(s, kPowers[2 * size_t(i) + 1]), MulMod(s, kPowers[2 * size_t(i) + 2]));
    }
    gState = MulMod(s, kPowers[2 * size_t(n)]);
    values += n;
    count -= n;
  }
}

double RandomReal(double a, double b) { return RealFromDouble(RandomDouble(), a, b); }

int32_t RandomInt(int32_t a, int32_t b) { return IntFromDouble(RandomDouble(), a, b); }

void SeedRandom(int32_t seed) {
  gState = seed & 0x7FFFFFFF;
  if (gState == 0 || gState == 0x7FFFFFFF) gState = kDefaultSeed;
}

int32_t RandomSeed() { return gState; }

}  // namespace vrl

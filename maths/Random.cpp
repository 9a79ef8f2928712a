#include "maths/Random.h"

#include <array>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

void RandomDoublesPortable(double* values, int32_t count) {
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

#if defined(__x86_64__)
namespace {

// The steps of a batch in the order the vectors take them: the first steps
// of the eight values (the odd powers), then their second steps.
constexpr std::array<uint64_t, 2 * size_t{kMaxBatch}> kVectorPowers = [] {
  std::array<uint64_t, 2 * size_t{kMaxBatch}> powers{};
  for (size_t i = 0; i < kMaxBatch; ++i) {
    powers[i] = kPowers[2 * i + 1];
    powers[kMaxBatch + i] = kPowers[2 * i + 2];
  }
  return powers;
}();

// MulMod in four 64-bit lanes: 31 x 31-bit products, folded the same way.
[[gnu::target("avx2")]] inline __m256i MulMod4(__m256i s, const uint64_t* powers) {
  const __m256i modulus = _mm256_set1_epi64x(int64_t(kModulus));
  __m256i x = _mm256_mul_epu32(s, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(powers)));
  x = _mm256_add_epi64(_mm256_and_si256(x, modulus), _mm256_srli_epi64(x, 31));
  const __m256i over = _mm256_cmpgt_epi64(x, _mm256_set1_epi64x(int64_t(kModulus) - 1));
  return _mm256_sub_epi64(x, _mm256_and_si256(over, modulus));
}

// Masked steps below 2^30 as doubles: setting the exponent of 2^52 over them
// and taking 2^52 away converts them exactly.
[[gnu::target("avx2")]] inline __m256d Exactly(__m256i steps, int64_t mask) {
  const __m256i v = _mm256_or_si256(_mm256_and_si256(steps, _mm256_set1_epi64x(mask)),
                                    _mm256_set1_epi64x(0x4330000000000000));
  return _mm256_sub_pd(_mm256_castsi256_pd(v), _mm256_set1_pd(0x1p52));
}

// Combine in four lanes. Every operation is exact (the sum has at most 53
// significant bits), so the values are Combine's to the bit.
[[gnu::target("avx2")]] inline __m256d Combine4(__m256i first, __m256i second) {
  const __m256d a = Exactly(first, 0x1FFFFFFC), b = Exactly(second, 0x1FFFFFF8);
  return _mm256_mul_pd(_mm256_add_pd(a, _mm256_mul_pd(b, _mm256_set1_pd(0x1p-27))), _mm256_set1_pd(0x1p-29));
}

// A batch of up to eight values from one state, all eight computed side by
// side and the first `n` kept; the state is the last kept value's second step.
[[gnu::target("avx2")]] void RandomDoublesVector(double* values, int32_t count) {
  while (count > 0) {
    const int32_t n = count < kMaxBatch ? count : kMaxBatch;
    const __m256i s = _mm256_set1_epi64x(gState);
    const uint64_t* p = kVectorPowers.data();
    const __m256i second0 = MulMod4(s, p + kMaxBatch), second1 = MulMod4(s, p + kMaxBatch + 4);
    alignas(32) double batch[kMaxBatch];
    alignas(32) int64_t seconds[kMaxBatch];
    _mm256_store_pd(batch, Combine4(MulMod4(s, p), second0));
    _mm256_store_pd(batch + 4, Combine4(MulMod4(s, p + 4), second1));
    _mm256_store_si256(reinterpret_cast<__m256i*>(seconds), second0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(seconds + 4), second1);
    for (int32_t i = 0; i < n; ++i) values[i] = batch[i];
    gState = static_cast<int32_t>(seconds[n - 1]);
    values += n;
    count -= n;
  }
}

}  // namespace
#endif

void RandomDoubles(double* values, int32_t count) {
#if defined(__x86_64__)
  static const bool vector = __builtin_cpu_supports("avx2");
  if (vector) return RandomDoublesVector(values, count);
#endif
  RandomDoublesPortable(values, count);
}

double RandomReal(double a, double b) { return RealFromDouble(RandomDouble(), a, b); }

int32_t RandomInt(int32_t a, int32_t b) { return IntFromDouble(RandomDouble(), a, b); }

void SeedRandom(int32_t seed) {
  gState = seed & 0x7FFFFFFF;
  if (gState == 0 || gState == 0x7FFFFFFF) gState = kDefaultSeed;
}

int32_t RandomSeed() { return gState; }

}  // namespace vrl

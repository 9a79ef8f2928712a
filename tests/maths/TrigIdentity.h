// The identity check of the fast degree trigonometry: over a stream of
// arguments spread across the ranges a program reaches (sway phases that grow
// without bound as floats, angles in a turn, large and huge values, random
// bit patterns) plus a list of edge values, Sin, Cos and Tan must give the
// same double as the defining extended-precision computation. The tests run
// it on about 10^6 arguments, the maths benchmark on 10^8.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "maths/Maths.h"
#include "maths/Trig.h"

namespace vrl::trig::check {

// Bit-for-bit equality; every NaN equals every NaN.
inline bool Same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  uint64_t x = 0, y = 0;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// Values where the arithmetic has its corners: zeros, infinities, NaN,
// subnormals, multiples of the right angle and their neighbours, the ends of
// the fast path's range, and arguments whose results lie so close to a
// rounding boundary that the fast path gives them to the long-double
// computation.
inline std::vector<double> EdgeValues() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values{0.0, -0.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min(), 0x1p-1030, 0x1.fffffffffffffp-1023,
                             std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
                             -std::numeric_limits<double>::max(), 0x1p-284, 0x1p-283, 0x1p-290, 1e-300, 1e-20,
                             1e300, 1e20, 0x1p27, 2.4e8, -2.4e8, 0x1.c7p27, 1e9, 1e15, 0x1p52, 0x1p53 + 2,
                             // Found by the fallback: results within the
                             // long-double error of a midpoint.
                             0x1.c2276p+21, 0x1.1459cep+23, 0x1.57098p+22, 0x1.2a4fdp+21, 0x1.46ef82dfcd33p+7,
                             0x1.bc3aa8p+22, 0x1.38680ap+18};
  for (double m : {30.0, 45.0, 60.0, 90.0, 180.0, 270.0, 360.0}) {
    for (double k = -40; k <= 40; ++k) {
      double v = m * k;
      values.insert(values.end(), {v, std::nextafter(v, inf), std::nextafter(v, -inf)});
    }
    for (double big : {1e5, 1e6, 1e7, 3.3e7, 6.7e7, 1e8, 1e12}) {
      double v = std::round(big / m) * m;
      values.insert(values.end(), {v, -v, std::nextafter(v, inf), std::nextafter(v, -inf)});
    }
  }
  return values;
}

// A repeatable stream of arguments over the ranges.
class Arguments {
 public:
  explicit Arguments(uint64_t seed) : rng_(std::mt19937_64::result_type{seed}) {}

  double Next() {
    switch (count_++ % 8) {
      case 0:  // a sway phase: a float that has grown by up to 3 a frame
        return static_cast<float>(Uniform(0, 1e7));
      case 1:  // the same far into a long run, where the float phase stalls
        return static_cast<float>(Uniform(1e7, 7e7));
      case 2:
        return Uniform(-360, 360);
      case 3:
        return Uniform(-1e5, 1e5);
      case 4:
        return Uniform(-2.5e8, 2.5e8);
      case 5:  // any size, both signs
        return std::ldexp(Uniform(1, 2), static_cast<int>(rng_() % 120) - 90) * (rng_() & 1 ? 1 : -1);
      case 6:  // whole and half degrees, as programs often pass
        return static_cast<double>(static_cast<int64_t>(rng_() % 2000001) - 1000000) * 0.5;
      default: {  // any bit pattern: subnormal, huge, infinite, NaN
        uint64_t bits = rng_();
        double v = 0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
      }
    }
  }

 private:
  double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }

  std::mt19937_64 rng_;
  uint64_t count_ = 0;
};

struct IdentityResult {
  long checked = 0;
  long mismatches = 0;
  double firstMismatch = 0;  // the argument
  long fallbacks[3] = {};    // arguments the fast path gave up on, per function
};

inline void CheckOne(double d, IdentityResult& result) {
  using Function = double (*)(double);
  using Fast = bool (*)(double, double&);
  static const Function kFunctions[3] = {Sin, Cos, Tan};
  static const Function kReferences[3] = {ReferenceSin, ReferenceCos, ReferenceTan};
  static const Fast kFast[3] = {FastSin, FastCos, FastTan};
  for (int f = 0; f < 3; ++f) {
    double ignored = 0;
    if (!kFast[f](d, ignored)) ++result.fallbacks[f];
    if (!Same(kFunctions[f](d), kReferences[f](d))) {
      if (result.mismatches++ == 0) result.firstMismatch = d;
    }
  }
  ++result.checked;
}

/// Checks the edge values and `count` arguments of the stream from `seed`.
inline IdentityResult CheckIdentity(long count, uint64_t seed) {
  IdentityResult result;
  for (double d : EdgeValues()) CheckOne(d, result);
  Arguments arguments(seed);
  for (long i = 0; i < count; ++i) CheckOne(arguments.Next(), result);
  return result;
}

}  // namespace vrl::trig::check

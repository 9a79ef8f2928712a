// Numeric operations whose rules differ from plain C++ arithmetic: remainders
// with the sign of the dividend, NaN-aware sign, min/max in a fixed operand
// order, 64-bit shifts taken modulo 64, and conversions from Double that
// truncate toward zero and never invoke undefined behaviour (out-of-range and
// not-a-number values give the processor's "integer indefinite" value, the
// minimum of the target type).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace vrl {

/// Int
inline int32_t IntAbs(int32_t a) { return a < 0 ? static_cast<int32_t>(0u - uint32_t(a)) : a; }
inline int32_t IntSgn(int32_t a) { return (a > 0) - (a < 0); }
/// Truncating remainder: the sign of the dividend. A divisor of -1 gives 0
/// (the minimum Int would overflow the division); 0 is the caller's fault.
inline int32_t IntMod(int32_t a, int32_t b) { return b == -1 ? 0 : a % b; }
inline int32_t IntDiv(int32_t a, int32_t b) {
  return b == -1 ? static_cast<int32_t>(0u - uint32_t(a)) : a / b;
}
inline int32_t IntMin(int32_t a, int32_t b) { return b > a ? a : b; }
inline int32_t IntMax(int32_t a, int32_t b) { return b >= a ? b : a; }

/// Double
inline double DoubleAbs(double a) { return std::fabs(a); }
inline double DoubleSgn(double a) { return a > 0 ? 1.0 : a < 0 ? -1.0 : 0.0; }
inline double DoubleMod(double a, double b) { return std::fmod(a, b); }
inline double DoubleMin(double a, double b) { return b > a ? a : b; }
inline double DoubleMax(double a, double b) { return b >= a ? b : a; }
inline double DoublePow(double a, double b) { return std::pow(a, b); }

/// Long
inline int64_t LongNeg(int64_t a) { return static_cast<int64_t>(0ull - uint64_t(a)); }
inline int64_t LongNot(int64_t a) { return ~a; }
inline int64_t LongAbs(int64_t a) { return a < 0 ? LongNeg(a) : a; }
inline int64_t LongSgn(int64_t a) { return (a > 0) - (a < 0); }
inline int64_t LongAdd(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) + uint64_t(b)); }
inline int64_t LongSub(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) - uint64_t(b)); }
inline int64_t LongMul(int64_t a, int64_t b) { return static_cast<int64_t>(uint64_t(a) * uint64_t(b)); }
inline int64_t LongDiv(int64_t a, int64_t b) { return b == -1 ? LongNeg(a) : a / b; }
inline int64_t LongMod(int64_t a, int64_t b) { return b == -1 ? 0 : a % b; }
inline int64_t LongMin(int64_t a, int64_t b) { return b > a ? a : b; }
inline int64_t LongMax(int64_t a, int64_t b) { return b >= a ? b : a; }
inline int64_t LongShl(int64_t a, int32_t n) { return static_cast<int64_t>(uint64_t(a) << (n & 63)); }
inline int64_t LongShr(int64_t a, int32_t n) { return static_cast<int64_t>(uint64_t(a) >> (n & 63)); }
inline int64_t LongSar(int64_t a, int32_t n) { return a >> (n & 63); }

/// Conversions
inline int64_t IntToLong(int32_t a) { return a; }
inline double LongToDouble(int64_t a) { return static_cast<double>(a); }
inline int64_t DoubleToLong(double a) {
  if (!(a > -9223372036854775808.0 && a < 9223372036854775808.0)) {
    return std::numeric_limits<int64_t>::min();
  }
  return static_cast<int64_t>(a);
}
inline int32_t DoubleToInt(double a) {
  if (!(a > -2147483649.0 && a < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(a);
}

}  // namespace vrl

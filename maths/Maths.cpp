#include "maths/Maths.h"

#include <cmath>

namespace vrl {

namespace {
constexpr long double kLog2E = 1.442695040888963407359924681001892137L;
constexpr long double kLn2 = 0.693147180559945309417232121458176568L;
constexpr long double kLog10Of2 = 0.301029995663981195213738894724493027L;
}  // namespace

// Sin, Cos and Tan: maths/Trig.cpp.

double ASin(double x) { return std::atan2(x, std::sqrt(1 - x * x)) * kRadiansToDegrees; }
double ACos(double x) { return std::atan2(std::sqrt(1 - x * x), x) * kRadiansToDegrees; }
double ATan(double x) { return std::atan2(x, 1.0) * kRadiansToDegrees; }
double ATan2(double y, double x) { return std::atan2(y, x) * kRadiansToDegrees; }
double Sqrt(double x) { return std::sqrt(x); }

// e^x as 2^(x log2 e): the exponent splits into its nearest integer n and a
// remainder f with |f| <= 0.5; 2^f is computed directly and scaled by 2^n.
double Exp(double x) {
  long double t = static_cast<long double>(x) * kLog2E;
  if (std::isnan(t) || std::isinf(t)) return static_cast<double>(std::exp2(t));
  long double n = std::nearbyint(t);
  long double f = t - n;
  if (n > 20000) n = 20000;  // far beyond the range: scaling overflows to inf
  if (n < -20000) n = -20000;
  return static_cast<double>(std::ldexp(std::exp2(f), static_cast<int>(n)));
}

double Log(double x) { return static_cast<double>(kLn2 * std::log2(static_cast<long double>(x))); }
double Log10(double x) { return static_cast<double>(kLog10Of2 * std::log2(static_cast<long double>(x))); }

double Floor(double x) { return std::floor(x); }
double Ceil(double x) { return std::ceil(x); }
double Sinh(double x) { return std::sinh(x); }
double Cosh(double x) { return std::cosh(x); }
double Tanh(double x) { return std::tanh(x); }
int32_t IsNan(double x) { return std::isnan(x) ? 1 : 0; }
int32_t IsInf(double x) { return std::isinf(x) ? 1 : 0; }

}  // namespace vrl

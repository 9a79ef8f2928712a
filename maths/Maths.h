// Maths functions; the trigonometric ones work in degrees.
#pragma once

#include <cstdint>

namespace vrl {

inline constexpr double kDegreesToRadians = 0.017453292519943295;
inline constexpr double kRadiansToDegrees = 57.29577951308232;

double Sin(double degrees);
double Cos(double degrees);
double Tan(double degrees);
double ASin(double x);
double ACos(double x);
double ATan(double x);
double ATan2(double y, double x);
double Sqrt(double x);
double Exp(double x);
double Log(double x);
double Log10(double x);
double Floor(double x);
double Ceil(double x);
/// The hyperbolic functions take their argument as it is (no degrees).
double Sinh(double x);
double Cosh(double x);
double Tanh(double x);
int32_t IsNan(double x);
int32_t IsInf(double x);

}  // namespace vrl

// The degree trigonometry behind Sin, Cos and Tan.
//
// The defining computation forms the radian argument as the degree value
// times kDegreesToRadians in extended precision (long double), applies the
// long-double function and rounds the result to double. That is exact to the
// last bit but slow. The fast path here reproduces the same double for every
// argument: it evaluates the function of that same extended product in
// double-double arithmetic with a proven error bound, and returns its
// rounding only when the bound (widened by the long-double function's own
// error) shows that the defining computation rounds to the same double. When
// the bound cannot decide, or the argument lies outside the fast path's range
// (zero, tiny, huge, infinite or not a number), the caller falls back to the
// defining computation.
#pragma once

namespace vrl::trig {

/// The defining computations.
double ReferenceSin(double degrees);
double ReferenceCos(double degrees);
double ReferenceTan(double degrees);

/// A double-double estimate hi + lo of the function of the extended product,
/// with |hi + lo - exact| <= bound (the long-double function's error is not
/// included). |lo| is at most half an ulp of hi.
struct Estimate {
  double hi = 0;
  double lo = 0;
  double bound = 0;
};

/// False when the argument lies outside the fast path's range.
bool EstimateSin(double degrees, Estimate& out);
bool EstimateCos(double degrees, Estimate& out);
bool EstimateTan(double degrees, Estimate& out);

/// The processor's fused multiply-add, where it has one, forms the exact
/// products that the estimates need: the same values as the portable
/// products give, in fewer instructions. The estimates by the portable
/// products alone, for comparing the two:
bool HasFusedProducts();
bool PortableEstimateSin(double degrees, Estimate& out);
bool PortableEstimateCos(double degrees, Estimate& out);
bool PortableEstimateTan(double degrees, Estimate& out);

/// The fast path: true, with the defining computation's result, when the
/// estimate decides its rounding; false when the caller must fall back.
bool FastSin(double degrees, double& result);
bool FastCos(double degrees, double& result);
bool FastTan(double degrees, double& result);

/// The rounding test on its own: true, with the double nearest hi + lo, when
/// every value within `error` of hi + lo rounds to that double (|lo| at most
/// half an ulp of hi, |hi| at least 2^-300).
bool DecideRounding(double hi, double lo, double error, double& result);

/// The table the evaluation interpolates from: sin and cos of k / 256 for
/// k = 0 .. kTableSize - 1 as double-double values.
inline constexpr int kTableSize = 203;
struct TableEntry {
  double sinHi, sinLo, cosHi, cosLo;
};
const TableEntry& TableAt(int k);
/// The same entry computed when called (the table is computed at compile
/// time by this function); the tests compare the two.
TableEntry ComputeTableEntry(int k);

}  // namespace vrl::trig

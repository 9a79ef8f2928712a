#include "maths/Trig.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "maths/Maths.h"

// How the fast path works, and why its error bound holds.
//
// 1. The argument. The defining computation multiplies the degree value d by
//    the double k = kDegreesToRadians in long double: p = RN64(d * k), a
//    64-bit significand. The fast path forms exactly that value as ph + pl:
//    ph = RN53(d * k), the exact remainder of that product (by TwoProd, or
//    one fused multiply-add where the processor has it: the same value), and
//    that remainder rounded to the last place of a 64-bit significand (see
//    Reduce), so |pl| <= (1/2 + 2^-12) ulp(ph). The fast path takes
//    2^-290 <= |ph| < 2^22 (|d| up to about 2.4e8 degrees); everything else
//    (zero, tiny, huge, inf, nan) falls back.
//
// 2. Reduction by pi/2. n = nearest integer to ph * (2/pi), |n| < 2^21.4, and
//    r = p - n * pi/2 with pi/2 = C1 + C2 + C3 + e, C1 and C2 of at most 31
//    significant bits, C3 a double, |e| < 2^-119.
//    - n * C1 and n * C2 are exact (22 + 31 bits).
//    - s1 = ph - n * C1 is exact: for n != 0 both are multiples of ulp(ph),
//      which is at least 2^-53 since |ph| > 0.78, and |s1| < 1, so s1 fits in
//      53 bits.
//    - (a, ae) = TwoSum(s1, -n * C2) is exact.
//    - b = (pl - RN(n * C3)) + ae: |pl| <~ 2^-32, |n C3| < 2^-44, |ae| <=
//      2^-54, so each of the two roundings is at most 2^-85, and RN(n * C3)
//      is off by at most 2^-98.
//    - (rh, rl) = TwoSum(a, b) is exact.
//    So |rh + rl - r| <= kReductionError = 2^-83 when n != 0 (2^-95.6 from e,
//    2^-98 + 2 * 2^-85 from the roundings, rounded up), and r is exact when
//    n = 0. |r| <= pi/4 + 2^-29, since n may be off from the nearest integer
//    to p * 2/pi by the 2^-30 error of the product ph * (2/pi).
//
// 3. Evaluation. j = nearest integer to 256 rh, a = j / 256, th = rh - a
//    (exact: a multiple of ulp(rh) below 2^-9 in size) and tl = rl, so
//    r = a + th + tl with |th| <= 2^-9, |tl| <= 2^-53 |rh|, |j| <= 201. The
//    table holds S = sin a and C = cos a as double-double values to 2^-98.
//    With sigma = sin(th) - th and kappa = cos(th) - 1 (Taylor polynomials to
//    th^7 and th^6; the first omitted terms are below 2^-99 and 2^-87), to
//    first order in tl (tl^2 < 2^-106 r^2):
//      sin r = S + C th + C sigma + S kappa + tl (C (1 + kappa) - S th)
//      cos r = C - S th + C kappa - S sigma - tl (S (1 + kappa) + C th)
//    The leading products C th and S th are exact (TwoProd), the leading sum
//    exact (TwoSum); the rest, L, is summed in double from the smallest term
//    up. The result is (hi, lo) = FastTwoSum(H, L).
//
//    Bound for sin, relative to y = |sin r| (|sin r| >= 0.9 |r|, |th| <= 1.12 y,
//    and for j != 0 |r| >= 2^-9 and |S| <= 2 |r| <= 2.23 y):
//    - C sigma: sigma in six roundings, |sigma| <= th^3 / 6: 6 * 2^-53 th^3/6
//      <= 2^-53 * 2^-18 * 1.12 y <= 2^-70.8 y;
//    - S kappa: kappa in four roundings, |kappa| <= th^2 / 2: 2.23 y * 4 *
//      2^-53 * 2^-19 <= 2^-68.9 y;
//    - the dropped products Cl sigma, Sl kappa and tl (S sigma + C th^4/24):
//      <= 2^-70.8 y;
//    - the sum L: its partial sums stay below 2^-20.4 y until S kappa is added
//      last, when they reach 2^-17.6 y: <= 2^-70.6 y + 2^-73.4 y;
//    - the table: 2 * 2^-98 against y >= 2^-9.2 when j != 0 (exact at j = 0).
//    Together below 2^-67.9 y, so kRelativeError = 2^-67 covers them. For cos
//    (y >= 0.7) the same terms give at most 2^-68.5 y. The reduction adds
//    kReductionError, absolute, since both functions have slope at most 1.
//    Tan divides the two double-double values; the quotient's relative error
//    is that of the numerator plus that of the denominator plus 2^-95.
//
// 4. The rounding test. The defining computation returns RN53(F(p)), where
//    the long-double function F has relative error at most kLongDoubleError
//    (2^-62 for sin and cos, at least 2 units in the last place of the 64-bit
//    significand, and 2^-61 for tan, at least 4 units). This bound is the one
//    assumption taken from outside: the C library's largest errors for these
//    functions are below 2 units (against quadruple precision over 3 * 10^6
//    arguments of these ranges: 1.37 for sinl, 1.47 for cosl, 1.57 for
//    tanl), and the identity check over 10^8 arguments in the benchmarks
//    finds no difference. Given |hi + lo - f(p)| <= bound, F(p)
//    lies within bound + kLongDoubleError |y| (1 + 2^-40) of hi + lo. When
//    that interval holds no midpoint between doubles, F(p) rounds to the
//    same double as hi + lo; otherwise the fast path gives up.

namespace vrl::trig {

namespace {

// --- Double-double arithmetic (round-to-nearest doubles, no FMA needed) ---

struct DD {
  double hi;
  double lo;
};

constexpr DD TwoSum(double a, double b) {
  double s = a + b;
  double bb = s - a;
  double e = (a - (s - bb)) + (b - bb);
  return {s, e};
}

constexpr DD FastTwoSum(double a, double b) {  // |a| >= |b|
  double s = a + b;
  return {s, b - (s - a)};
}

constexpr DD Split(double a) {
  double c = 134217729.0 * a;  // 2^27 + 1
  double hi = c - (c - a);
  return {hi, a - hi};
}

constexpr DD TwoProd(double a, double b) {
  double p = a * b;
  DD x = Split(a), y = Split(b);
  double e = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
  return {p, e};
}

// The exact product a * b = p + e (no overflow or underflow). Where the
// processor has fused multiply-add, e is one instruction instead of Dekker's
// seventeen; both give the same exact value, so everything computed from it
// is the same bit for bit. The compile-time table keeps Dekker's.
template <bool kFused>
[[gnu::always_inline]] inline DD ExactProduct(double a, double b) {
  if constexpr (kFused) {
    const double p = a * b;
    return {p, std::fma(a, b, -p)};
  } else {
    return TwoProd(a, b);
  }
}

constexpr DD Add(DD x, DD y) {
  DD s = TwoSum(x.hi, y.hi);
  return FastTwoSum(s.hi, s.lo + (x.lo + y.lo));
}

constexpr DD Mul(DD x, double y) {
  DD p = TwoProd(x.hi, y);
  return FastTwoSum(p.hi, p.lo + x.lo * y);
}

constexpr DD Div(DD x, double y) {
  double q = x.hi / y;
  DD p = TwoProd(q, y);
  double rest = ((x.hi - p.hi) - p.lo) + x.lo;
  return FastTwoSum(q, rest / y);
}

// --- The table: sin and cos of k / 256 by their Taylor series in
// double-double arithmetic, summed until the terms fall below 2^-110 ---

constexpr TableEntry MakeEntry(int k) {
  const double a = k / 256.0;
  const double a2 = a * a;  // exact: a has at most 8 significant bits
  DD sinSum{a, 0}, cosSum{1, 0};
  DD sinTerm{a, 0}, cosTerm{1, 0};
  for (int i = 1; i < 40; ++i) {
    cosTerm = Div(Mul(cosTerm, -a2), double((2 * i - 1) * (2 * i)));
    sinTerm = Div(Mul(sinTerm, -a2), double((2 * i) * (2 * i + 1)));
    cosSum = Add(cosSum, cosTerm);
    sinSum = Add(sinSum, sinTerm);
    if ((cosTerm.hi < 0 ? -cosTerm.hi : cosTerm.hi) < 0x1p-110) break;
  }
  return {sinSum.hi, sinSum.lo, cosSum.hi, cosSum.lo};
}

constexpr std::array<TableEntry, kTableSize> MakeTable() {
  std::array<TableEntry, kTableSize> table{};
  for (int k = 0; k < kTableSize; ++k) table[size_t(k)] = MakeEntry(k);
  return table;
}

constexpr std::array<TableEntry, kTableSize> kTable = MakeTable();

// --- Constants ---

constexpr double kC1 = 0x1.921fb544p+0;         // pi/2, high 31 bits
constexpr double kC2 = 0x1.0b4611a8p-34;        // the next 31 bits
constexpr double kC3 = -0x1.d9cceba3f91f2p-66;  // the next 53 bits
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kRoundMagic = 0x1.8p52;  // adding and subtracting it rounds to an integer

constexpr double kReductionError = 0x1p-83;
constexpr double kRelativeError = 0x1p-67;
constexpr double kSinCosLongDoubleError = 0x1p-62;
constexpr double kTanLongDoubleError = 0x1p-61;

// Polynomial coefficients of sin(t) - t and cos(t) - 1.
constexpr double kS3 = -1.0 / 6, kS5 = 1.0 / 120, kS7 = -1.0 / 5040;
constexpr double kC4 = 1.0 / 24, kC6 = -1.0 / 720;

// --- Reduction and kernels ---

struct Reduced {
  int quadrant = 0;  // n mod 4
  double rh = 0, rl = 0;
  double error = 0;  // absolute error of rh + rl
};

constexpr DD kSplitDegreesToRadians = Split(kDegreesToRadians);

template <bool kFused>
[[gnu::always_inline]] inline bool Reduce(double degrees, Reduced& out) {
  // The extended-precision product of the defining computation, as ph + pl:
  // ph = RN53(d k), and pl the product's exact remainder e rounded to the
  // 64-bit significand's last place u (e + M - M with M = 1.5 * 2^52 u rounds
  // to a multiple of u, ties to even, and ph is a multiple of 2u). When ph is
  // a power of two above the exact product, that product lies in the binade
  // under it, where u is half as large. (With this k no double d gets there:
  // d would have to lie within less than an ulp below 2^m / k, and the
  // doubles next to 2^m / k, the same significand for every m, miss that
  // window. The rule is kept all the same, for it costs a predicted branch.)
  const double ph = degrees * kDegreesToRadians;
  const double size = std::fabs(ph);
  if (!(size >= 0x1p-290 && size < 0x1p22)) return false;
  double e = 0;
  if constexpr (kFused) {
    e = std::fma(degrees, kDegreesToRadians, -ph);
  } else {
    const DD x = Split(degrees);
    const DD& k = kSplitDegreesToRadians;
    e = ((x.hi * k.hi - ph) + x.hi * k.lo + x.lo * k.hi) + x.lo * k.lo;
  }
  const auto bits = std::bit_cast<uint64_t>(ph);
  double magic = std::bit_cast<double>(bits & 0x7FF0000000000000ull) * 0x1.8p-11;
  if ((bits & 0xFFFFFFFFFFFFFull) == 0 && e != 0 && (e < 0) != (ph < 0)) magic *= 0.5;
  const double pl = (e + magic) - magic;

  const double n = (ph * kTwoOverPi + kRoundMagic) - kRoundMagic;
  if (n == 0) {
    const DD r = FastTwoSum(ph, pl);
    out = {0, r.hi, r.lo, 0};
    return true;
  }
  const double s1 = ph - n * kC1;
  const DD a = TwoSum(s1, -(n * kC2));
  const double b = (pl - n * kC3) + a.lo;
  const DD r = TwoSum(a.hi, b);
  out = {static_cast<int>(static_cast<int64_t>(n) & 3), r.hi, r.lo, kReductionError};
  return true;
}

// sin(n pi/2 + r) for n mod 4 = 0 .. 3 is sin r, cos r, -sin r, -cos r, and
// cos(x) = sin(x + pi/2). With r = a + t, each of these is A cos t + B sin t
// where (A, B) is (S, C), (C, -S), (-S, -C) or (-C, S) for S = sin a and
// C = cos a; S changes sign with a. So one kernel serves every quadrant and
// both functions, without branches on the quadrant.
struct Sign {
  double a, b;
};
// Indexed by quadrant * 2 + (a < 0): the signs of A and B.
constexpr Sign kSigns[8] = {{1, 1}, {-1, 1}, {1, -1}, {1, 1}, {-1, -1}, {1, -1}, {-1, 1}, {-1, -1}};

// The value at quadrant offset `shift` (0 for sin, 1 for cos) with
// |hi + lo - f(p)| <= bound.
template <bool kFused>
[[gnu::always_inline]] inline Estimate Kernel(const Reduced& r, int shift, bool& ok) {
  const double j = (r.rh * 256 + kRoundMagic) - kRoundMagic;
  const bool negative = j < 0;
  const int k = static_cast<int>(std::fabs(j));
  ok = k < kTableSize;  // always true after the reduction
  const double* e = &kTable[size_t(ok ? k : 0)].sinHi;
  const int quadrant = (r.quadrant + shift) & 3;
  const ptrdiff_t odd = quadrant & 1;
  const Sign sign = kSigns[quadrant * 2 + (negative ? 1 : 0)];
  const double A = sign.a * e[2 * odd], Al = sign.a * e[2 * odd + 1];
  const double B = sign.b * e[2 - 2 * odd], Bl = sign.b * e[3 - 2 * odd];

  const double th = r.rh - j * (1.0 / 256);
  const double tl = r.rl;
  const double t2 = th * th;
  const double sigma = (th * t2) * (kS3 + t2 * (kS5 + t2 * kS7));  // sin(th) - th
  const double kappa = t2 * (-0.5 + t2 * (kC4 + t2 * kC6));        // cos(th) - 1

  // A cos t + B sin t = A + B th + B sigma + A kappa + tl (B (1 + kappa) - A th)
  const DD P = ExactProduct<kFused>(B, th);
  const DD H = TwoSum(A, P.hi);
  const double u = tl * (B + B * kappa - A * th);
  const double small = ((Al + Bl * th) + (P.lo + u)) + (H.lo + B * sigma);
  const double L = small + A * kappa;
  const DD y = FastTwoSum(H.hi, L);
  return {y.hi, y.lo, kRelativeError * std::fabs(y.hi) + r.error};
}

// n / d for double-double n and d with their bounds.
template <bool kFused>
[[gnu::always_inline]] inline Estimate Quotient(const Estimate& n, const Estimate& d) {
  const double qh = n.hi / d.hi;
  const DD m = ExactProduct<kFused>(qh, d.hi);
  const double rest = (((n.hi - m.hi) - m.lo) + n.lo) - qh * d.lo;
  const DD q = FastTwoSum(qh, rest / d.hi);
  const double relative = n.bound / std::fabs(n.hi) + d.bound / std::fabs(d.hi) + 0x1p-95;
  return {q.hi, q.lo, std::fabs(q.hi) * relative * (1 + 0x1p-40)};
}

// The rounding test: the double nearest hi + lo when every value within
// `error` of hi + lo rounds to it.
[[gnu::always_inline]] inline bool Decide(double hi, double lo, double error, double& result) {
  const DD y = FastTwoSum(hi, lo);
  const auto bits = std::bit_cast<uint64_t>(y.hi);
  const uint64_t exponent = (bits >> 52) & 0x7FF;
  // Half an ulp of y (normal: |y| >= 2^-300). Below a power of two the gap
  // towards zero is half as wide; there the narrower one is used for both
  // sides.
  double half = std::bit_cast<double>((exponent - 53) << 52);
  if ((bits & 0xFFFFFFFFFFFFFull) == 0) half *= 0.5;
  // half - |lo| is exact when |lo| >= half / 2, and otherwise rounds by at
  // most 2^-53 of itself; the factor on the error covers that.
  const double room = half - std::fabs(y.lo);
  if (error * (1 + 0x1p-40) < room) {
    result = y.hi;
    return true;
  }
  return false;
}

[[gnu::always_inline]] inline bool Decide(const Estimate& e, double longDoubleError, double& result) {
  const double error = e.bound + longDoubleError * std::fabs(e.hi) * (1 + 0x1p-40);
  return Decide(e.hi, e.lo, error, result);
}

}  // namespace

const TableEntry& TableAt(int k) { return kTable[size_t(k)]; }
TableEntry ComputeTableEntry(int k) { return MakeEntry(k); }

bool DecideRounding(double hi, double lo, double error, double& result) {
  return Decide(hi, lo, error, result);
}

double ReferenceSin(double degrees) {
  return static_cast<double>(
      std::sin(static_cast<long double>(degrees) * static_cast<long double>(kDegreesToRadians)));
}
double ReferenceCos(double degrees) {
  return static_cast<double>(
      std::cos(static_cast<long double>(degrees) * static_cast<long double>(kDegreesToRadians)));
}
double ReferenceTan(double degrees) {
  return static_cast<double>(
      std::tan(static_cast<long double>(degrees) * static_cast<long double>(kDegreesToRadians)));
}

namespace {

// The estimates and the fast path with one kind of exact product; `shift` is
// 0 for sin and 1 for cos.
template <bool kFused>
[[gnu::always_inline]] inline bool EstimateWith(double degrees, int shift, Estimate& out) {
  Reduced r;
  bool ok = false;
  if (Reduce<kFused>(degrees, r)) out = Kernel<kFused>(r, shift, ok);
  return ok;
}

template <bool kFused>
[[gnu::always_inline]] inline bool EstimateTanWith(double degrees, Estimate& out) {
  Reduced r;
  bool ok = false, okCos = false;
  if (!Reduce<kFused>(degrees, r)) return false;
  const Estimate s = Kernel<kFused>(r, 0, ok), c = Kernel<kFused>(r, 1, okCos);
  out = Quotient<kFused>(s, c);
  return ok && okCos;
}

template <bool kFused>
[[gnu::always_inline]] inline bool FastWith(double degrees, int shift, double& result) {
  Estimate e;
  return EstimateWith<kFused>(degrees, shift, e) && Decide(e, kSinCosLongDoubleError, result);
}

template <bool kFused>
[[gnu::always_inline]] inline bool FastTanWith(double degrees, double& result) {
  Estimate e;
  return EstimateTanWith<kFused>(degrees, e) && Decide(e, kTanLongDoubleError, result);
}

// The same code compiled for processors with fused multiply-add (and the
// three-operand instructions that come with it), and for any processor.
#if defined(__x86_64__)
#define VRL_FUSED_TARGET [[gnu::target("fma")]]
#else
#define VRL_FUSED_TARGET
#endif
VRL_FUSED_TARGET bool FusedEstimate(double degrees, int shift, Estimate& out) {
  return EstimateWith<true>(degrees, shift, out);
}
VRL_FUSED_TARGET bool FusedEstimateTan(double degrees, Estimate& out) {
  return EstimateTanWith<true>(degrees, out);
}
VRL_FUSED_TARGET bool FusedFast(double degrees, int shift, double& result) {
  return FastWith<true>(degrees, shift, result);
}
VRL_FUSED_TARGET bool FusedFastTan(double degrees, double& result) {
  return FastTanWith<true>(degrees, result);
}
#undef VRL_FUSED_TARGET

bool Fused() {
#if defined(__x86_64__)
  static const bool fused = __builtin_cpu_supports("fma");
  return fused;
#elif defined(__FP_FAST_FMA)
  return true;
#else
  return false;
#endif
}

}  // namespace

bool HasFusedProducts() { return Fused(); }

bool EstimateSin(double degrees, Estimate& out) {
  return Fused() ? FusedEstimate(degrees, 0, out) : EstimateWith<false>(degrees, 0, out);
}
bool EstimateCos(double degrees, Estimate& out) {
  return Fused() ? FusedEstimate(degrees, 1, out) : EstimateWith<false>(degrees, 1, out);
}
bool EstimateTan(double degrees, Estimate& out) {
  return Fused() ? FusedEstimateTan(degrees, out) : EstimateTanWith<false>(degrees, out);
}

bool PortableEstimateSin(double degrees, Estimate& out) { return EstimateWith<false>(degrees, 0, out); }
bool PortableEstimateCos(double degrees, Estimate& out) { return EstimateWith<false>(degrees, 1, out); }
bool PortableEstimateTan(double degrees, Estimate& out) { return EstimateTanWith<false>(degrees, out); }

bool FastSin(double degrees, double& result) {
  return Fused() ? FusedFast(degrees, 0, result) : FastWith<false>(degrees, 0, result);
}
bool FastCos(double degrees, double& result) {
  return Fused() ? FusedFast(degrees, 1, result) : FastWith<false>(degrees, 1, result);
}
bool FastTan(double degrees, double& result) {
  return Fused() ? FusedFastTan(degrees, result) : FastTanWith<false>(degrees, result);
}

}  // namespace vrl::trig

namespace vrl {

// The degree product is formed in extended precision, so that angles such as
// 90 and 180 land as close to the exact radian value as the unit allows; the
// fast path gives the same double as that computation whenever it can prove
// so, and the computation itself runs otherwise.
double Sin(double degrees) {
  double result = 0;
  return trig::FastSin(degrees, result) ? result : trig::ReferenceSin(degrees);
}
double Cos(double degrees) {
  double result = 0;
  return trig::FastCos(degrees, result) ? result : trig::ReferenceCos(degrees);
}
double Tan(double degrees) {
  double result = 0;
  return trig::FastTan(degrees, result) ? result : trig::ReferenceTan(degrees);
}

}  // namespace vrl

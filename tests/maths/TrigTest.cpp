// The fast degree trigonometry: its table and error bound against quadruple
// precision, the rounding test on hand-made cases, the range it leaves to the
// long-double computation, and the identity with that computation over about
// a million arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "maths/Maths.h"
#include "maths/Trig.h"
#include "tests/maths/TrigIdentity.h"

using namespace vrl;
using namespace vrl::trig;

namespace {

__extension__ typedef __float128 Quad;

}  // namespace

// The quadruple-precision functions of GCC's libquadmath.
extern "C" {
Quad sinq(Quad);
Quad cosq(Quad);
Quad tanq(Quad);
}

namespace {

Quad fabsq(Quad x) { return x < 0 ? -x : x; }

Quad Product(double degrees) {
  return static_cast<Quad>(static_cast<long double>(degrees) * static_cast<long double>(kDegreesToRadians));
}

double Ulp(double v) { return std::nextafter(std::fabs(v), HUGE_VAL) - std::fabs(v); }

TEST(TrigTable, MatchesItsRunTimeComputationAndQuadruplePrecision) {
  for (int k = 0; k < kTableSize; ++k) {
    const TableEntry& t = TableAt(k);
    const TableEntry computed = ComputeTableEntry(k);
    ASSERT_EQ(t.sinHi, computed.sinHi) << k;
    ASSERT_EQ(t.sinLo, computed.sinLo) << k;
    ASSERT_EQ(t.cosHi, computed.cosHi) << k;
    ASSERT_EQ(t.cosLo, computed.cosLo) << k;
    const Quad a = static_cast<Quad>(k) / 256;
    const double sinError = static_cast<double>(fabsq(static_cast<Quad>(t.sinHi) + t.sinLo - sinq(a)));
    const double cosError = static_cast<double>(fabsq(static_cast<Quad>(t.cosHi) + t.cosLo - cosq(a)));
    EXPECT_LE(sinError, 0x1p-98) << k;
    EXPECT_LE(cosError, 0x1p-98) << k;
    EXPECT_LE(std::fabs(t.sinLo), Ulp(t.sinHi) / 2) << k;
    EXPECT_LE(std::fabs(t.cosLo), Ulp(t.cosHi) / 2) << k;
  }
  EXPECT_EQ(TableAt(0).sinHi, 0.0);
  EXPECT_EQ(TableAt(0).cosHi, 1.0);
}

// |hi + lo - f(p)| <= bound, against the function of the same extended
// product in quadruple precision, and the bound tight enough that few
// arguments fall back.
TEST(TrigEstimate, ErrorStaysWithinTheStatedBound) {
  using EstimateFn = bool (*)(double, Estimate&);
  using QuadFn = Quad (*)(Quad);
  const struct {
    const char* name;
    EstimateFn estimate;
    QuadFn exact;
    double relative;  // the bound away from zeros and poles
  } functions[] = {{"sin", EstimateSin, sinq, 0x1p-66},
                   {"cos", EstimateCos, cosq, 0x1p-66},
                   {"tan", EstimateTan, tanq, 0x1p-65}};
  check::Arguments arguments(11);
  for (int i = 0; i < 300000; ++i) {
    const double d = arguments.Next();
    for (const auto& f : functions) {
      Estimate e;
      if (!f.estimate(d, e)) continue;
      const Quad exact = f.exact(Product(d));
      const double error = static_cast<double>(fabsq(static_cast<Quad>(e.hi) + e.lo - exact));
      ASSERT_LE(error, e.bound) << f.name << " of " << d;
      ASSERT_LE(std::fabs(e.lo), Ulp(e.hi) / 2) << f.name << " of " << d;
      // Away from zeros and poles the bound is close to the relative 2^-67
      // (twice that for the quotient) it promises.
      if (std::fabs(e.hi) > 0.01 && std::fabs(e.hi) < 100) {
        ASSERT_LE(e.bound, f.relative * std::fabs(e.hi)) << f.name << " of " << d;
      }
    }
  }
}

// Where the radian product lies next to a power of two, the last place of
// its 64-bit significand changes size on the way across: the estimate must
// still be that of the extended product, on both sides.
TEST(TrigEstimate, ProductsNextToPowersOfTwo) {
  int checked = 0;
  for (int m = -280; m <= 21; ++m) {
    double d = std::ldexp(1.0, m) / kDegreesToRadians;
    for (int i = 0; i < 3; ++i) d = std::nextafter(d, 0.0);
    for (int i = 0; i < 7; ++i, d = std::nextafter(d, HUGE_VAL)) {
      for (double v : {d, -d}) {
        Estimate e;
        ASSERT_TRUE(EstimateSin(v, e)) << v;
        const double error = static_cast<double>(fabsq(static_cast<Quad>(e.hi) + e.lo - sinq(Product(v))));
        ASSERT_LE(error, e.bound) << v;
        EXPECT_TRUE(check::Same(Sin(v), ReferenceSin(v))) << v;
        EXPECT_TRUE(check::Same(Cos(v), ReferenceCos(v))) << v;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 302L * 14);
}

// Where the processor has fused multiply-add, the estimates form their exact
// products with it: the same values as the portable products, so every
// estimate (and every decision taken from it) is the same bit for bit,
// next to the powers of two and the table's steps as well.
TEST(TrigEstimate, FusedAndPortableProductsGiveTheSameEstimates) {
  if (!HasFusedProducts()) GTEST_SKIP() << "this processor has no fused multiply-add";
  using EstimateFn = bool (*)(double, Estimate&);
  const struct {
    const char* name;
    EstimateFn fused, portable;
  } functions[] = {{"sin", EstimateSin, PortableEstimateSin},
                   {"cos", EstimateCos, PortableEstimateCos},
                   {"tan", EstimateTan, PortableEstimateTan}};
  auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
  std::vector<double> values = check::EdgeValues();
  check::Arguments arguments(17);
  for (int i = 0; i < 400000; ++i) values.push_back(arguments.Next());
  for (int m = -280; m <= 21; m += 3) {
    const double d = std::ldexp(1.0, m) / kDegreesToRadians;
    values.insert(values.end(), {std::nextafter(d, 0.0), d, std::nextafter(d, HUGE_VAL)});
  }
  for (int k = 1; k < kTableSize; ++k) values.push_back((k - 0.5) / 256 / kDegreesToRadians);
  long estimated = 0;
  for (double d : values) {
    for (const auto& f : functions) {
      Estimate a, b;
      const bool fused = f.fused(d, a), portable = f.portable(d, b);
      ASSERT_EQ(fused, portable) << f.name << " of " << d;
      if (!fused) continue;
      ++estimated;
      ASSERT_TRUE(same(a.hi, b.hi) && same(a.lo, b.lo) && same(a.bound, b.bound)) << f.name << " of " << d;
    }
  }
  EXPECT_GT(estimated, 3L * 300000);
}

TEST(TrigEstimate, LeavesZeroTinyHugeAndNonFiniteArgumentsToTheReference) {
  Estimate e;
  const double inf = HUGE_VAL, nan = std::nan("");
  for (double d : {0.0, -0.0, 1e-300, 0x1p-1074, 2.5e8, -2.5e8, 1e300, inf, -inf, nan}) {
    EXPECT_FALSE(EstimateSin(d, e)) << d;
    EXPECT_FALSE(EstimateCos(d, e)) << d;
    EXPECT_FALSE(EstimateTan(d, e)) << d;
  }
  // Just inside both ends of the range.
  EXPECT_TRUE(EstimateSin(1e-80, e));
  EXPECT_FALSE(EstimateSin(1e-90, e));
  EXPECT_TRUE(EstimateSin(2.3e8, e));
  EXPECT_TRUE(EstimateSin(-2.3e8, e));
  // What the long-double computation gives there, signs of zero included.
  EXPECT_TRUE(std::signbit(Sin(-0.0)));
  EXPECT_FALSE(std::signbit(Sin(0.0)));
  EXPECT_EQ(Cos(-0.0), 1.0);
  EXPECT_TRUE(std::isnan(Sin(inf)));
  EXPECT_TRUE(std::isnan(Tan(nan)));
  EXPECT_EQ(Sin(0x1p-1074), ReferenceSin(0x1p-1074));
}

TEST(TrigRounding, DecidesOnlyWhenNoMidpointIsWithinTheError) {
  const double ulp = 0x1p-52;  // of 1.5
  double r = 0;
  EXPECT_TRUE(DecideRounding(1.5, 0, ulp / 4, r));
  EXPECT_EQ(r, 1.5);
  // lo a little below half an ulp: the midpoint is 2^-60 away.
  const double lo = ulp / 2 - 0x1p-60;
  EXPECT_TRUE(DecideRounding(1.5, lo, 0x1p-61, r));
  EXPECT_FALSE(DecideRounding(1.5, lo, 0x1p-60, r));
  EXPECT_FALSE(DecideRounding(1.5, -lo, 0x1p-59, r));
  // Exactly on a midpoint nothing is decided, however small the error.
  EXPECT_FALSE(DecideRounding(1.5, ulp / 2, 0x1p-100, r));
  EXPECT_FALSE(DecideRounding(1.5, ulp / 2, 0, r));
  // Below a power of two the doubles are twice as dense: the midpoint under
  // 1 is a quarter of 1's upper ulp away.
  EXPECT_TRUE(DecideRounding(1.0, -ulp / 8, ulp / 16, r));
  EXPECT_EQ(r, 1.0);
  EXPECT_FALSE(DecideRounding(1.0, -ulp / 8, ulp / 8 + 0x1p-70, r));
  EXPECT_TRUE(DecideRounding(1.5, -ulp / 8, ulp / 8 + 0x1p-70, r));
  // Negative values mirror positive ones.
  EXPECT_TRUE(DecideRounding(-1.5, -lo, 0x1p-61, r));
  EXPECT_EQ(r, -1.5);
  EXPECT_FALSE(DecideRounding(-1.0, ulp / 8, ulp / 8 + 0x1p-70, r));
}

TEST(TrigIdentity, SinCosTanEqualTheExtendedPrecisionComputation) {
  const check::IdentityResult result = check::CheckIdentity(1000000, 2026);
  EXPECT_EQ(result.mismatches, 0) << "first at " << result.firstMismatch;
  // The stream includes out-of-range values, about an eighth of them; the
  // rounding test itself gives up on well under 1% of the others.
  for (long fallbacks : result.fallbacks) EXPECT_LT(fallbacks, result.checked / 5);
}

TEST(TrigIdentity, EdgeValuesAndValuesTheFallbackFound) {
  for (double d : check::EdgeValues()) {
    EXPECT_TRUE(check::Same(Sin(d), ReferenceSin(d))) << "Sin " << d;
    EXPECT_TRUE(check::Same(Cos(d), ReferenceCos(d))) << "Cos " << d;
    EXPECT_TRUE(check::Same(Tan(d), ReferenceTan(d))) << "Tan " << d;
  }
  EXPECT_EQ(Sin(90), 1.0);
  EXPECT_EQ(Cos(0), 1.0);
  EXPECT_EQ(Sin(30), ReferenceSin(30));
}

// Most arguments of the card's range are decided by the fast path.
TEST(TrigIdentity, FewCardArgumentsFallBack) {
  check::Arguments arguments(5);
  long fallbacks = 0, total = 0;
  for (int i = 0; i < 200000; ++i) {
    double d = arguments.Next();
    if (!(std::fabs(d) >= 1 && std::fabs(d) < 2e8)) continue;
    double r = 0;
    ++total;
    if (!FastSin(d, r)) ++fallbacks;
  }
  EXPECT_LT(double(fallbacks), 0.01 * double(total));
}

}  // namespace

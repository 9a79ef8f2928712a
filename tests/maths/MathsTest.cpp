#include "maths/Maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vrl;

namespace {

TEST(Maths, DegreeTrigonometry) {
  EXPECT_DOUBLE_EQ(Sin(90), 1.0);
  EXPECT_NEAR(Cos(90), 0.0, 1e-15);
  EXPECT_NEAR(Sin(180), 0.0, 1e-15);
  EXPECT_NEAR(Sin(30), 0.5, 1e-16);
  EXPECT_NEAR(Tan(45), 1.0, 1e-15);
  EXPECT_DOUBLE_EQ(ATan2(1, 0), 90.0);
  EXPECT_DOUBLE_EQ(ASin(1), 90.0);
  EXPECT_DOUBLE_EQ(ACos(1), 0.0);
  EXPECT_DOUBLE_EQ(ATan(1), 45.0);
  EXPECT_DOUBLE_EQ(ATan2(-1, -1), -135.0);
  EXPECT_TRUE(std::isnan(ASin(2)));
}

TEST(Maths, ExponentAndLogarithms) {
  EXPECT_NEAR(Exp(1), 2.718281828459045, 1e-15);
  EXPECT_DOUBLE_EQ(Exp(0), 1.0);
  EXPECT_NEAR(Exp(-3.5), std::exp(-3.5), 1e-16);
  EXPECT_EQ(Exp(1000), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Exp(-1000), 0.0);
  EXPECT_DOUBLE_EQ(Log(std::exp(2.0)), 2.0);
  EXPECT_DOUBLE_EQ(Log10(1000), 3.0);
  EXPECT_TRUE(std::isnan(Log(-1)));
  EXPECT_TRUE(std::isnan(Sqrt(-1)));
}

TEST(Maths, RoundingAndClassification) {
  EXPECT_EQ(Floor(-1.5), -2.0);
  EXPECT_EQ(Ceil(-1.5), -1.0);
  EXPECT_EQ(IsNan(std::nan("")), 1);
  EXPECT_EQ(IsNan(1.0), 0);
  EXPECT_EQ(IsInf(-std::numeric_limits<double>::infinity()), 1);
  EXPECT_EQ(IsInf(1e308), 0);
  EXPECT_DOUBLE_EQ(Tanh(0.5), std::tanh(0.5));
}

}  // namespace

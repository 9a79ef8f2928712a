#include "maths/Random.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vrl;

namespace {

class RandomTest : public testing::Test {
 protected:
  void SetUp() override { SeedRandom(0); }  // back to the default seed
};

TEST_F(RandomTest, DefaultSeedAndFirstStep) {
  EXPECT_EQ(RandomSeed(), 0x1234);
  EXPECT_EQ(RandomFloat(), 224942848.0f / 268435456.0f);
  EXPECT_EQ(RandomSeed(), 224942860);
}

TEST_F(RandomTest, SeedMasksAndFallsBackToTheDefault) {
  SeedRandom(0x7FFFFFFF);
  EXPECT_EQ(RandomSeed(), 0x1234);
  SeedRandom(-1);
  EXPECT_EQ(RandomSeed(), 0x1234);
  SeedRandom(static_cast<int32_t>(0x80000005u));
  EXPECT_EQ(RandomSeed(), 5);
}

TEST_F(RandomTest, DoubleTakesTwoStepsAndStaysBelowOne) {
  // Two steps from the default seed, combined by hand.
  int32_t s1 = 224942860;
  int64_t next = int64_t(s1) * 48271 % 2147483647;
  double expected = ((s1 & 0x1FFFFFFC) + double(next & 0x1FFFFFF8) / 134217728.0) / 536870912.0;
  EXPECT_EQ(RandomDouble(), expected);
  EXPECT_EQ(RandomSeed(), next);
  for (int i = 0; i < 100000; ++i) {
    double d = RandomDouble();
    ASSERT_GE(d, 0.0);
    ASSERT_LT(d, 1.0);
  }
}

TEST_F(RandomTest, BoundsInEitherOrder) {
  double forward = RandomReal(0, 10);
  SeedRandom(0);
  EXPECT_EQ(RandomReal(10, 0), forward);

  int32_t state = RandomSeed();
  EXPECT_EQ(RandomInt(1, 1), 1);
  SeedRandom(state);
  RandomDouble();
  int32_t afterTwo = RandomSeed();
  SeedRandom(state);
  RandomInt(1, 1);
  EXPECT_EQ(RandomSeed(), afterTwo) << "a draw always advances twice";

  bool seen[4] = {};
  for (int i = 0; i < 1000; ++i) {
    int32_t v = RandomInt(3, 1);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 3);
    seen[v] = true;
  }
  EXPECT_TRUE(seen[1] && seen[2] && seen[3]);
  for (int i = 0; i < 1000; ++i) {
    int32_t v = RandomInt(-1, 1);
    ASSERT_GE(v, -1);
    ASSERT_LE(v, 1);
  }
  int32_t wide = RandomInt(INT32_MIN, INT32_MAX);
  (void)wide;  // any value is in range; the call must not overflow
}

TEST_F(RandomTest, SequenceIsTheSameOnEveryRun) {
  double first[5];
  for (double& v : first) v = RandomReal(-768, -1);
  SeedRandom(0x1234);
  for (double v : first) EXPECT_EQ(RandomReal(-768, -1), v);
}

// One step by Schrage's method in 32-bit arithmetic, the way the generator
// is defined.
int32_t SchrageStep(int32_t s) {
  s = (s % 44488) * 48271 - (s / 44488) * 3399;
  return s < 0 ? s + 2147483647 : s;
}

TEST_F(RandomTest, StepsEqualSchragesMethodOverTheWholeRange) {
  std::vector<int32_t> states = {1,     2,          3,          44487,      44488,     44489,
                                 48271, 1073741823, 1073741824, 2147483645, 2147483646};
  uint32_t x = 12345;
  for (int i = 0; i < 200000; ++i) {
    x = x * 1664525u + 1013904223u;
    states.push_back(static_cast<int32_t>(x % 2147483646u) + 1);
  }
  for (int32_t s : states) {
    SeedRandom(s);
    ASSERT_EQ(RandomSeed(), s);
    RandomFloat();
    ASSERT_EQ(RandomSeed(), SchrageStep(s)) << s;
    SeedRandom(s);
    const int32_t first = SchrageStep(s), second = SchrageStep(first);
    ASSERT_EQ(RandomDouble(), ((first & 0x1FFFFFFC) + (second & 0x1FFFFFF8) / 134217728.0) / 536870912.0)
        << s;
    ASSERT_EQ(RandomSeed(), second) << s;
  }
}

// Batches of every length across the internal batch of 8, from states at the
// ends of the range (where the modular fold meets its bound) and random ones,
// by the vector code where the processor has it and by the portable code.
TEST_F(RandomTest, ABatchOfDoublesEqualsSuccessiveDraws) {
  std::vector<int32_t> seeds = {1, 2, 0x2468ACE, 0x7FFFFFFD, 0x7FFFFFFE, 0x40000000, 0x3FFFFFFF};
  SeedRandom(99);
  for (int i = 0; i < 300; ++i) seeds.push_back(RandomInt(1, 0x7FFFFFFE));
  for (auto batchOf : {RandomDoubles, RandomDoublesPortable}) {
    for (int32_t seed : seeds) {
      for (int32_t count = 0; count <= 20; ++count) {
        SeedRandom(seed);
        std::vector<double> one(size_t(count) + 1, -1.0), batch(size_t(count) + 1, -1.0);
        for (int32_t i = 0; i < count; ++i) one[size_t(i)] = RandomDouble();
        const int32_t state = RandomSeed();
        SeedRandom(seed);
        batchOf(batch.data(), count);
        ASSERT_EQ(RandomSeed(), state) << seed << " " << count;
        ASSERT_EQ(batch, one) << seed << " " << count;  // the element past the end is untouched
      }
    }
  }
}

TEST_F(RandomTest, RealAndIntAreFunctionsOfTheDoubleTheyDraw) {
  const struct { double a, b; } reals[] = {{0, 1023}, {-768, -1}, {360, 0}, {1, 0}, {-1, 1}, {5, 5}};
  for (const auto& bounds : reals) {
    const int32_t state = RandomSeed();
    const double value = RandomReal(bounds.a, bounds.b);
    SeedRandom(state);
    EXPECT_EQ(RealFromDouble(RandomDouble(), bounds.a, bounds.b), value);
  }
  const struct {
    int32_t a, b;
  } ints[] = {{224, 255}, {0, 3}, {1, -1}, {7, 7}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MIN}};
  for (const auto& bounds : ints) {
    const int32_t state = RandomSeed();
    const int32_t value = RandomInt(bounds.a, bounds.b);
    SeedRandom(state);
    EXPECT_EQ(IntFromDouble(RandomDouble(), bounds.a, bounds.b), value);
  }
  EXPECT_EQ(IntFromDouble(0.999999, 1, 3), 3);
  EXPECT_EQ(IntFromDouble(0.999999, 3, 1), 3);
  EXPECT_EQ(IntFromDouble(0, 3, 1), 1);
  EXPECT_EQ(RealFromDouble(0.5, 10, 0), 5.0);
}

}  // namespace

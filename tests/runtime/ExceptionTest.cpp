#include "runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "runtime/Numeric.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

// A catch clause of the object model: the first matching class wins,
// anything else goes on to the next outer handler.
template <class Clause>
std::string CatchWith(void (*thrower)()) {
  try {
    try {
      thrower();
    } catch (const ThrownObject& e) {
      if (e.As<Clause>()) return "caught";
      throw;
    }
  } catch (const ThrownObject& e) {
    return std::string("outer:") + e.what();
  }
  return "nothing";
}

TEST(Exceptions, CatchSemantics) {
  auto throwString = [] { vrThrowText("plain text"); };
  auto throwRuntime = [] { vrRuntimeError("List index out of range"); };
  EXPECT_EQ(CatchWith<TRuntimeException>(throwString), "outer:plain text");
  EXPECT_EQ(CatchWith<Object>(throwString), "caught");
  EXPECT_EQ(CatchWith<String>(throwString), "caught");
  EXPECT_EQ(CatchWith<TRuntimeException>(throwRuntime), "caught");
  EXPECT_EQ(CatchWith<TVorlException>(throwRuntime), "caught");
  EXPECT_EQ(CatchWith<Object>(throwRuntime), "caught");
  EXPECT_EQ(CatchWith<TNullObjectException>(throwRuntime), "outer:List index out of range");
}

TEST(Exceptions, TextsOfTheRuntimeExceptions) {
  EXPECT_EQ(ThrownText(&ThrowNullMethodException), "Attempt to call abstract method");
  EXPECT_EQ(ThrownText(&ThrowOutOfDataException), "Attempt to read beyond end of data");
  EXPECT_EQ(ThrownText(&ThrowArrayBoundsException), "Attempt to index array element beyond array length");
  Ref<TRuntimeException> e = TRuntimeException::Create(String::FromNarrow("boom"));
  EXPECT_EQ(e->ToString()->ToNarrow(), "boom");
  EXPECT_EQ(New<TRuntimeException>()->ToString().get(), EmptyString());
}

TEST(ExceptionsDeathTest, UncaughtThrowWritesTextAndExitsWithMinusOne) {
  EXPECT_EXIT(RunGuarded([] { vrRuntimeError("fatal: nothing caught this"); }), testing::ExitedWithCode(255),
              "fatal: nothing caught this");
  // A throw that leaves a thread's function reaches std::terminate, which
  // hands it to the same hook.
  EXPECT_EXIT(
      {
        std::thread t([] { vrThrowText("escaped to terminate"); });
        t.join();
      },
      testing::ExitedWithCode(255), "escaped to terminate");
  // nullptr reaches the hook as the Null object, whose text cannot be made.
  EXPECT_EXIT(HandleUnhandledException(nullptr), testing::ExitedWithCode(255), "Unhandled exception");
}

TEST(Numeric, RulesThatDifferFromPlainArithmetic) {
  EXPECT_EQ(IntMod(-7, 3), -1);
  EXPECT_EQ(IntMod(7, -3), 1);
  EXPECT_EQ(IntMod(INT32_MIN, -1), 0);
  EXPECT_EQ(IntSgn(-4), -1);
  EXPECT_EQ(IntAbs(INT32_MIN), INT32_MIN);
  EXPECT_EQ(DoubleSgn(std::nan("")), 0.0);
  EXPECT_EQ(DoubleSgn(-0.0), 0.0);
  EXPECT_EQ(DoubleMod(-7.5, 2.0), -1.5);
  // Min is "b > a ? a : b" and max "b >= a ? b : a": with not-a-number the
  // operand order decides.
  EXPECT_TRUE(std::isnan(DoubleMin(1.0, std::nan(""))));
  EXPECT_EQ(DoubleMin(std::nan(""), 1.0), 1.0);
  EXPECT_EQ(DoubleMax(1.0, std::nan("")), 1.0);
  EXPECT_TRUE(std::isnan(DoubleMax(std::nan(""), 1.0)));
  EXPECT_EQ(LongShl(1, 65), 2);
  EXPECT_EQ(LongShr(-1, 63), 1);
  EXPECT_EQ(LongSar(-8, 66), -2);
  EXPECT_EQ(LongMod(-7, 2), -1);
  EXPECT_EQ(DoubleToInt(-2.9), -2);
  EXPECT_EQ(DoubleToInt(3e10), INT32_MIN);
  EXPECT_EQ(DoubleToInt(std::nan("")), INT32_MIN);
  EXPECT_EQ(DoubleToLong(-1e300), INT64_MIN);
  EXPECT_EQ(DoubleToLong(123456789012.9), 123456789012);
}

}  // namespace

#include "runtime/Function.h"

namespace {

int32_t Add(int32_t a, int32_t b) { return a + b; }

class TShape : public vrl::Object {
 public:
  virtual double Area() { vrl::ThrowNullMethodException(); }
};

TEST(Exceptions, UnsetFunctionPointersAndAbstractMethods) {
  vrl::FunctionPtr<int32_t(int32_t, int32_t)> unset;
  EXPECT_TRUE(ThrowsObject<vrl::TNullFunctionException>([&] { unset(1, 2); }));
  vrl::FunctionPtr<int32_t(int32_t, int32_t)> add = &Add;
  EXPECT_EQ(add(2, 3), 5);
  vrl::Ref<TShape> shape(new TShape);
  EXPECT_TRUE(
      ThrowsObject<vrl::TNullMethodException>([&] { shape->Area(); }, "Attempt to call abstract method"));
}

}  // namespace

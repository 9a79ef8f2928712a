#include "tests/support/Thrown.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/Exceptions.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

TEST(ThrownTest, ThrowsObjectChecksTheClassAndTheText) {
  auto outOfRange = [] { vrRuntimeError("List index out of range"); };
  EXPECT_TRUE(ThrowsObject<TRuntimeException>(outOfRange, "List index out of range"));
  EXPECT_TRUE(ThrowsObject<TRuntimeException>(outOfRange));
  EXPECT_TRUE(ThrowsObject(outOfRange)) << "any object by default";

  auto wrongClass = ThrowsObject<TNullObjectException>(outOfRange);
  ASSERT_FALSE(wrongClass);
  EXPECT_STREQ(wrongClass.message(),
               "threw a TRuntimeException (\"List index out of range\"), not a TNullObjectException");
  auto wrongText = ThrowsObject<TRuntimeException>(outOfRange, "List index");
  ASSERT_FALSE(wrongText);
  EXPECT_STREQ(wrongText.message(), "threw \"List index out of range\", not \"List index\"");
  auto nothing = ThrowsObject([] {});
  ASSERT_FALSE(nothing);
  EXPECT_STREQ(nothing.message(), "nothing was thrown");

  // Anything that is not a framework object goes on to the caller.
  EXPECT_THROW((void)ThrowsObject([] { throw 5; }), int);
}

TEST(ThrownTest, ThrowsAndThrownText) {
  auto text = [] { vrThrowText("plain text"); };
  EXPECT_TRUE(Throws<String>(text));
  EXPECT_FALSE(Throws<TRuntimeException>(text));
  EXPECT_FALSE(Throws<Object>([] {}));
  EXPECT_EQ(ThrownText(text), "plain text");
  EXPECT_EQ(ThrownText([] {}), "(nothing thrown)");
}

}  // namespace

#include "runtime/Array.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/support/StackScrub.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

Ref<String> S(const char* text) { return String::FromUtf8(text); }

TEST(ArrayCreate, EmptyAndTwoDimensional) {
  EXPECT_EQ(Array::New("i", {0, 5}).get(), EmptyArray());
  EXPECT_EQ(Array::New(":Object", -1).get(), EmptyArray());
  Ref<Array> grid = Array::New("i", {3, 4});
  EXPECT_EQ(grid->Length(), 12);
  EXPECT_EQ(grid->DimensionCount(), 2);
  EXPECT_EQ(grid->DataSize(), 48);
  EXPECT_EQ(grid->IndexOf({2, 3}), 11);
  EXPECT_EQ(grid->IndexOf({1, 0}), 4);
  EXPECT_THROW(grid->IndexOf({3, 0}), ThrownObject);
  Ref<Array> dims = grid->Dimensions();
  ASSERT_EQ(dims->Length(), 2);
  EXPECT_EQ(dims->Get<int32_t>(0), 3);
  EXPECT_EQ(dims->Get<int32_t>(1), 4);
  EXPECT_EQ(EmptyArray()->Dimensions().get(), EmptyArray());
  for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(grid->Get<int32_t>(i), 0);
}

TEST(ArrayCreate, InitialValuesOfReferenceTags) {
  Ref<Array> strings = Array::New("$", 2);
  Ref<Array> objects = Array::New(":Object", 2);
  Ref<Array> arrays = Array::New("[]i", 2);
  EXPECT_EQ(strings->GetObject(1), EmptyString());
  EXPECT_EQ(objects->GetObject(0), Null());
  EXPECT_EQ(arrays->GetObject(0), EmptyArray());
  Ref<Array> functions = Array::New("()i", 1);
  auto call = reinterpret_cast<void (*)()>(functions->DataAs<void*>()[0]);
  EXPECT_TRUE(ThrowsObject(call, "Attempt to call uninitialized function pointer"));
}

TEST(ArrayAccess, BoundsAreChecked) {
  Ref<Array> a = Array::New("i", 3);
  a->Set<int32_t>(2, 9);
  EXPECT_EQ(a->Get<int32_t>(2), 9);
  EXPECT_TRUE(ThrowsObject<TArrayBoundsException>([&] { a->Get<int32_t>(3); },
                                                  "Attempt to index array element beyond array length"));
  EXPECT_THROW(a->Set<int32_t>(-1, 0), ThrownObject);
  EXPECT_THROW(EmptyArray()->Get<int32_t>(0), ThrownObject);
}

__attribute__((noinline)) void StoreTwiceThenDrop(String* text) {
  uint32_t before = text->RefCount();
  Ref<Array> a = Array::New("$", 2);
  a->SetObject(0, text);
  a->SetObject(1, text);
  EXPECT_EQ(text->RefCount(), before + 2);
  a->SetObject(1, S("other"));
  EXPECT_EQ(text->RefCount(), before + 1);
}

TEST(ArrayAccess, ElementsAreCountedAndReleased) {
  Ref<String> text = S("held");
  GCCollect();
  ASSERT_EQ(text->RefCount(), 1u);
  StoreTwiceThenDrop(text);
  ScrubStack();
  GCCollect();
  EXPECT_EQ(text->RefCount(), 1u) << "freeing the array released its elements";
}

TEST(ArraySort, NumbersStringsAndOrder) {
  int32_t values[] = {5, -3, 9, 0, 5, 1, -8, 7, 2, 2, 6};
  Ref<Array> ints = vrArrayFromInts("i", 11, values);
  ints->Sort(1);
  for (int32_t i = 1; i < 11; ++i) EXPECT_LE(ints->Get<int32_t>(i - 1), ints->Get<int32_t>(i));
  ints->Sort(0);
  for (int32_t i = 1; i < 11; ++i) EXPECT_GE(ints->Get<int32_t>(i - 1), ints->Get<int32_t>(i));

  int32_t bytes[] = {200, 3, 255, 0};
  Ref<Array> unsignedBytes = vrArrayFromInts("b", 4, bytes);
  unsignedBytes->Sort(1);
  EXPECT_EQ(unsignedBytes->Get<uint8_t>(3), 255);

  Ref<Array> words = S("b a B c A")->Split(S(" "));
  words->Sort(1);
  std::string joined = S("")->Join(words)->ToUtf8String();
  EXPECT_EQ(joined, "ABabc") << "upper case sorts before lower case";

  Ref<Array> doubles = Array::New("d", 1000);
  for (int32_t i = 0; i < 1000; ++i) doubles->Set<double>(i, (i * 7919) % 1000);
  doubles->Sort(1);
  for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(doubles->Get<double>(i), i);

  Ref<Array> grid = Array::New("i", {2, 2});
  grid->Set<int32_t>(0, 5);
  grid->Sort(1);
  EXPECT_EQ(grid->Get<int32_t>(0), 5) << "only 1-D arrays are sorted";
}

TEST(ArrayOps, CastSliceConcatFromInts) {
  Ref<Array> objects = Array::New(":TFoo", 1);
  EXPECT_EQ(vrCastArray(objects, ":Object"), objects.get());
  EXPECT_EQ(vrCastArray(objects, "$"), Null());
  EXPECT_EQ(vrCastArray(EmptyArray(), "i"), EmptyArray());
  EXPECT_EQ(vrCastArray(S("x"), "i"), Null());

  int32_t values[] = {1, 2, 3};
  Ref<Array> a = vrArrayFromInts("i", 3, values);
  Ref<Array> slice = vrSliceArray("i", a, -1, 2);
  ASSERT_EQ(slice->Length(), 3);
  EXPECT_EQ(slice->Get<int32_t>(0), 0);
  EXPECT_EQ(slice->Get<int32_t>(1), 1);
  EXPECT_EQ(slice->Get<int32_t>(2), 2);
  EXPECT_EQ(vrSliceArray("i", a, 2, 2).get(), EmptyArray());

  Ref<Array> strings = S("x y")->Split(S(" "));
  Ref<Array> stringSlice = vrSliceArray("$", strings, 1, 3);
  EXPECT_EQ(stringSlice->GetObject(0), strings->GetObject(1));
  EXPECT_EQ(stringSlice->GetObject(1), EmptyString());

  Ref<Array> both = vrConcatArrays("i", a, a);
  ASSERT_EQ(both->Length(), 6);
  EXPECT_EQ(both->Get<int32_t>(3), 1);
  EXPECT_EQ(vrConcatArrays("i", EmptyArray(), EmptyArray()).get(), EmptyArray());

  int32_t shorts[] = {0x12345, -1};
  Ref<Array> s = vrArrayFromInts("s", 2, shorts);
  EXPECT_EQ(s->Get<uint16_t>(0), 0x2345);
  EXPECT_EQ(s->Get<uint16_t>(1), 0xFFFF);
  EXPECT_EQ(vrArrayFromInts("i", 0, values).get(), EmptyArray());
}

}  // namespace

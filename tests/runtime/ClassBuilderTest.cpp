#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/String.h"

using namespace vrl;

namespace {

enum class Shade : int32_t { Light = 1, Dark = 2 };

class TGadget : public Object {
  VRL_CLASS(TGadget, Object)
 public:
  int32_t Fill(void* buf, int32_t count) { return buf ? count : -1; }
  void Measure(int32_t& width, int32_t& height) const {
    width = 3;
    height = 4;
  }
  uint8_t* Bytes() { return _bytes; }
  int32_t Darker(Shade shade) { return static_cast<int32_t>(shade) + 1; }
  int32_t Named(const std::string& name) { return static_cast<int32_t>(name.size()); }
  int32_t Scale(int32_t by) { return _count * by; }

  static int32_t Sum(int32_t a, int32_t b) { return a + b; }
  static Ref<String> Label(int32_t n) { return String::FromInt(n); }
  static void Touch() { ++touched; }
  static int32_t FromBytes(const char* text) { return text ? 1 : 0; }
  static inline int32_t touched = 0;

  int32_t _count = 5;
  uint8_t* _bytes = nullptr;
  bool _ready = false;
  TGadget* _peer = nullptr;
  Ref<Array> _items;
  Ref<String> _title;
};

}  // namespace

const ClassRecord& TGadget::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TGadget>("TGadget", [](auto& d) {
    d.template Field<&TGadget::_count>("_count", "i{unit=items}");
    d.template Field<&TGadget::_bytes>("_bytes");
    d.template Field<&TGadget::_ready>("_ready", "*");
    d.template Field<&TGadget::_peer>("_peer", "*:TGadget");
    d.template Field<&TGadget::_items>("_items", "[]i");
    d.template Field<&TGadget::_title>("_title");
    d.template Method<&TGadget::Fill>("Fill");
    d.template Method<&TGadget::Measure>("Measure");
    d.template Method<&TGadget::Bytes>("Bytes");
    d.template Method<&TGadget::Darker>("Darker");
    d.template Method<&TGadget::Named>("Named");
    d.template Method<&TGadget::Scale>("Scale");
    d.template Function<&TGadget::Sum>("Sum");
    d.template Function<&TGadget::Label>("Label");
    d.template Function<&TGadget::Touch>("Touch");
    d.template Function<&TGadget::FromBytes>("FromBytes");
  });
  return record;
}

namespace {

const Declaration& Find(const std::string& name) {
  for (const Declaration& d : TGadget::StaticClass().Declarations())
    if (d.name == name) return d;
  throw std::runtime_error("no declaration " + name);
}

TEST(ClassBuilder, ClassFunctionsAreKindSevenAndIgnoreTheReceiver) {
  const Declaration& sum = Find("Sum");
  EXPECT_EQ(sum.kind, Declaration::Kind::Function);
  EXPECT_EQ(sum.Tag(), "(i,i)i");
  ASSERT_NE(sum.invoke, nullptr);
  std::vector<Value> args = {Value::FromInt(2), Value::FromInt(40)};
  EXPECT_EQ(sum.invoke(nullptr, args).i, 42);
  // Objects live in the collector's heap: one on the stack would be queued
  // for freeing when an invocation's count on it drops back to 0.
  Ref<TGadget> gadget = New<TGadget>();
  EXPECT_EQ(sum.invoke(gadget, args).i, 42);
  // Too few arguments: nothing is called.
  EXPECT_EQ(sum.invoke(nullptr, std::span<const Value>(args).first(1)).kind, Value::Kind::None);

  const Declaration& label = Find("Label");
  EXPECT_EQ(label.Tag(), "(i)$");
  std::vector<Value> seven = {Value::FromInt(7)};
  Value text = label.invoke(nullptr, seven);
  ASSERT_EQ(text.kind, Value::Kind::Object);
  EXPECT_EQ(CastRaw<String>(text.o.object())->ToNarrow(), "7");

  const Declaration& touch = Find("Touch");
  EXPECT_EQ(touch.Tag(), "()");
  int32_t before = TGadget::touched;
  EXPECT_EQ(touch.invoke(nullptr, {}).kind, Value::Kind::None);
  EXPECT_EQ(TGadget::touched, before + 1);
}

TEST(ClassBuilder, RawMemoryGetsPointerTagsAndNoInvoker) {
  // A buffer argument, out parameters and a returned buffer: described, but
  // no boxed value could stand for the memory, so they cannot be invoked.
  EXPECT_EQ(Find("Fill").Tag(), "(*,i)i");
  EXPECT_EQ(Find("Fill").invoke, nullptr);
  EXPECT_EQ(Find("Measure").Tag(), "(*i,*i)");
  EXPECT_EQ(Find("Measure").invoke, nullptr);
  EXPECT_EQ(Find("Bytes").Tag(), "()*b");
  EXPECT_EQ(Find("Bytes").invoke, nullptr);
  EXPECT_EQ(Find("FromBytes").Tag(), "(*b)i");
  EXPECT_EQ(Find("FromBytes").invoke, nullptr);
  // Any other C++ type is a pointer-like "*" too.
  EXPECT_EQ(Find("Named").Tag(), "(*)i");
  EXPECT_EQ(Find("Named").invoke, nullptr);
  // Fields: a byte pointer by its pointee, the rest as explicitly tagged.
  EXPECT_EQ(Find("_bytes").Tag(), "*b");
  EXPECT_EQ(Find("_ready").Tag(), "*");
  EXPECT_EQ(Find("_peer").Tag(), "*:TGadget");
}

TEST(ClassBuilder, NumbersEnumsAndObjectsStayReflected) {
  EXPECT_EQ(Find("Darker").Tag(), "(i)i");
  std::vector<Value> dark = {Value::FromInt(2)};
  Ref<TGadget> gadget = New<TGadget>();
  EXPECT_EQ(Find("Darker").invoke(gadget, dark).i, 3);
  std::vector<Value> two = {Value::FromInt(2)};
  EXPECT_EQ(Find("Scale").invoke(gadget, two).i, 10);
  EXPECT_EQ(Find("_count").Tag(), "i{unit=items}");
  EXPECT_EQ(Find("_items").Tag(), "[]i");
  EXPECT_EQ(Find("_title").Tag(), "$");
  // The field accessor reaches the member itself.
  *static_cast<int32_t*>(Find("_count").address(gadget)) = 9;
  EXPECT_EQ(gadget->_count, 9);
}

TEST(ClassBuilderDeathTest, ExplicitTagsThatWouldCorruptAFieldAreRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Each block builds a record with one wrong tag; the builder ends the
  // program naming the member.
  EXPECT_DEATH(
      {
        static const ClassRecord r = ClassRecord::Of<TGadget>(
            "TBadBool", [](auto& d) { d.template Field<&TGadget::_ready>("_ready", "i"); });
        (void)r;
      },
      "_ready");
  EXPECT_DEATH(
      {
        static const ClassRecord r = ClassRecord::Of<TGadget>(
            "TBadPeer", [](auto& d) { d.template Field<&TGadget::_peer>("_peer", ":TGadget"); });
        (void)r;
      },
      "_peer");
  EXPECT_DEATH(
      {
        static const ClassRecord r = ClassRecord::Of<TGadget>(
            "TBadCount", [](auto& d) { d.template Field<&TGadget::_count>("_count", "f"); });
        (void)r;
      },
      "_count");
  EXPECT_DEATH(
      {
        static const ClassRecord r = ClassRecord::Of<TGadget>(
            "TBadTitle", [](auto& d) { d.template Field<&TGadget::_title>("_title", "i"); });
        (void)r;
      },
      "_title");
  EXPECT_DEATH(
      {
        static const ClassRecord r = ClassRecord::Of<TGadget>(
            "TBadItems", [](auto& d) { d.template Field<&TGadget::_items>("_items", ":TGadget"); });
        (void)r;
      },
      "_items");
}

}  // namespace

#include "script/Reflection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "containers/List.h"
#include "pixmap/Pixmap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "script/OrderedMap.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

int32_t AddOne(int32_t x) { return x + 1; }

// A class with members of every reflected kind, and some that are not.
class TSpecimen : public Object {
  VRL_CLASS(TSpecimen, Object)
  uint8_t _byte = 0;
  uint16_t _short = 0;
  int32_t _count = 0;
  int64_t _long = 0;
  float _float = 0;
  double _double = 0;
  Ref<String> _label;
  Ref<TList> _list;
  Ref<Array> _ints;
  Ref<Array> _lists;
  uint8_t* _raw = nullptr;
  int32_t (*_callback)(int32_t) = &AddOne;

  int32_t Add(int32_t a, int32_t b) { return a + b; }
  double SumOfThree(double a, double b, double c) { return a + b + c; }
  double SumOfFive(double a, double b, double c, double d, double e) { return a + b + c + d + e; }
  float Half(float x) { return x / 2; }
  double Mix(double a, double b, double c, int32_t n) { return (a + b + c) * n; }
  double MixMore(double a, double b, double c, int32_t n, int32_t m) { return (a + b + c) * n * m; }
  int32_t LowOf(int64_t v) { return static_cast<int32_t>(v); }
  int64_t Big() { return int64_t(1) << 40; }
  Ref<String> Label() { return _label; }
  int32_t CountOf(TList* list) { return list ? list->Count() : -1; }
  void Reset() { _count = 0; }
  int32_t ByPointer(int32_t) { return 0; }
  virtual int32_t Kind() { return 1; }
};

class TSpecimenChild : public TSpecimen {
  VRL_CLASS(TSpecimenChild, TSpecimen)
  int32_t Kind() override { return 2; }
  int32_t _extra = 0;
};

class TUnrelated : public Object {
  VRL_CLASS(TUnrelated, Object)
};

// Registered only by the test of late discovery.
class TLateComer : public Object {
  VRL_CLASS(TLateComer, Object)
};

}  // namespace

const ClassRecord& TSpecimen::StaticClass() {
  static const ClassRecord record =
      ClassRecord::Of<TSpecimen>("TSpecimen{role=\"test class\" n=2}", [](auto& d) {
        d.template Field<&TSpecimen::_byte>("_byte");
        d.template Field<&TSpecimen::_short>("_short");
        d.template Field<&TSpecimen::_count>("_count", "i{label=count unit=\"items each\"}");
        d.template Field<&TSpecimen::_long>("_long");
        d.template Field<&TSpecimen::_float>("_float");
        d.template Field<&TSpecimen::_double>("_double");
        d.template Field<&TSpecimen::_label>("_label");
        d.template Field<&TSpecimen::_list>("_list");
        d.template Field<&TSpecimen::_ints>("_ints", "[]i");
        d.template Field<&TSpecimen::_lists>("_lists", "[]:TList");
        d.template Field<&TSpecimen::_raw>("_raw", "*b");
        d.template Field<&TSpecimen::_callback>("_callback", "(i)i");
        d.template Method<&TSpecimen::Add>("Add");
        d.template Method<&TSpecimen::SumOfThree>("SumOfThree");
        d.template Method<&TSpecimen::SumOfFive>("SumOfFive");
        d.template Method<&TSpecimen::Half>("Half");
        d.template Method<&TSpecimen::Mix>("Mix");
        d.template Method<&TSpecimen::MixMore>("MixMore");
        d.template Method<&TSpecimen::LowOf>("LowOf");
        d.template Method<&TSpecimen::Big>("Big");
        d.template Method<&TSpecimen::Label>("Label");
        d.template Method<&TSpecimen::CountOf>("CountOf");
        d.template Method<&TSpecimen::Reset>("Reset");
        d.template Method<&TSpecimen::ByPointer>("ByPointer", "(*b)i");
        d.template Method<&TSpecimen::Kind>("Kind");
      });
  return record;
}

const ClassRecord& TSpecimenChild::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TSpecimenChild>(
      "TSpecimenChild", [](auto& d) { d.template Field<&TSpecimenChild::_extra>("_extra"); });
  return record;
}

VRL_CLASS_RECORD(TUnrelated, "TUnrelated")
VRL_CLASS_RECORD(TLateComer, "TLateComer")

namespace {

Ref<String> S(const char* text) { return String::FromNarrow(text); }
std::string Text(Object* o) {
  String* s = CastRaw<String>(o);
  return s ? s->ToNarrow() : "(not a string)";
}
std::string Text(const Ref<Object>& o) { return Text(o.object()); }

Ref<Array> Args(std::initializer_list<Object*> values) {
  Ref<Array> args = Array::New(":Object", static_cast<int32_t>(values.size()));
  int32_t i = 0;
  for (Object* v : values) args->SetObject(i++, v);
  return args;
}

std::vector<std::string> Names(TList* members) {
  std::vector<std::string> out;
  for (TMember* m : ListOf<TMember>(members)) out.push_back(m->Name()->ToNarrow());
  return out;
}

class ReflectionTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    reflection::Init();
    pixmap::Init();
    static bool registered = false;
    if (!registered) {
      registered = true;
      vrRegisterClass(TSpecimen::StaticClass());
      vrRegisterClass(TSpecimenChild::StaticClass());
      vrRegisterClass(TUnrelated::StaticClass());
    }
  }
  TTypeId* Specimen() { return TTypeId::ForName(S("TSpecimen")).get(); }
};

TEST_F(ReflectionTest, BuiltInTypesComeInTheirOrderWithSizesAndBases) {
  std::vector<TTypeId*> builtins{ByteTypeId(),   ShortTypeId(),  IntTypeId(),    LongTypeId(), FloatTypeId(),
                                 DoubleTypeId(), ObjectTypeId(), StringTypeId(), ArrayTypeId()};
  std::vector<std::string> names;
  std::vector<int32_t> sizes;
  for (TTypeId* t : builtins) {
    names.push_back(t->Name()->ToNarrow());
    sizes.push_back(t->Size());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Byte", "Short", "Int", "Long", "Float", "Double", "Object",
                                             "String", "Null[]"}));
  EXPECT_EQ(sizes, (std::vector<int32_t>{1, 2, 4, 8, 4, 8, 4, 4, 4}));
  EXPECT_TRUE(IntTypeId()->SuperType().IsNull());
  EXPECT_TRUE(ObjectTypeId()->SuperType().IsNull());
  EXPECT_EQ(StringTypeId()->SuperType().get(), ObjectTypeId());
  EXPECT_EQ(ArrayTypeId()->SuperType().get(), ObjectTypeId());
  // Discovery keeps one type id per class: the built-ins stand for theirs.
  EXPECT_EQ(TTypeId::ForName(S("object")).get(), ObjectTypeId());
  EXPECT_EQ(TTypeId::ForObject(S("text")).get(), StringTypeId());
  EXPECT_EQ(TTypeId::ForObject(EmptyArray()).get(), ArrayTypeId());
  EXPECT_EQ(TTypeId::ForName(S("Null[]")).get(), ArrayTypeId());
  Ref<TList> all = TTypeId::EnumTypes();
  for (TTypeId* t : builtins) EXPECT_EQ(all->Contains(t), 1) << t->Name()->ToNarrow();
  EXPECT_EQ(all->Contains(Specimen()), 1);
}

TEST_F(ReflectionTest, ForNameIgnoresCaseAndBuildsArrayTypes) {
  Ref<TList> list = CreateList();
  Ref<TTypeId> byObject = TTypeId::ForObject(list);
  ASSERT_FALSE(byObject.IsNull());
  EXPECT_EQ(TTypeId::ForName(S("tlist")).get(), byObject.get());
  EXPECT_EQ(TTypeId::ForName(S("TLIST")).get(), byObject.get());
  EXPECT_TRUE(TTypeId::ForName(S("NoSuchType")).IsNull());
  EXPECT_TRUE(TTypeId::ForName(S("NoSuchType[]")).IsNull());
  EXPECT_TRUE(TTypeId::ForObject(Null()).IsNull());

  Ref<TTypeId> ints = TTypeId::ForName(S("Int[]"));
  ASSERT_FALSE(ints.IsNull());
  EXPECT_EQ(ints->ElementType().get(), IntTypeId());
  EXPECT_EQ(ints->Name()->ToNarrow(), "Int[]");
  EXPECT_EQ(ints->SuperType().get(), ArrayTypeId());
  // An array of a class extends the array of its base.
  Ref<TTypeId> lists = TTypeId::ForName(S("tlist[]"));
  EXPECT_EQ(lists->Name()->ToNarrow(), "TList[]");
  EXPECT_EQ(lists->SuperType()->Name()->ToNarrow(), "Object[]");
  EXPECT_EQ(lists->SuperType()->SuperType().get(), ArrayTypeId());
  EXPECT_EQ(lists->ExtendsType(ObjectTypeId()), 1);
  EXPECT_EQ(TTypeId::ForName(S("Int[][]"))->ElementType().get(), ints.get());

  Ref<Array> numbers = Array::New("d", {2, 3});
  EXPECT_EQ(TTypeId::ForObject(numbers)->ElementType().get(), DoubleTypeId());
  EXPECT_EQ(TTypeId::ForObject(numbers)->Name()->ToNarrow(), "Double[]");
  EXPECT_TRUE(TTypeId::ForObject(Array::New("*b", 2)).IsNull());
}

TEST_F(ReflectionTest, TagsAndTypeIdsConvertBothWays) {
  EXPECT_EQ(TypeTagForId(StringTypeId()), ":String");
  EXPECT_EQ(TypeTagForId(IntTypeId()), "i");
  EXPECT_EQ(TypeTagForId(DoubleTypeId()), "d");
  EXPECT_EQ(TypeTagForId(TTypeId::ForName(S("TList"))), ":TList");
  EXPECT_EQ(TypeTagForId(TTypeId::ForName(S("Byte[]"))), "[]b");
  Ref<TTypeId> bare = New<TTypeId>()->Init(S("Bare"), 4, nullptr, nullptr);
  EXPECT_TRUE(ThrowsObject<String>([&] { TypeTagForId(bare); }, "ERROR"));

  EXPECT_EQ(TypeIdForTag("l").get(), LongTypeId());
  EXPECT_EQ(TypeIdForTag("$").get(), StringTypeId());
  EXPECT_EQ(TypeIdForTag(":vrl.containers.TList").get(), TTypeId::ForName(S("TList")).get());
  EXPECT_TRUE(TypeIdForTag("*b").IsNull());
  EXPECT_TRUE(TypeIdForTag("(i)i").IsNull());
  EXPECT_TRUE(TypeIdForTag("ii").IsNull());
  EXPECT_TRUE(TypeIdForTag("[]*b").IsNull());
  EXPECT_EQ(TypeIdForTag("[,,]f")->Name()->ToNarrow(), "Float[,,]");
  // An array of two-dimensional arrays is itself one-dimensional.
  Ref<TTypeId> nested = TypeIdForTag("[][,]i");
  EXPECT_EQ(nested->Name()->ToNarrow(), "Int[,][]");

  // Each array tag makes a fresh array type; the cache keeps the last one.
  Ref<TTypeId> first = TypeIdForTag("[]s");
  Ref<TTypeId> second = TypeIdForTag("[]s");
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(ShortTypeId()->ArrayType(1).get(), second.get());
  EXPECT_EQ(TTypeId::ForName(S("Short[]")).get(), second.get());
  // Another number of dimensions makes its own type, never a wrong name.
  EXPECT_EQ(ShortTypeId()->ArrayType(3)->Name()->ToNarrow(), "Short[,,]");
  Ref<TTypeId> again = TTypeId::ForName(S("Short[]"));
  EXPECT_EQ(again->Name()->ToNarrow(), "Short[]");
  EXPECT_EQ(again->ElementType().get(), ShortTypeId());
}

// The array types a tag makes are released with the next one: converting
// tags over and over does not keep them all.
TEST_F(ReflectionTest, ArrayTagsLeaveNoTypesBehind) {
  auto convert = [] {
    for (int i = 0; i < 200; ++i) {
      TypeIdForTag("[][][][][][][][]i");
      TypeIdForTag("[][,][]:TList");
    }
  };
  convert();
  GCCollect();
  const std::size_t before = GCMemAlloced();
  convert();
  GCCollect();
  EXPECT_LT(GCMemAlloced(), before + 16384) << "from " << before;
}

TEST_F(ReflectionTest, FieldsSkipPointersAndFunctionsAndKeepTheirMetadata) {
  TTypeId* type = Specimen();
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(Names(type->Fields()),
            (std::vector<std::string>{"_byte", "_short", "_count", "_long", "_float", "_double", "_label",
                                      "_list", "_ints", "_lists"}));
  EXPECT_EQ(type->Name()->ToNarrow(), "TSpecimen");
  EXPECT_EQ(type->MetaData(S("role"))->ToNarrow(), "test class");
  EXPECT_EQ(type->MetaData(S("n"))->ToNarrow(), "2");
  Ref<TField> count = type->FindField(S("_COUNT"));
  ASSERT_FALSE(count.IsNull());
  EXPECT_EQ(count->TypeId().get(), IntTypeId());
  EXPECT_EQ(count->MetaData(S("label"))->ToNarrow(), "count");
  EXPECT_EQ(count->MetaData(S("unit"))->ToNarrow(), "items each");
  EXPECT_EQ(count->MetaData(S(""))->ToNarrow(), "label=count unit=\"items each\"");
  EXPECT_EQ(type->FindField(S("_ints"))->TypeId()->ElementType().get(), IntTypeId());
  EXPECT_EQ(type->FindField(S("_list"))->TypeId().get(), TTypeId::ForName(S("TList")).get());
  EXPECT_TRUE(type->FindField(S("_raw")).IsNull());
  EXPECT_TRUE(type->FindField(S("_callback")).IsNull());
}

TEST_F(ReflectionTest, MethodsSkipPointerArgumentsAndInheritInOrder) {
  TTypeId* type = Specimen();
  EXPECT_EQ(Names(type->Methods()),
            (std::vector<std::string>{"Add", "SumOfThree", "SumOfFive", "Half", "Mix", "MixMore", "LowOf",
                                      "Big", "Label", "CountOf", "Reset", "Kind"}));
  Ref<TTypeId> child = TTypeId::ForName(S("TSpecimenChild"));
  EXPECT_EQ(child->SuperType().get(), type);
  EXPECT_EQ(type->DerivedTypes()->Contains(child), 1);
  EXPECT_EQ(child->ExtendsType(type), 1);
  EXPECT_EQ(type->ExtendsType(child), 0);
  std::vector<std::string> fields = Names(child->EnumFields(nullptr));
  ASSERT_EQ(fields.size(), 11u);
  EXPECT_EQ(fields.front(), "_byte");
  EXPECT_EQ(fields.back(), "_extra");
  EXPECT_EQ(child->EnumMethods(nullptr)->Count(), 12);
  EXPECT_FALSE(child->FindMethod(S("add")).IsNull()) << "found in the base";
  Ref<TMethod> add = type->FindMethod(S("Add"));
  ASSERT_EQ(add->ArgTypes()->Length(), 2);
  EXPECT_EQ(add->ArgTypes()->GetObject(0), IntTypeId());
}

TEST_F(ReflectionTest, FieldsReadAndWriteThroughStrings) {
  Ref<TSpecimen> obj = New<TSpecimen>();
  TTypeId* type = Specimen();
  auto field = [&](const char* name) { return type->FindField(S(name)); };

  field("_byte")->Set(obj, S("300"));
  EXPECT_EQ(obj->_byte, 44);
  EXPECT_EQ(Text(field("_byte")->Get(obj)), "44");
  field("_short")->SetInt(obj, -1);
  EXPECT_EQ(Text(field("_short")->Get(obj)), "65535") << "shorts are zero-extended";
  field("_count")->SetString(obj, S("  42 apples"));
  EXPECT_EQ(obj->_count, 42);
  EXPECT_EQ(field("_count")->GetInt(obj), 42);
  field("_long")->SetLong(obj, int64_t(1) << 40);
  EXPECT_EQ(Text(field("_long")->Get(obj)), "1099511627776");
  EXPECT_EQ(field("_long")->GetLong(obj), int64_t(1) << 40);
  field("_float")->SetFloat(obj, 0.1f);
  EXPECT_EQ(Text(field("_float")->Get(obj)), "0.100000001");
  field("_double")->SetDouble(obj, 2.5);
  EXPECT_EQ(obj->_double, 2.5);
  EXPECT_EQ(field("_double")->GetDouble(obj), 2.5);

  field("_label")->Set(obj, S("hello"));
  EXPECT_EQ(obj->_label->ToNarrow(), "hello");
  field("_label")->Set(obj, Null());
  EXPECT_EQ(obj->_label.object(), EmptyString()) << "a Null string is stored empty";
  EXPECT_EQ(field("_list")->GetString(obj)->Length(), 0) << "objects are no strings";

  Ref<TList> list = CreateList();
  field("_list")->Set(obj, list);
  EXPECT_EQ(obj->_list.get(), list.get());
  EXPECT_EQ(field("_list")->Get(obj).object(), list.object());
  EXPECT_TRUE(ThrowsObject<String>([&] { field("_list")->Set(obj, New<TUnrelated>()); }, "ERROR"));
  EXPECT_TRUE(ThrowsObject<String>([&] { field("_list")->Set(obj, S("text")); }, "ERROR"));
  EXPECT_EQ(obj->_list.get(), list.get());
  field("_list")->Set(obj, Null());
  EXPECT_TRUE(obj->_list.IsNull());

  Ref<Array> ints = Array::New("i", 3);
  field("_ints")->Set(obj, ints);
  EXPECT_EQ(obj->_ints.get(), ints.get());
  EXPECT_TRUE(ThrowsObject<String>([&] { field("_ints")->Set(obj, Array::New("f", 3)); }, "ERROR"));
  // Object arrays go only where their class fits.
  field("_lists")->Set(obj, Array::New(":TList", 2));
  EXPECT_STREQ(obj->_lists->Tag(), ":TList");
  EXPECT_TRUE(
      ThrowsObject<String>([&] { field("_lists")->Set(obj, Array::New(":TUnrelated", 2)); }, "ERROR"));
  EXPECT_TRUE(ThrowsObject<String>([&] { field("_lists")->Set(obj, Array::New(":Object", 2)); }, "ERROR"));
  Ref<TTypeId> objects = ObjectTypeId()->ArrayType(1);
  objects->SetArrayElement(obj->_lists, 0, CreateList());
  EXPECT_TRUE(
      ThrowsObject<String>([&] { objects->SetArrayElement(obj->_lists, 1, New<TUnrelated>()); }, "ERROR"))
      << "an Object[] view of a TList array takes lists only";

  // A field of a class on an object of another class.
  EXPECT_TRUE(ThrowsObject<String>([&] { field("_count")->Get(New<TUnrelated>()); }, "ERROR"));
  EXPECT_TRUE(Throws<TNullObjectException>([&] { field("_count")->Get(Null()); }));
  // Fields of a base work on instances of a derived class.
  Ref<TSpecimenChild> child = New<TSpecimenChild>();
  TTypeId::ForObject(child)->FindField(S("_count"))->SetInt(child, 7);
  EXPECT_EQ(child->_count, 7);
}

TEST_F(ReflectionTest, MetaDataEntriesAreParsedAndMalformedTextThrows) {
  Ref<String> meta = S("a=1 b=\"x y\"");
  EXPECT_EQ(MetaDataValue(meta, S("a"))->ToNarrow(), "1");
  EXPECT_EQ(MetaDataValue(meta, S("b"))->ToNarrow(), "x y");
  EXPECT_EQ(MetaDataValue(meta, S("c"))->Length(), 0);
  EXPECT_EQ(MetaDataValue(meta, S(""))->ToNarrow(), "a=1 b=\"x y\"");
  EXPECT_EQ(MetaDataValue(S("k=\"\" z=9"), S("z"))->ToNarrow(), "9");
  EXPECT_TRUE(ThrowsObject<String>([] { MetaDataValue(S("noequals"), S("a")); }, "Malformed meta data"));
  EXPECT_TRUE(ThrowsObject<String>([] { MetaDataValue(S("a=\"open"), S("a")); }, "Malformed meta data"));
  EXPECT_EQ(MetaDataValue(S("a=1 junk"), S("a"))->ToNarrow(), "1") << "a match ends the scan";
  EXPECT_TRUE(ThrowsObject<String>([] { MetaDataValue(S("a=1 junk"), S("b")); }, "Malformed meta data"));
  EXPECT_EQ(MetaDataValue(EmptyString(), S("a"))->Length(), 0);
}

TEST_F(ReflectionTest, InvokeCountsWordsAndBoxesResults) {
  Ref<TSpecimen> obj = New<TSpecimen>();
  TTypeId* type = Specimen();
  auto method = [&](const char* name) { return type->FindMethod(S(name)); };

  EXPECT_EQ(Text(method("Add")->Invoke(obj, Args({S("40"), S("2")}))), "42");
  EXPECT_EQ(Text(method("SumOfThree")->Invoke(obj, Args({S("1.5"), S("2"), S("3")}))), "6.5000000000000000");
  EXPECT_TRUE(ThrowsObject<String>(
      [&] {
        method("SumOfFive")->Invoke(obj, Args({S("1"), S("2"), S("3"), S("4"), S("5")}));
      },
      "ERROR"))
      << "five doubles and the object are eleven words";
  EXPECT_EQ(Text(method("Half")->Invoke(obj, Args({S("0.2")}))), "0.100000001");
  // Eight words in all are allowed, nine are not; a long argument is two.
  EXPECT_EQ(Text(method("Mix")->Invoke(obj, Args({S("1"), S("2"), S("3"), S("2")}))), "12.000000000000000");
  EXPECT_TRUE(ThrowsObject<String>(
      [&] {
        method("MixMore")->Invoke(obj, Args({S("1"), S("2"), S("3"), S("2"), S("1")}));
      },
      "ERROR"));
  EXPECT_EQ(Text(method("LowOf")->Invoke(obj, Args({S("1099511627781")}))), "5");
  EXPECT_TRUE(ThrowsObject<String>([&] { method("Big")->Invoke(obj, nullptr); }, "TODO"));
  obj->_label = S("tag");
  EXPECT_EQ(method("Label")->Invoke(obj, nullptr).object(), obj->_label.object());
  obj->_count = 9;
  EXPECT_EQ(Text(method("Reset")->Invoke(obj, nullptr)), "0");
  EXPECT_EQ(obj->_count, 0);

  Ref<TList> list = CreateList();
  list->AddLast(S("x"));
  EXPECT_EQ(Text(method("CountOf")->Invoke(obj, Args({list}))), "1");
  EXPECT_EQ(Text(method("CountOf")->Invoke(obj, Args({}))), "-1") << "a missing argument is Null";
  EXPECT_TRUE(
      ThrowsObject<String>([&] { method("CountOf")->Invoke(obj, Args({New<TUnrelated>()})); }, "ERROR"));
  EXPECT_TRUE(ThrowsObject<String>(
      [&] {
        method("Add")->Invoke(New<TUnrelated>(), Args({S("1"), S("2")}));
      },
      "ERROR"));
  EXPECT_TRUE(Throws<TNullObjectException>([&] { method("Add")->Invoke(Null(), Args({S("1"), S("2")})); }));
  EXPECT_TRUE(ThrowsObject<String>([&] { method("Add")->Invoke(obj, Array::New("i", 2)); }, "ERROR"));

  // The call reaches the override of the object's class.
  EXPECT_EQ(Text(method("Kind")->Invoke(obj, nullptr)), "1");
  EXPECT_EQ(Text(method("Kind")->Invoke(New<TSpecimenChild>(), nullptr)), "2");

  // A method that its class does not describe at that position has no code.
  Ref<TMethod> stray = New<TMethod>()->Init(S("Stray"), IntTypeId(), S(""), type, 0, EmptyArray());
  EXPECT_TRUE(Throws<TNullFunctionException>([&] { stray->Invoke(obj, nullptr); }));
}

TEST_F(ReflectionTest, NewObjectAndArrays) {
  Ref<Object> made = TTypeId::ForName(S("TSpecimen"))->NewObject();
  EXPECT_NE(CastRaw<TSpecimen>(made.object()), nullptr);
  EXPECT_TRUE(ThrowsObject<String>([] { IntTypeId()->NewObject(); }, "Unable to create new object"));
  EXPECT_TRUE(ThrowsObject<String>([] { StringTypeId()->NewObject(); }, "Unable to create new object"));

  EXPECT_TRUE(ThrowsObject<String>([] { IntTypeId()->NewArray(3, nullptr); }, "TypeID is not an array type"));
  EXPECT_TRUE(
      ThrowsObject<String>([] { IntTypeId()->ArrayLength(EmptyArray(), 0); }, "TypeID is not an array type"));
  Ref<TTypeId> ints = IntTypeId()->ArrayType(1);
  Ref<Array> a = ints->NewArray(4, nullptr);
  EXPECT_STREQ(a->Tag(), "i");
  EXPECT_EQ(ints->ArrayLength(a, 0), 4);
  EXPECT_EQ(ints->ArrayDimensions(a), 1);
  ints->SetArrayElement(a, 2, S("17"));
  EXPECT_EQ(a->Get<int32_t>(2), 17);
  EXPECT_EQ(Text(ints->GetArrayElement(a, 2)), "17");
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { ints->GetArrayElement(a, 4); }));
  EXPECT_TRUE(ThrowsObject<String>([&] { ints->GetArrayElement(Array::New("d", 4), 0); }, "ERROR"))
      << "an array of another element type";

  // Arrays inherit the methods of the array class.
  ints->SetArrayElement(a, 0, S("9"));
  ints->FindMethod(S("sort"))->Invoke(a, Args({S("1")}));
  EXPECT_EQ(a->Get<int32_t>(0), 0);
  EXPECT_EQ(a->Get<int32_t>(3), 17);
  Ref<Object> sizes = ints->FindMethod(S("Dimensions"))->Invoke(a, nullptr);
  EXPECT_EQ(CastRaw<Array>(sizes.object())->Get<int32_t>(0), 4);

  Ref<Array> dims = Array::New("i", 2);
  dims->Set<int32_t>(0, 3);
  dims->Set<int32_t>(1, 5);
  Ref<Array> grid = DoubleTypeId()->ArrayType(2)->NewArray(0, dims);
  EXPECT_EQ(grid->DimensionCount(), 2);
  EXPECT_EQ(DoubleTypeId()->ArrayType(2)->ArrayLength(grid, 1), 5);
  EXPECT_EQ(DoubleTypeId()->ArrayType(2)->ArrayLength(grid, 0), 3);
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { DoubleTypeId()->ArrayType(1)->ArrayLength(grid, 2); }));

  // Arrays of strings made here have object elements of class String.
  Ref<TTypeId> strings = StringTypeId()->ArrayType(1);
  Ref<Array> words = strings->NewArray(2, nullptr);
  EXPECT_STREQ(words->Tag(), ":String");
  strings->SetArrayElement(words, 0, Null());
  EXPECT_EQ(words->GetObject(0), EmptyString());
  EXPECT_TRUE(ThrowsObject<String>([&] { strings->SetArrayElement(words, 1, CreateList()); }, "ERROR"));
  Ref<Array> split = S("a b")->Split(S(" "));
  EXPECT_EQ(Text(strings->GetArrayElement(split, 1)), "b") << "\"$\" arrays read as strings";
}

TEST_F(ReflectionTest, FrameworkClassesAreDrivenByName) {
  Ref<TList> list = CreateList();
  Ref<TTypeId> lists = TTypeId::ForObject(list);
  ASSERT_FALSE(lists.IsNull());
  lists->FindMethod(S("addlast"))->Invoke(list, Args({S("b")}));
  lists->FindMethod(S("AddFirst"))->Invoke(list, Args({S("a")}));
  EXPECT_EQ(Text(lists->FindMethod(S("Count"))->Invoke(list, nullptr)), "2");
  EXPECT_EQ(Text(lists->FindMethod(S("First"))->Invoke(list, nullptr)), "a");
  EXPECT_EQ(lists->FindField(S("_head"))->TypeId()->Name()->ToNarrow(), "TLink");
  EXPECT_EQ(
      Text(TTypeId::ForName(S("String"))->FindMethod(S("Find"))->Invoke(S("hello"), Args({S("l"), S("0")}))),
      "2");

  Ref<TPixmap> pixmap = TPixmap::Create(3, 2, PIXFMT_RGBA32);
  Ref<TTypeId> pixmaps = TTypeId::ForObject(pixmap);
  ASSERT_FALSE(pixmaps.IsNull());
  EXPECT_EQ(pixmaps->FindField(S("width"))->GetInt(pixmap), 3);
  EXPECT_EQ(pixmaps->FindField(S("height"))->GetInt(pixmap), 2);
  pixmaps->FindMethod(S("ClearPixels"))->Invoke(pixmap, Args({S("0")}));
  pixmaps->FindMethod(S("WritePixel"))
      ->Invoke(pixmap, Args({S("2"), S("1"), String::FromInt(int32_t(0xff102030))}));
  EXPECT_EQ(Text(pixmaps->FindMethod(S("ReadPixel"))->Invoke(pixmap, Args({S("2"), S("1")}))),
            std::to_string(int32_t(0xff102030)));
  EXPECT_EQ(Text(pixmaps->FindMethod(S("ReadPixel"))->Invoke(pixmap, Args({S("0"), S("0")}))), "0");
  Ref<Object> window =
      pixmaps->FindMethod(S("Window"))->Invoke(pixmap, Args({S("1"), S("0"), S("2"), S("2")}));
  EXPECT_EQ(pixmaps->FindField(S("width"))->GetInt(window), 2);

  // The map's own classes are reflected too.
  Ref<TTypeId> nodes = TTypeId::ForName(S("TNode"));
  EXPECT_EQ(Names(nodes->EnumFields(nullptr)),
            (std::vector<std::string>{"_key", "_value", "_color", "_parent", "_left", "_right"}));
  EXPECT_EQ(nodes->SuperType()->Name()->ToNarrow(), "TKeyValue");
  // Declarations other than fields and methods (the map's constants) are
  // not members.
  Ref<TTypeId> maps = TTypeId::ForName(S("TMap"));
  EXPECT_EQ(Names(maps->Fields()), (std::vector<std::string>{"_root"}));
  EXPECT_TRUE(maps->FindField(S("RED")).IsNull());
  EXPECT_EQ(maps->Methods()->Count(), 18);
}

TEST_F(ReflectionTest, EveryRegisteredClassResolvesToTypedMembers) {
  int32_t classes = 0;
  Ref<TList> types = TTypeId::EnumTypes();  // held: a loop over a temporary list could see it freed
  for (TTypeId* type : ListOf<TTypeId>(types)) {
    if (!type->Record()) continue;
    ++classes;
    ASSERT_FALSE(type->Fields().IsNull()) << type->Name()->ToNarrow();
    ASSERT_FALSE(type->Methods().IsNull()) << type->Name()->ToNarrow();
    Ref<TList> fields = type->EnumFields(nullptr);
    for (TMember* member : ListOf<TMember>(fields))
      EXPECT_FALSE(member->TypeId().IsNull())
          << type->Name()->ToNarrow() << "." << member->Name()->ToNarrow();
    Ref<TList> methods = type->EnumMethods(nullptr);
    for (TMethod* method : ListOf<TMethod>(methods)) {
      EXPECT_FALSE(method->TypeId().IsNull()) << method->Name()->ToNarrow();
      for (int32_t i = 0; i < method->ArgTypes()->Length(); ++i)
        EXPECT_NE(CastRaw<TTypeId>(method->ArgTypes()->GetObject(i)), nullptr) << method->Name()->ToNarrow();
    }
  }
  // Every class is listed once (each has a name of its own here).
  std::set<const ClassRecord*> records(RegisteredClasses().begin(), RegisteredClasses().end());
  EXPECT_EQ(classes, static_cast<int32_t>(records.size()));
}

TEST_F(ReflectionTest, ClassesRegisteredLaterAreFoundByTheNextLookUp) {
  const auto& classes = RegisteredClasses();
  bool registered = std::find(classes.begin(), classes.end(), &TLateComer::StaticClass()) != classes.end();
  if (!registered) {
    EXPECT_TRUE(TTypeId::ForName(S("TLateComer")).IsNull());
    vrRegisterClass(TLateComer::StaticClass());
  }
  Ref<TTypeId> late = TTypeId::ForName(S("TLateComer"));
  ASSERT_FALSE(late.IsNull());
  EXPECT_EQ(TTypeId::ForObject(New<TLateComer>()).get(), late.get());
  EXPECT_EQ(late->SuperType().get(), ObjectTypeId());
  // A class registered twice keeps its one type id.
  vrRegisterClass(TLateComer::StaticClass());
  EXPECT_EQ(TTypeId::ForName(S("TLateComer")).get(), late.get());
}

TEST_F(ReflectionTest, ClassKeysOrderByRecordAddress) {
  Ref<TClass> a = New<TClass>()->SetClass(&TList::StaticClass());
  Ref<TClass> b = New<TClass>()->SetClass(&TList::StaticClass());
  Ref<TClass> c = New<TClass>()->SetClass(&TLink::StaticClass());
  EXPECT_EQ(a->Compare(b), 0);
  EXPECT_EQ(a->Compare(c) < 0, &TList::StaticClass() < &TLink::StaticClass());
  EXPECT_EQ(a->Compare(c), -c->Compare(a));
  EXPECT_EQ(TTypeId::ForName(S("TClass"))->FindField(S("_class")).IsNull(), true) << "a record address";
}

}  // namespace

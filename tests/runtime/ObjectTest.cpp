#include "runtime/Object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/Array.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/String.h"
#include "tests/support/StackScrub.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

std::vector<std::string>* gLog = nullptr;

// An object that logs its destruction, and a field that holds another one.
class TLogged : public Object {
  VRL_CLASS(TLogged, Object)
  explicit TLogged(std::string text = "") : name(std::move(text)) {}
  ~TLogged() override {
    if (gLog) gLog->push_back("~" + name);
  }
  int32_t Twice(int32_t v) { return 2 * v; }
  std::string name;
  Ref<TLogged> next;
  int32_t count = 0;
  double ratio = 0;
};

class TLoggedChild : public TLogged {
  VRL_CLASS(TLoggedChild, TLogged)
  using TLogged::TLogged;
};

}  // namespace

const ClassRecord& TLogged::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLogged>("TLogged{doc=\"a logger\"}", [](auto& d) {
    d.template Field<&TLogged::next>("next");
    d.template Field<&TLogged::count>("count");
    d.template Field<&TLogged::ratio>("ratio");
    d.template Method<&TLogged::Twice>("Twice");
  });
  return record;
}
VRL_CLASS_RECORD(TLoggedChild, "TLoggedChild")

namespace {

class ObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    // Stale copies of pointers that earlier tests left below this frame
    // would keep their objects into this test.
    ScrubStack();
    GCCollect();
    gLog = &log;
  }
  void TearDown() override {
    GCCollect();
    gLog = nullptr;
  }
  std::vector<std::string> log;
};

TEST_F(ObjectTest, NewObjectStartsQueuedWithNoStores) {
  auto* raw = new TLogged("a");
  EXPECT_EQ(raw->RefCount(), kQueuedMark);
  Ref<TLogged> held(raw);
  EXPECT_EQ(raw->RefCount(), kQueuedMark + 1);
}

TEST_F(ObjectTest, StoreIncrementsNewBeforeReleasingOld) {
  Ref<TLogged> a = New<TLogged>("a");
  Ref<TLogged> b = New<TLogged>("b");
  Ref<TLogged> field = a;
  uint32_t aBefore = a->RefCount(), bBefore = b->RefCount();
  field = b;
  EXPECT_EQ(a->RefCount(), aBefore - 1);
  EXPECT_EQ(b->RefCount(), bBefore + 1);
}

// Moves used to copy: a count up and one down for every moved reference
// (vectors growing, results returned), and the source kept its object.
TEST_F(ObjectTest, MovesTakeTheCountAndLeaveTheVacantValue) {
  Ref<TLogged> a = New<TLogged>("a");
  const uint32_t count = a->RefCount();
  TLogged* raw = a.get();

  Ref<TLogged> b(std::move(a));
  EXPECT_EQ(raw->RefCount(), count) << "construction moves the count";
  EXPECT_TRUE(a.IsNull());  // NOLINT(bugprone-use-after-move): the moved-from value is the point
  EXPECT_EQ(b.get(), raw);

  Ref<TLogged> c = New<TLogged>("c");
  TLogged* old = c.get();
  const uint32_t oldCount = old->RefCount();
  c = std::move(b);
  EXPECT_EQ(raw->RefCount(), count) << "assignment moves the count";
  EXPECT_EQ(old->RefCount(), oldCount - 1) << "and releases what it held";
  EXPECT_TRUE(b.IsNull());  // NOLINT(bugprone-use-after-move)

  c = std::move(c);  // NOLINT(clang-diagnostic-self-move)
  EXPECT_EQ(raw->RefCount(), count) << "a self-move keeps the object";
  EXPECT_EQ(c.get(), raw);

  // String and Array references are left holding the empty value, as new ones do.
  Ref<String> text = String::FromUnits(u"moved");
  Ref<String> taken(std::move(text));
  EXPECT_FALSE(text.IsNull());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(text->Length(), 0);
  EXPECT_EQ(taken->Length(), 5);
}

TEST_F(ObjectTest, SelfAssignmentKeepsTheObject) {
  {
    Ref<TLogged> only = Ref<TLogged>(new TLogged("self"));
    GCCollect();  // drops the queued mark: the Ref is now the only count
    ASSERT_EQ(only->RefCount(), 1u);
    only = only;
    EXPECT_EQ(only->RefCount(), 1u);
    GCCollect();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(only->name, "self");
  }
}

__attribute__((noinline)) void MakeChainAndCollect() {
  Ref<TLogged> head = New<TLogged>("head");
  head->next = New<TLogged>("tail");
  GCCollect();
  EXPECT_TRUE(gLog->empty());
}

TEST_F(ObjectTest, DroppedChainIsFreedInOneCollection) {
  MakeChainAndCollect();
  ScrubStack();
  GCCollect();
  EXPECT_EQ(log, (std::vector<std::string>{"~head", "~tail"}));
}

TEST_F(ObjectTest, SharedObjectsAreCountedButNeverFreed) {
  uint32_t before = Null()->RefCount();
  {
    Ref<TLogged> r;
    EXPECT_TRUE(r.IsNull());
    EXPECT_EQ(Null()->RefCount(), before + 1);
  }
  EXPECT_EQ(Null()->RefCount(), before);
  // Running the free entry on a shared object only resets its count.
  Null()->Free();
  EmptyString()->Free();
  EmptyArray()->Free();
  EXPECT_EQ(Null()->RefCount(), kSharedRefs);
  EXPECT_EQ(EmptyString()->RefCount(), kSharedRefs);
  EXPECT_EQ(EmptyArray()->RefCount(), kSharedRefs);
  EXPECT_EQ(u"constant"_vs->RefCount(), kConstantRefs);
}

TEST_F(ObjectTest, StringAndArrayReferencesStartEmpty) {
  Ref<String> s;
  Ref<Array> a;
  EXPECT_EQ(s.object(), EmptyString());
  EXPECT_EQ(a.object(), EmptyArray());
}

TEST_F(ObjectTest, NullPointerGivesEmptyStringAndArrayNotNull) {
  String* noString = nullptr;
  Array* noArray = nullptr;
  Ref<String> s(noString);
  Ref<String> fromLiteral(nullptr);
  Ref<Array> a(noArray);
  EXPECT_EQ(s.object(), EmptyString());
  EXPECT_EQ(fromLiteral.object(), EmptyString());
  EXPECT_EQ(a.object(), EmptyArray());
  s = String::FromNarrow("text");
  s = noString;
  EXPECT_EQ(s.object(), EmptyString());
  s = String::FromNarrow("text");
  s = nullptr;
  EXPECT_EQ(s.object(), EmptyString());
  a = Array::New("i", 1);
  a = noArray;
  EXPECT_EQ(a.object(), EmptyArray());
  a = Array::New("i", 1);
  a = nullptr;
  EXPECT_EQ(a.object(), EmptyArray());
  // Other classes still hold Null, and a failed cast still yields Null.
  Ref<TLogged> logged(static_cast<TLogged*>(nullptr));
  EXPECT_TRUE(logged.IsNull());
  Ref<Object> child = New<TLoggedChild>("c");
  EXPECT_TRUE(Cast<String>(child).IsNull());
  EXPECT_TRUE(Cast<Array>(child).IsNull());
  // Elements of arrays of arrays, and the error of a runtime exception.
  Ref<Array> arrays = Array::New("[]i", 1);
  arrays->SetObject(0, Array::New("i", 2));
  arrays->SetObject(0, nullptr);
  EXPECT_EQ(arrays->GetObject(0), EmptyArray());
  EXPECT_EQ(TRuntimeException::Create(nullptr)->error.object(), EmptyString());
  EXPECT_EQ(TRuntimeException::Create(nullptr)->ToString().get(), EmptyString());
}

TEST_F(ObjectTest, AccessThroughNullThrows) {
  Ref<TLogged> none;
  EXPECT_THROW(none->Twice(1), ThrownObject);
  EXPECT_TRUE(ThrowsObject<TNullObjectException>([&] { (void)none->name; },
                                                 "Attempt to access field or method of Null object"));
  EXPECT_TRUE(ThrowsObject<TNullObjectException>([] { Null()->ToString(); }));
}

TEST_F(ObjectTest, CastsFollowTheClassChain) {
  Ref<Object> child = New<TLoggedChild>("c");
  Ref<Object> parent = New<TLogged>("p");
  EXPECT_EQ(Cast<TLogged>(child).get(), child.object());
  EXPECT_TRUE(Cast<TLoggedChild>(parent).IsNull());
  EXPECT_TRUE(Cast<TLogged>(Null()).IsNull());
  EXPECT_EQ(vrCastObject(Null(), Object::StaticClass()), Null());
  EXPECT_EQ(vrCastObject(child, Object::StaticClass()), child.object());
  EXPECT_TRUE(Cast<String>(child).IsNull());
}

// Null reaches raw pointers as nullptr (out of a Ref) or as the Null object
// (object(), Null(), the runtime's answers); both read as Null everywhere.
TEST_F(ObjectTest, BothRawFormsOfNullReadAsNull) {
  Ref<TLogged> none;
  Ref<TLogged> some = New<TLogged>("s");
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(none.object(), Null());
  EXPECT_TRUE(IsNull(nullptr));
  EXPECT_TRUE(IsNull(Null()));
  EXPECT_FALSE(IsNull(some.get()));
  EXPECT_FALSE(IsNull(EmptyString()));

  for (Object* null : {static_cast<Object*>(nullptr), Null()}) {
    EXPECT_FALSE(InstanceOf(null, Object::StaticClass()));
    EXPECT_EQ(CastRaw<Object>(null), nullptr);
    EXPECT_EQ(CastRaw<TLogged>(null), nullptr);
    EXPECT_EQ(Cast<Object>(null).object(), Null());
    EXPECT_EQ(vrCastObject(null, Object::StaticClass()), Null());
    EXPECT_EQ(some->Compare(null), some->Compare(Null()));
  }
  EXPECT_EQ(some->Compare(none), some->Compare(none.object()));
}

TEST_F(ObjectTest, ToStringGivesFixedWidthHexDigitsWithoutPrefix) {
  Ref<TLogged> a = New<TLogged>("a");
  char expected[32];
  std::snprintf(expected, sizeof expected, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(a.get())));
  std::string text = a->ToString()->ToNarrow();
  EXPECT_EQ(text, expected);
  // Heap addresses have fewer significant digits than a pointer has: the
  // leading zeros are kept, and there is no "0X" in front.
  EXPECT_EQ(text.size(), 2 * sizeof(void*));
  EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
}

TEST_F(ObjectTest, DefaultCompareAndMessage) {
  Ref<TLogged> a = New<TLogged>("a");
  Ref<TLogged> b = New<TLogged>("b");
  int32_t difference =
      static_cast<int32_t>(reinterpret_cast<uintptr_t>(a.get()) - reinterpret_cast<uintptr_t>(b.get()));
  EXPECT_EQ(a->Compare(b), difference);
  EXPECT_TRUE(a->ReceiveMessage(b, b).IsNull());
}

TEST_F(ObjectTest, ReservedEntriesThrow) {
  Ref<TLogged> a = New<TLogged>();
  for (auto call : {&Object::Reserved1, &Object::Reserved2, &Object::Reserved3}) {
    EXPECT_TRUE(ThrowsObject<String>([&] { (a.get()->*call)(); }, "Illegal call to reserved method"));
  }
}

TEST_F(ObjectTest, ClassRecordDescribesFieldsAndMethods) {
  const ClassRecord& record = TLogged::StaticClass();
  EXPECT_EQ(record.Name(), "TLogged");
  EXPECT_EQ(record.Description(), "TLogged{doc=\"a logger\"}");
  EXPECT_EQ(record.Super(), &Object::StaticClass());
  EXPECT_EQ(record.InstanceSize(), sizeof(TLogged));
  EXPECT_EQ(String::StaticClass().InstanceSize(), 0u);
  EXPECT_EQ(Array::StaticClass().InstanceSize(), 0u);
  ASSERT_EQ(record.Declarations().size(), 4u);
  EXPECT_EQ(record.Declarations()[0].Tag(), ":TLogged");
  EXPECT_EQ(record.Declarations()[1].Tag(), "i");
  EXPECT_EQ(record.Declarations()[2].Tag(), "d");
  EXPECT_EQ(record.Declarations()[3].Tag(), "(i)i");

  Ref<TLogged> a = New<TLogged>();
  *static_cast<int32_t*>(record.Declarations()[1].address(a)) = 7;
  EXPECT_EQ(a->count, 7);
  Value arg = Value::FromInt(21);
  Value result = record.Declarations()[3].invoke(a, std::span<const Value>(&arg, 1));
  EXPECT_EQ(result.i, 42);

  Ref<Object> made = vrNewObject(TLoggedChild::StaticClass());
  EXPECT_NE(CastRaw<TLoggedChild>(made), nullptr);
  EXPECT_TRUE(vrNewObject(String::StaticClass()).IsNull());
}

TEST_F(ObjectTest, RuntimeClassesAreRegistered) {
  const auto& classes = RegisteredClasses();
  auto has = [&](const ClassRecord& r) {
    return std::find(classes.begin(), classes.end(), &r) != classes.end();
  };
  EXPECT_TRUE(has(Object::StaticClass()));
  EXPECT_TRUE(has(String::StaticClass()));
  EXPECT_TRUE(has(TRuntimeException::StaticClass()));
}

}  // namespace

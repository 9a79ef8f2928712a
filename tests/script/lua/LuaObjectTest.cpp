#include "script/lua/LuaObject.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>

#include "containers/List.h"
#include "pixmap/PixelFormat.h"
#include "pixmap/Pixmap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Memory.h"
#include "script/lua/LuaApi.h"
#include "tests/support/StackScrub.h"
#include "tests/support/TempDir.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using vrl::testing_support::ThrowsObject;

namespace {

// A class whose members a script reads, writes and calls.
class TLuaProbe : public Object {
  VRL_CLASS(TLuaProbe, Object)
  int32_t _count = 5;
  int64_t _long = 0;
  float _float = 1.5F;
  double _double = 0.25;
  Ref<String> _label;
  Ref<TList> _list;
  Ref<Array> _ints;

  int32_t Add(int32_t a, int32_t b) { return a + b; }
  float Half(float x) { return x / 2; }
  Ref<String> Greet(String* name) { return vrConcatStrings(u"hi "_vs, name); }
  int32_t CountOf(TList* list) { return list ? list->Count() : -1; }
  Ref<TList> List() { return _list; }
  int32_t Fail(int32_t) { vrRuntimeError("probe failed"); }
};

}  // namespace

const ClassRecord& TLuaProbe::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLuaProbe>("TLuaProbe", [](auto& d) {
    d.template Field<&TLuaProbe::_count>("_count");
    d.template Field<&TLuaProbe::_long>("_long");
    d.template Field<&TLuaProbe::_float>("_float");
    d.template Field<&TLuaProbe::_double>("_double");
    d.template Field<&TLuaProbe::_label>("_label");
    d.template Field<&TLuaProbe::_list>("_list");
    d.template Field<&TLuaProbe::_ints>("_ints", "[]i");
    d.template Method<&TLuaProbe::Add>("Add");
    d.template Method<&TLuaProbe::Half>("Half");
    d.template Method<&TLuaProbe::Greet>("Greet");
    d.template Method<&TLuaProbe::CountOf>("CountOf");
    d.template Method<&TLuaProbe::List>("List");
    d.template Method<&TLuaProbe::Fail>("Fail");
  });
  return record;
}

namespace {

class LuaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lua::Init();
    pixmap::Init();
    static bool registered = false;
    if (!registered) vrRegisterClass(TLuaProbe::StaticClass());
    registered = true;
    L = LuaState();
    _top = lua_gettop(L);
  }
  // Every entry into Lua leaves the stack as it found it.
  void TearDown() override { EXPECT_EQ(lua_gettop(L), _top); }

  static Ref<TLuaObject> Instance(const char* source, Object* super = nullptr) {
    return TLuaObject::Create(TLuaClass::Create(String::FromUtf8(std::string_view(source))), super);
  }
  // The result of a call as text, "null" for Null.
  static std::string Call(TLuaObject* instance, const char* name,
                          std::initializer_list<const char*> args = {}) {
    Ref<Array> array = Array::New("$", static_cast<int32_t>(args.size()));
    int32_t i = 0;
    for (const char* arg : args) array->SetObject(i++, String::FromUtf8(std::string_view(arg)));
    Ref<Object> result = instance->Invoke(String::FromUtf8(std::string_view(name)), array);
    return result.IsNull() ? "null" : result->ToString()->ToUtf8String();
  }

  lua_State* L = nullptr;
  int _top = 0;
};

TEST_F(LuaTest, UnknownKeysReadNilAndWritesToThemOrToMethodsThrowError) {
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  Ref<TLuaObject> script = Instance(R"(
    function read() return tostring(probe.nothing) .. " " .. tostring(probe[7]) end
    function write(key) local ok, err = pcall(function() probe[key] = 1 end) return tostring(err) end
    function unguarded() probe.nothing = 1 end
  )");
  LuaRegisterObject(u"probe"_vs, probe);
  EXPECT_EQ(Call(script, "read"), "nil nil");
  EXPECT_EQ(Call(script, "write", {"nothing"}), "ERROR");
  EXPECT_EQ(Call(script, "write", {"Add"}), "ERROR");
  EXPECT_EQ(Call(script, "write", {"_count"}), "nil");  // a field takes the store
  EXPECT_EQ(probe->_count, 1);
  // Not caught in Lua, the thrown text reaches the framework caller.
  EXPECT_TRUE(ThrowsObject<String>([&] { Call(script, "unguarded"); }, "ERROR"));
  EXPECT_EQ(Call(script, "read"), "nil nil");  // the state is still usable
}

TEST_F(LuaTest, FieldsTravelByTheirTypes) {
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  probe->_long = (int64_t(1) << 40) + 7;
  probe->_label = String::FromUtf8(std::string_view("h\xc3\xa9llo"));
  probe->_list = New<TList>();
  Ref<TLuaObject> script = Instance(R"(
    function read(key) return probe[key] end
    function kind(key) return type(probe[key]) end
    function write(key, value) probe[key] = value end
    function writeNumber(key, value) probe[key] = tonumber(value) end
    function writeList() probe._list = probe.List() end
  )");
  LuaRegisterObject(u"probe"_vs, probe);
  EXPECT_EQ(Call(script, "read", {"_long"}), "7");  // the low 32 bits of 2^40 + 7
  probe->_long = int64_t(1) << 40;
  EXPECT_EQ(Call(script, "read", {"_long"}), "0");
  EXPECT_EQ(Call(script, "read", {"_COUNT"}), "5");  // names without regard to case
  EXPECT_EQ(Call(script, "kind", {"_count"}), "number");
  EXPECT_EQ(Call(script, "read", {"_float"}), "1.5");
  EXPECT_EQ(Call(script, "read", {"_double"}), "0.25");
  EXPECT_EQ(Call(script, "read", {"_label"}), "h\xc3\xa9llo");
  EXPECT_EQ(Call(script, "kind", {"_list"}), "userdata");
  probe->_ints = Array::New("i", 2);
  probe->_ints->Set<int32_t>(1, -9);
  Ref<TLuaObject> ints =
      Instance("function run() return type(probe._ints) .. probe._ints[0] .. probe._ints[1] end");
  EXPECT_EQ(Call(ints, "run"), "table0-9");

  Call(script, "writeNumber", {"_count", "-12.75"});
  EXPECT_EQ(probe->_count, -12);
  Call(script, "writeNumber", {"_long", "1099511627776"});
  EXPECT_EQ(probe->_long, int64_t(1) << 40);  // stored whole, read back cut
  Call(script, "writeNumber", {"_double", "2.5"});
  EXPECT_EQ(probe->_double, 2.5);
  Call(script, "write", {"_label", "\xe2\x82\xac!"});
  EXPECT_EQ(probe->_label->View(), u"\u20ac!");
  Ref<TList> before = probe->_list;
  Call(script, "writeList");
  EXPECT_EQ(probe->_list.get(), before.get());
  // An object field refuses a value of another class.
  Ref<TLuaObject> wrong = Instance("function run() probe._list = probe end");
  EXPECT_TRUE(ThrowsObject<String>([&] { Call(wrong, "run"); }, "ERROR"));
}

TEST_F(LuaTest, MethodClosuresConvertArgumentsAndResults) {
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  Ref<TList> list = New<TList>();
  list->AddLast(u"a"_vs);
  list->AddLast(u"b"_vs);
  LuaRegisterObject(u"probe"_vs, probe);
  LuaRegisterObject(u"list"_vs, list);
  Ref<TLuaObject> script = Instance(R"(
    function run()
      return probe.Add(40, 2) .. " " .. probe.Half(3) .. " " .. probe.Greet("\195\169") ..
             " " .. probe.CountOf(list) .. " " .. probe.CountOf(nil) .. " " .. type(probe.Add(1, 2))
    end
  )");
  EXPECT_EQ(Call(script, "run"), "42 1.5 hi \xc3\xa9 2 -1 number");
}

TEST_F(LuaTest, ExceptionsInMethodsBecomeLuaErrorsAndTheStateStaysUsable) {
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  LuaRegisterObject(u"probe"_vs, probe);
  Ref<TLuaObject> script = Instance(R"(
    function guarded()
      local ok, err = pcall(probe.Fail, 1)
      return tostring(ok) .. " " .. tostring(err) .. " " .. probe.Add(1, 1)
    end
    function unguarded() return probe.Fail(1) end
    function inCoroutine()
      local co = coroutine.create(function() coroutine.yield(probe.Add(2, 3)) probe.Fail(1) end)
      local ok1, v1 = coroutine.resume(co)
      local ok2, v2 = coroutine.resume(co)
      return tostring(ok1) .. v1 .. tostring(ok2) .. tostring(v2)
    end
    function nullCall() return nothing.Count() end
  )");
  EXPECT_EQ(Call(script, "guarded"), "false probe failed 2");
  EXPECT_TRUE(ThrowsObject<TRuntimeException>([&] { Call(script, "unguarded"); }, "probe failed"));
  EXPECT_EQ(Call(script, "guarded"), "false probe failed 2");
  EXPECT_EQ(Call(script, "inCoroutine"), "true5falseprobe failed");

  // Null has no members: reading one gives nil, and calling that is a Lua
  // error, reported.
  LuaRegisterObject(u"nothing"_vs, nullptr);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Call(script, "nullCall"), "null");
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("attempt to call field 'Count' (a nil value)"),
            std::string::npos);
}

TEST_F(LuaTest, ArraysBecomeZeroBasedTables) {
  Ref<Array> ints = Array::New("i", 3);
  for (int32_t i = 0; i < 3; ++i) ints->Set<int32_t>(i, (i + 1) * 10);
  Ref<Array> texts = Array::New("$", 2);
  texts->SetObject(0, u"x"_vs);
  texts->SetObject(1, u"y"_vs);
  Ref<Array> doubles = Array::New("d", 1);
  doubles->Set<double>(0, 0.5);
  Ref<TLuaObject> script = Instance(R"(
    function describe(t)
      local keys = {}
      for k, v in pairs(t) do keys[#keys + 1] = k .. "=" .. tostring(v) .. ":" .. type(v) end
      table.sort(keys)
      return table.concat(keys, " ")
    end
    function describeAll(a, b, c) return describe(a) .. " | " .. describe(b) .. " | " .. describe(c) end
  )");
  Ref<Array> args = Array::New(":Object", 3);
  args->SetObject(0, ints);
  args->SetObject(1, texts);
  args->SetObject(2, doubles);
  Ref<Object> result = script->Invoke(u"describeAll"_vs, args);
  ASSERT_FALSE(result.IsNull());
  EXPECT_EQ(result->ToString()->ToUtf8String(),
            "0=10:number 1=20:number 2=30:number | 0=x:string 1=y:string | 0=0.5:number");

  // LuaPushArray itself, and an array of arrays as nested tables.
  Ref<Array> rows = Array::New("[]i", 2);
  rows->SetObject(0, ints);
  rows->SetObject(1, Array::New("i", 0));
  LuaPushArray(L, rows);
  lua_rawgeti(L, -1, 0);
  ASSERT_TRUE(lua_istable(L, -1));
  lua_rawgeti(L, -1, 2);
  EXPECT_EQ(lua_tointeger(L, -1), 30);
  lua_rawgeti(L, -2, 3);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 4);
}

TEST_F(LuaTest, InstancesKeepTheirOwnVariables) {
  Ref<TLuaClass> counter = TLuaClass::Create(String::FromNarrow(R"(
    count = 0
    function bump() count = count + 1 return count end
    function selfCount() return self.count end
  )"));
  Ref<TLuaObject> a = TLuaObject::Create(counter, nullptr);
  Ref<TLuaObject> b = TLuaObject::Create(counter, nullptr);
  EXPECT_EQ(Call(a, "bump"), "1");
  EXPECT_EQ(Call(a, "bump"), "2");
  EXPECT_EQ(Call(b, "bump"), "1");
  EXPECT_EQ(Call(a, "selfCount"), "2");
  // Nothing leaked into the globals.
  lua_getglobal(L, "count");
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_getglobal(L, "bump");
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 2);
}

TEST_F(LuaTest, NamesFallBackToTheSuperObjectThenTheGlobals) {
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  Ref<TLuaObject> script = Instance(R"(
    function run() return Add(_count, 1) .. " " .. math.max(2, 3) .. " " .. tostring(super == self) end
    function shadow() _count = "mine" return _count .. " " .. super._count end
  )",
                                    probe);
  EXPECT_EQ(Call(script, "run"), "6 3 false");
  EXPECT_EQ(Call(script, "shadow"), "mine 5");  // assigning makes an instance variable
  EXPECT_EQ(probe->_count, 5);
  // Without a super object the default one answers nothing.
  Ref<TLuaObject> plain = Instance("function run() return tostring(Add) .. ' ' .. type(super) end");
  EXPECT_EQ(Call(plain, "run"), "nil userdata");
}

TEST_F(LuaTest, InvokeGivesNullOrTheResultsText) {
  Ref<TLuaObject> script = Instance(R"(
    function nothing() end
    function answer() return 42 end
    function join(a, b) return a .. "+" .. b end
    function yes() return true end
    function fails() error("broken", 0) end
  )");
  EXPECT_EQ(Call(script, "nothing"), "null");
  EXPECT_EQ(Call(script, "answer"), "42");
  EXPECT_EQ(Call(script, "join", {"1", "2"}), "1+2");
  EXPECT_EQ(Call(script, "yes"), "true");
  EXPECT_EQ(Call(script, "missing"), "null");
  // The elements of a number array are the arguments, as numbers.
  Ref<Array> numbers = Array::New("i", 2);
  numbers->Set<int32_t>(0, 40);
  numbers->Set<int32_t>(1, 2);
  Ref<TLuaObject> adder = Instance("function add(a, b) return type(a) .. (a + b) end");
  Ref<Object> sum = adder->Invoke(u"add"_vs, numbers);
  ASSERT_FALSE(sum.IsNull());
  EXPECT_EQ(sum->ToString()->View(), u"number42");

  const int32_t errors = LuaErrorCount();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Call(script, "fails"), "null");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR\nbroken\n");
  EXPECT_EQ(LuaErrorCount(), errors + 1);
  EXPECT_EQ(Call(script, "answer"), "42");
}

TEST_F(LuaTest, CompileErrorsArePrintedAndCreateGivesNull) {
  Ref<TLuaClass> broken = TLuaClass::Create(u"x = = 1"_vs);
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(TLuaObject::Create(broken, nullptr).IsNull());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error loading script :\n[string \"x = = 1\"]:1: unexpected symbol near '='\n");
  // A new source replaces the failed one, and the chunk compiles once.
  broken->SetSourceCode(u"function f() return 'fixed' end"_vs);
  EXPECT_EQ(broken->SourceCode()->View(), u"function f() return 'fixed' end");
  Ref<TLuaObject> fixed = TLuaObject::Create(broken, nullptr);
  ASSERT_FALSE(fixed.IsNull());
  EXPECT_EQ(Call(fixed, "f"), "fixed");
  ASSERT_EQ(broken->lua_pushchunk(), 1);
  ASSERT_EQ(broken->lua_pushchunk(), 1);
  EXPECT_TRUE(lua_rawequal(L, -1, -2));
  lua_pop(L, 2);

  // A framework exception that the script's first run does not catch
  // reaches the creator.
  Ref<TLuaProbe> probe = New<TLuaProbe>();
  EXPECT_TRUE(ThrowsObject<TRuntimeException>([&] { Instance("Fail(1)", probe); }, "probe failed"));

  // A runtime error while the script first runs is reported; the instance stands.
  ::testing::internal::CaptureStdout();
  Ref<TLuaObject> failing = Instance("function f() return 1 end error('late', 0)");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ERROR\nlate\n");
  ASSERT_FALSE(failing.IsNull());
  EXPECT_EQ(Call(failing, "f"), "1");
}

TEST_F(LuaTest, SourcesAboveTheSizeLimitAreRefused) {
  // A comment as long as the limit compiles; a byte more is refused before
  // Lua's parser sees it.
  auto commentOf = [](std::size_t bytes) { return "--" + std::string(bytes - 2, 'x'); };
  const auto limit = static_cast<std::size_t>(limits::kLuaSourceBytes);
  Ref<TLuaClass> atLimit = TLuaClass::Create(String::FromNarrow(commentOf(limit)));
  EXPECT_EQ(atLimit->lua_pushchunk(), 1);
  lua_pop(LuaState(), 1);
  ::testing::internal::CaptureStdout();
  Ref<TLuaClass> over = TLuaClass::Create(String::FromNarrow(commentOf(limit + 1)));
  EXPECT_EQ(over->lua_pushchunk(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error loading script :\nscript too large\n");
}

TEST_F(LuaTest, BinaryChunksAreRefusedEverywhere) {
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(Instance("\x1bLua\x51 forged").IsNull());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Error loading script :\nbinary chunks are not accepted\n");
  // Real bytecode, made by the script itself, does not load either.
  Ref<TLuaObject> script = Instance(R"(
    function run()
      local code = string.dump(function() return 1 end)
      local parts, i = {code:sub(1, 3), code:sub(4)}, 0
      local f1, e1 = loadstring(code)
      local f2, e2 = load(function() i = i + 1 return parts[i] end)
      return tostring(f1) .. " " .. e1 .. " " .. tostring(f2) .. " " .. e2 .. " " .. loadstring("return 7")()
    end
  )");
  EXPECT_EQ(Call(script, "run"), "nil binary chunks are not accepted nil binary chunks are not accepted 7");
}

// Makes an instance that only Lua holds (the global "held") and enters its
// environment in the weak table "watch".
__attribute__((noinline)) void MakeHeldInstance() {
  Ref<TLuaObject> held = TLuaObject::Create(TLuaClass::Create(u"x = 1"_vs), nullptr);
  LuaRegisterObject(u"held"_vs, held);
  lua_State* L = LuaState();
  lua_getglobal(L, "watch");
  held->lua_pushfenv();
  lua_rawseti(L, -2, 1);
  lua_pop(L, 1);
}

TEST_F(LuaTest, PushedObjectsAreCountedUntilLuaCollectsThem) {
  Ref<TList> list = New<TList>();
  const uint32_t before = list->RefCount();
  LuaPushObject(L, list);
  LuaPushObject(L, list);
  EXPECT_EQ(list->RefCount(), before + 2);
  EXPECT_EQ(LuaToObject(L, -1), list.get());
  EXPECT_EQ(LuaToObject(L, -2), list.get());
  lua_pushinteger(L, 1);
  EXPECT_EQ(LuaToObject(L, -1), Null());  // not an object
  lua_pop(L, 3);
  lua_gc(L, LUA_GCCOLLECT, 0);
  EXPECT_EQ(list->RefCount(), before);

  // An instance held only by Lua is freed once Lua's collector drops it,
  // and then lets its environment go; other instances are unaffected.
  Ref<TLuaObject> kept = Instance("function f() return 'kept' end");
  lua_newtable(L);
  lua_newtable(L);
  lua_pushliteral(L, "v");
  lua_setfield(L, -2, "__mode");
  lua_setmetatable(L, -2);
  lua_setglobal(L, "watch");
  MakeHeldInstance();
  lua_getglobal(L, "watch");
  lua_rawgeti(L, -1, 1);
  EXPECT_TRUE(lua_istable(L, -1));
  lua_pop(L, 2);
  lua_pushnil(L);
  lua_setglobal(L, "held");
  lua_gc(L, LUA_GCCOLLECT, 0);
  ScrubStack();
  GCCollect();
  lua_gc(L, LUA_GCCOLLECT, 0);
  lua_getglobal(L, "watch");
  lua_rawgeti(L, -1, 1);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 2);
  EXPECT_EQ(Call(kept, "f"), "kept");
}

// A native function for scripts: sorts the list it is given.
int SortListFromLua(lua_State* L) {
  auto* list = CastRaw<TList>(LuaToObject(L, 1));
  if (!list) vrRuntimeError("SortList needs a list");
  list->Sort();
  return 0;
}

TEST_F(LuaTest, RegisteredGlobalsAndNativeFunctions) {
  LuaRegisterInt(u"answer"_vs, 42);
  LuaRegisterFunction(u"SortList"_vs, &SortListFromLua);
  LuaRegisterFunction(u"Missing"_vs, nullptr);
  Ref<TLuaObject> script = Instance(R"(
    function run()
      local ok1, e1 = pcall(SortList, 3)
      local ok2, e2 = pcall(Missing)
      return answer .. " " .. tostring(ok1) .. " " .. tostring(e1) .. " " .. tostring(ok2) .. " " .. tostring(e2)
    end
  )");
  const std::string nullFunction = New<TNullFunctionException>()->ToString()->ToUtf8String();
  EXPECT_EQ(Call(script, "run"), "42 false SortList needs a list false " + nullFunction);
}

// End to end: a script fills a list, sorts it through a native function,
// and reads and writes a pixmap's pixels through its methods.
TEST_F(LuaTest, ScriptDrivesListsAndPixmaps) {
  LuaRegisterFunction(u"SortList"_vs, &SortListFromLua);
  Ref<TPixmap> pixmap = TPixmap::Create(2, 2, PIXFMT_RGBA32);
  pixmap->WritePixel(0, 0, int32_t(0xFF112233));
  pixmap->WritePixel(1, 1, int32_t(0x80FFFFFF));
  LuaRegisterObject(u"pixmap"_vs, pixmap);
  Ref<TList> list = New<TList>();
  Ref<TLuaObject> script = Instance(R"(
    function fill(...)
      for _, word in ipairs({...}) do AddLast(word) end
      SortList(super)
      local out = {}
      for i = 0, Count() - 1 do out[#out + 1] = ValueAtIndex(i) end
      local array = ToArray()
      return table.concat(out, ",") .. " " .. array[0] .. array[2] .. tostring(array[3])
    end
    function pixels()
      pixmap.WritePixel(1, 0, pixmap.ReadPixel(0, 0) + 1)
      return string.format("%d %d %x %x", pixmap.width, pixmap.height,
                           pixmap.ReadPixel(0, 0) % 2^32, pixmap.ReadPixel(1, 1) % 2^32)
    end
  )",
                                    list);
  EXPECT_EQ(Call(script, "fill", {"pear", "apple", "fig"}), "apple,fig,pear applepearnil");
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(CastRaw<String>(list->First())->View(), u"apple");
  EXPECT_EQ(Call(script, "pixels"), "2 2 ff112233 80ffffff");
  EXPECT_EQ(uint32_t(pixmap->ReadPixel(1, 0)), 0xFF112234U);
}

class LuaApiTest : public vrl::testing_support::TempDirTest {};

TEST_F(LuaApiTest, StringsTravelAsUtf8AndFilesLoadAsText) {
  lua::Init();
  lua_State* L = LuaState();
  const int top = lua_gettop(L);
  Ref<String> text = String::FromUnits(u"\u00e9\u20ac");
  pub::PushString(L, text);
  EXPECT_STREQ(lua_tostring(L, -1), "\xc3\xa9\xe2\x82\xac");
  EXPECT_TRUE(pub::ToString(L, -1)->Equals(text));
  lua_pushnumber(L, 2.5);
  EXPECT_EQ(pub::ToString(L, -1)->ToUtf8String(), "2.5");
  EXPECT_TRUE(pub::IsNumber(L, -1));  // converted on a copy, still a number
  EXPECT_EQ(lua_type(L, -1), LUA_TNUMBER);
  lua_newtable(L);
  EXPECT_EQ(pub::ToString(L, -1)->Length(), 0);
  EXPECT_TRUE(pub::IsTable(L, -1));
  lua_pop(L, 3);

  const std::string script = Root() + "/script.lua";
  std::ofstream(script) << "#!/usr/bin/env lua\nreturn 6 * 7\n";
  ASSERT_EQ(pub::LoadFile(L, String::FromUtf8(std::string_view(script))), 0);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), 0);
  EXPECT_EQ(lua_tointeger(L, -1), 42);
  lua_pop(L, 1);
  const std::string forged = Root() + "/forged.luac";
  std::ofstream(forged) << "\x1bLua\x51";
  EXPECT_EQ(pub::LoadFile(L, String::FromUtf8(std::string_view(forged))), LUA_ERRSYNTAX);
  EXPECT_STREQ(lua_tostring(L, -1), "binary chunks are not accepted");
  lua_pop(L, 1);
  EXPECT_EQ(pub::LoadFile(L, String::FromUtf8(std::string_view(Root() + "/none.lua"))), LUA_ERRFILE);
  lua_pop(L, 1);
  EXPECT_EQ(pub::LoadString(L, u"return ..."_vs, u"=named"_vs), 0);
  EXPECT_TRUE(pub::IsFunction(L, -1));
  lua_pop(L, 1);
  EXPECT_EQ(lua_gettop(L), top);
}

}  // namespace

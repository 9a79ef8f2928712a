#include "script/lua/LuaObject.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "containers/List.h"
#include "runtime/CallbackTrap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Numeric.h"
#include "runtime/Runtime.h"
#include "script/Reflection.h"
#include "script/lua/LuaApi.h"

namespace vrl {

VRL_CLASS_RECORD(TDummyLuaSuper, "TDummyLuaSuper")

const ClassRecord& TLuaClass::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLuaClass>("TLuaClass", [](auto& d) {
    d.template Field<&TLuaClass::_source>("_source");
    d.template Field<&TLuaClass::_chunk>("_chunk");
    d.template Method<&TLuaClass::SourceCode>("SourceCode");
    d.template Method<&TLuaClass::SetSourceCode>("SetSourceCode");
    d.template Function<&TLuaClass::Create>("Create");
    d.template Method<&TLuaClass::lua_pushchunk>("lua_pushchunk");
  });
  return record;
}

const ClassRecord& TLuaObject::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TLuaObject>("TLuaObject", [](auto& d) {
    d.template Field<&TLuaObject::_fenv>("_fenv");
    d.template Field<&TLuaObject::_class>("_class");
    d.template Method<&TLuaObject::Init>("Init");
    d.template Method<&TLuaObject::Invoke>("Invoke");
    d.template Function<&TLuaObject::Create>("Create");
    d.template Method<&TLuaObject::lua_pushfenv>("lua_pushfenv");
  });
  return record;
}

namespace {

struct BridgeState {
  lua_State* L = nullptr;
  int objectMeta = 0;   // registry reference of the object metatable
  int carrierMeta = 0;  // registry reference of the thrown-object metatable
  int32_t errors = 0;
  Ref<Object> dummySuper;
};

BridgeState& State() {
  static auto* state = new BridgeState;
  return *state;
}

// Restores the stack height of the Lua state when a C++ scope ends, also
// when it ends by a throw.
class StackGuard {
 public:
  explicit StackGuard(lua_State* L) : _state(L), _top(lua_gettop(L)) {}
  StackGuard(const StackGuard&) = delete;
  StackGuard& operator=(const StackGuard&) = delete;
  ~StackGuard() { lua_settop(_state, _top); }

 private:
  lua_State* _state;
  int _top;
};

int Absolute(lua_State* L, int index) {
  return index < 0 && index > LUA_REGISTRYINDEX ? lua_gettop(L) + index + 1 : index;
}

// True when the value at `index` is a userdata whose metatable is the one
// held in the registry under `meta`.
bool HasMeta(lua_State* L, int index, int meta) {
  index = Absolute(L, index);
  if (meta == 0 || lua_type(L, index) != LUA_TUSERDATA || !lua_getmetatable(L, index)) return false;
  lua_rawgeti(L, LUA_REGISTRYINDEX, meta);
  const bool same = lua_rawequal(L, -1, -2) != 0;
  lua_pop(L, 2);
  return same;
}

// What the userdata of a pushed object or a carrier holds.
struct Holder {
  Object* held;  // counted
};

Holder* HolderAt(lua_State* L, int index) { return static_cast<Holder*>(lua_touserdata(L, index)); }

// A thrown framework object on its way through Lua's frames.
Object* CarriedObject(lua_State* L, int index) {
  return HasMeta(L, index, State().carrierMeta) ? HolderAt(L, index)->held : nullptr;
}

// Pushes a userdata holding `retained` (whose count the caller has already
// raised) with the metatable `meta`.
// The caller has made sure of two free stack slots.
void PushHolder(lua_State* L, Object* retained, int meta) {
  auto* holder = static_cast<Holder*>(lua_newuserdata(L, sizeof(Holder)));
  holder->held = retained;
  lua_rawgeti(L, LUA_REGISTRYINDEX, meta);
  lua_setmetatable(L, -2);
}

// The exception boundary of every native function that Lua calls. Runs
// `work` (which returns how many results it pushed); when it throws, the
// exception is turned into an error value left on the stack and -1 is
// returned, so that the caller (holding no C++ objects) can raise it with
// lua_error. A framework exception travels as a carrier of the thrown
// object; anything else as a message.
template <class Work>
int Native(lua_State* L, Work&& work) {
  const int base = lua_gettop(L);
  int results = 0;
  Object* thrown = nullptr;  // retained once caught
  const char* message = nullptr;
  {
    CallbackTrap trap;
    if (trap.Run([&] { results = work(); })) return results;
    try {
      trap.Rethrow();
    } catch (const ThrownObject& e) {
      thrown = e.object();
      thrown->Retain();
    } catch (const std::bad_alloc&) {
      message = "not enough memory";
    } catch (...) {
      message = "unexpected C++ exception";
    }
  }
  // Pushing allocates and may itself raise a Lua error; nothing with a
  // destructor is alive in this frame any more. Back at the height the
  // function was called with, the stack has the room Lua promised it.
  lua_settop(L, base);
  if (thrown) {
    PushHolder(L, thrown, State().carrierMeta);
  } else {
    lua_pushstring(L, message);
  }
  return -1;
}

// A protected call from C++ into Lua. An error carrying a framework
// exception is thrown again here, now that Lua has unwound; any other error
// is reported. False after an error.
bool ProtectedCall(lua_State* L, int arguments, int results) {
  if (lua_pcall(L, arguments, results, 0) == 0) return true;
  if (Object* carried = CarriedObject(L, -1)) {
    Ref<Object> thrown(carried);
    lua_pop(L, 1);
    vrThrow(thrown.object());
  }
  LuaDumpError();
  lua_pop(L, 1);
  return false;
}

// How a value of a reflected type travels to and from Lua.
enum class Travel : uint8_t { Integer, Long, Float, Double, Text, Table, Object };

Travel TravelOf(TTypeId* type) {
  if (type == ByteTypeId() || type == ShortTypeId() || type == IntTypeId()) return Travel::Integer;
  if (type == LongTypeId()) return Travel::Long;
  if (type == FloatTypeId()) return Travel::Float;
  if (type == DoubleTypeId()) return Travel::Double;
  if (type == StringTypeId()) return Travel::Text;
  if (!IsNull(type) && (type == ArrayTypeId() || !type->ElementType().IsNull())) return Travel::Table;
  return Travel::Object;
}

// Lua's number as the integer it stands for: cut towards zero to 64 bits
// (out-of-range and NaN give the smallest long), and to 32 bits by wrapping.
int64_t LongAt(lua_State* L, int index) { return DoubleToLong(lua_tonumber(L, index)); }
int32_t IntAt(lua_State* L, int index) {
  return static_cast<int32_t>(static_cast<uint32_t>(LongAt(L, index)));
}

// A Lua value given where an object is declared: the object of a pushed
// object, a framework string for Lua text and numbers, else Null.
Ref<Object> ObjectAt(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type == LUA_TSTRING || type == LUA_TNUMBER) return pub::ToString(L, index);
  return Ref<Object>(LuaToObject(L, index));
}

void PushText(lua_State* L, Object* text) { pub::PushString(L, CastRaw<String>(text)); }
int32_t IntOf(Object* boxed) {
  String* s = CastRaw<String>(boxed);
  return s ? s->ToInt() : 0;
}
double DoubleOf(Object* boxed) {
  String* s = CastRaw<String>(boxed);
  return s ? s->ToDouble() : 0;
}

// Pushes a boxed value read through reflection by its type.
void PushBoxed(lua_State* L, TTypeId* type, Object* value) {
  switch (TravelOf(type)) {
    case Travel::Integer:
    case Travel::Long:
      lua_pushinteger(L, IntOf(value));
      break;
    case Travel::Float:
    case Travel::Double:
      lua_pushnumber(L, DoubleOf(value));
      break;
    case Travel::Text:
      PushText(L, value);
      break;
    case Travel::Table:
      if (auto* array = CastRaw<Array>(value)) {
        LuaPushArray(L, array);
        break;
      }
      [[fallthrough]];
    case Travel::Object:
      // A string held where an object is declared (a list's values) is
      // still text to a script.
      if (auto* text = CastRaw<String>(value)) {
        pub::PushString(L, text);
      } else {
        LuaPushObject(L, value);
      }
      break;
  }
}

int MethodCall(lua_State* L);

// obj[key]: a closure for a method, the value of a field, or nothing.
int IndexObject(lua_State* L, int objectIndex, int keyIndex) {
  const int keyType = lua_type(L, keyIndex);
  if (keyType != LUA_TSTRING && keyType != LUA_TNUMBER) return 0;
  Object* object = LuaToObject(L, objectIndex);
  Ref<String> key = pub::ToString(L, keyIndex);
  Ref<TTypeId> type = TTypeId::ForObject(object);
  if (type.IsNull()) return 0;
  Ref<TMethod> method = type->FindMethod(key);
  if (!method.IsNull()) {
    lua_pushvalue(L, objectIndex);
    LuaPushObject(L, method);
    lua_pushcclosure(L, &MethodCall, 2);
    return 1;
  }
  Ref<TField> field = type->FindField(key);
  if (field.IsNull()) return 0;
  switch (TravelOf(field->TypeId())) {
    case Travel::Integer:
    case Travel::Long:
      lua_pushinteger(L, field->GetInt(object));  // longs: the low 32 bits
      break;
    case Travel::Float:
    case Travel::Double:
      lua_pushnumber(L, field->GetDouble(object));
      break;
    case Travel::Text:
      pub::PushString(L, field->GetString(object));
      break;
    case Travel::Table:
    case Travel::Object:
      PushBoxed(L, field->TypeId(), field->Get(object));
      break;
  }
  return 1;
}

// obj[key] = value: a field store; methods and unknown names throw "ERROR".
int NewIndexObject(lua_State* L) {
  Object* object = LuaToObject(L, 1);
  Ref<String> key = pub::ToString(L, 2);
  Ref<TTypeId> type = TTypeId::ForObject(object);
  if (type.IsNull() || !type->FindMethod(key).IsNull()) vrThrowText("ERROR");
  Ref<TField> field = type->FindField(key);
  if (field.IsNull()) vrThrowText("ERROR");
  switch (TravelOf(field->TypeId())) {
    case Travel::Integer:
      field->SetInt(object, IntAt(L, 3));
      break;
    case Travel::Long:
      field->SetLong(object, LongAt(L, 3));
      break;
    case Travel::Float:
      field->SetFloat(object, static_cast<float>(lua_tonumber(L, 3)));
      break;
    case Travel::Double:
      field->SetDouble(object, lua_tonumber(L, 3));
      break;
    case Travel::Text:
      field->SetString(object, pub::ToString(L, 3));
      break;
    case Travel::Table:
    case Travel::Object:
      field->Set(object, ObjectAt(L, 3));
      break;
  }
  return 0;
}

// The body of a method closure: arguments from stack positions 1 on, by the
// method's declared types; one result.
int CallMethod(lua_State* L) {
  Object* self = LuaToObject(L, lua_upvalueindex(1));
  auto* method = CastRaw<TMethod>(LuaToObject(L, lua_upvalueindex(2)));
  if (!method) ThrowNullMethodException();
  Ref<Array> types = method->ArgTypes();
  const int32_t count = types->Length();
  Ref<Array> args = Array::New(":Object", count);
  for (int32_t i = 0; i < count; ++i) {
    const int at = i + 1;
    Ref<Object> value;
    switch (TravelOf(CastRaw<TTypeId>(types->GetObject(i)))) {
      case Travel::Integer:
      case Travel::Long:
        value = String::FromLong(LongAt(L, at));
        break;
      case Travel::Float:
      case Travel::Double:
        value = String::FromDouble(lua_tonumber(L, at));
        break;
      case Travel::Text:
        value = pub::ToString(L, at);
        break;
      case Travel::Table:
      case Travel::Object:
        value = ObjectAt(L, at);
        break;
    }
    args->SetObject(i, value);
  }
  Ref<Object> result = method->Invoke(self, args);
  PushBoxed(L, method->TypeId(), result);
  return 1;
}

int MethodCall(lua_State* L) {
  const int results = Native(L, [L] { return CallMethod(L); });
  return results < 0 ? lua_error(L) : results;
}

int ObjectIndex(lua_State* L) {
  const int results = Native(L, [L] { return IndexObject(L, 1, 2); });
  return results < 0 ? lua_error(L) : results;
}

int ObjectNewIndex(lua_State* L) {
  const int results = Native(L, [L] { return NewIndexObject(L); });
  return results < 0 ? lua_error(L) : results;
}

// __gc of objects and carriers alike: drops the reference the userdata holds.
int HolderGc(lua_State* L) {
  Holder* holder = HolderAt(L, 1);
  if (!holder) return 0;
  Object* held = std::exchange(holder->held, nullptr);
  const int results = Native(L, [held] {
    if (held) held->Release();
    return 0;
  });
  return results < 0 ? lua_error(L) : results;
}

int CarrierToString(lua_State* L) {
  const int results = Native(L, [L] {
    Object* held = HolderAt(L, 1)->held;
    pub::PushString(L, held ? held->ToString() : Ref<String>());
    return 1;
  });
  return results < 0 ? lua_error(L) : results;
}

// The environment's __index(table, key): the super object's member, else
// the global of that name.
int EnvIndex(lua_State* L) {
  lua_settop(L, 2);
  lua_pushliteral(L, "super");
  lua_rawget(L, 1);
  if (HasMeta(L, 3, State().objectMeta)) {
    const int results = Native(L, [L] { return IndexObject(L, 3, 2); });
    if (results < 0) return lua_error(L);
    if (results > 0) return results;
  }
  lua_pushvalue(L, 2);
  lua_gettable(L, LUA_GLOBALSINDEX);
  return 1;
}

// The environment's __newindex(table, key, value): a variable of the instance.
int EnvNewIndex(lua_State* L) {
  lua_settop(L, 3);
  lua_rawset(L, 1);
  return 0;
}

// t[key] for a protected read from C++.
int ReadField(lua_State* L) {
  lua_gettable(L, 1);
  return 1;
}

int CallRegistered(lua_State* L) {
  lua_CFunction function = nullptr;
  std::memcpy(&function, lua_touserdata(L, lua_upvalueindex(1)), sizeof function);
  const int results = Native(L, [L, function] { return function(L); });
  return results < 0 ? lua_error(L) : results;
}

int ThrowNullFunction(lua_State*) { ThrowNullFunctionException(); }

// Lua's own loaders take binary chunks; scripts get text-only ones. The
// replacements keep the standard functions' arguments and results.
constexpr const char* kTextLoaders = R"lua(
local rawload, concat, type, open, error = loadstring, table.concat, type, io.open, error
local stdin = io.stdin
local function text(s, name)
  if type(s) == "string" and s:byte(1) == 27 then
    return nil, "binary chunks are not accepted"
  end
  return rawload(s, name)
end
loadstring = text
load = function(reader, name)
  local parts = {}
  while true do
    local piece = reader()
    if piece == nil or piece == "" then break end
    if type(piece) ~= "string" then error("reader function must return a string") end
    parts[#parts + 1] = piece
  end
  return text(concat(parts), name or "=(load)")
end
loadfile = function(name)
  local f, err = stdin, nil
  if name ~= nil then
    f, err = open(name, "rb")
    if not f then return nil, "cannot open " .. tostring(name) end
  end
  local s = f:read("*a") or ""
  if name ~= nil then f:close() end
  if s:byte(1) == 35 then s = (s:gsub("^#[^\n]*", "")) end
  return text(s, name and ("@" .. name) or "=stdin")
end
local textfile = loadfile
dofile = function(name)
  local f, err = textfile(name)
  if not f then error(err, 2) end
  return f()
end
package.loaders[2] = function(name)
  local path = (name:gsub("%.", "/"))
  local tried = {}
  for template in package.path:gmatch("[^;]+") do
    local file = (template:gsub("%?", path))
    local f = open(file, "rb")
    if f then
      f:close()
      local chunk, err = textfile(file)
      if not chunk then
        error("error loading module '" .. name .. "' from file '" .. file .. "':\n\t" .. err, 0)
      end
      return chunk
    end
    tried[#tried + 1] = "\n\tno file '" .. file .. "'"
  end
  return concat(tried)
end
)lua";

int NewMetatable(lua_State* L, lua_CFunction gc) {
  lua_newtable(L);
  lua_pushcfunction(L, gc);
  lua_setfield(L, -2, "__gc");
  return lua_gettop(L);
}

lua_State* MakeState() {
  lua_State* L = luaL_newstate();
  if (!L) vrThrowText("Unable to create the Lua state");
  luaL_openlibs(L);
  if (luaL_loadbuffer(L, kTextLoaders, std::strlen(kTextLoaders), "=loaders") != 0 ||
      lua_pcall(L, 0, 0, 0) != 0) {
    std::string message = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
    lua_close(L);
    vrThrowText(("Unable to set up the Lua state: " + message).c_str());
  }
  BridgeState& s = State();
  NewMetatable(L, &HolderGc);
  lua_pushcfunction(L, &ObjectIndex);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, &ObjectNewIndex);
  lua_setfield(L, -2, "__newindex");
  s.objectMeta = luaL_ref(L, LUA_REGISTRYINDEX);
  NewMetatable(L, &HolderGc);
  lua_pushcfunction(L, &CarrierToString);
  lua_setfield(L, -2, "__tostring");
  s.carrierMeta = luaL_ref(L, LUA_REGISTRYINDEX);
  return L;
}

// The text Invoke returns for the value at `index`.
Ref<Object> ResultText(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TNIL:
      return Ref<Object>();
    case LUA_TNUMBER:
    case LUA_TSTRING:
      return pub::ToString(L, index);
    case LUA_TBOOLEAN:
      return String::FromNarrow(lua_toboolean(L, index) ? "true" : "false");
    default:
      break;
  }
  if (HasMeta(L, index, State().objectMeta)) return LuaToObject(L, index)->ToString();
  char text[64];
  std::snprintf(text, sizeof text, "%s: %p", lua_typename(L, lua_type(L, index)), lua_topointer(L, index));
  return String::FromNarrow(text);
}

// Pushes an argument of Invoke by the type of its object.
void PushArgument(lua_State* L, Object* arg) {
  if (auto* text = CastRaw<String>(arg)) {
    pub::PushString(L, text);
  } else if (auto* array = CastRaw<Array>(arg)) {
    LuaPushArray(L, array);
  } else {
    LuaPushObject(L, arg);
  }
}

}  // namespace

lua_State* LuaState() {
  BridgeState& s = State();
  if (!s.L) s.L = MakeState();
  return s.L;
}

void LuaRegisterInt(String* name, int32_t value) {
  lua_State* L = LuaState();
  lua_pushinteger(L, value);
  pub::SetGlobal(L, name);
}

void LuaRegisterFunction(String* name, lua_CFunction function) {
  lua_State* L = LuaState();
  if (!function) function = &ThrowNullFunction;
  void* holder = lua_newuserdata(L, sizeof function);
  std::memcpy(holder, &function, sizeof function);
  lua_pushcclosure(L, &CallRegistered, 1);
  pub::SetGlobal(L, name);
}

void LuaRegisterObject(String* name, Object* object) {
  lua_State* L = LuaState();
  LuaPushObject(L, object);
  pub::SetGlobal(L, name);
}

void LuaPushObject(lua_State* L, Object* object) {
  if (!lua_checkstack(L, 2)) vrThrowText("Lua stack overflow");
  Object* held = IsNull(object) ? Null() : object;
  held->Retain();
  PushHolder(L, held, State().objectMeta);
}

void LuaPushArray(lua_State* L, Array* array) {
  // Nested arrays recurse: each level needs room for its table and one
  // element.
  if (!lua_checkstack(L, 3)) vrThrowText("Lua stack overflow");
  const int32_t length = IsNull(array) ? 0 : array->Length();
  lua_createtable(L, length, 0);
  if (length == 0) return;
  const int table = lua_gettop(L);
  Ref<TTypeId> type = TTypeId::ForObject(array);
  Ref<TTypeId> element = type.IsNull() ? Ref<TTypeId>() : type->ElementType();
  for (int32_t i = 0; i < length; ++i) {
    PushBoxed(L, element, type->GetArrayElement(array, i));
    lua_rawseti(L, table, i);
  }
}

Object* LuaToObject(lua_State* L, int index) {
  return HasMeta(L, index, State().objectMeta) ? HolderAt(L, index)->held : Null();
}

void LuaDumpError() {
  lua_State* L = LuaState();
  ++State().errors;
  std::string text;
  if (Object* carried = CarriedObject(L, -1)) {
    text = carried->ToString()->ToUtf8String();
  } else if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
    lua_pushvalue(L, -1);
    std::size_t length = 0;
    const char* bytes = lua_tolstring(L, -1, &length);
    text.assign(bytes, length);
    lua_pop(L, 1);
  } else {
    text = std::string("(error object is a ") + lua_typename(L, lua_type(L, -1)) + " value)";
  }
  std::fputs("ERROR\n", stdout);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int32_t LuaErrorCount() { return State().errors; }

// ---------------------------------------------------------------------------
// TLuaClass

TLuaClass::~TLuaClass() {
  if (_chunk) luaL_unref(LuaState(), LUA_REGISTRYINDEX, _chunk);
}

Ref<String> TLuaClass::SourceCode() { return _source; }

Ref<TLuaClass> TLuaClass::SetSourceCode(String* source) {
  _source = source;
  if (_chunk) {
    luaL_unref(LuaState(), LUA_REGISTRYINDEX, _chunk);
    _chunk = 0;
  }
  return Ref<TLuaClass>(this);
}

Ref<TLuaClass> TLuaClass::Create(String* source) { return New<TLuaClass>()->SetSourceCode(source); }

int32_t TLuaClass::lua_pushchunk() {
  lua_State* L = LuaState();
  if (!_chunk) {
    if (pub::LoadString(L, _source) != 0) {
      std::string message = pub::ToString(L, -1)->ToUtf8String();
      lua_pop(L, 1);
      ++State().errors;
      std::printf("Error loading script :\n%s\n", message.c_str());
      std::fflush(stdout);
      return 0;
    }
    _chunk = luaL_ref(L, LUA_REGISTRYINDEX);
  }
  lua_rawgeti(L, LUA_REGISTRYINDEX, _chunk);
  return 1;
}

// ---------------------------------------------------------------------------
// TLuaObject

TLuaObject::~TLuaObject() {
  if (_fenv) luaL_unref(LuaState(), LUA_REGISTRYINDEX, _fenv);
}

Ref<TLuaObject> TLuaObject::Init(TLuaClass* luaClass, Object* super) {
  if (IsNull(luaClass)) ThrowNullObjectException();
  lua_State* L = LuaState();
  Object* base = IsNull(super) ? State().dummySuper.object() : super;
  StackGuard guard(L);
  if (!luaClass->lua_pushchunk()) return Ref<TLuaObject>();
  const int chunk = lua_gettop(L);

  if (_fenv) luaL_unref(L, LUA_REGISTRYINDEX, _fenv);
  lua_newtable(L);
  const int env = lua_gettop(L);
  lua_pushvalue(L, env);
  _fenv = luaL_ref(L, LUA_REGISTRYINDEX);
  _class = luaClass;

  lua_pushvalue(L, env);
  lua_setfield(L, env, "self");
  LuaPushObject(L, base);
  lua_setfield(L, env, "super");
  lua_pushcfunction(L, &EnvIndex);
  lua_setfield(L, env, "__index");
  lua_pushcfunction(L, &EnvNewIndex);
  lua_setfield(L, env, "__newindex");
  lua_pushvalue(L, env);
  lua_setmetatable(L, env);
  lua_pushvalue(L, env);
  lua_setfenv(L, chunk);

  lua_pushvalue(L, chunk);
  ProtectedCall(L, 0, 0);
  return Ref<TLuaObject>(this);
}

Ref<Object> TLuaObject::Invoke(String* name, Array* args) {
  if (!_fenv) return Ref<Object>();
  lua_State* L = LuaState();
  StackGuard guard(L);
  lua_pushcfunction(L, &ReadField);
  lua_pushfenv();
  pub::PushString(L, name);
  if (!ProtectedCall(L, 2, 1) || lua_isnil(L, -1)) return Ref<Object>();
  const int32_t count = IsNull(args) ? 0 : args->Length();
  if (!lua_checkstack(L, count + LUA_MINSTACK)) vrThrowText("Too many arguments");
  const bool objects = count > 0 && args->HoldsObjects();
  Ref<TTypeId> type = count > 0 && !objects ? TTypeId::ForObject(args) : Ref<TTypeId>();
  for (int32_t i = 0; i < count; ++i) {
    if (objects) {
      PushArgument(L, args->GetObject(i));
    } else {
      PushBoxed(L, type->ElementType(), type->GetArrayElement(args, i));
    }
  }
  if (!ProtectedCall(L, count, 1)) return Ref<Object>();
  return ResultText(L, -1);
}

Ref<TLuaObject> TLuaObject::Create(TLuaClass* luaClass, Object* super) {
  return New<TLuaObject>()->Init(luaClass, super);
}

int32_t TLuaObject::lua_pushfenv() {
  lua_State* L = LuaState();
  if (_fenv) {
    lua_rawgeti(L, LUA_REGISTRYINDEX, _fenv);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

void lua::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  reflection::Init();
  vrRegisterClass(TDummyLuaSuper::StaticClass());
  vrRegisterClass(TLuaClass::StaticClass());
  vrRegisterClass(TLuaObject::StaticClass());
  State().dummySuper = New<TDummyLuaSuper>();
}

}  // namespace vrl

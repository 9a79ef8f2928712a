// The Lua bridge: framework objects seen from Lua scripts, and scripts run as
// framework objects.
//
// One Lua state serves the whole program; it is made on first use with the
// standard libraries open and is never closed. Framework objects reach Lua as
// full userdata holding one counted reference (pushing retains the object,
// Lua's collector releases it). Their shared metatable resolves, through
// reflection (script/Reflection.h), a read of a method name to a closure that
// calls the method (dot syntax: obj.Add(1, 2), the object is bound), a read
// of a field name to the field's value, and a write of a field name to a
// store; anything else reads nil, and writing a method name or an unknown
// name throws the text "ERROR".
//
// Strings travel as UTF-8 and come back decoded. Int, short, byte and long
// fields read as Lua integers cut to 32 bits (a write stores all 64 bits of
// a long); floats and doubles as numbers; other objects as pushed objects
// (Null included). Arrays become tables with 0-based integer keys (copies
// of the elements), whether pushed with LuaPushArray, read from a field or
// returned by a method. Where a field, a method result or an array element
// is declared as an object but holds a string (a list's values), the
// script sees text; where an object is expected from Lua, Lua text and
// numbers become framework strings.
//
// Exceptions and Lua errors. Every entry from C++ into Lua is a protected
// call, and no C++ exception crosses Lua's frames: a framework exception
// thrown inside a metamethod or a method called from Lua becomes a Lua error
// whose value carries the thrown object (tostring gives its text), so a
// script can catch it with pcall. One that no script catches is thrown again
// to the framework code that entered Lua, once Lua has unwound (the state
// stays usable). Errors of Lua's own are written to standard output by
// LuaDumpError and do not stop the program.
//
// Scripts are text: chunks in Lua's binary form are refused wherever Lua
// would load one (TLuaClass, loadstring, load, loadfile, dofile), so that no
// forged bytecode reaches Lua's virtual machine.
//
// All of this runs on the main thread.
#pragma once

#include <lua.hpp>

#include <cstdint>

#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

/// The default super object of a TLuaObject: a class without members.
class TDummyLuaSuper : public Object {
  VRL_CLASS(TDummyLuaSuper, Object)
};

/// The source of a script and its compiled chunk, made on first use.
class TLuaClass : public Object {
  VRL_CLASS(TLuaClass, Object)
  ~TLuaClass() override;

  virtual Ref<String> SourceCode();
  /// Stores the text and drops the compiled chunk; returns self.
  virtual Ref<TLuaClass> SetSourceCode(String* source);
  static Ref<TLuaClass> Create(String* source);
  /// Compiles the source on first use and pushes the chunk: 1. After a
  /// compile error (written as "Error loading script :" and the message)
  /// it pushes nothing and returns 0.
  virtual int32_t lua_pushchunk();

 private:
  Ref<String> _source;
  int32_t _chunk = 0;
};

/// One instance of a script: the chunk run once in a private environment
/// table. Inside the script `self` is that table and `super` the super
/// object; names the script does not define are looked up among the super
/// object's fields and methods, then among the globals; names it assigns stay
/// in the instance.
class TLuaObject : public Object {
  VRL_CLASS(TLuaObject, Object)
  ~TLuaObject() override;

  /// Runs the class's script for this instance with `super` (the shared
  /// TDummyLuaSuper when Null); self, or Null when the script does not
  /// compile. A runtime error in the script is reported and self returned.
  virtual Ref<TLuaObject> Init(TLuaClass* luaClass, Object* super);
  /// Calls the instance's function `name` with `args` (an object array:
  /// strings as strings, arrays as tables, other objects as objects); the
  /// result's text (a String), or Null when there is no such function, it
  /// returns nil or it fails (the error is reported).
  virtual Ref<Object> Invoke(String* name, Array* args);
  static Ref<TLuaObject> Create(TLuaClass* luaClass, Object* super);
  /// Pushes the environment table.
  virtual int32_t lua_pushfenv();

 private:
  int32_t _fenv = 0;
  Ref<TLuaClass> _class;
};

/// The shared state, made on first use.
lua_State* LuaState();

/// Globals for scripts.
void LuaRegisterInt(String* name, int32_t value);
/// A native function as a global. It runs with the C++ exception boundary
/// described above: it may throw framework exceptions. Null makes a function
/// that throws TNullFunctionException.
void LuaRegisterFunction(String* name, lua_CFunction function);
void LuaRegisterObject(String* name, Object* object);

void LuaPushObject(lua_State* L, Object* object);
void LuaPushArray(lua_State* L, Array* array);
/// The framework object of the value at `index`: the object of a pushed
/// object's userdata, else Null.
Object* LuaToObject(lua_State* L, int index);

/// Writes "ERROR" and the value on the top of the stack as text, each on a
/// line of its own, to standard output (the value stays on the stack).
void LuaDumpError();
/// How many errors LuaDumpError and the compile-error report have written so
/// far: a caller can tell whether a call it made failed.
int32_t LuaErrorCount();

namespace lua {
/// Starts reflection, registers the bridge's classes and makes the default
/// super object. The Lua state itself is made on first use.
void Init();
}  // namespace lua

}  // namespace vrl

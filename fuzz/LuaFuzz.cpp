// libFuzzer target: arbitrary text as the source of a TLuaClass, compiled
// (never run: a loop in the text would hang the fuzzer). Compiling must
// either give a chunk or report an error; it must never crash, leak or leave
// the shared state's stack changed, and text that starts the way Lua's
// binary chunks do must be refused before Lua's loader sees it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include <lua.hpp>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "script/lua/LuaObject.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  vrl::lua::Init();
  // Compile errors are written to standard output; libFuzzer reports on
  // standard error.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 65536) return 0;
  lua_State* L = LuaState();
  const int top = lua_gettop(L);
  {
    // The text as a script file gives it (UTF-8), or byte by byte when it
    // holds a character that framework strings cannot carry.
    Ref<String> source;
    try {
      source = String::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const ThrownObject&) {
      source = String::FromByteBuffer(data, static_cast<int32_t>(size));
    }
    Ref<TLuaClass> script = TLuaClass::Create(source);
    const int32_t pushed = script->lua_pushchunk();
    if (pushed == 1 && lua_type(L, -1) != LUA_TFUNCTION) __builtin_trap();
    if (pushed == 1 && source->Length() > 0 && (*source)[0] == 0x1b) __builtin_trap();
    lua_settop(L, top);
    // Compiled once: a second push gives the same chunk without compiling.
    if (pushed == 1) {
      script->lua_pushchunk();
      script->lua_pushchunk();
      if (!lua_rawequal(L, -1, -2)) __builtin_trap();
      lua_settop(L, top);
    }
    if (script->lua_pushchunk() != pushed) __builtin_trap();
    lua_settop(L, top);
  }
  lua_gc(L, LUA_GCCOLLECT, 0);
  GCCollect();
  return 0;
}

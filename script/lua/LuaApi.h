// Thin wrappers of single Lua API calls for framework code: framework strings
// in and out of Lua (as UTF-8), loading chunks from text and files, and type
// tests. They add nothing but the string conversion, except that loading
// refuses chunks in Lua's binary form (status LUA_ERRSYNTAX with a message on
// the stack), so forged bytecode never reaches the virtual machine. Like the
// calls they wrap, the table accessors may raise Lua errors (metamethods):
// use them inside native functions or protected calls.
#pragma once

#include <lua.hpp>

#include <cstddef>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace pub {

/// Pushes the text as UTF-8.
void PushString(lua_State* L, vrl::String* text);
/// The string or number at `index` decoded from UTF-8; the empty string for
/// other values.
vrl::Ref<vrl::String> ToString(lua_State* L, int index);
/// Pushes t[key] (with metamethods) of the table at `index`.
void GetField(lua_State* L, int index, vrl::String* key);
/// t[key] = the value on the top (popped), for the table at `index`.
void SetField(lua_State* L, int index, vrl::String* key);
void GetGlobal(lua_State* L, vrl::String* name);
void SetGlobal(lua_State* L, vrl::String* name);

/// Compiles text (named `chunkName`, or by the text itself when Null) and
/// pushes the function; 0 on success, else a Lua error status with the
/// message pushed. Binary chunks are refused.
int LoadString(lua_State* L, vrl::String* source, vrl::String* chunkName = nullptr);
/// The same for a file's contents (a first line starting with "#" is skipped).
int LoadFile(lua_State* L, vrl::String* path);
/// True when `text` starts as a chunk in Lua's binary form would.
bool IsBinaryChunk(const char* text, std::size_t length);

bool IsNil(lua_State* L, int index);
bool IsNumber(lua_State* L, int index);
bool IsString(lua_State* L, int index);
bool IsTable(lua_State* L, int index);
bool IsFunction(lua_State* L, int index);
bool IsUserdata(lua_State* L, int index);

}  // namespace pub

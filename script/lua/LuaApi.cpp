#include "script/lua/LuaApi.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/Limits.h"

namespace pub {

using vrl::Ref;
using vrl::String;

void PushString(lua_State* L, String* text) {
  const std::string bytes = text ? text->ToUtf8String() : std::string();
  lua_pushlstring(L, bytes.data(), bytes.size());
}

Ref<String> ToString(lua_State* L, int index) {
  const int type = lua_type(L, index);
  if (type != LUA_TSTRING && type != LUA_TNUMBER) return Ref<String>(vrl::EmptyString());
  // A number is converted on a copy: lua_tolstring would turn the value in
  // place into a string.
  lua_pushvalue(L, index);
  std::size_t length = 0;
  const char* bytes = lua_tolstring(L, -1, &length);
  std::string text(bytes, length);
  lua_pop(L, 1);
  return String::FromUtf8(std::string_view(text));
}

void GetField(lua_State* L, int index, String* key) {
  const std::string name = key ? key->ToUtf8String() : std::string();
  lua_getfield(L, index, name.c_str());
}

void SetField(lua_State* L, int index, String* key) {
  const std::string name = key ? key->ToUtf8String() : std::string();
  lua_setfield(L, index, name.c_str());
}

void GetGlobal(lua_State* L, String* name) { GetField(L, LUA_GLOBALSINDEX, name); }
void SetGlobal(lua_State* L, String* name) { SetField(L, LUA_GLOBALSINDEX, name); }

bool IsBinaryChunk(const char* text, std::size_t length) {
  // Lua tells a binary chunk by its first byte alone (the escape character
  // that starts its signature), so that byte is what is refused.
  return length > 0 && text[0] == LUA_SIGNATURE[0];
}

namespace {

int LoadText(lua_State* L, std::string_view text, const char* chunkName) {
  if (IsBinaryChunk(text.data(), text.size())) {
    lua_pushliteral(L, "binary chunks are not accepted");
    return LUA_ERRSYNTAX;
  }
  if (text.size() > std::size_t(vrl::limits::kLuaSourceBytes)) {
    lua_pushliteral(L, "script too large");
    return LUA_ERRSYNTAX;
  }
  return luaL_loadbuffer(L, text.data(), text.size(), chunkName);
}

}  // namespace

int LoadString(lua_State* L, String* source, String* chunkName) {
  const std::string text = source ? source->ToUtf8String() : std::string();
  const std::string name = chunkName && chunkName->Length() > 0 ? chunkName->ToUtf8String() : text;
  return LoadText(L, text, name.c_str());
}

int LoadFile(lua_State* L, String* path) {
  const std::string file = path ? path->ToUtf8String() : std::string();
  const std::string name = "@" + file;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), &std::fclose);
  if (!in) {
    lua_pushfstring(L, "cannot open %s", file.c_str());
    return LUA_ERRFILE;
  }
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) text.append(buffer, got);
  if (std::ferror(in.get())) {
    lua_pushfstring(L, "cannot read %s", file.c_str());
    return LUA_ERRFILE;
  }
  // A first line starting with "#" (an interpreter line) is left out, as Lua
  // does; its line end stays so that line numbers keep counting from 1.
  std::string_view chunk = text;
  if (!chunk.empty() && chunk[0] == '#') {
    const std::size_t end = chunk.find('\n');
    chunk = end == std::string_view::npos ? std::string_view() : chunk.substr(end);
  }
  return LoadText(L, chunk, name.c_str());
}

bool IsNil(lua_State* L, int index) { return lua_type(L, index) == LUA_TNIL; }
bool IsNumber(lua_State* L, int index) { return lua_isnumber(L, index) != 0; }
bool IsString(lua_State* L, int index) { return lua_isstring(L, index) != 0; }
bool IsTable(lua_State* L, int index) { return lua_type(L, index) == LUA_TTABLE; }
bool IsFunction(lua_State* L, int index) { return lua_type(L, index) == LUA_TFUNCTION; }
bool IsUserdata(lua_State* L, int index) { return lua_isuserdata(L, index) != 0; }

}  // namespace pub

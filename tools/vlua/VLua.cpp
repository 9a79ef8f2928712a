// vlua SCRIPT [FUNCTION [ARGS...]]: runs the Lua script in the file SCRIPT
// (UTF-8 text) as a TLuaObject whose super object is a TList holding ARGS as
// strings, in order; the script reaches it as `super` and its methods by
// name (Count(), ValueAtIndex(0), ...). With FUNCTION, the instance's
// function of that name is then called with ARGS as string arguments and its
// result is printed on one line, `null` when it returns nothing (or there is
// no such function). A script that does not compile prints "Error loading
// script :" and the message; a runtime error prints "ERROR" and the message;
// both exit with status 1, as does a framework exception that no script
// catches (printed the same way) and a file that cannot be read. Bad
// arguments give a usage line and status 2.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "containers/List.h"
#include "runtime/Array.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "script/lua/LuaObject.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vlua SCRIPT [FUNCTION [ARGS...]]\n");
  return 2;
}

bool ReadFile(const char* path, std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path, "rb"), &std::fclose);
  if (!in) return false;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) text.append(buffer, got);
  return !std::ferror(in.get());
}

void PrintLine(vrl::String* text) {
  const std::string bytes = text->ToUtf8String();
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fputc('\n', stdout);
}

int Run(int argc, char** argv) {
  using namespace vrl;
  if (argc < 2) return Usage();
  std::string source;
  if (!ReadFile(argv[1], source)) {
    std::fprintf(stderr, "vlua: cannot read %s\n", argv[1]);
    return 1;
  }
  lua::Init();

  Ref<TList> super = New<TList>();
  const int first = 3;
  const int count = argc > first ? argc - first : 0;
  Ref<Array> args = Array::New("$", count);
  for (int i = 0; i < count; ++i) {
    Ref<String> arg = String::FromUtf8(std::string_view(argv[first + i]));
    super->AddLast(arg);
    args->SetObject(i, arg);
  }

  const int32_t errors = LuaErrorCount();
  try {
    Ref<TLuaClass> script = TLuaClass::Create(String::FromUtf8(std::string_view(source)));
    Ref<TLuaObject> instance = TLuaObject::Create(script, super);
    if (instance.IsNull() || LuaErrorCount() != errors) return 1;
    if (argc < 3) return 0;
    Ref<Object> result = instance->Invoke(String::FromUtf8(std::string_view(argv[2])), args);
    if (LuaErrorCount() != errors) return 1;
    if (result.IsNull()) {
      std::printf("null\n");
    } else {
      PrintLine(result->ToString());
    }
  } catch (const ThrownObject& e) {
    std::printf("ERROR\n");
    PrintLine(e.object()->ToString());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 2;
  vrl::RunGuarded([&] { status = Run(argc, argv); });
  std::fflush(stdout);
  return status;
}

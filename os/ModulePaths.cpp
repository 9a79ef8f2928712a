#include "os/ModulePaths.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "os/FileSystem.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/Startup.h"
#include "stream/NativePath.h"

namespace vrl {

namespace {

constexpr const char* kVariable = "VRLPATH";
constexpr std::u16string_view kMarker = u"bin/vmk";

using Text = std::u16string;

Text T(String* s) { return s ? Text(s->View()) : Text(); }
Ref<String> S(const Text& t) { return String::FromUnits(t); }

// Never destroyed: tools may ask from end handlers.
Ref<String>& Kept() {
  static auto* path = new Ref<String>;
  return *path;
}

// `directory` + "/" + `name`, without doubling the "/" of a root.
Text Join(const Text& directory, std::u16string_view name) {
  Text joined = directory;
  if (joined.empty() || joined.back() != u'/') joined += u'/';
  joined += name;
  return joined;
}

Ref<String> Searched() {
  Text path = T(AbsolutePath(ApplicationDirectory()));
  while (PathType(S(Join(path, kMarker))) != 1) {
    Text parent = T(PathDirectory(S(path)));
    if (parent == path) vrThrowText("Unable to locate Vorlith path");
    path = parent;
  }
  return S(path);
}

Text Ident(const Text& module) {
  auto dot = module.rfind(u'.');
  return dot == Text::npos ? module : module.substr(dot + 1);
}

Text FileOf(String* module, String* variant, std::u16string_view suffix) {
  Text v = T(variant);
  if (!v.empty() && v[0] != u'.') v.insert(v.begin(), u'.');
  return Join(T(ModulePath(module)), Ident(T(module))) + v + Text(suffix);
}

void Enumerate(const Text& module, TList* list) {
  Text directory = T(ModulePath(S(module)));
  Ref<Array> entries = ListDirectory(S(directory), 1);
  constexpr std::u16string_view kSuffix = u".mod";
  for (int32_t i = 0; i < entries->Length(); ++i) {
    Text entry = T(CastRaw<String>(entries->GetObject(i)));
    if (entry.size() < kSuffix.size() || !entry.ends_with(kSuffix)) continue;
    if (PathType(S(Join(directory, entry))) != 2) continue;
    Text name = entry.substr(0, entry.size() - kSuffix.size());
    if (!module.empty()) name.insert(0, module + u'.');
    // An entry called just ".mod" at the top would name the top itself and
    // be searched again and again.
    if (name.empty()) continue;
    auto dots = std::count(name.begin(), name.end(), u'.');
    if (dots == 1) list->AddLast(S(name));
    // Only a namespace can lead to modules: every name found below one that
    // holds a "." holds two or more and is never listed, so the search
    // stops there (which also keeps directory links from looping it).
    if (dots == 0) Enumerate(name, list);
  }
}

}  // namespace

void modulepaths::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  containers::Init();
  filesystem::Init();
}

Ref<String> FrameworkPath() {
  Ref<String>& kept = Kept();
  if (kept->Length() > 0) return kept;
  const char* variable = std::getenv(kVariable);
  if (variable && *variable) {
    kept = PathFromNative(variable);
    return kept;
  }
  Ref<String> found = Searched();
  std::optional<std::string> native = NativePath(found);
  if (native) setenv(kVariable, native->c_str(), 1);
  kept = found;
  return kept;
}

void ForgetFrameworkPath() { Kept() = Ref<String>(EmptyString()); }

Ref<String> ModulePath(String* module) {
  Text path = Join(T(FrameworkPath()), u"mod");
  Text name = T(module);
  if (!name.empty()) {
    path += u'/';
    for (char16_t c : name) {
      if (c == u'.')
        path += u".mod/";
      else
        path += c;
    }
    path += u".mod";
  }
  return S(path);
}

Ref<String> ModuleIdent(String* module) { return S(Ident(T(module))); }

Ref<String> ModuleSource(String* module) {
  return S(Join(T(ModulePath(module)), Ident(T(module))) + u".vls");
}

Ref<String> ModuleArchive(String* module, String* variant) { return S(FileOf(module, variant, u".a")); }

Ref<String> ModuleInterface(String* module, String* variant) { return S(FileOf(module, variant, u".i")); }

Ref<TList> EnumModules(String* module, TList* list) {
  Ref<TList> result = list ? Ref<TList>(list) : New<TList>();
  Enumerate(T(module), result);
  return result;
}

}  // namespace vrl

#include "runtime/Startup.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

#include "runtime/Array.h"
#include "runtime/Fault.h"
#include "runtime/NativeText.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"

namespace vrl {

namespace {

struct Globals {
  Ref<String> launchDirectory;
  Ref<String> applicationFile;
  Ref<String> applicationDirectory;
  Ref<String> applicationTitle;
  Ref<Array> applicationArguments;
};

// Never destroyed: end handlers and static destructors of other modules may
// still read the globals while the process exits.
Globals& G() {
  static Globals* globals = new Globals;
  return *globals;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string ProgramFile() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) return {buffer.data(), std::size_t(length)};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string WithForwardSlashes(std::string_view path) {
  std::string result(path);
  for (char& c : result)
    if (c == '\\') c = '/';
  return result;
}

std::string ApplicationDirectoryOf(std::string_view path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash > 0 && path[slash - 1] == ':') return std::string(path.substr(0, slash + 1));
  return std::string(path.substr(0, slash));
}

void SetApplicationPaths(std::string_view launchDirectory, std::string_view programFile) {
  Globals& g = G();
  // "/", ":" and "\\" are single bytes in UTF-8 and never part of a longer
  // sequence, so the paths are worked on as bytes and decoded last.
  g.launchDirectory = TextFromNative(WithForwardSlashes(launchDirectory));
  std::string file = WithForwardSlashes(programFile);
  g.applicationFile = TextFromNative(file);
  g.applicationDirectory = TextFromNative(ApplicationDirectoryOf(file));
}

void InitApplicationGlobals(int argc, char** argv) {
  Globals& g = G();
  SetApplicationPaths(CurrentDirectory(), ProgramFile());
  g.applicationTitle = String::FromNarrowChars("Vorlith Application");

  Ref<Array> arguments = Array::New("$", argc > 0 && argv ? argc : 0);
  for (int i = 0; i < arguments->Length(); ++i)
    arguments->SetObject(i, String::FromNarrowChars(argv[i] ? argv[i] : ""));
  g.applicationArguments = arguments;
}

void EnterApplicationDirectory() {
  std::optional<std::string> directory = NativeText(G().applicationDirectory.get());
  // Should this fail, the program still runs, with relative paths naming
  // files in the launch directory.
  if (!directory || directory->empty() || chdir(directory->c_str()) != 0) return;
}

void StartProgram(int argc, char** argv, void* stackBase) {
  InstallFaultHandler();
  StartRuntime(stackBase, argc, argv);
  EnterApplicationDirectory();
}

String* LaunchDirectory() { return G().launchDirectory.get(); }
String* ApplicationFile() { return G().applicationFile.get(); }
String* ApplicationDirectory() { return G().applicationDirectory.get(); }
String* ApplicationTitle() { return G().applicationTitle.get(); }
void SetApplicationTitle(String* title) { G().applicationTitle = title ? title : EmptyString(); }
Array* ApplicationArguments() { return G().applicationArguments.get(); }

void End() { std::exit(0); }

bool RegisterEndHandler(void (*handler)()) { return std::atexit(handler) == 0; }

}  // namespace vrl

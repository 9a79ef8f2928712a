// Program start and end, and the application globals that start-up sets.
//
// A program's main calls StartProgram; test executables and benchmarks call
// the lighter StartRuntime (runtime/Runtime.h), which sets the same globals
// but neither changes the current directory nor installs the fault handler.
#pragma once

#include <string>
#include <string_view>

namespace vrl {

class Array;
class String;

/// Starts a program on the main thread: installs the fault handler, starts the
/// runtime with the command line (StartRuntime) and makes the application
/// directory the current directory, so that relative paths name files beside
/// the program. `stackBase` as for StartRuntime.
void StartProgram(int argc, char** argv, void* stackBase);

/// Sets the application globals below from the process and its command line.
/// Part of StartRuntime.
void InitApplicationGlobals(int argc, char** argv);
/// Sets the launch directory, the application file and the application
/// directory from the system's names for the first two (bytes, UTF-8 on
/// Linux), decoded as the file layer decodes file names
/// (runtime/NativeText.h). Part of InitApplicationGlobals.
void SetApplicationPaths(std::string_view launchDirectory, std::string_view programFile);
/// Changes to the application directory (nothing when it is empty).
void EnterApplicationDirectory();

/// The application globals; each is the empty string (the empty array) until
/// start-up. The current directory at start, and the program file's full path,
/// both with "/" for every backslash; the directory of the program file
/// (ApplicationDirectoryOf); the title "Vorlith Application"; the command line
/// as an array of tag "$", the program name first.
String* LaunchDirectory();
String* ApplicationFile();
String* ApplicationDirectory();
String* ApplicationTitle();
void SetApplicationTitle(String* title);
Array* ApplicationArguments();

/// Every backslash turned into "/".
std::string WithForwardSlashes(std::string_view path);
/// The path up to its last "/"; the "/" is kept when the character before it
/// is ":" (a drive root, "C:/"); the empty string when there is no "/".
std::string ApplicationDirectoryOf(std::string_view path);

/// Ends the process with exit status 0; registered end handlers run.
[[noreturn]] void End();
/// Registers a function to run at process exit; handlers run in the reverse
/// order of registration. Returns false when no more can be registered.
bool RegisterEndHandler(void (*handler)());

}  // namespace vrl

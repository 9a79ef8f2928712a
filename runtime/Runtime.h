// The runtime module: its initialisation (which registers the classes of the
// object model and the runtime exceptions) and the start of the runtime on
// the main thread.
#pragma once

namespace vrl {

/// Once-only module initialisation: every module's Init() starts with
///   static bool initialised = false;
///   if (!BeginModuleInit(initialised)) return;
/// The flag is set before anything else, so import cycles terminate.
inline bool BeginModuleInit(bool& initialised) {
  if (initialised) return false;
  initialised = true;
  return true;
}

namespace runtime {
/// Registers Object, String, Array and the runtime exception classes.
void Init();
}  // namespace runtime

/// Starts the runtime on the calling (main) thread: records `stackBase` (an
/// address in the caller's frame, above everything the collector must see),
/// routes uncaught throws to the unhandled-exception hook, makes the caller
/// the main thread of the thread registry, sets the application globals from
/// the command line (runtime/Startup.h) and initialises the runtime module.
/// It neither changes the current directory nor installs the fault handler:
/// programs start with StartProgram (runtime/Startup.h), which does both.
void StartRuntime(void* stackBase, int argc = 0, char** argv = nullptr);

}  // namespace vrl

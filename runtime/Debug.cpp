#include "runtime/Debug.h"

#include <atomic>

namespace vrl {

namespace {

void NoStop() {}
void NoLog(String*) {}

// Atomic, so that a signal handler on any thread reads a whole pointer.
std::atomic<DebugStopHook> gStopHook{&NoStop};
std::atomic<bool> gStopHookIsSignalSafe{true};
std::atomic<DebugLogHook> gLogHook{&NoLog};

}  // namespace

void SetDebugStopHook(DebugStopHook hook, bool asyncSignalSafe) {
  // Mark the hook unsafe before swapping it in, so that a fault in between
  // never runs an unsafe hook from the signal handler.
  gStopHookIsSignalSafe = false;
  gStopHook = hook ? hook : &NoStop;
  gStopHookIsSignalSafe = hook ? asyncSignalSafe : true;
}

void SetDebugLogHook(DebugLogHook hook) { gLogHook = hook ? hook : &NoLog; }

void vrDebugStop() { gStopHook.load()(); }
void vrDebugLog(String* text) { gLogHook.load()(text); }

void DebugStopFromSignalHandler() {
  if (gStopHookIsSignalSafe.load()) gStopHook.load()();
}

}  // namespace vrl

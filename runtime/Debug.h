// Debug hooks: a debug-stop operation (a breakpoint for a debugger or a
// diagnostic tool) and a debug-log operation. Both call replaceable hooks
// whose defaults do nothing.
#pragma once

namespace vrl {

class String;

using DebugStopHook = void (*)();
using DebugLogHook = void (*)(String* text);

/// Replaces the debug-stop hook (nullptr restores the default). The fault
/// handler runs it from a signal handler only when `asyncSignalSafe` is true,
/// that is when the hook uses nothing but async-signal-safe calls.
void SetDebugStopHook(DebugStopHook hook, bool asyncSignalSafe = false);
/// Replaces the debug-log hook (nullptr restores the default).
void SetDebugLogHook(DebugLogHook hook);

void vrDebugStop();
void vrDebugLog(String* text);

/// For the fault handler: runs the debug-stop hook if it was declared
/// async-signal-safe, otherwise does nothing.
void DebugStopFromSignalHandler();

}  // namespace vrl

// The process fault handler: a processor fault that nothing handles (an
// access through a bad pointer, a division by zero, a stack overflow, a trap)
// is reported on standard error by the platform's name for the exception,
// "Windows exception: EXCEPTION_ACCESS_VIOLATION" for example, and ends the
// process with exit status 128 + the signal number, so that a crash never
// looks like success.
//
// The handler runs on an alternate signal stack (so a stack overflow can be
// reported) and uses only async-signal-safe calls: write(2), _exit and the
// debug-stop hook when that hook is declared async-signal-safe.
#pragma once

namespace vrl {

/// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGTRAP and
/// gives the calling thread an alternate signal stack. Called once by the
/// program start, on the main thread. Threads that the runtime starts
/// afterwards get their own alternate stack.
void InstallFaultHandler();
bool FaultHandlerInstalled();

/// Per-thread preparation, done by the runtime's thread start routine: records
/// the thread's stack limits (to tell a stack overflow from other access
/// violations) and, when the handler is installed, sets up an alternate signal
/// stack. Finish releases that stack; call it on the same thread.
void PrepareThreadForFaults();
void FinishThreadForFaults();

/// The exception name for a signal, its si_code and fault address.
const char* FaultName(int signal, int code, const void* address);

}  // namespace vrl

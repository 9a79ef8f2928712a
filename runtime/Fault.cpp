#include "runtime/Fault.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/Debug.h"

namespace vrl {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
// Room for the handler, with a margin for the sanitizers' runtime.
constexpr std::size_t kAltStackSize = std::size_t{64} * 1024;
// Linux keeps a gap of 256 pages below a growing stack; a fault there, or
// just above the lowest usable address, is an overflow.
constexpr uintptr_t kGuardBelow = uintptr_t{1024} * 1024;
constexpr uintptr_t kGuardAbove = uintptr_t{64} * 1024;

std::atomic<bool> gInstalled{false};

// The calling thread's lowest usable stack address (0 when unknown) and its
// alternate signal stack. Plain thread-locals in the executable are read
// without a call, so the handler may use them.
thread_local uintptr_t tStackLow = 0;
thread_local void* tAltStack = nullptr;

void RecordStackLimits() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  void* low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0) tStackLow = reinterpret_cast<uintptr_t>(low);
  pthread_attr_destroy(&attr);
}

void SetUpAltStack() {
  if (tAltStack) return;
  void* area = std::malloc(kAltStackSize);
  if (!area) return;
  stack_t stack{};
  stack.ss_sp = area;
  stack.ss_size = kAltStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    std::free(area);
    return;
  }
  tAltStack = area;
}

void WriteText(const char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0) {
    ssize_t written = write(STDERR_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

void OnFault(int signal, siginfo_t* info, void*) {
  WriteText("Windows exception: ");
  WriteText(FaultName(signal, info->si_code, info->si_addr));
  WriteText("\n");
  DebugStopFromSignalHandler();
  _exit(128 + signal);
}

}  // namespace

const char* FaultName(int signal, int code, const void* address) {
  switch (signal) {
    case SIGSEGV: {
      auto a = reinterpret_cast<uintptr_t>(address);
      if (tStackLow && a < tStackLow + kGuardAbove && a + kGuardBelow >= tStackLow)
        return "EXCEPTION_STACK_OVERFLOW";
      return "EXCEPTION_ACCESS_VIOLATION";
    }
    case SIGBUS:
      return code == BUS_ADRALN ? "EXCEPTION_DATATYPE_MISALIGNMENT" : "EXCEPTION_IN_PAGE_ERROR";
    case SIGILL:
      return code == ILL_PRVOPC ? "EXCEPTION_PRIV_INSTRUCTION" : "EXCEPTION_ILLEGAL_INSTRUCTION";
    case SIGFPE:
      switch (code) {
        case FPE_INTDIV:
          return "EXCEPTION_INT_DIVIDE_BY_ZERO";
        case FPE_INTOVF:
          return "EXCEPTION_INT_OVERFLOW";
        case FPE_FLTDIV:
          return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
        case FPE_FLTOVF:
          return "EXCEPTION_FLT_OVERFLOW";
        case FPE_FLTUND:
          return "EXCEPTION_FLT_UNDERFLOW";
        case FPE_FLTRES:
          return "EXCEPTION_FLT_INEXACT_RESULT";
        case FPE_FLTINV:
          return "EXCEPTION_FLT_INVALID_OPERATION";
        default:
          return "EXCEPTION_UNKNOWN";
      }
    case SIGTRAP:
      return "EXCEPTION_BREAKPOINT";
    default:
      return "EXCEPTION_UNKNOWN";
  }
}

void InstallFaultHandler() {
  RecordStackLimits();
  SetUpAltStack();
  struct sigaction action {};
  action.sa_sigaction = &OnFault;
  // SA_RESETHAND: a fault inside the handler ends the process the default way.
  // The flags are an int; SA_RESETHAND is its sign bit.
  action.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (int signal : kFaultSignals) sigaction(signal, &action, nullptr);
  gInstalled = true;
}

bool FaultHandlerInstalled() { return gInstalled; }

void PrepareThreadForFaults() {
  RecordStackLimits();
  if (gInstalled) SetUpAltStack();
}

void FinishThreadForFaults() {
  if (!tAltStack) return;
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  std::free(tAltStack);
  tAltStack = nullptr;
}

}  // namespace vrl

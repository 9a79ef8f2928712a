// The thread registry on POSIX threads.
//
// The runtime knows every thread it starts, plus the main thread (the one
// that started the runtime). Each has a ThreadRecord: its entry function,
// 32 thread-data slots, the stack base that the collector scans up to, and,
// while it is suspended, its saved registers and stack pointer.
//
// Threads are created suspended: a new thread waits at a start gate and runs
// its entry only after vrThreadResume. Suspending a running thread sends it a
// signal whose handler saves its registers into the record and waits until
// the thread is resumed (as conservative collectors do on POSIX); the
// collector itself scans only its own thread.
//
// The registry operations are thread-safe. Objects are not: an object
// belongs to the thread that uses it, and the allocator must not be used by
// two threads at once (see runtime/Memory.h).
#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

#include <csetjmp>
#include <cstdint>

namespace vrl {

class Object;

/// A thread's entry; its result is the thread's exit code.
using ThreadEntry = intptr_t (*)(void* data);

inline constexpr int kThreadDataSlots = 32;

struct ThreadRecord {
  /// A record stays where it was made: its semaphores and the thread's own
  /// pointer to it cannot follow a copy.
  ThreadRecord() = default;
  ThreadRecord(const ThreadRecord&) = delete;
  ThreadRecord& operator=(const ThreadRecord&) = delete;
  ThreadRecord(ThreadRecord&&) = delete;
  ThreadRecord& operator=(ThreadRecord&&) = delete;
  ~ThreadRecord() = default;

  ThreadRecord* next = nullptr;  // link in the running or the finished list
  ThreadEntry entry = nullptr;
  void* data = nullptr;
  /// Thread-data slots; slot 0 is never handed out. Not counted references.
  Object* slots[kThreadDataSlots] = {};
  bool detached = false;
  void* stackBase = nullptr;
  /// Filled while the thread is suspended by a signal: its registers and the
  /// lowest address of its stack that holds live data (the signal frame,
  /// which holds every register, lies between it and the stack base).
  sigjmp_buf registers{};
  void* stackPointer = nullptr;
  pthread_t handle{};
  pid_t threadId = 0;
  intptr_t exitCode = 0;

  /// Suspension state, guarded by the registry lock.
  int suspendCount = 0;  // a new thread starts at 1, waiting at the gate
  bool started = false;  // the start gate is open
  bool finished = false;
  bool joined = false;
  sem_t gate{};     // the start gate
  sem_t resumed{};  // posted to let a signal-suspended thread continue
  sem_t parked{};   // posted by the signal handler once the registers are saved
};

/// Creates a thread that will run entry(data), suspended; it runs once
/// vrThreadResume is called on it. An object thrown out of the entry reaches
/// the unhandled-exception hook. The record stays valid until the thread has
/// ended and has been detached (or waited for).
ThreadRecord* vrThreadCreate(ThreadEntry entry, void* data);
/// Marks the record to be freed once its thread has ended. Do not use the
/// record afterwards.
void vrThreadDetach(ThreadRecord* thread);
/// Waits for the thread to end and returns its exit code; the record counts
/// as detached afterwards. On failure (a detached thread, a failed join)
/// writes "ERROR! vrThreadWait: WaitForSingleObject failed!" and
/// "LastError=<code>" on standard output and returns 0.
intptr_t vrThreadWait(ThreadRecord* thread);

/// The caller's record (nullptr on a thread that the runtime did not start);
/// the main thread's record.
ThreadRecord* vrCurrentThread();
ThreadRecord* vrMainThread();
/// True on the thread that started the runtime.
bool vrIsMainThread();

/// Suspensions nest: a thread runs when every suspension has been resumed.
/// Suspending returns once the thread has stopped and its registers are in
/// its record. Do not suspend a thread that may hold a lock the suspender
/// needs (the allocator's or stdio's, for example).
void vrThreadSuspend(ThreadRecord* thread);
void vrThreadResume(ThreadRecord* thread);
/// Suspend or resume every other running thread that the runtime knows.
void vrSuspendOtherThreads();
void vrResumeOtherThreads();

/// The next free thread-data slot, 1 to 31; 0 when none is left.
int vrThreadDataAlloc();
/// The calling thread's slot; an unset slot, an invalid number or a thread
/// the runtime does not know reads as Null.
Object* vrThreadDataGet(int slot);
void vrThreadDataSet(int slot, Object* value);

/// Atomic operations on a 32-bit word. Compare-and-swap stores `desired` when
/// the word holds `expected`; both return the word's previous value.
int32_t vrAtomicCompareAndSwap(int32_t* word, int32_t expected, int32_t desired);
int32_t vrAtomicAdd(int32_t* word, int32_t delta);

/// Makes the calling thread the main thread, gives it a record whose stack
/// base is `stackBase` and installs the handler of the suspension signal
/// (SIGUSR2, which the program must leave to the runtime). Called by the
/// runtime's start; later calls do nothing.
void InitThreads(void* stackBase);

}  // namespace vrl

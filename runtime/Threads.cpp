#include "runtime/Threads.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "runtime/Exceptions.h"
#include "runtime/Fault.h"
#include "runtime/Memory.h"
#include "runtime/Object.h"

namespace vrl {

namespace {

// The signal that suspends a thread. Installed without SA_ONSTACK, so the
// signal frame with the thread's registers lands on the thread's own stack,
// between its saved stack pointer and its stack base.
constexpr int kSuspendSignal = SIGUSR2;

std::mutex gLock;  // guards both lists and every record's suspension state
ThreadRecord* gRunning = nullptr;
ThreadRecord* gFinished = nullptr;
ThreadRecord* gMain = nullptr;
std::atomic<int> gNextSlot{1};

// A pointer with constant initialisation: read by the signal handler without
// any call.
thread_local ThreadRecord* tCurrent = nullptr;

// sem_wait returns early when a signal arrives (a suspension, for one).
void WaitOn(sem_t* semaphore) {
  while (sem_wait(semaphore) != 0 && errno == EINTR) {
  }
}

void Unlink(ThreadRecord** list, ThreadRecord* record) {
  for (ThreadRecord** p = list; *p; p = &(*p)->next) {
    if (*p == record) {
      *p = record->next;
      record->next = nullptr;
      return;
    }
  }
}

ThreadRecord* NewRecord() {
  auto* record = new ThreadRecord();
  sem_init(&record->gate, 0, 0);
  sem_init(&record->resumed, 0, 0);
  sem_init(&record->parked, 0, 0);
  return record;
}

void FreeRecord(ThreadRecord* record) {
  sem_destroy(&record->gate);
  sem_destroy(&record->resumed);
  sem_destroy(&record->parked);
  delete record;
}

// Runs on the suspended thread. Only async-signal-safe work: save the
// registers, tell the suspender, wait to be resumed.
void OnSuspendSignal(int, siginfo_t*, void*) {
  int savedErrno = errno;
  ThreadRecord* self = tCurrent;
  if (self) {
    sigsetjmp(self->registers, 0);
    self->stackPointer = __builtin_frame_address(0);
    sem_post(&self->parked);
    WaitOn(&self->resumed);
    self->stackPointer = nullptr;
  }
  errno = savedErrno;
}

// Stops a started, running thread; the lock is held by the caller. The
// caller waits until the handler has saved the registers.
void SignalSuspend(ThreadRecord* thread) {
  if (pthread_kill(thread->handle, kSuspendSignal) == 0) WaitOn(&thread->parked);
}

void* ThreadStart(void* argument) {
  auto* self = static_cast<ThreadRecord*>(argument);
  tCurrent = self;
  self->threadId = gettid();
  self->stackBase = __builtin_frame_address(0);
  sem_post(&self->parked);  // the creator waits for the fields above
  WaitOn(&self->gate);

  GCSetStackBase(self->stackBase);
  PrepareThreadForFaults();
  RunGuarded([self] { self->exitCode = self->entry(self->data); });
  FinishThreadForFaults();

  std::unique_lock lock(gLock);
  Unlink(&gRunning, self);
  self->finished = true;
  tCurrent = nullptr;
  if (self->detached) {
    lock.unlock();
    FreeRecord(self);
  } else {
    self->next = gFinished;
    gFinished = self;
  }
  return nullptr;
}

}  // namespace

void InitThreads(void* stackBase) {
  std::lock_guard lock(gLock);
  if (gMain) return;
  struct sigaction action {};
  action.sa_sigaction = &OnSuspendSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(kSuspendSignal, &action, nullptr);

  ThreadRecord* record = NewRecord();
  record->handle = pthread_self();
  record->threadId = gettid();
  record->stackBase = stackBase;
  record->started = true;
  record->next = gRunning;
  gRunning = record;
  gMain = record;
  tCurrent = record;
}

ThreadRecord* vrThreadCreate(ThreadEntry entry, void* data) {
  ThreadRecord* record = NewRecord();
  record->entry = entry;
  record->data = data;
  record->suspendCount = 1;
  if (pthread_create(&record->handle, nullptr, &ThreadStart, record) != 0) {
    FreeRecord(record);
    return nullptr;
  }
  WaitOn(&record->parked);

  std::lock_guard lock(gLock);
  // Records of ended threads that nobody will ask about again.
  for (ThreadRecord** p = &gFinished; *p;) {
    ThreadRecord* old = *p;
    if (old->detached) {
      *p = old->next;
      FreeRecord(old);
    } else {
      p = &old->next;
    }
  }
  record->next = gRunning;
  gRunning = record;
  return record;
}

void vrThreadDetach(ThreadRecord* thread) {
  if (!thread) return;
  std::unique_lock lock(gLock);
  if (thread->detached) return;
  thread->detached = true;
  if (!thread->joined && thread != gMain) pthread_detach(thread->handle);
}

intptr_t vrThreadWait(ThreadRecord* thread) {
  int error = EINVAL;
  if (thread) {
    {
      std::lock_guard lock(gLock);
      if (thread->detached) thread = nullptr;
    }
    if (thread) error = pthread_join(thread->handle, nullptr);
  }
  if (!thread || error != 0) {
    std::printf("ERROR! vrThreadWait: WaitForSingleObject failed!\n");
    std::printf("LastError=%i\n", error);
    std::fflush(stdout);
    return 0;
  }
  std::lock_guard lock(gLock);
  thread->joined = true;
  thread->detached = true;
  return thread->exitCode;
}

ThreadRecord* vrCurrentThread() { return tCurrent; }
ThreadRecord* vrMainThread() { return gMain; }
bool vrIsMainThread() { return gMain && tCurrent == gMain; }

void vrThreadSuspend(ThreadRecord* thread) {
  if (!thread) return;
  std::unique_lock lock(gLock);
  if (thread->finished) return;
  if (thread->suspendCount++ > 0 || !thread->started) return;
  if (thread == tCurrent) {
    // The handler parks this very thread: it must not hold the lock that
    // its resumer needs.
    lock.unlock();
    if (pthread_kill(thread->handle, kSuspendSignal) == 0) WaitOn(&thread->parked);
    return;
  }
  SignalSuspend(thread);
}

void vrThreadResume(ThreadRecord* thread) {
  if (!thread) return;
  std::lock_guard lock(gLock);
  if (thread->finished || thread->suspendCount == 0) return;
  if (--thread->suspendCount > 0) return;
  if (!thread->started) {
    thread->started = true;
    sem_post(&thread->gate);
  } else {
    sem_post(&thread->resumed);
  }
}

// Threads still waiting at their start gate are left alone: they hold no
// references yet, and resuming them here would start them.
void vrSuspendOtherThreads() {
  std::lock_guard lock(gLock);
  for (ThreadRecord* r = gRunning; r; r = r->next) {
    if (r == tCurrent || !r->started) continue;
    if (r->suspendCount++ == 0) SignalSuspend(r);
  }
}

void vrResumeOtherThreads() {
  std::lock_guard lock(gLock);
  for (ThreadRecord* r = gRunning; r; r = r->next) {
    if (r == tCurrent || !r->started || r->suspendCount == 0) continue;
    if (--r->suspendCount == 0) sem_post(&r->resumed);
  }
}

int vrThreadDataAlloc() {
  int slot = gNextSlot.load();
  while (slot < kThreadDataSlots) {
    if (gNextSlot.compare_exchange_weak(slot, slot + 1)) return slot;
  }
  return 0;
}

Object* vrThreadDataGet(int slot) {
  ThreadRecord* self = tCurrent;
  if (!self || slot < 0 || slot >= kThreadDataSlots || !self->slots[slot]) return Null();
  return self->slots[slot];
}

void vrThreadDataSet(int slot, Object* value) {
  ThreadRecord* self = tCurrent;
  if (!self || slot < 0 || slot >= kThreadDataSlots) return;
  self->slots[slot] = value;
}

int32_t vrAtomicCompareAndSwap(int32_t* word, int32_t expected, int32_t desired) {
  // On failure compare_exchange stores the word's value into `expected`; on
  // success it was equal to it: either way `expected` is the previous value.
  std::atomic_ref<int32_t>(*word).compare_exchange_strong(expected, desired);
  return expected;
}

int32_t vrAtomicAdd(int32_t* word, int32_t delta) { return std::atomic_ref<int32_t>(*word).fetch_add(delta); }

}  // namespace vrl

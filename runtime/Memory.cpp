#include "runtime/Memory.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "runtime/Exceptions.h"
#include "runtime/Object.h"
#include "runtime/String.h"

#if defined(VRL_SANITIZE)
#include <sanitizer/asan_interface.h>
#define VRL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VRL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define VRL_POISON(p, n) ((void)(p), (void)(n))
#define VRL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace vrl {

namespace {

constexpr std::size_t kLargestSmallBlock = 240;
constexpr std::size_t kSizeClasses = 16;  // 1..15 used: 16 to 240 bytes
constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
constexpr std::size_t kAutoCollectBytes = 0x100000;
constexpr int kInitialThreshold = 500;
constexpr std::size_t kQueueGrowth = 1024;
constexpr std::size_t kQueueEntrySize = sizeof(void*);  // the queue holds object pointers
// Raw blocks of a large page or more (a decoded song, a picture, the card's
// grid) start on a large-page boundary and ask for the system's 2 MiB pages
// where it offers them.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

// Page table: one bitmap per 512 KiB of address space (address >> 19), one
// bit per 16 bytes. The page numbers of a 48-bit address space are split over
// two levels so that the table stays sparse.
constexpr unsigned kPageShift = 19;
constexpr unsigned kLeafBits = 15;
constexpr std::size_t kRootEntries = std::size_t(1) << (48 - kPageShift - kLeafBits);
constexpr std::size_t kLeafEntries = std::size_t(1) << kLeafBits;
constexpr std::size_t kBitmapWords = 1024;  // 4096 bytes

using Bitmap = uint32_t[kBitmapWords];

struct FreeBlock {
  FreeBlock* next;
};

// All allocator state is plain data, so it outlives every static destructor
// that may still release an object at exit.
struct State {
  FreeBlock* freeLists[kSizeClasses];
  char* chunk;
  std::size_t chunkLeft;
  Bitmap** pages[kRootEntries];
  std::size_t bytesAllocated;
  Object** queue;
  std::size_t queueLength;
  std::size_t queueCapacity;
  int mode;
  int threshold;
  std::size_t bytesSinceCollect;
  int busy;
  bool debug;
  void** roots;
  std::size_t rootsCapacity;
  std::size_t lastFreed;
  std::size_t lastScanned;
  std::size_t lastRoots;
  bool freeing;  // the collector is running a free entry
};

constinit State g = {{}, nullptr, 0,     {},      0, nullptr, 0, 0, 1,    kInitialThreshold,
                     0,  0,       false, nullptr, 0, 0,       0, 0, false};

// The recorded range of the calling thread's stack: from the lowest address
// of its stack up to the base. A collection runs only when its own frame lies
// inside it; elsewhere (above the base once main has returned, or on another
// stack) the scan would miss every reference, or read unmapped memory.
thread_local void* tStackBase = nullptr;
thread_local uintptr_t tStackLow = 0;

// The calling thread's stack, [low, high). The answer does not change for the
// life of a thread, and reading it for the main thread parses
// /proc/self/maps, so it is read once per thread.
struct StackBounds {
  bool known = false;
  bool read = false;
  uintptr_t low = 0;
  uintptr_t high = 0;
};
thread_local StackBounds tStackBounds;

const StackBounds& ThreadStackBounds() {
  StackBounds& bounds = tStackBounds;
  if (bounds.read) return bounds;
  bounds.read = true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return bounds;
  void* low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0 && size) {
    bounds.low = reinterpret_cast<uintptr_t>(low);
    bounds.high = bounds.low + size;
    bounds.known = true;
  }
  pthread_attr_destroy(&attr);
  return bounds;
}

bool InRecordedStack(const void* frame) {
  auto at = reinterpret_cast<uintptr_t>(frame);
  return tStackBase && at >= tStackLow && at < reinterpret_cast<uintptr_t>(tStackBase);
}

uint32_t* BitWord(const void* address, bool create, uint32_t* mask) {
  auto a = reinterpret_cast<uintptr_t>(address);
  uintptr_t page = a >> kPageShift;
  if (page >= kRootEntries * kLeafEntries) return nullptr;
  Bitmap**& leaf = g.pages[page >> kLeafBits];
  if (!leaf) {
    if (!create) return nullptr;
    leaf = static_cast<Bitmap**>(std::calloc(kLeafEntries, sizeof(Bitmap*)));
    if (!leaf) throw std::bad_alloc();
  }
  Bitmap*& bitmap = leaf[page & (kLeafEntries - 1)];
  if (!bitmap) {
    if (!create) return nullptr;
    bitmap = static_cast<Bitmap*>(std::calloc(1, sizeof(Bitmap)));
    if (!bitmap) throw std::bad_alloc();
  }
  *mask = uint32_t(1) << ((a >> 4) & 31);
  return &(*bitmap)[(a >> 9) & (kBitmapWords - 1)];
}

void PushFree(void* block, std::size_t sizeClass) {
  auto* b = static_cast<FreeBlock*>(block);
  VRL_UNPOISON(b, sizeof(FreeBlock));
  b->next = g.freeLists[sizeClass];
  g.freeLists[sizeClass] = b;
  VRL_POISON(block, sizeClass * 16);
}

void* PopFree(std::size_t sizeClass) {
  FreeBlock* b = g.freeLists[sizeClass];
  if (!b) return nullptr;
  VRL_UNPOISON(b, sizeClass * 16);
  g.freeLists[sizeClass] = b->next;
  return b;
}

void* CarveSmall(std::size_t sizeClass) {
  std::size_t bytes = sizeClass * 16;
  if (g.chunkLeft < bytes) {
    // The remainder of the old chunk is always a multiple of 16: it goes on
    // the free list of its own size class.
    if (g.chunkLeft) PushFree(g.chunk, g.chunkLeft / 16);
    g.chunk = static_cast<char*>(vrRawAlloc(kChunkSize));
    if (!g.chunk) {
      g.chunkLeft = 0;
      return nullptr;
    }
    g.chunkLeft = kChunkSize;
    VRL_POISON(g.chunk, kChunkSize);
  }
  void* block = g.chunk;
  g.chunk += bytes;
  g.chunkLeft -= bytes;
  VRL_UNPOISON(block, bytes);
  return block;
}

}  // namespace

// The collector's access to the counts lives in this class, a friend of Object.
class Collector {
 public:
  static void Queue(Object* object);
  // The bytes freed; `objectsFreed` (when given) receives the objects freed,
  // 0 when the collection did nothing.
  static std::size_t Collect(std::size_t* objectsFreed = nullptr);
  static void ScanAndCollect();
  static void Unqueue(void* block);

 private:
  static void ReleaseRoots(std::size_t rootCount);
};

void vrGCFree(Object* object) { Collector::Queue(object); }

void Collector::Queue(Object* object) {
  if (object->_refs != 0) vrThrowText("GC vrGCFree: mem has non-0 refs");
  object->_refs = kQueuedMark;
  if (g.queueLength == g.queueCapacity) {
    std::size_t capacity = g.queueCapacity + kQueueGrowth;
    auto* grown = static_cast<Object**>(std::realloc(g.queue, capacity * kQueueEntrySize));
    if (!grown) throw std::bad_alloc();
    g.queue = grown;
    g.queueCapacity = capacity;
  }
  g.queue[g.queueLength++] = object;
}

// Takes an object whose constructor failed out of the queue again.
void Collector::Unqueue(void* block) {
  for (std::size_t i = g.queueLength; i-- > 0;) {
    if (g.queue[i] == block) {
      g.queue[i] = nullptr;
      return;
    }
  }
}

// Reads raw stack words, some of them in the sanitizer's red zones.
// The scan starts at this function's own frame, below the caller's frame that
// holds the spilled registers.
__attribute__((noinline, no_sanitize_address)) void Collector::ScanAndCollect() {
  auto* from = static_cast<void* const*>(__builtin_frame_address(0));
  auto* to = static_cast<void* const*>(tStackBase);
  std::size_t words = to > from ? std::size_t(to - from) : 0;

  if (g.rootsCapacity < words + 4) {
    std::size_t capacity = std::max(words + 4, g.rootsCapacity + 1000);
    std::free(g.roots);
    g.roots = static_cast<void**>(std::malloc(capacity * sizeof(void*)));
    if (!g.roots) {
      g.rootsCapacity = 0;
      throw std::bad_alloc();
    }
    g.rootsCapacity = capacity;
  }
  std::size_t rootCount = 0;
  for (std::size_t i = 0; i < words; ++i) {
    void* word = from[i];
    if (IsLiveAllocation(word)) g.roots[rootCount++] = word;
  }

  for (std::size_t i = 0; i < rootCount; ++i) ++static_cast<Object*>(g.roots[i])->_refs;
  g.lastScanned = words;
  g.lastRoots = rootCount;

  // Freeing an object releases its fields, which may queue more objects:
  // the end of the queue is read anew at every step.
  std::size_t freed = 0;
  std::size_t i = 0;
  try {
    for (; i < g.queueLength; ++i) {
      Object* object = g.queue[i];
      if (!object) continue;
      if (!(object->_refs & kQueuedMark)) {
        std::printf("bad refs:obj=$%llx refs=$%x\n",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)), object->_refs);
        if (String* s = CastRaw<String>(object)) std::printf("String:%s\n", s->ToNarrow().c_str());
        std::fflush(stdout);
      }
      object->_refs &= ~kQueuedMark;
      if (object->_refs == 0) {
        g.freeing = true;
        object->Free();
        g.freeing = false;
        ++freed;
      }
    }
  } catch (...) {
    // A free entry threw. Entries up to the failing one have been handled
    // (freed, or kept by their counts) and leave the queue, the failing one
    // included, whatever its free entry got done: a leak is safe, a second
    // free is not. The entries after it, their queued marks intact, stay
    // queued for the next collection.
    g.freeing = false;
    std::size_t rest = g.queueLength - (i + 1);
    std::memmove(g.queue, g.queue + i + 1, rest * kQueueEntrySize);
    g.queueLength = rest;
    g.lastFreed = freed;
    ReleaseRoots(rootCount);
    throw;
  }
  g.queueLength = 0;
  g.lastFreed = freed;
  ReleaseRoots(rootCount);
}

// Takes back the count that the scan gave each root; a root that only the
// stack kept is queued again, for the collection after it is gone.
void Collector::ReleaseRoots(std::size_t rootCount) {
  for (std::size_t i = 0; i < rootCount; ++i) {
    auto* object = static_cast<Object*>(g.roots[i]);
    if (--object->_refs == 0) Queue(object);
  }
}

std::size_t Collector::Collect(std::size_t* objectsFreed) {
  if (objectsFreed) *objectsFreed = 0;
  if (g.busy || !InRecordedStack(__builtin_frame_address(0))) return 0;
  ++g.busy;
  std::size_t before = g.bytesAllocated;
  auto started = std::chrono::steady_clock::now();

  // Spill the callee-saved registers into this frame, which lies inside the
  // scanned range, so that references held only in registers are seen.
  jmp_buf registers;
  setjmp(registers);
  __builtin_unwind_init();
  struct BusyGuard {
    ~BusyGuard() {
      --g.busy;
      g.freeing = false;
    }
  } guard;
  ScanAndCollect();
  asm volatile("" : : "r"(&registers) : "memory");
  if (objectsFreed) *objectsFreed = g.lastFreed;

  std::size_t freedBytes = before - g.bytesAllocated;
  if (g.debug) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    std::printf("GC collectMem: memFreed=%i, time=%ims, objsFreed=%i, objsScanned=%i, objsLive=%i\n",
                static_cast<int>(freedBytes), static_cast<int>(ms), static_cast<int>(g.lastFreed),
                static_cast<int>(g.lastScanned), static_cast<int>(g.lastRoots));
    std::fflush(stdout);
  }
  return freedBytes;
}

void* vrAllocObject(std::size_t size) {
  if (g.mode == 1) {
    if (g.busy == 0) {
      g.bytesSinceCollect += size;
      if (g.bytesSinceCollect > kAutoCollectBytes || static_cast<long>(g.queueLength) > g.threshold) {
        std::size_t objectsFreed = 0;
        Collector::Collect(&objectsFreed);
        g.threshold = g.threshold + kInitialThreshold - static_cast<int>(objectsFreed);
        g.bytesSinceCollect = 0;
      }
    }
  } else if (g.mode == -1) {
    Collector::Collect();
  }
  if (size == 0) throw std::bad_alloc();

  void* block = nullptr;
  if (size > kLargestSmallBlock) {
    block = vrRawAlloc(size);
  } else {
    std::size_t sizeClass = (size + 15) / 16;
    block = PopFree(sizeClass);
    if (!block) block = CarveSmall(sizeClass);
  }
  if (!block) throw std::bad_alloc();
  g.bytesAllocated += size;
  return block;
}

void MarkLiveAllocation(const void* block) {
  uint32_t mask = 0;
  uint32_t* word = BitWord(block, true, &mask);
  if (!word) vrThrowText("setMemBit error: membit already set");
  if (*word & mask) vrThrowText("setMemBit error: membit already set");
  *word |= mask;
}

bool IsLiveAllocation(const void* address) {
  if (reinterpret_cast<uintptr_t>(address) & 15) return false;
  uint32_t mask = 0;
  uint32_t* word = BitWord(address, false, &mask);
  return word && (*word & mask);
}

void vrReleaseObject(void* block, std::size_t size) {
  uint32_t mask = 0;
  uint32_t* word = BitWord(block, false, &mask);
  if (!word) vrThrowText("clrMemBit error: mempage does not exist");
  bool wasSet = *word & mask;
  *word &= ~mask;
  if (!wasSet) vrThrowText("clrMemBit error: membit not set");
  if (size > kLargestSmallBlock) {
    vrRawFree(block);
  } else {
    PushFree(block, (size + 15) / 16);
  }
  g.bytesAllocated -= size;
}

// ---------------------------------------------------------------------------
// Object's allocation operators.

void* Object::operator new(std::size_t size) { return vrAllocObject(size); }

// Runs when the collector frees an object (through delete in Free), and when
// a constructor throws after the allocation: then the block may already be
// marked live and queued, and both are undone.
void Object::operator delete(void* block, std::size_t size) {
  uint32_t mask = 0;
  uint32_t* word = BitWord(block, false, &mask);
  if (word && (*word & mask)) {
    vrReleaseObject(block, size);
  } else if (size > kLargestSmallBlock) {
    vrRawFree(block);
    g.bytesAllocated -= size;
  } else {
    PushFree(block, (size + 15) / 16);
    g.bytesAllocated -= size;
  }
  if (!g.freeing) Collector::Unqueue(block);
}

// ---------------------------------------------------------------------------

std::size_t GCCollect() { return Collector::Collect(); }
void GCSetMode(int mode) { g.mode = mode; }
int GCMode() { return g.mode; }
void GCSetDebug(bool debug) { g.debug = debug; }
void GCSuspend() { ++g.busy; }
void GCResume() { --g.busy; }
std::size_t GCMemAlloced() { return g.bytesAllocated; }
std::size_t GCQueueLength() { return g.queueLength; }
int GCQueueThreshold() { return g.threshold; }
void GCSetQueueThreshold(int threshold) { g.threshold = threshold; }
std::size_t GCLastObjectsFreed() { return g.lastFreed; }
void GCSetStackBase(void* base) {
  // The range runs down to the lowest address of the calling thread's stack.
  // A base that does not lie on that stack gives an empty range, in which no
  // collection runs.
  const StackBounds& bounds = ThreadStackBounds();
  auto at = reinterpret_cast<uintptr_t>(base);
  tStackBase = base;
  tStackLow = 0;
  if (bounds.known) tStackLow = at > bounds.low && at <= bounds.high ? bounds.low : at;
}
void* GCStackBase() { return tStackBase; }

namespace {
// A large block is filled soon after it is allocated, and faulting it in one
// 4 KiB page at a time is costly: in a virtual machine each first touch of a
// page may also fault in the host, about 15 us, so a 23 MB sample took 90 ms
// to fill. Such a block starts on a large-page boundary and its whole 2 MiB
// pages are marked for large pages, which the kernel then fills 2 MiB at a
// fault (where it has them; otherwise nothing changes). Its last part, short
// of a large page, keeps small ones: nothing is filled that is not used.
void* AllocateRaw(std::size_t bytes) {
  if (bytes < kLargePage) return std::malloc(bytes);
  void* block = nullptr;
  if (posix_memalign(&block, kLargePage, bytes) != 0) return nullptr;
  madvise(block, bytes & ~(kLargePage - 1), MADV_HUGEPAGE);
  return block;
}
}  // namespace

void* vrRawAlloc(std::size_t size) {
  void* raw = AllocateRaw(size + 24);
  if (!raw) {
    GCCollect();
    raw = AllocateRaw(size + 24);
    if (!raw) return nullptr;
  }
  // The first 16-byte aligned address at least 8 bytes into the block; the
  // word just below it keeps the platform pointer.
  char* first = static_cast<char*>(raw) + 8;
  char* aligned = first + ((16 - (reinterpret_cast<uintptr_t>(first) & 15)) & 15);
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return aligned;
}

void vrRawFree(void* block) {
  if (!block) return;
  std::free(static_cast<void**>(block)[-1]);
}

void* vrRawRealloc(void* block, std::size_t oldSize, std::size_t newSize) {
  void* grown = vrRawAlloc(newSize);
  if (!grown) return nullptr;
  if (block) std::memcpy(grown, block, std::min(oldSize, newSize));
  vrRawFree(block);
  return grown;
}

}  // namespace vrl

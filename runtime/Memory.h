// Object memory: a small-block allocator, the release queue that counts
// dropping to zero feed, and the collection that frees queued objects which
// no word on the collecting thread's stack still points to.
//
// Objects are allocated in size classes of 16 bytes up to 240 bytes, carved
// from 64 KiB chunks; larger ones are raw blocks. A page bitmap records which
// 16-byte addresses start a live object, so that a stack word can be
// recognised as a reference during the conservative stack scan.
//
// Nothing here is thread-safe: objects belong to the thread that made them,
// and collections scan only the collecting thread's stack.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vrl {

class Object;

/// A block of `size` bytes for a new object (collects first when the automatic
/// thresholds are reached). The object's constructor marks it live and queues
/// it. Throws std::bad_alloc when memory is exhausted.
void* vrAllocObject(std::size_t size);

/// Returns the memory of a destroyed object of `size` bytes. Throws the text
/// "clrMemBit error: mempage does not exist" or "clrMemBit error: membit not
/// set" for a block that is not a live allocation.
void vrReleaseObject(void* block, std::size_t size);

/// Marks a constructed object's block as a live allocation. Throws the text
/// "setMemBit error: membit already set" when it is marked already.
void MarkLiveAllocation(const void* block);

/// 1 when the address is 16-byte aligned and starts a live allocation.
bool IsLiveAllocation(const void* address);

/// Runs a collection; returns the bytes freed. Does nothing (0) while
/// collection is suspended or running, before the thread's stack base is
/// recorded, and when called on a stack outside the recorded range (above the
/// base once main has returned, or on another stack), where the scan could
/// not see the references that the stack holds. A throw from an object's free
/// entry reaches the caller; the objects freed before it have left the queue,
/// the ones after it stay queued.
std::size_t GCCollect();

/// Collection mode: 1 automatic (the initial mode), -1 before every
/// allocation, anything else never automatically.
void GCSetMode(int mode);
int GCMode();
/// When set, each collection prints a statistics line on standard output.
void GCSetDebug(bool debug);
/// Suspend and resume nest; while suspended nothing is collected.
void GCSuspend();
void GCResume();

/// Bytes of objects handed out and not yet returned.
std::size_t GCMemAlloced();
/// Objects waiting in the release queue.
std::size_t GCQueueLength();
/// The queue length above which an automatic collection runs; it adapts:
/// threshold + 500 - objects freed by that collection.
int GCQueueThreshold();
void GCSetQueueThreshold(int threshold);
/// Statistics of the latest collection.
std::size_t GCLastObjectsFreed();

/// Records the base (highest address) of the calling thread's stack; the
/// collector scans from its own stack pointer up to it. The recorded range
/// runs from the lowest address of the thread's stack to the base; a base
/// that does not lie on the calling thread's stack records an empty range.
void GCSetStackBase(void* base);
void* GCStackBase();

/// Raw blocks: 16-byte aligned, from the platform allocator. A failed
/// allocation collects once and retries; then it gives nullptr.
void* vrRawAlloc(std::size_t size);
void vrRawFree(void* block);
void* vrRawRealloc(void* block, std::size_t oldSize, std::size_t newSize);

}  // namespace vrl

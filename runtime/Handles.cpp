#include "runtime/Handles.h"

#include "runtime/Object.h"

namespace vrl {

namespace {

constexpr uint32_t kBuckets = 1024;
// Internally handles advance in steps of 8; callers see the value / 8.
constexpr uint32_t kStep = 8;

struct Entry {
  Entry* next;
  Object* object;
  uint32_t handle;  // internal value
};

// Two chained hash tables, object -> handle and handle -> object; a handle
// has one entry in each. Entries are plain heap records, not objects, so the
// tables hold exactly the one reference that the handle owns.
Entry* gByObject[kBuckets];
Entry* gByHandle[kBuckets];
uint32_t gCounter = 0;

// Objects are 16-byte aligned: dividing by 16 uses every bucket on 64-bit.
uint32_t ObjectBucket(const Object* object) {
  return static_cast<uint32_t>((reinterpret_cast<uintptr_t>(object) / 16) % kBuckets);
}
uint32_t HandleBucket(uint32_t handle) { return handle % kBuckets; }

Entry* FindHandle(uint32_t handle) {
  for (Entry* e = gByHandle[HandleBucket(handle)]; e; e = e->next)
    if (e->handle == handle) return e;
  return nullptr;
}

void Unlink(Entry** head, Entry* entry) {
  for (Entry** p = head; *p; p = &(*p)->next) {
    if (*p == entry) {
      *p = entry->next;
      return;
    }
  }
}

}  // namespace

uint32_t vrHandleFromObject(Object* object) {
  if (IsNull(object)) return 0;
  Entry** objectChain = &gByObject[ObjectBucket(object)];
  for (Entry* e = *objectChain; e; e = e->next)
    if (e->object == object) return e->handle / kStep;

  // 0 means "no object"; after the counter wraps, values still in use are
  // skipped as well.
  do {
    gCounter += kStep;
  } while (gCounter == 0 || FindHandle(gCounter));

  object->Retain();
  auto* byObject = new Entry{*objectChain, object, gCounter};
  *objectChain = byObject;
  Entry** handleChain = &gByHandle[HandleBucket(gCounter)];
  *handleChain = new Entry{*handleChain, object, gCounter};
  return gCounter / kStep;
}

Object* vrObjectFromHandle(uint32_t handle) {
  if (handle == 0 || handle > UINT32_MAX / kStep) return Null();
  Entry* e = FindHandle(handle * kStep);
  return e ? e->object : Null();
}

void vrReleaseHandle(uint32_t handle) {
  if (handle == 0 || handle > UINT32_MAX / kStep) return;
  uint32_t internal = handle * kStep;
  Entry* byHandle = FindHandle(internal);
  if (!byHandle) return;
  Object* object = byHandle->object;
  Unlink(&gByHandle[HandleBucket(internal)], byHandle);
  delete byHandle;
  Entry** objectChain = &gByObject[ObjectBucket(object)];
  for (Entry* e = *objectChain; e; e = e->next) {
    if (e->object == object) {
      Unlink(objectChain, e);
      delete e;
      break;
    }
  }
  object->Release();
}

}  // namespace vrl

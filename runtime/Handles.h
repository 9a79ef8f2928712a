// Object handles: small integers that stand for objects where only an
// integer can be passed (a platform callback's user data, a script value).
// A handle owns a counted reference to its object until it is released.
//
// Not thread-safe, like the counts themselves: use handles on the thread
// that owns the objects.
#pragma once

#include <cstdint>

namespace vrl {

class Object;

/// The object's handle: 0 for Null (or nullptr); the same handle again for an
/// object that has one; otherwise a new handle, which takes a reference.
uint32_t vrHandleFromObject(Object* object);
/// The object of a handle, or Null when the handle is unknown.
Object* vrObjectFromHandle(uint32_t handle);
/// Forgets the handle and drops its reference (the object is queued if that
/// was the last one). Unknown handles are ignored.
void vrReleaseHandle(uint32_t handle);

}  // namespace vrl

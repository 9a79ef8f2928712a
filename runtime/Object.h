// The root of the object model: Object, the shared Null object, counted
// references (Ref<T>) and casts.
//
// Every framework object is reference counted. A store into a field, a global
// or an array element is a counted store: the new value is incremented first,
// then the old one decremented, so self-assignment is safe. When a count drops
// to 0 the object is not freed at once but queued; the next collection frees
// it unless a word on the collecting thread's stack still points to it
// (runtime/Memory.h). Counts are plain integers: objects belong to one thread.
//
// Null is a real shared object, never a null pointer. Ref<T> defaults to it,
// access through it throws TNullObjectException, and a failed cast yields it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace vrl {

class Array;
class ClassRecord;
class Object;
class String;
template <class T>
class Ref;

/// Counts of the objects that are never freed.
inline constexpr uint32_t kSharedRefs = 0x40000000;        // Null, "", empty array
inline constexpr uint32_t kConstantRefs = 0x7fffffff;      // string constants
inline constexpr uint32_t kMetaConstantRefs = 0x7ffffffe;  // constant texts in class descriptions
/// The sign bit of a count marks an object that sits in the release queue.
inline constexpr uint32_t kQueuedMark = 0x80000000;

/// Hands an object whose count is 0 to the release queue (runtime/Memory.cpp).
void vrGCFree(Object* object);

/// Throw helpers used by the inline code below (runtime/Exceptions.cpp).
[[noreturn]] void ThrowNullObjectException();

namespace detail {
struct StaticTag {};
}  // namespace detail
/// Selects the constructors of objects with static storage: they start with a
/// fixed count and are never queued.
inline constexpr detail::StaticTag kStatic{};

// Declares the class record accessors of a framework class. Place it first in
// the class body; the record itself is defined in the .cpp with
// ClassRecord::Of (runtime/ClassRecord.h).
#define VRL_CLASS(Name, Base)                     \
 public:                                          \
  using Super = Base;                             \
  static const ::vrl::ClassRecord& StaticClass(); \
  const ::vrl::ClassRecord& Class() const override { return StaticClass(); }

class Object {
 public:
  /// A new object is marked as a live allocation (so the stack scan can see
  /// it), starts with count 0 and is queued at once: if nothing stores it
  /// before the next collection and no stack word points to it, it is freed.
  Object();
  virtual ~Object() = default;

  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  static const ClassRecord& StaticClass();
  virtual const ClassRecord& Class() const { return StaticClass(); }

  /// The address as upper-case hexadecimal digits, two per byte of a
  /// pointer (leading zeros kept, no prefix).
  virtual Ref<String> ToString();
  /// Orders by address: this minus other as a wrapping 32-bit difference.
  virtual int32_t Compare(Object* other);
  /// The message operation; the default answers Null.
  virtual Ref<Object> ReceiveMessage(Object* message, Object* context);

  /// Three reserved entries kept free for later use; calling one throws the
  /// text "Illegal call to reserved method".
  virtual void Reserved1();
  virtual void Reserved2();
  virtual void Reserved3();

  /// The free entry: disposes of an instance whose count has dropped to zero,
  /// runs the destructor and returns the memory. Only the collector calls it.
  virtual void Free();

  uint32_t RefCount() const { return _refs; }
  void Retain() { ++_refs; }
  void Release() {
    if (--_refs == 0) vrGCFree(this);
  }

  /// Objects live in the runtime's allocator.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t, void* place) { return place; }
  static void operator delete(void* block, std::size_t size);
  static void operator delete(void*, void*) {}

 protected:
  constexpr Object(detail::StaticTag, uint32_t refs) : _refs(refs) {}
  /// The shared objects reset their count when their free entry is run.
  void ResetSharedCount() { _refs = kSharedRefs; }

 private:
  friend void vrGCFree(Object*);
  friend class Collector;
  uint32_t _refs;
};

/// The Null object: no class of its own, every operation on it throws
/// TNullObjectException.
class NullObject final : public Object {
 public:
  constexpr NullObject() : Object(kStatic, kSharedRefs) {}
  Ref<String> ToString() override;
  int32_t Compare(Object* other) override;
  Ref<Object> ReceiveMessage(Object* message, Object* context) override;
  void Free() override;
};

extern constinit NullObject gNull;
inline Object* Null() { return &gNull; }
/// The test for Null at a raw-pointer boundary: true for nullptr and for the
/// Null object alike (see Ref::get() below).
inline bool IsNull(const Object* o) { return !o || o == &gNull; }

/// True when the object's class is `target` or extends it. Null extends nothing.
bool InstanceOf(const Object* object, const ClassRecord& target);

namespace detail {
/// What a reference of type T holds where there is no object: Null, except
/// that String and Array references hold the empty string and the empty array
/// (runtime/String.cpp, runtime/Array.cpp), as fields of those types do.
template <class T>
inline Object* Vacant() {
  return &gNull;
}
template <>
Object* Vacant<String>();
template <>
Object* Vacant<Array>();
}  // namespace detail

/// The common part of every Ref<T>: one pointer that is never nullptr. The
/// reflection layer stores through it without knowing T.
class RefBase {
 public:
  /// Copies and moves go through Ref<T>, which counts them and knows what a
  /// moved-from reference of its type holds; a plain copy of the pointer
  /// would skip the count.
  RefBase(const RefBase&) = delete;
  RefBase& operator=(const RefBase&) = delete;
  RefBase(RefBase&&) = delete;
  RefBase& operator=(RefBase&&) = delete;

  /// The object held, Null included.
  Object* object() const { return _p; }
  bool IsNull() const { return _p == &gNull; }

  /// Exchanges the objects of two references; both stay counted once.
  void SwapWith(RefBase& other) { std::swap(_p, other._p); }

  /// Counted store of any object (the caller has checked its class).
  void Assign(Object* value) {
    value->Retain();
    Object* old = _p;
    _p = value;
    old->Release();
  }

 protected:
  explicit RefBase(Object* p) : _p(p) { _p->Retain(); }
  /// Takes over the count that `other` held and leaves it holding `vacant`
  /// (counted): a move changes no count of the object moved.
  RefBase(RefBase&& other, Object* vacant) noexcept : _p(other._p) {
    vacant->Retain();
    other._p = vacant;
  }
  ~RefBase() { _p->Release(); }
  /// The move assignment: this takes `other`'s object and count, `other`
  /// holds `vacant`, and the object this held is released last.
  void MoveFrom(RefBase& other, Object* vacant) noexcept {
    if (this == &other) return;
    Object* old = _p;
    _p = other._p;
    vacant->Retain();
    other._p = vacant;
    old->Release();
  }
  Object* _p;
};

/// A counted reference to an object of class T (or to Null). Made or
/// assigned from nullptr it holds detail::Vacant<T>().
template <class T>
class Ref : public RefBase {
 public:
  Ref() : RefBase(detail::Vacant<T>()) {}
  Ref(std::nullptr_t) : RefBase(detail::Vacant<T>()) {}
  Ref(T* p) : RefBase(p ? static_cast<Object*>(p) : detail::Vacant<T>()) {}
  Ref(const Ref& other) : RefBase(other._p) {}
  template <class U>
  requires std::is_base_of_v<T, U> Ref(const Ref<U>& other) : RefBase(other.object()) {}
  /// A moved-from reference holds what a new one holds (Null, or the empty
  /// string or array).
  Ref(Ref&& other) noexcept : RefBase(std::move(other), detail::Vacant<T>()) {}

  Ref& operator=(const Ref& other) {
    Assign(other._p);
    return *this;
  }
  /// Releasing the object this held fails only when the release queue cannot
  /// grow, which the destructor's release could not survive either.
  Ref& operator=(Ref&& other) noexcept {
    MoveFrom(other, detail::Vacant<T>());
    return *this;
  }
  template <class U>
  requires std::is_base_of_v<T, U> Ref& operator=(const Ref<U>& other) {
    Assign(other.object());
    return *this;
  }
  Ref& operator=(T* p) {
    Assign(p ? static_cast<Object*>(p) : detail::Vacant<T>());
    return *this;
  }
  Ref& operator=(std::nullptr_t) {
    Assign(detail::Vacant<T>());
    return *this;
  }

  /// Access through Null throws TNullObjectException.
  T* operator->() const {
    if (_p == &gNull) ThrowNullObjectException();
    return static_cast<T*>(_p);
  }
  T& operator*() const { return *operator->(); }

  /// Null at raw-pointer boundaries. Inside a Ref, Null is always the Null
  /// object. Out of a Ref it comes in two forms: get() and the implicit
  /// conversion give nullptr (a T* cannot point to the Null object, which is
  /// no T, and a Ref tests like a pointer: `if (ref)`), while object(),
  /// Null(), array elements and the runtime functions that answer a raw
  /// Object* give the Null object (a call through it throws instead of
  /// crashing). A function that takes a raw Object* accepts both and tests
  /// it with IsNull(), never with `!p` or `p == Null()` alone; one that takes
  /// a typed pointer (String*, TList*, ...) tests for nullptr, the only form
  /// it can be given. Stored into a reference, nullptr gives what a new
  /// reference of that type holds (the empty string or array for String and
  /// Array references and elements).
  T* get() const { return _p == &gNull ? nullptr : static_cast<T*>(_p); }
  operator T*() const { return get(); }
};

/// The object as T, or nullptr when it is Null or of another class.
template <class T>
T* CastRaw(Object* object) {
  if constexpr (std::is_same_v<T, Object>) {
    return IsNull(object) ? nullptr : object;
  } else {
    return InstanceOf(object, T::StaticClass()) ? static_cast<T*>(object) : nullptr;
  }
}

/// The object as T, or Null when it is of another class (for String and
/// Array too: a failed cast is Null, not the empty string or array).
template <class T>
Ref<T> Cast(Object* object) {
  T* p = CastRaw<T>(object);
  Ref<T> result(p);
  if (!p) result.Assign(&gNull);
  return result;
}
template <class T, class U>
Ref<T> Cast(const Ref<U>& ref) {
  return Cast<T>(ref.object());
}

/// Creates an object and holds it. Prefer this to a bare `new`, whose result
/// is kept alive only by the stack scan until it is stored.
template <class T, class... Args>
Ref<T> New(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

/// Follows the class chain; the object if it meets `target`, Null otherwise.
Object* vrCastObject(Object* object, const ClassRecord& target);

}  // namespace vrl

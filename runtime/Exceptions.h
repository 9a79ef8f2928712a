// The runtime's exception classes and how objects are thrown and caught.
//
// Any object can be thrown. In C++ the thrown object travels inside a
// ThrownObject; a catch clause of the object model catches ThrownObject,
// tests the object's class and rethrows when it is not one it handles:
//
//   try { ... }
//   catch (const ThrownObject& e) {
//     if (auto* ex = e.As<TStreamException>()) { ... } else throw;
//   }
//
// A clause for Object catches everything, a thrown String included; a clause
// for TRuntimeException does not catch a thrown String. A throw that nothing
// catches reaches the unhandled-exception hook.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

class TVorlException : public Object {
  VRL_CLASS(TVorlException, Object)
};

class TNullObjectException : public TVorlException {
  VRL_CLASS(TNullObjectException, TVorlException)
  Ref<String> ToString() override;
};

class TNullMethodException : public TVorlException {
  VRL_CLASS(TNullMethodException, TVorlException)
  Ref<String> ToString() override;
};

class TNullFunctionException : public TVorlException {
  VRL_CLASS(TNullFunctionException, TVorlException)
  Ref<String> ToString() override;
};

class TArrayBoundsException : public TVorlException {
  VRL_CLASS(TArrayBoundsException, TVorlException)
  Ref<String> ToString() override;
};

class TOutOfDataException : public TVorlException {
  VRL_CLASS(TOutOfDataException, TVorlException)
  Ref<String> ToString() override;
};

class TRuntimeException : public TVorlException {
  VRL_CLASS(TRuntimeException, TVorlException)
  static Ref<TRuntimeException> Create(String* error);
  Ref<String> ToString() override;

  Ref<String> error;
};

/// The C++ carrier of a thrown object.
class ThrownObject : public std::exception {
 public:
  explicit ThrownObject(Object* object) : _object(object) {}
  Object* object() const { return _object.object(); }
  /// The object as T, or nullptr when it is not one.
  template <class T>
  T* As() const {
    return CastRaw<T>(_object.object());
  }
  /// The object's text (its ToString) as 8-bit characters.
  const char* what() const noexcept override;

 private:
  Ref<Object> _object;
  mutable std::string _text;
};

[[noreturn]] void vrThrow(Object* object);
/// Throws a String made from the text; the runtime reports its own internal
/// errors this way.
[[noreturn]] void vrThrowText(const char* text);
/// Throws TRuntimeException.Create(message).
[[noreturn]] void vrRuntimeError(String* message);
[[noreturn]] void vrRuntimeError(std::string_view message);

/// Throw a new instance of each runtime exception class.
[[noreturn]] void ThrowNullObjectException();  // declared in Object.h as well
[[noreturn]] void ThrowNullMethodException();
[[noreturn]] void ThrowNullFunctionException();
[[noreturn]] void ThrowArrayBoundsException();
[[noreturn]] void ThrowOutOfDataException();

/// The unhandled-exception hook: called with an object that nothing caught.
/// The default writes the object's text to standard error (8-bit, no line
/// end added), flushes and ends the process with exit status 255 (-1), so
/// that end handlers run. A hook must not return; if it does, the default
/// ending follows.
using UnhandledExceptionHook = void (*)(Object* thrown);
void SetUnhandledExceptionHook(UnhandledExceptionHook hook);
[[noreturn]] void HandleUnhandledException(Object* thrown);

/// Runs `body`; a ThrownObject that escapes it goes to the unhandled-exception
/// hook. Program entries and thread start routines run their code this way.
template <class Body>
void RunGuarded(Body&& body) {
  try {
    body();
  } catch (const ThrownObject& e) {
    HandleUnhandledException(e.object());
  }
}

}  // namespace vrl

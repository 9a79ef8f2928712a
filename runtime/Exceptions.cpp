#include "runtime/Exceptions.h"

#include <cstdio>
#include <cstdlib>

#include "runtime/ClassRecord.h"

namespace vrl {

VRL_CLASS_RECORD(TVorlException, "TVorlException")
VRL_CLASS_RECORD(TNullObjectException, "TNullObjectException")
VRL_CLASS_RECORD(TNullMethodException, "TNullMethodException")
VRL_CLASS_RECORD(TNullFunctionException, "TNullFunctionException")
VRL_CLASS_RECORD(TArrayBoundsException, "TArrayBoundsException")
VRL_CLASS_RECORD(TOutOfDataException, "TOutOfDataException")

const ClassRecord& TRuntimeException::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TRuntimeException>("TRuntimeException", [](auto& d) {
    d.template Field<&TRuntimeException::error>("error");
    d.template Method<&TRuntimeException::ToString>("ToString");
    d.template Function<&TRuntimeException::Create>("Create");
  });
  return record;
}

Ref<String> TNullObjectException::ToString() {
  return Ref<String>(u"Attempt to access field or method of Null object"_vs);
}
Ref<String> TNullMethodException::ToString() { return Ref<String>(u"Attempt to call abstract method"_vs); }
Ref<String> TNullFunctionException::ToString() {
  return Ref<String>(u"Attempt to call uninitialized function pointer"_vs);
}
Ref<String> TArrayBoundsException::ToString() {
  return Ref<String>(u"Attempt to index array element beyond array length"_vs);
}
Ref<String> TOutOfDataException::ToString() { return Ref<String>(u"Attempt to read beyond end of data"_vs); }

Ref<TRuntimeException> TRuntimeException::Create(String* error) {
  Ref<TRuntimeException> e = New<TRuntimeException>();
  e->error = error;
  return e;
}

Ref<String> TRuntimeException::ToString() { return error; }

const char* ThrownObject::what() const noexcept {
  if (_text.empty()) {
    try {
      _text = _object.object()->ToString()->ToNarrow();
    } catch (...) {
      _text = "(unprintable object)";
    }
  }
  return _text.c_str();
}

void vrThrow(Object* object) { throw ThrownObject(object); }
void vrThrowText(const char* text) { throw ThrownObject(String::FromNarrowChars(text)); }
void vrRuntimeError(String* message) { throw ThrownObject(TRuntimeException::Create(message)); }
void vrRuntimeError(std::string_view message) { vrRuntimeError(String::FromNarrow(message)); }

void ThrowNullObjectException() { throw ThrownObject(New<TNullObjectException>()); }
void ThrowNullMethodException() { throw ThrownObject(New<TNullMethodException>()); }
void ThrowNullFunctionException() { throw ThrownObject(New<TNullFunctionException>()); }
void ThrowArrayBoundsException() { throw ThrownObject(New<TArrayBoundsException>()); }
void ThrowOutOfDataException() { throw ThrownObject(New<TOutOfDataException>()); }

namespace {

[[noreturn]] void DefaultUnhandledHook(Object* thrown) {
  std::string text;
  try {
    text = thrown->ToString()->ToNarrow();
  } catch (...) {
    text = "Unhandled exception";
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  std::exit(255);
}

UnhandledExceptionHook gUnhandledHook = &DefaultUnhandledHook;

}  // namespace

void SetUnhandledExceptionHook(UnhandledExceptionHook hook) {
  gUnhandledHook = hook ? hook : &DefaultUnhandledHook;
}

void HandleUnhandledException(Object* thrown) {
  // Hooks are handed an object: Null as the Null object.
  if (IsNull(thrown)) thrown = Null();
  gUnhandledHook(thrown);
  DefaultUnhandledHook(thrown);
}

}  // namespace vrl

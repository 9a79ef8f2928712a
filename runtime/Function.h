// Function pointers of the object model: an unset one throws
// TNullFunctionException when called instead of jumping to address 0.
//
// Abstract methods follow the same idea: a class that leaves a method to its
// subclasses gives it a body that calls ThrowNullMethodException(), so that
// calling it on an instance of the base class throws TNullMethodException.
#pragma once

#include "runtime/Exceptions.h"

namespace vrl {

template <class Signature>
class FunctionPtr;

template <class R, class... A>
class FunctionPtr<R(A...)> {
 public:
  using Pointer = R (*)(A...);

  FunctionPtr() = default;
  FunctionPtr(Pointer function) : _function(function) {}

  R operator()(A... args) const {
    if (!_function) ThrowNullFunctionException();
    return _function(args...);
  }
  bool IsSet() const { return _function != nullptr; }
  Pointer Get() const { return _function; }

 private:
  Pointer _function = nullptr;
};

}  // namespace vrl

// Checks of what a piece of test code throws through the object model: the
// thrown object's class (a catch clause's downcast) and its text, as one
// assertion whose failure message says what was thrown instead.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"

namespace vrl::testing_support {

// Success when `body` throws an object that is an E and, unless `text` is
// empty, whose text is `text`. Anything else thrown passes on unchanged.
template <class E = Object, class Body>
::testing::AssertionResult ThrowsObject(Body&& body, std::string_view text = {}) {
  try {
    body();
  } catch (const ThrownObject& e) {
    if (!e.As<E>()) {
      return ::testing::AssertionFailure() << "threw a " << e.object()->Class().Name() << " (\"" << e.what()
                                           << "\"), not a " << E::StaticClass().Name();
    }
    if (!text.empty() && text != e.what()) {
      return ::testing::AssertionFailure() << "threw \"" << e.what() << "\", not \"" << text << "\"";
    }
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "nothing was thrown";
}

// True when `body` throws an object that is an E.
template <class E, class Body>
bool Throws(Body&& body) {
  try {
    body();
  } catch (const ThrownObject& e) {
    return e.As<E>() != nullptr;
  }
  return false;
}

// The text of the object `body` throws, "(nothing thrown)" when it returns.
template <class Body>
std::string ThrownText(Body&& body) {
  try {
    body();
  } catch (const ThrownObject& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

// The text of the runtime error `body` throws, or what happened instead.
template <class Body>
std::string RuntimeErrorOf(Body&& body) {
  try {
    body();
  } catch (const ThrownObject& e) {
    if (auto* error = e.As<TRuntimeException>()) return error->error->ToNarrow();
    return "not a runtime error";
  }
  return "no throw";
}

}  // namespace vrl::testing_support

using vrl::testing_support::RuntimeErrorOf;
using vrl::testing_support::ThrownText;
using vrl::testing_support::Throws;
using vrl::testing_support::ThrowsObject;

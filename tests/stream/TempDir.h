// A temporary directory for tests that touch files, removed with everything
// in it when the fixture ends. Names built with Path() use a non-ASCII
// component (an accented letter and a character outside the 16-bit range),
// since framework strings are UTF-16 and names reach the system as UTF-8.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "runtime/String.h"

namespace vrl::testing_support {

// "neige-é-𝄞" as UTF-16: the clef is the surrogate pair D834 DD1E.
inline constexpr char16_t kOddName[] = u"neige-\u00e9-\U0001D11E";
inline constexpr char kOddNameUtf8[] = "neige-\xc3\xa9-\xf0\x9d\x84\x9e";

class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrl-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    _root = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(_root, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(_root, ignored);
  }

  // The directory as UTF-8 bytes.
  const std::string& Root() const { return _root; }
  // root "/" relative, as a framework string (`relative` is UTF-16).
  Ref<String> Path(std::u16string_view relative) const {
    std::u16string text(_root.begin(), _root.end());
    text += u'/';
    text += relative;
    return String::FromUnits(text);
  }
  std::string NativeOf(std::string_view relativeUtf8) const {
    return _root + "/" + std::string(relativeUtf8);
  }

 private:
  std::string _root;
};

}  // namespace vrl::testing_support

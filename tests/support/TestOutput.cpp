#include "tests/support/TestOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace vrl::testing_support {

std::string TestOutputDir() {
  const char* root = std::getenv("VRL_TEST_OUTPUT");
  std::string dir = root && *root ? root : VRL_TEST_OUTPUT_ROOT;
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    // Parameterised names carry slashes ("Suite/0.Case/1").
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir += "/" + name;
  }
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  return error ? std::string() : dir;
}

}  // namespace vrl::testing_support

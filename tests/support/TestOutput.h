// Where a test leaves files for whoever looks into its failure: a directory
// per test case, <root>/<Suite>.<Case>, made on first use. The root is
// $VRL_TEST_OUTPUT when set, else test-output/ in the build tree. Unlike a
// temporary directory it stays after the test, so the files can be opened.
#pragma once

#include <string>

namespace vrl::testing_support {

// The current test case's output directory (UTF-8, no trailing slash);
// empty when it cannot be made.
std::string TestOutputDir();

}  // namespace vrl::testing_support

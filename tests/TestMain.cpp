// The main of every test executable: starts the runtime on the main thread
// (so that collections scan the test's stack), then runs the tests.
#include <gtest/gtest.h>

#include "runtime/Runtime.h"

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

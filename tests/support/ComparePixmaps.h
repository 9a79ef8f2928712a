// Pixel comparison for tests that draw: two pixmaps are compared as ARGB
// (so their formats may differ), each channel within a tolerance; 0 asks
// for the exact picture, where the renderer has no latitude.
//
// On failure both pictures are written as PNG into the test's output
// directory (tests/support/TestOutput.h), actual.png and expected.png for
// the first failing comparison of a test case, actual-2.png and so on for
// later ones, and the message names the worst difference, where it is, both
// pixels there, how many pixels are off, and the files.
#pragma once

#include <gtest/gtest.h>

#include "pixmap/Pixmap.h"

namespace vrl::testing_support {

::testing::AssertionResult ComparePixmaps(TPixmap* actual, TPixmap* expected, int tolerance);

}  // namespace vrl::testing_support

using vrl::testing_support::ComparePixmaps;

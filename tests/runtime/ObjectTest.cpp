#include <gtest/gtest.h>

#include "runtime/Object.h"

TEST(Object, Placeholder) { EXPECT_TRUE(vrl::IsNull(vrl::Null())); }

// Moved to tests/support/StackScrub.h; kept while other test folders still
// include it from here.
#pragma once

#include "tests/support/StackScrub.h"

// Simple one-to-one case mappings of the 16-bit range, sorted by source unit
// (generated: runtime/CaseTables.cpp).
#pragma once

#include <cstdint>

namespace vrl::casetables {

struct CasePair {
  uint16_t from;
  uint16_t to;
};

/// Lower to upper case for units above 180; upper to lower for units above 191.
extern const CasePair kUpper[];
extern const CasePair kLower[];
extern const int kUpperCount;
extern const int kLowerCount;

}  // namespace vrl::casetables

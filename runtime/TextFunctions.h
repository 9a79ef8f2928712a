// Position-based text functions; positions here count from 1.
#pragma once

#include <cstdint>

#include "runtime/String.h"

namespace vrl {

/// `length` units from 1-based `position`; a negative length runs to the end.
Ref<String> MidText(String* s, int32_t position, int32_t length = -1);
/// The 1-based position of `sub` at or after `start`, 0 when absent.
int32_t FindPosition(String* s, String* sub, int32_t start = 1);
Ref<String> LeftPart(String* s, int32_t n);
Ref<String> RightPart(String* s, int32_t n);
/// Exactly n units: padded with spaces on the right (PadRight) or left (PadLeft).
Ref<String> PadRight(String* s, int32_t n);
Ref<String> PadLeft(String* s, int32_t n);
Ref<String> ReplaceText(String* s, String* sub, String* with);
Ref<String> TrimText(String* s);
Ref<String> LowerText(String* s);
Ref<String> UpperText(String* s);
/// 8 upper-case hexadecimal or 32 binary digits of the 32-bit pattern.
Ref<String> HexText(int32_t value);
Ref<String> BinText(int32_t value);
/// 16 hexadecimal or 64 binary digits.
Ref<String> LongHexText(int64_t value);
Ref<String> LongBinText(int64_t value);

}  // namespace vrl

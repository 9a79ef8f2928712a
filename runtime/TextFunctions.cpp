#include "runtime/TextFunctions.h"

#include <algorithm>

namespace vrl {

namespace {
String* Text(String* s) { return s ? s : EmptyString(); }

Ref<String> Digits(uint64_t bits, int count, int bitsPerDigit) {
  char16_t units[64];
  for (int i = count - 1; i >= 0; --i) {
    unsigned digit = bits & ((1u << bitsPerDigit) - 1);
    units[i] = char16_t(digit < 10 ? '0' + digit : 'A' + digit - 10);
    bits >>= bitsPerDigit;
  }
  return String::FromUnitBuffer(units, count);
}
}  // namespace

Ref<String> MidText(String* s, int32_t position, int32_t length) {
  String* text = Text(s);
  int32_t size = text->Length();
  if (position > size) return Ref<String>(EmptyString());
  int32_t start = position - 1;
  if (length < 0) return vrSliceString(text, start, size);
  if (start < 0) {
    length += start;
    start = 0;
  }
  int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t(start) + length, size));
  return vrSliceString(text, start, end);
}

int32_t FindPosition(String* s, String* sub, int32_t start) {
  return Text(s)->Find(sub, start - 1) + 1;
}

Ref<String> LeftPart(String* s, int32_t n) {
  String* text = Text(s);
  if (n <= 0) return Ref<String>(EmptyString());
  return vrSliceString(text, 0, std::min(n, text->Length()));
}

Ref<String> RightPart(String* s, int32_t n) {
  String* text = Text(s);
  if (n <= 0) return Ref<String>(EmptyString());
  n = std::min(n, text->Length());
  return vrSliceString(text, text->Length() - n, text->Length());
}

Ref<String> PadRight(String* s, int32_t n) { return vrSliceString(Text(s), 0, n); }

Ref<String> PadLeft(String* s, int32_t n) {
  String* text = Text(s);
  return vrSliceString(text, text->Length() - n, text->Length());
}

Ref<String> ReplaceText(String* s, String* sub, String* with) { return Text(s)->Replace(sub, with); }
Ref<String> TrimText(String* s) { return Text(s)->Trim(); }
Ref<String> LowerText(String* s) { return Text(s)->ToLower(); }
Ref<String> UpperText(String* s) { return Text(s)->ToUpper(); }

Ref<String> HexText(int32_t value) { return Digits(uint32_t(value), 8, 4); }
Ref<String> BinText(int32_t value) { return Digits(uint32_t(value), 32, 1); }
Ref<String> LongHexText(int64_t value) { return Digits(uint64_t(value), 16, 4); }
Ref<String> LongBinText(int64_t value) { return Digits(uint64_t(value), 64, 1); }

}  // namespace vrl

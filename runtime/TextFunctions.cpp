#include "runtime/TextFunctions.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace vrl {

namespace {
String* Text(String* s) { return s ? s : EmptyString(); }

Ref<String> Digits(uint64_t bits, int count, int bitsPerDigit) {
  char16_t units[64];
  for (int i = count - 1; i >= 0; --i) {
    // At most 4 bits per digit: the masked value fits.
    auto digit = static_cast<unsigned>(bits & ((1u << bitsPerDigit) - 1));
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
  // In 64 bits: INT32_MIN - 1 lies below every Int.
  int64_t start = int64_t(position) - 1;
  if (length < 0) {
    // Padded with spaces from `start` on: more than a string can hold when
    // the start lies that far before the text.
    if (size - start > INT32_MAX) throw std::bad_alloc();
    return vrSliceString(text, static_cast<int32_t>(start), size);
  }
  int64_t count = length;
  if (start < 0) {
    count += start;
    start = 0;
  }
  int64_t end = std::min<int64_t>(start + count, size);
  if (end <= start) return Ref<String>(EmptyString());
  return vrSliceString(text, static_cast<int32_t>(start), static_cast<int32_t>(end));
}

int32_t FindPosition(String* s, String* sub, int32_t start) {
  // Find counts every negative start as 0, INT32_MIN - 1 included.
  return Text(s)->Find(sub, start > 0 ? start - 1 : 0) + 1;
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
  // length - n would overflow for n near INT32_MIN; any n <= 0 gives the
  // empty slice.
  if (n <= 0) return Ref<String>(EmptyString());
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

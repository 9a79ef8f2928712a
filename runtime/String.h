// Immutable strings of UTF-16 code units.
//
// Every operation that changes text returns a new string; a result of length
// 0 is always the one shared empty string, and Trim and Replace return the
// receiver itself when nothing changes. Functions that take a String* read
// nullptr (a Null reference) as the empty string.
//
// String constants: u"text"_vs is a static string object that is never freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Object.h"

namespace vrl {

class Array;

class String final : public Object {
  VRL_CLASS(String, Object)
  static constexpr bool kVariableSize = true;

  /// A new string of `length` units, filled by the caller through Data().
  /// A length of 0 or less gives the empty string.
  static Ref<String> Allocate(int32_t length);

  int32_t Length() const { return _length; }
  const char16_t* Units() const { return _units; }
  char16_t operator[](int32_t index) const { return _units[index]; }
  std::u16string_view View() const { return {_units, static_cast<std::size_t>(_length)}; }

  /// Class record entries, in their order.
  int32_t Find(String* sub, int32_t start = 0) const;
  int32_t FindLast(String* sub, int32_t start = 0) const;
  Ref<String> Trim();
  Ref<String> Replace(String* sub, String* with);
  Ref<String> ToLower() const;
  Ref<String> ToUpper() const;
  int32_t ToInt() const;
  int64_t ToLong() const;
  float ToFloat() const;
  double ToDouble() const;
  /// Zero-terminated copies; free them with vrRawFree.
  char* ToNarrowChars() const;
  char16_t* ToWideChars() const;
  static Ref<String> FromInt(int32_t value);
  static Ref<String> FromLong(int64_t value);
  static Ref<String> FromFloat(float value);
  static Ref<String> FromDouble(double value);
  static Ref<String> FromNarrowChars(const char* text);
  static Ref<String> FromWideChars(const char16_t* text);
  static Ref<String> FromByteBuffer(const void* bytes, int32_t count);
  static Ref<String> FromUnitBuffer(const char16_t* units, int32_t count);
  int32_t StartsWith(String* sub) const;
  int32_t EndsWith(String* sub) const;
  int32_t Contains(String* sub) const;
  Ref<Array> Split(String* separator);
  Ref<String> Join(Array* pieces);
  /// Throws the text "Unicode character out of UCS-2 range" for a character
  /// above U+FFFF.
  static Ref<String> FromUtf8(const char* text);
  char* ToUtf8() const;

  /// Code-unit order: the first differing units' difference, else the
  /// difference of the lengths.
  int32_t Compare(Object* other) override;
  Ref<String> ToString() override;
  void Free() override;

  /// C++ conveniences.
  bool Equals(const String* other) const;
  std::string ToNarrow() const;      // low byte of each unit
  std::string ToUtf8String() const;  // as ToUtf8
  static Ref<String> FromNarrow(std::string_view text);
  static Ref<String> FromUtf8(std::string_view text);
  static Ref<String> FromUnits(std::u16string_view units);

  /// Static strings (the empty string, constants).
  constexpr String(detail::StaticTag, uint32_t refs, const char16_t* units, int32_t length)
      : Object(kStatic, refs), _length(length), _units(units) {}

 private:
  String(int32_t length, char16_t* units) : _length(length), _units(units) {}
  char16_t* MutableUnits() { return const_cast<char16_t*>(_units); }

  int32_t _length;
  const char16_t* _units;  // heap strings: the units right after the object
};

extern constinit String gEmptyString;
inline String* EmptyString() { return &gEmptyString; }

/// Code-unit comparison of two strings (nullptr reads as empty).
int32_t CompareStrings(const String* a, const String* b);

/// Other string operations.
Ref<String> vrConcatStrings(String* a, String* b);
Ref<String> vrSliceString(String* s, int32_t start, int32_t end);
Ref<String> vrCharString(int32_t unit);
int32_t vrFirstUnit(String* s);
/// A 1-D array of tag "b", "i" or "s" as text; other arrays give "".
Ref<String> StringFromArray(Array* array);
Ref<String> StringFromInts(const int32_t* ints, int32_t count);

/// Temporary conversions for handing a string to a platform function. The
/// runtime owns the buffer, which stays valid until 32 further temporaries
/// have been made (on any thread).
const char* vrTempNarrowChars(String* s);
const char16_t* vrTempWideChars(String* s);
const char* vrTempUtf8(String* s);

namespace detail {
template <std::size_t N>
struct Literal {
  char16_t units[N] = {};
  constexpr Literal(const char16_t (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) units[i] = text[i];
  }
};
template <Literal L>
struct ConstantString {
  static constinit inline String object{kStatic, kConstantRefs, L.units,
                                        static_cast<int32_t>(sizeof(L.units) / 2 - 1)};
};
}  // namespace detail

inline namespace literals {
/// u"text"_vs: a string constant.
template <detail::Literal L>
String* operator""_vs() {
  if constexpr (sizeof(L.units) == sizeof(char16_t)) {
    return EmptyString();
  } else {
    return &detail::ConstantString<L>::object;
  }
}
}  // namespace literals

}  // namespace vrl

#include "runtime/String.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "runtime/Array.h"
#include "runtime/CaseTables.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"

namespace vrl {

constinit String gEmptyString{kStatic, kSharedRefs, u"", 0};

template <>
Object* detail::Vacant<String>() {
  return &gEmptyString;
}

const ClassRecord& String::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<String>("String", [](auto& d) {
    d.template Method<&String::Find>("Find");
    d.template Method<&String::FindLast>("FindLast");
    d.template Method<&String::Trim>("Trim");
    d.template Method<&String::Replace>("Replace");
    d.template Method<&String::ToLower>("ToLower");
    d.template Method<&String::ToUpper>("ToUpper");
    d.template Method<&String::ToInt>("ToInt");
    d.template Method<&String::ToLong>("ToLong");
    d.template Method<&String::ToFloat>("ToFloat");
    d.template Method<&String::ToDouble>("ToDouble");
    d.template Method<&String::ToNarrowChars>("ToNarrowChars");
    d.template Method<&String::ToWideChars>("ToWideChars");
    d.template Function<&String::FromInt>("FromInt");
    d.template Function<&String::FromLong>("FromLong");
    d.template Function<&String::FromFloat>("FromFloat");
    d.template Function<&String::FromDouble>("FromDouble");
    d.template Function<&String::FromNarrowChars>("FromNarrowChars");
    d.template Function<&String::FromWideChars>("FromWideChars");
    d.template Function<&String::FromByteBuffer>("FromByteBuffer");
    d.template Function<&String::FromUnitBuffer>("FromUnitBuffer");
    d.template Method<&String::StartsWith>("StartsWith");
    d.template Method<&String::EndsWith>("EndsWith");
    d.template Method<&String::Contains>("Contains");
    d.template Method<&String::Split>("Split", "($)[]$");
    d.template Method<&String::Join>("Join", "([]$)$");
    d.template Function<static_cast<Ref<String> (*)(const char*)>(&String::FromUtf8)>("FromUtf8");
    d.template Method<&String::ToUtf8>("ToUtf8");
  });
  return record;
}

namespace {

const String& Text(const String* s) { return s ? *s : gEmptyString; }

// Units at `pos` equal those of `sub`.
bool MatchAt(const String& s, int32_t pos, const String& sub) {
  return std::memcmp(s.Units() + pos, sub.Units(),
                     static_cast<std::size_t>(sub.Length()) * sizeof(char16_t)) == 0;
}

char16_t* Alloc16(std::size_t count) {
  auto* p = static_cast<char16_t*>(vrRawAlloc(count * sizeof(char16_t)));
  if (!p) throw std::bad_alloc();
  return p;
}

char* Alloc8(std::size_t count) {
  auto* p = static_cast<char*>(vrRawAlloc(count));
  if (!p) throw std::bad_alloc();
  return p;
}

// Decimal, "%"-binary or "$"-hexadecimal text to an integer that wraps.
template <class Unsigned>
Unsigned ParseInteger(const String& s) {
  int32_t i = 0, n = s.Length();
  while (i < n && (s[i] == 32 || (s[i] >= 9 && s[i] <= 13))) ++i;
  if (i == n) return 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    if (++i == n) return 0;
  }
  unsigned base = 10;
  if (s[i] == '%') {
    base = 2;
    ++i;
  } else if (s[i] == '$') {
    base = 16;
    ++i;
  }
  Unsigned value = 0;
  for (; i < n; ++i) {
    char16_t c = s[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? Unsigned(0) - value : value;
}

template <class Signed>
Ref<String> FormatInteger(Signed value, const char16_t* minimumText) {
  using Unsigned = std::make_unsigned_t<Signed>;
  if (value == std::numeric_limits<Signed>::min()) {
    int32_t n = 0;
    while (minimumText[n]) ++n;
    return String::FromUnitBuffer(minimumText, n);
  }
  char16_t buffer[24];
  int32_t at = 24;
  Unsigned magnitude = value < 0 ? Unsigned(-value) : Unsigned(value);
  do {
    buffer[--at] = char16_t('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) buffer[--at] = '-';
  return String::FromUnitBuffer(buffer + at, 24 - at);
}

Ref<String> MapCase(const String& s, bool upper) {
  int32_t n = s.Length();
  Ref<String> out = String::Allocate(n);
  if (n == 0) return out;
  auto* units = const_cast<char16_t*>(out->Units());
  const casetables::CasePair* table = upper ? casetables::kUpper : casetables::kLower;
  int count = upper ? casetables::kUpperCount : casetables::kLowerCount;
  char16_t asciiFrom = upper ? 'a' : 'A';
  char16_t asciiTo = upper ? 'z' : 'Z';
  char16_t plain = upper ? 180 : 191;
  for (int32_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= asciiFrom && c <= asciiTo) {
      c = upper ? c - 32 : c + 32;
    } else if (c > plain) {
      const casetables::CasePair* end = table + count;
      const casetables::CasePair* hit = std::lower_bound(
          table, end, c, [](const casetables::CasePair& p, char16_t u) { return p.from < u; });
      if (hit != end && hit->from == c) c = hit->to;
    }
    units[i] = c;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------

Ref<String> String::Allocate(int32_t length) {
  if (length <= 0) return Ref<String>(&gEmptyString);
  std::size_t size = sizeof(String) + std::size_t(length) * sizeof(char16_t);
  void* block = vrAllocObject(size);
  auto* units = reinterpret_cast<char16_t*>(static_cast<char*>(block) + sizeof(String));
  return Ref<String>(new (block) String(length, units));
}

void String::Free() {
  if (this == &gEmptyString) {
    ResetSharedCount();
    return;
  }
  std::size_t size = sizeof(String) + std::size_t(_length) * sizeof(char16_t);
  this->~String();
  vrReleaseObject(this, size);
}

Ref<String> String::ToString() { return Ref<String>(this); }

int32_t CompareStrings(const String* a, const String* b) {
  const String& x = Text(a);
  const String& y = Text(b);
  int32_t n = std::min(x.Length(), y.Length());
  for (int32_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return int32_t(x[i]) - int32_t(y[i]);
  }
  return x.Length() - y.Length();
}

int32_t String::Compare(Object* other) {
  auto* s = CastRaw<String>(other);
  if (!s) ThrowNullObjectException();
  return CompareStrings(this, s);
}

bool String::Equals(const String* other) const { return CompareStrings(this, other) == 0; }

int32_t String::Find(String* subject, int32_t start) const {
  const String& sub = Text(subject);
  if (start < 0) start = 0;
  // The last place where the sub fits; written so that a start near
  // INT32_MAX cannot overflow.
  int32_t last = _length - sub.Length();
  for (int32_t i = start; i <= last; ++i) {
    if (MatchAt(*this, i, sub)) return i;
  }
  return -1;
}

int32_t String::FindLast(String* subject, int32_t start) const {
  const String& sub = Text(subject);
  // length - start in 64 bits: a start of INT32_MIN lies far beyond the end.
  int64_t first = int64_t(_length) - start;
  int32_t i = static_cast<int32_t>(std::min<int64_t>(first, _length - sub.Length()));
  for (; i >= 0; --i) {
    if (MatchAt(*this, i, sub)) return i;
  }
  return -1;
}

Ref<String> String::Trim() {
  int32_t first = 0, last = _length;
  while (first < last && _units[first] <= 32) ++first;
  while (last > first && _units[last - 1] <= 32) --last;
  if (first == 0 && last == _length) return Ref<String>(this);
  return FromUnitBuffer(_units + first, last - first);
}

Ref<String> String::Replace(String* subject, String* replacement) {
  const String& sub = Text(subject);
  const String& with = Text(replacement);
  if (sub.Length() == 0) return Ref<String>(this);
  int32_t count = 0;
  for (int32_t i = Find(subject, 0); i != -1; i = Find(subject, i + sub.Length())) ++count;
  if (count == 0) return Ref<String>(this);
  int64_t length = int64_t(_length) + int64_t(count) * (with.Length() - sub.Length());
  if (length > INT32_MAX) throw std::bad_alloc();
  Ref<String> out = Allocate(static_cast<int32_t>(length));
  char16_t* to = out->MutableUnits();
  int32_t from = 0;
  for (int32_t i = Find(subject, 0); i != -1; i = Find(subject, from)) {
    to = std::copy(_units + from, _units + i, to);
    to = std::copy(with.Units(), with.Units() + with.Length(), to);
    from = i + sub.Length();
  }
  std::copy(_units + from, _units + _length, to);
  return out;
}

Ref<String> String::ToLower() const { return MapCase(*this, false); }
Ref<String> String::ToUpper() const { return MapCase(*this, true); }

int32_t String::ToInt() const { return static_cast<int32_t>(ParseInteger<uint32_t>(*this)); }
int64_t String::ToLong() const { return static_cast<int64_t>(ParseInteger<uint64_t>(*this)); }

float String::ToFloat() const { return static_cast<float>(ToDouble()); }
double String::ToDouble() const { return std::atof(ToNarrow().c_str()); }

char* String::ToNarrowChars() const {
  char* out = Alloc8(std::size_t(_length) + 1);
  for (int32_t i = 0; i < _length; ++i) out[i] = static_cast<char>(_units[i]);
  out[_length] = 0;
  return out;
}

char16_t* String::ToWideChars() const {
  char16_t* out = Alloc16(std::size_t(_length) + 1);
  std::copy(_units, _units + _length, out);
  out[_length] = 0;
  return out;
}

Ref<String> String::FromInt(int32_t value) { return FormatInteger(value, u"-2147483648"); }
Ref<String> String::FromLong(int64_t value) { return FormatInteger(value, u"-9223372036854775808"); }

Ref<String> String::FromFloat(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%#.9g", static_cast<double>(value));
  return FromNarrow(buffer);
}

Ref<String> String::FromDouble(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%#.17lg", value);
  return FromNarrow(buffer);
}

Ref<String> String::FromNarrowChars(const char* text) {
  if (!text) return Ref<String>(&gEmptyString);
  return FromByteBuffer(text, static_cast<int32_t>(std::strlen(text)));
}

Ref<String> String::FromWideChars(const char16_t* text) {
  if (!text) return Ref<String>(&gEmptyString);
  int32_t n = 0;
  while (text[n]) ++n;
  return FromUnitBuffer(text, n);
}

Ref<String> String::FromByteBuffer(const void* bytes, int32_t count) {
  Ref<String> out = Allocate(count);
  auto* from = static_cast<const uint8_t*>(bytes);
  char16_t* to = out->MutableUnits();
  for (int32_t i = 0; i < count; ++i) to[i] = from[i];
  return out;
}

Ref<String> String::FromUnitBuffer(const char16_t* units, int32_t count) {
  Ref<String> out = Allocate(count);
  if (count > 0) std::copy(units, units + count, out->MutableUnits());
  return out;
}

int32_t String::StartsWith(String* subject) const {
  const String& sub = Text(subject);
  return _length >= sub.Length() && MatchAt(*this, 0, sub);
}

int32_t String::EndsWith(String* subject) const {
  const String& sub = Text(subject);
  return _length >= sub.Length() && MatchAt(*this, _length - sub.Length(), sub);
}

int32_t String::Contains(String* subject) const { return Find(subject, 0) != -1; }

Ref<Array> String::Split(String* separator) {
  const String& sep = Text(separator);
  std::vector<std::pair<int32_t, int32_t>> pieces;
  if (sep.Length() > 0) {
    int32_t from = 0;
    for (int32_t i = Find(separator, 0); i != -1; i = Find(separator, from)) {
      pieces.emplace_back(from, i);
      from = i + sep.Length();
    }
    pieces.emplace_back(from, _length);
  } else {
    int32_t i = 0;
    while (i < _length) {
      while (i < _length && _units[i] <= 32) ++i;
      int32_t start = i;
      while (i < _length && _units[i] > 32) ++i;
      if (i > start) pieces.emplace_back(start, i);
    }
  }
  Ref<Array> out = Array::New("$", static_cast<int32_t>(pieces.size()));
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    out->SetObject(static_cast<int32_t>(k), vrSliceString(this, pieces[k].first, pieces[k].second));
  }
  return out;
}

Ref<String> String::Join(Array* pieces) {
  if (!pieces || pieces->Length() == 0) return Ref<String>(&gEmptyString);
  int32_t n = pieces->Length();
  int64_t length = int64_t(_length) * (n - 1);
  for (int32_t i = 0; i < n; ++i) length += Text(CastRaw<String>(pieces->GetObject(i))).Length();
  if (length > INT32_MAX) throw std::bad_alloc();
  Ref<String> out = Allocate(static_cast<int32_t>(length));
  char16_t* to = out->MutableUnits();
  for (int32_t i = 0; i < n; ++i) {
    if (i) to = std::copy(_units, _units + _length, to);
    const String& piece = Text(CastRaw<String>(pieces->GetObject(i)));
    to = std::copy(piece.Units(), piece.Units() + piece.Length(), to);
  }
  return out;
}

// Decodes byte by byte. Continuation bytes are not checked for their marker
// bits, but decoding never reads past the terminator (or `length`): a
// sequence cut short there ends the text.
static Ref<String> DecodeUtf8(const uint8_t* bytes, std::size_t length) {
  std::u16string units;
  units.reserve(length);
  std::size_t i = 0;
  auto next = [&](uint8_t* out) {
    if (i >= length || bytes[i] == 0) return false;
    *out = bytes[i++];
    return true;
  };
  while (i < length && bytes[i] != 0) {
    uint8_t lead = bytes[i++], b1 = 0, b2 = 0, b3 = 0;
    if (lead < 0x80) {
      units += char16_t(lead);
    } else if (lead < 0xE0) {
      if (!next(&b1)) break;
      units += char16_t((lead & 0x1F) << 6 | (b1 & 0x3F));
    } else if (lead < 0xF0) {
      if (!next(&b1) || !next(&b2)) break;
      units += char16_t(lead << 12 | (b1 & 0x3F) << 6 | (b2 & 0x3F));
    } else {
      if (!next(&b1) || !next(&b2) || !next(&b3)) break;
      if ((lead & 7) != 0 || (b1 & 0x30) != 0) vrThrowText("Unicode character out of UCS-2 range");
      units += char16_t((b1 & 0x3F) << 12 | (b2 & 0x3F) << 6 | (b3 & 0x3F));
    }
  }
  return String::FromUnits(units);
}

Ref<String> String::FromUtf8(const char* text) {
  if (!text) return Ref<String>(&gEmptyString);
  return DecodeUtf8(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

Ref<String> String::FromUtf8(std::string_view text) {
  return DecodeUtf8(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string String::ToUtf8String() const {
  std::string out;
  out.reserve(std::size_t(_length) * 3);
  for (int32_t i = 0; i < _length; ++i) {
    unsigned u = _units[i];
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += char(0xC0 | u >> 6);
      out += char(0x80 | (u & 0x3F));
    } else {
      out += char(0xE0 | u >> 12);
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    }
  }
  return out;
}

char* String::ToUtf8() const {
  std::string text = ToUtf8String();
  char* out = Alloc8(std::size_t(_length) * 3 + 1);
  std::memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

std::string String::ToNarrow() const {
  std::string out(static_cast<std::size_t>(_length), '\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(_units[i]);
  return out;
}

Ref<String> String::FromNarrow(std::string_view text) {
  return FromByteBuffer(text.data(), static_cast<int32_t>(text.size()));
}

Ref<String> String::FromUnits(std::u16string_view units) {
  return FromUnitBuffer(units.data(), static_cast<int32_t>(units.size()));
}

// ---------------------------------------------------------------------------

Ref<String> vrConcatStrings(String* a, String* b) {
  const String& x = Text(a);
  const String& y = Text(b);
  int64_t length = int64_t(x.Length()) + y.Length();
  if (length > INT32_MAX) throw std::bad_alloc();
  Ref<String> out = String::Allocate(static_cast<int32_t>(length));
  if (length == 0) return out;
  auto* to = const_cast<char16_t*>(out->Units());
  to = std::copy(x.Units(), x.Units() + x.Length(), to);
  std::copy(y.Units(), y.Units() + y.Length(), to);
  return out;
}

Ref<String> vrSliceString(String* s, int32_t start, int32_t end) {
  const String& text = Text(s);
  if (end <= start) return Ref<String>(&gEmptyString);
  int64_t length = int64_t(end) - start;
  if (length > INT32_MAX) throw std::bad_alloc();
  if (start == 0 && end == text.Length()) return Ref<String>(const_cast<String*>(&text));
  Ref<String> out = String::Allocate(static_cast<int32_t>(length));
  auto* to = const_cast<char16_t*>(out->Units());
  for (int64_t i = start; i < end; ++i) {
    *to++ = (i >= 0 && i < text.Length()) ? text[static_cast<int32_t>(i)] : char16_t(32);
  }
  return out;
}

Ref<String> vrCharString(int32_t unit) {
  char16_t u = static_cast<char16_t>(unit);
  return String::FromUnitBuffer(&u, 1);
}

int32_t vrFirstUnit(String* s) {
  const String& text = Text(s);
  return text.Length() ? text[0] : -1;
}

Ref<String> StringFromArray(Array* array) {
  if (!array || array->DimensionCount() != 1) return Ref<String>(&gEmptyString);
  int32_t n = array->Length();
  switch (array->Tag()[0]) {
    case 'b':
      return String::FromByteBuffer(array->Data(), n);
    case 's':
      return String::FromUnitBuffer(static_cast<const char16_t*>(array->Data()), n);
    case 'i':
      return StringFromInts(static_cast<const int32_t*>(array->Data()), n);
    default:
      return Ref<String>(&gEmptyString);
  }
}

Ref<String> StringFromInts(const int32_t* ints, int32_t count) {
  Ref<String> out = String::Allocate(count);
  auto* to = const_cast<char16_t*>(out->Units());
  for (int32_t i = 0; i < count; ++i) to[i] = static_cast<char16_t>(ints[i]);
  return out;
}

// The ring of temporary conversions: 32 slots, taken round robin with an
// atomic counter; a slot's previous buffer is freed when it is reused.
namespace {
std::atomic<uint32_t> gTempCounter{0};
std::atomic<void*> gTempSlots[32];

template <class T>
const T* KeepTemporary(T* buffer) {
  uint32_t slot = gTempCounter.fetch_add(1) % 32;
  vrRawFree(gTempSlots[slot].exchange(buffer));
  return buffer;
}
}  // namespace

const char* vrTempNarrowChars(String* s) { return KeepTemporary(Text(s).ToNarrowChars()); }
const char16_t* vrTempWideChars(String* s) { return KeepTemporary(Text(s).ToWideChars()); }
const char* vrTempUtf8(String* s) { return KeepTemporary(Text(s).ToUtf8()); }

}  // namespace vrl

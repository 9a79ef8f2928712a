// libFuzzer target: arbitrary bytes as the text of String's number parsing
// (ToInt, ToLong, ToFloat, ToDouble, as 8-bit characters and again as
// UTF-16 units) and as UTF-8 (FromUtf8 from a view and from a terminated
// copy). Parsing never reads beyond the text and what it gives survives
// formatting; decoding either refuses a character beyond 16 bits with its
// error or gives a string that encodes and decodes again to itself.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "runtime/TextFunctions.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
  return 0;
}

namespace {

using namespace vrl;

bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// The numbers of one text, each checked against the formatters: what a
// parse gives, formatted and parsed again, is the same number.
void CheckNumbers(String* text) {
  const int32_t i = text->ToInt();
  const int64_t l = text->ToLong();
  // Both wrap: the 32-bit parse is the low half of the 64-bit one.
  if (i != static_cast<int32_t>(static_cast<uint32_t>(l))) __builtin_trap();
  if (String::FromInt(i)->ToInt() != i || String::FromLong(l)->ToLong() != l) __builtin_trap();
  if (vrConcatStrings(u"$"_vs, HexText(i))->ToInt() != i) __builtin_trap();
  if (vrConcatStrings(u"%"_vs, BinText(i))->ToInt() != i) __builtin_trap();
  if (vrConcatStrings(u"$"_vs, LongHexText(l))->ToLong() != l) __builtin_trap();
  const double d = text->ToDouble();
  const float f = text->ToFloat();
  if (!SameDouble(String::FromDouble(d)->ToDouble(), d)) __builtin_trap();
  if (!SameDouble(String::FromFloat(f)->ToFloat(), f)) __builtin_trap();
}

void CheckUtf8(std::string_view bytes) {
  Ref<String> decoded;
  try {
    decoded = String::FromUtf8(bytes);
  } catch (const ThrownObject& e) {
    if (std::string_view(e.what()) != "Unicode character out of UCS-2 range") __builtin_trap();
    return;
  }
  // Never more units than bytes; a terminated copy decodes alike (decoding
  // stops at the first 0 byte either way).
  if (decoded->Length() > static_cast<int64_t>(bytes.size())) __builtin_trap();
  const std::string terminated(bytes);
  if (CompareStrings(String::FromUtf8(terminated.c_str()), decoded) != 0) __builtin_trap();
  // Encoding then decoding gives the string back, up to a 0 unit, which
  // encodes as the terminator.
  std::u16string_view units = decoded->View();
  units = units.substr(0, units.find(u'\0'));
  Ref<String> again = String::FromUtf8(decoded->ToUtf8String());
  if (again->View() != units) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 4096) return 0;
  {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Ref<String> narrow = String::FromNarrow(bytes);
    if (narrow->ToNarrow() != bytes) __builtin_trap();
    CheckNumbers(narrow);
    // The same bytes as UTF-16 units, so characters beyond 8 bits meet the
    // parsers too.
    std::u16string wide(size / 2, u'\0');
    for (size_t k = 0; k < wide.size(); ++k) wide[k] = char16_t(data[2 * k] | data[2 * k + 1] << 8);
    CheckNumbers(String::FromUnits(wide));
    CheckUtf8(bytes);
  }
  GCCollect();
  return 0;
}

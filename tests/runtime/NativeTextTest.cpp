#include "runtime/NativeText.h"

#include <gtest/gtest.h>

#include <string>

using namespace vrl;

namespace {

std::u16string Decoded(std::string_view bytes) { return std::u16string(TextFromNative(bytes)->View()); }

std::string Encoded(std::u16string_view units) {
  return NativeText(String::FromUnits(units)).value_or("(nullopt)");
}

TEST(NativeText, WellFormedUtf8DecodesToUnits) {
  EXPECT_EQ(Decoded("/opt/card"), u"/opt/card");
  EXPECT_EQ(Decoded("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(Decoded("\xE2\x82\xAC"), u"\u20AC");
  // Outside the 16-bit range: a surrogate pair, and back to the four bytes.
  EXPECT_EQ(Decoded("\xF0\x9D\x84\x9E"), u"\U0001D11E");
  EXPECT_EQ(Encoded(u"caf\u00E9/\U0001D11E"), "caf\xC3\xA9/\xF0\x9D\x84\x9E");
  EXPECT_EQ(TextFromNative("").get(), EmptyString());
}

TEST(NativeText, BytesThatAreNotUtf8ComeBackUnchanged) {
  // Each of these is escaped byte by byte as U+DC80..U+DCFF: a Latin-1
  // letter, a lead byte cut short at the end, an overlong "/", an encoded
  // surrogate, a value above U+10FFFF and a stray continuation byte.
  for (std::string bytes :
       {"caf\xE9", "ab\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80x"}) {
    Ref<String> text = TextFromNative(bytes);
    EXPECT_EQ(NativeText(text).value_or(""), bytes);
  }
  EXPECT_EQ(Decoded("caf\xE9"), u"caf\xDCE9");
  EXPECT_EQ(Decoded("\xC0\xAF"), u"\xDCC0\xDCAF");
}

TEST(NativeText, LoneSurrogatesAndZeroUnits) {
  EXPECT_EQ(Encoded(u"\xD834x"), "\xED\xA0\xB4x") << "a high surrogate without its pair";
  EXPECT_EQ(Encoded(u"\xDD1E"), "\xED\xB4\x9E") << "a low surrogate outside the escapes";
  EXPECT_FALSE(NativeText(String::FromUnits(std::u16string_view(u"a\0b", 3))).has_value());
  EXPECT_EQ(NativeText(nullptr).value_or("(nullopt)"), "");
}

}  // namespace

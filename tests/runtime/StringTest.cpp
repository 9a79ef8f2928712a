#include "runtime/String.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

#include "runtime/Array.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/TextFunctions.h"
#include "tests/support/Thrown.h"

using namespace vrl;

namespace {

Ref<String> S(const char* text) { return String::FromUtf8(text); }
std::string N(const Ref<String>& s) { return s->ToUtf8String(); }

TEST(StringFind, EdgesOfFindAndFindLast) {
  Ref<String> abc = S("abcabc");
  EXPECT_EQ(abc->Find(S("bc"), 0), 1);
  EXPECT_EQ(abc->Find(S("bc"), 2), 4);
  EXPECT_EQ(abc->Find(S("bc"), -5), 1);
  EXPECT_EQ(abc->Find(S("x"), 0), -1);
  EXPECT_EQ(abc->Find(S(""), 6), 6);
  EXPECT_EQ(abc->Find(S(""), 7), -1) << "empty sub beyond the length";
  EXPECT_EQ(abc->Find(S(""), -3), 0);
  EXPECT_EQ(abc->FindLast(S("bc"), 0), 4);
  EXPECT_EQ(abc->FindLast(S("bc"), 2), 4);
  EXPECT_EQ(abc->FindLast(S("bc"), 3), 1);
  EXPECT_EQ(abc->FindLast(S(""), 0), 6);
  EXPECT_EQ(abc->FindLast(S("abcabcabc"), 0), -1);
  EXPECT_EQ(abc->Contains(S("ca")), 1);
  EXPECT_EQ(abc->StartsWith(S("")), 1);
  EXPECT_EQ(abc->StartsWith(S("abd")), 0);
  EXPECT_EQ(abc->EndsWith(S("bc")), 1);
  EXPECT_EQ(S("c")->EndsWith(S("abc")), 0);
}

TEST(StringFind, ExtremeStartsDoNotOverflow) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  Ref<String> abc = S("abcabc");
  EXPECT_EQ(abc->Find(S("c"), kMax), -1);
  EXPECT_EQ(abc->Find(S(""), kMax), -1);
  EXPECT_EQ(abc->Find(S("c"), kMin), 2) << "a negative start counts as 0";
  // FindLast searches from length - start: far beyond the end it is lowered
  // to the last place where the sub fits, far before the start nothing fits.
  EXPECT_EQ(abc->FindLast(S("bc"), kMin), 4);
  EXPECT_EQ(abc->FindLast(S(""), kMin), 6);
  EXPECT_EQ(abc->FindLast(S("a"), kMin + 1), 3);
  EXPECT_EQ(abc->FindLast(S("a"), kMax), -1);
  EXPECT_EQ(abc->FindLast(S(""), kMax), -1);
}

TEST(StringEdit, TrimAndReplaceReturnTheReceiverWhenNothingChanges) {
  Ref<String> plain = S("word");
  EXPECT_EQ(plain->Trim().get(), plain.get());
  EXPECT_EQ(N(S(" \t\r\n word \x01")->Trim()), "word");
  EXPECT_EQ(S("   ")->Trim().get(), EmptyString());
  EXPECT_EQ(plain->Replace(S(""), S("x")).get(), plain.get());
  EXPECT_EQ(plain->Replace(S("q"), S("x")).get(), plain.get());
  EXPECT_EQ(N(S("aaa")->Replace(S("aa"), S("b"))), "ba") << "no overlap, left to right";
  EXPECT_EQ(N(S("a.b.c")->Replace(S("."), S("::"))), "a::b::c");
  EXPECT_EQ(S("xx")->Replace(S("x"), S("")).get(), EmptyString());
}

TEST(StringCase, AsciiAndTableEnds) {
  EXPECT_EQ(N(S("Hello, World")->ToUpper()), "HELLO, WORLD");
  EXPECT_EQ(N(S("Hello, World")->ToLower()), "hello, world");
  // The first and last pairs of both tables.
  EXPECT_EQ(String::FromUnits(u"\u00B5\uFF5A")->ToUpper()->View(), u"\u039C\uFF3A");
  EXPECT_EQ(String::FromUnits(u"\u00C0\uFF3A")->ToLower()->View(), u"\u00E0\uFF5A");
  // Units at or below the fast-path limits stay as they are.
  EXPECT_EQ(String::FromUnits(u"\u00B4\u00BF")->ToUpper()->View(), u"\u00B4\u00BF");
  EXPECT_EQ(String::FromUnits(u"\u00BF")->ToLower()->View(), u"\u00BF");
  EXPECT_EQ(String::FromUnits(u"\u00E9\u0101\u03C9")->ToUpper()->View(), u"\u00C9\u0100\u03A9");
  EXPECT_EQ(String::FromUnits(u"\u00DF")->ToUpper()->View(), u"\u00DF") << "no one-to-one upper case";
  EXPECT_EQ(S("")->ToUpper().get(), EmptyString());
  Ref<String> lower = S("abc");
  EXPECT_NE(lower->ToLower().get(), lower.get()) << "always a new string";
}

TEST(StringNumbers, Parsing) {
  EXPECT_EQ(S("  12abc")->ToInt(), 12);
  EXPECT_EQ(S("-")->ToInt(), 0);
  EXPECT_EQ(S("$ff")->ToInt(), 255);
  EXPECT_EQ(S("$FF")->ToInt(), 255);
  EXPECT_EQ(S("%101")->ToInt(), 5);
  EXPECT_EQ(S("%102")->ToInt(), 2);
  EXPECT_EQ(S("- 5")->ToInt(), 0);
  EXPECT_EQ(S("+7")->ToInt(), 7);
  EXPECT_EQ(S("-$10")->ToInt(), -16);
  EXPECT_EQ(S("4294967297")->ToInt(), 1) << "wraps";
  EXPECT_EQ(S("")->ToInt(), 0);
  EXPECT_EQ(S("\t\n 9")->ToInt(), 9);
  EXPECT_EQ(S("-9223372036854775808")->ToLong(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(S("$7fffffffffffffff")->ToLong(), std::numeric_limits<int64_t>::max());
  EXPECT_DOUBLE_EQ(S("2.5e3x")->ToDouble(), 2500.0);
  EXPECT_FLOAT_EQ(S("0.1")->ToFloat(), 0.1f);
}

TEST(StringNumbers, Formatting) {
  EXPECT_EQ(N(String::FromInt(std::numeric_limits<int32_t>::min())), "-2147483648");
  EXPECT_EQ(N(String::FromInt(0)), "0");
  EXPECT_EQ(N(String::FromInt(-45)), "-45");
  EXPECT_EQ(N(String::FromLong(std::numeric_limits<int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(N(String::FromLong(1234567890123ll)), "1234567890123");
  EXPECT_EQ(N(String::FromFloat(0.1f)), "0.100000001");
  EXPECT_EQ(N(String::FromFloat(1.0f)), "1.00000000");
  EXPECT_EQ(N(String::FromDouble(1.0)), "1.0000000000000000");
  EXPECT_EQ(N(String::FromDouble(std::numeric_limits<double>::infinity())), "inf");
}

TEST(StringSplit, PiecesAndJoin) {
  Ref<Array> parts = S("a,,b")->Split(S(","));
  ASSERT_EQ(parts->Length(), 3);
  EXPECT_EQ(N(Cast<String>(parts->GetObject(0))), "a");
  EXPECT_EQ(parts->GetObject(1), EmptyString());
  EXPECT_EQ(N(Cast<String>(parts->GetObject(2))), "b");
  EXPECT_EQ(S("  ")->Split(S("")).get(), EmptyArray());
  Ref<Array> one = S("")->Split(S(","));
  ASSERT_EQ(one->Length(), 1);
  EXPECT_EQ(one->GetObject(0), EmptyString());
  Ref<Array> words = S(" one\ttwo  three ")->Split(S(""));
  ASSERT_EQ(words->Length(), 3);
  EXPECT_EQ(N(S(", ")->Join(words)), "one, two, three");
  EXPECT_EQ(S("-")->Join(EmptyArray()).get(), EmptyString());
  EXPECT_STREQ(words->Tag(), "$");
}

TEST(StringCompare, CodeUnitOrder) {
  EXPECT_LT(S("abc")->Compare(S("abcd")), 0);
  EXPECT_GT(S("b")->Compare(S("abcdef")), 0);
  EXPECT_EQ(S("same")->Compare(S("same")), 0);
  EXPECT_EQ(S("a")->Compare(S("b")), -1);
  EXPECT_GT(String::FromUnits(u"\uFFFF")->Compare(S("a")), 0) << "units compare unsigned";
  EXPECT_THROW(S("a")->Compare(Null()), ThrownObject);
}

TEST(StringUtf8, DecodeEncodeAndErrors) {
  EXPECT_EQ(String::FromUtf8("h\xC3\xA9\xE2\x82\xAC")->View(), u"h\u00E9\u20AC");
  EXPECT_EQ(String::FromUtf8("\xF0\x80\x80\x81")->View(), u"\u0001") << "overlong forms pass";
  EXPECT_TRUE(
      ThrowsObject([] { String::FromUtf8("\xF0\x9F\x98\x80"); }, "Unicode character out of UCS-2 range"));
  // A sequence cut short by the terminator ends the text instead of reading on.
  EXPECT_EQ(String::FromUtf8("ab\xE2\x82")->View(), u"ab");
  EXPECT_EQ(String::FromUtf8(static_cast<const char*>(nullptr)).get(), EmptyString());
  const char16_t units[] = {u'A', 0xE9, 0x20AC, 0xD83D};  // a lone surrogate too
  Ref<String> mixed = String::FromUnitBuffer(units, 4);
  EXPECT_EQ(mixed->ToUtf8String(), "A\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD");
  char* buffer = mixed->ToUtf8();
  EXPECT_STREQ(buffer, "A\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD");
  vrRawFree(buffer);
}

TEST(StringBuffers, NarrowWideAndTemporaries) {
  Ref<String> s = String::FromUnits(u"A\u0142");
  char* narrow = s->ToNarrowChars();
  EXPECT_STREQ(narrow, "A\x42");
  vrRawFree(narrow);
  char16_t* wide = s->ToWideChars();
  EXPECT_EQ(std::u16string(wide), u"A\u0142");
  vrRawFree(wide);
  EXPECT_EQ(String::FromNarrowChars("\xE9")->View(), u"\u00E9");
  EXPECT_EQ(String::FromByteBuffer("abc", 2)->View(), u"ab");
  const char* first = vrTempNarrowChars(S("first"));
  EXPECT_STREQ(first, "first");
  for (int i = 0; i < 31; ++i) vrTempUtf8(S("filler"));
  EXPECT_STREQ(first, "first") << "valid until 32 more temporaries";
}

TEST(StringOps, ConcatSliceCharFirst) {
  EXPECT_EQ(N(vrConcatStrings(S("ab"), S("cd"))), "abcd");
  EXPECT_EQ(vrConcatStrings(S(""), S("")).get(), EmptyString());
  EXPECT_EQ(N(vrSliceString(S("abc"), -2, 2)), "  ab");
  EXPECT_EQ(N(vrSliceString(S("abc"), 2, 5)), "c  ");
  EXPECT_EQ(vrSliceString(S("abc"), 2, 2).get(), EmptyString());
  EXPECT_EQ(vrCharString(0x10041)->View(), u"A");
  EXPECT_EQ(vrFirstUnit(S("z")), 'z');
  EXPECT_EQ(vrFirstUnit(S("")), -1);
  int32_t ints[] = {72, 0x10069};
  EXPECT_EQ(StringFromInts(ints, 2)->View(), u"Hi");
  EXPECT_EQ(StringFromArray(vrArrayFromInts("b", 2, ints))->View(), u"Hi");
  EXPECT_EQ(StringFromArray(Array::New("i", {1, 2})).get(), EmptyString());
  EXPECT_EQ(u"constant"_vs->View(), u"constant");
  EXPECT_EQ(u""_vs, EmptyString());
}

TEST(TextFunctions, OneBasedPositions) {
  Ref<String> s = S("abcdef");
  EXPECT_EQ(N(MidText(s, 2, 3)), "bcd");
  EXPECT_EQ(N(MidText(s, 0, 3)), "ab");
  EXPECT_EQ(N(MidText(s, 5)), "ef");
  EXPECT_EQ(N(MidText(s, -1)), "  abcdef");
  EXPECT_EQ(MidText(s, 7, 2).get(), EmptyString());
  EXPECT_EQ(FindPosition(s, S("cd")), 3);
  EXPECT_EQ(FindPosition(s, S("x")), 0);
  EXPECT_EQ(N(LeftPart(s, 2)), "ab");
  EXPECT_EQ(N(RightPart(s, 10)), "abcdef");
  EXPECT_EQ(LeftPart(s, -1).get(), EmptyString());
  EXPECT_EQ(N(PadRight(S("ab"), 4)), "ab  ");
  EXPECT_EQ(N(PadLeft(S("ab"), 4)), "  ab");
  EXPECT_EQ(N(PadLeft(s, 2)), "ef");
  EXPECT_EQ(N(HexText(-1)), "FFFFFFFF");
  EXPECT_EQ(N(HexText(0xAB)), "000000AB");
  EXPECT_EQ(N(BinText(5)), "00000000000000000000000000000101");
  EXPECT_EQ(N(LongHexText(0x123456789ABCDEFll)), "0123456789ABCDEF");
  EXPECT_EQ(LongBinText(-1)->Length(), 64);
}

TEST(TextFunctions, ExtremePositionsDoNotOverflow) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  Ref<String> s = S("abcdef");
  EXPECT_EQ(MidText(s, kMax, 2).get(), EmptyString());
  EXPECT_EQ(MidText(s, kMax).get(), EmptyString());
  EXPECT_EQ(N(MidText(s, 2, kMax)), "bcdef");
  // The part before position 1 shortens the count: nothing is left of it.
  EXPECT_EQ(MidText(s, kMin, 3).get(), EmptyString());
  EXPECT_EQ(MidText(s, kMin, kMax).get(), EmptyString());
  // To the end from far before the start would pad beyond the longest
  // possible string.
  EXPECT_THROW(MidText(s, kMin), std::bad_alloc);
  EXPECT_EQ(FindPosition(s, S("cd"), kMin), 3) << "Find from a negative start searches from 0";
  EXPECT_EQ(FindPosition(s, S(""), kMin), 1);
  EXPECT_EQ(FindPosition(s, S("cd"), kMax), 0);
  EXPECT_EQ(PadLeft(s, kMin).get(), EmptyString());
  EXPECT_EQ(PadRight(s, kMin).get(), EmptyString());
  EXPECT_EQ(LeftPart(s, kMax)->View(), s->View());
  EXPECT_EQ(RightPart(s, kMax)->View(), s->View());
}

}  // namespace

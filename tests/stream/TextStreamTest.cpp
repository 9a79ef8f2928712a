#include "stream/TextStream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/Exceptions.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/CStream.h"
#include "stream/EndianStream.h"
#include "tests/stream/FailingStream.h"
#include "tests/support/TempDir.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using vrl::testing_support::TempDirTest;
using vrl::testing_support::TFailingStream;

namespace {

Ref<String> S(const char* text) { return String::FromNarrow(text); }

class TextStreamTest : public TempDirTest {
 protected:
  void SetUp() override {
    textstream::Init();
    endianstream::Init();
    bankstream::Init();
    TempDirTest::SetUp();
  }
  // A text stream over a bank holding `bytes`.
  Ref<TTextStream> Over(const std::string& bytes, int32_t encoding) {
    _bank = CreateBank(static_cast<int32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(_bank->Buf(), bytes.data(), bytes.size());
    return TTextStream::Create(CreateBankStream(_bank), encoding);
  }
  Ref<TTextStream> Writer(int32_t encoding) { return Over("", encoding); }
  std::string Written() const {
    return std::string(reinterpret_cast<const char*>(_bank->Buf()), std::size_t(_bank->Size()));
  }
  std::string FileBytes(const char* name) {
    std::ifstream in(NativeOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  Ref<String> SaveBytes(const char* name, const std::string& bytes) {
    std::ofstream(NativeOf(name), std::ios::binary) << bytes;
    return String::FromUtf8(NativeOf(name));
  }

  Ref<TBank> _bank;
};

TEST_F(TextStreamTest, LineRules) {
  Ref<TTextStream> t = Over(std::string("ab\rc\r\nx", 7), TTextStream::LATIN1);
  EXPECT_EQ(t->ReadLine()->ToNarrow(), "abc");
  EXPECT_EQ(t->ReadLine()->ToNarrow(), "x");
  EXPECT_EQ(t->ReadLine()->Length(), 0);
  Ref<TTextStream> z = Over(std::string("a\0b", 3), TTextStream::LATIN1);
  EXPECT_EQ(z->ReadLine()->ToNarrow(), "a");
  EXPECT_EQ(z->ReadLine()->ToNarrow(), "b");
}

TEST_F(TextStreamTest, EncodingsWriteAndReadBack) {
  Ref<String> text = String::FromUnits(u"A\u00e9\u20ac");
  struct Case {
    int32_t encoding;
    std::string bytes;
  } cases[] = {
      {TTextStream::UTF8, "A\xc3\xa9\xe2\x82\xac"},
      {TTextStream::UTF16BE, std::string("\0A\0\xe9\x20\xac", 6)},
      {TTextStream::UTF16LE, std::string("A\0\xe9\0\xac\x20", 6)},
  };
  for (const Case& c : cases) {
    Ref<TTextStream> w = Writer(c.encoding);
    w->WriteString(text);
    EXPECT_EQ(Written(), c.bytes) << c.encoding;
    Ref<TTextStream> r = Over(c.bytes, c.encoding);
    EXPECT_TRUE(r->ReadString(3)->Equals(text)) << c.encoding;
  }
  Ref<TTextStream> latin = Writer(TTextStream::LATIN1);
  latin->WriteChar(0x1E9);
  EXPECT_EQ(Written(), "\xe9");
  // A lead byte of 240 or more takes four bytes; a value that is no
  // character reads as 0, and the character after it survives.
  Ref<TTextStream> four = Over(
      "\xf0\x9d\x84\x9e"
      "\xf8\x80\x80\x80"
      "\xf0\x80\x80\x80"
      "Z",
      TTextStream::UTF8);
  EXPECT_EQ(four->ReadChar(), 0xD834);
  EXPECT_EQ(four->ReadChar(), 0xDD1E);
  EXPECT_EQ(four->ReadChar(), 0);
  EXPECT_EQ(four->ReadChar(), 0);
  EXPECT_EQ(four->ReadChar(), 'Z');
}

// A 4-byte sequence used to be read as three bytes and 0, so its fourth byte
// swallowed the next character, and a surrogate pair was written as two
// 3-byte sequences that other programs reject.
TEST_F(TextStreamTest, Utf8CharactersBeyondSixteenBitsRoundTrip) {
  Ref<String> text = String::FromUnits(u"\U0001F600A");
  Ref<TTextStream> w = Writer(TTextStream::UTF8);
  w->WriteString(text);
  EXPECT_EQ(Written(),
            "\xf0\x9f\x98\x80"
            "A");
  EXPECT_TRUE(Over(Written(), TTextStream::UTF8)->ReadString(3)->Equals(text));
  EXPECT_TRUE(Over(Written(), TTextStream::UTF8)->ReadLine()->Equals(text));
  // A pair at the very end of the data still gives both units.
  Ref<TTextStream> last = Over("x\xf0\x9f\x98\x80", TTextStream::UTF8);
  EXPECT_TRUE(last->ReadFile()->Equals(String::FromUnits(u"x\U0001F600")));
  // WriteChar takes such a character whole.
  Ref<TTextStream> one = Writer(TTextStream::UTF8);
  one->WriteChar(0x1F600);
  EXPECT_EQ(Written(), "\xf0\x9f\x98\x80");
  // Lone surrogates keep their 3-byte form both ways.
  Ref<TTextStream> lone = Writer(TTextStream::UTF8);
  lone->WriteString(String::FromUnits(u"\xDC00"));
  EXPECT_EQ(Written(), "\xed\xb0\x80");
  Ref<TTextStream> old = Over("\xed\xa0\xbd\xed\xb8\x80", TTextStream::UTF8);
  EXPECT_TRUE(old->ReadLine()->Equals(String::FromUnits(u"\U0001F600")));
}

TEST_F(TextStreamTest, TruncatedCharactersNeverReadPastTheData) {
  // A UTF-8 sequence cut short, and an odd byte of UTF-16: the read
  // exception, not a read beyond the bank.
  Ref<TTextStream> utf8 = Over("ab\xe2\x82", TTextStream::UTF8);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { utf8->ReadLine(); }));
  Ref<TTextStream> utf16 = Over(std::string("a\0b", 3), TTextStream::UTF16LE);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { utf16->ReadFile(); }));
  // A character that is not cut short but ends the data ends the line.
  Ref<TTextStream> whole = Over("\xc3\xa9", TTextStream::UTF8);
  EXPECT_TRUE(whole->ReadLine()->Equals(String::FromUnits(u"\u00e9")));
  // Without an encoding nothing is read: ReadFile ends at once.
  Ref<TTextStream> none = Over("abc", 0);
  EXPECT_EQ(none->ReadFile()->Length(), 0);
  EXPECT_EQ(none->ReadChar(), 0);
}

TEST_F(TextStreamTest, NumbersAsLines) {
  Ref<TTextStream> w = Writer(TTextStream::UTF8);
  w->WriteInt(7);
  w->WriteByte(300);  // the whole Int is written
  w->WriteLong(-9000000000LL);
  w->WriteDouble(0.5);
  EXPECT_EQ(Written().substr(0, 3), "7\r\n");
  EXPECT_EQ(Written().substr(3, 5), "300\r\n");
  Ref<TTextStream> r = Over(Written(), TTextStream::UTF8);
  EXPECT_EQ(r->ReadInt(), 7);
  EXPECT_EQ(r->ReadShort(), 300);
  EXPECT_EQ(r->ReadLong(), -9000000000LL);
  EXPECT_EQ(r->ReadDouble(), 0.5);
}

// The number's line is converted whole: masking it to 8 or 16 bits lost
// what WriteByte and WriteShort wrote.
TEST_F(TextStreamTest, ReadByteAndReadShortKeepTheWholeValue) {
  Ref<TTextStream> w = Writer(TTextStream::LATIN1);
  w->WriteByte(300);
  w->WriteShort(70000);
  w->WriteByte(-1);
  Ref<TTextStream> r = Over(Written(), TTextStream::LATIN1);
  EXPECT_EQ(r->ReadByte(), 300);
  EXPECT_EQ(r->ReadShort(), 70000);
  EXPECT_EQ(r->ReadByte(), -1);
}

// With no encoding no character consumes data, so ReadString's count alone
// decided how much was allocated.
TEST_F(TextStreamTest, ReadStringWithoutAnEncodingIsRefused) {
  Ref<TTextStream> none = Over("abc", 0);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { none->ReadString(1 << 24); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { none->ReadString(INT32_MAX); }));
  EXPECT_EQ(none->ReadString(0)->Length(), 0);
  // With an encoding the data bounds it: the read exception at its end.
  Ref<TTextStream> latin = Over("abc", TTextStream::LATIN1);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { latin->ReadString(INT32_MAX); }));
}

// Text read from a seekable stream that stops before its end used to end
// quietly, as if the text were complete.
TEST_F(TextStreamTest, ReadErrorBeforeTheEndIsAFailedRead) {
  std::string latin(3000, 'l');
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadText(TFailingStream::Over(latin, 2000)); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadText(TFailingStream::Over(latin, 0)); }));
  std::string wide = "\xff\xfe" + std::string(3000, '\0');
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadText(TFailingStream::Over(wide, 1000)); }));
  Ref<TTextStream> line = TTextStream::Create(TFailingStream::Over("no end of line", 5), TTextStream::LATIN1);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { line->ReadLine(); }));
  EXPECT_EQ(LoadText(TFailingStream::Over(wide, 3002))->Length(), 1500);
}

TEST_F(TextStreamTest, RawBytesAsHexadecimalLines) {
  uint8_t bytes[33];
  for (int i = 0; i < 33; ++i) bytes[i] = uint8_t(i * 8 + 1);
  Ref<TTextStream> w = Writer(TTextStream::LATIN1);
  EXPECT_EQ(w->Write(bytes, 33), 33);
  std::string text = Written();
  ASSERT_EQ(text.size(), 64u + 2 + 2);
  EXPECT_EQ(text.substr(0, 6), "010911");
  EXPECT_EQ(text.substr(64, 2), "\r\n");
  EXPECT_EQ(text.substr(66), "01");
  // The next text operation ends the partial line.
  w->WriteLine(S("t"));
  EXPECT_EQ(Written().substr(66), "01\r\nt\r\n");

  Ref<TTextStream> r = Over(Written(), TTextStream::LATIN1);
  uint8_t back[33] = {};
  EXPECT_EQ(r->Read(back, 33), 33);
  EXPECT_EQ(std::memcmp(back, bytes, 33), 0);
  EXPECT_EQ(r->ReadLine()->ToNarrow(), "t");

  std::string bad = text.substr(0, 64) + "X\n01";
  Ref<TTextStream> m = Over(bad, TTextStream::LATIN1);
  try {
    m->Read(back, 33);
    FAIL() << "nothing thrown";
  } catch (const ThrownObject& e) {
    ASSERT_TRUE(CastRaw<String>(e.object()));
    EXPECT_STREQ(e.what(), "Malformed line terminator");
  }
}

TEST_F(TextStreamTest, LoadTextDetectsByteOrderMarks) {
  struct Case {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"", u""},
      {"\xef", u"\u00ef"},
      {std::string("\xff\xfe"
                   "A\0",
                   4),
       u"A"},
      {std::string("\xfe\xff\0A\x20\xac", 6), u"A\u20ac"},
      {"\xef\xbb\xbf\xc3\xa9!", u"\u00e9!"},
      {"\xef\xbb"
       "A",
       u"\u00ef\u00bb"
       "A"},
      {"\xef\xbb", u"\u00ef\u00bb"},
      {"plain\r\ntext", u"plain\r\ntext"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "load" + std::to_string(n++);
    Ref<String> got = LoadText(SaveBytes(name.c_str(), c.bytes));
    EXPECT_TRUE(got->Equals(String::FromUnits(c.text))) << name;
  }
  std::string long_text(3000, 'q');
  EXPECT_EQ(LoadText(SaveBytes("long", long_text))->Length(), 3000);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadText(Path(u"missing")); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] {
    LoadText(SaveBytes("odd", std::string("\xff\xfe"
                                          "A",
                                          3)));
  }));
}

TEST_F(TextStreamTest, SaveTextChoosesLatin1OrUtf16) {
  EXPECT_EQ(SaveText(S("abc"), Path(u"abc")), 1);
  EXPECT_EQ(FileBytes("abc"), "abc");
  EXPECT_EQ(SaveText(String::FromUnits(u"\u0100z"), Path(u"wide")), 1);
  EXPECT_EQ(FileBytes("wide"), std::string("\xff\xfe\x00\x01z\0", 6));
  EXPECT_TRUE(LoadText(Path(u"wide"))->Equals(String::FromUnits(u"\u0100z")));
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { SaveText(S("x"), Path(u"no/dir/f")); }));
  EXPECT_TRUE(
      Throws<TStreamWriteException>([&] { SaveText(String::FromUnits(u"\u0100"), Path(u"no/dir/f")); }));
  // Lost data on a full device is a failed save in both forms. (Without the
  // device, the save would create a regular file in its place.)
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_TRUE(Throws<TStreamWriteException>([&] { SaveText(S("abc"), S("/dev/full")); }));
    EXPECT_TRUE(
        Throws<TStreamWriteException>([&] { SaveText(String::FromUnits(u"\u0100"), S("/dev/full")); }));
  }
}

TEST_F(TextStreamTest, TextProtocols) {
  Ref<String> path = Path(u"proto.txt");
  Ref<TStream> w = WriteStream(vrConcatStrings(u"utf16be::"_vs, path));
  ASSERT_TRUE(CastRaw<TTextStream>(w));
  w->WriteLine(S("hi"));
  w->Close();
  EXPECT_EQ(FileBytes("proto.txt"), std::string("\0h\0i\0\r\0\n", 8));
  Ref<TStream> r = ReadStream(vrConcatStrings(u"UTF16BE::"_vs, path));
  EXPECT_EQ(r->ReadLine()->ToNarrow(), "hi");
  EXPECT_FALSE(ReadStream(vrConcatStrings(u"utf8::"_vs, Path(u"missing"))));
  Ref<TStream> stacked = ReadStream(vrConcatStrings(u"latin1::bigendian::"_vs, path));
  ASSERT_TRUE(CastRaw<TTextStream>(stacked));
  EXPECT_EQ(stacked->ReadLine()->Length(), 0);  // the first byte is 0
}

TEST_F(TextStreamTest, EndianStreams) {
  Ref<String> path = SaveBytes("be", std::string("\x01\x02\xff\xff", 4));
  Ref<TStream> little = ReadStream(vrConcatStrings(u"littleendian::"_vs, path));
  EXPECT_TRUE(CastRaw<TCStream>(little));  // the plain stream
  EXPECT_EQ(little->ReadShort(), 0x0201);
  Ref<TStream> big = ReadStream(vrConcatStrings(u"bigendian::"_vs, path));
  ASSERT_TRUE(CastRaw<TXEndianStream>(big));
  EXPECT_EQ(big->ReadShort(), 258);
  EXPECT_EQ(big->ReadShort(), 65535);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { big->ReadShort(); }));
  EXPECT_FALSE(ReadStream(vrConcatStrings(u"bigendian::"_vs, Path(u"missing"))));
  EXPECT_FALSE(TXEndianStream::Create(nullptr));

  Ref<TBank> bank = CreateBank(0);
  Ref<TStream> out = BigEndianStream(CreateBankStream(bank));
  out->WriteShort(0x10203);
  out->WriteInt(0x01020304);
  out->WriteLong(0x0102030405060708LL);
  out->WriteFloat(1.0f);
  out->WriteDouble(-2.0);
  out->WriteByte(9);
  ASSERT_EQ(bank->Size(), 2 + 4 + 8 + 4 + 8 + 1);
  EXPECT_EQ(std::memcmp(bank->Buf(), "\x02\x03\x01\x02\x03\x04\x01\x02", 8), 0);
  EXPECT_EQ(std::memcmp(bank->Buf() + 14, "\x3f\x80\x00\x00\xc0\x00", 6), 0);
  Ref<TStream> in = BigEndianStream(CreateBankStream(bank));
  EXPECT_EQ(in->ReadShort(), 0x0203);
  EXPECT_EQ(in->ReadInt(), 0x01020304);
  EXPECT_EQ(in->ReadLong(), 0x0102030405060708LL);
  EXPECT_EQ(in->ReadFloat(), 1.0f);
  EXPECT_EQ(in->ReadDouble(), -2.0);
  EXPECT_EQ(in->ReadByte(), 9);
  Ref<TStream> same = CreateBankStream(bank);
  EXPECT_EQ(LittleEndianStream(same).get(), same.get());
}

}  // namespace

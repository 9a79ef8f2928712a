// The line readers read in bulk from a file's buffer; a bank stream has no
// buffer to offer and reads byte by byte. Both must give the same lines,
// wherever the buffer's ends fall.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/Exceptions.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/CStream.h"
#include "stream/TextStream.h"
#include "tests/stream/SaveFailures.h"
#include "tests/support/TempDir.h"

using namespace vrl;
using namespace vrl::testing_support;

namespace {

class LineReaderTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    bankstream::Init();
    textstream::Init();
  }
  Ref<TCStream> FileOf(const std::string& bytes) {
    const std::string path = NativeOf("lines-" + std::to_string(++_files));
    WriteWhole(path, bytes);
    return TCStream::OpenFile(String::FromUtf8(path), 1, 0);
  }
  static Ref<TStream> BankOf(const std::string& bytes) {
    Ref<TBank> bank = TBank::Create(int32_t(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), bank->Buf());
    return TBankStream::Create(bank);
  }

 private:
  int _files = 0;
};

// Every line until the end, and whether reading ended in a read exception;
// each line is followed by the position after it.
std::vector<std::u16string> Lines(TStream* stream) {
  std::vector<std::u16string> lines;
  try {
    for (int guard = 0; !stream->Eof() && guard < 1000000; ++guard) {
      lines.emplace_back(stream->ReadLine()->View());
      lines.push_back(u"@" + std::u16string(String::FromInt(stream->Pos())->View()));
    }
  } catch (const ThrownObject& e) {
    lines.push_back(e.As<TStreamReadException>() ? u"<read exception>" : u"<other exception>");
  }
  return lines;
}

// Bytes that stress the line rules: CR, LF, 0, UTF-8 leads of every length,
// continuation bytes and bytes no encoding expects, in lines of every length
// from empty to far longer than a buffer.
std::string Stress(uint32_t seed, std::size_t size) {
  static const uint8_t kAlphabet[] = {'a',  'b',  ' ',  13,   10,   0,    0xC3, 0xA9, 0xE2, 0x82,
                                      0xAC, 0xF0, 0x9D, 0x84, 0x9E, 0xFF, 0xF8, 0x80, 'z',  13};
  std::string bytes;
  uint32_t state = seed;
  auto next = [&] {
    state = state * 1664525U + 1013904223U;
    return state >> 8;
  };
  while (bytes.size() < size) {
    std::size_t run = next() % 8 == 0 ? next() % 9000 : next() % 40;
    for (std::size_t i = 0; i < run; ++i) {
      // Mostly plain letters, so that the bulk paths run too.
      bytes += next() % 4 ? char('a' + next() % 26) : char(kAlphabet[next() % sizeof kAlphabet]);
    }
    bytes += next() % 3 ? "\r\n" : "\n";
  }
  return bytes;
}

// Lines whose CR LF, whose LF, or whose 0 falls on every byte around the
// ends of buffers of 4 KiB, 8 KiB and 64 KiB.
std::string AcrossBufferEnds(const char* ending) {
  std::string bytes;
  for (std::size_t boundary : {4096u, 8192u, 65536u}) {
    for (std::size_t want = boundary - 3; want <= boundary + 3; ++want) {
      if (bytes.size() < want) bytes += std::string(want - bytes.size(), 'x');
      bytes += ending;
    }
  }
  return bytes + "tail without an end";
}

TEST_F(LineReaderTest, FileLinesMatchTheByteByByteReading) {
  // 0 bytes (which end a line) every 997 bytes, across the buffer ends too.
  std::string zeros = AcrossBufferEnds("\n");
  for (std::size_t i = 0; i < zeros.size(); i += 997) zeros[i] = '\0';
  std::vector<std::string> inputs = {
      AcrossBufferEnds("\r\n"),
      AcrossBufferEnds("\n"),
      zeros,
      AcrossBufferEnds("\r"),                      // a lone CR is no line end
      std::string(300000, 'L') + "\r\nshort\r\n",  // very long lines
      std::string(5000, '\r') + "x\n",             // CRs alone across a buffer end
      "",
      "no end at all",
      std::string("a\r\nb\0after the zero", 18),
  };
  for (uint32_t seed = 1; seed <= 6; ++seed) inputs.push_back(Stress(seed, 150000));
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::vector<std::u16string> expected = Lines(BankOf(inputs[i]));
    EXPECT_EQ(Lines(FileOf(inputs[i])), expected) << "input " << i;
    // Through a wrapper that forwards to the file's buffer as well.
    Ref<TStream> wrapped = OpenStream(FileOf(inputs[i]), 1, 0);
    EXPECT_EQ(Lines(wrapped), expected) << "wrapped input " << i;
  }
  // Fixed points of the rules themselves.
  std::vector<std::u16string> lines = Lines(FileOf("a\r\nb\rc\r\n\nd"));
  EXPECT_EQ(lines, (std::vector<std::u16string>{u"a", u"@3", u"bc", u"@8", u"", u"@9", u"d", u"@10"}));
}

TEST_F(LineReaderTest, TextLinesMatchTheCharacterByCharacterReading) {
  std::vector<std::string> inputs = {AcrossBufferEnds("\r\n"), AcrossBufferEnds("\n"),
                                     std::string(200000, 'L') + "\r\nshort"};
  for (uint32_t seed = 11; seed <= 16; ++seed) inputs.push_back(Stress(seed, 120000));
  // A 4-byte UTF-8 character and a 3-byte one across every alignment of a
  // buffer end, and one cut short by the end of the data.
  std::string multi;
  for (int shift = 0; shift < 8; ++shift) {
    multi += std::string(4096 - 7 + std::size_t(shift) - multi.size() % 4096, 'm');
    multi += "\xf0\x9d\x84\x9e\xe2\x82\xac\r\n";
  }
  inputs.push_back(multi);
  inputs.push_back(multi + "\xe2\x82");
  for (int32_t encoding = TTextStream::LATIN1; encoding <= TTextStream::UTF16LE; ++encoding) {
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      std::vector<std::u16string> expected = Lines(TTextStream::Create(BankOf(inputs[i]), encoding));
      EXPECT_EQ(Lines(TTextStream::Create(FileOf(inputs[i]), encoding)), expected)
          << "encoding " << encoding << ", input " << i;
    }
  }
  Ref<TTextStream> utf8 = TTextStream::Create(FileOf("\xf0\x9d\x84\x9e!\r\n\xe2\x82\xac"), TTextStream::UTF8);
  EXPECT_EQ(std::u16string(utf8->ReadLine()->View()), u"\U0001D11E!");
  EXPECT_EQ(std::u16string(utf8->ReadLine()->View()), u"\u20ac");
}

TEST_F(LineReaderTest, ReadingGoesOnWhereTheLineEnded) {
  Ref<TCStream> file = FileOf("first\r\nsecond\nrest");
  EXPECT_EQ(file->ReadLine()->ToNarrow(), "first");
  EXPECT_EQ(file->Pos(), 7);
  EXPECT_EQ(file->ReadByte(), 's');
  EXPECT_EQ(file->ReadLine()->ToNarrow(), "econd");
  char rest[4] = {};
  EXPECT_EQ(file->Read(rest, 4), 4);
  EXPECT_EQ(std::string(rest, 4), "rest");
  EXPECT_EQ(file->ReadLine()->ToNarrow(), "");

  // Reading lines and writing on one file: the switch between the two keeps
  // the position.
  const std::string path = NativeOf("both.txt");
  WriteWhole(path, "one\ntwo\nthree\n");
  Ref<TCStream> both = TCStream::OpenFile(String::FromUtf8(path), 1, 1);
  EXPECT_EQ(both->ReadLine()->ToNarrow(), "one");
  both->WriteBytes("TWO", 3);
  EXPECT_EQ(both->ReadLine()->ToNarrow(), "");
  EXPECT_EQ(both->ReadLine()->ToNarrow(), "three");
  EXPECT_EQ(both->Close(), 0);
  EXPECT_EQ(ReadWhole(path), "one\nTWO\nthree\n");

  // A text stream's line leaves the file right after its LF.
  Ref<TCStream> under = FileOf("caf\xc3\xa9\r\nZ");
  Ref<TTextStream> text = TTextStream::Create(under, TTextStream::UTF8);
  EXPECT_EQ(std::u16string(text->ReadLine()->View()), u"caf\u00e9");
  EXPECT_EQ(under->Pos(), 7);
  EXPECT_EQ(under->ReadByte(), 'Z');
}

}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "RegisterStreamTestFiles.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/Bank.h"
#include "stream/BankStream.h"
#include "stream/EmbeddedFiles.h"
#include "stream/RamStream.h"
#include "stream/TextStream.h"
#include "tests/support/TempDir.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using vrl::testing_support::TempDirTest;

namespace {

Ref<String> S(const char* text) { return String::FromNarrow(text); }

std::string Contents(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class MemoryStreamTest : public TempDirTest {
 protected:
  void SetUp() override {
    ramstream::Init();
    bankstream::Init();
    static bool registered = false;
    if (!registered) RegisterStreamTestFiles();
    registered = true;
    TempDirTest::SetUp();
  }
};

TEST_F(MemoryStreamTest, EmbeddedFilesAreRegisteredInOrderAndReadInPlace) {
  std::string verse = Contents(VRL_TEST_DATA "/verse.txt");
  std::string seven = Contents(VRL_TEST_DATA "/seven.bin");
  ASSERT_EQ(seven.size(), 7u);
  // The third registration repeated "verse.txt" with seven.bin's bytes: the
  // first one won.
  ASSERT_EQ(EmbeddedFileLength(S("verse.txt")), int32_t(verse.size()));
  const uint8_t* data = EmbeddedFilePointer(S("verse.txt"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), verse.size()), verse);
  // Non-ASCII names keep their characters.
  Ref<String> name = String::FromUnits(u"bytes/seven-\u00e9.bin");
  EXPECT_EQ(std::memcmp(EmbeddedFilePointer(name), seven.data(), 7), 0);
  // Every stream reads the same bytes in place, without copying them.
  Ref<TStream> in = ReadStream(S("incbin::verse.txt"));
  ASSERT_TRUE(CastRaw<TRamStream>(in));
  EXPECT_EQ(CastRaw<TRamStream>(in)->Buf(), data);
  EXPECT_EQ(in->Size(), int32_t(verse.size()));
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "Snow on the roofs");
  EXPECT_EQ(LoadString(S("INCBIN::verse.txt"))->ToNarrow(), verse);
  EXPECT_EQ(LoadByteArray(String::FromUnits(u"incbin::bytes/seven-\u00e9.bin"))->Length(), 7);
}

TEST_F(MemoryStreamTest, RegistryNamesAreExactAndTheFirstEntryWins) {
  static const char first[] = "first", second[] = "second!";
  // The registry keeps its entries for the whole run: a fresh name each time
  // the test runs (--gtest_repeat).
  static int run = 0;
  std::string number = std::to_string(run++);
  Ref<String> name = S(("reg/a" + number + ".bin").c_str());
  Ref<String> upper = S(("REG/A" + number + ".BIN").c_str());
  EXPECT_EQ(AddEmbeddedFile(name, first, 5), 1);
  EXPECT_EQ(AddEmbeddedFile(name, second, 7), 0);
  EXPECT_EQ(EmbeddedFileLength(name), 5);
  EXPECT_EQ(EmbeddedFilePointer(name), reinterpret_cast<const uint8_t*>(first));
  EXPECT_EQ(EmbeddedFilePointer(upper), nullptr);
  EXPECT_EQ(EmbeddedFileLength(upper), 0);
  EXPECT_FALSE(ReadStream(vrConcatStrings(u"incbin::"_vs, upper)));
  EXPECT_EQ(AddEmbeddedFile(S("reg/negative"), first, -1), 0);
  EXPECT_EQ(EmbeddedFilePointer(S("reg/negative")), nullptr);
}

TEST_F(MemoryStreamTest, IncbinIsReadOnly) {
  EXPECT_FALSE(WriteStream(S("incbin::verse.txt")));
  EXPECT_FALSE(OpenStream(S("incbin::verse.txt"), 1, 1));
  EXPECT_TRUE(Throws<TStreamWriteException>([] { SaveString(S("x"), S("incbin::verse.txt")); }));
  Ref<TStream> in = ReadStream(S("incbin::verse.txt"));
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { in->WriteByte(1); }));
}

TEST_F(MemoryStreamTest, RamStreamsStayInsideTheirBlock) {
  uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Ref<TRamStream> noRead = CreateRamStream(block, 8, 0, 1);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { noRead->ReadByte(); }));
  EXPECT_EQ(noRead->Seek(-4), 0);
  EXPECT_EQ(noRead->Seek(99), 8);
  noRead->Seek(6);
  uint8_t data[4] = {9, 9, 9, 9};
  EXPECT_EQ(noRead->Write(data, 4), 2);  // cut at the end, never grows
  EXPECT_EQ(noRead->Size(), 8);
  EXPECT_EQ(block[7], 9);

  Ref<TRamStream> noWrite = TRamStream::Create(block, 8, 1, 0);
  EXPECT_EQ(noWrite->Write(data, 1), 0);
  noWrite->Seek(7);
  EXPECT_EQ(noWrite->Read(data, 4), 1);
  EXPECT_EQ(noWrite->Read(data, 4), 0);
  EXPECT_EQ(noWrite->Eof(), 1);
  EXPECT_EQ(noWrite->Read(data, -1), 0);
}

// A ram stream whose line readers take one byte at a time through Read, as
// over a stream without a buffer.
class TUnbufferedRamStream : public TRamStream {
  VRL_CLASS(TUnbufferedRamStream, TRamStream)
 public:
  std::span<const uint8_t> PeekBuffered() override { return {}; }
  static Ref<TUnbufferedRamStream> Over(std::string& bytes) {
    Ref<TUnbufferedRamStream> stream = New<TUnbufferedRamStream>();
    stream->_buf = reinterpret_cast<uint8_t*>(bytes.data());
    stream->_size = static_cast<int32_t>(bytes.size());
    stream->_read = 1;
    return stream;
  }
};

}  // namespace

VRL_CLASS_RECORD(TUnbufferedRamStream, "TUnbufferedRamStream")

namespace {

// The line readers take a ram stream's lines straight from its block; they
// read exactly what they read byte by byte, and leave the stream where that
// leaves it.
TEST_F(MemoryStreamTest, LinesOverTheBlockReadAsByteByByte) {
  std::string text("snow\r\non the\0roofs\n\nr\xC3\xA9veillon\r\rbells\xE2\x80", 36);
  auto lines = [&](Ref<TRamStream> ram, bool asText) {
    Ref<TStream> stream = ram;
    if (asText) stream = TTextStream::Create(ram, TTextStream::UTF8);
    std::vector<std::pair<std::u16string, int32_t>> read;
    try {
      while (!stream->Eof()) read.emplace_back(stream->ReadLine()->View(), ram->Pos());
    } catch (const ThrownObject&) {
      read.emplace_back(u"(cut short)", ram->Pos());
    }
    return read;
  };
  for (bool asText : {false, true}) {
    auto buffered = lines(TRamStream::Create(text.data(), static_cast<int32_t>(text.size()), 1, 0), asText);
    EXPECT_EQ(buffered, lines(TUnbufferedRamStream::Over(text), asText)) << (asText ? "text" : "bytes");
    EXPECT_GE(buffered.size(), 5u);
  }
  Ref<TRamStream> unreadable = TRamStream::Create(text.data(), static_cast<int32_t>(text.size()), 0, 1);
  EXPECT_TRUE(unreadable->PeekBuffered().empty());
  EXPECT_EQ(unreadable->ReadLine()->Length(), 0);
}

TEST_F(MemoryStreamTest, BankGrowthRule) {
  Ref<TBank> bank = TBank::Create(100);
  EXPECT_EQ(bank->Capacity(), 100);
  bank->PokeInt(96, 0x12345678);
  bank->Resize(120);
  EXPECT_EQ(bank->Capacity(), 150);
  EXPECT_EQ(bank->PeekInt(96), 0x12345678);  // the bytes in use moved along
  bank->Resize(200);
  EXPECT_EQ(bank->Capacity(), 225);  // 150 * 3 / 2
  bank->Resize(50);
  EXPECT_EQ(bank->Capacity(), 225);
  EXPECT_EQ(bank->Size(), 50);
  Ref<TBank> jump = TBank::Create(100);
  jump->Resize(200);
  EXPECT_EQ(jump->Capacity(), 200);
  Ref<TBank> small = TBank::Create(100);
  small->Resize(50);
  EXPECT_EQ(small->Capacity(), 100);
  EXPECT_EQ(small->Size(), 50);
}

TEST_F(MemoryStreamTest, GrowingAStaticBankLeavesTheCallersMemoryAlone) {
  uint8_t memory[4] = {10, 20, 30, 40};
  Ref<TBank> bank = CreateStaticBank(memory, 4);
  EXPECT_EQ(bank->Capacity(), -1);
  EXPECT_EQ(bank->Buf(), memory);
  bank->PokeByte(0, 11);  // pokes write through before growth
  EXPECT_EQ(memory[0], 11);
  bank->Resize(6);
  EXPECT_NE(bank->Buf(), memory);
  EXPECT_EQ(bank->Capacity(), 6);
  EXPECT_EQ(bank->PeekByte(3), 40);
  bank->PokeByte(1, 99);
  EXPECT_EQ(memory[1], 20);
  // Shrinking a static bank copies no more than it keeps.
  uint8_t other[64] = {};
  Ref<TBank> shrunk = TBank::CreateStatic(other, 64);
  shrunk->Resize(3);
  EXPECT_EQ(shrunk->Size(), 3);
  EXPECT_NE(shrunk->Buf(), other);
}

TEST_F(MemoryStreamTest, PeekAndPokeAreTypedAndBoundsChecked) {
  Ref<TBank> bank = CreateBank(16);
  PokeShort(bank, 0, 0x1FFFF);
  EXPECT_EQ(PeekShort(bank, 0), 0xFFFF);
  EXPECT_EQ(PeekByte(bank, 1), 0xFF);
  PokeLong(bank, 3, -5);  // unaligned offsets are fine
  EXPECT_EQ(PeekLong(bank, 3), -5);
  PokeFloat(bank, 11, 2.5f);
  EXPECT_EQ(PeekFloat(bank, 11), 2.5f);
  PokeDouble(bank, 8, 0.125);
  EXPECT_EQ(PeekDouble(bank, 8), 0.125);
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { bank->PeekInt(13); }));
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { bank->PokeByte(-1, 0); }));
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { bank->PeekDouble(INT32_MAX - 2); }));
  Ref<TBank> other = CreateBank(4);
  CopyBank(bank, 8, other, 0, 4);
  EXPECT_EQ(other->PeekInt(0), bank->PeekInt(8));
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { CopyBank(bank, 14, other, 0, 4); }));
  EXPECT_TRUE(Throws<TNullObjectException>([] { BankSize(nullptr); }));
  EXPECT_EQ(LockBank(bank), bank->Buf());
  EXPECT_EQ(bank->LockCount(), 1);
  UnlockBank(bank);
  EXPECT_EQ(bank->LockCount(), 0);
}

TEST_F(MemoryStreamTest, BankSaveLoadAndStreamTransfers) {
  Ref<TBank> bank = CreateBank(5);
  std::memcpy(bank->Buf(), "bank!", 5);
  Ref<String> url = Path(u"bank.bin");
  EXPECT_EQ(SaveBank(bank, url), 1);
  Ref<TBank> loaded = LoadBank(url);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Size(), 5);
  EXPECT_EQ(std::memcmp(loaded->Buf(), "bank!", 5), 0);
  EXPECT_FALSE(LoadBank(Path(u"missing")));
  EXPECT_EQ(bank->Save(Path(u"no/such/dir")), 0);
  Ref<TBank> embedded = TBank::Load(String::FromUnits(u"incbin::bytes/seven-\u00e9.bin"));
  ASSERT_TRUE(embedded);
  EXPECT_EQ(embedded->Size(), 7);
  EXPECT_EQ(embedded->PeekByte(3), 0xFF);
  Ref<TStream> in = ReadStream(url);
  Ref<TBank> target = CreateBank(8);
  EXPECT_EQ(ReadBank(target, in, 2, 5), 5);
  EXPECT_EQ(target->PeekByte(6), '!');
  EXPECT_TRUE(Throws<TArrayBoundsException>([&] { target->Read(in, 6, 5); }));
}

TEST_F(MemoryStreamTest, FullDeviceSaveReportsFailure) {
  // Without the device the save would create a regular file in its place.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Ref<TBank> bank = CreateBank(10);
  std::memset(bank->Buf(), 'z', 10);
  EXPECT_EQ(bank->Save(S("/dev/full")), 0);
}

TEST_F(MemoryStreamTest, BankStreamsGrowTheirBank) {
  Ref<TBank> bank = CreateBank(0);
  Ref<TStream> s = OpenStream(bank, 1, 1);
  ASSERT_TRUE(CastRaw<TBankStream>(s));
  s->WriteBytes("01234", 5);
  s->WriteBytes("abcdefghij", 10);  // 10 bytes at position 5
  EXPECT_EQ(bank->Size(), 15);
  EXPECT_EQ(s->Size(), 15);
  EXPECT_EQ(s->Seek(-3), 0);
  EXPECT_EQ(s->Seek(40), 15);
  s->Seek(13);
  EXPECT_EQ(s->ReadShort(), 'i' | 'j' << 8);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { s->ReadByte(); }));
  // Appending stays amortised: capacity grows geometrically.
  for (int i = 0; i < 1000; ++i) s->WriteInt(i);
  EXPECT_EQ(bank->Size(), 4015);
  EXPECT_GE(bank->Capacity(), 4015);
  EXPECT_EQ(bank->PeekInt(15 + 4 * 999), 999);
  // A bank shrunk under the stream: reads end, writes past the end refuse.
  bank->Resize(2);
  uint8_t b = 0;
  EXPECT_EQ(s->Read(&b, 1), 0);
  EXPECT_EQ(s->Write(&b, 1), 0);
  Ref<TBankStream> fresh = CreateBankStream(nullptr);
  fresh->WriteByte(7);
  EXPECT_EQ(fresh->Bank()->Size(), 1);
}

}  // namespace

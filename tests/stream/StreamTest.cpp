#include "stream/Stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "stream/Bank.h"
#include "stream/CStream.h"
#include "stream/NativePath.h"
#include "stream/StandardIO.h"
#include "stream/TextStream.h"
#include "tests/stream/FailingStream.h"
#include "tests/support/TempDir.h"
#include "tests/support/Thrown.h"

using namespace vrl;
using vrl::testing_support::kOddName;
using vrl::testing_support::kOddNameUtf8;
using vrl::testing_support::TempDirTest;
using vrl::testing_support::TFailingStream;

namespace {

// A stream that implements neither Read nor Write.
class TBareStream : public TStream {
  VRL_CLASS(TBareStream, TStream)
};

// Claims a size it never delivers: Read gives 0 long before Eof would.
class TStingyStream : public TStream {
  VRL_CLASS(TStingyStream, TStream)
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return 1 << 20; }
  int32_t Read(void* buf, int32_t count) override {
    if (_pos >= 5 || count <= 0) return 0;
    static_cast<uint8_t*>(buf)[0] = uint8_t('a' + _pos++);
    return 1;
  }

 private:
  int32_t _pos = 0;
};

class TMarker : public Object {
  VRL_CLASS(TMarker, Object)
};

// Answers "vrltest" (a protocol compared in lower case) and, for TMarker
// objects only, the empty protocol; counts what it is asked.
class TTestFactory : public TStreamFactory {
  VRL_CLASS(TTestFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t, int32_t) override {
    ++calls;
    lastPath = path;
    bool empty = proto->Length() == 0 && CastRaw<TMarker>(url);
    if (!empty && CompareStrings(proto, u"vrltest"_vs) != 0) return {};
    return New<TStingyStream>();
  }
  int calls = 0;
  Ref<String> lastPath;
};

}  // namespace

VRL_CLASS_RECORD(TBareStream, "TBareStream")
VRL_CLASS_RECORD(TStingyStream, "TStingyStream")
VRL_CLASS_RECORD(TMarker, "TMarker")
VRL_CLASS_RECORD(TTestFactory, "TTestFactory")

namespace {

Ref<String> S(const char* text) { return String::FromNarrow(text); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class StreamTest : public TempDirTest {
 protected:
  void SetUp() override {
    stream::Init();
    TempDirTest::SetUp();
  }
  std::string File(const char* name, const std::string& bytes) {
    WriteFile(NativeOf(name), bytes);
    return NativeOf(name);
  }
  Ref<String> Url(const char* name) { return String::FromUtf8(NativeOf(name)); }
};

TEST_F(StreamTest, BaseClassesRefuseRawIoAndObjects) {
  Ref<TBareStream> bare = New<TBareStream>();
  uint8_t b = 0;
  EXPECT_EQ(ThrownText([&] { bare->Read(&b, 1); }), "Stream is not readable");
  EXPECT_TRUE(Throws<TRuntimeException>([&] { bare->Write(&b, 1); }));
  EXPECT_EQ(ThrownText([&] { bare->Write(&b, 1); }), "Stream is not writeable");
  EXPECT_EQ(bare->Pos(), -1);
  EXPECT_EQ(bare->Size(), 0);
  EXPECT_EQ(bare->Eof(), 0);
  EXPECT_EQ(bare->Seek(3), -1);
  EXPECT_EQ(ThrownText([&] { bare->ReadObject(); }), "Unable to read object");
  EXPECT_EQ(ThrownText([&] { bare->WriteObject(bare); }), "Unable to write object");
}

TEST_F(StreamTest, ExceptionTexts) {
  EXPECT_EQ(ThrownText([] { ThrowStreamReadException(); }), "Error reading from stream");
  EXPECT_EQ(ThrownText([] { ThrowStreamWriteException(); }), "Error writing to stream");
  EXPECT_TRUE(Throws<TStreamException>([] { ThrowStreamWriteException(); }));
}

TEST_F(StreamTest, TypedValuesAreLittleEndianAndShortsUnsigned) {
  Ref<TCStream> out = TCStream::OpenFile(Url("typed"), 0, 1);
  ASSERT_TRUE(out);
  out->WriteByte(0x1FF);
  out->WriteShort(0xFFFF);
  out->WriteInt(0x01020304);
  out->WriteLong(-2);
  out->WriteFloat(1.5f);
  out->WriteDouble(-0.25);
  EXPECT_EQ(out->Size(), 1 + 2 + 4 + 8 + 4 + 8);
  EXPECT_EQ(out->Close(), 0);
  std::string bytes = ReadFile(NativeOf("typed"));
  EXPECT_EQ(bytes.substr(0, 7), std::string("\xff\xff\xff\x04\x03\x02\x01", 7));

  Ref<TStream> in = ReadStream(Url("typed"));
  EXPECT_EQ(in->ReadByte(), 255);
  EXPECT_EQ(in->ReadShort(), 65535);
  EXPECT_EQ(in->ReadInt(), 0x01020304);
  EXPECT_EQ(in->ReadLong(), -2);
  EXPECT_EQ(in->ReadFloat(), 1.5f);
  EXPECT_EQ(in->ReadDouble(), -0.25);
  EXPECT_EQ(in->Eof(), 1);
}

TEST_F(StreamTest, ShortDataRaisesTheReadExceptionAndStaysConsumed) {
  Ref<TStream> in = ReadStream(String::FromUtf8(File("three", "abc")));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { in->ReadInt(); }));
  EXPECT_EQ(in->Pos(), 3);
  EXPECT_EQ(in->Eof(), 1);
  in->Seek(1);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { in->SkipBytes(5); }));
  in->Seek(0);
  EXPECT_EQ(in->SkipBytes(2), 2);
  EXPECT_EQ(in->ReadString(1)->ToNarrow(), "c");
  EXPECT_TRUE(Throws<TStreamReadException>([&] { in->ReadString(1 << 30); }));
}

TEST_F(StreamTest, ReadLineRules) {
  Ref<TStream> in = ReadStream(String::FromUtf8(File("lines", std::string("a\r\nb\nc\rd\ne\0f", 12))));
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "a");
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "b");
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "cd");  // a lone CR is no line end
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "e");   // nor is it needed: 0 ends a line
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "f");
  EXPECT_EQ(in->ReadLine()->Length(), 0);
  EXPECT_EQ(in->ReadLine()->Length(), 0);
}

TEST_F(StreamTest, WriteLineAndWriteStringKeepTheLowByte) {
  Ref<TStream> out = WriteStream(Url("low"));
  EXPECT_EQ(out->WriteLine(String::FromUnits(u"x\u0141")), 1);
  EXPECT_EQ(out->WriteString(String::FromUnits(u"\u01ff")), 0);
  out->Close();
  EXPECT_EQ(ReadFile(NativeOf("low")), "xA\r\n\xff");
}

TEST_F(StreamTest, OpenModes) {
  File("modes", "hello");
  // Neither flag: opened for reading; writes move nothing.
  Ref<TCStream> neither = TCStream::OpenFile(Url("modes"), 0, 0);
  ASSERT_TRUE(neither);
  EXPECT_EQ(neither->Mode(), TCStream::MODE_READ);
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { neither->WriteByte(1); }));
  neither->Close();
  // Both: existing content is kept, reading and writing mix.
  Ref<TCStream> both = TCStream::OpenFile(Url("modes"), 1, 1);
  EXPECT_EQ(both->Mode(), 3);
  EXPECT_EQ(both->Size(), 5);
  EXPECT_EQ(both->ReadByte(), 'h');
  both->WriteByte('E');
  EXPECT_EQ(both->ReadByte(), 'l');
  both->Seek(5);
  both->WriteString(S("!!"));
  EXPECT_EQ(both->Size(), 7);
  EXPECT_EQ(both->Seek(100), 100);  // beyond the end: what the file reports
  both->Close();
  EXPECT_EQ(ReadFile(NativeOf("modes")), "hEllo!!");
  // Only writeable: truncated.
  Ref<TCStream> write = TCStream::OpenFile(Url("modes"), 0, 1);
  EXPECT_EQ(write->Mode(), TCStream::MODE_WRITE);
  EXPECT_EQ(write->Size(), 0);
  write->Close();
  EXPECT_EQ(ReadFile(NativeOf("modes")), "");
}

TEST_F(StreamTest, CloseTwiceAndUseAfterClose) {
  Ref<TCStream> s = TCStream::OpenFile(String::FromUtf8(File("c", "xyz")), 1, 0);
  EXPECT_EQ(s->Close(), 0);
  EXPECT_EQ(s->Close(), 0);
  EXPECT_EQ(s->Pos(), 0);
  EXPECT_EQ(s->Size(), 0);
  uint8_t b = 0;
  EXPECT_EQ(s->Read(&b, 1), 0);
  EXPECT_EQ(s->Write(&b, 1), 0);
}

TEST_F(StreamTest, PathsWithBackslashesAndCharactersBeyondSixteenBits) {
  std::u16string name = std::u16string(kOddName) + u".txt";
  Ref<String> url = Path(name);
  // Backslashes are path separators.
  std::u16string backslashed(url->View());
  backslashed[backslashed.rfind(u'/')] = u'\\';
  SaveString(S("ok"), String::FromUnits(backslashed));
  EXPECT_EQ(ReadFile(NativeOf(std::string(kOddNameUtf8) + ".txt")), "ok");
  EXPECT_EQ(LoadString(url)->ToNarrow(), "ok");
  // A 0 unit would cut the name short: no such file can be opened.
  EXPECT_FALSE(TCStream::OpenFile(String::FromUnits(std::u16string(url->View()) + u'\0' + u"x"), 1, 0));
}

TEST_F(StreamTest, NativePathRoundTrips) {
  Ref<String> odd = String::FromUnits(kOddName);
  EXPECT_EQ(*NativePath(odd), kOddNameUtf8);
  EXPECT_TRUE(PathFromNative(kOddNameUtf8)->Equals(odd));
  // Bytes that are not UTF-8 (a lone continuation, an overlong form, an
  // encoded surrogate, a cut sequence) come back byte for byte.
  std::string raw(
      "a\x80"
      "b\xc0\xaf"
      "c\xed\xa0\x80"
      "d\xf0\x9d",
      12);
  EXPECT_EQ(*NativePath(PathFromNative(raw)), raw);
  EXPECT_FALSE(NativePath(String::FromUnits(std::u16string(u"a\0b", 3))));
}

TEST_F(StreamTest, PlainPathsNeverReachTheFactories) {
  static TTestFactory* factory = nullptr;
  if (!factory) factory = New<TTestFactory>().get();  // the chain keeps it
  File("plain", "p");
  int before = factory->calls;
  Ref<TStream> file = ReadStream(Url("plain"));
  EXPECT_TRUE(CastRaw<TCStream>(file));
  EXPECT_EQ(factory->calls, before);
  // Missing plain files give Null without asking the factories either.
  EXPECT_FALSE(ReadStream(Url("missing")));
  EXPECT_EQ(factory->calls, before);
  // The protocol is lowered before the factories see it; the path is the rest.
  Ref<TStream> viaFactory = ReadStream(S("VrlTest::some::path"));
  EXPECT_TRUE(CastRaw<TStingyStream>(viaFactory));
  EXPECT_EQ(factory->lastPath->ToNarrow(), "some::path");
  // Objects that are neither strings nor streams go to the factories with
  // empty protocol and path.
  EXPECT_TRUE(OpenStream(New<TMarker>(), 1, 0));
  EXPECT_EQ(factory->lastPath->Length(), 0);
  EXPECT_FALSE(ReadStream(S("nosuchproto::x")));
  EXPECT_FALSE(ReadStream(nullptr));
}

TEST_F(StreamTest, OpeningAStreamWrapsItAndCloseLeavesItOpen) {
  Ref<TStream> file = ReadStream(String::FromUtf8(File("w", "wxyz")));
  Ref<TStream> wrapper = ReadStream(file);
  ASSERT_TRUE(CastRaw<TStreamStream>(wrapper));
  EXPECT_EQ(wrapper->ReadByte(), 'w');
  EXPECT_EQ(wrapper->Size(), 4);
  wrapper->Close();
  EXPECT_EQ(file->ReadByte(), 'x');  // still open, position shared
  EXPECT_TRUE(Throws<TNullObjectException>([&] { wrapper->ReadByte(); }));
  EXPECT_EQ(LoadString(file)->ToNarrow(), "yz");
  EXPECT_EQ(file->Pos(), 4);
}

TEST_F(StreamTest, WholeFileReadersRefuseAFileAboveTheArrayLimitBeforeReading) {
  // A sparse file one byte above what an array can hold: refused at once,
  // without reading (or allocating for) its 2 GiB.
  const std::string path = NativeOf("huge");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(limits::kStreamBytes) + 1), 0);
  close(fd);
  EXPECT_TRUE(testing_support::ThrowsObject([&] { LoadByteArray(Url("huge")); }, "Stream too large"));
  EXPECT_TRUE(testing_support::ThrowsObject([&] { LoadString(Url("huge")); }, "Stream too large"));
  EXPECT_TRUE(testing_support::ThrowsObject([&] { LoadText(Url("huge")); }, "Stream too large"));
  // What is left after the position counts: the same file read from its
  // second byte fits.
  Ref<TCStream> file = TCStream::OpenFile(Url("huge"), 1, 0);
  ASSERT_FALSE(file.IsNull());
  EXPECT_EQ(file->BytesLeft(), limits::kStreamBytes + 1);
  EXPECT_EQ(file->ReadByte(), 0);
  EXPECT_EQ(file->BytesLeft(), limits::kStreamBytes);
  file->Close();
  EXPECT_EQ(file->BytesLeft(), -1);
}

TEST_F(StreamTest, WholeStreamLoadsAndSaves) {
  std::string big(5000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
  File("big", big);
  Ref<Array> bytes = LoadByteArray(Url("big"));
  EXPECT_STREQ(bytes->Tag(), "b");
  ASSERT_EQ(bytes->Length(), 5000);
  EXPECT_EQ(std::string(static_cast<const char*>(bytes->Data()), 5000), big);
  File("empty", "");
  EXPECT_EQ(LoadByteArray(Url("empty"))->Length(), 0);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadByteArray(Url("missing")); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadString(Url("missing")); }));

  SaveByteArray(bytes, Url("copy"));
  EXPECT_EQ(ReadFile(NativeOf("copy")), big);
  SaveString(String::FromUnits(u"\u00e9t\u00e9"), Url("latin"));
  EXPECT_EQ(ReadFile(NativeOf("latin")), "\xe9t\xe9");
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { SaveString(S("x"), Url("no/such/dir/f")); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadObject(Url("missing")); }));
  EXPECT_EQ(ThrownText([&] { LoadObject(Url("big")); }), "Unable to read object");
  EXPECT_EQ(ThrownText([&] { SaveObject(bytes, Url("obj")); }), "Unable to write object");
}

TEST_F(StreamTest, LoadingStopsWhenAReadMovesNothing) {
  // Size says 1 MiB, Pos never gets there: Eof alone would loop for ever.
  Ref<TStingyStream> stingy = New<TStingyStream>();
  EXPECT_EQ(LoadString(stingy)->ToNarrow(), "abcde");
  Ref<TStingyStream> again = New<TStingyStream>();
  Ref<TStream> out = WriteStream(Url("copied"));
  CopyStream(again, out);
  out->Close();
  EXPECT_EQ(ReadFile(NativeOf("copied")), "abcde");
}

TEST_F(StreamTest, CopyBytesMovesExactlyCountOrThrows) {
  Ref<TStream> in = ReadStream(String::FromUtf8(File("src", "0123456789")));
  Ref<TStream> out = WriteStream(Url("dst"));
  CopyBytes(in, out, 7, 3);
  out->Close();
  EXPECT_EQ(ReadFile(NativeOf("dst")), "0123456");
  EXPECT_TRUE(Throws<TStreamReadException>([&] { CopyBytes(in, out, 4); }));
}

TEST_F(StreamTest, PipesHaveNoPositionAndStillReadToTheEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "piped\nrest", 10), 10);
  close(fds[1]);
  Ref<TCStream> in = TCStream::CreateWithCStream(fdopen(fds[0], "rb"), TCStream::MODE_READ);
  EXPECT_EQ(in->Pos(), -1);
  EXPECT_EQ(in->Eof(), 0);
  EXPECT_EQ(in->ReadLine()->ToNarrow(), "piped");
  EXPECT_EQ(in->Pos(), -1);
  EXPECT_EQ(LoadString(in)->ToNarrow(), "rest");
}

// A full device accepts buffered writes and fails when they are flushed:
// the save must fail instead of reporting success.
TEST_F(StreamTest, LostDataOnAFullDeviceIsAWriteError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Ref<String> full = S("/dev/full");
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { SaveString(S("small"), full); }));
  EXPECT_TRUE(
      Throws<TStreamWriteException>([&] { SaveString(String::FromNarrow(std::string(100000, 'x')), full); }));
  Ref<Array> bytes = Array::New("b", 10);
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { SaveByteArray(bytes, full); }));
  Ref<TStream> s = WriteStream(full);
  s->WriteString(S("abc"));
  EXPECT_EQ(s->Flush(), -1);
  EXPECT_EQ(s->Close(), -1);
}

// Leaving write mode flushes inside fseek; on a full device the C library
// drops the buffer there and later flushes succeed, so the seek must record
// the loss.
TEST_F(StreamTest, SeekThatLosesBufferedDataIsAWriteError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Ref<String> full = S("/dev/full");
  Ref<TCStream> seeking = TCStream::OpenFile(full, 0, 1);
  ASSERT_TRUE(seeking);
  seeking->WriteString(S("abc"));
  seeking->Seek(0);
  EXPECT_EQ(seeking->Close(), -1);
  // The switch from writing to reading seeks as well.
  Ref<TCStream> switching = TCStream::OpenFile(full, 1, 1);
  ASSERT_TRUE(switching);
  switching->WriteString(S("abc"));
  switching->ReadByte();
  EXPECT_EQ(switching->Close(), -1);
  // A writer that seeks back to fill in a header.
  Ref<TStream> out = WriteStream(full);
  out->WriteInt(0);
  out->WriteString(S("body"));
  out->Seek(0);
  out->WriteInt(4);
  EXPECT_EQ(out->Close(), -1);
}

// A seekable stream whose Read moves nothing before its Size has failed; the
// whole-stream functions used to return the bytes before the failure as if
// they were all.
TEST_F(StreamTest, ReadErrorBeforeTheEndIsAFailedRead) {
  std::string data(5000, 'r');
  auto failing = [&] { return TFailingStream::Over(data, 3000); };
  EXPECT_TRUE(Throws<TStreamReadException>([&] { ReadAllBytes(failing()); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadByteArray(failing()); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadString(failing()); }));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { TBank::Load(failing()); }));
  Ref<TStream> out = WriteStream(Url("partial"));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { CopyStream(failing(), out); }));
  out->Close();
  // Data that stops exactly at its size is whole.
  EXPECT_EQ(ReadAllBytes(TFailingStream::Over(data, 5000))->Length(), 5000);
  EXPECT_EQ(LoadString(TFailingStream::Over(data, 9000))->Length(), 5000);

  // A real file whose reads fail (its descriptor no longer reads).
  std::FILE* handle = std::fopen(File("unreadable", data).c_str(), "rb");
  ASSERT_TRUE(handle);
  Ref<TCStream> file = TCStream::CreateWithCStream(handle, TCStream::MODE_READ);
  ASSERT_TRUE(file);
  int writeOnly = open(NativeOf("unreadable").c_str(), O_WRONLY);
  ASSERT_GE(writeOnly, 0);
  ASSERT_GE(dup2(writeOnly, fileno(handle)), 0);
  close(writeOnly);
  EXPECT_EQ(file->Size(), 5000);
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadByteArray(file); }));
}

TEST_F(StreamTest, OpenFileRefusesDirectories) {
  ASSERT_EQ(mkdir(NativeOf("folder").c_str(), 0755), 0);
  EXPECT_FALSE(TCStream::OpenFile(Url("folder"), 1, 0));
  EXPECT_FALSE(TCStream::OpenFile(Url("folder"), 0, 0));
  EXPECT_FALSE(TCStream::OpenFile(Url("folder"), 1, 1));
  EXPECT_FALSE(ReadStream(Url("folder")));
  EXPECT_TRUE(Throws<TStreamReadException>([&] { LoadByteArray(Url("folder")); }));
  // The native form opens exact bytes: a backslash is part of the name.
  File("back\\slash", "b");
  Ref<TCStream> odd = TCStream::OpenNative(NativeOf("back\\slash").c_str(), 1, 0);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->ReadByte(), 'b');
  EXPECT_FALSE(TCStream::OpenNative(NativeOf("folder").c_str(), 1, 0));
}

// A 32-bit position cannot follow a stream past 2 GiB: it used to overflow.
// The files are sparse, so they take no room on the disk.
TEST_F(StreamTest, PositionsNeverPassTwoGigabytes) {
  std::string name = File("edge", "");
  ASSERT_EQ(truncate(name.c_str(), INT32_MAX - 2), 0);
  Ref<TCStream> edge = TCStream::OpenFile(Url("edge"), 1, 1);
  ASSERT_TRUE(edge);
  EXPECT_EQ(edge->Size(), INT32_MAX - 2);
  EXPECT_EQ(edge->Seek(INT32_MAX - 2), INT32_MAX - 2);
  EXPECT_EQ(edge->Write("12345", 5), 2);  // cut at the last position there is
  EXPECT_EQ(edge->Pos(), INT32_MAX);
  EXPECT_EQ(edge->Size(), INT32_MAX);
  EXPECT_TRUE(Throws<TStreamWriteException>([&] { edge->WriteByte(1); }));
  EXPECT_EQ(edge->Pos(), INT32_MAX);
  EXPECT_EQ(edge->Close(), 0);

  // Beyond an Int the file has no position: it reads in sequence.
  std::string huge = File("huge", "z");
  ASSERT_EQ(truncate(huge.c_str(), int64_t(3) << 30), 0);
  Ref<TCStream> in = TCStream::OpenFile(Url("huge"), 1, 0);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->Pos(), -1);
  EXPECT_EQ(in->Size(), 0);
  EXPECT_EQ(in->Seek(0), -1);
  EXPECT_EQ(in->ReadByte(), 'z');
  EXPECT_EQ(in->ReadByte(), 0);
}

TEST_F(StreamTest, FreeFunctionsTreatNullAsNull) {
  EXPECT_TRUE(Throws<TNullObjectException>([] { ReadByte(nullptr); }));
  EXPECT_TRUE(Throws<TNullObjectException>([] { CloseStream(nullptr); }));
  Ref<TStream> in = ReadStream(String::FromUtf8(File("free", std::string("\x05\x00rest\r\nmore", 12))));
  EXPECT_EQ(ReadShort(in), 5);
  EXPECT_EQ(ReadLine(in)->ToNarrow(), "rest");
  EXPECT_EQ(StreamPos(in), 8);
  EXPECT_EQ(StreamSize(in), 12);
  EXPECT_EQ(SeekStream(in, 2), 2);
  EXPECT_EQ(ReadString(in, 4)->ToNarrow(), "rest");
  EXPECT_EQ(StreamEof(in), 0);
}

// Standard input cannot tell its end beforehand: the last line still comes
// back whole, and the end gives the empty string rather than an exception.
TEST(StandardIO, InputReadsLinesToTheEnd) {
  standardio::Init();
  ASSERT_TRUE(StandardIOStream());
  EXPECT_EQ(StandardIOStream()->Encoding(), TTextStream::UTF8);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "first\r\nl\xc3\xa4st", 13), 13);
  close(fds[1]);
  int saved = dup(0);
  dup2(fds[0], 0);
  close(fds[0]);
  std::clearerr(stdin);
  EXPECT_EQ(Input(nullptr)->ToNarrow(), "first");
  EXPECT_TRUE(Input(nullptr)->Equals(String::FromUnits(u"l\u00e4st")));
  EXPECT_EQ(Input(nullptr)->Length(), 0);
  dup2(saved, 0);
  close(saved);
  std::clearerr(stdin);
}

}  // namespace

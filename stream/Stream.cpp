#include "stream/Stream.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "stream/AtomicFile.h"
#include "stream/CStream.h"
#include "stream/LineScan.h"
#include "stream/StreamCloser.h"

namespace vrl {

const ClassRecord& TIO::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TIO>("TIO", [](auto& d) {
    d.template Method<&TIO::Eof>("Eof");
    d.template Method<&TIO::Pos>("Pos");
    d.template Method<&TIO::Size>("Size");
    d.template Method<&TIO::Seek>("Seek");
    d.template Method<&TIO::Flush>("Flush");
    d.template Method<&TIO::Close>("Close");
    d.template Method<&TIO::Read>("Read");
    d.template Method<&TIO::Write>("Write");
  });
  return record;
}

const ClassRecord& TStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TStream>("TStream", [](auto& d) {
    d.template Method<&TStream::ReadBytes>("ReadBytes");
    d.template Method<&TStream::WriteBytes>("WriteBytes");
    d.template Method<&TStream::SkipBytes>("SkipBytes");
    d.template Method<&TStream::ReadByte>("ReadByte");
    d.template Method<&TStream::WriteByte>("WriteByte");
    d.template Method<&TStream::ReadShort>("ReadShort");
    d.template Method<&TStream::WriteShort>("WriteShort");
    d.template Method<&TStream::ReadInt>("ReadInt");
    d.template Method<&TStream::WriteInt>("WriteInt");
    d.template Method<&TStream::ReadLong>("ReadLong");
    d.template Method<&TStream::WriteLong>("WriteLong");
    d.template Method<&TStream::ReadFloat>("ReadFloat");
    d.template Method<&TStream::WriteFloat>("WriteFloat");
    d.template Method<&TStream::ReadDouble>("ReadDouble");
    d.template Method<&TStream::WriteDouble>("WriteDouble");
    d.template Method<&TStream::ReadLine>("ReadLine");
    d.template Method<&TStream::WriteLine>("WriteLine");
    d.template Method<&TStream::ReadString>("ReadString");
    d.template Method<&TStream::WriteString>("WriteString");
    d.template Method<&TStream::ReadObject>("ReadObject");
    d.template Method<&TStream::WriteObject>("WriteObject");
  });
  return record;
}

VRL_CLASS_RECORD(TStreamException, "TStreamException")
VRL_CLASS_RECORD(TStreamReadException, "TStreamReadException")
VRL_CLASS_RECORD(TStreamWriteException, "TStreamWriteException")

const ClassRecord& TStreamWrapper::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TStreamWrapper>("TStreamWrapper", [](auto& d) {
    d.template Field<&TStreamWrapper::_stream>("_stream");
    d.template Method<&TStreamWrapper::SetStream>("SetStream");
  });
  return record;
}

const ClassRecord& TStreamStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TStreamStream>("TStreamStream", [](auto& d) {
    d.template Method<&TStreamStream::Close>("Close");
    d.template Function<&TStreamStream::Create>("Create");
  });
  return record;
}

const ClassRecord& TStreamFactory::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TStreamFactory>("TStreamFactory", [](auto& d) {
    d.template Field<&TStreamFactory::_succ>("_succ");
    d.template Method<&TStreamFactory::CreateStream>("CreateStream");
  });
  return record;
}

const ClassRecord& TCStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TCStream>("TCStream", [](auto& d) {
    d.Constant("MODE_READ", "i", "1");
    d.Constant("MODE_WRITE", "i", "2");
    d.template Field<&TCStream::_pos>("_pos");
    d.template Field<&TCStream::_size>("_size");
    d.template Field<&TCStream::_cstream>("_cstream");
    d.template Field<&TCStream::_mode>("_mode");
    d.template Function<&TCStream::OpenFile>("OpenFile");
    d.template Function<&TCStream::CreateWithCStream>("CreateWithCStream");
  });
  return record;
}

void stream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  vrRegisterClass(TIO::StaticClass());
  vrRegisterClass(TStream::StaticClass());
  vrRegisterClass(TStreamException::StaticClass());
  vrRegisterClass(TStreamReadException::StaticClass());
  vrRegisterClass(TStreamWriteException::StaticClass());
  vrRegisterClass(TStreamWrapper::StaticClass());
  vrRegisterClass(TStreamStream::StaticClass());
  vrRegisterClass(TStreamFactory::StaticClass());
  vrRegisterClass(TCStream::StaticClass());
}

namespace {

// Never destroyed: streams may still be opened by end handlers.
Ref<TStreamFactory>& FactoryHead() {
  static auto* head = new Ref<TStreamFactory>;
  return *head;
}

TStream& Checked(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  return *stream;
}

std::string LowBytes(String* s) { return s ? s->ToNarrow() : std::string(); }

// Reads up to `count` bytes in pieces, so that a length taken from hostile
// data cannot make us allocate far more than the stream really holds.
std::string ReadExactly(TStream& stream, int32_t count) {
  std::string bytes;
  if (count <= 0) return bytes;
  constexpr int32_t kPiece = 1 << 16;
  int32_t done = 0;
  while (done < count) {
    int32_t piece = std::min(count - done, kPiece);
    bytes.resize(std::size_t(done) + std::size_t(piece));
    stream.ReadBytes(bytes.data() + done, piece);
    done += piece;
  }
  return bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// TIO

int32_t TIO::Eof() { return Pos() == Size() ? 1 : 0; }
int32_t TIO::Pos() { return -1; }
int32_t TIO::Size() { return 0; }
int32_t TIO::Seek(int32_t) { return -1; }
int32_t TIO::Flush() { return 0; }
int32_t TIO::Close() { return 0; }
int32_t TIO::Read(void*, int32_t) { vrRuntimeError(u"Stream is not readable"_vs); }
int32_t TIO::Write(const void*, int32_t) { vrRuntimeError(u"Stream is not writeable"_vs); }

// ---------------------------------------------------------------------------
// TStream

int32_t TStream::ReadBytes(void* buf, int32_t count) {
  auto* p = static_cast<uint8_t*>(buf);
  int32_t left = count;
  while (left > 0) {
    int32_t n = Read(p, left);
    if (n <= 0) ThrowStreamReadException();
    n = std::min(n, left);
    p += n;
    left -= n;
  }
  return count;
}

int32_t TStream::WriteBytes(const void* buf, int32_t count) {
  auto* p = static_cast<const uint8_t*>(buf);
  int32_t left = count;
  while (left > 0) {
    int32_t n = Write(p, left);
    if (n <= 0) ThrowStreamWriteException();
    n = std::min(n, left);
    p += n;
    left -= n;
  }
  return count;
}

int32_t TStream::SkipBytes(int32_t count) {
  uint8_t buffer[1024];
  int32_t left = count;
  while (left > 0) {
    int32_t n = Read(buffer, std::min<int32_t>(left, sizeof buffer));
    if (n <= 0) ThrowStreamReadException();
    left -= std::min(n, left);
  }
  return count;
}

int32_t TStream::ReadByte() {
  uint8_t v = 0;
  ReadBytes(&v, 1);
  return v;
}
void TStream::WriteByte(int32_t n) {
  auto v = static_cast<uint8_t>(n);
  WriteBytes(&v, 1);
}
int32_t TStream::ReadShort() {
  uint16_t v = 0;
  ReadBytes(&v, 2);
  return v;
}
void TStream::WriteShort(int32_t n) {
  auto v = static_cast<uint16_t>(n);
  WriteBytes(&v, 2);
}
int32_t TStream::ReadInt() {
  int32_t v = 0;
  ReadBytes(&v, 4);
  return v;
}
void TStream::WriteInt(int32_t n) { WriteBytes(&n, 4); }
int64_t TStream::ReadLong() {
  int64_t v = 0;
  ReadBytes(&v, 8);
  return v;
}
void TStream::WriteLong(int64_t n) { WriteBytes(&n, 8); }
float TStream::ReadFloat() {
  float v = 0;
  ReadBytes(&v, 4);
  return v;
}
void TStream::WriteFloat(float f) { WriteBytes(&f, 4); }
double TStream::ReadDouble() {
  double v = 0;
  ReadBytes(&v, 8);
  return v;
}
void TStream::WriteDouble(double d) { WriteBytes(&d, 8); }

namespace {

// Appends the bytes without their carriage returns, which a line drops
// wherever they stand.
void AppendWithoutReturns(std::string& line, const uint8_t* bytes, std::size_t count) {
  const uint8_t* end = bytes + count;
  while (bytes < end) {
    const auto* cr = static_cast<const uint8_t*>(std::memchr(bytes, 13, std::size_t(end - bytes)));
    const uint8_t* stop = cr ? cr : end;
    line.append(reinterpret_cast<const char*>(bytes), std::size_t(stop - bytes));
    bytes = cr ? cr + 1 : end;
  }
}

}  // namespace

// Byte by byte through Read, or in bulk over the stream's own buffer where it
// offers one: the line end is found with memchr and the string built once.
Ref<String> TStream::ReadLine() {
  std::string line;
  for (;;) {
    std::span<const uint8_t> ahead = PeekBuffered();
    if (ahead.empty()) {
      uint8_t c = 0;
      if (Read(&c, 1) != 1 || c == 0 || c == 10) break;
      if (c != 13) line += char(c);
      continue;
    }
    const uint8_t* bytes = ahead.data();
    std::size_t count = ahead.size();
    const auto* lf = static_cast<const uint8_t*>(std::memchr(bytes, 10, count));
    if (lf && line.empty()) {
      // The common case: the whole line in the buffer, no 0 byte and no CR
      // but the one before its end.
      const auto upto = std::size_t(lf - bytes);
      const std::size_t length = linescan::WithoutReturn(bytes, upto);
      if (linescan::PlainBytes(bytes, length, false)) {
        Ref<String> whole = linescan::PlainString(bytes, length);
        SkipBuffered(static_cast<int32_t>(upto + 1));
        return whole;
      }
    }
    std::size_t upto = lf ? std::size_t(lf - bytes) : count;
    const auto* nul = static_cast<const uint8_t*>(std::memchr(bytes, 0, upto));
    if (nul) upto = std::size_t(nul - bytes);
    const bool ended = lf || nul;
    AppendWithoutReturns(line, bytes, upto);
    SkipBuffered(static_cast<int32_t>(ended ? upto + 1 : upto));
    if (ended) break;
  }
  return String::FromNarrow(line);
}

int32_t TStream::WriteLine(String* s) {
  std::string bytes = LowBytes(s);
  auto length = static_cast<int32_t>(bytes.size());
  if (length > 0 && Write(bytes.data(), length) != length) return 0;
  static const char kEnd[2] = {13, 10};
  return Write(kEnd, 2) == 2 ? 1 : 0;
}

Ref<String> TStream::ReadString(int32_t length) { return String::FromNarrow(ReadExactly(*this, length)); }

int32_t TStream::WriteString(String* s) {
  std::string bytes = LowBytes(s);
  WriteBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
  return 0;
}

Ref<Object> TStream::ReadObject() { vrThrowText("Unable to read object"); }
int32_t TStream::WriteObject(Object*) { vrThrowText("Unable to write object"); }

std::span<const uint8_t> TStream::PeekBuffered() { return {}; }
void TStream::SkipBuffered(int32_t) {}

// ---------------------------------------------------------------------------
// Exceptions

Ref<String> TStreamReadException::ToString() { return Ref<String>(u"Error reading from stream"_vs); }
Ref<String> TStreamWriteException::ToString() { return Ref<String>(u"Error writing to stream"_vs); }

void ThrowStreamReadException() { vrThrow(New<TStreamReadException>()); }
void ThrowStreamWriteException() { vrThrow(New<TStreamWriteException>()); }

// ---------------------------------------------------------------------------
// Wrappers

int32_t TStreamWrapper::Eof() { return _stream->Eof(); }
int32_t TStreamWrapper::Pos() { return _stream->Pos(); }
int32_t TStreamWrapper::Size() { return _stream->Size(); }
int32_t TStreamWrapper::Seek(int32_t pos) { return _stream->Seek(pos); }
int32_t TStreamWrapper::Flush() { return _stream->Flush(); }
int32_t TStreamWrapper::Close() { return _stream->Close(); }
int32_t TStreamWrapper::Read(void* buf, int32_t count) { return _stream->Read(buf, count); }
int32_t TStreamWrapper::Write(const void* buf, int32_t count) { return _stream->Write(buf, count); }
int32_t TStreamWrapper::ReadByte() { return _stream->ReadByte(); }
void TStreamWrapper::WriteByte(int32_t n) { _stream->WriteByte(n); }
int32_t TStreamWrapper::ReadShort() { return _stream->ReadShort(); }
void TStreamWrapper::WriteShort(int32_t n) { _stream->WriteShort(n); }
int32_t TStreamWrapper::ReadInt() { return _stream->ReadInt(); }
void TStreamWrapper::WriteInt(int32_t n) { _stream->WriteInt(n); }
float TStreamWrapper::ReadFloat() { return _stream->ReadFloat(); }
void TStreamWrapper::WriteFloat(float f) { _stream->WriteFloat(f); }
double TStreamWrapper::ReadDouble() { return _stream->ReadDouble(); }
void TStreamWrapper::WriteDouble(double d) { _stream->WriteDouble(d); }
Ref<String> TStreamWrapper::ReadLine() { return _stream->ReadLine(); }
int32_t TStreamWrapper::WriteLine(String* s) { return _stream->WriteLine(s); }
Ref<String> TStreamWrapper::ReadString(int32_t length) { return _stream->ReadString(length); }
int32_t TStreamWrapper::WriteString(String* s) { return _stream->WriteString(s); }
Ref<Object> TStreamWrapper::ReadObject() { return _stream->ReadObject(); }
int32_t TStreamWrapper::WriteObject(Object* obj) { return _stream->WriteObject(obj); }

int32_t TStreamWrapper::SetStream(TStream* stream) {
  _stream = stream;
  return 0;
}

int32_t TStreamStream::Close() { return SetStream(nullptr); }
std::span<const uint8_t> TStreamStream::PeekBuffered() { return _stream->PeekBuffered(); }
void TStreamStream::SkipBuffered(int32_t count) { _stream->SkipBuffered(count); }

Ref<TStreamStream> TStreamStream::Create(TStream* stream) {
  Ref<TStreamStream> wrapper = New<TStreamStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

// ---------------------------------------------------------------------------
// Factories and URLs

TStreamFactory::TStreamFactory() {
  Ref<TStreamFactory>& head = FactoryHead();
  _succ = head;
  head = this;
}

Ref<TStream> TStreamFactory::CreateStream(Object*, String*, String*, int32_t, int32_t) {
  ThrowNullMethodException();
}

TStreamFactory* StreamFactories() { return FactoryHead().get(); }

Ref<TStream> OpenStream(Object* url, int32_t readable, int32_t writeable) {
  if (IsNull(url)) url = Null();  // factories are handed the Null object, never nullptr
  if (auto* stream = CastRaw<TStream>(url)) return TStreamStream::Create(stream);
  String* text = CastRaw<String>(url);
  if (!text) text = EmptyString();
  Ref<String> proto(EmptyString()), path(EmptyString());
  if (text->Length() > 0) {
    int32_t split = text->Find(u"::"_vs);
    if (split < 0) return TCStream::OpenFile(text, readable, writeable);
    proto = vrSliceString(text, 0, split)->ToLower();
    path = vrSliceString(text, split + 2, text->Length());
  }
  for (TStreamFactory* f = StreamFactories(); f; f = f->_succ.get()) {
    Ref<TStream> stream = f->CreateStream(url, proto, path, readable, writeable);
    if (!stream.IsNull()) return stream;
  }
  return {};
}

Ref<TStream> ReadStream(Object* url) { return OpenStream(url, 1, 0); }
Ref<TStream> WriteStream(Object* url) { return OpenStream(url, 0, 1); }

// ---------------------------------------------------------------------------
// Whole streams

bool StoppedBeforeEnd(TStream* stream) {
  TStream& in = Checked(stream);
  int32_t pos = in.Pos();
  // Seeking to where it stands is how a stream shows that it can seek;
  // a stream that merely reports a position and a size may still end early.
  return pos >= 0 && pos < in.Size() && in.Seek(pos) == pos;
}

int32_t ReadPiece(TStream* stream, void* buf, int32_t count) {
  int32_t n = Checked(stream).Read(buf, count);
  if (n > 0) return std::min(n, count);
  if (count > 0 && StoppedBeforeEnd(stream)) ThrowStreamReadException();
  return 0;
}

int32_t ReadUpTo(TStream* stream, void* buf, int32_t count) {
  TStream& in = Checked(stream);
  auto* p = static_cast<uint8_t*>(buf);
  int32_t done = 0;
  while (done < count) {
    int32_t n = in.Read(p + done, count - done);
    if (n <= 0) break;
    done += n < count - done ? n : count - done;
  }
  return done;
}

Ref<Array> ReadAllBytes(TStream* stream) {
  TStream& in = Checked(stream);
  // A file that holds more than an array can is refused before it is read.
  if (auto* file = CastRaw<TCStream>(&in); file && file->BytesLeft() > limits::kStreamBytes)
    vrRuntimeError(u"Stream too large"_vs);
  std::vector<uint8_t> bytes(1024);
  std::size_t count = 0;
  while (!in.Eof()) {
    if (count == bytes.size()) {
      std::size_t grown = std::min<std::size_t>(bytes.size() * 3 / 2, limits::kStreamBytes);
      if (grown <= count) vrRuntimeError(u"Stream too large"_vs);
      bytes.resize(grown);
    }
    int32_t n = ReadPiece(&in, bytes.data() + count, static_cast<int32_t>(bytes.size() - count));
    if (n == 0) break;
    count += std::size_t(n);
  }
  Ref<Array> out = Array::New("b", static_cast<int32_t>(count));
  if (count) std::memcpy(out->Data(), bytes.data(), count);
  return out;
}

Ref<Array> LoadByteArray(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) ThrowStreamReadException();
  StreamCloser closer(stream);
  Ref<Array> bytes = ReadAllBytes(stream);
  closer.Close();
  return bytes;
}

Ref<String> LoadString(Object* url) {
  Ref<Array> bytes = LoadByteArray(url);
  return String::FromByteBuffer(bytes->Data(), bytes->Length());
}

namespace {

// Writes through `write`, then commits (stream/AtomicFile.h): a file is
// replaced only once all of it is written, and a failed save (a failed
// write, flush or close) leaves the old file as it was and no file open.
template <class Body>
void SaveThrough(Object* url, Body&& write) {
  AtomicFile file(url);
  if (file.IsNull()) ThrowStreamWriteException();
  write(*file.Stream());
  file.CommitOrThrow();
}

}  // namespace

void SaveString(String* s, Object* url) {
  std::string bytes = LowBytes(s);
  SaveThrough(url, [&](TStream& out) { out.WriteBytes(bytes.data(), static_cast<int32_t>(bytes.size())); });
}

void SaveByteArray(Array* bytes, Object* url) {
  SaveThrough(url, [&](TStream& out) {
    if (bytes) out.WriteBytes(bytes->Data(), bytes->DataSize());
  });
}

Ref<Object> LoadObject(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) ThrowStreamReadException();
  StreamCloser closer(stream);
  Ref<Object> obj = stream->ReadObject();
  closer.Close();
  return obj;
}

void SaveObject(Object* obj, Object* url) {
  SaveThrough(url, [&](TStream& out) { out.WriteObject(obj); });
}

void CopyStream(TStream* from, TStream* to, int32_t bufferSize) {
  TStream& in = Checked(from);
  TStream& out = Checked(to);
  std::vector<uint8_t> buffer(std::size_t(std::max(bufferSize, 1)));
  auto size = static_cast<int32_t>(buffer.size());
  while (!in.Eof()) {
    int32_t n = ReadPiece(&in, buffer.data(), size);
    if (n == 0) break;
    out.WriteBytes(buffer.data(), n);
  }
}

void CopyBytes(TStream* from, TStream* to, int32_t count, int32_t bufferSize) {
  TStream& in = Checked(from);
  TStream& out = Checked(to);
  std::vector<uint8_t> buffer(std::size_t(std::max(bufferSize, 1)));
  auto size = static_cast<int32_t>(buffer.size());
  while (count > 0) {
    int32_t n = std::min(count, size);
    in.ReadBytes(buffer.data(), n);
    out.WriteBytes(buffer.data(), n);
    count -= n;
  }
}

// ---------------------------------------------------------------------------
// Free-function forms

int32_t StreamEof(TStream* stream) { return Checked(stream).Eof(); }
int32_t StreamPos(TStream* stream) { return Checked(stream).Pos(); }
int32_t StreamSize(TStream* stream) { return Checked(stream).Size(); }
int32_t SeekStream(TStream* stream, int32_t pos) { return Checked(stream).Seek(pos); }
int32_t FlushStream(TStream* stream) { return Checked(stream).Flush(); }
int32_t CloseStream(TStream* stream) { return Checked(stream).Close(); }
int32_t ReadByte(TStream* stream) { return Checked(stream).ReadByte(); }
int32_t ReadShort(TStream* stream) { return Checked(stream).ReadShort(); }
int32_t ReadInt(TStream* stream) { return Checked(stream).ReadInt(); }
int64_t ReadLong(TStream* stream) { return Checked(stream).ReadLong(); }
float ReadFloat(TStream* stream) { return Checked(stream).ReadFloat(); }
double ReadDouble(TStream* stream) { return Checked(stream).ReadDouble(); }
void WriteByte(TStream* stream, int32_t n) { Checked(stream).WriteByte(n); }
void WriteShort(TStream* stream, int32_t n) { Checked(stream).WriteShort(n); }
void WriteInt(TStream* stream, int32_t n) { Checked(stream).WriteInt(n); }
void WriteLong(TStream* stream, int64_t n) { Checked(stream).WriteLong(n); }
void WriteFloat(TStream* stream, float f) { Checked(stream).WriteFloat(f); }
void WriteDouble(TStream* stream, double d) { Checked(stream).WriteDouble(d); }
Ref<String> ReadString(TStream* stream, int32_t length) { return Checked(stream).ReadString(length); }
int32_t WriteString(TStream* stream, String* s) { return Checked(stream).WriteString(s); }
Ref<String> ReadLine(TStream* stream) { return Checked(stream).ReadLine(); }
int32_t WriteLine(TStream* stream, String* s) { return Checked(stream).WriteLine(s); }

}  // namespace vrl

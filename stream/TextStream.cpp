#include "stream/TextStream.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "stream/AtomicFile.h"
#include "stream/CStream.h"
#include "stream/LineScan.h"
#include "stream/StreamCloser.h"

namespace vrl {

const ClassRecord& TTextStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TTextStream>("TTextStream", [](auto& d) {
    d.Constant("LATIN1", "i", "1");
    d.Constant("UTF8", "i", "2");
    d.Constant("UTF16BE", "i", "3");
    d.Constant("UTF16LE", "i", "4");
    d.template Field<&TTextStream::_encoding>("_encoding");
    d.template Field<&TTextStream::_bufcount>("_bufcount");
    d.template Method<&TTextStream::ReadFile>("ReadFile");
    d.template Method<&TTextStream::ReadChar>("ReadChar");
    d.template Method<&TTextStream::WriteChar>("WriteChar");
    d.template Function<&TTextStream::Create>("Create");
    d.template Method<&TTextStream::ReadRawByte>("_ReadByte");
    d.template Method<&TTextStream::WriteRawByte>("_WriteByte");
    d.template Method<&TTextStream::FlushRead>("_FlushRead");
    d.template Method<&TTextStream::FlushWrite>("_FlushWrite");
  });
  return record;
}

VRL_CLASS_RECORD(TTextStreamFactory, "TTextStreamFactory")

void textstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  stream::Init();
  vrRegisterClass(TTextStream::StaticClass());
  vrRegisterClass(TTextStreamFactory::StaticClass());
  New<TTextStreamFactory>();
}

Ref<TTextStream> TTextStream::Create(TStream* stream, int32_t encoding) {
  Ref<TTextStream> text = New<TTextStream>();
  text->_encoding = encoding;
  text->SetStream(stream);
  return text;
}

// Byte access bypasses the text conversions: the wrapped stream's own.
int32_t TTextStream::ReadRawByte() { return TStreamWrapper::ReadByte(); }
int32_t TTextStream::WriteRawByte(int32_t n) {
  TStreamWrapper::WriteByte(n);
  return 0;
}

int32_t TTextStream::FlushRead() {
  if (_bufcount == 0) return 0;
  int32_t b = ReadRawByte();
  if (b == 13) b = ReadRawByte();
  if (b != 10) vrThrowText("Malformed line terminator");
  _bufcount = 0;
  return 0;
}

int32_t TTextStream::FlushWrite() {
  if (_bufcount == 0) return 0;
  WriteRawByte(13);
  WriteRawByte(10);
  _bufcount = 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Characters

namespace {

// The bytes of the character that starts with `lead`, lead included.
int32_t CharLength(int32_t encoding, int32_t lead) {
  switch (encoding) {
    case TTextStream::UTF8:
      return lead < 128 ? 1 : lead < 224 ? 2 : lead < 240 ? 3 : 4;
    case TTextStream::UTF16BE:
    case TTextStream::UTF16LE:
      return 2;
    default:
      return 1;
  }
}

// The unit that the CharLength(encoding, bytes[0]) bytes of one character
// read as; a character beyond 16 bits gives its high surrogate and leaves
// the low one in `low` (untouched otherwise). Byte values are ints: a
// wrapped stream's ReadByte is not bound to 0..255.
int32_t DecodeChar(int32_t encoding, const int32_t* bytes, int32_t& low) {
  const int32_t c = bytes[0];
  switch (encoding) {
    case TTextStream::LATIN1:
      return c;
    case TTextStream::UTF8: {
      if (c < 128) return c;
      const int32_t c2 = bytes[1];
      // Continuation bytes are not validated; the result stays a 16-bit unit.
      if (c < 224) return (c * 64 + c2 - 12416) & 0xFFFF;
      const int32_t c3 = bytes[2];
      if (c < 240) return (c * 4096 + c2 * 64 + c3 - 925824) & 0xFFFF;
      // Four bytes: a character beyond 16 bits comes back as its surrogate
      // pair, the low unit on the next read. Values that are no character
      // (overlong forms, beyond U+10FFFF) read as 0.
      const int32_t c4 = bytes[3];
      int32_t cp = (c & 7) << 18 | (c2 & 63) << 12 | (c3 & 63) << 6 | (c4 & 63);
      if (c >= 248 || cp < 0x10000 || cp > 0x10FFFF) return 0;
      cp -= 0x10000;
      low = 0xDC00 | (cp & 0x3FF);
      return 0xD800 | cp >> 10;
    }
    case TTextStream::UTF16BE:
      return c << 8 | bytes[1];
    case TTextStream::UTF16LE:
      return c | bytes[1] << 8;
    default:
      return 0;
  }
}

}  // namespace

int32_t TTextStream::DecodeAfter(int32_t first) {
  if (!HasEncoding()) return 0;
  int32_t bytes[4] = {first, 0, 0, 0};
  const int32_t length = CharLength(_encoding, first);
  for (int32_t i = 1; i < length; ++i) bytes[i] = ReadRawByte();
  return DecodeChar(_encoding, bytes, _pendingLow);
}

bool TTextStream::HasEncoding() const { return _encoding >= LATIN1 && _encoding <= UTF16LE; }

bool TTextStream::AtEnd() { return _pendingLow == 0 && Eof(); }

int32_t TTextStream::ReadChar() {
  if (!HasEncoding()) return 0;
  if (int32_t low = std::exchange(_pendingLow, 0)) return low;
  return DecodeAfter(ReadRawByte());
}

bool TTextStream::NextChar(int32_t& c) {
  if (!HasEncoding()) {
    c = 0;
    return true;
  }
  if (int32_t low = std::exchange(_pendingLow, 0)) {
    c = low;
    return true;
  }
  int32_t first = 0;
  try {
    first = ReadRawByte();
  } catch (const ThrownObject& e) {
    // The end of the data, unless a seekable stream stopped before it.
    if (e.As<TStreamReadException>() && !StoppedBeforeEnd(_stream)) return false;
    throw;
  }
  c = DecodeAfter(first);
  return true;
}

int32_t TTextStream::WriteChar(int32_t c) {
  switch (_encoding) {
    case LATIN1:
      WriteRawByte(c);
      break;
    case UTF8:
      if (c >= 0 && c <= 127) {
        WriteRawByte(c);
      } else if (c >= 0 && c <= 2047) {
        WriteRawByte(192 | c / 64);
        WriteRawByte(128 | c % 64);
      } else if (c >= 0x10000 && c <= 0x10FFFF) {
        WriteRawByte(240 | c >> 18);
        WriteRawByte(128 | ((c >> 12) & 63));
        WriteRawByte(128 | ((c >> 6) & 63));
        WriteRawByte(128 | (c & 63));
      } else {
        c &= 0xFFFF;
        WriteRawByte(224 | c / 4096);
        WriteRawByte(128 | (c / 64) % 64);
        WriteRawByte(128 | c % 64);
      }
      break;
    case UTF16BE:
      WriteRawByte(c >> 8);
      WriteRawByte(c);
      break;
    case UTF16LE:
      WriteRawByte(c);
      WriteRawByte(c >> 8);
      break;
    default:
      break;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Lines and strings

namespace {

// A string holds at most 2^31 - 1 units.
void Append(std::u16string& text, int32_t c) {
  if (text.size() >= std::size_t(limits::kTextUnits)) vrRuntimeError(u"Stream too large"_vs);
  text += char16_t(c);
}

bool IsHighSurrogate(int32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(int32_t u) { return u >= 0xDC00 && u < 0xE000; }

}  // namespace

std::span<const uint8_t> TTextStream::BufferedBytes() {
  if (_pendingLow != 0 || !HasEncoding()) return {};
  std::span<const uint8_t> ahead = _stream->PeekBuffered();
  if (ahead.empty()) return {};
  // Only what lies before Size: the end of the data is where Eof says, as
  // for the character-by-character loop.
  if (const int32_t pos = _stream->Pos(); pos >= 0) {
    const int32_t left = _stream->Size() - pos;
    if (left <= 0) return {};
    return ahead.first(std::min(ahead.size(), std::size_t(left)));
  }
  return ahead;
}

bool TTextStream::WholeBufferedLine(Ref<String>& whole) {
  if (_encoding != LATIN1 && _encoding != UTF8) return false;
  std::span<const uint8_t> ahead = BufferedBytes();
  if (ahead.empty()) return false;
  const auto* lf = static_cast<const uint8_t*>(std::memchr(ahead.data(), 10, ahead.size()));
  if (!lf) return false;
  const uint8_t* bytes = ahead.data();
  const auto upto = std::size_t(lf - bytes);
  const std::size_t length = linescan::WithoutReturn(bytes, upto);
  if (!linescan::PlainBytes(bytes, length, _encoding == UTF8)) return false;
  whole = linescan::PlainString(bytes, length);
  _stream->SkipBuffered(static_cast<int32_t>(upto + 1));
  return true;
}

bool TTextStream::ScanBuffered(std::u16string& line, bool& ended) {
  std::span<const uint8_t> ahead = BufferedBytes();
  const std::size_t count = ahead.size();
  if (count == 0) return false;
  // The character loop raises "Stream too large" at the exact unit.
  if (line.size() + count * 2 >= std::size_t(INT32_MAX)) return false;
  const uint8_t* bytes = ahead.data();
  const bool single = _encoding == LATIN1 || _encoding == UTF8;
  std::size_t i = 0;
  while (i < count) {
    int32_t c = bytes[i];
    int32_t low = 0;
    if (single && c < 128) {
      ++i;
    } else {
      const auto length = std::size_t(CharLength(_encoding, c));
      if (i + length > count) break;  // the character goes on past the buffer
      int32_t units[4] = {c, 0, 0, 0};
      for (std::size_t k = 1; k < length; ++k) units[k] = bytes[i + k];
      c = DecodeChar(_encoding, units, low);
      i += length;
    }
    if (c == 10 || c == 0) {
      ended = true;
      break;
    }
    if (c != 13) line += char16_t(c);
    if (low != 0) line += char16_t(low);
  }
  _stream->SkipBuffered(static_cast<int32_t>(i));
  return i > 0;
}

Ref<String> TTextStream::ReadLine() {
  FlushRead();
  // Most lines lie whole in the wrapped stream's buffer as plain bytes.
  if (Ref<String> whole; WholeBufferedLine(whole)) return whole;
  std::u16string line;
  bool ended = false;
  int32_t c = 0;
  for (;;) {
    // Whole characters straight from the wrapped stream's buffer; one at a
    // time below where it has none or a character crosses its end.
    if (ScanBuffered(line, ended)) {
      if (ended) break;
      continue;
    }
    if (AtEnd() || !NextChar(c)) break;
    if (c == 10 || c == 0) break;
    if (c != 13) Append(line, c);
  }
  return String::FromUnits(line);
}

Ref<String> TTextStream::ReadFile() {
  FlushRead();
  std::u16string text;
  // Without an encoding no character consumes data: the end would never come.
  if (!HasEncoding()) return String::FromUnits(text);
  int32_t c = 0;
  while (!AtEnd() && NextChar(c)) Append(text, c);
  return String::FromUnits(text);
}

Ref<String> TTextStream::ReadString(int32_t count) {
  FlushRead();
  if (count <= 0) return Ref<String>(EmptyString());
  // Without an encoding no character comes from the data, so nothing bounds
  // the count: refused before anything is allocated.
  if (!HasEncoding()) ThrowStreamReadException();
  // Grows as characters arrive: a hostile count cannot allocate ahead of
  // the data.
  std::u16string text;
  for (int32_t i = 0; i < count; ++i) text += char16_t(ReadChar());
  return String::FromUnits(text);
}

int32_t TTextStream::WriteString(String* s) {
  FlushWrite();
  if (!s) return 0;
  for (int32_t i = 0, n = s->Length(); i < n; ++i) {
    int32_t u = (*s)[i];
    // UTF-8 writes a surrogate pair as the one 4-byte sequence of its
    // character; lone surrogates keep their 3-byte form.
    if (_encoding == UTF8 && IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate((*s)[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + ((*s)[++i] - 0xDC00);
    }
    WriteChar(u);
  }
  return 0;
}

int32_t TTextStream::WriteLine(String* s) {
  FlushWrite();
  WriteString(s);
  WriteString(u"\r\n"_vs);
  return 1;
}

// ---------------------------------------------------------------------------
// Numbers

int32_t TTextStream::ReadByte() {
  FlushRead();
  return ReadLine()->ToInt();
}
int32_t TTextStream::ReadShort() {
  FlushRead();
  return ReadLine()->ToInt();
}
int32_t TTextStream::ReadInt() {
  FlushRead();
  return ReadLine()->ToInt();
}
int64_t TTextStream::ReadLong() {
  FlushRead();
  return ReadLine()->ToLong();
}
float TTextStream::ReadFloat() {
  FlushRead();
  return ReadLine()->ToFloat();
}
double TTextStream::ReadDouble() {
  FlushRead();
  return ReadLine()->ToDouble();
}
void TTextStream::WriteByte(int32_t n) {
  FlushWrite();
  WriteLine(String::FromInt(n));
}
void TTextStream::WriteShort(int32_t n) {
  FlushWrite();
  WriteLine(String::FromInt(n));
}
void TTextStream::WriteInt(int32_t n) {
  FlushWrite();
  WriteLine(String::FromInt(n));
}
void TTextStream::WriteLong(int64_t n) {
  FlushWrite();
  WriteLine(String::FromLong(n));
}
void TTextStream::WriteFloat(float f) {
  FlushWrite();
  WriteLine(String::FromFloat(f));
}
void TTextStream::WriteDouble(double d) {
  FlushWrite();
  WriteLine(String::FromDouble(d));
}

// ---------------------------------------------------------------------------
// Raw bytes as hexadecimal lines

int32_t TTextStream::Write(const void* buf, int32_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  auto* p = static_cast<const uint8_t*>(buf);
  for (int32_t i = 0; i < count; ++i) {
    WriteRawByte(kDigits[p[i] >> 4]);
    WriteRawByte(kDigits[p[i] & 15]);
    if (++_bufcount == 32) FlushWrite();
  }
  return count > 0 ? count : 0;
}

int32_t TTextStream::Read(void* buf, int32_t count) {
  auto digit = [](int32_t ch) {
    int32_t d = ch - 48;
    return d > 9 ? ch - 55 : d;
  };
  auto* p = static_cast<uint8_t*>(buf);
  for (int32_t i = 0; i < count; ++i) {
    if (_bufcount == 32) FlushRead();
    int32_t hi = ReadRawByte();
    int32_t lo = ReadRawByte();
    p[i] = static_cast<uint8_t>(digit(hi) * 16 + digit(lo));
    ++_bufcount;
  }
  return count > 0 ? count : 0;
}

// ---------------------------------------------------------------------------
// Factory and whole-text functions

Ref<TStream> TTextStreamFactory::CreateStream(Object*, String* proto, String* path, int32_t readable,
                                              int32_t writeable) {
  static String* const kNames[] = {u"latin1"_vs, u"utf8"_vs, u"utf16be"_vs, u"utf16le"_vs};
  for (int32_t code = 1; code <= 4; ++code) {
    if (CompareStrings(proto, kNames[code - 1]) != 0) continue;
    Ref<TStream> stream = OpenStream(path, readable, writeable);
    if (stream.IsNull()) return {};
    return TTextStream::Create(stream, code);
  }
  return {};
}

Ref<String> LoadText(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) ThrowStreamReadException();
  StreamCloser closer(stream);
  uint8_t head[3];
  int32_t kept = 0, encoding = 0;
  if (ReadPiece(stream, head, 1) == 1) {
    kept = 1;
    if (ReadPiece(stream, head + 1, 1) == 1) {
      kept = 2;
      if (head[0] == 254 && head[1] == 255) {
        encoding = TTextStream::UTF16BE;
      } else if (head[0] == 255 && head[1] == 254) {
        encoding = TTextStream::UTF16LE;
      } else if (head[0] == 239 && head[1] == 187 && ReadPiece(stream, head + 2, 1) == 1) {
        kept = 3;
        if (head[2] == 191) encoding = TTextStream::UTF8;
      }
    }
  }
  if (encoding) {
    Ref<TTextStream> text = TTextStream::Create(stream, encoding);
    Ref<String> result = text->ReadFile();
    text->Close();
    closer.Close();
    return result;
  }
  // One unit a byte: a file with more is refused before it is read.
  if (auto* file = CastRaw<TCStream>(stream.get()); file && file->BytesLeft() > limits::kTextUnits - kept)
    vrRuntimeError(u"Stream too large"_vs);
  Ref<Array> rest = ReadAllBytes(stream);
  closer.Close();
  if (rest->Length() > limits::kTextUnits - kept) vrRuntimeError(u"Stream too large"_vs);
  std::string bytes(reinterpret_cast<const char*>(head), std::size_t(kept));
  bytes.append(static_cast<const char*>(rest->Data()), std::size_t(rest->Length()));
  return String::FromNarrow(bytes);
}

int32_t SaveText(String* str, Object* url) {
  Ref<String> text(str ? str : EmptyString());
  bool narrow = true;
  for (int32_t i = 0; i < text->Length() && narrow; ++i) narrow = (*text)[i] <= 255;
  if (narrow) {
    SaveString(text, url);
    return 1;
  }
  AtomicFile file(url);
  if (file.IsNull()) ThrowStreamWriteException();
  static const uint8_t kMark[2] = {255, 254};
  file.Stream()->WriteBytes(kMark, 2);
  Ref<TTextStream> out = TTextStream::Create(file.Stream(), TTextStream::UTF16LE);
  out->WriteString(text);
  // The text stream holds nothing back (WriteString ends any hexadecimal
  // line first); the save closes the stream under it.
  file.CommitOrThrow();
  return 1;
}

}  // namespace vrl

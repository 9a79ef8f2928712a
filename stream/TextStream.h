// Text streams: characters in one of four encodings, numbers as text lines,
// and raw bytes as upper-case hexadecimal lines of at most 32 bytes (64
// characters) ended by CR LF. Reached through the "latin1::", "utf8::",
// "utf16be::" and "utf16le::" protocols.
//
// Characters are UTF-16 units. UTF-8 carries a character beyond 16 bits as
// one 4-byte sequence: reading one gives its surrogate pair (the low unit
// on the following read), WriteString writes a surrogate pair as one
// sequence and WriteChar takes such a character as a whole (0x10000 to
// 0x10FFFF). A 4-byte sequence that is no character (an overlong form, a
// value beyond U+10FFFF, a lead byte of 248 or more) reads as 0, all four
// bytes consumed, so the character after it survives. Lone surrogates are
// written, and read back, in their 3-byte form, as older files hold them.
// Decoding never reads beyond the data: a character cut short by the end of
// the data raises TStreamReadException.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "stream/Stream.h"

namespace vrl {

class TTextStream : public TStreamWrapper {
  VRL_CLASS(TTextStream, TStreamWrapper)
  static constexpr int32_t LATIN1 = 1;
  static constexpr int32_t UTF8 = 2;
  static constexpr int32_t UTF16BE = 3;
  static constexpr int32_t UTF16LE = 4;

  /// Raw bytes as hexadecimal text. Read understands upper-case digits only
  /// (other characters give meaningless bytes) and throws the string
  /// "Malformed line terminator" when a full line does not end in LF or CR LF.
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  /// Numbers as lines of text, converted whole: WriteByte(300) then ReadByte
  /// gives 300 (the text carries the whole Int; nothing masks it to 8 or 16
  /// bits).
  int32_t ReadByte() override;
  void WriteByte(int32_t n) override;
  int32_t ReadShort() override;
  void WriteShort(int32_t n) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t n) override;
  int64_t ReadLong() override;
  void WriteLong(int64_t n) override;
  float ReadFloat() override;
  void WriteFloat(float f) override;
  double ReadDouble() override;
  void WriteDouble(double d) override;
  /// A line ends at LF or a 0 character or the end of the data; CR is
  /// dropped wherever it occurs. The line readers follow the stream layer's
  /// end-of-data rule (stream/Stream.h, ReadPiece): a seekable stream that
  /// stops before its end raises TStreamReadException.
  Ref<String> ReadLine() override;
  int32_t WriteLine(String* s) override;
  /// Exactly `count` characters. Without an encoding no character comes from
  /// the data, so a positive count raises TStreamReadException (rather than
  /// allocating whatever the count says).
  Ref<String> ReadString(int32_t count) override;
  int32_t WriteString(String* s) override;

  /// Every character to the end of the data, CR and LF included (more than
  /// 2^31 - 1 units is the runtime error "Stream too large").
  Ref<String> ReadFile();
  int32_t ReadChar();
  int32_t WriteChar(int32_t c);
  static Ref<TTextStream> Create(TStream* stream, int32_t encoding);

  /// LATIN1, UTF8, UTF16BE or UTF16LE; 0 (no encoding) before Create sets it.
  int32_t Encoding() const { return _encoding; }

 private:
  /// Byte access that bypasses the text conversions: the wrapped stream's own.
  int32_t ReadRawByte();
  int32_t WriteRawByte(int32_t n);
  /// End the current hexadecimal line: reading consumes its LF or CR LF,
  /// writing adds CR LF. Nothing happens when no line is open.
  int32_t FlushRead();
  int32_t FlushWrite();

  /// ReadChar for the line readers: false when the data ends before the
  /// first byte of a character, so a stream that cannot tell its end
  /// beforehand (standard input) still ends its last line cleanly.
  bool NextChar(int32_t& c);
  int32_t DecodeAfter(int32_t first);
  /// The wrapped stream's buffered bytes (stream/Stream.h, PeekBuffered) that
  /// lie before its Size; none while a low surrogate is pending or without an
  /// encoding.
  std::span<const uint8_t> BufferedBytes();
  /// A Latin-1 or UTF-8 line that lies whole in that buffer as bytes that read
  /// one unit each (no CR but the one before the LF, no 0, for UTF-8 no byte
  /// above 127), taken in one step into `whole`; false otherwise, nothing
  /// consumed.
  bool WholeBufferedLine(Ref<String>& whole);
  /// ReadLine's bulk step: appends the characters that lie whole in the
  /// wrapped stream's buffer (stream/Stream.h, PeekBuffered) up to the line
  /// end, and sets `ended` when it was reached. False when it took nothing
  /// (no buffer, a pending low surrogate, a character crossing the buffer's
  /// end), so the caller reads one character the ordinary way.
  bool ScanBuffered(std::u16string& line, bool& ended);
  bool HasEncoding() const;
  /// No pending unit and the wrapped stream at its end.
  bool AtEnd();

  int32_t _encoding = 0;
  int32_t _bufcount = 0;    // bytes on the current hexadecimal line (0..32)
  int32_t _pendingLow = 0;  // the low surrogate of a 4-byte UTF-8 character
};

class TTextStreamFactory : public TStreamFactory {
  VRL_CLASS(TTextStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

/// The whole content of `url`: a byte-order mark chooses UTF-16BE, UTF-16LE or
/// UTF-8 (the mark is not part of the result); without one the bytes are
/// Latin-1. Throws TStreamReadException when the URL cannot be opened or the
/// data stops before its end (stream/Stream.h, ReadPiece), and the runtime
/// error "Stream too large" beyond what a string can hold (2^31 - 1 units).
Ref<String> LoadText(Object* url);
/// Latin-1 when every character fits in a byte, else UTF-16LE with a
/// byte-order mark. Returns 1; throws TStreamWriteException when the URL cannot
/// be opened or the data could not be delivered in full (a file is replaced
/// only once all of it is written: stream/AtomicFile.h).
int32_t SaveText(String* str, Object* url);

namespace textstream {
/// Registers the classes and enrols the text-encoding factory.
void Init();
}  // namespace textstream

}  // namespace vrl

// The stream layer: the raw byte interface (TIO), typed reads and writes on
// top of it (TStream), wrappers, the chain of URL factories and the functions
// that work on whole streams.
//
// A URL is any object that names data: an open TStream, a string "proto::path"
// answered by the factory chain, a plain file path (no "::"), or an object a
// factory knows (a TBank, stream/BankStream.h). Loaders take a URL and never
// care where the bytes come from.
//
// Read and Write move up to `count` bytes and return how many moved; 0 means
// nothing could be moved (end of data, a full device, a stream that does not
// allow it). The typed operations turn a 0 into TStreamReadException or
// TStreamWriteException. Typed values use the machine's byte order
// (little-endian); stream/EndianStream.h gives big-endian access.
//
// Flush and Close return 0, or -1 when data written earlier could not be
// delivered (a file whose final flush or close failed). The whole-stream save
// functions turn that into TStreamWriteException, so a save never reports
// success after its data was lost.
//
// Streams belong to one thread.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/Array.h"
#include "runtime/Object.h"
#include "runtime/String.h"

namespace vrl {

class TIO : public Object {
  VRL_CLASS(TIO, Object)
  /// 1 when Pos equals Size.
  virtual int32_t Eof();
  /// -1: the stream has no position (it is not seekable).
  virtual int32_t Pos();
  virtual int32_t Size();
  /// The new position, or -1 when the stream cannot seek.
  virtual int32_t Seek(int32_t pos);
  virtual int32_t Flush();
  virtual int32_t Close();
  /// The defaults throw the runtime errors "Stream is not readable" and
  /// "Stream is not writeable".
  virtual int32_t Read(void* buf, int32_t count);
  virtual int32_t Write(const void* buf, int32_t count);
};

class TStream : public TIO {
  VRL_CLASS(TStream, TIO)
  /// Read or write exactly `count` bytes or throw the stream exception; the
  /// bytes moved before the failure stay moved. Return `count`.
  virtual int32_t ReadBytes(void* buf, int32_t count);
  virtual int32_t WriteBytes(const void* buf, int32_t count);
  virtual int32_t SkipBytes(int32_t count);
  /// Byte and short come back unsigned (0..255, 0..65535).
  virtual int32_t ReadByte();
  virtual void WriteByte(int32_t n);
  virtual int32_t ReadShort();
  virtual void WriteShort(int32_t n);
  virtual int32_t ReadInt();
  virtual void WriteInt(int32_t n);
  virtual int64_t ReadLong();
  virtual void WriteLong(int64_t n);
  virtual float ReadFloat();
  virtual void WriteFloat(float f);
  virtual double ReadDouble();
  virtual void WriteDouble(double d);
  /// One byte a unit up to a line feed or a 0 byte; carriage returns are
  /// dropped. The empty string at the end of data.
  virtual Ref<String> ReadLine();
  /// The units' low bytes, then CR LF; 1 when all of it was written, else 0.
  virtual int32_t WriteLine(String* s);
  /// `length` bytes, one unit each (TStreamReadException when they run out).
  virtual Ref<String> ReadString(int32_t length);
  /// The units' low bytes; returns 0.
  virtual int32_t WriteString(String* s);
  /// The base versions throw the strings "Unable to read object" and
  /// "Unable to write object".
  virtual Ref<Object> ReadObject();
  virtual int32_t WriteObject(Object* obj);

  /// Bulk access for the line readers: the bytes that the stream already
  /// holds at its position, as Read would deliver them next, without moving.
  /// When its buffer is empty the stream may refill it first (blocking as a
  /// Read would). An empty view means "use Read": the default, for streams
  /// that keep no buffer, and at the end of the data. The view stays valid
  /// until the next operation on the stream. SkipBuffered(n) moves past the
  /// first n bytes of the last view (at most its size), as a Read of them
  /// would.
  virtual std::span<const uint8_t> PeekBuffered();
  virtual void SkipBuffered(int32_t count);
};

class TStreamException : public Object {
  VRL_CLASS(TStreamException, Object)
};

class TStreamReadException : public TStreamException {
  VRL_CLASS(TStreamReadException, TStreamException)
  Ref<String> ToString() override;  // "Error reading from stream"
};

class TStreamWriteException : public TStreamException {
  VRL_CLASS(TStreamWriteException, TStreamException)
  Ref<String> ToString() override;  // "Error writing to stream"
};

[[noreturn]] void ThrowStreamReadException();
[[noreturn]] void ThrowStreamWriteException();

/// Forwards to `_stream` (Null throws TNullObjectException) everything but
/// ReadBytes, WriteBytes, SkipBytes, ReadLong and WriteLong, which run
/// TStream's versions over the forwarded Read, Write, ReadBytes and
/// WriteBytes. Dropping a wrapper releases the wrapped stream without closing
/// it; an explicit Close closes it.
class TStreamWrapper : public TStream {
  VRL_CLASS(TStreamWrapper, TStream)
  int32_t Eof() override;
  int32_t Pos() override;
  int32_t Size() override;
  int32_t Seek(int32_t pos) override;
  int32_t Flush() override;
  int32_t Close() override;
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  int32_t ReadByte() override;
  void WriteByte(int32_t n) override;
  int32_t ReadShort() override;
  void WriteShort(int32_t n) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t n) override;
  float ReadFloat() override;
  void WriteFloat(float f) override;
  double ReadDouble() override;
  void WriteDouble(double d) override;
  Ref<String> ReadLine() override;
  int32_t WriteLine(String* s) override;
  Ref<String> ReadString(int32_t length) override;
  int32_t WriteString(String* s) override;
  Ref<Object> ReadObject() override;
  int32_t WriteObject(Object* obj) override;
  virtual int32_t SetStream(TStream* stream);

 protected:
  Ref<TStream> _stream;
};

/// A wrapper whose Close only detaches: the caller's stream stays open.
class TStreamStream : public TStreamWrapper {
  VRL_CLASS(TStreamStream, TStreamWrapper)
  int32_t Close() override;
  /// The caller's stream's buffer: this wrapper reads exactly what it reads.
  std::span<const uint8_t> PeekBuffered() override;
  void SkipBuffered(int32_t count) override;
  static Ref<TStreamStream> Create(TStream* stream);
};

/// One link of the factory chain. Constructing a factory makes it the head of
/// the chain (newest first); the chain only grows and keeps its factories for
/// the whole run. Modules create their factory once in their Init().
class TStreamFactory : public Object {
  VRL_CLASS(TStreamFactory, Object)
  TStreamFactory();
  /// The stream for `url` when this factory knows `proto`, else Null. The base
  /// throws TNullMethodException. `proto` is lower case; `path` is the text
  /// after "::" (both empty for a URL that is not a string).
  virtual Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                                    int32_t writeable);

 private:
  /// OpenStream walks the chain.
  friend Ref<TStream> OpenStream(Object* url, int32_t readable, int32_t writeable);

  Ref<TStreamFactory> _succ;
};

/// The head of the chain (Null when no factory exists).
TStreamFactory* StreamFactories();

/// URL resolution: a TStream gives a TStreamStream over it (closing that
/// leaves the caller's stream open); a string without "::" is a file path
/// (TCStream.OpenFile, the factories are not asked); otherwise the factories
/// are asked in turn with the lowered protocol and the path. Null when nothing
/// answers.
Ref<TStream> OpenStream(Object* url, int32_t readable, int32_t writeable);
Ref<TStream> ReadStream(Object* url);
Ref<TStream> WriteStream(Object* url);

/// Reading a stream to its end, the rule of every function that does so
/// (ReadAllBytes, CopyStream, LoadText, the text streams' line readers, the
/// file system's copies): the data ends at Eof, or when a Read moves nothing
/// on a stream that cannot seek (a pipe, standard input, a stream without a
/// size). A seekable stream whose Read moves nothing before its Size has
/// failed (a read error, a file cut short meanwhile): that is
/// TStreamReadException, so short data is never taken for the whole.
///
/// One Read under that rule: the bytes moved, or 0 at the end of the data.
int32_t ReadPiece(TStream* stream, void* buf, int32_t count);
/// True when `stream` can seek and stands before its Size, where a Read that
/// moves nothing is a failed read rather than the end of the data.
bool StoppedBeforeEnd(TStream* stream);
/// Reads up to `count` bytes with Read until they are all there or a Read
/// moves nothing; returns how many arrived. Headers use it where a short read
/// means "not this format" rather than a stream error.
int32_t ReadUpTo(TStream* stream, void* buf, int32_t count);

/// Whole-stream functions. The loads throw TStreamReadException and the saves
/// TStreamWriteException when the URL cannot be opened; the loads also throw
/// it when the data stops before its end (above), the saves when the data
/// could not be delivered in full (a failed write, flush or close). A save to
/// a file replaces it only once all of it is written (stream/AtomicFile.h);
/// a failed save leaves the old file as it was.
Ref<Array> LoadByteArray(Object* url);
/// Reads an opened stream to its end into a byte array of exactly the bytes
/// read. Does not close the stream. More than 2^31 - 1 bytes is the runtime
/// error "Stream too large".
Ref<Array> ReadAllBytes(TStream* stream);
Ref<String> LoadString(Object* url);
void SaveString(String* s, Object* url);
void SaveByteArray(Array* bytes, Object* url);
Ref<Object> LoadObject(Object* url);
void SaveObject(Object* obj, Object* url);
/// Copies until `from` is at its end (TStreamReadException when it stops
/// before it, as above).
void CopyStream(TStream* from, TStream* to, int32_t bufferSize = 4096);
void CopyBytes(TStream* from, TStream* to, int32_t count, int32_t bufferSize = 4096);

/// Free-function forms of the stream operations.
int32_t StreamEof(TStream* stream);
int32_t StreamPos(TStream* stream);
int32_t StreamSize(TStream* stream);
int32_t SeekStream(TStream* stream, int32_t pos);
int32_t FlushStream(TStream* stream);
int32_t CloseStream(TStream* stream);
int32_t ReadByte(TStream* stream);
int32_t ReadShort(TStream* stream);
int32_t ReadInt(TStream* stream);
int64_t ReadLong(TStream* stream);
float ReadFloat(TStream* stream);
double ReadDouble(TStream* stream);
void WriteByte(TStream* stream, int32_t n);
void WriteShort(TStream* stream, int32_t n);
void WriteInt(TStream* stream, int32_t n);
void WriteLong(TStream* stream, int64_t n);
void WriteFloat(TStream* stream, float f);
void WriteDouble(TStream* stream, double d);
Ref<String> ReadString(TStream* stream, int32_t length);
int32_t WriteString(TStream* stream, String* s);
Ref<String> ReadLine(TStream* stream);
int32_t WriteLine(TStream* stream, String* s);

namespace stream {
/// Registers the stream classes (TCStream's included).
void Init();
}  // namespace stream

}  // namespace vrl

// File streams over the C library's buffered binary files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "stream/Stream.h"

namespace vrl {

class TCStream : public TStream {
  VRL_CLASS(TCStream, TStream)
  static constexpr int32_t MODE_READ = 1;
  static constexpr int32_t MODE_WRITE = 2;

  ~TCStream() override;

  /// Pos is -1 for a file that cannot seek (a pipe or a terminal); it then
  /// stays -1, so Eof never comes from Pos == Size and readers stop when a
  /// Read moves nothing. A file whose size or position does not fit in an Int
  /// (2 GiB and more) is treated the same way: it is read and written in
  /// sequence without a position.
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return _size; }
  int32_t Seek(int32_t pos) override;
  /// A stream with a position never moves past 2^31 - 1: Read and Write cut
  /// their counts there, and at that position they move nothing (so
  /// WriteBytes throws TStreamWriteException rather than the position
  /// wrapping round).
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  /// The C library's read buffer, so that lines are scanned in bulk (where
  /// the C library lets us see it; elsewhere the view is empty and the line
  /// readers use Read). Cut at the position limit above.
  std::span<const uint8_t> PeekBuffered() override;
  void SkipBuffered(int32_t count) override;
  /// -1 when buffered data could not be written.
  int32_t Flush() override;
  /// Flushes and closes; -1 when data written earlier was lost: a failed
  /// write, flush or close, or a seek (Seek, or the switch between reading
  /// and writing) whose flush of the pending data failed. A second Close does
  /// nothing and returns 0.
  int32_t Close() override;

  /// Backslashes become "/". Both flags: "r+b" (mode 3); only writeable:
  /// "wb" (mode 2, the file is created or truncated); otherwise "rb" (mode 1).
  /// Null when the file cannot be opened or is a directory.
  static Ref<TCStream> OpenFile(String* path, int32_t readable, int32_t writeable);
  /// The same for a name that is already the system's bytes: no "\"
  /// conversion, so every name the system allows can be opened.
  static Ref<TCStream> OpenNative(const char* native, int32_t readable, int32_t writeable);
  /// Takes ownership of an open file; Close or freeing the stream closes it.
  static Ref<TCStream> CreateWithCStream(std::FILE* handle, int32_t mode);

  /// The bytes from the C file's position to the end of a regular file, even
  /// past what an Int can say; -1 for other files or a closed stream. Lets
  /// whole-file readers refuse a file too large for them before they read.
  int64_t BytesLeft();

  /// The mode it was opened with: MODE_READ, MODE_WRITE or both (Close keeps it).
  int32_t Mode() const { return _mode; }

 private:
  int32_t _pos = 0;
  int32_t _size = 0;
  std::FILE* _cstream = nullptr;
  int32_t _mode = 0;

  /// The C library needs a seek or flush between reading and writing the same
  /// file; this remembers which of the two came last.
  enum class LastOp : uint8_t { None, Read, Write };
  void Switch(LastOp op);
  /// fseek that remembers lost data: leaving write mode flushes the pending
  /// buffer, and when that flush fails the C library drops the buffer, after
  /// which fflush and fclose report success.
  bool Reposition(long offset, int whence);
  LastOp _last = LastOp::None;
  bool _canSeek = false;  // the C library can position the file (even without a Pos)
  bool _writeFailed = false;
};

}  // namespace vrl

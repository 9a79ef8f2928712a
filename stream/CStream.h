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

  // Pos is -1 for a file that cannot seek (a pipe or a terminal); it then
  // stays -1, so Eof never comes from Pos == Size and readers stop when a
  // Read moves nothing.
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return _size; }
  int32_t Seek(int32_t pos) override;
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  // -1 when buffered data could not be written.
  int32_t Flush() override;
  // Flushes and closes; -1 when the flush or the close failed (data written
  // earlier may be lost). A second Close does nothing and returns 0.
  int32_t Close() override;

  // Backslashes become "/". Both flags: "r+b" (mode 3); only writeable:
  // "wb" (mode 2, the file is created or truncated); otherwise "rb" (mode 1).
  // Null when the file cannot be opened.
  static Ref<TCStream> OpenFile(String* path, int32_t readable, int32_t writeable);
  // Takes ownership of an open file; Close or freeing the stream closes it.
  static Ref<TCStream> CreateWithCStream(std::FILE* handle, int32_t mode);

  int32_t _pos = 0;
  int32_t _size = 0;
  std::FILE* _cstream = nullptr;
  int32_t _mode = 0;

 private:
  // The C library needs a seek or flush between reading and writing the same
  // file; this remembers which of the two came last.
  enum class LastOp : uint8_t { None, Read, Write };
  void Switch(LastOp op);
  LastOp _last = LastOp::None;
  bool _writeFailed = false;
};

}  // namespace vrl

#include "stream/CStream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "runtime/Exceptions.h"
#include "stream/NativePath.h"

namespace vrl {

// The class record is defined with the other stream classes (Stream.cpp).

TCStream::~TCStream() { TCStream::Close(); }

Ref<TCStream> TCStream::OpenFile(String* path, int32_t readable, int32_t writeable) {
  Ref<String> slashed = path ? path->Replace(u"\\"_vs, u"/"_vs) : Ref<String>(EmptyString());
  auto native = NativePath(slashed);
  if (!native || native->empty()) return {};
  return OpenNative(native->c_str(), readable, writeable);
}

Ref<TCStream> TCStream::OpenNative(const char* native, int32_t readable, int32_t writeable) {
  if (!native || !*native) return {};
  const char* how = "rb";
  int32_t mode = MODE_READ;
  if (readable && writeable) {
    how = "r+b";
    mode = MODE_READ | MODE_WRITE;
  } else if (writeable) {
    how = "wb";
    mode = MODE_WRITE;
  }
  std::FILE* file = std::fopen(native, how);
  if (!file) return {};
  // The C library opens a directory for reading; its reads then give
  // nothing and its size is meaningless.
  struct stat st {};
  if (fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(file);
    return {};
  }
  return CreateWithCStream(file, mode);
}

Ref<TCStream> TCStream::CreateWithCStream(std::FILE* handle, int32_t mode) {
  Ref<TCStream> stream = New<TCStream>();
  stream->_cstream = handle;
  stream->_mode = mode;
  long pos = handle ? std::ftell(handle) : -1;
  if (pos < 0) {
    stream->_pos = -1;  // not seekable
    stream->_size = 0;
    return stream;
  }
  stream->_canSeek = true;
  long size = pos;
  if (std::fseek(handle, 0, SEEK_END) == 0) size = std::ftell(handle);
  std::fseek(handle, pos, SEEK_SET);
  // A size or position an Int cannot say: no position at all, rather than
  // one that could not follow the reads.
  if (pos > INT32_MAX || size < 0 || size > INT32_MAX) {
    stream->_pos = -1;
    stream->_size = 0;
    return stream;
  }
  stream->_pos = static_cast<int32_t>(pos);
  stream->_size = static_cast<int32_t>(size);
  return stream;
}

int64_t TCStream::BytesLeft() {
  if (!_cstream) return -1;
  struct stat st {};
  if (fstat(fileno(_cstream), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  off_t at = ftello(_cstream);
  if (at < 0) return -1;
  return std::max<int64_t>(int64_t(st.st_size) - int64_t(at), 0);
}

void TCStream::Switch(LastOp op) {
  // Reading after writing (or the reverse) on one C file needs a positioning
  // call in between; without it the C library's behaviour is undefined.
  if (_last != LastOp::None && _last != op && _canSeek) Reposition(0, SEEK_CUR);
  _last = op;
}

bool TCStream::Reposition(long offset, int whence) {
  if (std::fseek(_cstream, offset, whence) == 0) return true;
  if (_last == LastOp::Write && std::ferror(_cstream)) _writeFailed = true;
  return false;
}

int32_t TCStream::Seek(int32_t pos) {
  if (!_cstream) return -1;
  if (_pos < 0) return -1;
  Reposition(pos, SEEK_SET);
  long now = std::ftell(_cstream);
  _pos = now < 0 || now > INT32_MAX ? _pos : static_cast<int32_t>(now);
  _last = LastOp::None;
  return _pos;
}

int32_t TCStream::Read(void* buf, int32_t count) {
  if (_pos >= 0) count = std::min(count, INT32_MAX - _pos);
  if (!_cstream || count <= 0) return 0;
  Switch(LastOp::Read);
  // Streams belong to one thread, so the C library's per-call locking buys
  // nothing; the byte-at-a-time path is what ReadLine uses.
  int32_t n = 0;
  if (count == 1) {
    int c = getc_unlocked(_cstream);
    if (c == EOF) return 0;
    *static_cast<uint8_t*>(buf) = static_cast<uint8_t>(c);
    n = 1;
  } else {
    n = static_cast<int32_t>(fread_unlocked(buf, 1, std::size_t(count), _cstream));
  }
  if (_pos >= 0) _pos += n;
  return n;
}

std::span<const uint8_t> TCStream::PeekBuffered() {
#if defined(__GLIBC__)
  if (!_cstream || _pos == INT32_MAX) return {};
  Switch(LastOp::Read);
  std::FILE* f = _cstream;
  if (f->_IO_read_ptr >= f->_IO_read_end) {
    // Refill: the byte taken goes straight back into the buffer it came from.
    int c = getc_unlocked(f);
    if (c == EOF) return {};
    if (std::ungetc(c, f) == EOF) return {};
  }
  auto* begin = reinterpret_cast<const uint8_t*>(f->_IO_read_ptr);
  auto count = std::size_t(f->_IO_read_end - f->_IO_read_ptr);
  if (_pos >= 0) count = std::min(count, std::size_t(INT32_MAX - _pos));
  return {begin, count};
#else
  return {};
#endif
}

void TCStream::SkipBuffered(int32_t count) {
#if defined(__GLIBC__)
  if (!_cstream || count <= 0) return;
  _cstream->_IO_read_ptr += count;
  if (_pos >= 0) _pos += count;
#else
  (void)count;
#endif
}

int32_t TCStream::Write(const void* buf, int32_t count) {
  if (_pos >= 0) count = std::min(count, INT32_MAX - _pos);
  if (!_cstream || count <= 0) return 0;
  Switch(LastOp::Write);
  auto n = static_cast<int32_t>(std::fwrite(buf, 1, std::size_t(count), _cstream));
  if (n < count) _writeFailed = true;
  if (_pos >= 0) {
    _pos += n;
    if (_pos > _size) _size = _pos;
  }
  return n;
}

int32_t TCStream::Flush() {
  if (!_cstream) return 0;
  if (std::fflush(_cstream) == 0) return 0;
  _writeFailed = true;  // the C library drops the buffer it could not write
  return -1;
}

int32_t TCStream::Close() {
  if (!_cstream) return 0;
  int32_t result = Flush();
  // A write that failed earlier (inside one of the C library's own buffer
  // flushes) has lost data as well.
  if (_writeFailed) result = -1;
  if (std::fclose(_cstream) != 0) result = -1;
  _cstream = nullptr;
  _pos = _size = 0;
  _last = LastOp::None;
  _writeFailed = false;
  return result;
}

}  // namespace vrl

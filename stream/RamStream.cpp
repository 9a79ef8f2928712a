#include "stream/RamStream.h"

#include <algorithm>
#include <cstring>

#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"
#include "stream/EmbeddedFiles.h"

namespace vrl {

const ClassRecord& TRamStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TRamStream>("TRamStream", [](auto& d) {
    d.template Field<&TRamStream::_pos>("_pos");
    d.template Field<&TRamStream::_size>("_size");
    d.template Field<&TRamStream::_buf>("_buf");
    d.template Field<&TRamStream::_read>("_read");
    d.template Field<&TRamStream::_write>("_write");
    d.template Function<&TRamStream::Create>("Create");
  });
  return record;
}

VRL_CLASS_RECORD(TRamStreamFactory, "TRamStreamFactory")

void ramstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  stream::Init();
  vrRegisterClass(TRamStream::StaticClass());
  vrRegisterClass(TRamStreamFactory::StaticClass());
  New<TRamStreamFactory>();
}

Ref<TRamStream> TRamStream::Create(void* buf, int32_t size, int32_t readable, int32_t writeable) {
  Ref<TRamStream> stream = New<TRamStream>();
  stream->_buf = static_cast<uint8_t*>(buf);
  stream->_size = buf ? std::max(size, 0) : 0;
  stream->_read = readable;
  stream->_write = writeable;
  return stream;
}

Ref<TRamStream> CreateRamStream(void* buf, int32_t size, int32_t readable, int32_t writeable) {
  return TRamStream::Create(buf, size, readable, writeable);
}

int32_t TRamStream::Seek(int32_t pos) {
  _pos = std::clamp(pos, 0, _size);
  return _pos;
}

int32_t TRamStream::Read(void* buf, int32_t count) {
  if (count <= 0 || !_read) return 0;
  count = std::min(count, _size - _pos);
  if (count <= 0) return 0;
  std::memcpy(buf, _buf + _pos, std::size_t(count));
  _pos += count;
  return count;
}

int32_t TRamStream::Write(const void* buf, int32_t count) {
  if (count <= 0 || !_write) return 0;
  count = std::min(count, _size - _pos);
  if (count <= 0) return 0;
  std::memcpy(_buf + _pos, buf, std::size_t(count));
  _pos += count;
  return count;
}

std::span<const uint8_t> TRamStream::PeekBuffered() {
  if (!_read || _pos >= _size) return {};
  return {_buf + _pos, std::size_t(_size - _pos)};
}

void TRamStream::SkipBuffered(int32_t count) { _pos += std::clamp(count, 0, _size - _pos); }

Ref<TStream> TRamStreamFactory::CreateStream(Object*, String* proto, String* path, int32_t readable,
                                             int32_t writeable) {
  if (writeable || CompareStrings(proto, u"incbin"_vs) != 0) return {};
  const uint8_t* data = EmbeddedFilePointer(path);
  if (!data) return {};
  // The embedded bytes are never written: the stream is created read-only.
  return TRamStream::Create(const_cast<uint8_t*>(data), EmbeddedFileLength(path), readable, 0);
}

}  // namespace vrl

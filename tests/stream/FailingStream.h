// A seekable stream whose reads stop before its end, as a file's do when its
// disk fails: Read moves nothing at `failAt` although Pos is below Size.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "runtime/ClassRecord.h"
#include "stream/Stream.h"

namespace vrl::testing_support {

class TFailingStream : public TStream {
  VRL_CLASS(TFailingStream, TStream)
  static Ref<TFailingStream> Over(std::string bytes, int32_t failAt) {
    Ref<TFailingStream> stream = New<TFailingStream>();
    stream->_bytes = std::move(bytes);
    stream->_failAt = failAt;
    return stream;
  }
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return static_cast<int32_t>(_bytes.size()); }
  int32_t Seek(int32_t pos) override { return _pos = std::clamp(pos, 0, Size()); }
  int32_t Read(void* buf, int32_t count) override {
    int32_t n = std::min(count, std::min(_failAt, Size()) - _pos);
    if (n <= 0) return 0;
    std::memcpy(buf, _bytes.data() + _pos, std::size_t(n));
    _pos += n;
    return n;
  }

 private:
  std::string _bytes;
  int32_t _failAt = 0;
  int32_t _pos = 0;
};

inline const ClassRecord& TFailingStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TFailingStream>("TFailingStream");
  return record;
}

}  // namespace vrl::testing_support

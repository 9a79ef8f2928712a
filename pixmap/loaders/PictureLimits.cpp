#include "pixmap/loaders/PictureLimits.h"

#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace vrl {

int32_t ReadUpTo(TStream* stream, void* buf, int32_t count) {
  if (!stream) ThrowNullObjectException();
  auto* p = static_cast<uint8_t*>(buf);
  int32_t done = 0;
  while (done < count) {
    int32_t n = stream->Read(p + done, count - done);
    if (n <= 0) break;
    done += n < count - done ? n : count - done;
  }
  return done;
}

int32_t StreamCloser::Close() {
  TStream* stream = _stream;
  _stream = nullptr;
  if (!stream) return 0;
  try {
    return stream->Close();
  } catch (const ThrownObject&) {
    return -1;
  }
}

}  // namespace vrl

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

int64_t StreamBytesLeft(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  const int64_t pos = stream->Pos();
  if (pos < 0) return -1;
  const int64_t size = stream->Size();
  return size > pos ? size - pos : -1;
}

int64_t JpegMemoryLimit(int64_t bytesLeft) {
  constexpr int64_t kWorkingMemory = int64_t(16) << 20;
  constexpr int64_t kCoefficientBytesPerPixel = 3 * 2;
  int64_t pixels = kMaxPicturePixels;
  if (bytesLeft >= 0 && bytesLeft < kMaxPicturePixels / kJpegPixelsPerByte) {
    pixels = bytesLeft * kJpegPixelsPerByte;
  }
  return kWorkingMemory + pixels * kCoefficientBytesPerPixel;
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

#include "pixmap/loaders/PictureLimits.h"

#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace vrl {

int64_t StreamBytesLeft(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  const int64_t pos = stream->Pos();
  if (pos < 0) return -1;
  const int64_t size = stream->Size();
  return size > pos ? size - pos : -1;
}

int64_t JpegMemoryLimit(int64_t bytesLeft) {
  constexpr int64_t kWorkingMemory = int64_t(16) << 20;
  constexpr int64_t kCoefficientBytesPerPixel = int64_t(3) * 2;
  int64_t pixels = kMaxPicturePixels;
  if (bytesLeft >= 0 && bytesLeft < kMaxPicturePixels / kJpegPixelsPerByte) {
    pixels = bytesLeft * kJpegPixelsPerByte;
  }
  return kWorkingMemory + pixels * kCoefficientBytesPerPixel;
}

}  // namespace vrl

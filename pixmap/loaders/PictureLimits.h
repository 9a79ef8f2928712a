// Limits every picture loader applies to the sizes a file states, before
// anything is allocated for them, and the small reading helpers they share.
#pragma once

#include <cstdint>

namespace vrl {

class TStream;

inline constexpr int64_t kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;

// False for a side below 1 or above kMaxPictureSide, or for more than
// kMaxPicturePixels pixels. The product is taken in 64 bits, so any two
// 32-bit sides can be asked about.
inline bool PictureSizeAllowed(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

// Reads up to `count` bytes with Read until they are all there or a Read
// moves nothing; returns how many arrived. Headers use it where a short read
// means "not this format" rather than a stream error.
int32_t ReadUpTo(TStream* stream, void* buf, int32_t count);

// Closes a stream that a reader or writer opened, on every way out. Close
// reports -1 for lost data; a throw from it is reported the same way, as a
// destructor must not throw.
class StreamCloser {
 public:
  explicit StreamCloser(TStream* stream) : _stream(stream) {}
  ~StreamCloser() { Close(); }
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;
  // The stream's Close result; 0 when it was closed already.
  int32_t Close();

 private:
  TStream* _stream;
};

}  // namespace vrl

// Limits every picture loader applies to the sizes a file states, before
// anything is allocated for them.
#pragma once

#include <cstdint>

#include "runtime/Limits.h"

namespace vrl {

class TStream;

/// The values and their reasons are in runtime/Limits.h.
inline constexpr int64_t kMaxPictureSide = limits::kPictureSide;
inline constexpr int64_t kMaxPicturePixels = limits::kPicturePixels;

/// False for a side below 1 or above kMaxPictureSide, or for more than
/// kMaxPicturePixels pixels. The product is taken in 64 bits, so any two
/// 32-bit sides can be asked about.
inline bool PictureSizeAllowed(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

/// The bytes a stream holds from its position on, or -1 when it cannot say:
/// it has no position, or reports a size no larger than it (a stream that
/// does not know its length reports 0). Everything a loader
/// allocates for a picture must come from these bytes; a stream of unknown
/// length is held to the absolute limits above alone.
int64_t StreamBytesLeft(TStream* stream);

/// The most a byte of stored data can stand for, per kind of data, used as
/// `ratio` below.
/// Uncompressed rows: a byte is a byte.
inline constexpr int64_t kStoredRatio = limits::kStoredRatio;
/// Run-length packets: a BMP packet of 2 bytes gives at most 255 pixels, a
/// TGA packet of 1 + n bytes at most 128 pixels of n bytes.
inline constexpr int64_t kRunLengthRatio = limits::kRunLengthRatio;
/// Deflate (PNG): a 258-byte match costs at least 2 bits, so no stream
/// inflates by more than about 1032 to 1.
inline constexpr int64_t kDeflateRatio = limits::kDeflateRatio;
/// JPEG, counted in pixels: every 8 x 8 block that a scan codes costs at
/// least one bit, so a byte holds at most 512 pixels.
inline constexpr int64_t kJpegPixelsPerByte = limits::kJpegPixelsPerByte;

/// Whether `decoded` units (bytes, or pixels for JPEG) can come from
/// `bytesLeft` stored bytes at the ratio. Always true for a stream of
/// unknown length (bytesLeft -1).
inline bool StreamCanCarry(int64_t bytesLeft, int64_t decoded, int64_t ratio) {
  if (bytesLeft < 0) return true;
  return decoded <= bytesLeft * ratio;
}

/// The memory libjpeg may take for one picture from a stream with
/// `bytesLeft` bytes (its max_memory_to_use): the whole-picture coefficient
/// buffers of the largest picture the stream can carry (2 bytes a coefficient,
/// three full-resolution components), plus a fixed allowance for row buffers
/// and the padding of blocks at the picture's edges. A stream of unknown
/// length gets what the largest picture the absolute limits allow needs.
int64_t JpegMemoryLimit(int64_t bytesLeft);

}  // namespace vrl

#include "pixmap/PixelFormat.h"

#include <cstring>
#include <vector>

namespace vrl {

const int32_t PixelBytes[kPixelFormatCount] = {0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1};
const int32_t RedBits[kPixelFormatCount] = {0, 0, 0, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0};
const int32_t GreenBits[kPixelFormatCount] = {0, 0, 0, 8, 8, 8, 8, 0, 8, 0, 0, 0, 0};
const int32_t BlueBits[kPixelFormatCount] = {0, 0, 0, 8, 8, 8, 8, 0, 0, 8, 0, 0, 0};
const int32_t AlphaBits[kPixelFormatCount] = {0, 0, 8, 0, 0, 8, 8, 0, 0, 0, 8, 0, 0};
const int32_t IntensityBits[kPixelFormatCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0};
const int32_t LuminanceBits[kPixelFormatCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8};
const int32_t PixelBits[kPixelFormatCount] = {0, 8, 8, 24, 24, 32, 32, 4, 4, 4, 4, 4, 4};
const int32_t ColourBits[kPixelFormatCount] = {0, 0, 0, 24, 24, 24, 24, 8, 8, 8, 0, 0, 0};

void CopyPixels(const uint8_t* in, uint8_t* out, int32_t format, int32_t count) {
  if (count <= 0 || !IsPixelFormat(format)) return;
  std::memmove(out, in, std::size_t(count) * std::size_t(PixelBytes[format]));
}

void ExpandToRGBA(const uint8_t* in, uint8_t* out, int32_t inFormat, int32_t count) {
  auto put = [&out](uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    out[0] = r;
    out[1] = g;
    out[2] = b;
    out[3] = a;
    out += 4;
  };
  switch (inFormat) {
    case PIXFMT_GREY8:
      for (int32_t i = 0; i < count; ++i, ++in) put(*in, *in, *in, 255);
      break;
    case PIXFMT_A8:
      for (int32_t i = 0; i < count; ++i, ++in) put(255, 255, 255, *in);
      break;
    case PIXFMT_BGR24:
      for (int32_t i = 0; i < count; ++i, in += 3) put(in[2], in[1], in[0], 255);
      break;
    case PIXFMT_RGB24:
      for (int32_t i = 0; i < count; ++i, in += 3) put(in[0], in[1], in[2], 255);
      break;
    case PIXFMT_BGRA32:
      for (int32_t i = 0; i < count; ++i, in += 4) put(in[2], in[1], in[0], in[3]);
      break;
    case PIXFMT_RGBA32:
      if (count > 0) std::memmove(out, in, std::size_t(count) * 4);
      break;
    // The single-channel formats get alpha 1, not 255.
    case PIXFMT_R8:
      for (int32_t i = 0; i < count; ++i, ++in) put(*in, 0, 0, 1);
      break;
    case PIXFMT_G8:
      for (int32_t i = 0; i < count; ++i, ++in) put(0, *in, 0, 1);
      break;
    case PIXFMT_B8:
      for (int32_t i = 0; i < count; ++i, ++in) put(0, 0, *in, 1);
      break;
    case PIXFMT_BLACK_A8:
      for (int32_t i = 0; i < count; ++i, ++in) put(0, 0, 0, *in);
      break;
    case PIXFMT_INTENSITY8:
      for (int32_t i = 0; i < count; ++i, ++in) put(*in, *in, *in, *in);
      break;
    case PIXFMT_LUMINANCE8:
      for (int32_t i = 0; i < count; ++i, ++in) put(*in, *in, *in, 1);
      break;
    default:
      break;
  }
}

void PackFromRGBA(const uint8_t* in, uint8_t* out, int32_t outFormat, int32_t count) {
  switch (outFormat) {
    case PIXFMT_GREY8:
    case PIXFMT_LUMINANCE8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = uint8_t((in[0] + in[1] + in[2]) / 3);
      break;
    case PIXFMT_A8:
    case PIXFMT_BLACK_A8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = in[3];
      break;
    case PIXFMT_BGR24:
      for (int32_t i = 0; i < count; ++i, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
      break;
    case PIXFMT_RGB24:
      for (int32_t i = 0; i < count; ++i, in += 4, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
      break;
    case PIXFMT_BGRA32:
      for (int32_t i = 0; i < count; ++i, in += 4, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = in[3];
      }
      break;
    case PIXFMT_RGBA32:
      if (count > 0) std::memmove(out, in, std::size_t(count) * 4);
      break;
    case PIXFMT_R8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = in[0];
      break;
    case PIXFMT_G8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = in[1];
      break;
    case PIXFMT_B8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = in[2];
      break;
    case PIXFMT_INTENSITY8:
      for (int32_t i = 0; i < count; ++i, in += 4) *out++ = uint8_t((in[0] + in[1] + in[2] + in[3]) / 4);
      break;
    default:
      break;
  }
}

void ConvertPixels(const uint8_t* in, int32_t inFormat, uint8_t* out, int32_t outFormat, int32_t count) {
  if (count <= 0 || !IsPixelFormat(inFormat) || !IsPixelFormat(outFormat)) return;
  if (inFormat == outFormat) return CopyPixels(in, out, inFormat, count);
  if (inFormat == PIXFMT_RGBA32) return PackFromRGBA(in, out, outFormat, count);
  if (outFormat == PIXFMT_RGBA32) return ExpandToRGBA(in, out, inFormat, count);
  // Through RGBA32, a bounded chunk at a time so long rows need no large buffer.
  constexpr int32_t kChunk = 1024;
  uint8_t rgba[kChunk * 4];
  while (count > 0) {
    int32_t n = count < kChunk ? count : kChunk;
    std::memset(rgba, 0, std::size_t(n) * 4);
    ExpandToRGBA(in, rgba, inFormat, n);
    PackFromRGBA(rgba, out, outFormat, n);
    in += std::size_t(n) * std::size_t(PixelBytes[inFormat]);
    out += std::size_t(n) * std::size_t(PixelBytes[outFormat]);
    count -= n;
  }
}

}  // namespace vrl

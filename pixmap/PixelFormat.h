// Pixel formats and the run converters that move rows of pixels between
// them. Every format stores whole bytes per pixel, byte by byte in the order
// its name gives, so layouts do not depend on the machine's byte order.
// Conversions between two formats pass through PIXFMT_RGBA32.
#pragma once

#include <cstdint>

namespace vrl {

inline constexpr int32_t PIXFMT_GREY8 = 1;
inline constexpr int32_t PIXFMT_A8 = 2;
inline constexpr int32_t PIXFMT_BGR24 = 3;
inline constexpr int32_t PIXFMT_RGB24 = 4;
inline constexpr int32_t PIXFMT_BGRA32 = 5;
inline constexpr int32_t PIXFMT_RGBA32 = 6;
inline constexpr int32_t PIXFMT_R8 = 7;
inline constexpr int32_t PIXFMT_G8 = 8;
inline constexpr int32_t PIXFMT_B8 = 9;
inline constexpr int32_t PIXFMT_BLACK_A8 = 10;
inline constexpr int32_t PIXFMT_INTENSITY8 = 11;
inline constexpr int32_t PIXFMT_LUMINANCE8 = 12;
inline constexpr int32_t kPixelFormatCount = 13;  // 0 (no format) to 12

/// Format tables, indexed by format 0 to 12.
extern const int32_t PixelBytes[kPixelFormatCount];
extern const int32_t RedBits[kPixelFormatCount];
extern const int32_t GreenBits[kPixelFormatCount];
extern const int32_t BlueBits[kPixelFormatCount];
extern const int32_t AlphaBits[kPixelFormatCount];
extern const int32_t IntensityBits[kPixelFormatCount];
extern const int32_t LuminanceBits[kPixelFormatCount];
extern const int32_t PixelBits[kPixelFormatCount];
extern const int32_t ColourBits[kPixelFormatCount];

inline bool IsPixelFormat(int32_t format) { return format >= 1 && format < kPixelFormatCount; }

/// Copies count pixels of one format.
void CopyPixels(const uint8_t* in, uint8_t* out, int32_t format, int32_t count);
/// Converts count pixels; equal formats copy.
void ConvertPixels(const uint8_t* in, int32_t inFormat, uint8_t* out, int32_t outFormat, int32_t count);
/// Writes count RGBA32 pixels from pixels of `inFormat`.
void ExpandToRGBA(const uint8_t* in, uint8_t* out, int32_t inFormat, int32_t count);
/// Writes count pixels of `outFormat` from RGBA32 pixels.
void PackFromRGBA(const uint8_t* in, uint8_t* out, int32_t outFormat, int32_t count);

}  // namespace vrl

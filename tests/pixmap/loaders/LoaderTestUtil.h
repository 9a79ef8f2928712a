// Helpers for the loader tests: little-endian byte builders, memory streams
// over them, streams that fail on demand, and direct libpng/libjpeg codecs
// that the loaders' results are compared with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pixmap/Pixmap.h"
#include "stream/RamStream.h"

namespace vrl::test {

struct Bytes {
  std::vector<uint8_t> v;
  Bytes& U8(int value) {
    v.push_back(uint8_t(value));
    return *this;
  }
  Bytes& U16(int value) { return U8(value).U8(value >> 8); }
  Bytes& U32(int64_t value) { return U16(int(value & 0xFFFF)).U16(int((value >> 16) & 0xFFFF)); }
  Bytes& Fill(int value, int count) {
    v.insert(v.end(), std::size_t(count), uint8_t(value));
    return *this;
  }
  Bytes& Raw(const std::vector<uint8_t>& more) {
    v.insert(v.end(), more.begin(), more.end());
    return *this;
  }
};

// A memory stream that counts Close calls, can make Read throw a
// TRuntimeException once `throwAfter` bytes have been read (-1: never), can
// make Close throw one ("probe close failure"), and can hide its size (Size
// 0, as streams that do not know their length report it), so a loader has
// only the absolute limits to go by.
class TProbeStream : public TRamStream {
  VRL_CLASS(TProbeStream, TRamStream)
  int32_t Read(void* buf, int32_t count) override;
  std::span<const uint8_t> PeekBuffered() override { return {}; }  // every byte through Read
  int32_t Close() override;
  int32_t Size() override { return unsized ? 0 : TRamStream::Size(); }
  static Ref<TProbeStream> Over(std::vector<uint8_t>& bytes, int32_t throwAfter = -1);
  static Ref<TProbeStream> Unsized(std::vector<uint8_t>& bytes);

  int32_t closes = 0;
  int32_t throwAfter = -1;
  bool closeThrows = false;
  bool unsized = false;
};

// A read-only stream over the bytes (which must outlive it).
Ref<TRamStream> Over(std::vector<uint8_t>& bytes);

inline uint32_t Pixel(TPixmap* pixmap, int32_t x, int32_t y) { return uint32_t(pixmap->ReadPixel(x, y)); }

// The pixel bytes, rows packed (no padding), top row first.
std::vector<uint8_t> PackedPixels(TPixmap* pixmap);

std::vector<uint8_t> ReadFile(const std::string& path);

// A PNG written by libpng: `rows` holds height rows of packed samples in the
// file's own layout (bit depth and colour type as given).
struct PngPicture {
  int width = 1, height = 1, bitDepth = 8, colourType = 0;
  bool interlaced = false;
  std::vector<uint8_t> palette;  // R, G, B triples
  std::vector<uint8_t> trns;     // palette alphas
  std::vector<uint8_t> rows;
};
std::vector<uint8_t> EncodePng(const PngPicture& picture);
// libpng's own decode to 8-bit RGBA (its simplified reader), packed rows.
std::vector<uint8_t> DecodePngRgba(const std::vector<uint8_t>& file, int* width, int* height);

// A JPEG written by libjpeg from packed samples of `components` channels in
// `space` (a J_COLOR_SPACE value).
std::vector<uint8_t> EncodeJpeg(int width, int height, int components, int space,
                                const std::vector<uint8_t>& samples, int quality, bool progressive = false);
// libjpeg's own decode with default parameters: packed rows.
std::vector<uint8_t> DecodeJpeg(const std::vector<uint8_t>& file, int* width, int* height, int* components);

// A smooth test picture of `channels` bytes a pixel.
std::vector<uint8_t> Gradient(int width, int height, int channels);

void InitLoaders();

// The registered instance of a loader class (constructing another one would
// add it to the chain).
template <class T>
T* RegisteredLoader() {
  for (TPixmapLoader* l = PixmapLoaders(); l; l = l->Next()) {
    if (T* loader = CastRaw<T>(l)) return loader;
  }
  return nullptr;
}

}  // namespace vrl::test

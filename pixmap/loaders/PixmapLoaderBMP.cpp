#include "pixmap/loaders/PixmapLoaderBMP.h"

#include <cstring>
#include <vector>

#include "pixmap/loaders/PictureLimits.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& TPixmapLoaderBMP::StaticClass() {
  static const ClassRecord record =
      ClassRecord::Of<TPixmapLoaderBMP>("TPixmapLoaderBMP", [](auto& d) {
        d.template Method<&TPixmapLoaderBMP::LoadPixmap>("LoadPixmap");
      });
  return record;
}

void bmploader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  pixmap::Init();
  vrRegisterClass(TPixmapLoaderBMP::StaticClass());
  New<TPixmapLoaderBMP>();  // the chain keeps it
}

namespace {

// File rows are padded to a multiple of 4 bytes.
inline int64_t PaddedRow(int64_t bytes) { return (bytes + 3) & ~int64_t(3); }

}  // namespace

Ref<TPixmap> TPixmapLoaderBMP::LoadPixmap(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  uint8_t magic[2];
  if (ReadUpTo(stream, magic, 2) < 2 || magic[0] != 'B' || magic[1] != 'M') return {};
  stream->ReadInt();  // file size
  stream->ReadInt();  // the two reserved words
  stream->ReadInt();  // pixel data offset
  stream->ReadInt();  // info header size
  const int32_t width = stream->ReadInt();
  const int32_t height = stream->ReadInt();
  stream->ReadShort();  // planes
  const int32_t bits = stream->ReadShort();
  stream->ReadInt();  // compression
  stream->ReadInt();  // image size
  stream->ReadInt();  // horizontal resolution
  stream->ReadInt();  // vertical resolution
  const int32_t coloursUsed = stream->ReadInt();
  stream->ReadInt();  // important colours

  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};
  if (!PictureSizeAllowed(width, height)) return {};
  // Only the palette bit counts have a colour count; 1 << bits is taken for
  // those alone (for 24 or 32 bits it would be meaningless or undefined).
  int32_t colours = 0;
  if (bits == 4 || bits == 8) {
    colours = coloursUsed != 0 ? coloursUsed : 1 << bits;
    if (colours < 0 || colours > 1 << bits) return {};
  }

  const int32_t format = bits == 32 ? PIXFMT_BGRA32 : PIXFMT_BGR24;
  Ref<TPixmap> pixmap = TPixmap::Create(width, height, format, 4);

  // The palette: entries of B, G, R, x; unused entries stay black.
  uint8_t palette[256 * 4] = {};
  if (bits == 1) {
    stream->ReadBytes(palette, 8);
  } else if (bits == 4 || bits == 8) {
    stream->ReadBytes(palette, colours * 4);
  }

  int64_t unpadded = 0;
  switch (bits) {
    case 1: unpadded = (int64_t(width) + 7) / 8; break;
    case 4: unpadded = (int64_t(width) + 1) / 2; break;
    case 8: unpadded = width; break;
    case 24: unpadded = int64_t(width) * 3; break;
    default: unpadded = int64_t(width) * 4; break;
  }
  std::vector<uint8_t> file(std::size_t(PaddedRow(unpadded)));
  std::vector<uint8_t> row;
  if (bits <= 8) row.resize(std::size_t(width) * 4);

  for (int32_t r = 0; r < height; ++r) {
    stream->ReadBytes(file.data(), int32_t(file.size()));
    uint8_t* out = pixmap->PixelPtr(0, height - 1 - r);
    switch (bits) {
      case 1:
        // Set bits take the second entry; only B, G, R of an entry count.
        for (int32_t i = 0; i < width; ++i) {
          const uint8_t* entry = file[std::size_t(i) >> 3] & (0x80 >> (i & 7)) ? palette + 4 : palette;
          std::memcpy(&row[std::size_t(i) * 3], entry, 3);
        }
        ConvertPixels(row.data(), PIXFMT_BGR24, out, format, width);
        break;
      case 4:
        for (int32_t i = 0; i < width; ++i) {
          uint8_t b = file[std::size_t(i) >> 1];
          std::memcpy(&row[std::size_t(i) * 4], palette + 4 * ((i & 1) ? b & 15 : b >> 4), 4);
        }
        ConvertPixels(row.data(), PIXFMT_BGRA32, out, format, width);
        break;
      case 8:
        for (int32_t i = 0; i < width; ++i) {
          std::memcpy(&row[std::size_t(i) * 4], palette + 4 * file[std::size_t(i)], 4);
        }
        ConvertPixels(row.data(), PIXFMT_BGRA32, out, format, width);
        break;
      case 24:
        ConvertPixels(file.data(), PIXFMT_BGR24, out, format, width);
        break;
      default:
        ConvertPixels(file.data(), PIXFMT_BGRA32, out, format, width);
        break;
    }
  }
  return pixmap;
}

}  // namespace vrl

#include "pixmap/loaders/PixmapLoaderTGA.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pixmap/loaders/PictureLimits.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& tgahdr::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<tgahdr>("tgahdr", [](auto& d) {
    d.template Field<&tgahdr::idlen>("idlen");
    d.template Field<&tgahdr::colourmaptype>("colourmaptype");
    d.template Field<&tgahdr::imgtype>("imgtype");
    d.template Field<&tgahdr::indexlo>("indexlo");
    d.template Field<&tgahdr::indexhi>("indexhi");
    d.template Field<&tgahdr::lenlo>("lenlo");
    d.template Field<&tgahdr::lenhi>("lenhi");
    d.template Field<&tgahdr::cosize>("cosize");
    d.template Field<&tgahdr::x0>("x0");
    d.template Field<&tgahdr::y0>("y0");
    d.template Field<&tgahdr::width>("width");
    d.template Field<&tgahdr::height>("height");
    d.template Field<&tgahdr::psize>("psize");
    d.template Field<&tgahdr::attbits>("attbits");
  });
  return record;
}

const ClassRecord& TPixmapLoaderTGA::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmapLoaderTGA>(
      "TPixmapLoaderTGA", [](auto& d) { d.template Method<&TPixmapLoaderTGA::LoadPixmap>("LoadPixmap"); });
  return record;
}

void tgaloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  pixmap::Init();
  vrRegisterClass(tgahdr::StaticClass());
  vrRegisterClass(TPixmapLoaderTGA::StaticClass());
  New<TPixmapLoaderTGA>();  // the chain keeps it
}

namespace {

constexpr int32_t kMaxTgaSide = limits::kTgaSide;

// One pixel of a 15- or 16-bit file as B, G, R, A bytes.
inline void Put16(uint8_t* out, uint32_t v, bool alphaBit) {
  out[0] = uint8_t((v << 3) & 0xF8);
  out[1] = uint8_t((v >> 2) & 0xF8);
  out[2] = uint8_t((v >> 7) & 0xF8);
  out[3] = alphaBit && (v & 0x8000) ? 0 : 255;
}

// Expands `count` packed file pixels of `bytes` bytes each into B, G, R, A.
void Expand(const uint8_t* in, uint8_t* out, int32_t count, int32_t psize) {
  switch (psize) {
    case 15:
    case 16:
      for (int32_t i = 0; i < count; ++i, in += 2, out += 4) {
        Put16(out, uint32_t(in[0]) | uint32_t(in[1]) << 8, psize == 16);
      }
      break;
    case 24:
      for (int32_t i = 0; i < count; ++i, in += 3, out += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 255;
      }
      break;
    default:
      std::memcpy(out, in, std::size_t(count) * 4);
      break;
  }
}

}  // namespace

Ref<TPixmap> TPixmapLoaderTGA::LoadPixmap(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  Ref<tgahdr> hdr = New<tgahdr>();
  uint8_t head[8];
  if (ReadUpTo(stream, head, 8) < 8) return {};
  hdr->idlen = head[0];
  hdr->colourmaptype = head[1];
  hdr->imgtype = head[2];
  hdr->indexlo = head[3];
  hdr->indexhi = head[4];
  hdr->lenlo = head[5];
  hdr->lenhi = head[6];
  hdr->cosize = head[7];
  hdr->x0 = uint16_t(stream->ReadShort());
  hdr->y0 = uint16_t(stream->ReadShort());
  hdr->width = uint16_t(stream->ReadShort());
  hdr->height = uint16_t(stream->ReadShort());
  hdr->psize = uint8_t(stream->ReadByte());
  hdr->attbits = uint8_t(stream->ReadByte());

  const int32_t psize = hdr->psize, width = hdr->width, height = hdr->height;
  if (hdr->colourmaptype != 0) return {};
  // Type 1 (colour-mapped) would need the colour map this loader never
  // reads: refuse it rather than hand back unwritten pixels.
  if (hdr->imgtype != 2 && hdr->imgtype != 10) return {};
  if (psize != 15 && psize != 16 && psize != 24 && psize != 32) return {};
  if (width < 1 || width > kMaxTgaSide || height < 1 || height > kMaxTgaSide) return {};
  const int32_t bytes = (psize + 7) / 8;
  // The pixels must be able to come out of what follows the identification
  // field: stored rows byte for byte, run-length rows at the packets' ratio.
  int64_t bytesLeft = StreamBytesLeft(stream);
  if (bytesLeft >= 0) {
    bytesLeft -= hdr->idlen;
    if (bytesLeft < 0) return {};
  }
  if (!StreamCanCarry(bytesLeft, int64_t(width) * height * bytes,
                      hdr->imgtype == 2 ? kStoredRatio : kRunLengthRatio)) {
    return {};
  }
  // Bit 5 of the attribute byte puts the first row at the top, bit 4 the
  // first pixel of a row at the right; the usual file has neither.
  const bool topFirst = (hdr->attbits & 0x20) != 0;
  const bool rightFirst = (hdr->attbits & 0x10) != 0;

  const int32_t format = psize == 16 || psize == 32 ? PIXFMT_RGBA32 : PIXFMT_RGB24;
  Ref<TPixmap> pixmap = TPixmap::Create(width, height, format, 4);

  uint8_t skip[256];
  stream->ReadBytes(skip, hdr->idlen);

  std::vector<uint8_t> row(std::size_t(width) * 4);  // B, G, R, A: format 5
  std::vector<uint8_t> packed(std::size_t(width) * std::size_t(bytes));
  for (int32_t r = 0; r < height; ++r) {
    if (hdr->imgtype == 2) {
      stream->ReadBytes(packed.data(), width * bytes);
      Expand(packed.data(), row.data(), width, psize);
    } else {
      int32_t x = 0;
      while (x < width) {
        int32_t n = stream->ReadByte();
        int32_t count = (n & 0x7F) + 1;
        // The row buffer holds one row: a packet that runs past its end is
        // corrupt data, not something to carry into the next row.
        if (count > width - x) return {};
        if (n & 0x80) {
          uint8_t value[4];
          stream->ReadBytes(value, bytes);
          uint8_t pixel[4];
          Expand(value, pixel, 1, psize);
          for (int32_t i = 0; i < count; ++i) std::memcpy(&row[std::size_t(x + i) * 4], pixel, 4);
        } else if (psize == 32) {
          stream->ReadBytes(&row[std::size_t(x) * 4], count * 4);
        } else {
          stream->ReadBytes(packed.data(), count * bytes);
          Expand(packed.data(), &row[std::size_t(x) * 4], count, psize);
        }
        x += count;
      }
    }
    if (rightFirst) {
      for (int32_t i = 0, j = width - 1; i < j; ++i, --j) {
        uint8_t* left = &row[std::size_t(i) * 4];
        std::swap_ranges(left, left + 4, &row[std::size_t(j) * 4]);
      }
    }
    ConvertPixels(row.data(), PIXFMT_BGRA32, pixmap->PixelPtr(0, topFirst ? r : height - 1 - r), format,
                  width);
  }
  return pixmap;
}

}  // namespace vrl

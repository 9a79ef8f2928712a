#include "pixmap/loaders/PixmapLoaderBMP.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "pixmap/loaders/PictureLimits.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "stream/Stream.h"

namespace vrl {

const ClassRecord& TPixmapLoaderBMP::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmapLoaderBMP>(
      "TPixmapLoaderBMP", [](auto& d) { d.template Method<&TPixmapLoaderBMP::LoadPixmap>("LoadPixmap"); });
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

// Compression codes of the info header.
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
// The OS/2 2.x header: the 40-byte layout and 24 bytes of its own. Its
// compression codes 3 and 4 are Huffman and 24-bit run-length coding, not
// bit fields.
constexpr uint32_t kOs2HeaderBytes = 64;
// The largest header in use is V5's 124 bytes; far larger sizes are not
// headers.
constexpr uint32_t kMaxInfoHeaderBytes = limits::kBmpInfoHeaderBytes;

// File rows are padded to a multiple of 4 bytes.
inline int64_t PaddedRow(int64_t bytes) { return (bytes + 3) & ~int64_t(3); }

// The byte of a 32-bit pixel that a mask selects: 0 to 3 for 0xFF, 0xFF00,
// 0xFF0000 or 0xFF000000; -1 for any other mask.
int32_t MaskByte(uint32_t mask) {
  for (int32_t i = 0; i < 4; ++i) {
    if (mask == uint32_t(0xFF) << (8 * i)) return i;
  }
  return -1;
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The run-length decoder's bytes, pulled from the stream in blocks. The
// stream ending before the picture does raises TStreamReadException.
class ByteSource {
 public:
  explicit ByteSource(TStream* stream) : _stream(stream) {}
  uint8_t Next() {
    if (_pos == _end) {
      _end = ReadUpTo(_stream, _buffer, int32_t(sizeof _buffer));
      _pos = 0;
      if (_end == 0) ThrowStreamReadException();
    }
    return _buffer[_pos++];
  }

 private:
  TStream* _stream;
  uint8_t _buffer[4096] = {};
  int32_t _pos = 0;
  int32_t _end = 0;
};

// Decodes RLE8 (bits 8) or RLE4 (bits 4) data into a format-3 pixmap whose
// pixels all hold palette entry 0, the colour of whatever the data skips.
// File rows run bottom up. False for a run, literal or delta that would
// leave the picture.
bool DecodeRunLength(ByteSource& in, int32_t bits, const uint8_t* palette, TPixmap* pixmap) {
  const int32_t width = pixmap->width, height = pixmap->height;
  int32_t x = 0, r = 0;
  auto put = [&](int32_t index) {
    std::memcpy(pixmap->PixelPtr(x++, height - 1 - r), palette + std::size_t(4) * std::size_t(index), 3);
  };
  while (r < height) {
    const int32_t n = in.Next(), c = in.Next();
    if (n > 0) {
      // A run of n pixels; RLE4 alternates the two nibbles, high first.
      if (n > width - x) return false;
      for (int32_t i = 0; i < n; ++i) put(bits == 8 ? c : (i & 1) ? c & 15 : c >> 4);
    } else if (c == 0) {
      x = 0;
      ++r;
    } else if (c == 1) {
      break;
    } else if (c == 2) {
      const int32_t dx = in.Next(), dy = in.Next();
      if (dx > width - x || dy >= height - r) return false;
      x += dx;
      r += dy;
    } else {
      // c literal pixels, in bytes padded to an even count.
      if (c > width - x) return false;
      const int32_t bytes = bits == 8 ? c : (c + 1) / 2;
      for (int32_t i = 0; i < bytes; ++i) {
        const int32_t b = in.Next();
        if (bits == 8) {
          put(b);
        } else {
          put(b >> 4);
          if (2 * i + 1 < c) put(b & 15);
        }
      }
      if (bytes & 1) in.Next();
    }
  }
  return true;
}

}  // namespace

Ref<TPixmap> TPixmapLoaderBMP::LoadPixmap(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  // Offsets in the file count from the "B" of "BM".
  const int64_t fileBytes = StreamBytesLeft(stream);
  uint8_t magic[2];
  if (ReadUpTo(stream, magic, 2) < 2 || magic[0] != 'B' || magic[1] != 'M') return {};
  stream->ReadInt();  // file size
  stream->ReadInt();  // the two reserved words
  const uint32_t dataOffset = uint32_t(stream->ReadInt());
  const uint32_t infoSize = uint32_t(stream->ReadInt());
  const int32_t width = stream->ReadInt();
  const int32_t storedHeight = stream->ReadInt();
  stream->ReadShort();  // planes
  const int32_t bits = stream->ReadShort();
  const uint32_t compression = uint32_t(stream->ReadInt());
  stream->ReadInt();  // image size
  stream->ReadInt();  // horizontal resolution
  stream->ReadInt();  // vertical resolution
  const int32_t coloursUsed = stream->ReadInt();
  stream->ReadInt();  // important colours

  // Every header from Windows' 40 bytes on starts with the fields above;
  // the smaller OS/2 headers lay them out otherwise.
  if (infoSize < kInfoHeaderBytes || infoSize > kMaxInfoHeaderBytes) return {};
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};
  const bool os2 = infoSize == kOs2HeaderBytes;
  const bool bitFields = compression == kBitFields && !os2;
  const bool runLength = compression == kRle8 || compression == kRle4;
  // Other compressions (embedded JPEG or PNG, OS/2 Huffman coding, ...)
  // have no decoder here: their bytes are not pixels.
  if (compression != kRgb && !runLength && !bitFields) return {};
  if ((compression == kRle8 && bits != 8) || (compression == kRle4 && bits != 4)) return {};
  if (bitFields && bits != 32) return {};
  // A negative height stores the rows top first; run-length data is always
  // bottom up.
  const bool topFirst = storedHeight < 0;
  if (topFirst && runLength) return {};
  const int64_t height = topFirst ? -int64_t(storedHeight) : storedHeight;
  if (!PictureSizeAllowed(width, height)) return {};

  // What follows the 40 bytes: in V2 and later headers, the red, green and
  // blue masks and (V3 on) the alpha mask; the rest is skipped.
  uint8_t masks[16] = {};
  uint32_t maskBytes = 0;
  const uint32_t extension = infoSize - kInfoHeaderBytes;
  const uint32_t inHeader = extension < 16 ? extension : 16;
  stream->ReadBytes(masks, int32_t(inHeader));
  stream->SkipBytes(int32_t(extension - inHeader));
  if (bitFields && infoSize == kInfoHeaderBytes) {
    // The 40-byte header keeps its three masks just after it.
    maskBytes = 12;
    stream->ReadBytes(masks, 12);
  }
  // The stored byte of B, G, R and A; -1 for an alpha the file does not
  // store.
  int32_t channel[4] = {0, 1, 2, 3};
  if (bitFields) {
    const uint32_t alphaMask = Le32(masks + 12);
    channel[0] = MaskByte(Le32(masks + 8));
    channel[1] = MaskByte(Le32(masks + 4));
    channel[2] = MaskByte(Le32(masks));
    channel[3] = alphaMask == 0 ? -1 : MaskByte(alphaMask);
    if (channel[0] < 0 || channel[1] < 0 || channel[2] < 0) return {};
    if (alphaMask != 0 && channel[3] < 0) return {};
    for (int32_t i = 0; i < 4; ++i) {
      for (int32_t j = i + 1; j < 4; ++j) {
        if (channel[i] >= 0 && channel[i] == channel[j]) return {};
      }
    }
  }

  // Only the palette bit counts have a colour count; 1 << bits is taken for
  // those alone (for 24 or 32 bits it would be meaningless or undefined).
  int32_t colours = 0;
  if (bits == 4 || bits == 8) {
    colours = coloursUsed != 0 ? coloursUsed : 1 << bits;
    if (colours < 0 || colours > 1 << bits) return {};
  } else if (bits == 1) {
    colours = 2;
  }
  // The palette follows the header, the rows start at the file's pixel data
  // offset; a palette longer than the room between them is cut there. An
  // offset inside the header, or one that leaves no room for a palette the
  // picture needs, is not a real one (some writers leave it 0 or a
  // constant): the rows then follow the whole palette.
  const int64_t paletteStart = int64_t(kFileHeaderBytes) + infoSize + maskBytes;
  int64_t dataStart = paletteStart + 4 * int64_t(colours);
  if (dataOffset > paletteStart || (dataOffset == paletteStart && colours == 0)) {
    colours = int32_t(std::min<int64_t>(colours, (dataOffset - paletteStart) / 4));
    dataStart = dataOffset;
  }
  const int64_t gap = dataStart - paletteStart - 4 * int64_t(colours);
  if (gap > std::numeric_limits<int32_t>::max()) return {};

  int64_t unpadded = 0;
  switch (bits) {
    case 1:
      unpadded = (int64_t(width) + 7) / 8;
      break;
    case 4:
      unpadded = (int64_t(width) + 1) / 2;
      break;
    case 8:
      unpadded = width;
      break;
    case 24:
      unpadded = int64_t(width) * 3;
      break;
    default:
      unpadded = int64_t(width) * 4;
      break;
  }
  // Refuse what the stream cannot hold before allocating for it: stored rows
  // byte for byte, run-length data at its packets' ratio (in pixels).
  const int64_t dataBytes = fileBytes < 0 ? -1 : fileBytes - dataStart;
  if (fileBytes >= 0 && dataBytes < 0) return {};
  if (!(runLength ? StreamCanCarry(dataBytes, int64_t(width) * height, kRunLengthRatio)
                  : StreamCanCarry(dataBytes, PaddedRow(unpadded) * height, kStoredRatio))) {
    return {};
  }

  // The palette: entries of B, G, R, x; unused entries stay black.
  uint8_t palette[256 * 4] = {};
  stream->ReadBytes(palette, 4 * colours);
  stream->SkipBytes(int32_t(gap));

  const int32_t rows = int32_t(height);
  const int32_t format = bits == 32 ? PIXFMT_BGRA32 : PIXFMT_BGR24;
  Ref<TPixmap> pixmap = TPixmap::Create(width, rows, format, 4);
  if (runLength) {
    for (int32_t y = 0; y < rows; ++y) {
      for (int32_t x = 0; x < width; ++x) std::memcpy(pixmap->PixelPtr(x, y), palette, 3);
    }
    ByteSource source(stream);
    if (!DecodeRunLength(source, bits, palette, pixmap)) return {};
    return pixmap;
  }

  std::vector<uint8_t> file(std::size_t(PaddedRow(unpadded)));
  std::vector<uint8_t> row;
  if (bits <= 8) row.resize(std::size_t(width) * 4);
  bool anyAlpha = false;
  for (int32_t r = 0; r < rows; ++r) {
    stream->ReadBytes(file.data(), int32_t(file.size()));
    uint8_t* out = pixmap->PixelPtr(0, topFirst ? r : rows - 1 - r);
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
          std::memcpy(&row[std::size_t(i) * 4], palette + std::size_t(4) * ((i & 1) ? b & 15 : b >> 4), 4);
        }
        ConvertPixels(row.data(), PIXFMT_BGRA32, out, format, width);
        break;
      case 8:
        for (int32_t i = 0; i < width; ++i) {
          std::memcpy(&row[std::size_t(i) * 4], palette + std::size_t(4) * file[std::size_t(i)], 4);
        }
        ConvertPixels(row.data(), PIXFMT_BGRA32, out, format, width);
        break;
      case 24:
        ConvertPixels(file.data(), PIXFMT_BGR24, out, format, width);
        break;
      default:
        for (int32_t i = 0; i < width; ++i, out += 4) {
          const uint8_t* in = &file[std::size_t(i) * 4];
          for (int32_t c = 0; c < 3; ++c) out[c] = in[channel[c]];
          out[3] = channel[3] < 0 ? 255 : in[channel[3]];
          anyAlpha = anyAlpha || out[3] != 0;
        }
        break;
    }
  }
  // A 32-bit file whose alpha bytes are all 0 comes from a writer that does
  // not fill them: it is meant opaque, not invisible.
  if (bits == 32 && !bitFields && !anyAlpha) {
    for (int32_t y = 0; y < rows; ++y) {
      uint8_t* out = pixmap->PixelPtr(0, y);
      for (int32_t x = 0; x < width; ++x) out[std::size_t(x) * 4 + 3] = 255;
    }
  }
  return pixmap;
}

}  // namespace vrl

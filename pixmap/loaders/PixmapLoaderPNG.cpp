#include "pixmap/loaders/PixmapLoaderPNG.h"

#include <png.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "pixmap/loaders/PictureLimits.h"
#include "runtime/CallbackTrap.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Limits.h"
#include "runtime/Runtime.h"
#include "stream/AtomicFile.h"
#include "stream/Stream.h"
#include "stream/StreamCloser.h"

namespace vrl {

const ClassRecord& TPixmapLoaderPNG::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmapLoaderPNG>(
      "TPixmapLoaderPNG", [](auto& d) { d.template Method<&TPixmapLoaderPNG::LoadPixmap>("LoadPixmap"); });
  return record;
}

void pngloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  pixmap::Init();
  vrRegisterClass(TPixmapLoaderPNG::StaticClass());
  New<TPixmapLoaderPNG>();  // the chain keeps it
}

Ref<TPixmap> TPixmapLoaderPNG::LoadPixmap(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  return LoadPixmapPNG(stream);
}

namespace {

// Everything one libpng run needs. It lives in the caller's frame, outside
// the function that sets the jump target, so nothing with a destructor is
// skipped by libpng's long jump.
struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  bool writing = false;
  TStream* stream = nullptr;
  // The stream's bytes after the signature; -1 when unknown.
  int64_t bytesLeft = -1;
  // A throw caught inside a callback, raised again after clean-up.
  CallbackTrap trap;
  Ref<TPixmap> pixmap;
  std::vector<png_bytep> rows;

  ~PngJob() { Destroy(); }
  void Destroy() {
    if (!png) return;
    if (writing) {
      png_destroy_write_struct(&png, info ? &info : nullptr);
    } else {
      png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    png = nullptr;
    info = nullptr;
  }
};

// libpng's fatal-error handler must not return: back to the job's jump
// target (its default would print the message first).
[[noreturn]] void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnPngWarning(png_structp, png_const_charp) {}

// libpng's allocations for a picture being read. A chunk's buffer is
// allocated for the length the chunk claims before a byte of it is read, and
// this libpng's own chunk limit covers only the picture data, so every block
// above the chunk limit is refused here: libpng then skips the chunk (an
// ancillary one) or gives up on the picture.
png_voidp OnPngMalloc(png_structp, png_alloc_size_t size) {
  return size > png_alloc_size_t(limits::kPngChunkBytes) ? nullptr : std::malloc(size);
}
void OnPngFree(png_structp, png_voidp block) { std::free(block); }

void OnPngRead(png_structp png, png_bytep data, size_t length) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  const bool read = job->trap.Run([&] {
    if (length > size_t(INT32_MAX)) ThrowStreamReadException();
    job->stream->ReadBytes(data, int32_t(length));
  });
  if (!read) png_error(png, "stream");
}

void OnPngWrite(png_structp png, png_bytep data, size_t length) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  const bool written = job->trap.Run([&] {
    if (length > size_t(INT32_MAX)) ThrowStreamWriteException();
    job->stream->WriteBytes(data, int32_t(length));
  });
  if (!written) png_error(png, "stream");
}

void OnPngFlush(png_structp png) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  int32_t result = -1;
  job->trap.Run([&] { result = job->stream->Flush(); });
  if (result != 0) png_error(png, "flush");
}

// Grey-with-alpha rows become RGBA in place, last pixel first, so no source
// byte is overwritten before it is read (the pixmap's rows hold 4 bytes a
// pixel).
void ExpandGreyAlpha(uint8_t* row, int32_t width) {
  for (int32_t i = width - 1; i >= 0; --i) {
    const uint8_t* in = row + std::size_t(i) * 2;
    uint8_t* out = row + std::size_t(i) * 4;
    const uint8_t g = in[0], a = in[1];
    out[0] = g;
    out[1] = g;
    out[2] = g;
    out[3] = a;
  }
}

// Decodes into job->pixmap. False on any libpng error or a picture this
// reader refuses. Only the job is used after the jump target is set.
bool DecodePng(PngJob* job) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_sig_bytes(job->png, 8);
  // libpng checks the sides against these as it reads the header.
  png_set_user_limits(job->png, png_uint_32(kMaxPictureSide), png_uint_32(kMaxPictureSide));
  // And the text it decompresses against this (see OnPngMalloc).
  png_set_chunk_malloc_max(job->png, png_alloc_size_t(limits::kPngChunkBytes));
  png_read_info(job->png, job->info);
  const png_uint_32 width = png_get_image_width(job->png, job->info);
  const png_uint_32 height = png_get_image_height(job->png, job->info);
  if (!PictureSizeAllowed(width, height)) return false;
  // The filtered rows as stored (a filter byte and the packed samples per
  // row; interlacing only adds to it) must be able to come out of what the
  // stream holds.
  const int64_t storedRow =
      (int64_t(width) * png_get_channels(job->png, job->info) * png_get_bit_depth(job->png, job->info) + 7) /
      8;
  if (!StreamCanCarry(job->bytesLeft, (storedRow + 1) * height, kDeflateRatio)) return false;

  png_set_strip_16(job->png);
  png_set_expand(job->png);
  png_set_interlace_handling(job->png);
  png_read_update_info(job->png, job->info);

  if (png_get_bit_depth(job->png, job->info) != 8) return false;
  const int colourType = png_get_color_type(job->png, job->info);
  int32_t format = 0;
  int32_t channels = 0;
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
      format = PIXFMT_GREY8;
      channels = 1;
      break;
    case PNG_COLOR_TYPE_RGB:
      format = PIXFMT_RGB24;
      channels = 3;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      format = PIXFMT_RGBA32;
      channels = 4;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      format = PIXFMT_RGBA32;
      channels = 2;
      break;
    default:
      return false;
  }
  job->pixmap = TPixmap::Create(int32_t(width), int32_t(height), format, 4);
  // libpng writes rowbytes into each row: make sure they fit.
  if (png_get_rowbytes(job->png, job->info) != size_t(width) * size_t(channels)) return false;
  job->rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) job->rows[y] = job->pixmap->PixelPtr(0, int32_t(y));
  png_read_image(job->png, job->rows.data());
  png_read_end(job->png, nullptr);
  if (colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    for (png_uint_32 y = 0; y < height; ++y) ExpandGreyAlpha(job->rows[y], int32_t(width));
  }
  return true;
}

bool EncodePng(PngJob* job, TPixmap* source, int colourType, int transforms, int level) {
  if (setjmp(png_jmpbuf(job->png))) return false;
  png_set_compression_level(job->png, level);
  png_set_IHDR(job->png, job->info, png_uint_32(source->width), png_uint_32(source->height), 8, colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(job->png, job->info, job->rows.data());
  png_write_png(job->png, job->info, transforms, nullptr);
  return true;
}

}  // namespace

Ref<TPixmap> LoadPixmapPNG(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return {};
  StreamCloser closer(stream);
  png_byte signature[8];
  if (ReadUpTo(stream, signature, 8) < 8 || png_sig_cmp(signature, 0, 8) != 0) return {};

  PngJob job;
  job.stream = stream;
  job.bytesLeft = StreamBytesLeft(stream);
  // The version of the libpng headers we were built against; libpng checks
  // it against the library actually linked.
  job.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &job, OnPngError, OnPngWarning, nullptr,
                                     OnPngMalloc, OnPngFree);
  if (!job.png) return {};
  job.info = png_create_info_struct(job.png);
  if (!job.info) return {};
  png_set_read_fn(job.png, &job, OnPngRead);
  bool decoded = DecodePng(&job);
  job.Destroy();
  job.trap.Rethrow();
  if (!decoded) return {};
  closer.Close();
  return job.pixmap;
}

int32_t SavePixmapPNG(TPixmap* pixmap, Object* url, int32_t level) {
  if (!pixmap) ThrowNullObjectException();
  level = level < 0 ? 0 : level > 9 ? 9 : level;
  Ref<TPixmap> source = pixmap;
  int colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  int transforms = PNG_TRANSFORM_IDENTITY;
  switch (pixmap->format) {
    case PIXFMT_GREY8:
      colourType = PNG_COLOR_TYPE_GRAY;
      break;
    case PIXFMT_RGB24:
      colourType = PNG_COLOR_TYPE_RGB;
      break;
    case PIXFMT_BGR24:
      colourType = PNG_COLOR_TYPE_RGB;
      transforms = PNG_TRANSFORM_BGR;
      break;
    case PIXFMT_RGBA32:
      break;
    case PIXFMT_BGRA32:
      transforms = PNG_TRANSFORM_BGR;
      break;
    default:
      source = pixmap->Convert(PIXFMT_RGBA32);
      break;
  }

  // A file is replaced only once the whole picture is written
  // (stream/AtomicFile.h): a failed save leaves the old one as it was.
  AtomicFile file(url);
  if (file.IsNull()) return 0;
  PngJob job;
  job.writing = true;
  job.stream = file.Stream();
  job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, OnPngError, OnPngWarning);
  if (!job.png) return 0;
  job.info = png_create_info_struct(job.png);
  if (!job.info) return 0;
  png_set_write_fn(job.png, &job, OnPngWrite, OnPngFlush);
  // One pointer per pixmap row, so the pitch is honoured. libpng copies each
  // row before transforming it: the pixmap is not changed.
  job.rows.resize(std::size_t(source->height > 0 ? source->height : 0));
  for (int32_t y = 0; y < source->height; ++y) job.rows[std::size_t(y)] = source->PixelPtr(0, y);
  bool encoded = EncodePng(&job, source, colourType, transforms, level);
  job.Destroy();
  job.trap.Rethrow();
  return encoded && file.Commit() ? 1 : 0;
}

}  // namespace vrl

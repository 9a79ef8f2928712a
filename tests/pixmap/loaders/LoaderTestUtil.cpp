#include "tests/pixmap/loaders/LoaderTestUtil.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>

#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace vrl::test {

const ClassRecord& TProbeStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TProbeStream>(
      "TProbeStream", [](auto& d) { d.template Field<&TProbeStream::closes>("closes"); });
  return record;
}

int32_t TProbeStream::Read(void* buf, int32_t count) {
  if (throwAfter >= 0 && _pos + count > throwAfter) {
    int32_t allowed = throwAfter - _pos;
    if (allowed <= 0) vrRuntimeError("probe stream failure");
    count = allowed;
  }
  return TRamStream::Read(buf, count);
}

int32_t TProbeStream::Close() {
  ++closes;
  if (closeThrows) vrRuntimeError("probe close failure");
  return 0;
}

Ref<TProbeStream> TProbeStream::Over(std::vector<uint8_t>& bytes, int32_t throwAfter) {
  Ref<TProbeStream> stream = New<TProbeStream>();
  stream->_buf = bytes.data();
  stream->_size = int32_t(bytes.size());
  stream->_read = 1;
  stream->throwAfter = throwAfter;
  return stream;
}

Ref<TProbeStream> TProbeStream::Unsized(std::vector<uint8_t>& bytes) {
  Ref<TProbeStream> stream = Over(bytes);
  stream->unsized = true;
  return stream;
}

Ref<TRamStream> Over(std::vector<uint8_t>& bytes) {
  return TRamStream::Create(bytes.data(), int32_t(bytes.size()), 1, 0);
}

std::vector<uint8_t> PackedPixels(TPixmap* pixmap) {
  std::vector<uint8_t> out;
  const std::size_t rowBytes = std::size_t(pixmap->width) * PixelBytes[pixmap->format];
  for (int32_t y = 0; y < pixmap->height; ++y) {
    const uint8_t* row = pixmap->PixelPtr(0, y);
    out.insert(out.end(), row, row + rowBytes);
  }
  return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

void AppendBytes(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}

// Everything that must survive libpng's long jump lives here, outside the
// function that sets the jump target.
struct PngWriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<png_bytep> rows;
  std::vector<png_color> palette;
  std::vector<uint8_t> out;
};

bool WritePng(PngWriteState* s, const PngPicture* picture) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_write_fn(s->png, &s->out, AppendBytes, NoFlush);
  png_set_IHDR(s->png, s->info, png_uint_32(picture->width), png_uint_32(picture->height), picture->bitDepth,
               picture->colourType, picture->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!s->palette.empty()) png_set_PLTE(s->png, s->info, s->palette.data(), int(s->palette.size()));
  if (!picture->trns.empty()) {
    png_set_tRNS(s->png, s->info, picture->trns.data(), int(picture->trns.size()), nullptr);
  }
  png_set_rows(s->png, s->info, s->rows.data());
  png_write_png(s->png, s->info, PNG_TRANSFORM_IDENTITY, nullptr);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodePng(const PngPicture& picture) {
  PngWriteState s;
  s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  s.info = png_create_info_struct(s.png);
  int channels = picture.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                 : picture.colourType == PNG_COLOR_TYPE_RGB      ? 3
                 : picture.colourType == PNG_COLOR_TYPE_RGBA     ? 4
                                                                 : 1;
  std::size_t rowBytes = (std::size_t(picture.width) * channels * picture.bitDepth + 7) / 8;
  if (picture.rows.size() != rowBytes * std::size_t(picture.height)) {
    throw std::runtime_error("EncodePng: wrong row data size");
  }
  for (int y = 0; y < picture.height; ++y) {
    s.rows.push_back(const_cast<png_bytep>(picture.rows.data() + rowBytes * std::size_t(y)));
  }
  for (std::size_t i = 0; i + 2 < picture.palette.size(); i += 3) {
    s.palette.push_back({picture.palette[i], picture.palette[i + 1], picture.palette[i + 2]});
  }
  bool ok = WritePng(&s, &picture);
  png_destroy_write_struct(&s.png, &s.info);
  if (!ok) throw std::runtime_error("EncodePng: libpng failed");
  return s.out;
}

std::vector<uint8_t> DecodePngRgba(const std::vector<uint8_t>& file, int* width, int* height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    throw std::runtime_error("DecodePngRgba: not a PNG");
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    throw std::runtime_error("DecodePngRgba: decode failed");
  }
  *width = int(image.width);
  *height = int(image.height);
  return pixels;
}

namespace {

struct JpegErrorJump {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrorJump*>(cinfo->err)->jump, 1);
}

struct JpegEncodeState {
  jpeg_compress_struct cinfo{};
  JpegErrorJump errors{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
};

bool CompressJpeg(JpegEncodeState* s, int width, int height, int components, int space,
                  const uint8_t* samples, int quality, bool progressive) {
  if (setjmp(s->errors.jump)) return false;
  jpeg_create_compress(&s->cinfo);
  jpeg_mem_dest(&s->cinfo, &s->buffer, &s->size);
  s->cinfo.image_width = JDIMENSION(width);
  s->cinfo.image_height = JDIMENSION(height);
  s->cinfo.input_components = components;
  s->cinfo.in_color_space = J_COLOR_SPACE(space);
  jpeg_set_defaults(&s->cinfo);
  jpeg_set_quality(&s->cinfo, quality, TRUE);
  if (progressive) jpeg_simple_progression(&s->cinfo);
  jpeg_start_compress(&s->cinfo, TRUE);
  while (s->cinfo.next_scanline < s->cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples + std::size_t(s->cinfo.next_scanline) * std::size_t(width) *
                                                      std::size_t(components));
    jpeg_write_scanlines(&s->cinfo, &row, 1);
  }
  jpeg_finish_compress(&s->cinfo);
  return true;
}

struct JpegDecodeState {
  jpeg_decompress_struct cinfo{};
  JpegErrorJump errors{};
  std::vector<uint8_t> out;
};

bool DecompressJpeg(JpegDecodeState* s, const std::vector<uint8_t>* file) {
  if (setjmp(s->errors.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  jpeg_mem_src(&s->cinfo, file->data(), static_cast<unsigned long>(file->size()));
  jpeg_read_header(&s->cinfo, TRUE);
  jpeg_start_decompress(&s->cinfo);
  std::size_t rowBytes = std::size_t(s->cinfo.output_width) * std::size_t(s->cinfo.output_components);
  s->out.resize(rowBytes * s->cinfo.output_height);
  while (s->cinfo.output_scanline < s->cinfo.output_height) {
    JSAMPROW row = s->out.data() + rowBytes * s->cinfo.output_scanline;
    jpeg_read_scanlines(&s->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&s->cinfo);
  return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(int width, int height, int components, int space,
                                const std::vector<uint8_t>& samples, int quality, bool progressive) {
  JpegEncodeState s;
  s.cinfo.err = jpeg_std_error(&s.errors.pub);
  s.errors.pub.error_exit = JumpBack;
  bool ok = CompressJpeg(&s, width, height, components, space, samples.data(), quality, progressive);
  std::vector<uint8_t> out;
  if (ok) out.assign(s.buffer, s.buffer + s.size);
  jpeg_destroy_compress(&s.cinfo);
  std::free(s.buffer);
  if (!ok) throw std::runtime_error("EncodeJpeg: libjpeg failed");
  return out;
}

std::vector<uint8_t> DecodeJpeg(const std::vector<uint8_t>& file, int* width, int* height, int* components) {
  JpegDecodeState s;
  s.cinfo.err = jpeg_std_error(&s.errors.pub);
  s.errors.pub.error_exit = JumpBack;
  bool ok = DecompressJpeg(&s, &file);
  *width = int(s.cinfo.output_width);
  *height = int(s.cinfo.output_height);
  *components = s.cinfo.output_components;
  jpeg_destroy_decompress(&s.cinfo);
  if (!ok) throw std::runtime_error("DecodeJpeg: libjpeg failed");
  return std::move(s.out);
}

std::vector<uint8_t> Gradient(int width, int height, int channels) {
  std::vector<uint8_t> out;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) out.push_back(uint8_t((x * 7 + y * 3 + c * 60) & 0xFF));
    }
  }
  return out;
}

void InitLoaders() {
  static bool registered = false;
  pixmaploaders::Init();
  if (!registered) vrRegisterClass(TProbeStream::StaticClass());
  registered = true;
}

}  // namespace vrl::test

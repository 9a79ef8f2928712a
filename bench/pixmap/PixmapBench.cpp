// Decoding the card's 1024 x 768 picture (JPEG) and matte (PNG) through
// LoadPixmap from a memory stream, against libjpeg and libpng decoding the
// same bytes straight into a buffer. The difference is the framework's
// overhead: the loader chain (TGA is asked first), the stream glue and the
// pixmap.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/BenchUtil.h"
#include "pixmap/Pixmap.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"

using namespace vrl;
using namespace vrl::bench;

namespace {

constexpr int kDecodes = 5;

std::vector<uint8_t> ReadAsset(const char* name) {
  std::ifstream in(std::string(VRL_ASSETS) + "/" + name, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pixmap_bench: cannot read %s\n", name);
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// --- libjpeg directly -------------------------------------------------------

struct JpegBaseline {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  // Not zero-filled, as a pixmap's memory is not.
  std::unique_ptr<uint8_t[]> pixels;
  std::size_t size = 0;
  std::vector<JSAMPROW> rows;
};

[[noreturn]] void JpegFail(j_common_ptr cinfo) {
  std::longjmp(static_cast<JpegBaseline*>(cinfo->client_data)->jump, 1);
}

bool DecodeJpegDirect(JpegBaseline* s, const std::vector<uint8_t>* file) {
  if (setjmp(s->jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  jpeg_mem_src(&s->cinfo, file->data(), static_cast<unsigned long>(file->size()));
  jpeg_read_header(&s->cinfo, TRUE);
  jpeg_start_decompress(&s->cinfo);
  std::size_t rowBytes = std::size_t(s->cinfo.output_width) * std::size_t(s->cinfo.output_components);
  JDIMENSION height = s->cinfo.output_height;
  s->size = rowBytes * height;
  s->pixels.reset(new uint8_t[s->size]);
  s->rows.resize(height);
  for (JDIMENSION y = 0; y < height; ++y) s->rows[y] = s->pixels.get() + rowBytes * y;
  while (s->cinfo.output_scanline < height) {
    JDIMENSION y = s->cinfo.output_scanline;
    jpeg_read_scanlines(&s->cinfo, s->rows.data() + y, height - y);
  }
  jpeg_finish_decompress(&s->cinfo);
  return true;
}

std::size_t JpegDirect(const std::vector<uint8_t>& file) {
  JpegBaseline s;
  s.cinfo.err = jpeg_std_error(&s.errors);
  s.errors.error_exit = JpegFail;
  s.cinfo.client_data = &s;
  bool ok = DecodeJpegDirect(&s, &file);
  jpeg_destroy_decompress(&s.cinfo);
  if (!ok) std::exit(1);
  return s.size;
}

// --- libpng directly --------------------------------------------------------

struct PngBaseline {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const std::vector<uint8_t>* file = nullptr;
  std::size_t pos = 0;
  std::unique_ptr<uint8_t[]> pixels;
  std::size_t size = 0;
  std::vector<png_bytep> rows;
};

void PngFromMemory(png_structp png, png_bytep data, size_t length) {
  auto* s = static_cast<PngBaseline*>(png_get_io_ptr(png));
  if (length > s->file->size() - s->pos) png_error(png, "end of data");
  std::memcpy(data, s->file->data() + s->pos, length);
  s->pos += length;
}

bool DecodePngDirect(PngBaseline* s) {
  if (setjmp(png_jmpbuf(s->png))) return false;
  png_set_read_fn(s->png, s, PngFromMemory);
  png_read_info(s->png, s->info);
  png_set_strip_16(s->png);
  png_set_expand(s->png);
  png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  std::size_t rowBytes = png_get_rowbytes(s->png, s->info);
  png_uint_32 height = png_get_image_height(s->png, s->info);
  s->size = rowBytes * height;
  s->pixels.reset(new uint8_t[s->size]);
  s->rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) s->rows[y] = s->pixels.get() + rowBytes * y;
  png_read_image(s->png, s->rows.data());
  png_read_end(s->png, nullptr);
  return true;
}

std::size_t PngDirect(const std::vector<uint8_t>& file) {
  PngBaseline s;
  s.file = &file;
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  s.info = png_create_info_struct(s.png);
  bool ok = DecodePngDirect(&s);
  png_destroy_read_struct(&s.png, &s.info, nullptr);
  if (!ok) std::exit(1);
  return s.size;
}

// --- through the framework --------------------------------------------------

// The pixmap is freed before returning, as the baselines free their buffers:
// the collection that frees it is part of the framework's cost.
std::size_t ThroughLoadPixmap(std::vector<uint8_t>& file) {
  std::size_t bytes = 0;
  {
    Ref<TRamStream> stream = TRamStream::Create(file.data(), int32_t(file.size()), 1, 0);
    Ref<TPixmap> pixmap = LoadPixmap(stream);
    if (pixmap.IsNull()) std::exit(1);
    bytes = std::size_t(pixmap->width) * std::size_t(pixmap->height) * PixelBytes[pixmap->format];
  }
  GCCollect();
  return bytes;
}

template <class Decode>
double Time(Decode&& decode) {
  return FastestSeconds(
      [&] {
        for (int i = 0; i < kDecodes; ++i) Keep(decode());
      },
      1);
}

void Compare(const char* what, std::vector<uint8_t>& file, std::size_t (*direct)(const std::vector<uint8_t>&),
             const char* baselineName) {
  if (ThroughLoadPixmap(file) != direct(file)) {
    std::fprintf(stderr, "pixmap_bench: %s decodes to different sizes\n", what);
    std::exit(1);
  }
  // Alternating rounds, fastest of each kept, so that a noisy neighbour
  // affects both sides alike.
  double baseline = 1e30, framework = 1e30;
  for (int round = 0; round < 15; ++round) {
    baseline = std::min(baseline, Time([&] { return direct(file); }));
    framework = std::min(framework, Time([&] { return ThroughLoadPixmap(file); }));
  }
  Report(what, framework, baselineName, baseline, kDecodes);
}

}  // namespace

int main() {
  StartRuntime(__builtin_frame_address(0));
  pixmaploaders::Init();
  std::vector<uint8_t> jpeg = ReadAsset("image.jpg");
  std::vector<uint8_t> png = ReadAsset("matte.png");
  Compare("LoadPixmap image.jpg (1024x768 RGB)", jpeg, JpegDirect, "libjpeg into a buffer");
  Compare("LoadPixmap matte.png (1024x768 grey)", png, PngDirect, "libpng into a buffer");
  return 0;
}

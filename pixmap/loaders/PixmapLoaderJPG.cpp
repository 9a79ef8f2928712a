#include "pixmap/loaders/PixmapLoaderJPG.h"

// jpeglib.h needs FILE and size_t declared first.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

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

const ClassRecord& TPixmapLoaderJPG::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TPixmapLoaderJPG>(
      "TPixmapLoaderJPG", [](auto& d) { d.template Method<&TPixmapLoaderJPG::LoadPixmap>("LoadPixmap"); });
  return record;
}

void jpgloader::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  runtime::Init();
  stream::Init();
  pixmap::Init();
  vrRegisterClass(TPixmapLoaderJPG::StaticClass());
  New<TPixmapLoaderJPG>();  // the chain keeps it
}

Ref<TPixmap> TPixmapLoaderJPG::LoadPixmap(TStream* stream) {
  if (!stream) ThrowNullObjectException();
  return LoadPixmapJPG(stream);
}

namespace {

constexpr int32_t kBlockBytes = 4096;
// A progressive picture is decoded once per scan; real files have a few
// dozen at most. Hostile ones can hold thousands of tiny scans, each of which
// costs a pass over the whole coefficient buffer.
constexpr int32_t kMaxScans = limits::kJpegScans;

// The state shared by the reader and the writer: libjpeg's error manager
// with our jump target, the stream, and a throw caught in a callback. It
// lives in the caller's frame, outside the function that sets the jump
// target, so nothing with a destructor is skipped by the long jump.
struct JpegJob {
  jpeg_error_mgr errors{};
  std::jmp_buf jump{};
  TStream* stream = nullptr;
  // The stream's bytes from the start of the picture; -1 when unknown.
  int64_t bytesLeft = -1;
  CallbackTrap trap;
  JOCTET buffer[kBlockBytes] = {};
  bool started = false;  // the source has delivered bytes
  bool ended = false;    // the source ran dry and supplies an end marker
  int32_t scans = 0;
};

struct JpegReadJob : JpegJob {
  jpeg_decompress_struct cinfo{};
  jpeg_source_mgr source{};
  Ref<TPixmap> pixmap;
  std::vector<JSAMPROW> rows;
  // A zeroed or destroyed structure has no memory manager: destroying it
  // again does nothing.
  ~JpegReadJob() { jpeg_destroy_decompress(&cinfo); }
};

struct JpegWriteJob : JpegJob {
  jpeg_compress_struct cinfo{};
  jpeg_destination_mgr destination{};
  ~JpegWriteJob() { jpeg_destroy_compress(&cinfo); }
};

JpegJob* JobOf(j_common_ptr cinfo) { return static_cast<JpegJob*>(cinfo->client_data); }

[[noreturn]] void OnJpegError(j_common_ptr cinfo) { std::longjmp(JobOf(cinfo)->jump, 1); }

// Messages are not printed. Scans are counted here, as libjpeg announces
// each one with a trace message.
void OnJpegMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    ++cinfo->err->num_warnings;
  } else if (cinfo->err->msg_code == JTRC_SOS && ++JobOf(cinfo)->scans > kMaxScans) {
    ERREXIT(cinfo, JERR_NOT_COMPILED);
  }
}
void OnJpegOutput(j_common_ptr) {}

void SetUpErrors(JpegJob* job, j_common_ptr cinfo) {
  cinfo->err = jpeg_std_error(&job->errors);
  job->errors.error_exit = OnJpegError;
  job->errors.emit_message = OnJpegMessage;
  job->errors.output_message = OnJpegOutput;
  cinfo->client_data = job;
}

void OnSourceInit(j_decompress_ptr) {}
void OnSourceTerm(j_decompress_ptr) {}

boolean OnSourceFill(j_decompress_ptr cinfo) {
  auto* job = static_cast<JpegReadJob*>(JobOf(reinterpret_cast<j_common_ptr>(cinfo)));
  int32_t n = 0;
  if (!job->ended && !job->trap.Run([&] { n = job->stream->Read(job->buffer, kBlockBytes); })) {
    ERREXIT(cinfo, JERR_FILE_READ);
  }
  if (n <= 0) {
    if (!job->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // Truncated data: an end marker lets libjpeg finish what it has.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    job->ended = true;
    job->buffer[0] = JOCTET(0xFF);
    job->buffer[1] = JOCTET(JPEG_EOI);
    n = 2;
  }
  job->started = true;
  job->source.next_input_byte = job->buffer;
  job->source.bytes_in_buffer = std::size_t(n > kBlockBytes ? kBlockBytes : n);
  return TRUE;
}

void OnSourceSkip(j_decompress_ptr cinfo, long count) {
  auto* job = static_cast<JpegReadJob*>(JobOf(reinterpret_cast<j_common_ptr>(cinfo)));
  if (count <= 0) return;
  while (count > long(job->source.bytes_in_buffer)) {
    count -= long(job->source.bytes_in_buffer);
    OnSourceFill(cinfo);
    // At the end of the data there is nothing left to skip: leave the end
    // marker for libjpeg to find.
    if (job->ended) return;
  }
  job->source.next_input_byte += count;
  job->source.bytes_in_buffer -= std::size_t(count);
}

void OnDestinationInit(j_compress_ptr cinfo) {
  auto* job = static_cast<JpegWriteJob*>(JobOf(reinterpret_cast<j_common_ptr>(cinfo)));
  job->destination.next_output_byte = job->buffer;
  job->destination.free_in_buffer = kBlockBytes;
}

// Writes `count` bytes of the block; a write that moves nothing, or any
// throw from the stream, is a fatal libjpeg error.
void WriteBlock(j_compress_ptr cinfo, int32_t count) {
  auto* job = static_cast<JpegWriteJob*>(JobOf(reinterpret_cast<j_common_ptr>(cinfo)));
  int32_t done = 0;
  const bool written = job->trap.Run([&] {
    while (done < count) {
      int32_t n = job->stream->Write(job->buffer + done, count - done);
      if (n <= 0) break;
      done += n < count - done ? n : count - done;
    }
  });
  if (!written || done < count) ERREXIT(cinfo, JERR_FILE_WRITE);
}

boolean OnDestinationEmpty(j_compress_ptr cinfo) {
  WriteBlock(cinfo, kBlockBytes);
  OnDestinationInit(cinfo);
  return TRUE;
}

void OnDestinationTerm(j_compress_ptr cinfo) {
  auto* job = static_cast<JpegWriteJob*>(JobOf(reinterpret_cast<j_common_ptr>(cinfo)));
  WriteBlock(cinfo, kBlockBytes - int32_t(job->destination.free_in_buffer));
}

// Decodes into job->pixmap; false on any libjpeg error or a picture this
// reader refuses. Only the job is used after the jump target is set.
bool DecodeJpeg(JpegReadJob* job) {
  SetUpErrors(job, reinterpret_cast<j_common_ptr>(&job->cinfo));
  if (setjmp(job->jump)) return false;
  jpeg_create_decompress(&job->cinfo);
  // libjpeg keeps whole-picture buffers for progressive and multi-scan
  // pictures; without a backing store, going over this limit is its error.
  job->cinfo.mem->max_memory_to_use = long(JpegMemoryLimit(job->bytesLeft));
  job->source.init_source = OnSourceInit;
  job->source.fill_input_buffer = OnSourceFill;
  job->source.skip_input_data = OnSourceSkip;
  job->source.resync_to_restart = jpeg_resync_to_restart;
  job->source.term_source = OnSourceTerm;
  job->cinfo.src = &job->source;

  if (jpeg_read_header(&job->cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (!PictureSizeAllowed(job->cinfo.image_width, job->cinfo.image_height)) return false;
  // The output layout is known before decoding starts, so a refused picture
  // costs no decoding (a progressive picture is read whole by
  // jpeg_start_decompress).
  jpeg_calc_output_dimensions(&job->cinfo);
  const int components = job->cinfo.output_components;
  if (components != 1 && components != 3) return false;
  const JDIMENSION width = job->cinfo.output_width, height = job->cinfo.output_height;
  if (!PictureSizeAllowed(width, height)) return false;
  // A few bytes claiming a huge frame decode to nothing but cost its memory.
  if (!StreamCanCarry(job->bytesLeft, int64_t(width) * height, kJpegPixelsPerByte)) return false;

  job->pixmap =
      TPixmap::Create(int32_t(width), int32_t(height), components == 1 ? PIXFMT_GREY8 : PIXFMT_RGB24, 4);
  job->rows.resize(height);
  for (JDIMENSION y = 0; y < height; ++y) job->rows[y] = job->pixmap->PixelPtr(0, int32_t(y));

  jpeg_start_decompress(&job->cinfo);
  if (job->cinfo.output_width != width || job->cinfo.output_height != height ||
      job->cinfo.output_components != components) {
    return false;
  }
  while (job->cinfo.output_scanline < height) {
    JDIMENSION y = job->cinfo.output_scanline;
    if (jpeg_read_scanlines(&job->cinfo, job->rows.data() + y, height - y) == 0) return false;
  }
  jpeg_finish_decompress(&job->cinfo);
  return true;
}

bool EncodeJpeg(JpegWriteJob* job, TPixmap* rgb, int quality) {
  SetUpErrors(job, reinterpret_cast<j_common_ptr>(&job->cinfo));
  if (setjmp(job->jump)) return false;
  jpeg_create_compress(&job->cinfo);
  job->destination.init_destination = OnDestinationInit;
  job->destination.empty_output_buffer = OnDestinationEmpty;
  job->destination.term_destination = OnDestinationTerm;
  job->cinfo.dest = &job->destination;

  job->cinfo.image_width = JDIMENSION(rgb->width);
  job->cinfo.image_height = JDIMENSION(rgb->height);
  job->cinfo.input_components = 3;
  job->cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&job->cinfo);
  jpeg_set_quality(&job->cinfo, quality, TRUE);
  jpeg_start_compress(&job->cinfo, TRUE);
  while (job->cinfo.next_scanline < job->cinfo.image_height) {
    JSAMPROW row = rgb->PixelPtr(0, int32_t(job->cinfo.next_scanline));
    jpeg_write_scanlines(&job->cinfo, &row, 1);
  }
  jpeg_finish_compress(&job->cinfo);
  return true;
}

}  // namespace

Ref<TPixmap> LoadPixmapJPG(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return {};
  StreamCloser closer(stream);
  JpegReadJob job;
  job.stream = stream;
  job.bytesLeft = StreamBytesLeft(stream);
  bool decoded = DecodeJpeg(&job);
  // A failed decode drops the part-filled pixmap here; libjpeg's own memory
  // goes with its structure.
  jpeg_destroy_decompress(&job.cinfo);
  job.trap.Rethrow();
  if (!decoded) return {};
  closer.Close();
  return job.pixmap;
}

int32_t SavePixmapJPG(TPixmap* pixmap, Object* url, int32_t quality) {
  if (!pixmap) ThrowNullObjectException();
  // A file is replaced only once the whole picture is written
  // (stream/AtomicFile.h): a failed save leaves the old one as it was.
  AtomicFile file(url);
  if (file.IsNull()) return 0;
  Ref<TPixmap> rgb = pixmap->format == PIXFMT_RGB24 ? Ref<TPixmap>(pixmap) : pixmap->Convert(PIXFMT_RGB24);
  JpegWriteJob job;
  job.stream = file.Stream();
  bool encoded = EncodeJpeg(&job, rgb, quality);
  jpeg_destroy_compress(&job.cinfo);
  job.trap.Rethrow();
  // libjpeg's failures are failures: a truncated file is not a saved one.
  return encoded && file.Commit() ? 1 : 0;
}

}  // namespace vrl

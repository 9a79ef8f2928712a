// libFuzzer target: arbitrary bytes through LoadPixmap from a memory stream,
// with the TGA, PNG, JPEG and BMP loaders in the chain, or with one of them
// alone (FUZZ_ONLY_LOADER names its module: tgaloader, bmploader, pngloader,
// jpgloader). A loader may refuse
// (Null) or throw a framework exception; it must never read or write out of
// bounds, let a C++ exception cross libpng's or libjpeg's frames, or give a
// pixmap whose rows run past its memory.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixmap/Pixmap.h"
#include "pixmap/loaders/PictureLimits.h"
#include "pixmap/loaders/PixmapLoaderBMP.h"
#include "pixmap/loaders/PixmapLoaderJPG.h"
#include "pixmap/loaders/PixmapLoaderPNG.h"
#include "pixmap/loaders/PixmapLoaderTGA.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"

// Where the sums of the bytes read go, so that the reads are not left out.
volatile uint32_t gSink = 0;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vrl::StartRuntime(__builtin_frame_address(0));
#ifdef FUZZ_ONLY_LOADER
  vrl::FUZZ_ONLY_LOADER::Init();
#else
  vrl::pixmaploaders::Init();
#endif
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrl;
  // Every frame of this input lies below this one.
  GCSetStackBase(__builtin_frame_address(0));
  if (size > 0x7fffffff) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  {
    Ref<TRamStream> stream = TRamStream::Create(bytes.data(), int32_t(size), 1, 0);
    try {
      Ref<TPixmap> pixmap = LoadPixmap(stream);
      if (!pixmap.IsNull()) {
        const int64_t rowBytes = int64_t(pixmap->width) * PixelBytes[pixmap->format];
        if (!IsPixelFormat(pixmap->format) || !PictureSizeAllowed(pixmap->width, pixmap->height) ||
            pixmap->pitch < rowBytes || int64_t(pixmap->pitch) * pixmap->height > pixmap->capacity) {
          __builtin_trap();
        }
        // Read every pixel byte, so rows beyond the memory show up under
        // AddressSanitizer.
        uint32_t sum = 0;
        for (int32_t y = 0; y < pixmap->height; ++y) {
          const uint8_t* row = pixmap->PixelPtr(0, y);
          for (int64_t i = 0; i < rowBytes; ++i) sum += row[i];
        }
        gSink = sum;
      }
    } catch (const ThrownObject&) {
      // A framework exception out of a loader: allowed.
    }
  }
  GCCollect();
  return 0;
}

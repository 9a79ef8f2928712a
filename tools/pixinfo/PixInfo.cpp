// pixinfo URL: loads a picture through the loader chain (LoadPixmap) and
// prints one line: width, height, format code and the SHA-256 (lower-case
// hex) of the pixels converted to format 6, rows packed without padding, top
// row first, separated by single spaces. When no loader accepts the data it
// prints "null" and exits with status 1.
#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <string_view>

#include "pixmap/Pixmap.h"
#include "pixmap/loaders/PixmapLoaders.h"
#include "runtime/Exceptions.h"
#include "runtime/Runtime.h"
#include "runtime/String.h"
#include "stream/BankStream.h"
#include "stream/EndianStream.h"
#include "stream/RamStream.h"
#include "stream/Stream.h"
#include "stream/TextStream.h"

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

int Run(int argc, char** argv) {
  using namespace vrl;
  if (argc != 2) {
    std::fprintf(stderr, "usage: pixinfo URL\n");
    return 2;
  }
  stream::Init();
  ramstream::Init();
  bankstream::Init();
  endianstream::Init();
  textstream::Init();
  pixmaploaders::Init();

  Ref<TPixmap> pixmap = LoadPixmap(String::FromUtf8(std::string_view(argv[1])));
  if (pixmap.IsNull()) {
    std::printf("null\n");
    return 1;
  }
  // Hashed row by row, so the pitch's padding never enters the digest.
  Ref<TPixmap> rgba = pixmap->format == PIXFMT_RGBA32 ? pixmap : pixmap->Convert(PIXFMT_RGBA32);
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  for (int32_t y = 0; ok && y < rgba->height; ++y) {
    ok = EVP_DigestUpdate(context.get(), rgba->PixelPtr(0, y), std::size_t(rgba->width) * 4);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (!ok || !EVP_DigestFinal_ex(context.get(), digest, &digestLength)) {
    std::fprintf(stderr, "pixinfo: SHA-256 failed\n");
    return 2;
  }
  std::printf("%d %d %d ", pixmap->width, pixmap->height, pixmap->format);
  for (unsigned int i = 0; i < digestLength; ++i) std::printf("%02x", digest[i]);
  std::printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrl::StartRuntime(__builtin_frame_address(0), argc, argv);
  int status = 2;
  vrl::RunGuarded([&] { status = Run(argc, argv); });
  return status;
}

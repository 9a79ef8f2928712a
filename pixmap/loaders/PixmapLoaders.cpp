#include "pixmap/loaders/PixmapLoaders.h"

#include "runtime/Runtime.h"

namespace vrl::pixmaploaders {

void Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  bmploader::Init();
  jpgloader::Init();
  pngloader::Init();
  tgaloader::Init();
}

}  // namespace vrl::pixmaploaders

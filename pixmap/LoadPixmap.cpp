#include "pixmap/Pixmap.h"

#include "stream/LoaderChain.h"
#include "stream/Stream.h"

namespace vrl {

Ref<TPixmap> LoadPixmap(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return Ref<TPixmap>();
  return LoadFromChain(stream.get(), PixmapLoaders(),
                       [](TPixmapLoader* loader, TStream* in) { return loader->LoadPixmap(in); });
}

}  // namespace vrl

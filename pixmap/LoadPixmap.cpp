#include "pixmap/Pixmap.h"

#include "stream/LoaderChain.h"
#include "stream/Stream.h"

namespace vrl {

Ref<TPixmap> LoadPixmap(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return Ref<TPixmap>();
  Ref<TPixmap> pixmap = LoadFromChain(stream.get(), PixmapLoaders(), [](TPixmapLoader* loader, TStream* in) {
    return loader->LoadPixmap(in);
  });
  // The loaders fill their pixmaps through PixelPtr; the picture as loaded
  // counts as one change.
  if (!pixmap.IsNull()) pixmap->MarkChanged();
  return pixmap;
}

}  // namespace vrl

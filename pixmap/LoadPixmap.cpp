#include "pixmap/Pixmap.h"

#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace vrl {

Ref<TPixmap> LoadPixmap(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return Ref<TPixmap>();
  int32_t pos = stream->Pos();
  if (pos == -1) {
    stream->Close();
    return Ref<TPixmap>();
  }
  Ref<TPixmap> pixmap;
  try {
    for (TPixmapLoader* loader = PixmapLoaders(); loader; loader = loader->_succ.get()) {
      stream->Seek(pos);
      try {
        pixmap = loader->LoadPixmap(stream);
      } catch (const ThrownObject& e) {
        // A stream error is this loader's refusal; anything else is the
        // caller's to see.
        if (!e.As<TStreamException>()) throw;
        pixmap = nullptr;
      }
      if (!pixmap.IsNull()) break;
    }
  } catch (...) {
    stream->Close();
    throw;
  }
  stream->Close();
  return pixmap;
}

}  // namespace vrl

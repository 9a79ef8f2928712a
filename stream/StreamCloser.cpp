#include "stream/StreamCloser.h"

#include <utility>

#include "runtime/Exceptions.h"
#include "stream/Stream.h"

namespace vrl {

StreamCloser::~StreamCloser() {
  TStream* stream = std::exchange(_stream, nullptr);
  if (!stream) return;
  try {
    stream->Close();
  } catch (...) {
    // A destructor must not throw, and whatever made us leave came first.
  }
}

int32_t StreamCloser::Close() {
  TStream* stream = std::exchange(_stream, nullptr);
  return stream ? stream->Close() : 0;
}

void StreamCloser::CloseSaveOrThrow() {
  if (!CloseSave()) ThrowStreamWriteException();
}

}  // namespace vrl

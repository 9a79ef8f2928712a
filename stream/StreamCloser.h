// Closing a stream that a reader or writer opened, once, on every way out.
//
// One rule: the first failure wins.
// - Leaving by an exception, the destructor closes the stream and drops
//   whatever its Close throws, so a failed close never hides the failure
//   already on its way out. A return that does not call Close (a refusal, a
//   failure reported by result) closes the same way: it came first.
// - Closing by Close, on the way to a result, a throw from the stream's
//   Close propagates: nothing failed before it.
// - A failed close is a failed save: Close reporting -1 means data written
//   earlier was lost. CloseSave reports that, CloseSaveOrThrow throws
//   TStreamWriteException for it.
// After a read, the data is already in hand and Close's result is the
// caller's to look at or not.
#pragma once

#include <cstdint>

namespace vrl {

class TStream;

class StreamCloser {
 public:
  /// The stream (which the caller keeps alive) is closed by this closer.
  explicit StreamCloser(TStream* stream) : _stream(stream) {}
  ~StreamCloser();
  /// One closer per stream, bound to the scope that opened it: a copy would
  /// close twice, and a moved-from closer would leave the scope's way out
  /// unguarded.
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;
  StreamCloser(StreamCloser&&) = delete;
  StreamCloser& operator=(StreamCloser&&) = delete;

  /// Closes now: the stream's Close result, 0 when it was closed already.
  int32_t Close();
  /// Closes after a save: true when the stream took everything written.
  bool CloseSave() { return Close() == 0; }
  /// Closes after a save; TStreamWriteException when data was lost.
  void CloseSaveOrThrow();

 private:
  TStream* _stream;
};

}  // namespace vrl

// Streams over fixed memory blocks, and the "incbin" protocol that reads the
// embedded files of stream/EmbeddedFiles.h through them.
#pragma once

#include <cstdint>
#include <span>

#include "stream/Stream.h"

namespace vrl {

/// A stream over a block it does not own: the block must outlive the stream.
/// The size is fixed; reads and writes stop at its end.
class TRamStream : public TStream {
  VRL_CLASS(TRamStream, TStream)
  int32_t Pos() override { return _pos; }
  int32_t Size() override { return _size; }
  /// Clamped to 0..Size.
  int32_t Seek(int32_t pos) override;
  /// 0 when the direction is not allowed.
  int32_t Read(void* buf, int32_t count) override;
  int32_t Write(const void* buf, int32_t count) override;
  /// The rest of the block when the stream is readable, for the line readers.
  /// A subclass whose Read does more than copy must give an empty view.
  std::span<const uint8_t> PeekBuffered() override;
  void SkipBuffered(int32_t count) override;

  static Ref<TRamStream> Create(void* buf, int32_t size, int32_t readable, int32_t writeable);
  /// The block read and written in place.
  const uint8_t* Buf() const { return _buf; }

 protected:
  /// Subclasses (test streams with faults of their own) set up the block.
  int32_t _pos = 0;
  int32_t _size = 0;
  uint8_t* _buf = nullptr;
  int32_t _read = 0;
  int32_t _write = 0;
};

/// Answers "incbin::name" for reading only: a TRamStream over the embedded
/// bytes. Null for other protocols, unknown names, or when writeable is set.
class TRamStreamFactory : public TStreamFactory {
  VRL_CLASS(TRamStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

Ref<TRamStream> CreateRamStream(void* buf, int32_t size, int32_t readable, int32_t writeable);

namespace ramstream {
/// Registers the classes and enrols the "incbin" factory.
void Init();
}  // namespace ramstream

}  // namespace vrl

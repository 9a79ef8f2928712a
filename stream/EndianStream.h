// Byte-order wrappers: "bigendian::" reverses the bytes of every typed
// multi-byte value (this machine is little-endian); "littleendian::" gives
// the plain stream. Bytes and raw Read/Write pass straight through.
#pragma once

#include <cstdint>

#include "stream/Stream.h"

namespace vrl {

class TXEndianStream : public TStreamWrapper {
  VRL_CLASS(TXEndianStream, TStreamWrapper)
  /// A short read raises TStreamReadException (the wrapped ReadBytes).
  int32_t ReadShort() override;  // unsigned, 0..65535
  void WriteShort(int32_t n) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t n) override;
  int64_t ReadLong() override;
  void WriteLong(int64_t n) override;
  float ReadFloat() override;
  void WriteFloat(float f) override;
  double ReadDouble() override;
  void WriteDouble(double d) override;

  /// Reverse 2, 4 or 8 bytes in place.
  static void Swap2(void* p);
  static void Swap4(void* p);
  static void Swap8(void* p);

  /// Null for a Null stream.
  static Ref<TXEndianStream> Create(TStream* stream);
  static Ref<TStream> BigEndian(TStream* stream);
  /// The stream itself.
  static Ref<TStream> LittleEndian(TStream* stream);
};

class TXEndianStreamFactory : public TStreamFactory {
  VRL_CLASS(TXEndianStreamFactory, TStreamFactory)
  Ref<TStream> CreateStream(Object* url, String* proto, String* path, int32_t readable,
                            int32_t writeable) override;
};

Ref<TStream> BigEndianStream(TStream* stream);
Ref<TStream> LittleEndianStream(TStream* stream);

namespace endianstream {
/// Registers the classes and enrols the "bigendian"/"littleendian" factory.
void Init();
}  // namespace endianstream

}  // namespace vrl

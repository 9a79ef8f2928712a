#include "stream/EndianStream.h"

#include <algorithm>
#include <cstring>

#include "runtime/ClassRecord.h"
#include "runtime/Runtime.h"

namespace vrl {

const ClassRecord& TXEndianStream::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TXEndianStream>("TXEndianStream", [](auto& d) {
    d.template Function<&TXEndianStream::Swap2>("Swap2");
    d.template Function<&TXEndianStream::Swap4>("Swap4");
    d.template Function<&TXEndianStream::Swap8>("Swap8");
    d.template Function<&TXEndianStream::Create>("Create");
    d.template Function<&TXEndianStream::BigEndian>("BigEndian");
    d.template Function<&TXEndianStream::LittleEndian>("LittleEndian");
  });
  return record;
}

VRL_CLASS_RECORD(TXEndianStreamFactory, "TXEndianStreamFactory")

void endianstream::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  stream::Init();
  vrRegisterClass(TXEndianStream::StaticClass());
  vrRegisterClass(TXEndianStreamFactory::StaticClass());
  New<TXEndianStreamFactory>();
}

void TXEndianStream::Swap2(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::reverse(b, b + 2);
}
void TXEndianStream::Swap4(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::reverse(b, b + 4);
}
void TXEndianStream::Swap8(void* p) {
  auto* b = static_cast<uint8_t*>(p);
  std::reverse(b, b + 8);
}

namespace {

template <class T>
T ReadSwapped(TStream& s) {
  uint8_t bytes[sizeof(T)];
  s.ReadBytes(bytes, sizeof(T));
  std::reverse(bytes, bytes + sizeof(T));
  T v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

template <class T>
void WriteSwapped(TStream& s, T v) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &v, sizeof v);
  std::reverse(bytes, bytes + sizeof(T));
  s.WriteBytes(bytes, sizeof(T));
}

}  // namespace

// ReadBytes and WriteBytes are TStream's, over the forwarded Read and Write.
int32_t TXEndianStream::ReadShort() { return ReadSwapped<uint16_t>(*this); }
void TXEndianStream::WriteShort(int32_t n) { WriteSwapped(*this, static_cast<uint16_t>(n)); }
int32_t TXEndianStream::ReadInt() { return ReadSwapped<int32_t>(*this); }
void TXEndianStream::WriteInt(int32_t n) { WriteSwapped(*this, n); }
int64_t TXEndianStream::ReadLong() { return ReadSwapped<int64_t>(*this); }
void TXEndianStream::WriteLong(int64_t n) { WriteSwapped(*this, n); }
float TXEndianStream::ReadFloat() { return ReadSwapped<float>(*this); }
void TXEndianStream::WriteFloat(float f) { WriteSwapped(*this, f); }
double TXEndianStream::ReadDouble() { return ReadSwapped<double>(*this); }
void TXEndianStream::WriteDouble(double d) { WriteSwapped(*this, d); }

Ref<TXEndianStream> TXEndianStream::Create(TStream* stream) {
  if (!stream) return {};
  Ref<TXEndianStream> wrapper = New<TXEndianStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

Ref<TStream> TXEndianStream::BigEndian(TStream* stream) { return Create(stream); }
Ref<TStream> TXEndianStream::LittleEndian(TStream* stream) { return Ref<TStream>(stream); }

Ref<TStream> BigEndianStream(TStream* stream) { return TXEndianStream::BigEndian(stream); }
Ref<TStream> LittleEndianStream(TStream* stream) { return TXEndianStream::LittleEndian(stream); }

Ref<TStream> TXEndianStreamFactory::CreateStream(Object*, String* proto, String* path, int32_t readable,
                                                 int32_t writeable) {
  bool big = CompareStrings(proto, u"bigendian"_vs) == 0;
  if (!big && CompareStrings(proto, u"littleendian"_vs) != 0) return {};
  Ref<TStream> stream = OpenStream(path, readable, writeable);
  if (stream.IsNull()) return {};
  return big ? TXEndianStream::BigEndian(stream) : TXEndianStream::LittleEndian(stream);
}

}  // namespace vrl

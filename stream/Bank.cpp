#include "stream/Bank.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"
#include "runtime/Memory.h"
#include "runtime/Runtime.h"
#include "stream/AtomicFile.h"
#include "stream/StreamCloser.h"

namespace vrl {

const ClassRecord& TBank::StaticClass() {
  static const ClassRecord record = ClassRecord::Of<TBank>("TBank", [](auto& d) {
    d.template Field<&TBank::_buf>("_buf");
    d.template Field<&TBank::_size>("_size");
    d.template Field<&TBank::_capacity>("_capacity");
    d.template Field<&TBank::_locked>("_locked");
    d.template Method<&TBank::_pad>("_pad");
    d.template Method<&TBank::Buf>("Buf");
    d.template Method<&TBank::Lock>("Lock");
    d.template Method<&TBank::Unlock>("Unlock");
    d.template Method<&TBank::Size>("Size");
    d.template Method<&TBank::Capacity>("Capacity");
    d.template Method<&TBank::Resize>("Resize");
    d.template Method<&TBank::Read>("Read");
    d.template Method<&TBank::Write>("Write");
    d.template Method<&TBank::PeekByte>("PeekByte");
    d.template Method<&TBank::PokeByte>("PokeByte");
    d.template Method<&TBank::PeekShort>("PeekShort");
    d.template Method<&TBank::PokeShort>("PokeShort");
    d.template Method<&TBank::PeekInt>("PeekInt");
    d.template Method<&TBank::PokeInt>("PokeInt");
    d.template Method<&TBank::PeekLong>("PeekLong");
    d.template Method<&TBank::PokeLong>("PokeLong");
    d.template Method<&TBank::PeekFloat>("PeekFloat");
    d.template Method<&TBank::PokeFloat>("PokeFloat");
    d.template Method<&TBank::PeekDouble>("PeekDouble");
    d.template Method<&TBank::PokeDouble>("PokeDouble");
    d.template Method<&TBank::Save>("Save");
    d.template Function<&TBank::Load>("Load");
    d.template Function<&TBank::Create>("Create");
    d.template Function<&TBank::CreateStatic>("CreateStatic");
  });
  return record;
}

void bank::Init() {
  static bool initialised = false;
  if (!BeginModuleInit(initialised)) return;
  stream::Init();
  vrRegisterClass(TBank::StaticClass());
}

TBank::~TBank() {
  if (_capacity >= 0 && _buf) vrRawFree(_buf);
}

namespace {

uint8_t* AllocateBlock(int32_t size) {
  // At least one byte, so that an empty bank still has a block of its own.
  auto* block = static_cast<uint8_t*>(vrRawAlloc(std::size_t(std::max(size, 1))));
  if (!block) throw std::bad_alloc();
  return block;
}

TBank& Checked(TBank* bank) {
  if (!bank) ThrowNullObjectException();
  return *bank;
}

}  // namespace

Ref<TBank> TBank::Create(int32_t size) {
  size = std::max(size, 0);
  Ref<TBank> bank = New<TBank>();
  bank->_buf = AllocateBlock(size);
  bank->_size = bank->_capacity = size;
  return bank;
}

Ref<TBank> TBank::CreateStatic(void* buf, int32_t size) {
  Ref<TBank> bank = New<TBank>();
  bank->_buf = static_cast<uint8_t*>(buf);
  bank->_size = buf ? std::max(size, 0) : 0;
  bank->_capacity = -1;
  return bank;
}

int32_t TBank::Resize(int32_t size) {
  size = std::max(size, 0);
  if (size > _capacity) {
    int64_t capacity = std::max<int64_t>(int64_t(_capacity) * 3 / 2, size);
    capacity = std::min<int64_t>(capacity, INT32_MAX);
    uint8_t* block = AllocateBlock(static_cast<int32_t>(capacity));
    // A static bank may shrink here as well: copy no more than the new size.
    int32_t keep = std::min(_size, size);
    if (keep > 0) std::memcpy(block, _buf, std::size_t(keep));
    if (_capacity >= 0 && _buf) vrRawFree(_buf);
    _buf = block;
    _capacity = static_cast<int32_t>(capacity);
  }
  _size = size;
  return 0;
}

void TBank::CheckRange(int32_t offset, int32_t count) const {
  if (offset < 0 || count < 0 || int64_t(offset) + count > _size) ThrowArrayBoundsException();
}

int32_t TBank::Read(TStream* stream, int32_t offset, int32_t count) {
  if (!stream) ThrowNullObjectException();
  CheckRange(offset, count);
  return stream->Read(_buf + offset, count);
}

int32_t TBank::Write(TStream* stream, int32_t offset, int32_t count) {
  if (!stream) ThrowNullObjectException();
  CheckRange(offset, count);
  return stream->Write(_buf + offset, count);
}

namespace {

template <class T>
T Peek(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
void Poke(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace

int32_t TBank::PeekByte(int32_t o) {
  CheckRange(o, 1);
  return _buf[o];
}
void TBank::PokeByte(int32_t o, int32_t v) {
  CheckRange(o, 1);
  _buf[o] = static_cast<uint8_t>(v);
}
int32_t TBank::PeekShort(int32_t o) {
  CheckRange(o, 2);
  return Peek<uint16_t>(_buf + o);
}
void TBank::PokeShort(int32_t o, int32_t v) {
  CheckRange(o, 2);
  Poke(_buf + o, static_cast<uint16_t>(v));
}
int32_t TBank::PeekInt(int32_t o) {
  CheckRange(o, 4);
  return Peek<int32_t>(_buf + o);
}
void TBank::PokeInt(int32_t o, int32_t v) {
  CheckRange(o, 4);
  Poke(_buf + o, v);
}
int64_t TBank::PeekLong(int32_t o) {
  CheckRange(o, 8);
  return Peek<int64_t>(_buf + o);
}
void TBank::PokeLong(int32_t o, int64_t v) {
  CheckRange(o, 8);
  Poke(_buf + o, v);
}
float TBank::PeekFloat(int32_t o) {
  CheckRange(o, 4);
  return Peek<float>(_buf + o);
}
void TBank::PokeFloat(int32_t o, float v) {
  CheckRange(o, 4);
  Poke(_buf + o, v);
}
double TBank::PeekDouble(int32_t o) {
  CheckRange(o, 8);
  return Peek<double>(_buf + o);
}
void TBank::PokeDouble(int32_t o, double v) {
  CheckRange(o, 8);
  Poke(_buf + o, v);
}

int32_t TBank::Save(Object* url) {
  AtomicFile file(url);
  if (file.IsNull()) return 0;
  file.Stream()->WriteBytes(_buf, _size);
  return file.Commit() ? 1 : 0;
}

Ref<TBank> TBank::Load(Object* url) {
  Ref<TStream> stream = ReadStream(url);
  if (stream.IsNull()) return {};
  StreamCloser closer(stream);
  Ref<Array> bytes = ReadAllBytes(stream);
  Ref<TBank> bank = Create(bytes->Length());
  if (bytes->Length()) std::memcpy(bank->_buf, bytes->Data(), std::size_t(bytes->Length()));
  closer.Close();
  return bank;
}

Ref<TBank> CreateBank(int32_t size) { return TBank::Create(size); }
Ref<TBank> CreateStaticBank(void* buf, int32_t size) { return TBank::CreateStatic(buf, size); }
Ref<TBank> LoadBank(Object* url) { return TBank::Load(url); }
int32_t SaveBank(TBank* bank, Object* url) { return Checked(bank).Save(url); }
uint8_t* BankBuf(TBank* bank) { return Checked(bank).Buf(); }
uint8_t* LockBank(TBank* bank) { return Checked(bank).Lock(); }
int32_t UnlockBank(TBank* bank) { return Checked(bank).Unlock(); }
int32_t BankSize(TBank* bank) { return Checked(bank).Size(); }
int32_t BankCapacity(TBank* bank) { return Checked(bank).Capacity(); }
int32_t ResizeBank(TBank* bank, int32_t size) { return Checked(bank).Resize(size); }
int32_t PeekByte(TBank* bank, int32_t o) { return Checked(bank).PeekByte(o); }
void PokeByte(TBank* bank, int32_t o, int32_t v) { Checked(bank).PokeByte(o, v); }
int32_t PeekShort(TBank* bank, int32_t o) { return Checked(bank).PeekShort(o); }
void PokeShort(TBank* bank, int32_t o, int32_t v) { Checked(bank).PokeShort(o, v); }
int32_t PeekInt(TBank* bank, int32_t o) { return Checked(bank).PeekInt(o); }
void PokeInt(TBank* bank, int32_t o, int32_t v) { Checked(bank).PokeInt(o, v); }
int64_t PeekLong(TBank* bank, int32_t o) { return Checked(bank).PeekLong(o); }
void PokeLong(TBank* bank, int32_t o, int64_t v) { Checked(bank).PokeLong(o, v); }
float PeekFloat(TBank* bank, int32_t o) { return Checked(bank).PeekFloat(o); }
void PokeFloat(TBank* bank, int32_t o, float v) { Checked(bank).PokeFloat(o, v); }
double PeekDouble(TBank* bank, int32_t o) { return Checked(bank).PeekDouble(o); }
void PokeDouble(TBank* bank, int32_t o, double v) { Checked(bank).PokeDouble(o, v); }
int32_t ReadBank(TBank* bank, TStream* stream, int32_t o, int32_t count) {
  return Checked(bank).Read(stream, o, count);
}
int32_t WriteBank(TBank* bank, TStream* stream, int32_t o, int32_t count) {
  return Checked(bank).Write(stream, o, count);
}

void CopyBank(TBank* from, int32_t fromOffset, TBank* to, int32_t toOffset, int32_t count) {
  TBank& src = Checked(from);
  TBank& dst = Checked(to);
  if (fromOffset < 0 || toOffset < 0 || count < 0 || int64_t(fromOffset) + count > src.Size() ||
      int64_t(toOffset) + count > dst.Size())
    ThrowArrayBoundsException();
  if (count) std::memmove(dst.Buf() + toOffset, src.Buf() + fromOffset, std::size_t(count));
}

}  // namespace vrl
